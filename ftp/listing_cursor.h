// A reader over one listing line (or one field of it) that moves front to back
// and whose getters fail instead of reading past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ftp {

class ListingCursor {
  public:
    explicit ListingCursor(std::string_view text) : rest_(text) {}

    bool AtEnd() const { return rest_.empty(); }
    std::string_view Rest() const { return rest_; }

    // Listing tokens are separated by blanks, tabs, CRs and LFs.
    static bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

    bool Peek(char& c) const {
        if (rest_.empty()) return false;
        c = rest_.front();
        return true;
    }
    bool Take(char& c) {
        if (!Peek(c)) return false;
        rest_.remove_prefix(1);
        return true;
    }
    // Consumes the next character when it is the expected one.
    bool Skip(char expected) {
        if (rest_.empty() || rest_.front() != expected) return false;
        rest_.remove_prefix(1);
        return true;
    }

    // The next run of non-separators; false when only separators are left.
    bool NextToken(std::string_view& token) {
        SkipWhile(IsSeparator);
        if (rest_.empty()) return false;
        token = TakeWhile([](char c) { return !IsSeparator(c); });
        return true;
    }

    // What follows the separator after the last token read, without its leading
    // blanks and tabs and without the line end.
    std::string_view TakeRestAfterSeparator() {
        if (!rest_.empty()) rest_.remove_prefix(1);
        SkipWhile([](char c) { return c == ' ' || c == '\t'; });
        std::string_view taken = rest_;
        rest_ = {};
        while (!taken.empty() && (taken.back() == '\r' || taken.back() == '\n'))
            taken.remove_suffix(1);
        return taken;
    }

    // The text before the first stop character (all of it when there is none);
    // the stop character stays unread.
    std::string_view TakeUntil(char stop) {
        std::size_t end = rest_.find(stop);
        if (end == std::string_view::npos) end = rest_.size();
        std::string_view taken = rest_.substr(0, end);
        rest_.remove_prefix(end);
        return taken;
    }

    std::string_view TakeRest() {
        std::string_view taken = rest_;
        rest_ = {};
        return taken;
    }

    // One or more decimal digits whose value is at most max. Fails, consuming
    // nothing, on no digit or an overflow.
    bool TakeNumber(std::uint64_t max, std::uint64_t& value) {
        std::size_t digits = 0;
        std::uint64_t result = 0;
        while (digits < rest_.size() && IsDigit(rest_[digits])) {
            std::uint64_t digit = static_cast<std::uint64_t>(rest_[digits] - '0');
            if (result > (max - digit) / 10) return false;
            result = result * 10 + digit;
            ++digits;
        }
        if (digits == 0) return false;
        rest_.remove_prefix(digits);
        value = result;
        return true;
    }

    // Exactly count decimal digits.
    bool TakeFixedDigits(std::size_t count, unsigned& value) {
        if (rest_.size() < count) return false;
        unsigned result = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (!IsDigit(rest_[i])) return false;
            result = result * 10 + static_cast<unsigned>(rest_[i] - '0');
        }
        rest_.remove_prefix(count);
        value = result;
        return true;
    }

    template <typename Predicate>
    std::string_view TakeWhile(Predicate keep) {
        std::size_t end = 0;
        while (end < rest_.size() && keep(rest_[end]))
            ++end;
        std::string_view taken = rest_.substr(0, end);
        rest_.remove_prefix(end);
        return taken;
    }

    template <typename Predicate>
    void SkipWhile(Predicate skip) {
        TakeWhile(skip);
    }

  private:
    std::string_view rest_;
};

}  // namespace ftp
