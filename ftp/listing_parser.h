// Turns directory-listing lines (UNIX, MS-DOS, VMS, Sterling, NetWare, EPLF,
// OS/2, IBM i, z/OS, MLSD facts and the SFTP client's lines) into directory entries. Pure functions of
// the text and a small state: no sockets, no clock, no session.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "ftp/listing.h"

namespace ftp {

// The longest listing line the session's line buffer keeps.
inline constexpr std::size_t kListingLineMax = 1023;

// What the parser of one listing needs to know, and what it carries from line
// to line.
class ListingParserState {
  public:
    // FTP_DIRECTORY_*. While it is FTP_DIRECTORY_AUTO every line is tested and
    // the first format recognised is stored here for the rest of the listing;
    // the layouts without a format number of their own (EPLF, OS/2, IBM i,
    // z/OS) are recognised line by line and leave it at FTP_DIRECTORY_AUTO.
    int format = FTP_DIRECTORY_AUTO;
    // The session's system type (FTP_SYSTEM_*; 0 when unknown).
    int systemType = 0;
    // NLST listings: every line is just a name, cut at its first blank.
    bool nameOnly = false;
    // Secure-shell sessions: every line is one of the SFTP client's lines.
    bool secureShell = false;
    // The local date and time of the listing: lines that give a time instead of
    // a year are dated relative to it.
    SYSTEMTIME now{};

    // A VMS name that filled its line, waiting for the line with its details.
    bool HasPendingLine() const { return pendingLength_ != 0; }
    std::string_view PendingLine() const { return {pending_.data(), pendingLength_}; }
    void KeepPendingLine(std::string_view line);
    void DropPendingLine() { pendingLength_ = 0; }

  private:
    std::array<char, kListingLineMax> pending_{};
    std::size_t pendingLength_ = 0;
};

// A listing entry as the session keeps it: the record's fields, plus what only
// the session needs to know about symbolic links.
struct ListingEntry {
    FtpDirectoryEntry fields{};  // fields.directory: a directory, not a link
    bool link = false;
    std::array<char, FTP_ENTRY_NAME_SIZE> linkTarget{};  // after " -> "; empty when unknown

    std::string_view LinkTarget() const { return linkTarget.data(); }
    // The record handed out: its directory flag is also set for links.
    FtpDirectoryEntry Record() const;
};

// Parses one listing line. False, leaving entry unchanged, when the line gives
// no entry: it does not parse, its format is not recognised (yet), or it is
// the first half of a VMS entry (see HasPendingLine). Never reads outside line.
bool ParseListingLine(ListingParserState& state, std::string_view line, ListingEntry& entry);
bool ParseListingLine(ListingParserState& state, std::string_view line, FtpDirectoryEntry& entry);

// Parses MLSD/MLST facts ("type=file;size=10; a.txt"), also inside a status
// reply whose first line is text. False, leaving entry unchanged, when there
// is no fact or no name.
bool ParseFacts(std::string_view facts, FtpDirectoryEntry& entry);

// The format that the line's look suggests for the session's system type (one
// of the internal layout numbers for EPLF, OS/2, IBM i and z/OS lines), or
// FTP_DIRECTORY_AUTO when none fits.
int DetectListingFormat(int systemType, std::string_view line);

// A "total 12" line that UNIX servers put before the entries.
bool IsListingTotalLine(std::string_view line);

// The month number (1 to 12) of a month name in any of the languages that
// servers use, case and Latin-1 accents ignored; 0 for anything else.
int MonthFromName(std::string_view token);

// 0 is Sunday.
WORD DayOfWeek(int year, int month, int day);

// What MS-DOS and Windows listings imply when they say nothing: directories
// read and write for all, files read for all and executable by extension.
// Only applied to an entry without permissions.
void ApplyMsDosDefaultPermissions(FtpDirectoryEntry& entry);

}  // namespace ftp
