// Sizes of 4 GiB and more in every layout, up to the largest signed 64-bit
// number; one more drops the line instead of wrapping.
#include <gtest/gtest.h>

#include <string>

#include "ftp/listing_parser.h"
#include "ftp/listing_test_support.h"

using namespace listing_test;

namespace {

struct SizeCase {
    const char* name;
    int format;
    const char* line;
    unsigned long long size;  // 0: the line is dropped
    bool secureShell = false;
};

const SizeCase kSizes[] = {
    {"UnixFiveGigabytes", FTP_DIRECTORY_UNIX,
     "-rw-r--r--    1 1000     1000     5368709120 Mar 05 12:34 big.img", 5368709120ull},
    {"UnixJustAboveFourGigabytes", FTP_DIRECTORY_UNIX,
     "-rw-r--r-- 1 u g 4294967296 Jan 2 2020 edge.img", 4294967296ull},
    {"UnixLargestSigned", FTP_DIRECTORY_UNIX,
     "-rw-r--r-- 1 u g 9223372036854775807 Jan 2 2020 max.img", 9223372036854775807ull},
    {"UnixOneBeyondSigned", FTP_DIRECTORY_UNIX,
     "-rw-r--r-- 1 u g 9223372036854775808 Jan 2 2020 over.img", 0},
    {"UnixBeyondSixtyFourBits", FTP_DIRECTORY_UNIX,
     "-rw-r--r-- 1 u g 18446744073709551617 Jan 2 2020 wrap.img", 0},
    {"UnixLoneOwnerColumn", FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 ftp 6442450944 Jun 1 09:00 six.img",
     6442450944ull},
    {"MsDosFiveGigabytes", FTP_DIRECTORY_MSDOS, "10-01-2019  09:30AM   5368709120 big.img",
     5368709120ull},
    {"MsDosLargestSigned", FTP_DIRECTORY_MSDOS, "10-01-19 09:30AM 9223372036854775807 max.img",
     9223372036854775807ull},
    {"MsDosOneBeyondSigned", FTP_DIRECTORY_MSDOS, "10-01-19 09:30AM 9223372036854775808 over.img",
     0},
    {"NetWareFiveGigabytes", FTP_DIRECTORY_NETWARE,
     "-[RWCEAFMS] rhesus             5368709120       Oct 20  2023    big.img", 5368709120ull},
    {"VmsBlocksBeyondFourGigabytes", FTP_DIRECTORY_VMS, "BIG.IMG;1 10485760 3-MAR-2001 09:15",
     5368709120ull},
    {"FactsFiveGigabytes", FTP_DIRECTORY_MLSD, "modify=20240102030405;size=5368709120;type=file; b",
     5368709120ull},
    {"SftpFiveGigabytes", FTP_DIRECTORY_AUTO, "33188 1 0 0 5368709120 01-02-2024 03:04:05 big.img",
     5368709120ull, true},
};

class ListingSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(ListingSize, IsReadWholeOrDropsTheLine) {
    const SizeCase& c = GetParam();
    ftp::ListingParserState state = StateFor(c.format);
    state.secureShell = c.secureShell;
    ftp::ListingEntry entry;
    const bool parsed = Parse(state, c.line, entry);
    if (c.size == 0) {
        // MLSD ignores a malformed size but keeps the entry; the others drop it.
        EXPECT_TRUE(!parsed || entry.fields.size == 0) << c.line;
        return;
    }
    ASSERT_TRUE(parsed) << c.line;
    EXPECT_EQ(entry.fields.size, c.size);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ListingSize, ::testing::ValuesIn(kSizes),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
