// Local files of the tests: whole-file reads and writes, recognisable bytes, a
// folder of the test's own and environment settings for a scope.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

// The argv form of a list of words for exec: pointers into the words, then null.
inline std::vector<char*> ArgvOf(std::vector<std::string>& words) {
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    return argv;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// mode 0666 for a file the test puts into the server's area: the servers run
// as the test user and must be able to write it.
inline void WriteFile(const std::string& path, const std::string& bytes, mode_t mode = 0644) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    chmod(path.c_str(), mode);
}

// Bytes of every value, in a pattern that shows shifted or lost blocks; salt
// makes files of the same size differ.
inline std::string Pattern(std::size_t size, unsigned salt = 0) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251 + salt) & 0xFF);
    return bytes;
}

// Bytes that do not compress and repeat nowhere (xorshift); seed makes
// files of the same size differ.
inline std::string NoiseBytes(std::size_t size, std::uint64_t seed = 0) {
    std::string bytes(size, '\0');
    std::uint64_t state = 0x9E3779B97F4A7C15ull ^ seed;
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::memcpy(bytes.data() + i, &state, 8);
    }
    return bytes;
}

// The SHA-256 digest of the bytes in hexadecimal, to compare large contents.
inline std::string Sha256Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i)
        text.append(1, kHex[digest[i] >> 4]).append(1, kHex[digest[i] & 15]);
    return text;
}

// A name unique to this process and the running test ("tag-pid-Suite_Test").
inline std::string UniqueTestName(const std::string& tag) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = tag + "-" + std::to_string(::getpid());
    if (test) name += std::string("-") + test->test_suite_name() + "-" + test->name();
    for (char& c : name)
        if (c == '/') c = '_';
    return name;
}

// A folder of the test's own under the temporary folder, removed with all
// that is in it.
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& tag)
        : path_(std::filesystem::temp_directory_path() / UniqueTestName(tag)) {
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// An environment variable (TZ, HOME...) set for a scope, then restored; the
// time zone is re-read both times.
class ScopedEnv {
  public:
    // A null value unsets the variable for the scope.
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
        ::tzset();
    }
    ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
    ~ScopedEnv() {
        if (saved_)
            ::setenv(name_, saved_->c_str(), 1);
        else
            ::unsetenv(name_);
        ::tzset();
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> saved_;
};
