// Format detection and the dispatch of listing lines to their format's parser.
#include "ftp/listing_parser.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "ftp/listing_fields.h"

namespace ftp {
namespace {

// ---- Detection by the look of the first token ----------------------------------

constexpr std::string_view kUnixRights = "rwxrwxrwx";
constexpr std::size_t kUnixModeLength = 10;

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// "drwxr-sr-x": the type, then each place '-' or its own letter; the execute
// places take any letter (s, S, t, T). Some servers append a marker for
// extended attributes or ACLs ('+', '.', '@'), and some glue the link count on.
bool LooksLikeUnixMode(std::string_view token) {
    while (token.size() > kUnixModeLength && ListingCursor::IsDigit(token.back()))
        token.remove_suffix(1);
    if (token.size() == kUnixModeLength + 1 &&
        std::string_view("+.@").find(token.back()) != std::string_view::npos)
        token.remove_suffix(1);
    if (token.size() != kUnixModeLength) return false;
    if (!IsLetter(token[0]) && token[0] != '-') return false;
    for (std::size_t place = 1; place < kUnixModeLength; ++place) {
        char c = token[place];
        bool executePlace = place % 3 == 0;
        if (c != '-' && c != kUnixRights[place - 1] && !executePlace) return false;
    }
    return true;
}

bool StartsWithDigit(std::string_view token) {
    return ListingCursor::IsDigit(token.front());
}

bool HoldsDotOrSemicolon(std::string_view token) {
    return token.find_first_of(".;") != std::string_view::npos;
}

// "d [RWCEAFMS]" or "-[R----F--]".
bool LooksLikeNetWare(std::string_view token) {
    char type = token.front();
    bool typeLetter = std::string_view("-dDlL").find(type) != std::string_view::npos;
    return typeLetter && (token.size() == 1 || token[1] == '[');
}

// A status column of letters and '-', 13 characters with the protocol
// (format 1) or 10 without (format 2).
int SterlingFormatOf(std::string_view token) {
    if (token.size() != 13 && token.size() != 10) return FTP_DIRECTORY_AUTO;
    for (char c : token.substr(0, 10))
        if (!IsLetter(c) && c != '-') return FTP_DIRECTORY_AUTO;
    return token.size() == 13 ? FTP_DIRECTORY_STERLING1 : FTP_DIRECTORY_STERLING2;
}

// With an unknown system type, an MS-DOS line is recognised by its complete
// date and time columns rather than by a leading digit alone.
bool LooksLikeMsDosLine(std::string_view line) {
    ListingContext context;
    ListingEntry entry;
    return ParseMsDosLine(line, context, entry) == LineResult::Parsed;
}

// "NAME.EXT;3" followed by VMS columns, or alone (its columns come on the next line).
bool LooksLikeVmsLine(std::string_view line) {
    std::string_view token;
    ListingCursor cursor(line);
    if (!cursor.NextToken(token)) return false;
    const std::size_t semicolon = token.rfind(';');
    if (semicolon == std::string_view::npos || semicolon + 1 == token.size()) return false;
    for (char c : token.substr(semicolon + 1))
        if (!ListingCursor::IsDigit(c)) return false;
    ListingContext context;
    ListingEntry entry;
    return ParseVmsLine(line, context, entry) != LineResult::Failed;
}

struct SystemFormatTest {
    int systemType;
    bool (*matches)(std::string_view firstToken);
    int format;
};

constexpr SystemFormatTest kSystemFormatTests[] = {
    {kListingSystemUnix, LooksLikeUnixMode, FTP_DIRECTORY_UNIX},
    {kListingSystemMsDos, StartsWithDigit, FTP_DIRECTORY_MSDOS},
    {kListingSystemWindows, StartsWithDigit, FTP_DIRECTORY_MSDOS},
    {kListingSystemVms, HoldsDotOrSemicolon, FTP_DIRECTORY_VMS},
    {kListingSystemNetWare, LooksLikeNetWare, FTP_DIRECTORY_NETWARE},
};

// ---- Dispatch ------------------------------------------------------------------

using LineParser = LineResult (*)(std::string_view, const ListingContext&, ListingEntry&);

// Layouts that only a whole line tells apart, tried first whatever the system
// type: a leading number (OS/2) or a ten-letter owner (IBM i) would otherwise
// be taken for MS-DOS or Sterling. Their parsers fail on any other layout.
struct LineFamily {
    LineParser parse;
    int format;
};

constexpr LineFamily kLineFamilies[] = {
    {ParseEplfLine, kListingFamilyEplf}, {ParseOs2Line, kListingFamilyOs2},
    {ParseIbmILine, kListingFamilyIbmI}, {ParseMvsLine, kListingFamilyMvs},
    {ParseZvmLine, kListingFamilyZvm},   {ParseVxWorksLine, kListingFamilyVxWorks},
    {ParseOs9Line, kListingFamilyOs9},   {ParseNonStopLine, kListingFamilyNonStop},
};

bool IsLineFamily(int format) {
    return std::any_of(std::begin(kLineFamilies), std::end(kLineFamilies),
                       [&](const LineFamily& family) { return family.format == format; });
}

struct FormatParser {
    int format;
    LineParser parse;
};

constexpr FormatParser kFormatParsers[] = {
    {FTP_DIRECTORY_UNIX, ParseUnixLine},
    {FTP_DIRECTORY_MSDOS, ParseMsDosLine},
    {FTP_DIRECTORY_VMS, ParseVmsLine},
    {FTP_DIRECTORY_STERLING1, ParseSterling1Line},
    {FTP_DIRECTORY_STERLING2, ParseSterling2Line},
    {FTP_DIRECTORY_NETWARE, ParseNetWareLine},
    {FTP_DIRECTORY_SFTP, ParseSftpLine},
    {kListingFamilyEplf, ParseEplfLine},
    {kListingFamilyOs2, ParseOs2Line},
    {kListingFamilyIbmI, ParseIbmILine},
    {kListingFamilyMvs, ParseMvsLine},
    {kListingFamilyZvm, ParseZvmLine},
    {kListingFamilyVxWorks, ParseVxWorksLine},
    {kListingFamilyOs9, ParseOs9Line},
    {kListingFamilyNonStop, ParseNonStopLine},
};

LineParser ParserOf(int format) {
    for (const FormatParser& entry : kFormatParsers)
        if (entry.format == format) return entry.parse;
    return nullptr;
}

bool FirstToken(std::string_view line, std::string_view& token) {
    ListingCursor cursor(line);
    return cursor.NextToken(token);
}

// A VMS name line followed by its details line, as one line.
class JoinedLine {
  public:
    // False when the two do not fit in a listing line together.
    bool Join(std::string_view first, std::string_view second) {
        if (first.size() + 1 + second.size() > text_.size()) return false;
        std::memcpy(text_.data(), first.data(), first.size());
        text_[first.size()] = ' ';
        std::memcpy(text_.data() + first.size() + 1, second.data(), second.size());
        length_ = first.size() + 1 + second.size();
        return true;
    }
    std::string_view view() const { return {text_.data(), length_}; }

