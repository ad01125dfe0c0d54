// Listing lines of each layout, as real servers write them.
#include <gtest/gtest.h>

#include <string>

#include "ftp/listing_parser.h"
#include "ftp/listing_test_support.h"

using ftp::ListingEntry;
using ftp::ListingParserState;
using namespace listing_test;

namespace {

std::string Name(const ListingEntry& entry) {
    return entry.fields.name;
}

// ---- UNIX ----------------------------------------------------------------------

TEST(UnixListing, VsftpdFileWithNumericIdsAndTime) {
    auto entry = MustParse(FTP_DIRECTORY_UNIX,
                           "-rw-r--r--    1 1000     1000         1234 Mar 05 12:34 notes.txt\r");
    EXPECT_EQ(Name(entry), "notes.txt");
    EXPECT_STREQ(entry.fields.owner, "1000");
    EXPECT_STREQ(entry.fields.group, "1000");
    EXPECT_EQ(entry.fields.size, 1234u);
    EXPECT_EQ(entry.fields.linkCount, 1u);
    EXPECT_EQ(entry.fields.permissions, 0x1A4u);
    EXPECT_EQ(entry.fields.directory, 0);
    EXPECT_EQ(DateText(entry.fields.date), "2024-03-05 12:34");
    EXPECT_EQ(entry.fields.date.wDayOfWeek, 2);  // a Tuesday
}

TEST(UnixListing, ProftpdDirectoryWithYear) {
    auto entry = MustParse(FTP_DIRECTORY_UNIX,
                           "drwxr-xr-x   3 ftpuser  ftpgroup     4096 Nov 30  2019 archive");
    EXPECT_EQ(Name(entry), "archive");
    EXPECT_EQ(entry.fields.directory, 1);
    EXPECT_EQ(entry.fields.linkCount, 3u);
    EXPECT_EQ(entry.fields.permissions, 0x1EDu);
    EXPECT_EQ(DateText(entry.fields.date), "2019-11-30 00:00");
}

TEST(UnixListing, SetIdAndStickyLettersSetNoExecuteBit) {
    auto entry = MustParse(FTP_DIRECTORY_UNIX, "drwxr-sr-x 2 u g 4096 Mar 5 12:34 shared", 1,
                           Day(2024, 1, 20));
    EXPECT_EQ(entry.fields.permissions, 0x1E5u);
    EXPECT_EQ(entry.fields.date.wYear, 2023);  // March lies after January
    EXPECT_EQ(MustParse(FTP_DIRECTORY_UNIX, "drwxrwxrwt 9 root root 4096 Jan 1 2024 tmp")
                  .fields.permissions,
              0x1FEu);
}

TEST(UnixListing, LoneNameColumnBecomesTheGroup) {
    auto entry = MustParse(FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 ftp 220 Jun 1 09:00 welcome.msg");
    EXPECT_STREQ(entry.fields.owner, "");
    EXPECT_STREQ(entry.fields.group, "ftp");
    EXPECT_EQ(entry.fields.size, 220u);
    EXPECT_EQ(Name(entry), "welcome.msg");
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

TEST(UnixListing, NamesKeepInnerBlanksArrowsOfFilesAndUtf8) {
    EXPECT_EQ(Name(MustParse(FTP_DIRECTORY_UNIX,
                             "-rw-r--r-- 1 u g 5 Jan 2 2020 my  holiday\tphotos.zip")),
              "my  holiday\tphotos.zip");
    // Only links are split at the arrow.
    EXPECT_EQ(Name(MustParse(FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 u g 5 Jan 2 2020 a -> b")),
              "a -> b");
    EXPECT_EQ(Name(MustParse(FTP_DIRECTORY_UNIX,
                             "-rw-r--r-- 1 u g 5 Jan 2 2020 Übersicht – 東京.txt\r\n")),
              "Übersicht – 東京.txt");
}

TEST(UnixListing, SizesBeyondFourGigabytes) {
    EXPECT_EQ(MustParse(FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 u g 8589934592 Jan 2 2020 disk.img")
                  .fields.size,
              8589934592u);
    EXPECT_TRUE(
        Fails(FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 u g 99999999999999999999999 Jan 2 2020 too.big"));
}

TEST(UnixListing, MissingOrMalformedColumnsDropTheLine) {
    EXPECT_TRUE(Fails(FTP_DIRECTORY_UNIX, "total 48"));
    EXPECT_TRUE(Fails(FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 u g 5 Jan 2 2020"));
    EXPECT_TRUE(Fails(FTP_DIRECTORY_UNIX, "-rw-r--r-- x u g 5 Jan 2 2020 name"));
    EXPECT_TRUE(Fails(FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 u g 5 Foo 2 2020 name"));
    EXPECT_TRUE(Fails(FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 u g 5 Jan 32 2020 name"));
    EXPECT_TRUE(Fails(FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 u g 5 Feb 30 2020 name"));
    EXPECT_TRUE(Fails(FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 u g 5 Jan 2 24:00 name"));
    EXPECT_TRUE(Fails(FTP_DIRECTORY_UNIX, "-rw-r--r-- 1 u g 5 Jan 2 12:5 name"));
}

TEST(UnixListing, WindowsServersGetMsDosDefaultsWhenModeSaysNothing) {
    auto file = MustParse(FTP_DIRECTORY_UNIX, "---------- 1 owner group 10 Jan 2 2020 run.EXE", 3);
    EXPECT_EQ(file.fields.permissions, 0x124u | 0x49u);
    auto unixFile =
        MustParse(FTP_DIRECTORY_UNIX, "---------- 1 owner group 10 Jan 2 2020 run.EXE", 1);
    EXPECT_EQ(unixFile.fields.permissions, 0u);
}

// ---- MS-DOS ----------------------------------------------------------------------

TEST(MsDosListing, IisDirectoryWithAfternoonTime) {
    auto entry = MustParse(FTP_DIRECTORY_MSDOS, "03-15-99  02:05PM       <DIR>          Docs");
    EXPECT_EQ(Name(entry), "Docs");
    EXPECT_EQ(entry.fields.directory, 1);
    EXPECT_EQ(DateText(entry.fields.date), "1999-03-15 14:05");
    EXPECT_EQ(entry.fields.permissions, 0x1B6u);
}

TEST(MsDosListing, TwoDigitYearsBelowEightyAreThisCentury) {
    EXPECT_EQ(MustParse(FTP_DIRECTORY_MSDOS, "03-15-79  02:05PM <DIR> Docs").fields.date.wYear,
              2079);
    EXPECT_EQ(MustParse(FTP_DIRECTORY_MSDOS, "03-15-80  02:05PM <DIR> Docs").fields.date.wYear,
              1980);
    EXPECT_EQ(MustParse(FTP_DIRECTORY_MSDOS, "10-01-2019  09:30AM 1 a").fields.date.wYear, 2019);
}

TEST(MsDosListing, MidnightNoonAndTwentyFourHourClock) {
    EXPECT_EQ(MustParse(FTP_DIRECTORY_MSDOS, "12-24-20  12:00AM 512 a").fields.date.wHour, 0);
    EXPECT_EQ(MustParse(FTP_DIRECTORY_MSDOS, "12-24-20  12:30pm 512 a").fields.date.wHour, 12);
    EXPECT_EQ(MustParse(FTP_DIRECTORY_MSDOS, "12-24-20  11:59am 512 a").fields.date.wHour, 11);
    EXPECT_EQ(MustParse(FTP_DIRECTORY_MSDOS, "12-24-20  17:45 512 a").fields.date.wHour, 17);
    EXPECT_TRUE(Fails(FTP_DIRECTORY_MSDOS, "12-24-20  05:45XM 512 a"));
}

TEST(MsDosListing, FileSizeNameWithBlanksAndExecutableDefaults) {
    auto setup = MustParse(FTP_DIRECTORY_MSDOS,
                           "10-01-2019  09:30AM              1048576 Setup Program.exe");
    EXPECT_EQ(Name(setup), "Setup Program.exe");
    EXPECT_EQ(setup.fields.size, 1048576u);
    EXPECT_EQ(setup.fields.permissions, 0x16Du);
    for (const char* name : {"a.BAT", "b.cmd", "c.Com", "d.pif"})
        EXPECT_EQ(MustParse(FTP_DIRECTORY_MSDOS, std::string("01-01-20 01:00AM 1 ") + name)
                      .fields.permissions,
                  0x16Du)
            << name;
    EXPECT_EQ(MustParse(FTP_DIRECTORY_MSDOS, "01-01-20 01:00AM 1 exe.txt").fields.permissions,
              0x124u);
}

// ---- VMS -----------------------------------------------------------------------

TEST(VmsListing, FileWithVersionOwnerAndAccess) {
    auto entry = MustParse(FTP_DIRECTORY_VMS,
                           "LOGIN.COM;2              1/3       16-NOV-1999 14:01:22  [STAFF,JOHN]  "
                           "(RWED,RWED,RE,)");
    EXPECT_EQ(Name(entry), "LOGIN.COM");
    EXPECT_EQ(entry.fields.version, 2u);
    EXPECT_EQ(entry.fields.size, 512u);
    EXPECT_STREQ(entry.fields.group, "STAFF");
    EXPECT_STREQ(entry.fields.owner, "JOHN");
    EXPECT_EQ(entry.fields.permissions, 0x1E8u);  // rwx for owner, r-x for group
    EXPECT_EQ(DateText(entry.fields.date), "1999-11-16 14:01");
}

TEST(VmsListing, DirectoryExtensionIsDroppedAndTwoDigitYearPivotsAtSixty) {
    auto entry =
        MustParse(FTP_DIRECTORY_VMS, "MAIL.DIR;1  2  01-JAN-00 00:00  [SYSTEM]  (RWE,RWE,,R)");
    EXPECT_EQ(Name(entry), "MAIL");
    EXPECT_EQ(entry.fields.directory, 1);
    EXPECT_STREQ(entry.fields.owner, "SYSTEM");
    EXPECT_STREQ(entry.fields.group, "");
    EXPECT_EQ(entry.fields.permissions, 0x1C4u);
    EXPECT_EQ(entry.fields.date.wYear, 2000);
    EXPECT_EQ(MustParse(FTP_DIRECTORY_VMS, "A.TXT;1 2 01-JAN-60").fields.date.wYear, 1960);
}

TEST(VmsListing, ShortLinesGetAllPermissionsOrNone) {
    auto bare = MustParse(FTP_DIRECTORY_VMS, "README.TXT;3 4 3-MAR-2001 09:15");
    EXPECT_EQ(bare.fields.permissions, 0x1FFu);
    EXPECT_EQ(bare.fields.size, 2048u);
    auto odd = MustParse(FTP_DIRECTORY_VMS, "README.TXT;3 4 3-MAR-2001 09:15 something");
    EXPECT_EQ(odd.fields.permissions, 0u);
    EXPECT_STREQ(odd.fields.owner, "");
}

TEST(VmsListing, NameOnItsOwnLineIsJoinedWithTheNext) {
    ListingParserState state = StateFor(FTP_DIRECTORY_VMS);
    ListingEntry entry;
    EXPECT_FALSE(Parse(state, "A_VERY_LONG_FILE_NAME_INDEED.TXT;12", entry));
    EXPECT_TRUE(state.HasPendingLine());
    entry =
        MustParse(state, "        10/12     3-MAR-2001 09:15:00  [STAFF,JOHN]  (RWED,RWED,R,R)");
    EXPECT_EQ(Name(entry), "A_VERY_LONG_FILE_NAME_INDEED.TXT");
    EXPECT_EQ(entry.fields.version, 12u);
    EXPECT_EQ(entry.fields.size, 5120u);
    EXPECT_FALSE(state.HasPendingLine());
    // Header and summary lines give no entry and leave nothing pending.
    EXPECT_FALSE(Parse(state, "Directory DISK$USER:[JOHN]", entry));
    EXPECT_FALSE(Parse(state, "Total of 2 files, 11/15 blocks.", entry));
    EXPECT_FALSE(state.HasPendingLine());
}

// ---- NetWare and Sterling ---------------------------------------------------------

TEST(NetWareListing, RightsInTheirOwnColumnOrAttached) {
    auto directory =
        MustParse(FTP_DIRECTORY_NETWARE,
                  "d [R----F--] supervisor            512       Jan 16 18:53    login");
    EXPECT_EQ(Name(directory), "login");
    EXPECT_EQ(directory.fields.directory, 1);
    EXPECT_STREQ(directory.fields.owner, "supervisor");
    EXPECT_EQ(directory.fields.permissions, 0x1A4u | 0x124u);
    auto file = MustParse(FTP_DIRECTORY_NETWARE,
                          "-[RWCEAFMS] rhesus             214059       Oct 20  2023    cx.exe");
    EXPECT_EQ(file.fields.size, 214059u);
    EXPECT_EQ(file.fields.permissions, 0x1A4u | 0x92u | 0x124u);
    EXPECT_EQ(DateText(file.fields.date), "2023-10-20 00:00");
    EXPECT_TRUE(Fails(FTP_DIRECTORY_NETWARE, "d RWF supervisor 512 Jan 16 18:53 login"));
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
    EXPECT_TRUE(Fails(FTP_DIRECTORY_STERLING2, "-C--E-----FTP B Q 1 41 Aug 12 13:56 X"));
    EXPECT_TRUE(Fails(FTP_DIRECTORY_STERLING2, "-C1-E----- 1 A 1 41 Aug 12 13:56 X"));
}

// ---- SFTP client lines ------------------------------------------------------------

TEST(SftpListing, DirectoryFileAndLinkModes) {
    ListingParserState state = StateFor(FTP_DIRECTORY_AUTO);
    state.secureShell = true;
    auto docs = MustParse(state, "16877 1 1000 1000 4096 12-31-2011 23:59:58 docs");
    EXPECT_EQ(docs.fields.directory, 1);
    EXPECT_EQ(docs.fields.permissions, 0755u);
    EXPECT_STREQ(docs.fields.owner, "1000");
    EXPECT_EQ(DateText(docs.fields.date), "2011-12-31 23:59");
    EXPECT_EQ(docs.fields.date.wSecond, 0);
    EXPECT_EQ(docs.fields.date.wDayOfWeek, 6);
    auto big = MustParse(state, "33188 1 0 0 5000000000 01-02-2024 03:04:05 big file.iso");
    EXPECT_EQ(big.fields.directory, 0);
    EXPECT_EQ(big.fields.size, 5000000000u);
    EXPECT_EQ(Name(big), "big file.iso");
    auto link = MustParse(state, "41471 1 0 0 7 01-01-1970 00:00:00 current");
    EXPECT_TRUE(link.link);
    EXPECT_EQ(link.Record().directory, 1);
    EXPECT_EQ(state.format, FTP_DIRECTORY_AUTO);  // nothing to detect
}

// ---- MLSD facts -------------------------------------------------------------------

TEST(FactsListing, ProftpdFileLine) {
    auto entry = MustParse(FTP_DIRECTORY_MLSD,
                           "modify=20240102030405;perm=adfr;size=10;type=file;unique=FD01U2C3;"
                           "UNIX.group=1001;UNIX.groupname=ftp;UNIX.mode=0644;UNIX.owner=1000;"
                           "UNIX.ownername=ftp; a.txt\r\n");
    EXPECT_EQ(Name(entry), "a.txt");
    EXPECT_EQ(entry.fields.size, 10u);
    EXPECT_EQ(entry.fields.directory, 0);
    EXPECT_EQ(entry.fields.permissions, 0644u);
    EXPECT_STREQ(entry.fields.owner, "1000");
    EXPECT_STREQ(entry.fields.group, "1001");
    EXPECT_EQ(DateText(entry.fields.date), "2024-01-02 03:04");
    EXPECT_EQ(entry.fields.date.wSecond, 5);
}

TEST(FactsListing, DirectoryTypesPermFactAndCase) {
    for (const char* type : {"dir", "cdir", "PDIR"}) {
        FtpDirectoryEntry entry{};
        ASSERT_TRUE(ftp::ParseFacts(std::string("Type=") + type + ";Perm=elw; x", entry));
        EXPECT_EQ(entry.directory, 1) << type;
        EXPECT_EQ(entry.permissions, 0x80u) << type;
    }
    FtpDirectoryEntry file{};
    ASSERT_TRUE(ftp::ParseFacts("type=file;perm=rw;unix.uid=0;unix.gid=0; f", file));
    EXPECT_EQ(file.permissions, 0x180u);
    EXPECT_STREQ(file.owner, "0");
}

TEST(FactsListing, StatusReplyWithTextLineAndNameHoldingSemicolons) {
    FtpDirectoryEntry entry{};
    ASSERT_TRUE(ftp::ParseFacts(
        "Listing /pub/a;b.txt\n type=file;size=7;modify=19991231235959.123; /pub/a;b.txt\n"
        " End",
        entry));
    EXPECT_STREQ(entry.name, "/pub/a;b.txt");
    EXPECT_EQ(entry.size, 7u);
    EXPECT_EQ(entry.date.wYear, 1999);
    EXPECT_EQ(entry.date.wSecond, 59);
}

TEST(FactsListing, MalformedFactsFailAndBadValuesAreIgnored) {
    FtpDirectoryEntry entry{};
    entry.size = 99;
    EXPECT_FALSE(ftp::ParseFacts("no facts here", entry));
    EXPECT_FALSE(ftp::ParseFacts("type=file;size=1;", entry));
    EXPECT_FALSE(ftp::ParseFacts("type=file;=1; x", entry));
    EXPECT_FALSE(ftp::ParseFacts("type=file; \r\n", entry));
    EXPECT_EQ(entry.size, 99u);  // untouched by failures
    ASSERT_TRUE(ftp::ParseFacts("size=12x;modify=2024;unix.mode=0755; y", entry));
    EXPECT_EQ(entry.size, 0u);
    EXPECT_EQ(entry.date.wYear, 0);
    EXPECT_EQ(entry.permissions, 0755u);
}

// ---- Name lists ---------------------------------------------------------------------

TEST(NameOnlyListing, FirstBlankEndsTheName) {
    ListingParserState state = StateFor(FTP_DIRECTORY_AUTO, 1);
    state.nameOnly = true;
    EXPECT_EQ(Name(MustParse(state, "my file.txt\r")), "my");
    EXPECT_EQ(Name(MustParse(state, "total")), "total");
    EXPECT_EQ(state.format, FTP_DIRECTORY_AUTO);
}

}  // namespace
