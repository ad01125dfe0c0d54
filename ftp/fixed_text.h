// A text with a fixed capacity (terminator included), as the session record
// keeps its names, paths and lines.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "platform/wipe.h"

namespace ftp {

template <std::size_t Capacity>
class FixedText {
  public:
    static constexpr std::size_t kMaxLength = Capacity - 1;

    // False, leaving the text unchanged, when the value does not fit.
    bool Assign(std::string_view value) {
        if (value.size() > kMaxLength) return false;
        // The value may be a view of this very text.
        std::array<char, Capacity> copy{};
        std::copy(value.begin(), value.end(), copy.begin());
        Wipe();
        std::copy_n(copy.begin(), value.size(), data_.begin());
        length_ = value.size();
        SecureWipe(copy.data(), copy.size());
        return true;
    }
    // Keeps as much of the value as fits.
    void AssignTruncated(std::string_view value) {
        Assign(value.substr(0, std::min(value.size(), kMaxLength)));
    }
    void Wipe() {
        SecureWipe(data_.data(), data_.size());
        length_ = 0;
    }

    const char* c_str() const { return data_.data(); }
    std::string_view view() const { return {data_.data(), length_}; }
    std::size_t size() const { return length_; }
    bool empty() const { return length_ == 0; }

  private:
    std::array<char, Capacity> data_{};
    std::size_t length_ = 0;
};

}  // namespace ftp
