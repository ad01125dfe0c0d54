// Month names, dates without a year, weekdays, format detection and text caps.
#include <gtest/gtest.h>

#include <string>

#include "ftp/listing_parser.h"
#include "ftp/listing_test_support.h"

using ftp::ListingEntry;
using ftp::ListingParserState;
using ftp::MonthFromName;
using namespace listing_test;

namespace {

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
                          {"Dec 31", Day(2025, 1, 1), 2024},
                          {"Jan 1", Day(2025, 1, 1), 2025},
                          {"Jan 1", Day(2024, 12, 31), 2024},
                          {"Dec 31", Day(2024, 12, 31), 2024},
                          {"Feb 29", Day(2025, 1, 10), 2024}})
        EXPECT_EQ(YearOf(c.monthAndDay, c.now), c.year) << c.monthAndDay;
    // In 2025 itself a time-stamped Feb 29 cannot exist.
    ListingParserState state = StateFor(FTP_DIRECTORY_UNIX, 1, Day(2025, 3, 10));
    ListingEntry entry;
    EXPECT_FALSE(Parse(state, "-rw-r--r-- 1 u g 1 Feb 29 12:00 f", entry));
}

// ---- Weekdays -----------------------------------------------------------------------

TEST(DayOfWeek, KnownDatesAndEveryLayoutsDate) {
    EXPECT_EQ(ftp::DayOfWeek(2024, 1, 2), 2);    // Tuesday
    EXPECT_EQ(ftp::DayOfWeek(2000, 2, 29), 2);   // Tuesday
    EXPECT_EQ(ftp::DayOfWeek(1999, 12, 31), 5);  // Friday
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

TEST(TextCaps, LongNamesOwnersAndGroupsAreCut) {
    std::string owner(100, 'o');
    std::string group(100, 'g');
    std::string name(2000, 'n');
    auto entry = MustParse(FTP_DIRECTORY_UNIX,
                           "-rw-r--r-- 1 " + owner + " " + group + " 1 Jan 1 2020 " + name);
    EXPECT_EQ(std::string(entry.fields.owner), owner.substr(0, 63));
    EXPECT_EQ(std::string(entry.fields.group), group.substr(0, 63));
    EXPECT_EQ(std::string(entry.fields.name), name.substr(0, 511));
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

}  // namespace
