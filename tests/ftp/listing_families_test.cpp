// UNIX-like lines as servers in the wild print them: other date shapes and
// languages, columns that are missing or hold blanks, devices, ACL markers,
// sizes with units, names with edge blanks. Each is detected with no system
// type and read by its fields' shapes.
#include <gtest/gtest.h>

#include <string>

#include "ftp/listing_parser.h"
#include "ftp/listing_test_support.h"

using namespace listing_test;

namespace {

TEST(ListingFamilies, EveryFamilyReadsNameTypeSizeAndDate) {
    ExpectEntries({
        {"iso", "-rw-r--r-- 1 u g 1234 2005-06-07 21:22 a.txt",
         "[a.txt]|1234|f|u:g|2005-06-07 21:22:00"},
        {"iso", "-rw-r--r-- 1 u g 7 2023-12-31 23:59:58.123456789 +0200 full iso",
         "[full iso]|7|f|u:g|2023-12-31 23:59:00"},
        {"numeric", "-rw-r--r-- 1 u g 10 09-26 2000 a", "[a]|10|f|u:g|2000-09-26 00:00:00"},
        {"numeric", "-rw-r--r-- 1 u g 10 24-04-2003 b", "[b]|10|f|u:g|2003-04-24 00:00:00"},
        {"numeric", "-rw-r--r-- 1 u g 10 1999/10/12 c", "[c]|10|f|u:g|1999-10-12 00:00:00"},
        {"numeric", "-rw-r--r-- 1 u g 10 2004.07.15 08:00 d", "[d]|10|f|u:g|2004-07-15 08:00:00"},
        {"numeric", "-rw-r--r-- 1 u g 10 03-04 12:00 e", "[e]|10|f|u:g|2024-03-04 12:00:00"},
        {"german", "-rw-r--r-- 1 u g 5 26. Juli 2003 x", "[x]|5|f|u:g|2003-07-26 00:00:00"},
        {"german", "-rw-r--r-- 1 u g 5 M\u00e4r 3 10:11 z", "[z]|5|f|u:g|2024-03-03 10:11:00"},
        {"french", "-rw-r--r-- 1 u g 5 f\u00e9vr. 3 2020 a", "[a]|5|f|u:g|2020-02-03 00:00:00"},
        {"french", "-rw-r--r-- 1 u g 5 7 juil. 2021 b", "[b]|5|f|u:g|2021-07-07 00:00:00"},
        {"spanish", "-rw-r--r-- 1 u g 5 ene 9 2022 a", "[a]|5|f|u:g|2022-01-09 00:00:00"},
        {"dutch", "-rw-r--r-- 1 u g 5 mrt 1 2020 a", "[a]|5|f|u:g|2020-03-01 00:00:00"},
        {"swedish", "-rw-r--r-- 1 u g 5 maj 2 2021 a", "[a]|5|f|u:g|2021-05-02 00:00:00"},
        {"swedish", "-rw-r--r-- 1 u g 5 2 dec 2021 c", "[c]|5|f|u:g|2021-12-02 00:00:00"},
        {"hungarian", "-rw-r--r-- 1 u g 5 m\u00e1rc. 2 2021 b", "[b]|5|f|u:g|2021-03-02 00:00:00"},
        {"cjk", "-rw-r--r-- 1 u g 5 4\u6708 18\u65e5 2003\u5e74 a",
         "[a]|5|f|u:g|2003-04-18 00:00:00"},
        {"cjk", "-rw-r--r-- 1 u g 5 4\u6708 18 12:34 b", "[b]|5|f|u:g|2024-04-18 12:34:00"},
        {"cjk", "-rw-r--r-- 1 u g 5 12\u6708 1 2020 c", "[c]|5|f|u:g|2020-12-01 00:00:00"},
        {"korean", "-rw-r--r-- 1 u g 5 2005\ub144 1\uc6d4 6\uc77c a",
         "[a]|5|f|u:g|2005-01-06 00:00:00"},
        {"korean", "-rw-r--r-- 1 u g 5 1\uc6d4 6 2005 b", "[b]|5|f|u:g|2005-01-06 00:00:00"},
        {"korean", "-rw-r--r-- 1 u g 5 2005\ub144 1\uc6d4 6\uc77c 10:20 c",
         "[c]|5|f|u:g|2005-01-06 10:20:00"},
        {"blanks in group", "-rw-r--r-- 1 user Domain Users 9 Jan 2 2020 a",
         "[a]|9|f|user:Domain Users|2020-01-02 00:00:00"},
        {"blanks in group", "drwxr-xr-x 1 owner group name 0 Jan 2 2020 b",
         "[b]|0|d|owner:group name|2020-01-02 00:00:00"},
        {"no columns", "-rw-r--r-- 1234 Jan 2 2020 a", "[a]|1234|f|2020-01-02 00:00:00"},
        {"no columns", "-rw-r--r-- 1 1234 Jan 2 2020 b", "[b]|1234|f|2020-01-02 00:00:00"},
        {"no columns", "drwxr-xr-x folder 0 Jan 2 2020 c", "[c]|0|d|:folder|2020-01-02 00:00:00"},
        {"device", "crw-r----- 1 root kmem 0, 27 Jun 7 2005 mem",
         "[mem]|0|f|root:kmem|2005-06-07 00:00:00"},
        {"device", "brw-rw---- 1 root disk 8,0 Jun 7 2005 sda",
         "[sda]|0|f|root:disk|2005-06-07 00:00:00"},
        {"no date", "-rw-r--r-- 1 u g 123 nodate.txt",
         "[nodate.txt]|123|f|u:g|0000-00-00 00:00:00"},
        {"no date", "drwxr-xr-x 2 u g 4096 folder", "[folder]|4096|d|u:g|0000-00-00 00:00:00"},
        {"no date", "-rw-r--r-- 1 u 7 lone", "[lone]|7|f|:u|0000-00-00 00:00:00"},
        {"units", "-rw-r--r-- 1 u g 33.5k Jan 2 2020 a", "[a]|34304|f|u:g|2020-01-02 00:00:00"},
        {"units", "-rw-r--r-- 1 u g 2M Jan 2 2020 b", "[b]|2097152|f|u:g|2020-01-02 00:00:00"},
        {"units", "-rw-r--r-- 1 u g 1.5G Jan 2 2020 c", "[c]|1610612736|f|u:g|2020-01-02 00:00:00"},
        {"edge blanks", "-rw-r--r-- 1 u g 5 Jan 2 2020  lead",
         "[ lead]|5|f|u:g|2020-01-02 00:00:00"},
        {"edge blanks", "-rw-r--r-- 1 u g 5 Jan 2 2020 trail  \r\n",
         "[trail  ]|5|f|u:g|2020-01-02 00:00:00"},
        {"edge blanks", "-rw-r--r-- 1 u g 5 Jan 2 10:00  both ",
         "[ both ]|5|f|u:g|2024-01-02 10:00:00"},
        {"acl", "drwxr-x---+1464 u g 4096 Jan 2 2020 a", "[a]|4096|d|u:g|2020-01-02 00:00:00"},
        {"acl", "-rw-r--r--@ 1 u g 5 Jan 2 2020 b", "[b]|5|f|u:g|2020-01-02 00:00:00"},
        {"acl", "-rw-r--r--. 1 u g 5 Jan 2 2020 c", "[c]|5|f|u:g|2020-01-02 00:00:00"},
        // Broken dates drop the line rather than make a wrong entry.
        {"broken", "-rw-r--r-- 1 u g 5 Foo 2 2020 name", "dropped"},
        {"broken", "-rw-r--r-- 1 u g 5 2020-02-30 name", "dropped"},
        {"broken", "-rw-r--r-- 1 u g 5 Jan 2 25:00 name", "dropped"},
    });
}

// Tens of thousands of tokens on one line stay bounded: the name is the rest
// of the line whatever its length.
TEST(ListingFamilies, LongLinesAreReadWithinTheLine) {
    std::string line = "-rw-r--r-- 1 u g 5 Jan 2 2020 ";
    for (int i = 0; i < 300; ++i)
        line += "x ";
    ftp::ListingParserState state = StateFor(FTP_DIRECTORY_AUTO);
    ftp::ListingEntry entry;
    ASSERT_TRUE(Parse(state, line, entry));
    EXPECT_EQ(std::string(entry.fields.name).substr(0, 4), "x x ");
    std::string columns = "-rw-r--r-- 1";
    for (int i = 0; i < 100; ++i)
        columns += " g";
    EXPECT_EQ(Entry(columns + " 5 Jan 2 2020 far"), "dropped");
}

}  // namespace
