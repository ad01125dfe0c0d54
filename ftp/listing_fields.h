// Pieces shared by the listing parsers: capped text copies, the date fields of
// the various layouts, and the per-format line parsers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "ftp/listing_cursor.h"
#include "ftp/listing_parser.h"

namespace ftp {

// Copies as much of text as fits into a buffer of Size bytes (terminator
// included), never cutting a UTF-8 sequence in two.
void CopyCapped(char* buffer, std::size_t size, std::string_view text);
template <std::size_t Size>
void CopyCapped(char (&buffer)[Size], std::string_view text) {
    CopyCapped(buffer, Size, text);
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// The session's system types (the answer to SYST) that the parsers consult.
enum ListingSystemType : int {
    kListingSystemUnknown = 0,
    kListingSystemUnix = 1,
    kListingSystemMsDos = 2,
    kListingSystemWindows = 3,
    kListingSystemVms = 4,
    kListingSystemNetWare = 5,
};

// ---- Dates -------------------------------------------------------------------
// Every reader fills the fields it reads and fails on a malformed or
// out-of-range field; FinishDate then checks the whole date and sets the day
// of the week.

// "hh:mm", optionally followed by ":ss" (read, not kept); the cursor stays
// after what was read.
bool ReadClock(ListingCursor& cursor, SYSTEMTIME& date);
// A year of two or four digits; two-digit years are 1900 + yy, and 100 more
// below pivotYear.
bool ReadYear(ListingCursor& cursor, int pivotYear, SYSTEMTIME& date);
// The UNIX pair of day and "hh:mm" or year. A time means the most recent such
// date not after now's month: this year, or last year for a later month.
bool ReadUnixDayAndTime(std::string_view day, std::string_view timeOrYear, const SYSTEMTIME& now,
                        SYSTEMTIME& date);
// "mm-dd-yy" or "mm-dd-yyyy".
bool ReadNumericDate(std::string_view token, SYSTEMTIME& date);
// "d-MON-yy" or "dd-MON-yyyy" with any month name of the table.
bool ReadVmsDate(std::string_view token, SYSTEMTIME& date);
bool FinishDate(SYSTEMTIME& date);
// The date of a UNIX-like line in any of the shapes servers print, read from
// the first tokens: month and day ("Jun 7 21:22", "4月 18日 2003年"), day and
// month ("26. Juli 2003"), year, month and day ("2005년 1월 6일"), or numeric
// ("2005-06-07 21:22", "24-04-2003", "09-26 2000", "1999/10/12"), a time
// standing for the most recent such date. How many tokens it took; 0, date
// unchanged, when no shape fits.
std::size_t ReadListingDate(std::span<const std::string_view> tokens, const SYSTEMTIME& now,
                            SYSTEMTIME& date);

// "04-27-2005", "04/27/05" (month first), "2005-04-27" (year first) or
// "27.04.2005" (day first, as European Windows servers write it).
bool ReadMsDosDate(std::string_view token, SYSTEMTIME& date);
// Seconds since 1970-01-01 00:00 UTC as a UTC calendar date.
bool DateFromUnixTime(std::uint64_t seconds, SYSTEMTIME& date);

// ---- Line parsers --------------------------------------------------------------

// The rest of the line after the last token read and its separator is the
// name; false when it is empty.
bool TakeName(ListingCursor& tokens, ListingEntry& entry);

// Layouts beyond the session's documented formats. Each is recognised by the
// look of its line and is never stored as the session's format, so the next
// line is recognised anew and a listing that mixes layouts is still read.
enum ListingFamily : int {
    kListingFamilyEplf = 0x100,
    kListingFamilyOs2,
    kListingFamilyIbmI,
    kListingFamilyMvs,
    kListingFamilyZvm,
    kListingFamilyVxWorks,
    kListingFamilyOs9,
    kListingFamilyNonStop,
};

struct ListingContext {
    int systemType = 0;
    SYSTEMTIME now{};
};

enum class LineResult { Parsed, Failed, NeedsNextLine };

// Each parses a whole line of its format into a zeroed entry.
LineResult ParseUnixLine(std::string_view line, const ListingContext& context, ListingEntry& entry);
LineResult ParseMsDosLine(std::string_view line, const ListingContext& context,
                          ListingEntry& entry);
LineResult ParseVmsLine(std::string_view line, const ListingContext& context, ListingEntry& entry);
LineResult ParseSterling1Line(std::string_view line, const ListingContext& context,
                              ListingEntry& entry);
LineResult ParseSterling2Line(std::string_view line, const ListingContext& context,
                              ListingEntry& entry);
LineResult ParseNetWareLine(std::string_view line, const ListingContext& context,
                            ListingEntry& entry);
LineResult ParseSftpLine(std::string_view line, const ListingContext& context, ListingEntry& entry);
LineResult ParseEplfLine(std::string_view line, const ListingContext& context, ListingEntry& entry);
LineResult ParseOs2Line(std::string_view line, const ListingContext& context, ListingEntry& entry);
LineResult ParseIbmILine(std::string_view line, const ListingContext& context, ListingEntry& entry);
LineResult ParseMvsLine(std::string_view line, const ListingContext& context, ListingEntry& entry);
LineResult ParseZvmLine(std::string_view line, const ListingContext& context, ListingEntry& entry);
LineResult ParseVxWorksLine(std::string_view line, const ListingContext& context,
                            ListingEntry& entry);
LineResult ParseOs9Line(std::string_view line, const ListingContext& context, ListingEntry& entry);
LineResult ParseNonStopLine(std::string_view line, const ListingContext& context,
                            ListingEntry& entry);

}  // namespace ftp
