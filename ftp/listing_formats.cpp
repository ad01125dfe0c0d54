// One parser per listing layout. Each reads its line through a cursor of
// blank-separated tokens and fails on the first missing or malformed field.
#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <span>
#include <string_view>

#include "ftp/listing_fields.h"

namespace ftp {
namespace {

// Sizes are handed on as signed 64-bit numbers: a larger one drops the line
// rather than turning negative.
constexpr std::uint64_t kMaxSize = std::numeric_limits<std::int64_t>::max();
constexpr std::uint32_t kAllPermissions = 0x1FF;

bool ReadWholeNumber(std::string_view token, std::uint64_t max, std::uint64_t& value) {
    ListingCursor cursor(token);
    return cursor.TakeNumber(max, value) && cursor.AtEnd();
}

bool NextNumber(ListingCursor& tokens, std::uint64_t max, std::uint64_t& value) {
    std::string_view token;
    return tokens.NextToken(token) && ReadWholeNumber(token, max, value);
}

bool NextText(ListingCursor& tokens, char* buffer, std::size_t size) {
    std::string_view token;
    if (!tokens.NextToken(token)) return false;
    CopyCapped(buffer, size, token);
    return true;
}

bool NextMonth(ListingCursor& tokens, SYSTEMTIME& date) {
    std::string_view token;
    if (!tokens.NextToken(token)) return false;
    date.wMonth = static_cast<WORD>(MonthFromName(token));
    return date.wMonth != 0;
}

// "day hh:mm" or "day year", after the month.
bool NextDayAndTime(ListingCursor& tokens, const ListingContext& context, SYSTEMTIME& date) {
    std::string_view day;
    std::string_view timeOrYear;
    return tokens.NextToken(day) && tokens.NextToken(timeOrYear) &&
           ReadUnixDayAndTime(day, timeOrYear, context.now, date) && FinishDate(date);
}

// The columns "size month day time-or-year" that UNIX-like layouts end with.
bool NextSizeAndDate(ListingCursor& tokens, const ListingContext& context, ListingEntry& entry) {
    return NextNumber(tokens, kMaxSize, entry.fields.size) &&
           NextMonth(tokens, entry.fields.date) &&
           NextDayAndTime(tokens, context, entry.fields.date);
}

// A link's name is cut at " -> ", and a link whose target is not shown is
// taken for a directory.
void SplitLink(std::string_view& name, ListingEntry& entry) {
    if (!entry.link) return;
    constexpr std::string_view kArrow = " -> ";
    const std::size_t arrow = name.find(kArrow);
    if (arrow == std::string_view::npos) {
        entry.fields.directory = 1;
        return;
    }
    CopyCapped(entry.linkTarget.data(), entry.linkTarget.size(),
               name.substr(arrow + kArrow.size()));
    name = name.substr(0, arrow);
}

// The rest of the line is the name (a link's split from its target).
bool TakeNameAndLink(ListingCursor& tokens, ListingEntry& entry) {
    std::string_view name = tokens.TakeRestAfterSeparator();
    SplitLink(name, entry);
    if (name.empty()) return false;
    CopyCapped(entry.fields.name, name);
    return true;
}

void MarkLink(ListingEntry& entry) {
    entry.link = true;
    entry.fields.permissions |= FTP_PERM_SYMLINK;
}

LineResult Outcome(bool parsed) {
    return parsed ? LineResult::Parsed : LineResult::Failed;
}

// ---- UNIX ----------------------------------------------------------------------

constexpr std::string_view kUnixRights = "rwxrwxrwx";

void ReadUnixType(char type, ListingEntry& entry) {
    if (type == 'd') entry.fields.directory = 1;
    if (type == 'l') MarkLink(entry);
}

// Only the letter of its place sets a bit: an 's' or 't' sets no execute bit.
std::uint32_t UnixRightsBits(std::string_view rights) {
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < kUnixRights.size() && i < rights.size(); ++i)
        if (rights[i] == kUnixRights[i]) bits |= 0x100u >> i;
    return bits;
}

// A UNIX-like line is read by the shape of its fields rather than by fixed
// columns: the mode (with an ACL marker, and a link count glued to it on some
// servers), then columns up to the size, the first date after a size, and the
// name. The columns between the link count and the size are the owner and the
// group, which may hold blanks ("Domain Users"); a lone column is the group.
constexpr std::size_t kMaxUnixTokens = 48;

struct UnixTokens {
    std::array<std::string_view, kMaxUnixTokens> token{};
    std::size_t count = 0;
};

UnixTokens SplitUnixTokens(std::string_view line) {
    UnixTokens tokens;
    ListingCursor cursor(line);
    while (tokens.count < kMaxUnixTokens && cursor.NextToken(tokens.token[tokens.count]))
        ++tokens.count;
    return tokens;
}

// "drwxr-xr-x", "-rw-r--r--+", "drwxr-x---+1464": the rights, and the link
// count when it is glued on.
bool ReadUnixMode(std::string_view mode, ListingEntry& entry, bool& hasLinks) {
    constexpr std::size_t kModeLength = 10;
    if (mode.size() < kModeLength) return false;
    ReadUnixType(mode.front(), entry);
    entry.fields.permissions |= UnixRightsBits(mode.substr(1, kModeLength - 1));
    std::string_view rest = mode.substr(kModeLength);
    if (!rest.empty() && std::string_view("+.@").find(rest.front()) != std::string_view::npos)
        rest.remove_prefix(1);
    hasLinks = !rest.empty();
    if (!hasLinks) return true;
    std::uint64_t links = 0;
    if (!ReadWholeNumber(rest, UINT32_MAX, links)) return false;
    entry.fields.linkCount = static_cast<std::uint32_t>(links);
    return true;
}

// "1234", or "33.5k" (K, M, G, T: powers of 1024).
bool ReadUnixSize(std::string_view token, std::uint64_t& size) {
    if (ReadWholeNumber(token, kMaxSize, size)) return true;
    static constexpr std::string_view kUnits = "KMGT";
    if (token.size() < 2) return false;
    const std::size_t unit = kUnits.find(static_cast<char>(token.back() & ~0x20));
    if (unit == std::string_view::npos) return false;
    ListingCursor cursor(token.substr(0, token.size() - 1));
    std::uint64_t whole = 0;
    std::uint64_t tenths = 0;
    if (!cursor.TakeNumber(UINT32_MAX, whole)) return false;
    if (cursor.Skip('.')) {
        unsigned digit = 0;
        if (!cursor.TakeFixedDigits(1, digit)) return false;
        tenths = digit;
        cursor.SkipWhile(ListingCursor::IsDigit);
    }
    if (!cursor.AtEnd()) return false;
    const std::uint64_t scale = std::uint64_t{1} << (10 * (unit + 1));
    size = whole * scale + tenths * scale / 10;
    return true;
}

// A device's "major, minor" (as two tokens or one) stands where the size would:
// the entry gets size 0. The first column of the pair, or 0 when it is none.
std::size_t DevicePairStart(const UnixTokens& tokens, std::size_t last) {
    std::uint64_t number = 0;
    std::string_view token = tokens.token[last];
    const std::size_t comma = token.find(',');
    if (comma != std::string_view::npos && comma + 1 < token.size() &&
        ReadWholeNumber(token.substr(0, comma), UINT32_MAX, number) &&
        ReadWholeNumber(token.substr(comma + 1), UINT32_MAX, number))
        return last;
    if (last < 2 || !ReadWholeNumber(token, UINT32_MAX, number)) return 0;
    std::string_view major = tokens.token[last - 1];
    if (!major.ends_with(',')) return 0;
    return ReadWholeNumber(major.substr(0, major.size() - 1), UINT32_MAX, number) ? last - 1 : 0;
}

// The owner and group columns between first and end (exclusive).
void ReadUnixColumns(std::string_view line, const UnixTokens& tokens, std::size_t first,
                     std::size_t end, ListingEntry& entry) {
    if (first >= end) return;
    if (end - first == 1) {
        CopyCapped(entry.fields.group, tokens.token[first]);
        return;
    }
    CopyCapped(entry.fields.owner, tokens.token[first]);
    const char* from = tokens.token[first + 1].data();
    const char* to = tokens.token[end - 1].data() + tokens.token[end - 1].size();
    CopyCapped(entry.fields.group, line.substr(from - line.data(), to - from));
}

// Where the size column is and where the columns before it end.
struct UnixSizeColumn {
    std::size_t at = 0;   // the size token (the minor number of a device)
    std::size_t end = 0;  // the first token after the owner and group
};

// The size column in front of tokens[at], or false.
bool SizeColumnBefore(const UnixTokens& tokens, std::size_t at, std::size_t first,
                      ListingEntry& entry, UnixSizeColumn& column) {
    if (at <= first) return false;
    const std::size_t device = DevicePairStart(tokens, at - 1);
    if (device >= first && device != 0) {
        entry.fields.size = 0;
        column = {at - 1, device};
        return true;
    }
    if (!ReadUnixSize(tokens.token[at - 1], entry.fields.size)) return false;
    column = {at - 1, at - 1};
    return true;
}

// The name after the token that ends at nameFrom: one separator, then all of
// the rest but the line end, blanks included.
bool TakeUnixName(std::string_view line, std::size_t nameFrom, ListingEntry& entry) {
    std::string_view name = line.substr(std::min(nameFrom + 1, line.size()));
    while (!name.empty() && (name.back() == '\r' || name.back() == '\n'))
        name.remove_suffix(1);
    if (name.find_first_not_of(" \t") == std::string_view::npos) return false;
    SplitLink(name, entry);
    CopyCapped(entry.fields.name, name);
    return !name.empty();
}

// What follows a size without a date must not look like a broken date: a
// month name or a number first, or a number second.
bool BeginsLikeADate(const UnixTokens& tokens, std::size_t at) {
    const auto numeric = [&](std::size_t i) {
        return i < tokens.count && ListingCursor::IsDigit(tokens.token[i].front());
    };
    return MonthFromName(tokens.token[at]) != 0 || numeric(at) || numeric(at + 1);
}

// Lines without a date: the size is the last number among the first columns,
// and the name follows it.
bool ReadUndatedUnixColumns(const UnixTokens& tokens, std::size_t first, ListingEntry& entry,
                            UnixSizeColumn& column) {
    constexpr std::size_t kLastSizeColumn = 4;
    bool found = false;
    for (std::size_t at = first; at + 1 < tokens.count && at <= kLastSizeColumn; ++at) {
        std::uint64_t size = 0;
        if (ReadUnixSize(tokens.token[at], size)) {
            entry.fields.size = size;
            column = {at, at};
            found = true;
        }
    }
    return found && !BeginsLikeADate(tokens, column.at + 1);
}

bool IsMsDosSystem(int systemType) {
    return systemType == kListingSystemMsDos || systemType == kListingSystemWindows;
}

// ---- VMS -----------------------------------------------------------------------

constexpr std::uint64_t kVmsBlockSize = 512;

// "NAME.EXT;VERSION"; a ".DIR" extension marks a directory and is dropped.
bool ReadVmsName(std::string_view token, ListingEntry& entry) {
    std::size_t semicolon = token.find(';');
    std::string_view name = token.substr(0, semicolon);
    if (semicolon != std::string_view::npos) {
        std::uint64_t version = 0;
        if (!ReadWholeNumber(token.substr(semicolon + 1), UINT32_MAX, version)) return false;
        entry.fields.version = static_cast<std::uint32_t>(version);
    }
    std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && EqualsIgnoreCase(name.substr(dot + 1), "DIR")) {
        entry.fields.directory = 1;
        name = name.substr(0, dot);
    }
    if (name.empty()) return false;
    CopyCapped(entry.fields.name, name);
    return true;
}

