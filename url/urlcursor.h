// A cursor over URL text that reads front to back and never runs past the end.
#pragma once

#include <cstddef>
#include <string_view>

class UrlCursor {
  public:
    explicit UrlCursor(std::string_view text) : rest_(text) {}

    bool AtEnd() const { return rest_.empty(); }
    std::string_view Rest() const { return rest_; }

    // Drops white space (blank, tab, CR, LF, VT, FF) at the front.
    void SkipBlanks() {
        while (!rest_.empty() && IsBlank(rest_.front()))
            rest_.remove_prefix(1);
    }

    // Consumes prefix when the text starts with it exactly.
    bool SkipPrefix(std::string_view prefix) {
        if (!rest_.starts_with(prefix)) return false;
        rest_.remove_prefix(prefix.size());
        return true;
    }

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

    static bool IsBlank(char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
    }

  private:
    std::string_view rest_;
};
