// Listing lines of each layout as real servers write them; month names, dates without
// a year, weekdays, format detection and text caps; oversized lines, dropped without
// harm. Lines are parsed from exactly sized heap copies, so reading past a line's end
// fails under the address sanitizer. (Damaged and random lines are the listing fuzz
// target's, tests/fuzz/listing_fuzzer.cc.)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "ftp/listing_parser.h"
#include "ftp/listing_test_support.h"

using ftp::ListingEntry;
using ftp::ListingParserState;
using ftp::MonthFromName;
using namespace listing_test;

namespace {

std::string Name(const ListingEntry& entry) {
    return entry.fields.name;
}

// name|size|permissions in octal|d or f|link count|owner:group|date of one entry.
std::string Summary(const ListingEntry& entry) {
    const FtpDirectoryEntry& f = entry.fields;
    char text[64];
    std::snprintf(text, sizeof text, "|%llu|%o|%c|%u|", static_cast<unsigned long long>(f.size),
                  f.permissions, f.directory ? 'd' : 'f', f.linkCount);
    return f.name + std::string(text) + f.owner + ":" + f.group + "|" + DateText(f.date);
}

struct LineCase {
    const char* name;
    int format;
    int systemType;
    const char* line;
    const char* summary;
    bool secureShell = false;  // a line of the secure-shell client's own listing
};

// Lines of each layout as real servers write them, read on 15 June 2024.
const LineCase kLines[] = {
    {"UnixVsftpdNumericIdsAndTime", FTP_DIRECTORY_UNIX, 0,
     "-rw-r--r--    1 1000     1000         1234 Mar 05 12:34 notes.txt\r",
     "notes.txt|1234|644|f|1|1000:1000|2024-03-05 12:34"},
    {"UnixLoneNameColumnIsTheGroup", FTP_DIRECTORY_UNIX, 0,
     "-rw-r--r-- 1 ftp 220 Jun 1 09:00 welcome.msg",
     "welcome.msg|220|644|f|1|:ftp|2024-06-01 09:00"},
    {"UnixLargestSignedSize", FTP_DIRECTORY_UNIX, 0,
     "-rw-r--r-- 1 ftp 9223372036854775807 Jun 1 09:00 max.img",
     "max.img|9223372036854775807|644|f|1|:ftp|2024-06-01 09:00"},
    {"UnixNameKeepsInnerBlanks", FTP_DIRECTORY_UNIX, 0,
     "-rw-r--r-- 1 u g 5 Jan 2 2020 my  holiday\tphotos.zip",
     "my  holiday\tphotos.zip|5|644|f|1|u:g|2020-01-02 00:00"},
    // Only links are split at the arrow.
    {"UnixArrowOfAFile", FTP_DIRECTORY_UNIX, 0, "-rw-r--r-- 1 u g 5 Jan 2 2020 a -> b",
     "a -> b|5|644|f|1|u:g|2020-01-02 00:00"},
    {"UnixUtf8Name", FTP_DIRECTORY_UNIX, 0,
     "-rw-r--r-- 1 u g 5 Jan 2 2020 \u00dcbersicht \u2013 \u6771\u4eac.txt\r\n",
     "\u00dcbersicht \u2013 \u6771\u4eac.txt|5|644|f|1|u:g|2020-01-02 00:00"},
    // A Windows server whose mode says nothing gets the MS-DOS defaults.
    {"UnixOfAWindowsServer", FTP_DIRECTORY_UNIX, 3,
     "---------- 1 owner group 10 Jan 2 2020 run.EXE",
     "run.EXE|10|555|f|1|owner:group|2020-01-02 00:00"},
    {"UnixOfAUnixServer", FTP_DIRECTORY_UNIX, 1, "---------- 1 owner group 10 Jan 2 2020 run.EXE",
     "run.EXE|10|0|f|1|owner:group|2020-01-02 00:00"},
    {"MsDosIisDirectoryAfternoon", FTP_DIRECTORY_MSDOS, 0,
     "03-15-99  02:05PM       <DIR>          Docs", "Docs|0|666|d|0|:|1999-03-15 14:05"},
    // Two-digit years below 80 are this century.
    {"MsDosYear79", FTP_DIRECTORY_MSDOS, 0, "03-15-79  02:05PM <DIR> Docs",
     "Docs|0|666|d|0|:|2079-03-15 14:05"},
    {"MsDosYear80", FTP_DIRECTORY_MSDOS, 0, "03-15-80  02:05PM <DIR> Docs",
     "Docs|0|666|d|0|:|1980-03-15 14:05"},
    {"MsDosMidnight", FTP_DIRECTORY_MSDOS, 0, "12-24-20  12:00AM 512 a",
     "a|512|444|f|0|:|2020-12-24 00:00"},
    {"MsDosNoonLowerCase", FTP_DIRECTORY_MSDOS, 0, "12-24-20  12:30pm 512 a",
     "a|512|444|f|0|:|2020-12-24 12:30"},
    {"MsDosMorning", FTP_DIRECTORY_MSDOS, 0, "12-24-20  11:59am 512 a",
     "a|512|444|f|0|:|2020-12-24 11:59"},
    {"MsDosTwentyFourHourClock", FTP_DIRECTORY_MSDOS, 0, "12-24-20  17:45 512 a",
     "a|512|444|f|0|:|2020-12-24 17:45"},
    {"MsDosExecutableWithBlanksAndLongYear", FTP_DIRECTORY_MSDOS, 0,
     "10-01-2019  09:30AM              1048576 Setup Program.exe",
     "Setup Program.exe|1048576|555|f|0|:|2019-10-01 09:30"},
    // Executable extensions (.bat, .cmd, .com, .exe, .pif) in any case.
    {"MsDosBatch", FTP_DIRECTORY_MSDOS, 0, "01-01-20 01:00AM 1 a.BAT",
     "a.BAT|1|555|f|0|:|2020-01-01 01:00"},
    {"MsDosExeOnlyInTheName", FTP_DIRECTORY_MSDOS, 0, "01-01-20 01:00AM 1 exe.txt",
     "exe.txt|1|444|f|0|:|2020-01-01 01:00"},
    // Blocks of 512 bytes; rwx for the owner and r-x for the group.
    {"VmsVersionOwnerAndAccess", FTP_DIRECTORY_VMS, 0,
     "LOGIN.COM;2              1/3       16-NOV-1999 14:01:22  [STAFF,JOHN]  (RWED,RWED,RE,)",
     "LOGIN.COM|512|750|f|0|JOHN:STAFF|1999-11-16 14:01"},
    {"VmsDirectoryExtensionDropped", FTP_DIRECTORY_VMS, 0,
     "MAIL.DIR;1  2  01-JAN-00 00:00  [SYSTEM]  (RWE,RWE,,R)",
     "MAIL|1024|704|d|0|SYSTEM:|2000-01-01 00:00"},
    {"VmsTwoDigitYearPivotsAtSixty", FTP_DIRECTORY_VMS, 0, "A.TXT;1 2 01-JAN-60",
     "A.TXT|1024|777|f|0|:|1960-01-01 00:00"},
    {"VmsBlocksBeyondFourGigabytes", FTP_DIRECTORY_VMS, 0, "BIG.IMG;1 10485760 3-MAR-2001 09:15",
     "BIG.IMG|5368709120|777|f|0|:|2001-03-03 09:15"},
    {"VmsUnknownTailGetsNone", FTP_DIRECTORY_VMS, 0, "README.TXT;3 4 3-MAR-2001 09:15 something",
     "README.TXT|2048|0|f|0|:|2001-03-03 09:15"},
    {"NetWareRightsInTheirOwnColumn", FTP_DIRECTORY_NETWARE, 0,
     "d [R----F--] supervisor            512       Jan 16 18:53    login",
     "login|512|644|d|0|supervisor:|2024-01-16 18:53"},
    {"NetWareRightsAttached", FTP_DIRECTORY_NETWARE, 0,
     "-[RWCEAFMS] rhesus             5368709120       Oct 20  2023    cx.exe",
     "cx.exe|5368709120|666|f|0|rhesus:|2023-10-20 00:00"},
    // Secure-shell lines give the mode in decimal.
    {"SftpDirectory", FTP_DIRECTORY_AUTO, 0, "16877 1 1000 1000 4096 12-31-2011 23:59:58 docs",
     "docs|4096|755|d|1|1000:1000|2011-12-31 23:59", true},
    {"SftpBigFile", FTP_DIRECTORY_AUTO, 0,
     "33188 1 0 0 5000000000 01-02-2024 03:04:05 big file.iso",
     "big file.iso|5000000000|644|f|1|0:0|2024-01-02 03:04", true},
};

class ListingLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(ListingLine, ParsesToItsEntry) {
    const LineCase& c = GetParam();
    ListingParserState state = StateFor(c.format, c.systemType);
    state.secureShell = c.secureShell;
    EXPECT_EQ(Summary(MustParse(state, c.line)), c.summary);
    EXPECT_EQ(state.format, c.format) << "nothing to detect";
}

INSTANTIATE_TEST_SUITE_P(Layouts, ListingLine, ::testing::ValuesIn(kLines),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ListingLines, MissingOrMalformedColumnsDropTheLine) {
    const std::pair<int, const char*> lines[] = {
        {FTP_DIRECTORY_UNIX, "total 48"},
        {FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 u g 5 Jan 2 2020"},
        {FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 u g 5 Foo 2 2020 name"},
        {FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 u g 5 Jan 32 2020 name"},
        {FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 u g 5 Feb 30 2020 name"},
        {FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 u g 5 Jan 2 24:00 name"},
        {FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 u g 5 Jan 2 12:5 name"},
        // Sizes beyond the largest signed 64-bit number drop the line instead of wrapping.
        {FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 u g 99999999999999999999999 Jan 2 2020 too.big"},
        {FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 u g 9223372036854775808 Jan 2 2020 over.img"},
        {FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 u g 18446744073709551617 Jan 2 2020 wrap.img"},
        {FTP_DIRECTORY_MSDOS, "10-01-19 09:30AM 9223372036854775808 over.img"},
        {FTP_DIRECTORY_MSDOS, "12-24-20  05:45XM 512 a"},
        {FTP_DIRECTORY_NETWARE, "d RWF supervisor 512 Jan 16 18:53 login"},
        {FTP_DIRECTORY_STERLING2, "-C--E-----FTP B Q 1 41 Aug 12 13:56 X"},
        {FTP_DIRECTORY_STERLING2, "-C1-E----- 1 A 1 41 Aug 12 13:56 X"},
    };
    for (const auto& [format, line] : lines)
        EXPECT_TRUE(Fails(format, line)) << line;
}

TEST(UnixListing, DatesWithoutYearLieInThePastAndCarryTheirWeekday) {
    auto entry = MustParse(FTP_DIRECTORY_UNIX, "drwxr-sr-x 2 u g 4096 Mar 5 12:34 shared", 1,
                           Day(2024, 1, 20));
    EXPECT_EQ(entry.fields.permissions, 0x1E5u);  // set-id and sticky letters set no execute bit
    EXPECT_EQ(entry.fields.date.wYear, 2023);     // March lies after January
    EXPECT_EQ(
        MustParse(FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 u g 1 Mar 05 12:34 t").fields.date.wDayOfWeek,
        2);  // a Tuesday
}

TEST(UnixListing, SymbolicLinkKeepsTargetAndCountsAsDirectoryInRecord) {
    auto entry = MustParse(FTP_DIRECTORY_UNIX,
                           "lrwxrwxrwx   1 root     root           11 Jan  2  2020 latest -> "
                           "release-2.0");
    EXPECT_EQ(Name(entry), "latest");
    EXPECT_EQ(entry.LinkTarget(), "release-2.0");
    EXPECT_TRUE(entry.link);
    EXPECT_EQ(entry.fields.directory, 0);
    EXPECT_EQ(entry.fields.permissions, 0x1FFu | FTP_PERM_SYMLINK);
    FtpDirectoryEntry record = entry.Record();
    EXPECT_EQ(record.directory, 1);
    EXPECT_EQ(record.reserved, 0u);
}

TEST(UnixListing, LinkWithoutShownTargetIsTakenForDirectory) {
    auto entry = MustParse(FTP_DIRECTORY_UNIX, "lrwxrwxrwx 1 u g 3 Jan 2 2020 bin");
    EXPECT_EQ(entry.fields.directory, 1);
    EXPECT_EQ(entry.LinkTarget(), "");
}

TEST(SterlingListing, FirstLayoutWithProtocolColumn) {
    auto entry = MustParse(FTP_DIRECTORY_STERLING1,
                           "-C--E-----FTP B QUA1I1      18128       41 Aug 12 13:56 QUADTEST");
    EXPECT_EQ(Name(entry), "QUADTEST");
    EXPECT_STREQ(entry.fields.owner, "B QUA1I1");
    EXPECT_STREQ(entry.fields.group, "18128");
    EXPECT_EQ(entry.fields.size, 41u);
    EXPECT_EQ(entry.fields.permissions,
              (1u << ('C' - 'A')) | (1u << ('E' - 'A')) | FTP_STERLING_STATUS_FTP);
    EXPECT_EQ(MustParse(FTP_DIRECTORY_STERLING1, "-ARTE-----TCP A B 1 2 Aug 12 13:56 x")
                      .fields.permissions &
                  0xFC000000u,
              FTP_STERLING_STATUS_TCP);
    EXPECT_EQ(MustParse(FTP_DIRECTORY_STERLING1, "----------XYZ A B 1 2 Aug 12 13:56 x")
                  .fields.permissions,
              FTP_STERLING_STATUS_OTHER);
}

TEST(SterlingListing, SecondLayoutMarksGroupAndFtpBit) {
    auto entry = MustParse(FTP_DIRECTORY_STERLING2,
                           "-c--e-----  1 A  18128       41 Aug 12 13:56 QUADTEST2");
    EXPECT_STREQ(entry.fields.owner, "1 A");
    EXPECT_STREQ(entry.fields.group, "#18128");
    EXPECT_EQ(entry.fields.permissions,
              (1u << ('C' - 'A')) | (1u << ('E' - 'A')) | FTP_STERLING_STATUS_FTP);
    EXPECT_EQ(MustParse(FTP_DIRECTORY_STERLING2, "-C--------  2 A  7 41 Aug 12 13:56 X")
                  .fields.permissions,
              1u << ('C' - 'A'));
}

// ---- SFTP client lines ------------------------------------------------------------

TEST(SftpListing, SecondsAreDroppedAndLinksCountAsDirectories) {
    ListingParserState state = StateFor(FTP_DIRECTORY_AUTO);
    state.secureShell = true;
    auto docs = MustParse(state, "16877 1 1000 1000 4096 12-31-2011 23:59:58 docs");
    EXPECT_EQ(docs.fields.date.wSecond, 0);
    EXPECT_EQ(docs.fields.date.wDayOfWeek, 6);
    auto link = MustParse(state, "41471 1 0 0 7 01-01-1970 00:00:00 current");
    EXPECT_TRUE(link.link);
    EXPECT_EQ(link.Record().directory, 1);
}

// ---- Month names ----------------------------------------------------------------

// English and other languages in any case; accents fold in UTF-8 and Latin-1;
// French abbreviations end with a dot.
TEST(MonthNames, NamesOfEveryLanguageInAnyCase) {
    const std::pair<const char*, int> names[] = {
        {"Jan", 1},     {"FEBRUARY", 2}, {"mrt", 3},  {"Mai", 5},     {"giugno", 6}, {"Okt", 10},
        {"noiabr", 11}, {"Dez", 12},     {"févr", 2}, {"f\xE9vr", 2}, {"FÉV", 2},    {"Mär", 3},
        {"M\xC4R", 3},  {"março", 3},    {"août", 8}, {"déc.", 12},   {"janv.", 1},
    };
    for (const auto& [name, month] : names)
        EXPECT_EQ(MonthFromName(name), month) << name;
}

TEST(MonthNames, OtherTokensAreNoMonth) {
    for (const char* token :
         {"", ".", "ja", "janu", "13", "Mon", "marchx", "septembers", "m\xE6r", "\xC3", "f\xC3\xA9",
          "d\xC3\x28"
          "c",
          "mar\xFF"})
        EXPECT_EQ(MonthFromName(token), 0) << token;
}

// ---- Dates without a year ----------------------------------------------------------

int YearOf(std::string_view monthAndDay, SYSTEMTIME now) {
    std::string line = "-rw-r--r-- 1 u g 1 " + std::string(monthAndDay) + " 12:00 f";
    return MustParse(FTP_DIRECTORY_UNIX, line, 1, now).fields.date.wYear;
}

// Months up to the current one (even a later day of it) are this year's; read in
// January 2025, "Feb 29" is from 2024.
TEST(MissingYear, MonthsUpToTheCurrentOneAreThisYear) {
    struct Case {
        const char* monthAndDay;
        SYSTEMTIME now;
        int year;
    };
    for (const Case& c : {Case{"Jan 1", Day(2024, 6, 15), 2024},
                          {"Jun 30", Day(2024, 6, 15), 2024},
                          {"Jul 1", Day(2024, 6, 15), 2023},
                          {"Dec 31", Day(2024, 12, 31), 2024},
                          {"Feb 29", Day(2025, 1, 10), 2024}})
        EXPECT_EQ(YearOf(c.monthAndDay, c.now), c.year) << c.monthAndDay;
    // NetWare and Sterling lines keep the rule through a reader of their own.
    EXPECT_EQ(MustParse(FTP_DIRECTORY_NETWARE, "- [R] o 1 Jun 30 12:00 x", 0, Day(2024, 6, 15))
                  .fields.date.wYear,
              2024);
    // In 2025 itself a time-stamped Feb 29 cannot exist.
    ListingParserState state = StateFor(FTP_DIRECTORY_UNIX, 1, Day(2025, 3, 10));
    ListingEntry entry;
    EXPECT_FALSE(Parse(state, "-rw-r--r-- 1 u g 1 Feb 29 12:00 f", entry));
}

// ---- Weekdays -----------------------------------------------------------------------

TEST(DayOfWeek, EveryLayoutsDate) {
    EXPECT_EQ(MustParse(FTP_DIRECTORY_MSDOS, "10-01-2023 01:00AM 1 a").fields.date.wDayOfWeek, 0);
    EXPECT_EQ(MustParse(FTP_DIRECTORY_VMS, "A.B;1 1 31-DEC-1999").fields.date.wDayOfWeek, 5);
    EXPECT_EQ(MustParse(FTP_DIRECTORY_NETWARE, "- [R] o 1 Feb 29 2000 x").fields.date.wDayOfWeek,
              2);
}

// ---- Automatic detection ------------------------------------------------------------

struct DetectionCase {
    int systemType;
    const char* line;
    int format;
};

TEST(AutoDetection, BySystemTypeAndByLook) {
    const DetectionCase cases[] = {
        {1, "drwxr-xr-x 2 u g 4096 Jan 1 2020 d", FTP_DIRECTORY_UNIX},
        {0, "-rw-r--r-- 1 u g 1 Jan 1 2020 f", FTP_DIRECTORY_UNIX},
        {0, "-rw-r--r--+ 1 u g 1 Jan 1 2020 f", FTP_DIRECTORY_UNIX},
        {3, "-rwSr-sr-T 1 u g 1 Jan 1 2020 f", FTP_DIRECTORY_UNIX},
        {2, "03-15-99 02:05PM <DIR> Docs", FTP_DIRECTORY_MSDOS},
        {3, "1 whatever", FTP_DIRECTORY_MSDOS},
        {0, "03-15-99 02:05PM <DIR> Docs", FTP_DIRECTORY_MSDOS},
        {4, "LOGIN.COM;2 1 16-NOV-1999", FTP_DIRECTORY_VMS},
        {5, "d [R----F--] supervisor 512 Jan 16 18:53 login", FTP_DIRECTORY_NETWARE},
        {5, "L[RW] o 1 Jan 16 18:53 x", FTP_DIRECTORY_NETWARE},
        {0, "-C--E-----FTP B QUA1I1 18128 41 Aug 12 13:56 QUADTEST", FTP_DIRECTORY_STERLING1},
        {0, "-C--E----- 1 A 18128 41 Aug 12 13:56 QUADTEST2", FTP_DIRECTORY_STERLING2},
        {0, "total 12", FTP_DIRECTORY_AUTO},
        {0, "1 whatever", FTP_DIRECTORY_AUTO},
        {4, "Directory DISK$USER:[JOHN]", FTP_DIRECTORY_AUTO},
        {1, "dr1xr-xr-x 2 u g 4096 Jan 1 2020 d", FTP_DIRECTORY_AUTO},
        {0, "   ", FTP_DIRECTORY_AUTO},
    };
    for (const DetectionCase& c : cases)
        EXPECT_EQ(ftp::DetectListingFormat(c.systemType, c.line), c.format)
            << c.systemType << " " << c.line;
}

TEST(AutoDetection, FirstRecognisedLineFixesTheFormat) {
    ListingParserState state = StateFor(FTP_DIRECTORY_AUTO, 1);
    ListingEntry entry;
    EXPECT_TRUE(ftp::IsListingTotalLine("total 12"));
    EXPECT_FALSE(Parse(state, "total 12", entry));
    EXPECT_EQ(state.format, FTP_DIRECTORY_AUTO);
    MustParse(state, "-rw-r--r-- 1 u g 1 Jan 1 2020 f");
    EXPECT_EQ(state.format, FTP_DIRECTORY_UNIX);
    // Later lines are read as UNIX lines even when they would look otherwise.
    EXPECT_FALSE(Parse(state, "03-15-99 02:05PM <DIR> Docs", entry));
    EXPECT_EQ(state.format, FTP_DIRECTORY_UNIX);
}

TEST(AutoDetection, WindowsServerListingInUnixStyle) {
    ListingParserState state = StateFor(FTP_DIRECTORY_AUTO, 3);
    auto entry = MustParse(state, "d--------- 1 owner group 0 Jan 2 2020 Public");
    EXPECT_EQ(state.format, FTP_DIRECTORY_UNIX);
    EXPECT_EQ(entry.fields.permissions, 0x1B6u);
}

// ---- Text capacities ----------------------------------------------------------------

// (Long names: TenKilobyteLines below.)
TEST(TextCaps, LongOwnersAndGroupsAreCut) {
    std::string owner(100, 'o');
    std::string group(100, 'g');
    auto entry =
        MustParse(FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 " + owner + " " + group + " 1 Jan 1 2020 n");
    EXPECT_EQ(std::string(entry.fields.owner), owner.substr(0, 63));
    EXPECT_EQ(std::string(entry.fields.group), group.substr(0, 63));
}

TEST(TextCaps, CutNeverSplitsAUtf8Character) {
    std::string name;
    for (int i = 0; i < 300; ++i)
        name += "é";  // two bytes each
    auto entry = MustParse(FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 u g 1 Jan 1 2020 " + name);
    EXPECT_EQ(std::string(entry.fields.name), name.substr(0, 510));
    std::string cjk = "a";
    for (int i = 0; i < 200; ++i)
        cjk += "東";  // three bytes each
    entry = MustParse(FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 u g 1 Jan 1 2020 " + cjk);
    EXPECT_EQ(std::string(entry.fields.name), cjk.substr(0, 511));
}

bool Terminated(const char* text, std::size_t capacity) {
    return std::memchr(text, '\0', capacity) != nullptr;
}

// What any entry that parses must satisfy, however odd its line.
void ExpectSound(const ListingEntry& entry, std::string_view line) {
    const FtpDirectoryEntry& fields = entry.fields;
    ASSERT_TRUE(Terminated(fields.name, sizeof fields.name)) << line;
    ASSERT_TRUE(Terminated(fields.owner, sizeof fields.owner)) << line;
    ASSERT_TRUE(Terminated(fields.group, sizeof fields.group)) << line;
    ASSERT_TRUE(Terminated(entry.linkTarget.data(), entry.linkTarget.size())) << line;
    EXPECT_NE(fields.name[0], '\0') << line;
    EXPECT_EQ(fields.reserved, 0u);
    const SYSTEMTIME& date = fields.date;
    if (date.wYear == 0) return;  // facts without a modify time
    EXPECT_TRUE(date.wMonth >= 1 && date.wMonth <= 12) << line;
    EXPECT_TRUE(date.wDay >= 1 && date.wDay <= 31) << line;
    EXPECT_LT(date.wHour, 24) << line;
    EXPECT_LT(date.wMinute, 60) << line;
    EXPECT_LT(date.wDayOfWeek, 7) << line;
}

void ParseSafely(ListingParserState& state, std::string_view line) {
    ListingEntry entry;
    if (Parse(state, line, entry)) ExpectSound(entry, line);
}

TEST(ListingRobustness, TenKilobyteLines) {
    const std::string big(10 * 1024, 'x');
    const std::string digits(10 * 1024, '9');
    const std::string blanks(10 * 1024, ' ');
    const std::string lines[] = {
        "-rw-r--r-- 1 u g 1 Jan 1 2020 " + big,
        "-rw-r--r-- 1 " + big + " " + big + " 1 Jan 1 2020 n",
        "-rw-r--r-- 1 u g " + digits + " Jan 1 2020 n",
        "01-01-20 01:00AM 1 " + big,
        big + ";1 1 1-JAN-2000",
        "type=file;size=1;" + big + "=1; " + big,
        big,
        blanks + "x" + blanks,
        digits,
    };
    for (const std::string& line : lines) {
        for (int format = FTP_DIRECTORY_AUTO; format <= FTP_DIRECTORY_MLSD; ++format) {
            ListingParserState state = StateFor(format, 1);
            ParseSafely(state, line);
        }
    }
    ListingEntry entry = MustParse(FTP_DIRECTORY_UNIX, lines[0]);
    EXPECT_EQ(std::strlen(entry.fields.name), FTP_ENTRY_NAME_SIZE - 1u);
}

TEST(ListingRobustness, VmsNameTooLongToJoinIsDropped) {
    ListingParserState state = StateFor(FTP_DIRECTORY_VMS, 4);
    ListingEntry entry;
    std::string name(ftp::kListingLineMax, 'N');
    name.replace(name.size() - 2, 2, ";1");
    EXPECT_FALSE(Parse(state, name, entry));
    EXPECT_TRUE(state.HasPendingLine());
    // The two no longer fit in one line: the details line is read on its own.
    EXPECT_FALSE(Parse(state, "  1  1-JAN-2000", entry));
    EXPECT_FALSE(state.HasPendingLine());
    MustParse(state, "NEXT.TXT;1 1 1-JAN-2000");
}

// A NUL would cut a name short (into another name, or none): its line goes,
// whatever the layout, and the next line is read as usual.
TEST(ListingRobustness, LinesWithANulAreDropped) {
    using namespace std::string_literals;
    const std::string lines[] = {
        "-rw-r--r-- 1 u g 5 Jan 2 2020 \0hidden"s,
        "-rw-r--r-- 1 u g 5 Jan 2 2020 a\0b"s,
        "type=file;size=5; x\0y"s,
        "+r,s5,\t\0"s,
    };
    for (const std::string& line : lines)
        EXPECT_EQ(Entry(line), "dropped") << line.size();
    ListingParserState facts = StateFor(FTP_DIRECTORY_MLSD);
    EXPECT_EQ(Entry(facts, lines[2]), "dropped");
    EXPECT_EQ(Entry(facts, "type=file;size=5; x"), "[x]|5|f|0000-00-00 00:00:00");
}

}  // namespace