// Used blocks, optionally followed by "/allocated"; or bytes with a unit
// ("2KB", "12K", "3MB": powers of 1024), as some servers print them.
bool ReadVmsSize(std::string_view token, ListingEntry& entry) {
    ListingCursor cursor(token);
    std::uint64_t count = 0;
    if (!cursor.TakeNumber(kMaxSize, count)) return false;
    std::uint64_t allocated = 0;
    if (cursor.Skip('/')) {
        if (!cursor.TakeNumber(kMaxSize, allocated) || !cursor.AtEnd()) return false;
    }
    char unit = 0;
    if (!cursor.Take(unit)) {
        if (count > kMaxSize / kVmsBlockSize) return false;
        entry.fields.size = count * kVmsBlockSize;
        return true;
    }
    static constexpr std::string_view kUnits = "KMGT";
    const std::size_t power = kUnits.find(static_cast<char>(unit & ~0x20));
    if (power == std::string_view::npos) return false;
    char byteMark = 0;
    if (cursor.Take(byteMark) && (byteMark & ~0x20) != 'B') return false;
    if (!cursor.AtEnd()) return false;
    const unsigned shift = static_cast<unsigned>(10 * (power + 1));
    if (count > (kMaxSize >> shift)) return false;
    entry.fields.size = count << shift;
    return true;
}

