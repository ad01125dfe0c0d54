// Month names and the date and time fields of listing lines.
#include <array>
#include <cstdint>
#include <string_view>

#include "ftp/listing_fields.h"

namespace ftp {
namespace {

struct MonthName {
    std::string_view name;
    int month;
};

// Lower case, accents folded (see FoldMonthToken).
constexpr MonthName kMonthNames[] = {
    {"january", 1},   {"jan", 1},      {"janv", 1},      {"djan", 1},     {"enero", 1},
    {"genn", 1},      {"ian", 1},      {"ianv", 1},      {"february", 2}, {"feb", 2},
    {"febr", 2},      {"febbr", 2},    {"fev", 2},       {"fevr", 2},     {"peb", 2},
    {"march", 3},     {"mar", 3},      {"marco", 3},     {"mart", 3},     {"maart", 3},
    {"marts", 3},     {"mars", 3},     {"marzo", 3},     {"mrt", 3},      {"apr", 4},
    {"abr", 4},       {"abril", 4},    {"april", 4},     {"avril", 4},    {"may", 5},
    {"mai", 5},       {"maio", 5},     {"maios", 5},     {"magg", 5},     {"maj", 5},
    {"mayo", 5},      {"mei", 5},      {"june", 6},      {"jun", 6},      {"junho", 6},
    {"juin", 6},      {"juni", 6},     {"djuni", 6},     {"giugno", 6},   {"iiun", 6},
    {"ioun", 6},      {"july", 7},     {"jul", 7},       {"julho", 7},    {"juil", 7},
    {"juli", 7},      {"djuli", 7},    {"iiul", 7},      {"ioul", 7},     {"iuglio", 7},
    {"august", 8},    {"aug", 8},      {"ag", 8},        {"agosto", 8},   {"aout", 8},
    {"september", 9}, {"sep", 9},      {"sept", 9},      {"set", 9},      {"sent", 9},
    {"sett", 9},      {"october", 10}, {"oktober", 10},  {"oct", 10},     {"okt", 10},
    {"ott", 10},      {"out", 10},     {"november", 11}, {"nov", 11},     {"noem", 11},
    {"noiabr", 11},   {"nop", 11},     {"december", 12}, {"dec", 12},     {"dek", 12},
    {"des", 12},      {"dez", 12},     {"dic", 12},
};
static_assert(std::size(kMonthNames) == 83);

// What the Latin-1 letters 0xC0 to 0xFF fold to; '?' for those that never
// occur in a month name.
constexpr std::string_view kLatin1Folding =
    "aaaaaa?ceeeeiiii?nooooo?ouuuuy??"
    "aaaaaa?ceeeeiiii?nooooo?ouuuuy?y";

constexpr std::size_t kLongestMonthName = 9;

char FoldCodePoint(unsigned codePoint) {
    if (codePoint >= 'A' && codePoint <= 'Z') return static_cast<char>(codePoint - 'A' + 'a');
    if (codePoint < 0x80) return static_cast<char>(codePoint);
    if (codePoint >= 0xC0 && codePoint <= 0xFF) return kLatin1Folding[codePoint - 0xC0];
    return '?';
}

// The next character as a code point: a UTF-8 sequence for U+00C0..U+00FF, or
// else one byte (Latin-1).
unsigned TakeCodePoint(ListingCursor& cursor) {
    char c = 0;
    cursor.Take(c);
    unsigned byte = static_cast<unsigned char>(c);
    char next = 0;
    if (byte == 0xC3 && cursor.Peek(next)) {
        unsigned continuation = static_cast<unsigned char>(next);
        if (continuation >= 0x80 && continuation <= 0xBF) {
            cursor.Take(next);
            return 0xC0 + (continuation - 0x80);
        }
    }
    return byte;
}

// Lower case with accents folded, into folded; false when it cannot be a month.
bool FoldMonthToken(std::string_view token, std::array<char, kLongestMonthName>& folded,
                    std::size_t& length) {
    if (token.ends_with('.')) token.remove_suffix(1);  // "janv.", "déc."
    ListingCursor cursor(token);
    length = 0;
    while (!cursor.AtEnd()) {
        char c = FoldCodePoint(TakeCodePoint(cursor));
        if (c == '?' || length == folded.size()) return false;
        folded[length++] = c;
    }
    return length != 0;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool ReadDay(ListingCursor& cursor, SYSTEMTIME& date) {
    std::uint64_t day = 0;
    if (!cursor.TakeNumber(99, day)) return false;
    date.wDay = static_cast<WORD>(day);
    return true;
}

}  // namespace

int MonthFromName(std::string_view token) {
    std::array<char, kLongestMonthName> folded{};
    std::size_t length = 0;
    if (!FoldMonthToken(token, folded, length)) return 0;
    std::string_view name(folded.data(), length);
    for (const MonthName& entry : kMonthNames)
        if (entry.name == name) return entry.month;
    return 0;
}

WORD DayOfWeek(int year, int month, int day) {
    if (month < 3) {
        month += 12;
        year -= 1;
    }
    int weekday = (day + (13 * month + 3) / 5 + year + year / 4 - year / 100 + year / 400 + 1) % 7;
    return static_cast<WORD>(weekday);
}

bool ReadClock(ListingCursor& cursor, SYSTEMTIME& date) {
    std::uint64_t hour = 0;
    unsigned minute = 0;
    unsigned second = 0;
    if (!cursor.TakeNumber(99, hour) || !cursor.Skip(':') || !cursor.TakeFixedDigits(2, minute))
        return false;
    if (cursor.Skip(':') && !cursor.TakeFixedDigits(2, second)) return false;
    date.wHour = static_cast<WORD>(hour);
    date.wMinute = static_cast<WORD>(minute);
    return true;
}

bool ReadYear(ListingCursor& cursor, int pivotYear, SYSTEMTIME& date) {
    std::size_t before = cursor.Rest().size();
    std::uint64_t value = 0;
    if (!cursor.TakeNumber(9999, value)) return false;
    std::size_t digits = before - cursor.Rest().size();
    int year = static_cast<int>(value);
    if (digits == 2) {
        year += 1900;
        if (year < pivotYear) year += 100;
    } else if (digits != 4) {
        return false;
    }
    date.wYear = static_cast<WORD>(year);
    return true;
}

bool ReadUnixDayAndTime(std::string_view day, std::string_view timeOrYear, const SYSTEMTIME& now,
                        SYSTEMTIME& date) {
    ListingCursor dayCursor(day);
    if (!ReadDay(dayCursor, date) || !dayCursor.AtEnd()) return false;
    ListingCursor cursor(timeOrYear);
    if (timeOrYear.find(':') != std::string_view::npos) {
        if (!ReadClock(cursor, date) || !cursor.AtEnd()) return false;
        date.wYear = now.wYear;
        if (date.wMonth > now.wMonth) date.wYear = static_cast<WORD>(now.wYear - 1);
        return true;
    }
    std::uint64_t year = 0;
    if (!cursor.TakeNumber(9999, year) || !cursor.AtEnd()) return false;
    date.wYear = static_cast<WORD>(year);
    return true;
}

bool ReadNumericDate(std::string_view token, SYSTEMTIME& date) {
    constexpr int kPivotYear = 1980;
    ListingCursor cursor(token);
    std::uint64_t month = 0;
    if (!cursor.TakeNumber(99, month) || !cursor.Skip('-')) return false;
    date.wMonth = static_cast<WORD>(month);
    return ReadDay(cursor, date) && cursor.Skip('-') && ReadYear(cursor, kPivotYear, date) &&
           cursor.AtEnd();
}

bool ReadVmsDate(std::string_view token, SYSTEMTIME& date) {
    constexpr int kPivotYear = 1960;
    ListingCursor cursor(token);
    if (!ReadDay(cursor, date) || !cursor.Skip('-')) return false;
    date.wMonth = static_cast<WORD>(MonthFromName(cursor.TakeUntil('-')));
    return date.wMonth != 0 && cursor.Skip('-') && ReadYear(cursor, kPivotYear, date) &&
           cursor.AtEnd();
}

bool FinishDate(SYSTEMTIME& date) {
    if (date.wYear < 1 || date.wYear > 9999 || date.wMonth < 1 || date.wMonth > 12) return false;
    if (date.wDay < 1 || date.wDay > DaysInMonth(date.wYear, date.wMonth)) return false;
    if (date.wHour > 23 || date.wMinute > 59 || date.wSecond > 59) return false;
    date.wDayOfWeek = DayOfWeek(date.wYear, date.wMonth, date.wDay);
    return true;
}

}  // namespace ftp