  private:
    std::array<char, kListingLineMax> text_{};
    std::size_t length_ = 0;
};

constexpr std::string_view kExecutableExtensions[] = {"BAT", "CMD", "COM", "EXE", "PIF"};

bool HasExecutableExtension(std::string_view name) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return false;
    std::string_view extension = name.substr(dot + 1);
    return std::any_of(std::begin(kExecutableExtensions), std::end(kExecutableExtensions),
                       [&](std::string_view known) { return EqualsIgnoreCase(extension, known); });
}

bool ParseByFormat(ListingParserState& state, std::string_view line, ListingEntry& entry) {
    int format = state.secureShell ? FTP_DIRECTORY_SFTP : state.format;
    if (format == FTP_DIRECTORY_AUTO) {
        format = DetectListingFormat(state.systemType, line);
        if (format == FTP_DIRECTORY_AUTO) return false;
        if (!IsLineFamily(format)) state.format = format;
    }
    LineParser parse = ParserOf(format);
    if (parse == nullptr) return false;
    ListingContext context{state.systemType, state.now};
    switch (parse(line, context, entry)) {
        case LineResult::Parsed:
            return true;
        case LineResult::NeedsNextLine:
            state.KeepPendingLine(line);
            return false;
        case LineResult::Failed:
            break;
    }
    return false;
}

bool ParseWholeLine(ListingParserState& state, std::string_view line, ListingEntry& entry) {
    if (state.format == FTP_DIRECTORY_MLSD) return ParseFacts(line, entry.fields);
    std::string_view first;
    if (state.nameOnly && FirstToken(line, first)) {
        CopyCapped(entry.fields.name, first);
        return true;
    }
    return ParseByFormat(state, line, entry);
}

}  // namespace

