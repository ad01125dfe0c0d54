// Layouts found line by line beyond the session's documented formats: EPLF,
// OS/2, IBM i (AS/400), z/OS datasets and members, z/VM, VxWorks, OS-9 and HP
// NonStop (Guardian). Each parser reads its
// whole line and fails on the first field that does not fit, so that a line of
// another layout is never taken for one of these.
#include <array>
#include <cstdint>
#include <limits>
#include <string_view>

#include "ftp/listing_fields.h"

namespace ftp {
namespace {

constexpr std::uint64_t kMaxSize = std::numeric_limits<std::int64_t>::max();

bool ReadWholeNumber(std::string_view token, std::uint64_t max, std::uint64_t& value) {
    ListingCursor cursor(token);
    return cursor.TakeNumber(max, value) && cursor.AtEnd();
}

std::string_view WithoutLineEnd(std::string_view text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

// Three numbers joined by one separator; a four-digit first number is the
// year, a first number over 12 or a '.' separator puts the day first, and
// otherwise the month comes first. Two-digit years fall in the 100 years from
// pivotYear.
bool ReadThreePartDate(std::string_view token, int pivotYear, SYSTEMTIME& date) {
    ListingCursor cursor(token);
    std::array<std::uint64_t, 3> part{};
    std::array<std::size_t, 3> digits{};
    char separator = 0;
    for (std::size_t i = 0; i < part.size(); ++i) {
        if (i > 0) {
            char c = 0;
            if (!cursor.Take(c) || std::string_view("/-.").find(c) == std::string_view::npos ||
                (separator != 0 && c != separator))
                return false;
            separator = c;
        }
        const std::size_t before = cursor.Rest().size();
        if (!cursor.TakeNumber(9999, part[i])) return false;
        digits[i] = before - cursor.Rest().size();
    }
    if (!cursor.AtEnd()) return false;
    std::size_t year = 2, month = 0, day = 1;
    if (digits[0] == 4)
        year = 0, month = 1, day = 2;
    else if (separator == '.' || part[0] > 12)
        month = 1, day = 0;
    if ((digits[year] != 2 && digits[year] != 4) || digits[month] > 2 || digits[day] > 2)
        return false;
    std::uint64_t fullYear = part[year];
    if (digits[year] == 2) {
        fullYear += 1900;
        if (fullYear < static_cast<std::uint64_t>(pivotYear)) fullYear += 100;
    }
    date.wYear = static_cast<WORD>(fullYear);
    date.wMonth = static_cast<WORD>(part[month]);
    date.wDay = static_cast<WORD>(part[day]);
    return true;
}

// "hh:mm" or "hh:mm:ss" and nothing else.
bool ReadWholeClock(std::string_view token, SYSTEMTIME& date) {
    ListingCursor clock(token);
    return ReadClock(clock, date) && clock.AtEnd();
}

// ---- EPLF ----------------------------------------------------------------------
// "+i8388621.44468,m839956783,r,s10376,\tRFCEPLF": facts separated by commas,
// each named by its first character, then a tab and the name. Unknown facts
// are ignored, as the format asks; a malformed known one drops the line.

bool EplfDirectory(std::string_view, ListingEntry& entry) {
    entry.fields.directory = 1;
    return true;
}
bool EplfSize(std::string_view value, ListingEntry& entry) {
    return ReadWholeNumber(value, kMaxSize, entry.fields.size);
}
bool EplfModified(std::string_view value, ListingEntry& entry) {
    std::uint64_t seconds = 0;
    return ReadWholeNumber(value, UINT64_MAX, seconds) &&
           DateFromUnixTime(seconds, entry.fields.date);
}
// "up644": the UNIX permission bits in octal.
bool EplfPermissions(std::string_view value, ListingEntry& entry) {
    if (!value.starts_with('p') || value.size() < 2 || value.size() > 5) return false;
    std::uint32_t bits = 0;
    for (char c : value.substr(1)) {
        if (c < '0' || c > '7') return false;
        bits = bits * 8 + static_cast<std::uint32_t>(c - '0');
    }
    entry.fields.permissions = bits & 0x1FF;
    return true;
}
bool EplfIgnored(std::string_view, ListingEntry&) {
    return true;
}

struct EplfFact {
    char name;
    bool (*read)(std::string_view value, ListingEntry& entry);
};

constexpr EplfFact kEplfFacts[] = {
    {'/', EplfDirectory}, {'r', EplfIgnored},     {'s', EplfSize},
    {'m', EplfModified},  {'u', EplfPermissions}, {'i', EplfIgnored},
};

bool ReadEplfFact(std::string_view fact, ListingEntry& entry) {
    if (fact.empty()) return true;
    for (const EplfFact& known : kEplfFacts)
        if (known.name == fact.front()) return known.read(fact.substr(1), entry);
    return true;
}

// ---- OS/2 ----------------------------------------------------------------------
// "   345  A         12-03-96  06:38  file.txt": size, attribute letters or
// "DIR", date, time, name.

constexpr std::size_t kMaxOs2Attributes = 4;

bool ReadOs2Attribute(std::string_view token, ListingEntry& entry) {
    if (token == "DIR") {
        entry.fields.directory = 1;
        return true;
    }
    return token.find_first_not_of("AHSR") == std::string_view::npos;
}

// ---- IBM i -----------------------------------------------------------------------
// "QSYS  77824 02/23/00 15:09:55 *DIR  QSYS/": owner, size, date, time, object
// type, name; members ("QGPL  *MEM  QGPL.FILE/MBR.MBR") have no size or date.

// IBM i reads two-digit years in the window 1940 to 2039.
constexpr int kIbmIPivotYear = 1940;

constexpr std::string_view kIbmIContainerTypes[] = {"*DIR", "*DDIR", "*FLR", "*LIB"};

bool IsIbmIType(std::string_view token) {
    return token.size() > 1 && token.front() == '*';
}

// The name as the server wrote it; a trailing '/' marks a directory and is dropped.
bool TakeIbmIName(ListingCursor& tokens, std::string_view type, ListingEntry& entry) {
    std::string_view name = tokens.TakeRestAfterSeparator();
    for (std::string_view container : kIbmIContainerTypes)
        if (type == container) entry.fields.directory = 1;
    if (name.size() > 1 && name.back() == '/') {
        entry.fields.directory = 1;
        name.remove_suffix(1);
    }
    if (name.empty()) return false;
    CopyCapped(entry.fields.name, name);
    return true;
}

// ---- z/OS ------------------------------------------------------------------------
// Datasets: "SMS004 3390 2005/06/22 1 1 FB 80 3120 PS ALLOC.DATA" (volume, unit,
// last referred, extents, used tracks, record format, record length, block
// size, organisation, name), "Migrated  OLD.DATA", "Pseudo Directory  PROJ".
// Members of a partitioned dataset: "MEMBER1 01.01 2002/01/22 2002/01/22 10:20
// 8 8 0 USERID" (version, created, changed, lines, initial lines, modified
// lines, user). Neither gives a size in bytes: entries get size 0.

struct MvsOrganisation {
    std::string_view name;
    bool directory;
};

// Partitioned datasets hold members and are listed like directories.
constexpr MvsOrganisation kMvsOrganisations[] = {
    {"PS", false}, {"PO", true},  {"PO-E", true},  {"DA", false},
    {"IS", false}, {"VS", false}, {"VSAM", false},
};

bool ReadMvsOrganisation(std::string_view token, ListingEntry& entry) {
    for (const MvsOrganisation& organisation : kMvsOrganisations) {
        if (token == organisation.name) {
            entry.fields.directory = organisation.directory ? 1 : 0;
            return true;
        }
    }
    return false;
}

constexpr std::size_t kMaxMvsTokens = 12;

struct MvsTokens {
    std::array<std::string_view, kMaxMvsTokens> token{};
    std::size_t count = 0;
    bool overflow = false;
};

MvsTokens SplitMvsTokens(std::string_view line) {
    MvsTokens tokens;
    ListingCursor cursor(line);
    std::string_view token;
    while (cursor.NextToken(token)) {
        if (tokens.count == kMaxMvsTokens) {
            tokens.overflow = true;
            break;
        }
        tokens.token[tokens.count++] = token;
    }
    return tokens;
}

bool IsMvsDate(std::string_view token) {
    SYSTEMTIME date{};
    return token.size() == 10 && ReadThreePartDate(token, 0, date) && FinishDate(date);
}

// "Migrated  NAME", "Pseudo Directory  NAME".
bool ReadMvsPlaceholder(const MvsTokens& tokens, ListingEntry& entry) {
    if (tokens.count == 2 && tokens.token[0] == "Migrated") {
        CopyCapped(entry.fields.name, tokens.token[1]);
        return true;
    }
    if (tokens.count == 3 && tokens.token[0] == "Pseudo" && tokens.token[1] == "Directory") {
        entry.fields.directory = 1;
        CopyCapped(entry.fields.name, tokens.token[2]);
        return true;
    }
    return false;
}

bool AllDigits(std::string_view token) {
    std::uint64_t value = 0;
    return ReadWholeNumber(token, UINT32_MAX, value);
}

// A dataset line: a volume, a unit and the referred date ("**NONE**" when
// never read) first, the organisation and the name last; the numeric
// columns between them are checked for their shape.
bool ReadMvsDataset(const MvsTokens& tokens, ListingEntry& entry) {
    constexpr std::size_t kDatasetColumns = 10;
    if (tokens.count != kDatasetColumns) return false;
    const std::string_view referred = tokens.token[2];
    if (referred != "**NONE**") {
        if (!ReadThreePartDate(referred, 0, entry.fields.date) || referred.size() != 10 ||
            !FinishDate(entry.fields.date))
            return false;
    }
    for (std::size_t numeric : {3u, 4u, 6u, 7u})
        if (!AllDigits(tokens.token[numeric])) return false;
    if (!ReadMvsOrganisation(tokens.token[8], entry)) return false;
    CopyCapped(entry.fields.name, tokens.token[9]);
    return true;
}

// "01.01": a member's version and modification level.
bool IsMvsVersion(std::string_view token) {
    ListingCursor cursor(token);
    unsigned value = 0;
    return cursor.TakeFixedDigits(2, value) && cursor.Skip('.') &&
           cursor.TakeFixedDigits(2, value) && cursor.AtEnd();
}

bool ReadMvsMember(const MvsTokens& tokens, ListingEntry& entry) {
    constexpr std::size_t kMemberColumns = 9;
    if (tokens.count < kMemberColumns - 1 || tokens.count > kMemberColumns) return false;
    if (!IsMvsVersion(tokens.token[1]) || !IsMvsDate(tokens.token[2])) return false;
    SYSTEMTIME& date = entry.fields.date;
    if (!ReadThreePartDate(tokens.token[3], 0, date) || tokens.token[3].size() != 10 ||
        !ReadWholeClock(tokens.token[4], date) || !FinishDate(date))
        return false;
    for (std::size_t numeric = 5; numeric < 8; ++numeric)
        if (!AllDigits(tokens.token[numeric])) return false;
    if (tokens.count == kMemberColumns) CopyCapped(entry.fields.owner, tokens.token[8]);
    CopyCapped(entry.fields.name, tokens.token[0]);
    return true;
}

}  // namespace

LineResult ParseEplfLine(std::string_view line, const ListingContext&, ListingEntry& entry) {
    ListingCursor cursor(line);
    if (!cursor.Skip('+')) return LineResult::Failed;
    ListingCursor facts(cursor.TakeUntil('\t'));
    if (!cursor.Skip('\t')) return LineResult::Failed;
    const std::string_view name = WithoutLineEnd(cursor.TakeRest());
    if (name.empty()) return LineResult::Failed;
    while (!facts.AtEnd()) {
        if (!ReadEplfFact(facts.TakeUntil(','), entry)) return LineResult::Failed;
        facts.Skip(',');
    }
    CopyCapped(entry.fields.name, name);
    return LineResult::Parsed;
}

LineResult ParseOs2Line(std::string_view line, const ListingContext&, ListingEntry& entry) {
    ListingCursor tokens(line);
    std::string_view token;
    if (!tokens.NextToken(token) || !ReadWholeNumber(token, kMaxSize, entry.fields.size))
        return LineResult::Failed;
    SYSTEMTIME& date = entry.fields.date;
    std::size_t attributes = 0;
    bool dated = false;
    while (!dated && tokens.NextToken(token)) {
        dated = ReadNumericDate(token, date);
        if (!dated && (++attributes > kMaxOs2Attributes || !ReadOs2Attribute(token, entry)))
            return LineResult::Failed;
    }
    std::string_view time;
    if (!dated || !tokens.NextToken(time) || !ReadWholeClock(time, date) || !FinishDate(date) ||
        !TakeName(tokens, entry))
        return LineResult::Failed;
    return LineResult::Parsed;
}

LineResult ParseIbmILine(std::string_view line, const ListingContext&, ListingEntry& entry) {
    ListingCursor tokens(line);
    std::string_view owner;
    std::string_view token;
    if (!tokens.NextToken(owner) || IsIbmIType(owner) || !tokens.NextToken(token))
        return LineResult::Failed;
    CopyCapped(entry.fields.owner, owner);
    if (IsIbmIType(token))
        return token == "*MEM" && TakeIbmIName(tokens, token, entry) ? LineResult::Parsed
                                                                     : LineResult::Failed;
    std::string_view day;
    std::string_view time;
    std::string_view type;
    SYSTEMTIME& date = entry.fields.date;
    if (!ReadWholeNumber(token, kMaxSize, entry.fields.size) || !tokens.NextToken(day) ||
        !tokens.NextToken(time) || !tokens.NextToken(type) || !IsIbmIType(type) ||
        !ReadThreePartDate(day, kIbmIPivotYear, date) || !ReadWholeClock(time, date) ||
        !FinishDate(date) || !TakeIbmIName(tokens, type, entry))
        return LineResult::Failed;
    return LineResult::Parsed;
}

LineResult ParseMvsLine(std::string_view line, const ListingContext&, ListingEntry& entry) {
    const MvsTokens tokens = SplitMvsTokens(line);
    if (tokens.overflow) return LineResult::Failed;
    using MvsReader = bool (*)(const MvsTokens&, ListingEntry&);
    static constexpr MvsReader kReaders[] = {ReadMvsPlaceholder, ReadMvsDataset, ReadMvsMember};
    for (MvsReader read : kReaders) {
        ListingEntry candidate;
        if (read(tokens, candidate)) {
            entry = candidate;
            return LineResult::Parsed;
        }
    }
    return LineResult::Failed;
}

namespace {

// ---- z/VM, VxWorks, OS-9, HP NonStop ---------------------------------------------

// Splits a line into at most Count blank-separated tokens; false when it has
// more or fewer than `minimum`.
template <std::size_t Count>
bool SplitTokens(std::string_view line, std::size_t minimum,
                 std::array<std::string_view, Count>& tokens, std::size_t& count) {
    ListingCursor cursor(WithoutLineEnd(line));
    count = 0;
    std::string_view token;
    while (cursor.NextToken(token)) {
        if (count == Count) return false;
        tokens[count++] = token;
    }
    return count >= minimum;
}

// "yyyy-mm-dd" with a four-digit year.
bool ReadIsoDate(std::string_view token, SYSTEMTIME& date) {
    return token.size() == 10 && token[4] == '-' && ReadThreePartDate(token, 1970, date);
}

// "Jan-02-2000": month name, day, four-digit year.
bool ReadNamedMonthFirstDate(std::string_view token, SYSTEMTIME& date) {
    const std::size_t dash = token.find('-');
    if (dash == std::string_view::npos) return false;
    const int month = MonthFromName(token.substr(0, dash));
    ListingCursor rest(token.substr(dash + 1));
    std::uint64_t day = 0;
    if (month == 0 || !rest.TakeNumber(31, day) || !rest.Skip('-') || !ReadYear(rest, 1970, date) ||
        !rest.AtEnd() || date.wYear < 1000)
        return false;
    date.wMonth = static_cast<WORD>(month);
    date.wDay = static_cast<WORD>(day);
    return true;
}

}  // namespace

// z/VM (CMS): "PROFILE EXEC V 79 12 1 2007-04-04 11:58:16 DEV191": file name,
// file type, record format (F or V; "-" or DIR for a directory), record length,
// records, blocks, date, time and an optional label. The name is NAME.TYPE; the
// size is records times record length (exact for F, an upper bound for V).
LineResult ParseZvmLine(std::string_view line, const ListingContext&, ListingEntry& entry) {
    std::array<std::string_view, 9> t;
    std::size_t count = 0;
    if (!SplitTokens(line, 8, t, count)) return LineResult::Failed;
    const bool directory = t[1] == "DIR" || t[2] == "DIR" || t[2] == "-";
    std::uint64_t length = 0, records = 0, blocks = 0;
    SYSTEMTIME& date = entry.fields.date;
    const auto numberOrDash = [](std::string_view token, std::uint64_t& value) {
        return token == "-" || ReadWholeNumber(token, 0xFFFFFFFFu, value);
    };
    if ((!directory && t[2] != "F" && t[2] != "V") || !numberOrDash(t[3], length) ||
        !numberOrDash(t[4], records) || !numberOrDash(t[5], blocks) || !ReadIsoDate(t[6], date) ||
        !ReadWholeClock(t[7], date) || !FinishDate(date))
        return LineResult::Failed;
    entry.fields.directory = directory ? 1 : 0;
    entry.fields.size = directory ? 0 : length * records;
    const std::string name =
        directory ? std::string(t[0]) : std::string(t[0]) + "." + std::string(t[1]);
    CopyCapped(entry.fields.name, name);
    return LineResult::Parsed;
}

// VxWorks: "41472 Sep-13-2002 11:03:36 vxWorks.st", a directory ending in
// "<DIR>": size, date with the month's name first, time, name.
LineResult ParseVxWorksLine(std::string_view line, const ListingContext&, ListingEntry& entry) {
    ListingCursor tokens(WithoutLineEnd(line));
    std::string_view size, day, time;
    SYSTEMTIME& date = entry.fields.date;
    if (!tokens.NextToken(size) || !ReadWholeNumber(size, kMaxSize, entry.fields.size) ||
        !tokens.NextToken(day) || !ReadNamedMonthFirstDate(day, date) || !tokens.NextToken(time) ||
        !ReadWholeClock(time, date) || !FinishDate(date))
        return LineResult::Failed;
    std::string_view name = tokens.TakeRestAfterSeparator();
    constexpr std::string_view kDirectoryMark = "<DIR>";
    if (name.size() > kDirectoryMark.size() && name.ends_with(kDirectoryMark)) {
        name.remove_suffix(kDirectoryMark.size());
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
            name.remove_suffix(1);
        entry.fields.directory = 1;
    }
    if (name.empty()) return LineResult::Failed;
    CopyCapped(entry.fields.name, name);
    return LineResult::Parsed;
}

// OS-9: "0.0 05/08/18 1525 d-ewrewr a8b0 448 CMDS": owner group.user, date
// yy/mm/dd, time hhmm, attributes (a leading "d" for a directory), first
// sector in hexadecimal, size, name.
LineResult ParseOs9Line(std::string_view line, const ListingContext&, ListingEntry& entry) {
    ListingCursor tokens(WithoutLineEnd(line));
    std::string_view owner, day, time, attributes, sector, size;
    if (!tokens.NextToken(owner) || !tokens.NextToken(day) || !tokens.NextToken(time) ||
        !tokens.NextToken(attributes) || !tokens.NextToken(sector) || !tokens.NextToken(size))
        return LineResult::Failed;
    const std::size_t dot = owner.find('.');
    std::uint64_t group = 0, user = 0, year = 0, month = 0, dayOfMonth = 0, clock = 0;
    ListingCursor dateCursor(day);
    if (dot == std::string_view::npos || !ReadWholeNumber(owner.substr(0, dot), 0xFFFF, group) ||
        !ReadWholeNumber(owner.substr(dot + 1), 0xFFFF, user) || day.size() != 8 ||
        !dateCursor.TakeNumber(99, year) || !dateCursor.Skip('/') ||
        !dateCursor.TakeNumber(12, month) || !dateCursor.Skip('/') ||
        !dateCursor.TakeNumber(31, dayOfMonth) || !dateCursor.AtEnd() || time.size() != 4 ||
        !ReadWholeNumber(time, 2359, clock) || clock % 100 > 59 || attributes.size() != 8 ||
        attributes.find_first_not_of("d-sewr") != std::string_view::npos ||
        attributes.find('d', 1) != std::string_view::npos ||
        sector.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos ||
        !ReadWholeNumber(size, kMaxSize, entry.fields.size))
        return LineResult::Failed;
    SYSTEMTIME& date = entry.fields.date;
    // Two-digit years: 1970 to 2069.
    date.wYear = static_cast<WORD>(year + (year < 70 ? 2000 : 1900));
    date.wMonth = static_cast<WORD>(month);
    date.wDay = static_cast<WORD>(dayOfMonth);
    date.wHour = static_cast<WORD>(clock / 100);
    date.wMinute = static_cast<WORD>(clock % 100);
    if (!FinishDate(date) || !TakeName(tokens, entry)) return LineResult::Failed;
    entry.fields.directory = attributes[0] == 'd' ? 1 : 0;
    CopyCapped(entry.fields.owner, owner);
    return LineResult::Parsed;
}

// HP NonStop (Guardian): "ALTERNAT 101 146 18-Sep-00 09:03:37 170,17 \"AAGA\"":
// name, file code (an "O" after it marks an open file), end-of-file size, date
// d-Mon-yy, time, owner group,user, security. Guardian volumes have no
// folders in a listing.
LineResult ParseNonStopLine(std::string_view line, const ListingContext&, ListingEntry& entry) {
    std::array<std::string_view, 7> t;
    std::size_t count = 0;
    if (!SplitTokens(line, 7, t, count)) return LineResult::Failed;
    std::string_view code = t[1];
    if (code.ends_with('O')) code.remove_suffix(1);
    std::uint64_t number = 0;
    SYSTEMTIME& date = entry.fields.date;
    const std::string_view owner = t[5];
    const std::size_t comma = owner.find(',');
    if (!ReadWholeNumber(code, 65535, number) ||
        !ReadWholeNumber(t[2], kMaxSize, entry.fields.size) || !ReadVmsDate(t[3], date) ||
        !ReadWholeClock(t[4], date) || !FinishDate(date) || comma == std::string_view::npos ||
        !ReadWholeNumber(owner.substr(0, comma), 255, number) ||
        !ReadWholeNumber(owner.substr(comma + 1), 255, number) || t[6].size() != 6 ||
        t[6].front() != '"' || t[6].back() != '"')
        return LineResult::Failed;
    CopyCapped(entry.fields.name, t[0]);
    CopyCapped(entry.fields.owner, owner);
    return LineResult::Parsed;
}

}  // namespace ftp