// "[GROUP,OWNER]", or "[OWNER]".
void ReadVmsOwner(std::string_view token, ListingEntry& entry) {
    ListingCursor cursor(token.substr(1));
    std::string_view inside = cursor.TakeUntil(']');
    std::size_t comma = inside.find(',');
    if (comma == std::string_view::npos) {
        CopyCapped(entry.fields.owner, inside);
        return;
    }
    CopyCapped(entry.fields.group, inside.substr(0, comma));
    CopyCapped(entry.fields.owner, inside.substr(comma + 1));
}

// "(system,owner,group,world)", each a set of the letters R, W, E (and D,
// which has no bit here).
std::uint32_t VmsAccessBits(std::string_view token) {
    struct Right {
        char letter;
        std::uint32_t ownerBit;
    };
    static constexpr Right kRights[] = {
        {'R', FTP_PERM_OWNER_READ}, {'W', FTP_PERM_OWNER_WRITE}, {'E', FTP_PERM_OWNER_EXECUTE}};
    ListingCursor cursor(token.substr(1));
    std::string_view inside = cursor.TakeUntil(')');
    ListingCursor fields(inside);
    std::uint32_t bits = 0;
    for (int field = 0; field < 4; ++field) {
        std::string_view letters = fields.TakeUntil(',');
        int shift = 3 * (field - 1);  // system (field 0) has no bits of its own
        for (const Right& right : kRights)
            if (field > 0 && letters.find(right.letter) != std::string_view::npos)
                bits |= right.ownerBit >> shift;
        if (!fields.Skip(',')) break;
    }
    return bits;
}

