// Listing layouts as servers in the wild print them, each read with no system type
// (detected) and giving the expected name, type, size and date, or dropped: UNIX-like
// lines with other date shapes and languages, missing columns or columns holding
// blanks, devices, ACL markers, sizes with units and names with edge blanks; and the
// layouts beyond UNIX (MS-DOS/IIS date orders, EPLF, OS/2, IBM i, VMS column variants,
// z/OS and others) after the servers' published samples.
#include <gtest/gtest.h>

#include <string>

#include "ftp/ftp.h"
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
        {"cjk", "-rw-r--r-- 1 u g 5 4\u6708 18\u65e5 2003\u5e74 a",
         "[a]|5|f|u:g|2003-04-18 00:00:00"},
        {"cjk", "-rw-r--r-- 1 u g 5 4\u6708 18 12:34 b", "[b]|5|f|u:g|2024-04-18 12:34:00"},
        {"korean", "-rw-r--r-- 1 u g 5 2005\ub144 1\uc6d4 6\uc77c a",
         "[a]|5|f|u:g|2005-01-06 00:00:00"},
        {"korean", "-rw-r--r-- 1 u g 5 2005\ub144 1\uc6d4 6\uc77c 10:20 c",
         "[c]|5|f|u:g|2005-01-06 10:20:00"},
        {"blanks in group", "-rw-r--r-- 1 user Domain Users 9 Jan 2 2020 a",
         "[a]|9|f|user:Domain Users|2020-01-02 00:00:00"},
        {"no columns", "-rw-r--r-- 1234 Jan 2 2020 a", "[a]|1234|f|2020-01-02 00:00:00"},
        {"no columns", "-rw-r--r-- 1 1234 Jan 2 2020 b", "[b]|1234|f|2020-01-02 00:00:00"},
        {"no columns", "drwxr-xr-x folder 0 Jan 2 2020 c", "[c]|0|d|:folder|2020-01-02 00:00:00"},
        {"device", "crw-r----- 1 root kmem 0, 27 Jun 7 2005 mem",
         "[mem]|0|f|root:kmem|2005-06-07 00:00:00"},
        {"device", "brw-rw---- 1 root disk 8,0 Jun 7 2005 sda",
         "[sda]|0|f|root:disk|2005-06-07 00:00:00"},
        {"no date", "-rw-r--r-- 1 u g 123 nodate.txt",
         "[nodate.txt]|123|f|u:g|0000-00-00 00:00:00"},
        {"no date", "-rw-r--r-- 1 u 7 lone", "[lone]|7|f|:u|0000-00-00 00:00:00"},
        {"units", "-rw-r--r-- 1 u g 33.5k Jan 2 2020 a", "[a]|34304|f|u:g|2020-01-02 00:00:00"},
        {"units", "-rw-r--r-- 1 u g 1.5G Jan 2 2020 c", "[c]|1610612736|f|u:g|2020-01-02 00:00:00"},
        {"edge blanks", "-rw-r--r-- 1 u g 5 Jan 2 2020  lead",
         "[ lead]|5|f|u:g|2020-01-02 00:00:00"},
        {"edge blanks", "-rw-r--r-- 1 u g 5 Jan 2 2020 trail  \r\n",
         "[trail  ]|5|f|u:g|2020-01-02 00:00:00"},
        {"acl", "drwxr-x---+1464 u g 4096 Jan 2 2020 a", "[a]|4096|d|u:g|2020-01-02 00:00:00"},
        {"acl", "-rw-r--r--@ 1 u g 5 Jan 2 2020 b", "[b]|5|f|u:g|2020-01-02 00:00:00"},
        // Broken dates drop the line rather than make a wrong entry.
        {"broken", "-rw-r--r-- 1 u g 5 2020-02-30 name", "dropped"},
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

TEST(ListingLayouts, MsDosDatesInEveryOrder) {
    ExpectEntries({
        {"iso 24h", "2005-04-27  21:12            1234 file.txt",
         "[file.txt]|1234|f|2005-04-27 21:12:00"},
        {"iso am/pm", "2005/04/27  09:12 PM     5368709120 big.iso",
         "[big.iso]|5368709120|f|2005-04-27 21:12:00"},
        {"european", "27.04.2005  21:12  1234 name", "[name]|1234|f|2005-04-27 21:12:00"},
        {"european 2-digit", "01.02.05  08:00:59  7 x", "[x]|7|f|2005-02-01 08:00:00"},
        // Dates that cannot exist and broken columns drop the line.
        {"broken", "2005-02-30  21:12  1 a", "dropped"},
        {"broken", "31.04.2005  21:12  1 a", "dropped"},
        {"broken", "2005-04-27  21:12  12x a", "dropped"},
        {"broken", "2005-4-27-1  21:12  1 a", "dropped"},
    });
}

