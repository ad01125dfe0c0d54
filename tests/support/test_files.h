// Local files of the tests: whole-file reads and writes, and recognisable bytes.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <fstream>
#include <iterator>
#include <string>

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

// Bytes of every value, in a pattern that shows shifted or lost blocks.
inline std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}