// The columns after the name, in any order: the size, the date, the time
// ("16:09", "16:09:22.51"), the owner in brackets and the access in
// parentheses (either may hold blanks). Size and date are needed; no column
// may come twice.
bool IsVmsDate(std::string_view token) {
    return token.find('-') != std::string_view::npos;
}
bool IsVmsTime(std::string_view token) {
    return token.find(':') != std::string_view::npos;
}
bool IsVmsOwner(std::string_view token) {
    return token.starts_with('[');
}
bool IsVmsAccess(std::string_view token) {
    return token.starts_with('(');
}
bool IsVmsSize(std::string_view token) {
    return ListingCursor::IsDigit(token.front());
}

bool ReadVmsDateColumn(std::string_view text, ListingEntry& entry) {
    return ReadVmsDate(text, entry.fields.date);
}
bool ReadVmsTimeColumn(std::string_view text, ListingEntry& entry) {
    ListingCursor clock(text);
    if (!ReadClock(clock, entry.fields.date)) return false;
    if (clock.Skip('.')) clock.SkipWhile(ListingCursor::IsDigit);
    return clock.AtEnd();
}
bool ReadVmsOwnerColumn(std::string_view text, ListingEntry& entry) {
    ReadVmsOwner(text, entry);
    return true;
}
bool ReadVmsAccessColumn(std::string_view text, ListingEntry& entry) {
    entry.fields.permissions = VmsAccessBits(text);
    return true;
}

struct VmsColumn {
    bool (*looksLike)(std::string_view token);
    bool (*read)(std::string_view text, ListingEntry& entry);
    char close;  // ends a column that may hold blanks; 0 for a single token
};

enum VmsColumnIndex : std::size_t { kVmsDate, kVmsTime, kVmsOwner, kVmsAccess, kVmsSize };

constexpr VmsColumn kVmsColumns[] = {
    {IsVmsDate, ReadVmsDateColumn, 0},     {IsVmsTime, ReadVmsTimeColumn, 0},
    {IsVmsOwner, ReadVmsOwnerColumn, ']'}, {IsVmsAccess, ReadVmsAccessColumn, ')'},
    {IsVmsSize, ReadVmsSize, 0},
};

