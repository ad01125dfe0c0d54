// Helpers of the URL tests: damaged texts from a fixed seed, exactly sized
// heap copies, and composing with a check of the buffer boundary.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

class UrlMutator {
  public:
    UrlMutator(std::uint32_t seed, std::vector<std::string> seeds)
        : random_(seed), seeds_(std::move(seeds)) {}

    // A seed with one to four edits, or now and then a text of random pieces.
    std::string Next() {
        if (Pick(8) == 0) return RandomText();
        std::string text = seeds_[Pick(seeds_.size())];
        int edits = 1 + static_cast<int>(Pick(4));
        for (int i = 0; i < edits; ++i)
            Edit(text);
        return text;
    }

    std::string RandomText() {
        std::string text;
        int pieces = static_cast<int>(Pick(12));
        for (int i = 0; i < pieces; ++i)
            text += Piece();
        return text;
    }

    std::size_t Pick(std::size_t bound) { return bound == 0 ? 0 : random_() % bound; }

  private:
    std::string_view Piece() {
        static constexpr std::string_view kPieces[] = {
            ":",    "/",      "//",      "@",     "[",     "]",     "%",        ";",
            "?",    ".",      "..",      "\\",    " ",     "\t",    "=",        "a",
            "I",    "0",      "9",       "f",     "::",    "ftp",   "sftp",     "https",
            "http", ";type=", ";TYPE=i", "65535", "99999", "[::1]", "anonymous"};
        return kPieces[Pick(std::size(kPieces))];
    }

    void Edit(std::string& text) {
        std::size_t at = Pick(text.size() + 1);
        switch (Pick(5)) {
            case 0:
                text.insert(at, Piece());
                break;
            case 1:
                text.erase(at, 1 + Pick(3));
                break;
            case 2:
                text.resize(at);
                break;
            case 3:
                if (at < text.size()) text[at] = static_cast<char>(1 + Pick(255));
                break;
            default:
                text.insert(at, text.substr(Pick(text.size() + 1), Pick(6)));
        }
    }

    std::mt19937 random_;
    std::vector<std::string> seeds_;
};

// A NUL-terminated copy in a heap block of exactly its size, so that a read past
// the terminator is caught by the address sanitizer.
class ExactText {
  public:
    explicit ExactText(std::string_view text) : size_(text.size() + 1), data_(new char[size_]) {
        std::memcpy(data_.get(), text.data(), text.size());
        data_[text.size()] = '\0';
    }
    char* get() { return data_.get(); }
    std::size_t size() const { return size_; }

  private:
    std::size_t size_;
    std::unique_ptr<char[]> data_;
};

// Composes into an exactly sized heap buffer and checks that one byte less
// fails: the composed text, or "" when composing fails.
template <class Record>
std::string ComposeExactly(int (*compose)(const Record*, char*, int), const Record& record) {
    char large[4096];
    int length = compose(&record, large, sizeof large);
    if (length == 0) return "";
    EXPECT_EQ(std::strlen(large), static_cast<std::size_t>(length));
    ExactText exact(std::string(length, '#'));
    EXPECT_EQ(compose(&record, exact.get(), length + 1), length);
    EXPECT_EQ(std::string(exact.get()), std::string(large, length));
    EXPECT_EQ(compose(&record, exact.get(), length), 0);
    return std::string(large, length);
}
