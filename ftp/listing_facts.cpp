// Machine-readable listing facts (RFC 3659): MLSD lines and the entry of an
// MLST or STAT reply ("modify=20240102030405;size=10;type=file; a.txt").
// Facts hold no blank, each ends with ';', and exactly one blank separates
// them from the name, which runs to the line end and keeps every blank.
#include "ftp/listing_facts.h"

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

// What the facts of one entry said, applied to the record once all are read
// (their order is free, and unix.mode outranks perm).
struct FactsRead {
    FtpDirectoryEntry entry{};
    bool hasMode = false;
    bool hasSize = false;
    std::uint32_t perm = 0;
    bool link = false;
    std::string_view linkTarget;
    bool listedOrParent = false;
    // Owner and group came by name: the numeric ids no longer count.
    bool ownerNamed = false;
    bool groupNamed = false;
};

bool TakeSize(std::string_view value, std::uint64_t& size) {
    ListingCursor cursor(value);
    return cursor.TakeNumber(INT64_MAX, size) && cursor.AtEnd();
}

void ApplySize(std::string_view value, FactsRead& read) {
    std::uint64_t size = 0;
    if (!TakeSize(value, size)) return;
    read.entry.size = size;
    read.hasSize = true;
}

// sizd: the space a directory takes; "size" wins when both are sent.
void ApplyDirectorySize(std::string_view value, FactsRead& read) {
    std::uint64_t size = 0;
    if (!read.hasSize && TakeSize(value, size)) read.entry.size = size;
}

// file, dir, cdir, pdir, or an OS-specific type: "OS.unix=slink:target" (also
// "symlink", the target optional) is a symbolic link.
void ApplyType(std::string_view value, FactsRead& read) {
    for (std::string_view directoryType : {"dir", "cdir", "pdir"})
        if (EqualsIgnoreCase(value, directoryType)) read.entry.directory = 1;
    read.listedOrParent = EqualsIgnoreCase(value, "cdir") || EqualsIgnoreCase(value, "pdir");
    constexpr std::string_view kUnixType = "os.unix=";
    if (value.size() <= kUnixType.size() ||
        !EqualsIgnoreCase(value.substr(0, kUnixType.size()), kUnixType))
        return;
    std::string_view unixType = value.substr(kUnixType.size());
    const std::size_t colon = unixType.find(':');
    std::string_view target;
    if (colon != std::string_view::npos) {
        target = unixType.substr(colon + 1);
        unixType = unixType.substr(0, colon);
    }
    if (!EqualsIgnoreCase(unixType, "slink") && !EqualsIgnoreCase(unixType, "symlink")) return;
    read.link = true;
    read.linkTarget = target;
}

// YYYYMMDDHHMMSS[.sss] in UTC; fractions of a second are ignored.
void ApplyModify(std::string_view value, FactsRead& read) {
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
    read.entry.date = date;
}

// perm says what the login may do: reading ('r', or 'l'/'e' for a directory)
// and writing ('w', 'a', 'c'). Only the owner's bits can stand for that.
void ApplyPerm(std::string_view value, FactsRead& read) {
    if (value.find('r') != std::string_view::npos) read.perm |= FTP_PERM_OWNER_READ;
    if (value.find('w') != std::string_view::npos) read.perm |= FTP_PERM_OWNER_WRITE;
}

void ApplyMode(std::string_view value, FactsRead& read) {
    std::uint32_t mode = 0;
    for (char c : value) {
        if (c < '0' || c > '7' || mode > (UINT32_MAX >> 3)) break;
        mode = mode * 8 + static_cast<std::uint32_t>(c - '0');
    }
    read.entry.permissions = mode;
    read.hasMode = true;
}

void ApplyOwner(std::string_view value, FactsRead& read) {
    if (!read.ownerNamed) CopyCapped(read.entry.owner, value);
}

void ApplyGroup(std::string_view value, FactsRead& read) {
    if (!read.groupNamed) CopyCapped(read.entry.group, value);
}

// proftpd's names beside the numeric ids; an empty name says nothing.
void ApplyOwnerName(std::string_view value, FactsRead& read) {
    if (value.empty()) return;
    CopyCapped(read.entry.owner, value);
    read.ownerNamed = true;
}

void ApplyGroupName(std::string_view value, FactsRead& read) {
    if (value.empty()) return;
    CopyCapped(read.entry.group, value);
    read.groupNamed = true;
}

struct Fact {
    std::string_view name;
    void (*apply)(std::string_view value, FactsRead& read);
};

// Compared without regard to case. "unix.owner" and "unix.group" are the names
// some servers give to the same numeric ids as "unix.uid" and "unix.gid";
// "unix.ownername" and "unix.groupname" (proftpd) win over any of them.
constexpr Fact kFacts[] = {
    {"size", ApplySize},
    {"sizd", ApplyDirectorySize},
    {"type", ApplyType},
    {"modify", ApplyModify},
    {"perm", ApplyPerm},
    {"unix.mode", ApplyMode},
    {"unix.uid", ApplyOwner},
    {"unix.gid", ApplyGroup},
    {"unix.owner", ApplyOwner},
    {"unix.group", ApplyGroup},
    {"unix.ownername", ApplyOwnerName},
    {"unix.groupname", ApplyGroupName},
};

void ApplyFact(std::string_view name, std::string_view value, FactsRead& read) {
    for (const Fact& fact : kFacts)
        if (EqualsIgnoreCase(name, fact.name)) fact.apply(value, read);
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

// "fact=value;" pieces up to the blank before the name, then the name to its
// line end. False for anything else: no blank on the line, a piece without
// '=' or a name, facts not ended by ';', or no name.
bool ReadFacts(std::string_view text, FactsRead& read) {
    std::string_view facts;
    if (!FindFacts(text, facts)) return false;
    ListingCursor cursor(facts);
    std::string_view list = cursor.TakeWhile([](char c) { return !IsWhiteSpace(c); });
    if (list.empty() || list.back() != ';' || !cursor.Skip(' ')) return false;
    ListingCursor parts(list);
    while (!parts.AtEnd()) {
        std::string_view part = parts.TakeUntil(';');
        parts.Skip(';');
        const std::size_t equals = part.find('=');
        if (equals == std::string_view::npos || equals == 0) return false;
        ApplyFact(part.substr(0, equals), part.substr(equals + 1), read);
    }
    std::string_view name = cursor.TakeWhile([](char c) { return !IsLineEnd(c); });
    if (name.empty()) return false;
    CopyCapped(read.entry.name, name);
    if (!read.hasMode) read.entry.permissions |= read.perm;
    if (read.link) {
        read.entry.permissions |= FTP_PERM_SYMLINK;
        read.entry.directory = 1;
    }
    return true;
}

}  // namespace

bool ParseFacts(std::string_view text, FtpDirectoryEntry& entry) {
    FactsRead read;
    if (!ReadFacts(text, read)) return false;
    entry = read.entry;
    return true;
}

bool ParseFacts(std::string_view text, ListingEntry& entry) {
    FactsRead read;
    if (!ReadFacts(text, read)) return false;
    entry = ListingEntry{};
    entry.fields = read.entry;
    if (read.link) {
        // The session's entry keeps a link's own type apart, as UNIX lines do.
        entry.link = true;
        entry.fields.directory = 0;
        if (!read.linkTarget.empty())
            CopyCapped(entry.linkTarget.data(), entry.linkTarget.size(), read.linkTarget);
    }
    return true;
}

bool IsFactsOfListedOrParentDirectory(std::string_view line) {
    FactsRead read;
    return ReadFacts(line, read) && read.listedOrParent;
}

}  // namespace ftp