// The token, or for a bracketed column with blanks, all of it up to its close.
std::string_view VmsColumnText(std::string_view token, char close, ListingCursor& tokens) {
    if (close == 0 || token.find(close) != std::string_view::npos) return token;
    std::string_view more = tokens.TakeUntil(close);
    if (!tokens.Skip(close)) return {};
    return {token.data(), static_cast<std::size_t>(more.data() + more.size() + 1 - token.data())};
}

bool ReadVmsColumns(ListingCursor& tokens, ListingEntry& entry) {
    std::array<bool, std::size(kVmsColumns)> seen{};
    bool unknownTail = false;
    std::string_view token;
    while (tokens.NextToken(token)) {
        std::size_t index = 0;
        while (index < seen.size() && !kVmsColumns[index].looksLike(token))
            ++index;
        // Columns this parser does not know end the line once size and date
        // are read; the entry then gets no permissions rather than all.
        unknownTail = index == seen.size() && seen[kVmsSize] && seen[kVmsDate];
        if (unknownTail) break;
        if (index == seen.size() || seen[index]) return false;
        std::string_view text = VmsColumnText(token, kVmsColumns[index].close, tokens);
        if (text.empty() || !kVmsColumns[index].read(text, entry)) return false;
        seen[index] = true;
    }
    if (!seen[kVmsSize] || !seen[kVmsDate] || !FinishDate(entry.fields.date)) return false;
    if (!seen[kVmsOwner] && !seen[kVmsAccess] && !unknownTail)
        entry.fields.permissions = kAllPermissions;
    return true;
}

// ---- Sterling ------------------------------------------------------------------

constexpr std::size_t kSterlingStatusLength = 10;

// Each letter of the status column sets bit (letter - 'A').
bool ReadSterlingStatus(std::string_view status, ListingEntry& entry) {
    for (char c : status.substr(0, kSterlingStatusLength)) {
        if (c == '-') continue;
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c < 'A' || c > 'Z') return false;
        entry.fields.permissions |= 1u << (c - 'A');
    }
    return true;
}

std::uint32_t SterlingProtocolBit(std::string_view protocol) {
    struct Protocol {
        std::string_view name;
        std::uint32_t bit;
    };
    static constexpr Protocol kProtocols[] = {
        {"TCP", FTP_STERLING_STATUS_TCP}, {"FTP", FTP_STERLING_STATUS_FTP},
        {"BSC", FTP_STERLING_STATUS_BSC}, {"ASC", FTP_STERLING_STATUS_ASC},
        {"FTS", FTP_STERLING_STATUS_FTS},
    };
    for (const Protocol& entry : kProtocols)
        if (entry.name == protocol) return entry.bit;
    return FTP_STERLING_STATUS_OTHER;
}

// Two columns make the owner ("B QUA1I1"); format 2 marks its group with '#'.
bool ReadSterlingColumns(ListingCursor& tokens, int format, ListingEntry& entry) {
    std::string_view first;
    std::string_view second;
    std::string_view group;
    if (!tokens.NextToken(first) || !tokens.NextToken(second) || !tokens.NextToken(group))
        return false;
    char owner[FTP_ENTRY_OWNER_SIZE] = {};
    CopyCapped(owner, first);
    std::string_view ownerSoFar(owner);
    if (ownerSoFar.size() + 1 < sizeof owner) {
        owner[ownerSoFar.size()] = ' ';
        CopyCapped(owner + ownerSoFar.size() + 1, sizeof owner - ownerSoFar.size() - 1, second);
    }
    CopyCapped(entry.fields.owner, owner);
    if (format == FTP_DIRECTORY_STERLING2) {
        if (first == "1") entry.fields.permissions |= FTP_STERLING_STATUS_FTP;
        entry.fields.group[0] = '#';
        CopyCapped(entry.fields.group + 1, sizeof entry.fields.group - 1, group);
    } else {
        CopyCapped(entry.fields.group, group);
    }
    return true;
}

LineResult ParseSterlingLine(std::string_view line, int format, const ListingContext& context,
                             ListingEntry& entry) {
    const std::size_t statusLength = format == FTP_DIRECTORY_STERLING1 ? 13 : 10;
    ListingCursor tokens(line);
    std::string_view status;
    if (!tokens.NextToken(status) || status.size() != statusLength) return LineResult::Failed;
    if (!ReadSterlingStatus(status, entry)) return LineResult::Failed;
    if (format == FTP_DIRECTORY_STERLING1)
        entry.fields.permissions |= SterlingProtocolBit(status.substr(kSterlingStatusLength));
    return Outcome(ReadSterlingColumns(tokens, format, entry) &&
                   NextSizeAndDate(tokens, context, entry) && TakeName(tokens, entry));
}

