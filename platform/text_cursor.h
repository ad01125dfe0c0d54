// A reader over text (a URL, a listing line, a field of either) that moves
// front to back and whose getters fail instead of reading past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

class TextCursor {
  public:
    explicit TextCursor(std::string_view text) : rest_(text) {}

    bool AtEnd() const { return rest_.empty(); }
    std::string_view Rest() const { return rest_; }

    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
    static bool IsBlank(char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
    }

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
    // Consumes prefix when the text starts with it exactly.
    bool SkipPrefix(std::string_view prefix) {
        if (!rest_.starts_with(prefix)) return false;
        rest_.remove_prefix(prefix.size());
        return true;
    }
    // Drops white space (blank, tab, CR, LF, VT, FF) at the front.
    void SkipBlanks() { SkipWhile(IsBlank); }

    // The text before the first stop character (all of it when there is none);
    // the stop character stays unread.
    std::string_view TakeUntil(char stop) { return TakeUntilAny(std::string_view(&stop, 1)); }

    // The text before the first of the stop characters (all of it when none);
    // the stop character itself stays unread.
    std::string_view TakeUntilAny(std::string_view stops) {
        std::size_t end = rest_.find_first_of(stops);
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
