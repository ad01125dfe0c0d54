// Month names and the date and time fields of listing lines.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "ftp/listing_fields.h"

namespace ftp {
namespace {

struct MonthName {
    std::string_view name;
    int month;
};

// Lower case, accents folded (see FoldMonthToken): English, German, French,
// Spanish, Italian, Portuguese, Dutch, Swedish, Danish, Hungarian and the
// transliterations some servers print, short and long.
constexpr MonthName kMonthNames[] = {
    {"january", 1},   {"jan", 1},        {"janv", 1},       {"djan", 1},      {"enero", 1},
    {"ene", 1},       {"genn", 1},       {"ian", 1},        {"ianv", 1},      {"januar", 1},
    {"janvier", 1},   {"gennaio", 1},    {"januari", 1},    {"february", 2},  {"feb", 2},
    {"febr", 2},      {"febbr", 2},      {"fev", 2},        {"fevr", 2},      {"peb", 2},
    {"februar", 2},   {"fevrier", 2},    {"febrero", 2},    {"febbraio", 2},  {"februari", 2},
    {"march", 3},     {"mar", 3},        {"marco", 3},      {"mart", 3},      {"maart", 3},
    {"marts", 3},     {"mars", 3},       {"marzo", 3},      {"mrt", 3},       {"marz", 3},
    {"marc", 3},      {"apr", 4},        {"abr", 4},        {"abril", 4},     {"april", 4},
    {"avril", 4},     {"avr", 4},        {"aprile", 4},     {"may", 5},       {"mai", 5},
    {"maio", 5},      {"maios", 5},      {"magg", 5},       {"maj", 5},       {"mayo", 5},
    {"mei", 5},       {"maggio", 5},     {"june", 6},       {"jun", 6},       {"junho", 6},
    {"juin", 6},      {"juni", 6},       {"djuni", 6},      {"giugno", 6},    {"iiun", 6},
    {"ioun", 6},      {"junio", 6},      {"giu", 6},        {"july", 7},      {"jul", 7},
    {"julho", 7},     {"juil", 7},       {"juli", 7},       {"djuli", 7},     {"iiul", 7},
    {"ioul", 7},      {"iuglio", 7},     {"juillet", 7},    {"julio", 7},     {"luglio", 7},
    {"lug", 7},       {"august", 8},     {"aug", 8},        {"ag", 8},        {"agosto", 8},
    {"aout", 8},      {"ago", 8},        {"augusti", 8},    {"augustus", 8},  {"september", 9},
    {"sep", 9},       {"sept", 9},       {"set", 9},        {"sent", 9},      {"sett", 9},
    {"szept", 9},     {"septembre", 9},  {"septiembre", 9}, {"settembre", 9}, {"setembro", 9},
    {"october", 10},  {"oktober", 10},   {"oct", 10},       {"okt", 10},      {"ott", 10},
    {"out", 10},      {"octobre", 10},   {"octubre", 10},   {"ottobre", 10},  {"outubro", 10},
    {"november", 11}, {"nov", 11},       {"noem", 11},      {"noiabr", 11},   {"nop", 11},
    {"novembre", 11}, {"noviembre", 11}, {"novembro", 11},  {"december", 12}, {"dec", 12},
    {"dek", 12},      {"des", 12},       {"dez", 12},       {"dic", 12},      {"dezember", 12},
    {"decembre", 12}, {"diciembre", 12}, {"dicembre", 12},  {"dezembro", 12},
};

// What the Latin-1 letters 0xC0 to 0xFF fold to; '?' for those that never
// occur in a month name.
constexpr std::string_view kLatin1Folding =
    "aaaaaa?ceeeeiiii?nooooo?ouuuuy??"
    "aaaaaa?ceeeeiiii?nooooo?ouuuuy?y";

constexpr std::size_t kLongestMonthName = 10;

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

// ---- Date shapes of UNIX-like lines -----------------------------------------------

namespace {

// The suffixes that CJK locales write after the numbers of a date.
constexpr std::string_view kYearMarks[] = {"\u5e74", "\ub144"};   // 年 년
constexpr std::string_view kMonthMarks[] = {"\u6708", "\uc6d4"};  // 月 월
constexpr std::string_view kDayMarks[] = {"\u65e5", "\uc77c"};    // 日 일

// The token without one of the marks at its end; the token itself when it has none.
std::string_view WithoutMark(std::string_view token, std::span<const std::string_view> marks,
                             bool& marked) {
    marked = false;
    for (std::string_view mark : marks) {
        if (token.size() > mark.size() && token.ends_with(mark)) {
            marked = true;
            return token.substr(0, token.size() - mark.size());
        }
    }
    return token;
}

bool WholeNumber(std::string_view token, std::uint64_t max, std::uint64_t& value) {
    ListingCursor cursor(token);
    return cursor.TakeNumber(max, value) && cursor.AtEnd();
}

// "7", "7.", "7日", "7일".
bool ReadDayToken(std::string_view token, SYSTEMTIME& date) {
    bool marked = false;
    token = WithoutMark(token, kDayMarks, marked);
    if (!marked && token.ends_with('.')) token.remove_suffix(1);
    std::uint64_t day = 0;
    if (!WholeNumber(token, 31, day) || day == 0) return false;
    date.wDay = static_cast<WORD>(day);
    return true;
}

// A month name, or a number with a month mark ("4月", "1월").
bool ReadMonthToken(std::string_view token, SYSTEMTIME& date) {
    bool marked = false;
    std::string_view number = WithoutMark(token, kMonthMarks, marked);
    std::uint64_t month = 0;
    if (marked) {
        if (!WholeNumber(number, 12, month)) return false;
    } else {
        month = static_cast<std::uint64_t>(MonthFromName(token));
    }
    date.wMonth = static_cast<WORD>(month);
    return month != 0;
}

// A four-digit year (with or without a year mark).
bool ReadYearToken(std::string_view token, SYSTEMTIME& date) {
    bool marked = false;
    token = WithoutMark(token, kYearMarks, marked);
    std::uint64_t year = 0;
    if (token.size() != 4 || !WholeNumber(token, 9999, year)) return false;
    date.wYear = static_cast<WORD>(year);
    return true;
}

// "hh:mm" or "hh:mm:ss", with a fraction of a second after the seconds.
bool ReadClockToken(std::string_view token, SYSTEMTIME& date) {
    ListingCursor cursor(token);
    if (!ReadClock(cursor, date)) return false;
    if (cursor.Skip('.')) cursor.SkipWhile(ListingCursor::IsDigit);
    return cursor.AtEnd();
}

// A year, or a time of the most recent such date not after now's month.
bool ReadYearOrTime(std::string_view token, const SYSTEMTIME& now, SYSTEMTIME& date) {
    if (ReadYearToken(token, date)) return true;
    if (!ReadClockToken(token, date)) return false;
    date.wYear = now.wYear;
    if (date.wMonth > now.wMonth) date.wYear = static_cast<WORD>(now.wYear - 1);
    return true;
}

// "zone" of a full ISO time: "+0200", "-0500".
bool IsZoneToken(std::string_view token) {
    ListingCursor cursor(token);
    unsigned digits = 0;
    return (cursor.Skip('+') || cursor.Skip('-')) && cursor.TakeFixedDigits(4, digits) &&
           cursor.AtEnd();
}

// Three numbers joined by one of "-", "/" or ".": a four-digit year first
// ("2005-06-07", "1999/10/12", "2004.07.15"), or last ("24-04-2003": day
// first unless the second number is over 12). Two numbers are month and day
// ("09-26").
struct NumericDate {
    std::uint64_t part[3] = {};
    std::size_t digits[3] = {};
    std::size_t count = 0;
};

bool SplitNumericDate(std::string_view token, NumericDate& out) {
    ListingCursor cursor(token);
    char separator = 0;
    while (out.count < 3) {
        const std::size_t before = cursor.Rest().size();
        if (!cursor.TakeNumber(9999, out.part[out.count])) return false;
        out.digits[out.count] = before - cursor.Rest().size();
        ++out.count;
        if (cursor.AtEnd()) break;
        char c = 0;
        cursor.Take(c);
        if (std::string_view("-/.").find(c) == std::string_view::npos) return false;
        if (separator != 0 && c != separator) return false;
        separator = c;
    }
    return cursor.AtEnd() && out.count >= 2;
}

bool ReadNumericDateToken(std::string_view token, SYSTEMTIME& date, bool& hasYear) {
    NumericDate n;
    if (!SplitNumericDate(token, n)) return false;
    std::uint64_t year = 0, month = 0, day = 0;
    if (n.count == 2) {
        if (n.digits[0] > 2 || n.digits[1] > 2) return false;
        month = n.part[0];
        day = n.part[1];
    } else if (n.digits[0] == 4) {
        year = n.part[0], month = n.part[1], day = n.part[2];
    } else if (n.digits[2] == 4) {
        year = n.part[2];
        // Day first, as the European locales write it, unless that cannot be.
        const bool monthFirst = n.part[1] > 12 && n.part[0] <= 12;
        month = monthFirst ? n.part[0] : n.part[1];
        day = monthFirst ? n.part[1] : n.part[0];
    } else {
        return false;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31) return false;
    hasYear = n.count == 3;
    date.wYear = static_cast<WORD>(year);
    date.wMonth = static_cast<WORD>(month);
    date.wDay = static_cast<WORD>(day);
    return true;
}

// Each shape reads the tokens from the start of the span and gives how many
// it took, 0 when it does not fit.
using DateShape = std::size_t (*)(std::span<const std::string_view>, const SYSTEMTIME&,
                                  SYSTEMTIME&);

enum class DayOrder { MonthFirst, DayFirst };

// A month name and a day in either order, then a year or a time of day:
// "Jun 7 21:22", "Jun 7 2005", "4月 18日 2003年", "1월 6 12:00" month first;
// "26. Juli 2003", "2. Okt. 21:22", "7 juin 2005" day first.
template <DayOrder kOrder>
std::size_t NamedMonthShape(std::span<const std::string_view> t, const SYSTEMTIME& now,
                            SYSTEMTIME& date) {
    constexpr std::size_t kMonth = kOrder == DayOrder::MonthFirst ? 0 : 1;
    return t.size() >= 3 && ReadMonthToken(t[kMonth], date) && ReadDayToken(t[1 - kMonth], date) &&
                   ReadYearOrTime(t[2], now, date)
               ? 3
               : 0;
}

// "2005년 1월 6일", with a time after it where there is one.
std::size_t YearMonthDayShape(std::span<const std::string_view> t, const SYSTEMTIME&,
                              SYSTEMTIME& date) {
    bool marked = false;
    if (t.size() < 3) return 0;
    WithoutMark(t[0], kYearMarks, marked);
    if (!marked || !ReadYearToken(t[0], date) || !ReadMonthToken(t[1], date) ||
        !ReadDayToken(t[2], date))
        return 0;
    return t.size() >= 4 && ReadClockToken(t[3], date) ? 4 : 3;
}

// "2005-06-07 21:22", "2005-06-07 21:22:33.123456789 +0200", "24-04-2003",
// "09-26 2000", "1999/10/12 13:14".
std::size_t NumericShape(std::span<const std::string_view> t, const SYSTEMTIME& now,
                         SYSTEMTIME& date) {
    bool hasYear = false;
    if (t.empty() || !ReadNumericDateToken(t[0], date, hasYear)) return 0;
    if (!hasYear) return t.size() >= 2 && ReadYearOrTime(t[1], now, date) ? 2 : 0;
    if (t.size() < 2 || !ReadClockToken(t[1], date)) return 1;
    return t.size() >= 3 && IsZoneToken(t[2]) ? 3 : 2;
}

constexpr DateShape kDateShapes[] = {NamedMonthShape<DayOrder::MonthFirst>,
                                     NamedMonthShape<DayOrder::DayFirst>, YearMonthDayShape,
                                     NumericShape};

}  // namespace

std::size_t ReadListingDate(std::span<const std::string_view> tokens, const SYSTEMTIME& now,
                            SYSTEMTIME& date) {
    for (DateShape shape : kDateShapes) {
        SYSTEMTIME candidate{};
        const std::size_t taken = shape(tokens, now, candidate);
        if (taken != 0 && FinishDate(candidate)) {
            date = candidate;
            return taken;
        }
    }
    return 0;
}

bool ReadMsDosDate(std::string_view token, SYSTEMTIME& date) {
    constexpr int kPivotYear = 1980;
    NumericDate n;
    if (!SplitNumericDate(token, n) || n.count != 3) return false;
    const char separator = token[n.digits[0]];
    std::size_t year = 2, month = 0, day = 1;
    if (n.digits[0] == 4) {
        year = 0, month = 1, day = 2;
    } else if (separator == '.') {
        month = 1, day = 0;
    }
    if ((n.digits[year] != 2 && n.digits[year] != 4) || n.digits[month] > 2 || n.digits[day] > 2)
        return false;
    int fullYear = static_cast<int>(n.part[year]);
    if (n.digits[year] == 2) {
        fullYear += 1900;
        if (fullYear < kPivotYear) fullYear += 100;
    }
    date.wYear = static_cast<WORD>(fullYear);
    date.wMonth = static_cast<WORD>(n.part[month]);
    date.wDay = static_cast<WORD>(n.part[day]);
    return true;
}

// The civil calendar from a day count, in 400-year eras of 146097 days that
// start on 1 March, so that the leap day ends each year of the era.
bool DateFromUnixTime(std::uint64_t seconds, SYSTEMTIME& date) {
    constexpr std::uint64_t kSecondsPerDay = 86400;
    constexpr std::uint64_t kLastSecond = 253402300799;  // 9999-12-31 23:59:59
    constexpr std::uint64_t kDaysPerEra = 146097;
    constexpr std::uint64_t kEpochFromEraStart = 719468;  // 0000-03-01 to 1970-01-01
    if (seconds > kLastSecond) return false;
    const std::uint64_t daysFromStart = seconds / kSecondsPerDay + kEpochFromEraStart;
    const std::uint64_t secondOfDay = seconds % kSecondsPerDay;
    const std::uint64_t era = daysFromStart / kDaysPerEra;
    const std::uint64_t dayOfEra = daysFromStart - era * kDaysPerEra;
    const std::uint64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::uint64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::uint64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    const std::uint64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    date = SYSTEMTIME{};
    date.wYear = static_cast<WORD>(era * 400 + yearOfEra + (month <= 2 ? 1 : 0));
    date.wMonth = static_cast<WORD>(month);
    date.wDay = static_cast<WORD>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    date.wHour = static_cast<WORD>(secondOfDay / 3600);
    date.wMinute = static_cast<WORD>(secondOfDay / 60 % 60);
    date.wSecond = static_cast<WORD>(secondOfDay % 60);
    return FinishDate(date);
}

}  // namespace ftp