// ---- NetWare -------------------------------------------------------------------

std::uint32_t NetWareRightsBits(std::string_view rights) {
    struct Right {
        char letter;
        std::uint32_t bits;
    };
    static constexpr Right kRights[] = {{'R', 0x1A4}, {'W', 0x92}, {'F', 0x124}};
    std::uint32_t bits = 0;
    for (char c : rights)
        for (const Right& right : kRights)
            if (c == right.letter || c == right.letter - 'A' + 'a') bits |= right.bits;
    return bits;
}

// The rights in brackets, attached to the type letter ("d[RWCEAFMS]") or in
// the next token.
bool ReadNetWareRights(ListingCursor& tokens, std::string_view first, ListingEntry& entry) {
    std::string_view rights = first.substr(1);
    if (rights.empty() && !tokens.NextToken(rights)) return false;
    if (!rights.starts_with('[')) return false;
    ListingCursor cursor(rights.substr(1));
    entry.fields.permissions |= NetWareRightsBits(cursor.TakeUntil(']'));
    return true;
}

// ---- SFTP ------------------------------------------------------------------------

constexpr std::uint64_t kModeLink = 0x2000;
constexpr std::uint64_t kModeDirectory = 0x4000;
constexpr std::uint64_t kModePermissions = 0xFFF;

bool ReadSftpDateAndTime(ListingCursor& tokens, SYSTEMTIME& date) {
    std::string_view day;
    std::string_view time;
    if (!tokens.NextToken(day) || !tokens.NextToken(time) || !ReadNumericDate(day, date))
        return false;
    ListingCursor clock(time);
    if (!ReadClock(clock, date) || !clock.AtEnd()) return false;
    return FinishDate(date);
}

}  // namespace

bool TakeName(ListingCursor& tokens, ListingEntry& entry) {
    std::string_view name = tokens.TakeRestAfterSeparator();
    if (name.empty()) return false;
    CopyCapped(entry.fields.name, name);
    return true;
}

LineResult ParseUnixLine(std::string_view line, const ListingContext& context,
                         ListingEntry& entry) {
    const UnixTokens tokens = SplitUnixTokens(line);
    bool hasLinks = false;
    if (tokens.count < 3 || !ReadUnixMode(tokens.token[0], entry, hasLinks))
        return LineResult::Failed;
    std::size_t first = 1;
    std::uint64_t links = 0;
    // A number right after the mode is the link count unless it is the size.
    if (!hasLinks && ReadWholeNumber(tokens.token[1], UINT32_MAX, links) &&
        ReadListingDate(std::span(tokens.token).subspan(2, tokens.count - 2), context.now,
                        entry.fields.date) == 0) {
        entry.fields.linkCount = static_cast<std::uint32_t>(links);
        first = 2;
    }
    UnixSizeColumn column;
    std::size_t dateEnd = 0;
    for (std::size_t at = first + 1; at < tokens.count && dateEnd == 0; ++at) {
        if (!SizeColumnBefore(tokens, at, first, entry, column)) continue;
        const std::span rest = std::span(tokens.token).subspan(at, tokens.count - at);
        const std::size_t taken = ReadListingDate(rest, context.now, entry.fields.date);
        if (taken != 0) dateEnd = at + taken;
    }
    if (dateEnd == 0) {
        entry.fields.date = SYSTEMTIME{};
        if (!ReadUndatedUnixColumns(tokens, first, entry, column)) return LineResult::Failed;
        dateEnd = column.at + 1;
    }
    ReadUnixColumns(line, tokens, first, column.end, entry);
    const std::string_view last = tokens.token[dateEnd - 1];
    if (!TakeUnixName(line, static_cast<std::size_t>(last.data() - line.data()) + last.size(),
                      entry))
        return LineResult::Failed;
    if (IsMsDosSystem(context.systemType)) ApplyMsDosDefaultPermissions(entry.fields);
    return LineResult::Parsed;
}