TEST(ListingLayouts, Eplf) {
    ExpectEntries({
        {"dir", "+i8388621.29609,m824255902,/,\tdev", "[dev]|0|d|1996-02-13 23:58:22"},
        {"file", "+i8388621.44468,m839956783,r,s10376,\tRFCEPLF",
         "[RFCEPLF]|10376|f|1996-08-13 17:19:43"},
        {"blanks kept", "+r,s5,m0,up644,\t  two  words \r\n",
         "[  two  words ]|5|f|1970-01-01 00:00:00"},
        {"unknown fact", "+r,xyz,s1,\tb", "[b]|1|f|0000-00-00 00:00:00"},
        {"leap day", "+m951782400,r,\tleap", "[leap]|0|f|2000-02-29 00:00:00"},
        {"no tab", "+i1,r,s5, name", "dropped"},
        {"no name", "+i1,r,s5,\t", "dropped"},
        {"bad size", "+r,s12a,\tx", "dropped"},
        {"size beyond 63 bits", "+r,s9223372036854775808,\tx", "dropped"},
        {"time beyond 9999", "+r,m253402300800,\tx", "dropped"},
    });
}

TEST(ListingLayouts, Os2) {
    ExpectEntries({
        {"dir", "     0           DIR   12-03-96  06:38  ORACLE",
         "[ORACLE]|0|d|1996-12-03 06:38:00"},
        {"file", "   345  A         12-03-96  06:38  file.txt",
         "[file.txt]|345|f|1996-12-03 06:38:00"},
        {"attributes", "  7654  A  H  S   01-15-2004  23:59  OS2 BOOT.INI",
         "[OS2 BOOT.INI]|7654|f|2004-01-15 23:59:00"},
        {"no attributes", "  100   05-05-05  05:05  plain", "[plain]|100|f|2005-05-05 05:05:00"},
        {"unknown attribute", "   345  Q   12-03-96  06:38  file.txt", "dropped"},
        {"no time", "   345  A   12-03-96  file.txt", "dropped"},
    });
}

TEST(ListingLayouts, IbmI) {
    ExpectEntries({
        {"library", "QSYS           77824 02/23/00 15:09:55 *DIR       QSYS/",
         "[QSYS]|77824|d|QSYS:|2000-02-23 15:09:00"},
        {"folder", "QDOC            4096 01/01/70 00:00:00 *FLR       QDOC/",
         "[QDOC]|4096|d|QDOC:|1970-01-01 00:00:00"},
        {"stream file", "USER1   1234 05/01/03 10:10:10 *STMF      file.txt",
         "[file.txt]|1234|f|USER1:|2003-05-01 10:10:00"},
        {"member", "QGPL  *MEM  QGPL.FILE/MBR.MBR",
         "[QGPL.FILE/MBR.MBR]|0|f|QGPL:|0000-00-00 00:00:00"},
        {"ten-letter owner", "PRODUSERAB   8192 12/31/99 23:59:59 *FILE      SALES.FILE",
         "[SALES.FILE]|8192|f|PRODUSERAB:|1999-12-31 23:59:00"},
        {"day first", "USER1   1 31.12.19 10:10:10 *STMF  d.txt",
         "[d.txt]|1|f|USER1:|2019-12-31 10:10:00"},
        {"not a member", "QGPL  *FILE  X", "dropped"},
        {"bad date", "USER1   1234 02/30/03 10:10:10 *STMF  f", "dropped"},
    });
}