void CopyCapped(char* buffer, std::size_t size, std::string_view text) {
    if (size == 0) return;
    std::size_t length = std::min(text.size(), size - 1);
    if (length < text.size()) {
        // Step back to the lead byte of a UTF-8 sequence that does not fit.
        auto continuation = [&](std::size_t at) {
            return (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
        };
        constexpr int kMaxContinuationBytes = 3;
        std::size_t cut = length;
        for (int i = 0; i < kMaxContinuationBytes && cut > 0 && continuation(cut); ++i)
            --cut;
        if (!continuation(cut)) length = cut;
    }
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

void ListingParserState::KeepPendingLine(std::string_view line) {
    pendingLength_ = std::min(line.size(), pending_.size());
    std::memcpy(pending_.data(), line.data(), pendingLength_);
}

FtpDirectoryEntry ListingEntry::Record() const {
    FtpDirectoryEntry record = fields;
    if (link) record.directory = 1;
    record.reserved = 0;
    return record;
}

int DetectListingFormat(int systemType, std::string_view line) {
    std::string_view token;
    if (!FirstToken(line, token)) return FTP_DIRECTORY_AUTO;
    for (const LineFamily& family : kLineFamilies) {
        const ListingContext context{systemType, SYSTEMTIME{}};
        ListingEntry entry;
        if (family.parse(line, context, entry) == LineResult::Parsed) return family.format;
    }
    for (const SystemFormatTest& test : kSystemFormatTests)
        if (test.systemType == systemType && test.matches(token)) return test.format;
    if (LooksLikeUnixMode(token)) return FTP_DIRECTORY_UNIX;
    int sterling = SterlingFormatOf(token);
    if (sterling != FTP_DIRECTORY_AUTO) return sterling;
    if (LooksLikeMsDosLine(line)) return FTP_DIRECTORY_MSDOS;
    if (LooksLikeVmsLine(line)) return FTP_DIRECTORY_VMS;
    return FTP_DIRECTORY_AUTO;
}

bool IsListingTotalLine(std::string_view line) {
    return line.starts_with("total ");
}

void ApplyMsDosDefaultPermissions(FtpDirectoryEntry& entry) {
    constexpr std::uint32_t kDirectoryDefault = 0x1B6;
    constexpr std::uint32_t kFileDefault = 0x124;
    constexpr std::uint32_t kExecuteForAll = 0x49;
    if (entry.permissions != 0) return;
    if (entry.directory) {
        entry.permissions = kDirectoryDefault;
        return;
    }
    entry.permissions = kFileDefault;
    if (HasExecutableExtension(entry.name)) entry.permissions |= kExecuteForAll;
}

bool ParseListingLine(ListingParserState& state, std::string_view line, ListingEntry& entry) {
    std::string_view first;
    if (!FirstToken(line, first)) return false;
    JoinedLine joined;
    if (state.HasPendingLine()) {
        if (joined.Join(state.PendingLine(), line)) line = joined.view();
        state.DropPendingLine();
    }
    // No listing holds a NUL: one would cut a name short, into another name or
    // none at all, so such a line is dropped, as is any entry without a name.
    if (line.find('\0') != std::string_view::npos) return false;
    ListingEntry parsed;
    if (!ParseWholeLine(state, line, parsed) || parsed.fields.name[0] == '\0') return false;
    entry = parsed;
    return true;
}

bool ParseListingLine(ListingParserState& state, std::string_view line, FtpDirectoryEntry& entry) {
    ListingEntry parsed;
    if (!ParseListingLine(state, line, parsed)) return false;
    entry = parsed.Record();
    return true;
}

}  // namespace ftp
