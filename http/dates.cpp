// HTTP dates: the text is read as words of letters and digits; numbers next
// to ":" are the time, month names and plain numbers fill the date, "+hhmm"
// and "-hhmm" give the zone. The result is a calendar time value.
#include "http/dates.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <string_view>

#include "http/wire.h"

namespace http {
namespace {

constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                      "jul", "aug", "sep", "oct", "nov", "dec"};
constexpr int kMaxDigits = 9;
constexpr int kCenturyPivot = 70;

struct DateParts {
    int year = -1;
    int month = -1;
    int day = -1;
    int hour = -1;
    int minute = -1;
    int second = -1;
    bool monthFromNumber = false;
    bool am = false;
    bool pm = false;
    std::optional<long> zoneWest;  // seconds west of UTC, when the text names a zone

    bool AnyFound() const { return year >= 0 || month >= 0 || day >= 0 || hour >= 0; }
};

bool IsAlnum(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// "+hhmm" or "-hhmm" at position at, ending the text or followed by white
// space: the zone in seconds west of UTC.
std::optional<long> ZoneAt(std::string_view text, std::size_t at) {
    if (at + 5 > text.size() || (text[at] != '+' && text[at] != '-')) return std::nullopt;
    if (at > 0 && IsAlnum(text[at - 1])) return std::nullopt;
    for (std::size_t i = at + 1; i < at + 5; ++i) {
        if (!IsDigit(text[i])) return std::nullopt;
    }
    if (at + 5 < text.size() && !std::isspace(static_cast<unsigned char>(text[at + 5]))) {
        return std::nullopt;
    }
    const auto digit = [&](std::size_t i) { return text[i] - '0'; };
    const long hours = digit(at + 1) * 10 + digit(at + 2);
    const long minutes = digit(at + 3) * 10 + digit(at + 4);
    const long east = (hours * 60 + minutes) * 60;
    return text[at] == '+' ? -east : east;
}

void TakeTimePart(DateParts& parts, int value) {
    for (int* part : {&parts.hour, &parts.minute, &parts.second}) {
        if (*part < 0) {
            *part = value;
            return;
        }
    }
}

void TakeDatePart(DateParts& parts, int value) {
    if (parts.month < 0 && value <= 12) {
        parts.month = value;
        parts.monthFromNumber = true;
    } else if (parts.day < 0 && value <= 31) {
        parts.day = value;
    } else if (parts.year < 0) {
        parts.year = value < kCenturyPivot ? value + 2000 : value;
    }
}

void TakeWord(DateParts& parts, std::string_view word) {
    if (EqualsIgnoringCase(word, "am")) parts.am = true;
    if (EqualsIgnoringCase(word, "pm")) parts.pm = true;
    if (word.size() < 3) return;
    for (std::size_t m = 0; m < kMonths.size(); ++m) {
        if (!EqualsIgnoringCase(word.substr(0, 3), kMonths[m])) continue;
        if (parts.monthFromNumber && parts.day < 0) parts.day = parts.month;
        parts.month = static_cast<int>(m) + 1;
        parts.monthFromNumber = false;
        return;
    }
}

DateParts Scan(std::string_view text) {
    DateParts parts;
    std::size_t at = 0;
    while (at < text.size()) {
        if (auto zone = ZoneAt(text, at)) {
            parts.zoneWest = zone;
            at += 5;
            continue;
        }
        if (!IsAlnum(text[at])) {
            ++at;
            continue;
        }
        const std::size_t start = at;
        while (at < text.size() && IsAlnum(text[at]))
            ++at;
        const std::string_view word = text.substr(start, at - start);
        const bool allDigits = word.find_first_not_of("0123456789") == std::string_view::npos;
        if (!allDigits) {
            TakeWord(parts, word);
            continue;
        }
        if (word.size() > kMaxDigits) continue;
        const int value = std::stoi(std::string(word));
        const bool byColon =
            (start > 0 && text[start - 1] == ':') || (at < text.size() && text[at] == ':');
        if (byColon) {
            TakeTimePart(parts, value);
        } else {
            TakeDatePart(parts, value);
        }
    }
    return parts;
}

// Completes the parts (today's date where missing, time 0, am/pm, years) into
// calendar fields; false for values no calendar has.
bool ToCalendar(DateParts parts, SYSTEMTIME& calendar) {
    SYSTEMTIME today{};
    GetLocalTime(&today);
    if (parts.hour == 12 && parts.am) parts.hour = 0;
    if (parts.hour >= 0 && parts.hour < 12 && parts.pm) parts.hour += 12;
    int year = today.wYear;
    if (parts.year >= 0 && parts.year < 100) year = parts.year + 1900;
    if (parts.year >= 1900) year = parts.year;
    const auto field = [](int value) { return static_cast<WORD>(std::clamp(value, 0, 0xFFFF)); };
    calendar = SYSTEMTIME{};
    calendar.wYear = field(year);
    calendar.wMonth = parts.month >= 1 ? field(parts.month) : today.wMonth;
    calendar.wDay = parts.day >= 1 ? field(parts.day) : today.wDay;
    calendar.wHour = field(parts.hour);
    calendar.wMinute = field(parts.minute);
    calendar.wSecond = field(parts.second);
    LONGLONG ignored = 0;
    return SystemTimeToUnixTime(&calendar, &ignored) != FALSE;
}

}  // namespace
}  // namespace http

using namespace http;

extern "C" {

int HttpParseDate(const char* text, BOOL localFlag, int64_t* time, long* zone) {
    if (zone) *zone = GetTimeZoneBiasSeconds();
    if (!text || text[0] == '\0' || !time) return 0;
    const DateParts parts = Scan(text);
    SYSTEMTIME calendar{};
    if (!parts.AnyFound() || !ToCalendar(parts, calendar)) return 0;
    LONGLONG value = 0;
    if (localFlag) {
        // The fields are the moment in UTC, moved by the zone the text names.
        if (!SystemTimeToUnixTime(&calendar, &value)) return 0;
        value += parts.zoneWest.value_or(0);
    } else {
        // The fields as written, read as a local calendar time.
        SYSTEMTIME utc{};
        if (!TzSpecificLocalTimeToSystemTime(nullptr, &calendar, &utc) ||
            !SystemTimeToUnixTime(&utc, &value)) {
            return 0;
        }
    }
    *time = static_cast<int64_t>(value);
    return 1;
}

int HttpTimeToSystemTime(int64_t time, SYSTEMTIME* systemTime) {
    SYSTEMTIME utc{};
    if (!systemTime || !UnixTimeToSystemTime(static_cast<LONGLONG>(time), &utc)) return 0;
    return SystemTimeToTzSpecificLocalTime(nullptr, &utc, systemTime) ? 1 : 0;
}

}  // extern "C"
