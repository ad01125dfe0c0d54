// Listings and multiple-file transfers over scripted control and data connections: the
// commands a listing sends, the entry cursor over the layouts of several systems, lines
// split across reads, long and odd names, unparsable lines, refusals and the listing as
// one text; what a multiple-file transfer copies from a listing with directories, links
// and odd names, where the files land, the remote directory changed to and back, the
// first failure or a cancel ending the run, and the local mask rules. Uploads by mask
// and downloads of plain names are cli_ftp_test.cpp's mput and mget, on real servers.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ftp/directory.h"
#include "ftp/ftp.h"
#include "ftp/local_mask.h"
#include "support/test_files.h"
#include "tests/ftp/listing_session.h"

namespace {

using namespace ftptest;
using testsupport::DataPeer;

std::string Names(const std::vector<FtpDirectoryEntry>& entries) {
    std::string names;
    for (const FtpDirectoryEntry& entry : entries)
        names += (names.empty() ? "" : "|") + std::string(entry.name);
    return names;
}

using DirectoryTest = EngineTest;

// ---- UNIX listings through the cursor ---------------------------------------------

// (Names with blanks, links and sizes beyond 4 GiB in the listings of the real
// servers are cli_ftp_test.cpp's.)
TEST_F(DirectoryTest, UnixListingReadsThroughTheCursorAndRestoresTheType) {
    DataPeer data({.payload = "total 12\r\n"
                              "drwxr-xr-x    2 1001     1001         4096 Mar 05  2021 sub dir\r\n"
                              "this line is no listing entry\r\n"
                              "-rw-r--r--    1 bob      users  5000000000 Jan 02  2020 big.iso\r\n",
                   .chunk = 37});  // lines split across reads
    PeerSession client(Listing(data, "LIST pub"), Passive());

    ASSERT_EQ(FtpOpenDirectory(client, "pub"), 150) << std::hex << FtpGetLastError();
    std::vector<FtpDirectoryEntry> entries = ReadAll(client);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(Summary(entries[0]), "sub dir|4096|755|d|1001:1001|2021-03-05 00:00:00");
    EXPECT_EQ(Summary(entries[1]), "big.iso|5000000000|644|f|bob:users|2020-01-02 00:00:00");
    EXPECT_EQ(FtpGetDirectoryFormat(client), FTP_DIRECTORY_UNIX);

    // The end stays the end; the first entry can be read again.
    FtpDirectoryEntry record{};
    EXPECT_TRUE(FailsWith(fileErrorEndOfDirectory, FtpGetNextEntry(client, &record), 0));
    ASSERT_EQ(FtpGetFirstEntry(client, &record), 1);
    EXPECT_STREQ(record.name, "sub dir");

    EXPECT_EQ(FtpCloseDirectory(client), 226);
    EXPECT_EQ(FtpCloseDirectory(client), 0);  // nothing open any more
    EXPECT_EQ(client.Finish(), "TYPE A|PASV|LIST pub|TYPE I");
}

// ---- A layout chosen by SYST, and lines the line buffer must survive ---------------------
// (The layouts themselves are the listing tests'; here VMS lines split across reads and
// joined, and an overlong line.)

struct Layout {
    const char* label;
    const char* syst;
    std::string lines;
    std::size_t chunk;
    int format;
    std::string names;  // the names read, joined with '|'
};

void PrintTo(const Layout& layout, std::ostream* out) {
    *out << layout.label;
}

class LayoutTest : public DirectoryTest, public ::testing::WithParamInterface<Layout> {};

TEST_P(LayoutTest, ReadsThroughTheCursor) {
    const Layout& layout = GetParam();
    DataPeer data({.payload = layout.lines, .chunk = layout.chunk});
    PeerSession client(Listing(data, "LIST"), Passive(layout.syst));
    EXPECT_EQ(Names(ListAll(client, nullptr)), layout.names);
    EXPECT_EQ(FtpGetDirectoryFormat(client), layout.format);
    EXPECT_EQ(client.Finish(), "TYPE A|PASV|LIST|TYPE I");
}

INSTANTIATE_TEST_SUITE_P(
    Systems, LayoutTest,
    ::testing::Values(Layout{"vms", "215 VMS OpenVMS V7.3 on node X\r\n",
                             "Directory DISK$USER:[BOB]\r\n\r\n"
                             "A_VERY_LONG_FILE_NAME_THAT_FILLS_ITS_LINE.TXT;3\r\n"
                             "        4/5  15-MAR-2021 12:34:56  [STAFF,BOB]  (RWED,RWED,RE,)\r\n"
                             "SUB.DIR;1  1/2  15-MAR-2021 12:34  [STAFF,BOB]  (RWE,RWE,RE,RE)\r\n"
                             "\r\nTotal of 2 files.\r\n",
                             13, FTP_DIRECTORY_VMS,
                             "A_VERY_LONG_FILE_NAME_THAT_FILLS_ITS_LINE.TXT|SUB"},
                      // An overlong line is cut at the line buffer; the last line has no end.
                      Layout{"overlong", kUnixSyst,
                             "-rw-r--r-- 1 a b 1 Jan 02 2020 " + std::string(3000, 'x') +
                                 "\r\n-rw-r--r-- 1 a b 2 Jan 02 2020 after.txt",
                             65536, FTP_DIRECTORY_UNIX,
                             std::string(FTP_ENTRY_NAME_SIZE - 1, 'x') + "|after.txt"}));

// ---- Empty listings, refusals and misuse -----------------------------------------------

TEST_F(DirectoryTest, EmptyListingIsDirectoryEmptyAndNothingOpenIsEndOfDirectory) {
    DataPeer data({.payload = "total 0\r\n"});
    PeerSession client(Listing(data, "LIST empty"), Passive());

    FtpDirectoryEntry record{};
    EXPECT_TRUE(
        FailsWith(fileErrorEndOfDirectory, FtpGetNextEntry(client, &record), 0));  // no listing yet
    EXPECT_TRUE(FailsWith(fileErrorDirectoryEmpty, FtpGetFirstEntry(client, &record), 0));

    ASSERT_EQ(FtpOpenDirectory(client, "empty"), 150);
    EXPECT_TRUE(FailsWith(fileErrorDirectoryEmpty, FtpGetFirstEntry(client, &record), 0));
    EXPECT_EQ(FtpCloseDirectory(client), 226);
    EXPECT_EQ(client.Finish(), "TYPE A|PASV|LIST empty|TYPE I");
}

TEST_F(DirectoryTest, RefusedListingClosesTheDataConnectionAndRestoresTheType) {
    DataPeer data;
    PeerScript script;
    script.Reply("TYPE A", "200 ASCII\r\n")
        .Reply("PASV", data.PasvReply())
        .Reply("LIST missing", "550 No such directory.\r\n")
        .Reply("TYPE I", "200 Binary\r\n")
        .Reply("TYPE A", "200 ASCII\r\n")
        .Reply("PASV", data.PasvReply())
        .Reply("NLST", "226 Nothing to send.\r\n")  // positive, yet no transfer
        .Reply("TYPE I", "200 Binary\r\n")
        .Reply("NOOP", "200 ok\r\n");
    PeerSession client(script, Passive());

    EXPECT_TRUE(
        FailsWith(fileErrorAccessDenied, FtpOpenDirectory(client, "missing")));  // the 550, kept
    EXPECT_TRUE(FailsWith(fileErrorConnectionOpen, FtpOpenFileList(client, nullptr, TRUE)));
    EXPECT_EQ(FtpCloseDirectory(client), 0);
    EXPECT_EQ(FtpCommand(client, "NOOP", nullptr), 200);  // the channel is free again
    client.Finish();
}

TEST_F(DirectoryTest, SecondOpenWhileListingIsRefused) {
    DataPeer data({.payload = "-rw-r--r-- 1 a b 1 Jan 02 2020 one\r\n"});
    PeerSession client(Listing(data, "LIST"), Passive());

    ASSERT_EQ(FtpOpenDirectory(client, nullptr), 150);
    EXPECT_TRUE(FailsWith(fileErrorConnectionOpen, FtpOpenDirectory(client, nullptr)));
    EXPECT_EQ(FtpCommand(client, "NOOP", nullptr), -1);  // the listing owns the channel
    EXPECT_EQ(FtpCloseDirectory(client), 226);           // closed before reading
    EXPECT_EQ(client.Finish(), "TYPE A|PASV|LIST|TYPE I");
}

// ---- Name-only listings and the listing as one text --------------------------------------

TEST_F(DirectoryTest, FileListGivesCrLfLinesAndNameOnlyEntries) {
    DataPeer names({.payload = "a.txt\nmy file.txt\r\nsub\r\n"});
    DataPeer cut({.payload = std::string(20000, 'y') + "\r\n"});
    PeerSession client(Listing(cut, "LIST", Listing(names, "NLST pub")), Passive());

    char buffer[64];
    ASSERT_EQ(FtpGetFileList(client, "pub", TRUE, buffer, sizeof buffer), 25)
        << std::hex << FtpGetLastError();
    EXPECT_STREQ(buffer, "a.txt\r\nmy file.txt\r\nsub\r\n");
    // What does not fit is read and dropped; the transfer still ends cleanly.
    ASSERT_EQ(FtpGetFileList(client, nullptr, FALSE, buffer, 11), 10);
    EXPECT_STREQ(buffer, "yyyyyyyyyy");
    EXPECT_EQ(FtpGetResultCode(client), 200);  // TYPE I after 226

    EXPECT_TRUE(
        FailsWith(fileErrorInvalidParameter, FtpGetFileList(client, nullptr, FALSE, nullptr, 10)));
    EXPECT_TRUE(
        FailsWith(fileErrorBufferTooSmall, FtpGetFileList(client, nullptr, FALSE, buffer, 1)));
    EXPECT_EQ(client.Finish(), "TYPE A|PASV|NLST pub|TYPE I|TYPE A|PASV|LIST|TYPE I");
}

TEST_F(DirectoryTest, NameOnlyListingThroughTheCursorKeepsTheFirstWord) {
    DataPeer data({.payload = "total.txt\r\nmy file.txt\r\n"});
    PeerSession client(Listing(data, "NLST"), Passive());
    ASSERT_EQ(FtpOpenFileList(client, nullptr, TRUE), 150);
    EXPECT_EQ(Names(ReadAll(client)), "total.txt|my");
    EXPECT_EQ(FtpCloseDirectory(client), 226);
    EXPECT_EQ(client.Finish(), "TYPE A|PASV|NLST|TYPE I");
}

using testsupport::DataPlan;
namespace fs = std::filesystem;

std::string ListingLine(const std::string& name, std::size_t size, char type = '-') {
    return std::string(1, type) + "rw-r--r--    1 bob      users " + std::to_string(size) +
           " Jan 02  2020 " + name + "\r\n";
}

// Data peers, one per data connection a test expects, in order.
class DataPeers {
  public:
    DataPeer& Serve(DataPlan plan) {
        peers_.push_back(std::make_unique<DataPeer>());
        peers_.back()->Serve(std::move(plan));
        return *peers_.back();
    }
    DataPeer& operator[](std::size_t i) { return *peers_[i]; }