TEST(ListingLayouts, VmsColumnVariants) {
    ExpectEntries(
        {
            {"classic", "CORE.DIR;1          1  8-SEP-1996 16:09 [SYSTEM] (RWE,RWE,RE,RE)",
             "[CORE]|512|d|SYSTEM:|1996-09-08 16:09:00"},
            {"used/allocated",
             "FILE.TXT;4    6/8   24-APR-2003 10:21:53.22 [GROUP,OWNER] (RWED,RWED,RE,)",
             "[FILE.TXT]|3072|f|OWNER:GROUP|2003-04-24 10:21:00"},
            {"units", "DATA.BIN;2   2KB  1-JAN-2020 00:00  [SUMMARY]",
             "[DATA.BIN]|2048|f|SUMMARY:|2020-01-01 00:00:00"},
            {"no time", "NOTES.TXT;1   3  1-JAN-2020  [USER]  (RWED,RWED,R,)",
             "[NOTES.TXT]|1536|f|USER:|2020-01-01 00:00:00"},
            {"date first", "A.B;1  1-JAN-2020 12:00  5  [USER]",
             "[A.B]|2560|f|USER:|2020-01-01 12:00:00"},
            {"access first", "A.B;1  5  1-JAN-2020  (RWED,RWED,RE,RE) [ADMIN, STAFF]",
             "[A.B]|2560|f| STAFF:ADMIN|2020-01-01 00:00:00"},
            {"twice", "A.B;1  5  6  1-JAN-2020", "dropped"},
            {"no size", "A.B;1  1-JAN-2020 12:00", "dropped"},
            {"open owner", "A.B;1  5  1-JAN-2020 [USER", "dropped"},
            {"unit overflow", "A.B;1  9999999999999999TB  1-JAN-2020", "dropped"},
        },
        FTP_SYSTEM_VMS);
}

TEST(ListingLayouts, VmsDetectedByLookAndJoined) {
    ftp::ListingParserState state = StateFor(FTP_DIRECTORY_AUTO);
    EXPECT_EQ(Entry(state, "LONGER_THAN_USUAL_NAME.TXT;12"), "dropped");
    EXPECT_EQ(Entry(state, "   9/9  2-FEB-2022 08:09  [USER]  (RWED,RWED,RE,)"),
              "[LONGER_THAN_USUAL_NAME.TXT]|4608|f|USER:|2022-02-02 08:09:00");
    EXPECT_EQ(state.format, FTP_DIRECTORY_VMS);
    // The format found stays: the owner column of a UNIX line is not read as VMS.
    EXPECT_EQ(Entry(state, "X.Y;1  2  2-FEB-2022"), "[X.Y]|1024|f|2022-02-02 00:00:00");
}

TEST(ListingLayouts, ZOsDatasetsAndMembers) {
    ExpectEntries({
        {"header", "Volume Unit    Referred Ext Used Recfm Lrecl BlkSz Dsorg Dsname", "dropped"},
        {"sequential", "SMS004 3390   2005/06/22  1    1  FB      80  3120  PS  ALLOC.DATA",
         "[ALLOC.DATA]|0|f|2005-06-22 00:00:00"},
        {"partitioned", "WYOSPT 3420   2003/03/31  2   15  FB      80  6160  PO  MY.CLIST",
         "[MY.CLIST]|0|d|2003-03-31 00:00:00"},
        {"never read", "SMS001 3390   **NONE**    1   15  VB     255 27998  PO-E  LIB.LOAD",
         "[LIB.LOAD]|0|d|0000-00-00 00:00:00"},
        {"migrated", "Migrated                                                OLD.DATA",
         "[OLD.DATA]|0|f|0000-00-00 00:00:00"},
        {"pseudo directory", "Pseudo Directory                                        PROJ",
         "[PROJ]|0|d|0000-00-00 00:00:00"},
        {"member header", " Name     VV.MM   Created       Changed      Size  Init   Mod   Id",
         "dropped"},
        {"member", "MEMBER1  01.01 2002/01/22 2002/01/22 10:20     8     8     0 USERID",
         "[MEMBER1]|0|f|USERID:|2002-01-22 10:20:00"},
        {"member without id", "M2  01.00 2002/01/22 2003/07/04 23:59:30   8   8   0",
         "[M2]|0|f|2003-07-04 23:59:00"},
        {"unknown organisation", "SMS004 3390   2005/06/22  1    1  FB      80  3120  XX  A.B",
         "dropped"},
        {"bad member date", "MEMBER1  01.01 2002/01/22 2002/13/22 10:20 8 8 0 USERID", "dropped"},
    });
}

