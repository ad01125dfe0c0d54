// HTTP dates: the text is read as words of letters and digits; numbers next
// to ":" are the time, month names and plain numbers fill the date, "+hhmm"
// and "-hhmm" give the zone. The result is a calendar time value.
#include "http/dates.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <ctime>
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
// a calendar record; false for values no calendar has.
bool ToCalendar(DateParts parts, std::tm& calendar) {
    const std::time_t now = std::time(nullptr);
    std::tm today{};
    localtime_r(&now, &today);
    if (parts.hour == 12 && parts.am) parts.hour = 0;
    if (parts.hour >= 0 && parts.hour < 12 && parts.pm) parts.hour += 12;
    int year = today.tm_year + 1900;
    if (parts.year >= 0 && parts.year < 100) year = parts.year + 1900;
    if (parts.year >= 1900) year = parts.year;
    calendar = std::tm{};
    calendar.tm_year = year - 1900;
    calendar.tm_mon = (parts.month >= 1 ? parts.month : today.tm_mon + 1) - 1;
    calendar.tm_mday = parts.day >= 1 ? parts.day : today.tm_mday;
    calendar.tm_hour = std::max(parts.hour, 0);
    calendar.tm_min = std::max(parts.minute, 0);
    calendar.tm_sec = std::max(parts.second, 0);
    calendar.tm_isdst = -1;
    return calendar.tm_mon <= 11 && calendar.tm_mday <= 31 && calendar.tm_hour <= 23 &&
           calendar.tm_min <= 59 && calendar.tm_sec <= 60;
}

}  // namespace
}  // namespace http

using namespace http;

extern "C" {

int HttpParseDate(const char* text, BOOL localFlag, int64_t* time, long* zone) {
    if (zone) *zone = GetTimeZoneBiasSeconds();
    if (!text || text[0] == '\0' || !time) return 0;
    const DateParts parts = Scan(text);
    std::tm calendar{};
    if (!parts.AnyFound() || !ToCalendar(parts, calendar)) return 0;
    if (localFlag) {
        // The moment in UTC, then its local calendar time.
        std::tm written = calendar;
        const std::time_t utc = timegm(&written) + parts.zoneWest.value_or(0);
        if (!localtime_r(&utc, &calendar)) return 0;
        calendar.tm_isdst = -1;
    }
    std::tm normalised = calendar;
    const std::time_t value = mktime(&normalised);
    if (value == static_cast<std::time_t>(-1)) return 0;
    *time = static_cast<int64_t>(value);
    return 1;
}

int HttpTimeToSystemTime(int64_t time, SYSTEMTIME* systemTime) {
    if (!systemTime) return 0;
    const auto value = static_cast<std::time_t>(time);
    std::tm calendar{};
    if (!localtime_r(&value, &calendar)) return 0;
    *systemTime = SYSTEMTIME{};
    systemTime->wYear = static_cast<WORD>(calendar.tm_year + 1900);
    systemTime->wMonth = static_cast<WORD>(calendar.tm_mon + 1);
    systemTime->wDayOfWeek = static_cast<WORD>(calendar.tm_wday);
    systemTime->wDay = static_cast<WORD>(calendar.tm_mday);
    systemTime->wHour = static_cast<WORD>(calendar.tm_hour);
    systemTime->wMinute = static_cast<WORD>(calendar.tm_min);
    systemTime->wSecond = static_cast<WORD>(calendar.tm_sec);
    return 1;
}

}  // extern "C"
