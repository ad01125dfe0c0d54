// Oversized lines are dropped without harm, and long listings parse entry for
// entry. Lines are parsed from exactly sized heap copies, so reading past a
// line's end fails under the address sanitizer. (Damaged and random lines are
// the listing fuzz target's, tests/fuzz/listing_fuzzer.cc.)
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ftp/listing_parser.h"
#include "ftp/listing_test_support.h"

using ftp::ListingEntry;
using ftp::ListingParserState;
using namespace listing_test;

namespace {

struct Seed {
    int format;
    int systemType;
    const char* line;
};

const Seed kSeeds[] = {
    {FTP_DIRECTORY_UNIX, 1, "-rw-r--r--    1 1000     1000         1234 Mar 05 12:34 notes.txt"},
    {FTP_DIRECTORY_UNIX, 1, "drwxr-sr-x   3 ftp      ftp          4096 Nov 30  2019 archive"},
    {FTP_DIRECTORY_UNIX, 1, "lrwxrwxrwx 1 root root 11 Jan 2 2020 latest -> release-2.0"},
    {FTP_DIRECTORY_UNIX, 3, "-rw-r--r-- 1 ftp 220 févr. 1 09:00 wel come.exe"},
    {FTP_DIRECTORY_MSDOS, 3, "03-15-99  02:05PM       <DIR>          Docs"},
    {FTP_DIRECTORY_MSDOS, 2, "10-01-2019  09:30AM              1048576 setup.exe"},
    {FTP_DIRECTORY_VMS, 4, "LOGIN.COM;2  1/3  16-NOV-1999 14:01:22  [STAFF,JOHN]  (RWED,RWED,RE,)"},
    {FTP_DIRECTORY_VMS, 4, "MAIL.DIR;1 2 01-JAN-00 00:00 [SYSTEM] (RWE,RWE,,R)"},
    {FTP_DIRECTORY_STERLING1, 0, "-C--E-----FTP B QUA1I1 18128 41 Aug 12 13:56 QUADTEST"},
    {FTP_DIRECTORY_STERLING2, 0, "-C--E----- 1 A 18128 41 Aug 12 13:56 QUADTEST2"},
    {FTP_DIRECTORY_NETWARE, 5, "d [R----F--] supervisor 512 Jan 16 18:53 login"},
    {FTP_DIRECTORY_NETWARE, 5, "l[RWF] admin 7 Oct 20 2023 to -> there"},
    {FTP_DIRECTORY_MLSD, 1,
     "modify=20240102030405;perm=adfr;size=10;type=file;UNIX.mode=0644;UNIX.owner=1000; a.txt"},
    {FTP_DIRECTORY_SFTP, 0, "16877 1 1000 1000 4096 12-31-2011 23:59:58 docs"},
};

// Facts are never detected: a session asks for them by setting the format.
ListingParserState SeedState(const Seed& seed, bool automatic) {
    if (seed.format == FTP_DIRECTORY_MLSD) automatic = false;
    ListingParserState state =
        StateFor(automatic ? FTP_DIRECTORY_AUTO : seed.format, seed.systemType);
    if (seed.format == FTP_DIRECTORY_SFTP) {
        state.format = FTP_DIRECTORY_AUTO;
        state.secureShell = true;
    }
    return state;
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

TEST(ListingRobustness, EverySeedParsesInItsFormatAndByDetection) {
    for (const Seed& seed : kSeeds) {
        for (bool automatic : {false, true}) {
            ListingParserState state = SeedState(seed, automatic);
            ListingEntry entry;
            ASSERT_TRUE(Parse(state, seed.line, entry)) << seed.line;
            ExpectSound(entry, seed.line);
        }
    }
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

// ---- Long listings ------------------------------------------------------------------

constexpr int kLongListing = 3000;

// (Thousands of UNIX lines over a data connection: tests/ftp/directory_test.cpp.)
TEST(LongListing, ThousandsOfFactsAndMsDosEntries) {
    ListingParserState facts = StateFor(FTP_DIRECTORY_MLSD);
    ListingParserState msdos = StateFor(FTP_DIRECTORY_AUTO, 3);
    for (int i = 0; i < kLongListing; ++i) {
        std::string name = "entry " + std::to_string(i);
        auto fromFacts = MustParse(facts, "type=file;size=" + std::to_string(i) +
                                              ";modify=20240102030405; " + name + "\r\n");
        ASSERT_EQ(std::string(fromFacts.fields.name), name);
        ASSERT_EQ(fromFacts.fields.size, static_cast<std::uint64_t>(i));
        auto fromMsDos =
            MustParse(msdos, "01-02-24  03:04PM  " + std::to_string(i) + " " + name + "\r\n");
        ASSERT_EQ(std::string(fromMsDos.fields.name), name);
        ASSERT_EQ(fromMsDos.fields.size, static_cast<std::uint64_t>(i));
    }
    EXPECT_EQ(msdos.format, FTP_DIRECTORY_MSDOS);
}

}  // namespace