TEST(ListingLayouts, ZvmVxWorksOs9AndNonStop) {
    ExpectEntries({
        {"z/VM fixed",
         "PROFILE  EXEC     F         80         12          1 2007-04-04 11:58:16 DEV191",
         "[PROFILE.EXEC]|960|f|2007-04-04 11:58:00"},
        {"z/VM variable",
         "README   TEXT     V         79          3          1 2011-05-27 10:13:28",
         "[README.TEXT]|237|f|2011-05-27 10:13:00"},
        {"z/VM directory",
         "SUBDIR   DIR      -          -          -          - 2008-09-09 12:44:45 -",
         "[SUBDIR]|0|d|2008-09-09 12:44:00"},
        {"z/VM bad date", "PROFILE  EXEC     F 80 12 1 2007-13-04 11:58:16 DEV191", "dropped"},
        {"VxWorks header", "  size          date       time       name", "dropped"},
        {"VxWorks rule", "--------       ------     ------    --------", "dropped"},
        {"VxWorks file", "  41472    Sep-13-2002  11:03:36   vxWorks.st",
         "[vxWorks.st]|41472|f|2002-09-13 11:03:00"},
        {"VxWorks directory", "    512    Jan-02-2000  10:00:00   sub dir        <DIR>",
         "[sub dir]|512|d|2000-01-02 10:00:00"},
        {"VxWorks big file", "5368709120    Dec-31-2019  23:59:59   image.bin",
         "[image.bin]|5368709120|f|2019-12-31 23:59:00"},
        {"VxWorks bad day", "    512    Feb-30-2000  10:00:00   x", "dropped"},
        {"OS-9 header", "Owner    Last modified    Attributes Sector Bytecount Name", "dropped"},
        {"OS-9 directory", "  0.0    05/08/18 1525  d-ewrewr     a8b0       448 CMDS",
         "[CMDS]|448|d|0.0:|2005-08-18 15:25:00"},
        {"OS-9 file", "  1.12   98/12/31 2359  ------wr     12f      201234 read me.txt",
         "[read me.txt]|201234|f|1.12:|1998-12-31 23:59:00"},
        {"OS-9 year 2069", "  0.0    69/01/02 0000  -s----r-     10  0 sys",
         "[sys]|0|f|0.0:|2069-01-02 00:00:00"},
        {"OS-9 bad time", "  0.0    05/08/18 1575  ------wr     a8c0    1 x", "dropped"},
        {"NonStop header", "File         Code             EOF  Last Modification    Owner  RWEP",
         "dropped"},
        {"NonStop file", "ALTERNAT      101              146 18-Sep-00 09:03:37 170,17 \"AAGA\"",
         "[ALTERNAT]|146|f|170,17:|2000-09-18 09:03:00"},
        {"NonStop open file",
         "BACKUP       0O              1240 12-Jul-01 13:31:25 255,255 \"NUNU\"",
         "[BACKUP]|1240|f|255,255:|2001-07-12 13:31:00"},
        {"NonStop program", "ZZPROG      100         5368709120 01-Jan-99 00:00:00 8,1 \"NUNU\"",
         "[ZZPROG]|5368709120|f|8,1:|1999-01-01 00:00:00"},
        {"NonStop bad owner", "X 101 146 18-Sep-00 09:03:37 170 \"AAGA\"", "dropped"},
    });
}

// A server that mixes layouts is read line by line: the line families never
// become the listing's format, so a later line of another family still parses.
TEST(ListingLayouts, MixedListingIsReadLineByLine) {
    ftp::ListingParserState state = StateFor(FTP_DIRECTORY_AUTO);
    EXPECT_EQ(Entry(state, "QSYS  77824 02/23/00 15:09:55 *DIR  QSYS/"),
              "[QSYS]|77824|d|QSYS:|2000-02-23 15:09:00");
    EXPECT_EQ(state.format, FTP_DIRECTORY_AUTO);
    EXPECT_EQ(Entry(state, "QGPL  *MEM  QGPL.FILE/A.MBR"),
              "[QGPL.FILE/A.MBR]|0|f|QGPL:|0000-00-00 00:00:00");
    EXPECT_EQ(Entry(state, "+r,s3,\te"), "[e]|3|f|0000-00-00 00:00:00");
    EXPECT_EQ(Entry(state, "2005-04-27  21:12  1 dos"), "[dos]|1|f|2005-04-27 21:12:00");
    EXPECT_EQ(state.format, FTP_DIRECTORY_MSDOS);
}

// The families come before the system type's own test: an OS/2 line on a
// server that calls itself Windows is still read as OS/2.
TEST(ListingLayouts, LineFamiliesWhateverTheSystemType) {
    EXPECT_EQ(Entry("   345  A   12-03-96  06:38  f", FTP_SYSTEM_WINDOWS),
              "[f]|345|f|1996-12-03 06:38:00");
    EXPECT_EQ(Entry("PRODUSERAB  1 12/31/99 23:59:59 *STMF  s"),
              "[s]|1|f|PRODUSERAB:|1999-12-31 23:59:00");
    EXPECT_EQ(Entry("-rw-r--r-- 1 u g 5 Jan 2 2020 unix", FTP_SYSTEM_UNIX),
              "[unix]|5|f|u:g|2020-01-02 00:00:00");
}

}  // namespace
