// Listings over scripted control and data connections: the commands a listing
// sends, the entry cursor over the layouts of several systems, lines split
// across reads, long and odd names, unparsable lines, refusals, and the
// listing as one text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftp/directory.h"
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

TEST_F(DirectoryTest, UnixListingReadsThroughTheCursorAndRestoresTheType) {
    DataPeer data;
    data.Serve({.payload = "total 12\r\n"
                           "drwxr-xr-x    2 1001     1001         4096 Mar 05  2021 sub dir\r\n"
                           "-rw-r--r--    1 bob      users          14 Jan 02  2020 "
                           "h\xC3\xA9llo w\xC3\xB6rld.txt\r\n"
                           "lrwxrwxrwx    1 bob      users           7 Jan 02  2020 current -> "
                           "target\r\n"
                           "this line is no listing entry\r\n"
                           "-rw-r--r--    1 bob      users  5000000000 Jan 02  2020 big.iso\r\n",
                .chunk = 37});  // lines split across reads
    PeerSession session(Listing(data, "LIST pub"), Passive());
    const FtpClient client = session.client();

    ASSERT_EQ(FtpOpenDirectory(client, "pub"), 150) << std::hex << FtpGetLastError();
    std::vector<FtpDirectoryEntry> entries = ReadAll(client);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_STREQ(entries[0].name, "sub dir");
    EXPECT_EQ(entries[0].directory, 1);
    EXPECT_EQ(entries[0].permissions, 0755u);
    EXPECT_EQ(entries[0].date.wYear, 2021);
    EXPECT_STREQ(entries[1].name, "h\xC3\xA9llo w\xC3\xB6rld.txt");
    EXPECT_STREQ(entries[1].owner, "bob");
    EXPECT_STREQ(entries[1].group, "users");
    EXPECT_EQ(entries[1].size, 14u);
    EXPECT_EQ(entries[1].directory, 0);
    EXPECT_STREQ(entries[2].name, "current");
    EXPECT_EQ(entries[2].directory, 1);  // links count as directories
    EXPECT_EQ(entries[2].permissions, 0777u | FTP_PERM_SYMLINK);
    EXPECT_EQ(entries[3].size, 5000000000u);
    EXPECT_EQ(FtpGetDirectoryFormat(client), FTP_DIRECTORY_UNIX);

    // The end stays the end; the first entry can be read again.
    FtpDirectoryEntry record{};
    EXPECT_TRUE(FailsWith(fileErrorEndOfDirectory, FtpGetNextEntry(client, &record), 0));
    ASSERT_EQ(FtpGetFirstEntry(client, &record), 1);
    EXPECT_STREQ(record.name, "sub dir");

    EXPECT_EQ(FtpCloseDirectory(client), 226);
    EXPECT_EQ(FtpCloseDirectory(client), 0);  // nothing open any more
    EXPECT_EQ(session.Finish(), "TYPE A|PASV|LIST pub|TYPE I");
}

