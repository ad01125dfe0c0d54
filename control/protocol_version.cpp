#include "control/protocol_version.h"

#include <climits>
#include <cstdio>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The decimal number at the start of text: leading blanks and a sign allowed,
// reading stops at the first non-digit, no digits give 0. Saturates instead of
// overflowing.
int LeadingDecimal(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    return static_cast<int>(value < INT_MIN ? INT_MIN : value);
}

}  // namespace

LONG ParseProtocolVersion(std::string_view text) {
    const int major = LeadingDecimal(text);
    int minor = 0;
    if (std::size_t dot = text.find('.'); dot != std::string_view::npos) {
        minor = LeadingDecimal(text.substr(dot + 1));
    }
    if (major == 0) minor = 9;
    const auto high = static_cast<DWORD>(major) << 16;
    const auto low = static_cast<DWORD>(minor) & 0xFFFFu;
    return static_cast<LONG>(high | low);
}

std::string FormatProtocolVersion(LONG version) {
    const int major = version >> 16;
    const int minor = version & 0xFFFF;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%d.%d", major, minor);
    return buffer;
}
