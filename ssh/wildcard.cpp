#include "ssh/wildcard.h"

#include <cctype>
#include <cstddef>

namespace {

// Matches one bracket expression starting at pattern[i] == '['. Sets `next` to
// the index after the closing ']'; false (with next = npos) when unterminated.
bool MatchBracket(std::string_view pattern, std::size_t i, char c, std::size_t* next) {
    ++i;
    bool negate = false;
    if (i < pattern.size() && pattern[i] == '^') {
        negate = true;
        ++i;
    }
    bool found = false;
    bool first = true;
    while (i < pattern.size() && (pattern[i] != ']' || first)) {
        first = false;
        char low = pattern[i];
        if (low == '\\' && i + 1 < pattern.size()) low = pattern[++i];
        char high = low;
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            high = pattern[i + 2];
            if (high == '\\' && i + 3 < pattern.size()) ++i, high = pattern[i + 2];
            i += 2;
        }
        if (c >= low && c <= high) found = true;
        ++i;
    }
    if (i >= pattern.size()) {
        *next = std::string_view::npos;
        return false;
    }
    *next = i + 1;
    return found != negate;
}

// Matches one non-star pattern element at pattern[p] against c; returns the
// index after the element, or npos when it does not match.
std::size_t MatchOne(std::string_view pattern, std::size_t p, char c) {
    switch (pattern[p]) {
        case '?':
            return p + 1;
        case '[': {
            std::size_t next = 0;
            return MatchBracket(pattern, p, c, &next) ? next : std::string_view::npos;
        }
        case '\\':
            if (p + 1 < pattern.size()) return pattern[p + 1] == c ? p + 2 : std::string_view::npos;
            return c == '\\' ? p + 1 : std::string_view::npos;
        default:
            return pattern[p] == c ? p + 1 : std::string_view::npos;
    }
}

}  // namespace

namespace {

// Iterative matching with one backtrack point: the last "*" seen and the text
// position it has absorbed up to. Linear in practice, never recursive. matchOne
// gives the pattern position after matching one character, or npos.
template <typename MatchOneFn>
bool MatchWithStars(std::string_view pattern, std::string_view text, MatchOneFn matchOne) {
    std::size_t p = 0, t = 0;
    std::size_t starPattern = std::string_view::npos, starText = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            while (p < pattern.size() && pattern[p] == '*')
                ++p;
            starPattern = p;
            starText = t;
            continue;
        }
        const std::size_t next =
            p < pattern.size() ? matchOne(pattern, p, text[t]) : std::string_view::npos;
        if (next != std::string_view::npos) {
            p = next;
            ++t;
            continue;
        }
        if (starPattern == std::string_view::npos) return false;
        p = starPattern;
        t = ++starText;
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

}  // namespace

bool SshWildcardMatch(std::string_view pattern, std::string_view text) {
    return MatchWithStars(pattern, text, MatchOne);
}

bool SshHostPatternMatch(std::string_view pattern, std::string_view text) {
    return MatchWithStars(pattern, text, [](std::string_view pat, std::size_t p, char c) {
        return pat[p] == '?' || Lower(pat[p]) == Lower(c) ? p + 1 : std::string_view::npos;
    });
}
