// Machine-readable listing facts: MLSD lines and the entry of an MLST or STAT
// reply ("modify=20240102030405;size=10;type=file; a.txt").
#include <cstdint>
#include <string_view>

#include "ftp/listing_fields.h"

namespace ftp {
namespace {

bool IsWhiteSpace(char c) {
    return ListingCursor::IsSeparator(c);
}
bool IsLineEnd(char c) {
    return c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsWhiteSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsWhiteSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

void ApplySize(std::string_view value, FtpDirectoryEntry& entry) {
    ListingCursor cursor(value);
    std::uint64_t size = 0;
    if (cursor.TakeNumber(INT64_MAX, size) && cursor.AtEnd()) entry.size = size;
}

void ApplyType(std::string_view value, FtpDirectoryEntry& entry) {
    for (std::string_view directoryType : {"dir", "cdir", "pdir"})
        if (EqualsIgnoreCase(value, directoryType)) entry.directory = 1;
}

// YYYYMMDDHHMMSS as sent (servers send UTC); fractions of a second are ignored.
void ApplyModify(std::string_view value, FtpDirectoryEntry& entry) {
    ListingCursor cursor(value);
    unsigned fields[6] = {};
    static constexpr std::size_t kDigits[6] = {4, 2, 2, 2, 2, 2};
    for (int i = 0; i < 6; ++i)
        if (!cursor.TakeFixedDigits(kDigits[i], fields[i])) return;
    SYSTEMTIME date{};
    date.wYear = static_cast<WORD>(fields[0]);
    date.wMonth = static_cast<WORD>(fields[1]);
    date.wDay = static_cast<WORD>(fields[2]);
    date.wHour = static_cast<WORD>(fields[3]);
    date.wMinute = static_cast<WORD>(fields[4]);
    date.wSecond = static_cast<WORD>(fields[5]);
    if (!FinishDate(date)) return;
    date.wDayOfWeek = 0;  // the fact carries no weekday and none is made up
    entry.date = date;
}

void ApplyPerm(std::string_view value, FtpDirectoryEntry& entry) {
    if (value.find('r') != std::string_view::npos) entry.permissions |= FTP_PERM_OWNER_READ;
    if (value.find('w') != std::string_view::npos) entry.permissions |= FTP_PERM_OWNER_WRITE;
}

void ApplyMode(std::string_view value, FtpDirectoryEntry& entry) {
    std::uint32_t mode = 0;
    for (char c : value) {
        if (c < '0' || c > '7' || mode > (UINT32_MAX >> 3)) break;
        mode = mode * 8 + static_cast<std::uint32_t>(c - '0');
    }
    entry.permissions = mode;
}

void ApplyOwner(std::string_view value, FtpDirectoryEntry& entry) {
    CopyCapped(entry.owner, value);
}

void ApplyGroup(std::string_view value, FtpDirectoryEntry& entry) {
    CopyCapped(entry.group, value);
}

struct Fact {
    std::string_view name;
    void (*apply)(std::string_view value, FtpDirectoryEntry& entry);
};

// Compared without regard to case. "unix.owner" and "unix.group" are the names
// some servers give to the same numeric ids as "unix.uid" and "unix.gid".
constexpr Fact kFacts[] = {
    {"size", ApplySize},      {"type", ApplyType},        {"modify", ApplyModify},
    {"perm", ApplyPerm},      {"unix.mode", ApplyMode},   {"unix.uid", ApplyOwner},
    {"unix.gid", ApplyGroup}, {"unix.owner", ApplyOwner}, {"unix.group", ApplyGroup},
};

void ApplyFact(std::string_view name, std::string_view value, FtpDirectoryEntry& entry) {
    for (const Fact& fact : kFacts)
        if (EqualsIgnoreCase(name, fact.name)) fact.apply(value, entry);
}

// Where the facts begin: after the last white space before the first '=', so
// that a text line in front of them (a status reply's first line) is skipped.
bool FindFacts(std::string_view text, std::string_view& facts) {
    ListingCursor cursor(text);
    cursor.SkipWhile(IsWhiteSpace);
    std::string_view rest = cursor.Rest();
    std::size_t equals = rest.find('=');
    if (equals == std::string_view::npos) return false;
    std::size_t lastSpace = rest.substr(0, equals).find_last_of(" \t\r\n");
    facts = lastSpace == std::string_view::npos ? rest : rest.substr(lastSpace + 1);
    return true;
}

// The name runs to the end of its line: it may hold ';' itself.
bool TakeFactsName(std::string_view rest, FtpDirectoryEntry& entry) {
    ListingCursor cursor(rest);
    cursor.SkipWhile(IsWhiteSpace);
    std::string_view name = Trim(cursor.TakeWhile([](char c) { return !IsLineEnd(c); }));
    if (name.empty()) return false;
    CopyCapped(entry.name, name);
    return true;
}

}  // namespace

bool ParseFacts(std::string_view text, FtpDirectoryEntry& entry) {
    std::string_view facts;
    if (!FindFacts(text, facts)) return false;
    FtpDirectoryEntry parsed{};
    ListingCursor parts(facts);
    while (!parts.AtEnd()) {
        std::string_view rest = parts.Rest();
        std::string_view part = parts.TakeUntil(';');
        parts.Skip(';');
        ListingCursor partCursor(part);
        std::string_view onItsLine = partCursor.TakeWhile([](char c) { return !IsLineEnd(c); });
        std::size_t equals = onItsLine.find('=');
        if (equals == std::string_view::npos) {
            if (!TakeFactsName(rest, parsed)) return false;
            entry = parsed;
            return true;
        }
        std::string_view name = Trim(onItsLine.substr(0, equals));
        if (name.empty()) return false;
        ApplyFact(name, Trim(onItsLine.substr(equals + 1)), parsed);
    }
    return false;
}

}  // namespace ftp