  private:
    std::vector<std::unique_ptr<DataPeer>> peers_;
};

void AddChangeDirectory(PeerScript& script, const std::string& to, const std::string& shown) {
    script.Reply("CWD " + to, "250 Directory successfully changed.\r\n")
        .Reply("PWD", "257 \"" + shown + "\"\r\n");
}

// CWD pub from /home/bob: PWD (kept), CWD, PWD (refreshed).
void AddEnterPub(PeerScript& script) {
    script.Reply("PWD", "257 \"/home/bob\"\r\n");
    AddChangeDirectory(script, "pub", "/home/bob/pub");
}

class MultipleFilesTest : public EngineTest {
  protected:
    static SessionSetup PassiveSetup() {
        return {kUnixSyst, Features({"SIZE"}), FTP_OPTION_NOAUTH | FTP_OPTION_PASSIVE};
    }
    ScratchFolder folder_{"ft-multi"};
    const fs::path dir_ = folder_.path();
};

// ---- Downloads --------------------------------------------------------------------

TEST_F(MultipleFilesTest, DownloadsEveryFileOfTheListingAndSkipsDirectoriesAndLinks) {
    const std::string first = "first file\n";
    DataPeers data;
    data.Serve({.payload = "total 3\r\n" + ListingLine("sub", 4096, 'd') +
                           ListingLine("a.bin", 11) + ListingLine("link", 7, 'l') +
                           ListingLine("../escape.bin", 1)});
    data.Serve({.payload = first});
    PeerScript script;
    AddEnterPub(script);
    script = Listing(data[0], "LIST *.bin", std::move(script));
    AddDownload(script, data[1], "a.bin", first.size());
    AddChangeDirectory(script, "/home/bob", "/home/bob");
    PeerSession client(script, PassiveSetup());

    // A local directory that ends in its separator gets no second one.
    const std::string local = dir_.string() + "/";
    ASSERT_EQ(FtpGetMultipleFiles(client, local.c_str(), "pub", "*.bin"), 0)
        << std::hex << FtpGetLastError();
    EXPECT_EQ(FtpGetLastError(), 0u);
    EXPECT_EQ(ReadFile(dir_ / "a.bin"), first);
    EXPECT_FALSE(fs::exists(dir_ / "sub"));
    EXPECT_FALSE(fs::exists(dir_ / "link"));
    EXPECT_FALSE(fs::exists(dir_.parent_path() / "escape.bin"));
    EXPECT_EQ(client.Finish(),
              "PWD|CWD pub|PWD|TYPE A|PASV|LIST *.bin|TYPE I|SIZE a.bin|PASV|RETR a.bin|"
              "CWD /home/bob|PWD");
}

TEST_F(MultipleFilesTest, TheFirstFailingFileEndsTheRunAndKeepsWhatCameBefore) {
    DataPeers data;
    data.Serve({.payload = ListingLine("one.bin", 3) + ListingLine("two.bin", 3) +
                           ListingLine("three.bin", 3)});
    data.Serve({.payload = "111"});
    data.Serve({.payload = "never sent"});
    PeerScript script;
    AddEnterPub(script);
    script = Listing(data[0], "LIST", std::move(script));
    AddDownload(script, data[1], "one.bin", 3);
    script.Reply("SIZE two.bin", "213 3\r\n")
        .Reply("PASV", data[2].PasvReply())
        .Reply("RETR two.bin", "550 Permission denied.\r\n");
    AddChangeDirectory(script, "/home/bob", "/home/bob");
    PeerSession client(script, PassiveSetup());

    EXPECT_TRUE(FailsWith(fileErrorAccessDenied,
                          FtpGetMultipleFiles(client, dir_.c_str(), "pub", nullptr)));
    EXPECT_EQ(ReadFile(dir_ / "one.bin"), "111");
    EXPECT_FALSE(fs::exists(dir_ / "two.bin"));
    EXPECT_FALSE(fs::exists(dir_ / "three.bin"));
    // The directory is changed back, and the failure survives that.
    EXPECT_EQ(client.Finish(),
              "PWD|CWD pub|PWD|TYPE A|PASV|LIST|TYPE I|SIZE one.bin|PASV|"
              "RETR one.bin|SIZE two.bin|PASV|RETR two.bin|CWD /home/bob|PWD");
}

TEST_F(MultipleFilesTest, ACancelInTheFirstFileEndsTheRun) {
    DataPeers data;
    data.Serve({.payload = ListingLine("big.bin", 2000000) + ListingLine("next.bin", 1)});
    data.Serve({.payload = std::string(2000000, 'b'), .chunk = 8192, .chunkDelayMs = 20});
    PeerScript script;
    script = Listing(data[0], "LIST", std::move(script));
    script.Reply("SIZE big.bin", "213 2000000\r\n")
        .Reply("PASV", data[1].PasvReply())
        .Reply("RETR big.bin", "150 Opening\r\n")
        .SendAfter(200, "426 Failure writing network stream.\r\n")
        .Reply("NOOP", "200 NOOP ok.\r\n");
    PeerSession client(script, PassiveSetup());
    // Cancels are accepted from any thread.
    std::thread canceller([client = FtpClient(client)] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        FtpCancel(client);
    });
    EXPECT_TRUE(FailsWith(fileErrorOperationCanceled,
                          FtpGetMultipleFiles(client, dir_.c_str(), nullptr, nullptr)));
    canceller.join();
    EXPECT_LT(fs::file_size(dir_ / "big.bin"), 2000000u);
    EXPECT_FALSE(fs::exists(dir_ / "next.bin"));
    EXPECT_EQ(client.Finish(), "TYPE A|PASV|LIST|TYPE I|SIZE big.bin|PASV|RETR big.bin|NOOP");
}