TEST_F(DirectoryTest, ThousandsOfEntriesInSmallPiecesAllArrive) {
    constexpr int kCount = 3000;
    std::string lines = "total 9000\r\n";
    for (int i = 0; i < kCount; ++i) {
        lines += "-rw-r--r--    1 bob      users " + std::to_string(i) + " Jan 02  2020 file " +
                 std::to_string(i) + " -> x.txt\r\n";
    }
    DataPeer data;
    data.Serve({.payload = lines, .chunk = 1001});
    PeerSession session(Listing(data, "LIST"), Passive());

    std::vector<FtpDirectoryEntry> entries = ListAll(session.client(), nullptr);
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; ++i) {
        // Not a link: " -> " belongs to the name.
        ASSERT_EQ(entries[i].name, "file " + std::to_string(i) + " -> x.txt");
        ASSERT_EQ(entries[i].size, static_cast<std::uint64_t>(i));
    }
    EXPECT_EQ(session.Finish(), "TYPE A|PASV|LIST|TYPE I");
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
    DataPeer data;
    data.Serve({.payload = layout.lines, .chunk = layout.chunk});
    PeerSession session(Listing(data, "LIST"), Passive(layout.syst));
    EXPECT_EQ(Names(ListAll(session.client(), nullptr)), layout.names);
    EXPECT_EQ(FtpGetDirectoryFormat(session.client()), layout.format);
    EXPECT_EQ(session.Finish(), "TYPE A|PASV|LIST|TYPE I");
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
    DataPeer data;
    data.Serve({.payload = "total 0\r\n"});
    PeerSession session(Listing(data, "LIST empty"), Passive());
    const FtpClient client = session.client();

    FtpDirectoryEntry record{};
    EXPECT_TRUE(
        FailsWith(fileErrorEndOfDirectory, FtpGetNextEntry(client, &record), 0));  // no listing yet
    EXPECT_TRUE(FailsWith(fileErrorDirectoryEmpty, FtpGetFirstEntry(client, &record), 0));

    ASSERT_EQ(FtpOpenDirectory(client, "empty"), 150);
    EXPECT_TRUE(FailsWith(fileErrorDirectoryEmpty, FtpGetFirstEntry(client, &record), 0));
    EXPECT_EQ(FtpCloseDirectory(client), 226);
    EXPECT_EQ(session.Finish(), "TYPE A|PASV|LIST empty|TYPE I");
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
    PeerSession session(script, Passive());
    const FtpClient client = session.client();

    EXPECT_TRUE(
        FailsWith(fileErrorAccessDenied, FtpOpenDirectory(client, "missing")));  // the 550, kept
    EXPECT_TRUE(FailsWith(fileErrorConnectionOpen, FtpOpenFileList(client, nullptr, TRUE)));
    EXPECT_EQ(FtpCloseDirectory(client), 0);
    EXPECT_EQ(FtpCommand(client, "NOOP", nullptr), 200);  // the channel is free again
    session.Finish();
}

TEST_F(DirectoryTest, SecondOpenWhileListingIsRefused) {
    DataPeer data;
    data.Serve({.payload = "-rw-r--r-- 1 a b 1 Jan 02 2020 one\r\n"});
    PeerSession session(Listing(data, "LIST"), Passive());
    const FtpClient client = session.client();

    ASSERT_EQ(FtpOpenDirectory(client, nullptr), 150);
    EXPECT_TRUE(FailsWith(fileErrorConnectionOpen, FtpOpenDirectory(client, nullptr)));
    EXPECT_EQ(FtpCommand(client, "NOOP", nullptr), -1);  // the listing owns the channel
    EXPECT_EQ(FtpCloseDirectory(client), 226);           // closed before reading
    EXPECT_EQ(session.Finish(), "TYPE A|PASV|LIST|TYPE I");
}

// ---- Name-only listings and the listing as one text --------------------------------------

TEST_F(DirectoryTest, FileListGivesCrLfLinesAndNameOnlyEntries) {
    DataPeer names;
    names.Serve({.payload = "a.txt\nmy file.txt\r\nsub\r\n"});
    DataPeer cut;
    cut.Serve({.payload = std::string(20000, 'y') + "\r\n"});
    PeerSession session(Listing(cut, "LIST", Listing(names, "NLST pub")), Passive());
    const FtpClient client = session.client();

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
    EXPECT_EQ(session.Finish(), "TYPE A|PASV|NLST pub|TYPE I|TYPE A|PASV|LIST|TYPE I");
}

TEST_F(DirectoryTest, NameOnlyListingThroughTheCursorKeepsTheFirstWord) {
    DataPeer data;
    data.Serve({.payload = "total.txt\r\nmy file.txt\r\n"});
    PeerSession session(Listing(data, "NLST"), Passive());
    ASSERT_EQ(FtpOpenFileList(session.client(), nullptr, TRUE), 150);
    EXPECT_EQ(Names(ReadAll(session.client())), "total.txt|my");
    EXPECT_EQ(FtpCloseDirectory(session.client()), 226);
    EXPECT_EQ(session.Finish(), "TYPE A|PASV|NLST|TYPE I");
}

}  // namespace
