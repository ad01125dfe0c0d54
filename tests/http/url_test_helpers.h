// Helpers of the URL tests: exactly sized heap copies, and composing with a
// check of the buffer boundary.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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
