// File operations against scripted peers: which command each operation picks,
// how refusals teach the session's feature mask, the fallbacks, the formats of
// times, modes and digests, and the status listings of several systems.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ftp/fileops.h"
#include "ftp/tables.h"
#include "support/test_files.h"
#include "tests/ftp/ftp_test_support.h"

namespace {

using namespace ftptest;
namespace fs = std::filesystem;

// A login with a UNIX SYST and a FEAT reply offering these features.
SessionSetup Offering(std::initializer_list<std::string_view> features) {
    return {kUnixSyst, Features(features)};
}

std::string StatusReply(const std::string& line) {
    return "213-Status follows:\r\n" + line + "\r\n213 End of status\r\n";
}

class FileOpsTest : public EngineTest {
  protected:
    ScratchFolder folder_{"fileops-test"};
    const fs::path tempDir_ = folder_.path();
};

// ---- Status ------------------------------------------------------------------

TEST_F(FileOpsTest, StatusComesFromMlstFactsWithTheNameAskedFor) {
    PeerScript script;
    const std::string mlst =
        "250-Listing hello.txt\r\n modify=20200102030405;perm=adfrw;size=4294967310;type=file;"
        "unix.mode=0644;unix.uid=1000;unix.gid=100; /home/bob/hello.txt\r\n250 End\r\n";
    script.Reply("MLST hello.txt", mlst).Reply("MLST hello.txt", mlst);
    PeerSession client(script, Offering({"MLST type*;size*;"}));

    FtpDirectoryEntry entry{};
    ASSERT_EQ(FtpGetFileInfo(client, "hello.txt", &entry), 1) << std::hex << FtpGetLastError();
    EXPECT_EQ(Summary(entry), "hello.txt|4294967310|644|f|1000:100|2020-01-02 03:04:05");

    // The control's copy keeps the low 32 bits of the size.
    FtpFileStatus status{};
    ASSERT_EQ(FtpGetFileStatus(client, "hello.txt", &status), 1);
    EXPECT_EQ(status.size, 14u);
    EXPECT_STREQ(status.name, "hello.txt");
    EXPECT_EQ(status.permissions, 0644u);

    // Wildcards are refused before any command.
    EXPECT_TRUE(FailsWith(fileErrorInvalidFileName, FtpGetFileStatus(client, "*.txt", &status), 0));
    EXPECT_EQ(client.Finish(), "MLST hello.txt|MLST hello.txt");
    EXPECT_TRUE(FailsWith(fileErrorInvalidHandle, FtpGetFileInfo(client, "x", &entry), 0));
}

TEST_F(FileOpsTest, RefusedCommandsAreLearnedAndTheStatusListingTakesOver) {
    ScopedEnv zone("TZ", "TST-3");  // three hours east of UTC, no daylight saving
    PeerScript script;
    script.Reply("MDTM a.txt", "502 Command not implemented.\r\n")
        .Reply("MLST a.txt", "500 Unknown command.\r\n")
        .Reply("STAT a.txt", StatusReply("-rw-r--r--    1 bob   staff      42 Mar 05  2021 a.txt"))
        .Reply("STAT a.txt", StatusReply("-rw-r--r--    1 bob   staff      42 Mar 05  2021 a.txt"))
        .Reply("STAT a.txt", "504 Not for this argument.\r\n");
    PeerSession client(script, Offering({"MDTM", "MLST size*;"}));
    DWORD before = FtpGetFeatures(client);
    ASSERT_TRUE(before & ftp::kFeatureMdtm);
    ASSERT_TRUE(before & ftp::kFeatureMlst);
    ASSERT_TRUE(before & ftp::kFeatureStat);

    // A listed date is the server's local time; the caller asked for UTC.
    SYSTEMTIME time{};
    EXPECT_EQ(FtpGetFileTime(client, "a.txt", &time, FALSE), 213);
    EXPECT_EQ(TimeText(time), "2021-03-04 21:00:00");
    DWORD learned = FtpGetFeatures(client);
    EXPECT_FALSE(learned & ftp::kFeatureMdtm);
    EXPECT_FALSE(learned & ftp::kFeatureMlst);
    EXPECT_TRUE(learned & ftp::kFeatureStat);
    EXPECT_EQ(learned | ftp::kFeatureMdtm | ftp::kFeatureMlst, before);

    // The next query goes straight to STAT; local time as listed.
    EXPECT_EQ(FtpGetFileTime(client, "a.txt", &time, TRUE), 213);
    EXPECT_EQ(TimeText(time), "2021-03-05 00:00:00");

    // A refused STAT leaves nothing to ask.
    EXPECT_TRUE(
        FailsWith(fileErrorFeatureNotSupported, FtpGetFileTime(client, "a.txt", &time, TRUE)));
    EXPECT_FALSE(FtpGetFeatures(client) & ftp::kFeatureStat);
    FtpDirectoryEntry entry{};
    EXPECT_TRUE(
        FailsWith(fileErrorFeatureNotSupported, FtpGetFileInfo(client, "a.txt", &entry), 0));
    DWORD permissions = 0;
    EXPECT_TRUE(FailsWith(fileErrorFeatureNotSupported,
                          FtpGetFilePermissions(client, "a.txt", &permissions)));
    EXPECT_EQ(client.Finish(), "MDTM a.txt|MLST a.txt|STAT a.txt|STAT a.txt|STAT a.txt");
}

// UTC MDTM times and a missing file are the real servers' (ftp_session_test.cpp).
TEST_F(FileOpsTest, MdtmTimesWithFractionsInLocalTimeAndBrokenOnes) {
    ScopedEnv zone("TZ", "TST-3");
    PeerScript script;
    script.Reply("MDTM a", "213 20200102030405.123\r\n")
        .Reply("MDTM b", "213 19991231233000\r\n")
        .Reply("MDTM c", "213 2020010203040x\r\n")
        .Reply("MDTM d", "213 2020130203040599\r\n");
    PeerSession client(script, Offering({"MDTM"}));

    SYSTEMTIME time{};
    EXPECT_EQ(FtpGetFileTime(client, "a", &time, TRUE), 213);
    EXPECT_EQ(TimeText(time), "2020-01-02 06:04:05");
    EXPECT_EQ(time.wDayOfWeek, 4);  // a Thursday
    EXPECT_EQ(FtpGetFileTime(client, "b", &time, TRUE), 213);
    EXPECT_EQ(TimeText(time), "2000-01-01 02:30:00");

    EXPECT_TRUE(
        FailsWith(fileErrorUnexpectedServerResponse, FtpGetFileTime(client, "c", &time, FALSE)));
    EXPECT_EQ(TimeText(time), "0000-00-00 00:00:00");
    EXPECT_TRUE(FailsWith(fileErrorUnexpectedServerResponse,
                          FtpGetFileTime(client, "d", &time, FALSE)));  // month 13
    EXPECT_EQ(client.Finish(), "MDTM a|MDTM b|MDTM c|MDTM d");
}

TEST_F(FileOpsTest, MlstDatesAreUtcWhenMdtmIsMissing) {
    ScopedEnv zone("TZ", "TST-3");
    PeerScript script;
    script.Reply("MLST a", "250-Listing a\r\n modify=20200102030405;type=file; a\r\n250 End\r\n");
    PeerSession client(script, Offering({"MLST modify*;", "MFMT"}));
    ASSERT_FALSE(FtpGetFeatures(client) & ftp::kFeatureMdtm);
    SYSTEMTIME time{};
    EXPECT_EQ(FtpGetFileTime(client, "a", &time, TRUE), 213);
    EXPECT_EQ(TimeText(time), "2020-01-02 06:04:05");
    EXPECT_EQ(client.Finish(), "MLST a");
}

// ---- Setting times and modes ------------------------------------------------------

TEST_F(FileOpsTest, SetTimeFallsBackFromMfmtToMdtmToSiteUtime) {
    PeerScript script;
    script.Reply("MFMT 20240102030405 a.txt", "500 Unknown command.\r\n")
        .Reply("MDTM 20240102030405 a.txt", "550 20240102030405 a.txt: No such file\r\n")
        .Reply("SITE UTIME 20240102030405 a.txt", "200 UTIME command successful\r\n")
        .Reply("MDTM 20240102030405 a.txt", "213 File modification time set.\r\n")
        .Reply("MDTM 20240102030405 b", "502 Not implemented\r\n")
        .Reply("SITE UTIME 20240102030405 b", "501 Bad arguments\r\n");
    PeerSession client(script);
    DWORD timeCommands = ftp::kFeatureMfmt | ftp::kFeatureMdtm | ftp::kFeatureUtime;
    FtpSetFeatures(client, ftp::kDefaultFeatures | timeCommands);

    SYSTEMTIME time{};
    time.wYear = 2024, time.wMonth = 1, time.wDay = 2, time.wHour = 3, time.wMinute = 4;
    time.wSecond = 5;
    EXPECT_EQ(FtpSetFileTime(client, "a.txt", &time), 200);
    DWORD features = FtpGetFeatures(client);
    EXPECT_FALSE(features & ftp::kFeatureMfmt);
    EXPECT_TRUE(features & ftp::kFeatureMdtm);  // a 550 says nothing about the command
    EXPECT_TRUE(features & ftp::kFeatureUtime);

    EXPECT_EQ(FtpSetFileTime(client, "a.txt", &time), 213);
    EXPECT_TRUE(FailsWith(fileErrorFeatureNotSupported, FtpSetFileTime(client, "b", &time)));
    EXPECT_EQ(FtpGetFeatures(client) & timeCommands, 0u);
    // Nothing is left to try: no command goes out.
    EXPECT_TRUE(FailsWith(fileErrorFeatureNotSupported, FtpSetFileTime(client, "b", &time)));

    EXPECT_EQ(client.Finish(),
              "MFMT 20240102030405 a.txt|MDTM 20240102030405 a.txt|"
              "SITE UTIME 20240102030405 a.txt|MDTM 20240102030405 a.txt|"
              "MDTM 20240102030405 b|SITE UTIME 20240102030405 b");
}

TEST_F(FileOpsTest, SiteChmodWritesTheModeInOctalAndLearnsARefusal) {
    PeerScript script;
    script.Reply("SITE CHMOD 007 with space.txt", "200 SITE CHMOD command successful\r\n")
        .Reply("SITE CHMOD 4750 c", "200 SITE CHMOD command successful\r\n")
        .Reply("SITE CHMOD 644 d", "550 d: Operation not permitted\r\n")
        .Reply("SITE CHMOD 644 e", "502 Unknown SITE command\r\n");
    PeerSession client(script);

    EXPECT_EQ(FtpSetFilePermissions(client, "with space.txt", 0x7), 200);
    EXPECT_EQ(FtpSetFilePermissions(client, "c", 04750), 200);
    EXPECT_TRUE(FailsWith(fileErrorAccessDenied, FtpSetFilePermissions(client, "d", 0644)));
    EXPECT_TRUE(FtpGetFeatures(client) & ftp::kFeatureChmod);
    EXPECT_TRUE(FailsWith(fileErrorFeatureNotSupported, FtpSetFilePermissions(client, "e", 0644)));
    EXPECT_FALSE(FtpGetFeatures(client) & ftp::kFeatureChmod);
    EXPECT_TRUE(FtpGetFeatures(client) & ftp::kFeatureSite);
    EXPECT_TRUE(FailsWith(fileErrorFeatureNotSupported, FtpSetFilePermissions(client, "f", 0644)));
    EXPECT_EQ(client.Finish(),
              "SITE CHMOD 007 with space.txt|SITE CHMOD 4750 c|"
              "SITE CHMOD 644 d|SITE CHMOD 644 e");
}

// ---- Status listings --------------------------------------------------------------

TEST_F(FileOpsTest, StatusFollowsSymbolicLinksToTheirTargets) {
    PeerScript script;
    script
        .Reply("STAT sub/link",
               StatusReply("lrwxrwxrwx 1 bob staff 9 Jan 02 2020 link -> hello.txt"))
        .Reply("STAT sub/hello.txt", StatusReply("-rw-r----- 1 bob staff 14 Jan 02 2020 hello.txt"))
        .Reply("STAT abs", StatusReply("lrwxrwxrwx 1 bob staff 9 Jan 02 2020 abs -> /etc/motd"))
        .Reply("STAT /etc/motd", StatusReply("-rw-r--r-- 1 root root 286 Jan 02 2020 motd"));
    // A link to itself ends after a bounded number of steps, as the link.
    for (int i = 0; i < 9; ++i)
        script.Reply("STAT loop", StatusReply("lrwxrwxrwx 1 bob staff 4 Jan 02 2020 loop -> loop"));
    PeerSession client(script);

    FtpDirectoryEntry entry{};
    ASSERT_EQ(FtpGetFileInfo(client, "sub/link", &entry), 1) << std::hex << FtpGetLastError();
    EXPECT_EQ(Summary(entry), "sub/link|14|640|f|bob:staff|2020-01-02 00:00:00");
    ASSERT_EQ(FtpGetFileInfo(client, "abs", &entry), 1);
    EXPECT_EQ(Summary(entry), "abs|286|644|f|root:root|2020-01-02 00:00:00");
    // Links are flagged as directories.
    ASSERT_EQ(FtpGetFileInfo(client, "loop", &entry), 1);
    EXPECT_EQ(Summary(entry), "loop|4|10777|d|bob:staff|2020-01-02 00:00:00");
    std::string loops;
    for (int i = 0; i < 9; ++i)
        loops += "|STAT loop";
    EXPECT_EQ(client.Finish(), "STAT sub/link|STAT sub/hello.txt|STAT abs|STAT /etc/motd" + loops);
}

TEST_F(FileOpsTest, UnreadableStatusRepliesSayWhy) {
    PeerScript script;
    script.Reply("STAT nosuch", StatusReply(" nosuch: No such file or directory"))
        .Reply("STAT gone", StatusReply("File not found"))
        .Reply("STAT one-line", "213 nothing to list\r\n")
        .Reply("STAT garbage", StatusReply("%%% ### !!!"))
        .Reply("STAT facts", StatusReply(" type=file;size=5; facts"))
        .Reply("STAT later", "450 Busy\r\n")
        .Reply("STAT empty", "213-Status follows:\r\n213 End of status\r\n")
        .Reply("STAT refused", "450 refused: No such file or directory\r\n");
    PeerSession client(script);
    FtpDirectoryEntry entry{};
    EXPECT_TRUE(FailsWith(fileErrorFileNotFound, FtpGetFileInfo(client, "nosuch", &entry), 0));
    EXPECT_TRUE(FailsWith(fileErrorFileNotFound, FtpGetFileInfo(client, "gone", &entry), 0));
    EXPECT_TRUE(
        FailsWith(fileErrorUnknownDirectoryFormat, FtpGetFileInfo(client, "one-line", &entry), 0));
    EXPECT_TRUE(
        FailsWith(fileErrorUnknownDirectoryFormat, FtpGetFileInfo(client, "garbage", &entry), 0));
    ASSERT_EQ(FtpGetFileInfo(client, "facts", &entry), 1);
    EXPECT_EQ(entry.size, 5u);
    EXPECT_TRUE(
        FailsWith(fileErrorRemoteFileUnavailable, FtpGetFileInfo(client, "later", &entry), 0));
    // Nothing listed, or a refusal that names the reason: the file is missing.
    EXPECT_TRUE(FailsWith(fileErrorFileNotFound, FtpGetFileInfo(client, "empty", &entry), 0));
    EXPECT_TRUE(FailsWith(fileErrorFileNotFound, FtpGetFileInfo(client, "refused", &entry), 0));
    EXPECT_TRUE(FtpGetFeatures(client) & ftp::kFeatureStat);
    client.Finish();
}

struct SystemListing {
    const char* label;
    const char* systReply;
    const char* name;
    const char* lines;  // the status reply's listing lines
    const char* entry;  // its Summary, the date as listed (local time)
    uint32_t version;
};

void PrintTo(const SystemListing& listing, std::ostream* out) {
    *out << listing.label;
}

class StatusListingTest : public FileOpsTest,
                          public ::testing::WithParamInterface<SystemListing> {};

TEST_P(StatusListingTest, ParsesTheServersLayout) {
    const SystemListing& listing = GetParam();
    std::string reply = "213-Status of " + std::string(listing.name) + ":\r\n";
    reply += std::string(listing.lines) + "\r\n213 End of status\r\n";
    PeerScript script;
    script.Reply(std::string("STAT ") + listing.name, reply);
    PeerSession client(script, {std::string(listing.systReply) + "\r\n"});
    // Some system types give up STAT; these servers are known to have it.
    FtpSetFeatures(client, FtpGetFeatures(client) | ftp::kFeatureStat);

    FtpDirectoryEntry entry{};
    ASSERT_EQ(FtpGetFileInfo(client, listing.name, &entry), 1) << std::hex << FtpGetLastError();
    EXPECT_EQ(Summary(entry), listing.entry);
    EXPECT_EQ(entry.version, listing.version);
    EXPECT_EQ(client.Finish(), std::string("STAT ") + listing.name + "");
}

// The status reply around the listing, the SYST reply choosing the layout and a VMS
// name on a line of its own (the layouts themselves are listing_test.cpp's).
const SystemListing kSystemListings[] = {
    {"UnixPastTheTotalLine", "215 UNIX Type: L8", "run.sh",
     " total 8\r\n -rwxr-x---   1 bob staff  120 Jan 02  2020 run.sh",
     "run.sh|120|750|f|bob:staff|2020-01-02 00:00:00", 0},
    {"VmsNameOnItsOwnLine", "215 VMS V7.3", "A_VERY_LONG_FILE_NAME_INDEED.TXT",
     "A_VERY_LONG_FILE_NAME_INDEED.TXT;12\r\n"
     "        10/12     3-MAR-2001 09:15:00  [STAFF,JOHN]  (RWED,RWED,R,R)",
     "A_VERY_LONG_FILE_NAME_INDEED.TXT|5120|744|f|JOHN:STAFF|2001-03-03 09:15:00", 12},
};

INSTANTIATE_TEST_SUITE_P(Systems, StatusListingTest, ::testing::ValuesIn(kSystemListings),
                         [](const auto& info) { return std::string(info.param.label); });

// ---- Verification ---------------------------------------------------------------------

// FtpVerifyFile on servers offering digests, CRC-32 alone, MD5 alone or SIZE
// alone: each row one call with the command it sends ("" for none) and its
// reply, and the error it ends with (0: the files match). Digests compare
// without regard to case; the local file is checked before any command; a
// refused command is learned, a missing file is not. Matching and differing
// sizes and digests, and no digest offered, are the real servers' (proftpd and
// vsftpd in tests/integration/cli_ftp_test.cpp).
TEST_F(FileOpsTest, VerifyPicksAnOfferedMethodAndComparesWhatItGives) {
    struct Call {
        const char* command;
        std::string reply;
        const char* local;  // "hello", "zero" (CRC-32 01F43F93), or a path in the folder
        DWORD flags;
        int error;
    };
    struct Server {
        std::string feat;
        std::vector<Call> calls;
        bool xmd5After;  // the session still counts on XMD5
    };
    const DWORD kMd5 = FTP_VERIFY_MD5, kCrc = FTP_VERIFY_CRC32, kSize = FTP_VERIFY_SIZE;
    const Server servers[] = {
        {Features({"XCRC", "XMD5"}),
         {{"XMD5 remote.txt", "250 ", "hello", kMd5, fileErrorFileChecksumMismatch},
          {"XCRC remote.txt", "250 7B55A718 remote.txt", "hello", kCrc, 0},
          {"XCRC remote.txt", "250 7b55a719", "hello", kCrc, fileErrorFileChecksumMismatch},
          {"XCRC zero.txt", "250-Computing CRC32 digest\r\n250 01f43f93", "zero", kCrc, 0},
          {"XMD5 remote.txt", "550 remote.txt: No such file", "hello", kMd5,
           fileErrorAccessDenied}},
         true},
        {Features({"XCRC"}),
         {{"XCRC remote.txt", "250 7B55A718", "hello", kMd5 | kCrc, 0},
          {"", "", "hello", kMd5, fileErrorOperationNotSupported}},
         false},
        {Features({"XMD5"}),
         {{"", "", "missing.bin", kMd5, fileErrorFileNotFound},
          {"", "", "", kMd5, fileErrorAccessDenied},  // the folder itself
          {"XMD5 remote.txt", "502 Command not implemented", "hello", kMd5,
           fileErrorFeatureNotSupported},
          {"", "", "hello", kMd5, fileErrorOperationNotSupported}},
         false},
        {Features({"SIZE"}),
         {{"SIZE gone.txt", "550 gone.txt: No such file", "hello", kSize, fileErrorFileNotFound},
          {"SIZE remote.txt", "213 14", "hello", kSize | kMd5, 0}},
         false},
    };
    WriteFile(tempDir_ / "hello", "Hello, world!\n");
    WriteFile(tempDir_ / "zero", "data 301\n");
    for (const Server& server : servers) {
        SCOPED_TRACE(server.feat);
        PeerScript script;
        std::string commands;
        for (const Call& call : server.calls) {
            if (!*call.command) continue;
            script.Reply(call.command, call.reply + "\r\n");
            commands += (commands.empty() ? "" : "|") + std::string(call.command);
        }
        PeerSession client(script, {kUnixSyst, server.feat});
        for (const Call& call : server.calls) {
            SCOPED_TRACE(std::string(call.command) + " " + call.reply);
            const std::string local = (tempDir_ / call.local).string();
            const std::string remote = *call.command ? call.command + 5 : "remote.txt";
            const int result = FtpVerifyFile(client, local.c_str(), remote.c_str(), call.flags);
            if (call.error == 0) {
                EXPECT_EQ(result, 1) << std::hex << FtpGetLastError();
            } else {
                EXPECT_TRUE(FailsWith(call.error, result, 0));
            }
        }
        EXPECT_EQ((FtpGetFeatures(client) & ftp::kFeatureXmd5) != 0, server.xmd5After);
        EXPECT_EQ(client.Finish(), commands);
    }
}

TEST_F(FileOpsTest, RefusedSizeFallsBackToTheStatusListing) {
    PeerScript script;
    script.Reply("SIZE a.txt", "502 Command not implemented.\r\n")
        .Reply("STAT a.txt", StatusReply("-rw-r--r-- 1 bob staff 42 Mar 05 2021 a.txt"));
    PeerSession client(script, Offering({"SIZE"}));
    int64_t size = 0;
    EXPECT_EQ(FtpGetFileSize64(client, "a.txt", &size), 213) << std::hex << FtpGetLastError();
    EXPECT_EQ(size, 42);
    EXPECT_FALSE(FtpGetFeatures(client) & ftp::kFeatureSize);
    EXPECT_EQ(client.Finish(), "SIZE a.txt|STAT a.txt");
}

// ---- Files and directories --------------------------------------------------------

// Replies the real servers never give (their deletes, renames and folders are
// cli_ftp_test.cpp's ManagementCommandsChangeTheFiles).
TEST_F(FileOpsTest, OddRepliesAndEmptyArgumentsOfFileCommands) {
    PeerScript script;
    script.Reply("RNFR odd", "250 Renamed already?\r\n")
        .Reply("MKD dir", "521 \"/home/bob/dir\" directory already exists\r\n");
    PeerSession client(script);

    EXPECT_EQ(FtpRenameFile(client, "odd", "x"), 250);
    EXPECT_TRUE(FailsWith(fileErrorDirectoryExists, FtpMakeDirectory(client, "dir")));

    // Empty arguments never reach the server.
    EXPECT_TRUE(FailsWith(fileErrorInvalidFileName, FtpDeleteFile(client, "")));
    EXPECT_TRUE(FailsWith(fileErrorInvalidParameter, FtpRenameFile(client, "a", "")));
    EXPECT_TRUE(FailsWith(fileErrorInvalidParameter, FtpMakeDirectory(client, "")));
    EXPECT_EQ(client.Finish(), "RNFR odd|MKD dir");
}

// ---- Listing lines over a session ------------------------------------------------------

TEST_F(FileOpsTest, ParsingALineTeachesTheSessionItsFormat) {
    PeerScript script;
    PeerSession client(script);
    ASSERT_EQ(FtpGetDirectoryFormat(client), FTP_DIRECTORY_AUTO);

    FtpDirectoryEntry entry{};
    ASSERT_EQ(FtpParseListingLine(client, "drwxr-xr-x 2 bob staff 4096 Jan 02 2020 docs", &entry),
              1);
    EXPECT_STREQ(entry.name, "docs");
    EXPECT_EQ(entry.directory, 1);
    EXPECT_EQ(FtpGetDirectoryFormat(client), FTP_DIRECTORY_UNIX);
    // The session now reads UNIX lines only.
    EXPECT_TRUE(FailsWith(fileErrorUnknownDirectoryFormat,
                          FtpParseListingLine(client, "01-02-2020  03:04AM  <DIR>  Docs", &entry),
                          0));
    EXPECT_TRUE(
        FailsWith(fileErrorUnknownDirectoryFormat, FtpParseListingLine(client, "", &entry), 0));

    ASSERT_EQ(FtpParseFacts(client, "type=dir;modify=20240102030405; sub dir", &entry), 1);
    EXPECT_STREQ(entry.name, "sub dir");
    EXPECT_EQ(entry.directory, 1);
    EXPECT_TRUE(FailsWith(fileErrorUnexpectedServerResponse,
                          FtpParseFacts(client, "no facts here", &entry), 0));
    EXPECT_EQ(client.Finish(), "");
}

}  // namespace