LineResult ParseMsDosLine(std::string_view line, const ListingContext&, ListingEntry& entry) {
    ListingCursor tokens(line);
    std::string_view day;
    std::string_view time;
    std::string_view kind;
    if (!tokens.NextToken(day) || !tokens.NextToken(time) || !tokens.NextToken(kind))
        return LineResult::Failed;
    SYSTEMTIME& date = entry.fields.date;
    ListingCursor clock(time);
    if (!ReadMsDosDate(day, date) || !ReadClock(clock, date)) return LineResult::Failed;
    std::string_view meridiem = clock.TakeRest();
    // Some servers put a blank between the time and "AM"/"PM".
    if (meridiem.empty() && (EqualsIgnoreCase(kind, "AM") || EqualsIgnoreCase(kind, "PM"))) {
        meridiem = kind;
        if (!tokens.NextToken(kind)) return LineResult::Failed;
    }
    if (EqualsIgnoreCase(meridiem, "AM")) {
        if (date.wHour == 12) date.wHour = 0;
    } else if (EqualsIgnoreCase(meridiem, "PM")) {
        if (date.wHour < 12) date.wHour = static_cast<WORD>(date.wHour + 12);
    } else if (!meridiem.empty()) {
        return LineResult::Failed;
    }
    if (!FinishDate(date)) return LineResult::Failed;
    if (EqualsIgnoreCase(kind, "<DIR>"))
        entry.fields.directory = 1;
    else if (!ReadWholeNumber(kind, kMaxSize, entry.fields.size))
        return LineResult::Failed;
    if (!TakeName(tokens, entry)) return LineResult::Failed;
    ApplyMsDosDefaultPermissions(entry.fields);
    return LineResult::Parsed;
}

LineResult ParseVmsLine(std::string_view line, const ListingContext&, ListingEntry& entry) {
    ListingCursor tokens(line);
    std::string_view name;
    if (!tokens.NextToken(name)) return LineResult::Failed;
    if (tokens.Rest().find_first_not_of(" \t\r\n") == std::string_view::npos) {
        bool looksLikeFileName = name.find_first_of(".;") != std::string_view::npos;
        return looksLikeFileName ? LineResult::NeedsNextLine : LineResult::Failed;
    }
    return Outcome(ReadVmsName(name, entry) && ReadVmsColumns(tokens, entry));
}

LineResult ParseSterling1Line(std::string_view line, const ListingContext& context,
                              ListingEntry& entry) {
    return ParseSterlingLine(line, FTP_DIRECTORY_STERLING1, context, entry);
}

LineResult ParseSterling2Line(std::string_view line, const ListingContext& context,
                              ListingEntry& entry) {
    return ParseSterlingLine(line, FTP_DIRECTORY_STERLING2, context, entry);
}

LineResult ParseNetWareLine(std::string_view line, const ListingContext& context,
                            ListingEntry& entry) {
    ListingCursor tokens(line);
    std::string_view first;
    if (!tokens.NextToken(first)) return LineResult::Failed;
    char type = first.front();
    if (type == 'D') type = 'd';
    if (type == 'L') type = 'l';
    ReadUnixType(type, entry);
    return Outcome(ReadNetWareRights(tokens, first, entry) &&
                   NextText(tokens, entry.fields.owner, sizeof entry.fields.owner) &&
                   NextSizeAndDate(tokens, context, entry) && TakeNameAndLink(tokens, entry));
}

LineResult ParseSftpLine(std::string_view line, const ListingContext&, ListingEntry& entry) {
    ListingCursor tokens(line);
    std::uint64_t mode = 0;
    std::uint64_t links = 0;
    if (!NextNumber(tokens, UINT32_MAX, mode) || !NextNumber(tokens, UINT32_MAX, links))
        return LineResult::Failed;
    entry.fields.permissions = static_cast<std::uint32_t>(mode & kModePermissions);
    if (mode & kModeLink) MarkLink(entry);
    if (mode & kModeDirectory) entry.fields.directory = 1;
    entry.fields.linkCount = static_cast<std::uint32_t>(links);
    return Outcome(NextText(tokens, entry.fields.owner, sizeof entry.fields.owner) &&
                   NextText(tokens, entry.fields.group, sizeof entry.fields.group) &&
                   NextNumber(tokens, kMaxSize, entry.fields.size) &&
                   ReadSftpDateAndTime(tokens, entry.fields.date) && TakeName(tokens, entry));
}

}  // namespace ftp