TEST_F(MultipleFilesTest, AListingWithoutEntriesIsAnEmptyDirectory) {
    DataPeers data;
    data.Serve({.payload = "total 0\r\n"});
    PeerScript script;
    AddEnterPub(script);
    script = Listing(data[0], "LIST *.none", std::move(script));
    AddChangeDirectory(script, "/home/bob", "/home/bob");
    PeerSession client(script, PassiveSetup());

    EXPECT_TRUE(
        FailsWith(fileErrorDirectoryEmpty, FtpGetMultipleFiles(client, "", "pub", "*.none")));
    EXPECT_EQ(client.Finish(), "PWD|CWD pub|PWD|TYPE A|PASV|LIST *.none|TYPE I|CWD /home/bob|PWD");
}

// ---- Local masks --------------------------------------------------------------------

struct MaskCase {
    const char* mask;
    const char* name;
    bool matches;
};

TEST(LocalMask, FollowsTheSystemsWildcardRules) {
    const MaskCase cases[] = {
        {"*.*", "README", true},    {"*", ".hidden", true},        {"*.txt", "notes.TXT", true},
        {"?.bin", "ab.bin", false}, {"a*b*c", "aXbYbZc", true},    {"a*b*c", "aXbYbZ", false},
        {"data.*", "data", true},   {"data.*", "database", false}, {"[a].bin", "a.bin", false},
    };
    for (const MaskCase& c : cases) {
        EXPECT_EQ(ftp::MatchesLocalMask(c.mask, c.name), c.matches) << c.mask << " " << c.name;
    }
    // Masks that would explode a naive backtracking matcher stay quick.
    EXPECT_FALSE(ftp::MatchesLocalMask("*a*a*a*a*a*a*a*a*b", std::string(5000, 'a')));
}

}  // namespace
