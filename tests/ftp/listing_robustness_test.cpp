// Oversized lines are dropped without harm. Lines are parsed from exactly sized heap copies, so
// reading past a line's end fails under the address sanitizer. (Damaged and random lines are the
// listing fuzz target's, tests/fuzz/listing_fuzzer.cc.)
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
