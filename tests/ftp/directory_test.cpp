// Listings over scripted control and data connections: the commands a listing
// sends, the entry cursor over the layouts of several systems, lines split
// across reads, long and odd names, unparsable lines, refusals, and the
// listing as one text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftp/directory.h"
#include "ftp/ftp.h"
#include "resources/errors.h"
#include "support/scripted_peer.h"
#include "tests/ftp/data_peer.h"

namespace {

using testsupport::DataPeer;
using testsupport::DataPlan;
using testsupport::PeerScript;
using testsupport::ScriptedPeer;

constexpr const char* kUnixSyst = "215 UNIX Type: L8\r\n";
constexpr const char* kNoFeatures = "211 No features\r\n";
constexpr const char* kLogin = "PWD|SYST|FEAT|TYPE I|";

DWORD Code(int number) {
    return MakeErrorCode(number);
}

PeerScript LoggedIn(const std::string& syst = kUnixSyst, const std::string& feat = kNoFeatures) {
    PeerScript script;
    script.Send("220 ready\r\n")
        .Reply("PWD", "257 \"/home/bob\"\r\n")
        .Reply("SYST", syst)
        .Reply("FEAT", feat)
        .Reply("TYPE I", "200 Binary\r\n");
    return script;
}

// The commands of one listing whose data the peer sends: TYPE A, PASV, the
// listing command, and the completion reply.
PeerScript& Listing(PeerScript& script, const DataPeer& data, const std::string& command) {
    return script.Reply("TYPE A", "200 ASCII\r\n")
        .Reply("PASV", data.PasvReply())
        .Reply(command, "150 Here comes the directory listing.\r\n")
        .Send("226 Directory send OK.\r\n");
}

PeerScript& RestoreAndQuit(PeerScript& script) {
    return script.Reply("TYPE I", "200 Binary\r\n").Reply("QUIT", "221 Bye\r\n");
}

struct Entry {
    std::string name;
    FtpDirectoryEntry record;
};

class DirectoryTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(FtpInitialize(nullptr), 1); }
    void TearDown() override { FtpUninitialize(); }

    FtpClient Open(const ScriptedPeer& peer) {
        FtpClient client = FtpConnect("127.0.0.1", peer.port(), nullptr, nullptr, 5,
                                      FTP_OPTION_NOAUTH | FTP_OPTION_PASSIVE, nullptr);
        EXPECT_NE(client, INVALID_CLIENT) << std::hex << FtpGetLastError();
        return client;
    }

    // Every entry through the cursor, until it reports the end.
    static std::vector<Entry> ReadAll(FtpClient client) {
        std::vector<Entry> entries;
        FtpDirectoryEntry record{};
        if (!FtpGetFirstEntry(client, &record)) return entries;
        do {
            entries.push_back({record.name, record});
        } while (FtpGetNextEntry(client, &record));
        EXPECT_EQ(FtpGetLastError(), Code(fileErrorEndOfDirectory));
        return entries;
    }

    static std::string Finish(FtpClient client, ScriptedPeer& peer) {
        EXPECT_EQ(FtpDisconnect(client), 0);
        EXPECT_EQ(peer.Finish(), "");
        std::string transcript = peer.Transcript();
        EXPECT_EQ(transcript.rfind(kLogin, 0), 0u) << transcript;
        return transcript.substr(std::string(kLogin).size());
    }
};

// ---- UNIX listings through the cursor ---------------------------------------------

TEST_F(DirectoryTest, UnixListingReadsThroughTheCursorAndRestoresTheType) {
    const std::string lines =
        "total 12\r\n"
        "drwxr-xr-x    2 1001     1001         4096 Mar 05  2021 sub dir\r\n"
        "-rw-r--r--    1 bob      users          14 Jan 02  2020 h\xC3\xA9llo w\xC3\xB6rld.txt\r\n"
        "lrwxrwxrwx    1 bob      users           7 Jan 02  2020 current -> target\r\n"
        "this line is no listing entry\r\n"
        "-rw-r--r--    1 bob      users  5000000000 Jan 02  2020 big.iso\r\n";
    DataPeer data;
    data.Serve({.payload = lines, .chunk = 37});  // lines split across reads
    PeerScript script = LoggedIn();
    Listing(script, data, "LIST pub");
    RestoreAndQuit(script);
    ScriptedPeer peer(script);
    FtpClient client = Open(peer);
    ASSERT_NE(client, INVALID_CLIENT);

    ASSERT_EQ(FtpOpenDirectory(client, "pub"), 150) << std::hex << FtpGetLastError();
    std::vector<Entry> entries = ReadAll(client);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].name, "sub dir");
    EXPECT_EQ(entries[0].record.directory, 1);
    EXPECT_EQ(entries[0].record.permissions, 0755u);
    EXPECT_EQ(entries[0].record.date.wYear, 2021);
    EXPECT_EQ(entries[1].name, "h\xC3\xA9llo w\xC3\xB6rld.txt");
    EXPECT_STREQ(entries[1].record.owner, "bob");
    EXPECT_STREQ(entries[1].record.group, "users");
    EXPECT_EQ(entries[1].record.size, 14u);
    EXPECT_EQ(entries[1].record.directory, 0);
    EXPECT_EQ(entries[2].name, "current");
    EXPECT_EQ(entries[2].record.directory, 1);  // links count as directories
    EXPECT_EQ(entries[2].record.permissions, 0777u | FTP_PERM_SYMLINK);
    EXPECT_EQ(entries[3].record.size, 5000000000u);
    EXPECT_EQ(FtpGetDirectoryFormat(client), FTP_DIRECTORY_UNIX);

    // The end stays the end; the first entry can be read again.
    FtpDirectoryEntry record{};
    EXPECT_EQ(FtpGetNextEntry(client, &record), 0);
    EXPECT_EQ(FtpGetLastError(), Code(fileErrorEndOfDirectory));
    ASSERT_EQ(FtpGetFirstEntry(client, &record), 1);
    EXPECT_STREQ(record.name, "sub dir");

    EXPECT_EQ(FtpCloseDirectory(client), 226);
    EXPECT_EQ(FtpCloseDirectory(client), 0);  // nothing open any more
    EXPECT_EQ(Finish(client, peer), "TYPE A|PASV|LIST pub|TYPE I|QUIT");
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
    PeerScript script = LoggedIn();
    Listing(script, data, "LIST");
    RestoreAndQuit(script);
    ScriptedPeer peer(script);
    FtpClient client = Open(peer);
    ASSERT_NE(client, INVALID_CLIENT);

    ASSERT_EQ(FtpOpenDirectory(client, nullptr), 150);
    std::vector<Entry> entries = ReadAll(client);
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; ++i) {
        // Not a link: " -> " belongs to the name.
        ASSERT_EQ(entries[i].name, "file " + std::to_string(i) + " -> x.txt");
        ASSERT_EQ(entries[i].record.size, static_cast<std::uint64_t>(i));
    }
    EXPECT_EQ(FtpCloseDirectory(client), 226);
    EXPECT_EQ(Finish(client, peer), "TYPE A|PASV|LIST|TYPE I|QUIT");
}

TEST_F(DirectoryTest, OverlongLineIsDroppedAndTheNextLineStillParses) {
    const std::string lines = "-rw-r--r-- 1 a b 1 Jan 02 2020 " + std::string(3000, 'x') +
                              "\r\n-rw-r--r-- 1 a b 2 Jan 02 2020 after.txt";  // no line end
    DataPeer data;
    data.Serve({.payload = lines});
    PeerScript script = LoggedIn();
    Listing(script, data, "LIST");
    RestoreAndQuit(script);
    ScriptedPeer peer(script);
    FtpClient client = Open(peer);
    ASSERT_NE(client, INVALID_CLIENT);

    ASSERT_EQ(FtpOpenDirectory(client, ""), 150);
    std::vector<Entry> entries = ReadAll(client);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name.size(), FTP_ENTRY_NAME_SIZE - 1u);  // cut at the line buffer
    EXPECT_EQ(entries[1].name, "after.txt");
    EXPECT_EQ(entries[1].record.size, 2u);
    EXPECT_EQ(FtpCloseDirectory(client), 226);
    Finish(client, peer);
}

// ---- Other systems' layouts ---------------------------------------------------------

struct Layout {
    const char* label;
    const char* syst;
    const char* lines;
    int format;
    const char* names;  // the names read, joined with '|'
};

void PrintTo(const Layout& layout, std::ostream* out) {
    *out << layout.label;
}

class LayoutTest : public DirectoryTest, public ::testing::WithParamInterface<Layout> {};

TEST_P(LayoutTest, ReadsThroughTheCursor) {
    const Layout& layout = GetParam();
    DataPeer data;
    data.Serve({.payload = layout.lines, .chunk = 13});
    PeerScript script = LoggedIn(layout.syst);
    Listing(script, data, "LIST");
    RestoreAndQuit(script);
    ScriptedPeer peer(script);
    FtpClient client = Open(peer);
    ASSERT_NE(client, INVALID_CLIENT);

    ASSERT_EQ(FtpOpenDirectory(client, nullptr), 150);
    std::string names;
    for (const Entry& entry : ReadAll(client))
        names += (names.empty() ? "" : "|") + entry.name;
    EXPECT_EQ(names, layout.names);
    EXPECT_EQ(FtpGetDirectoryFormat(client), layout.format);
    EXPECT_EQ(FtpCloseDirectory(client), 226);
    Finish(client, peer);
}

INSTANTIATE_TEST_SUITE_P(
    Systems, LayoutTest,
    ::testing::Values(Layout{"msdos", "215 Windows_NT\r\n",
                             "03-15-99  02:05PM       <DIR>          Docs\r\n"
                             "01-02-20  09:00AM                 1234 read me.txt\r\n",
                             FTP_DIRECTORY_MSDOS, "Docs|read me.txt"},
                      Layout{"vms", "215 VMS OpenVMS V7.3 on node X\r\n",
                             "Directory DISK$USER:[BOB]\r\n\r\n"
                             "A_VERY_LONG_FILE_NAME_THAT_FILLS_ITS_LINE.TXT;3\r\n"
                             "        4/5  15-MAR-2021 12:34:56  [STAFF,BOB]  (RWED,RWED,RE,)\r\n"
                             "SUB.DIR;1  1/2  15-MAR-2021 12:34  [STAFF,BOB]  (RWE,RWE,RE,RE)\r\n"
                             "\r\nTotal of 2 files.\r\n",
                             FTP_DIRECTORY_VMS,
                             "A_VERY_LONG_FILE_NAME_THAT_FILLS_ITS_LINE.TXT|SUB"},
                      Layout{"netware", "215 NETWARE Type: L8\r\n",
                             "d [RWCEAFMS] bob 512 Mar 05 12:34 public\r\n"
                             "- [RWCEAFMS] bob 1024 Jan 02 2020 report.doc\r\n",
                             FTP_DIRECTORY_NETWARE, "public|report.doc"},
                      Layout{"sterling", "215 UNKNOWN\r\n",
                             "-ARTE-----TCP A555  ADMIN   group  1024 Mar 05 12:34 mailbox.dat\r\n"
                             "-C--E-----FTP B QUA1I1      18128       41 Aug 12 13:56 sent.dat\r\n",
                             FTP_DIRECTORY_STERLING1, "mailbox.dat|sent.dat"}));

// ---- MLSD -----------------------------------------------------------------------------

TEST_F(DirectoryTest, FactsListingNeedsTheMlstFeatureAndFillsOwnerAndGroup) {
    DataPeer data;
    data.Serve({.payload = "modify=20240102030405;perm=adfr;size=10;type=file;UNIX.group=1001;"
                           "UNIX.mode=0640;UNIX.owner=1000; a;b.txt\r\n"
                           "modify=20240102030405;perm=flcdmpe;type=dir;UNIX.mode=0755; sub\r\n"});
    PeerScript script = LoggedIn(kUnixSyst, "211-Features:\r\n MLST type*;size*;\r\n211 End\r\n");
    Listing(script, data, "MLSD /pub");
    RestoreAndQuit(script);
    ScriptedPeer peer(script);
    FtpClient client = Open(peer);
    ASSERT_NE(client, INVALID_CLIENT);

    ASSERT_EQ(FtpSetDirectoryFormat(client, FTP_DIRECTORY_MLSD), 0);
    ASSERT_EQ(FtpOpenDirectory(client, "/pub"), 150);
    std::vector<Entry> entries = ReadAll(client);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "a;b.txt");
    EXPECT_EQ(entries[0].record.size, 10u);
    EXPECT_EQ(entries[0].record.permissions, 0640u);
    EXPECT_STREQ(entries[0].record.owner, "1000");
    EXPECT_STREQ(entries[0].record.group, "1001");
    EXPECT_EQ(entries[0].record.date.wSecond, 5);
    EXPECT_EQ(entries[1].record.directory, 1);
    EXPECT_EQ(FtpCloseDirectory(client), 226);
    Finish(client, peer);
}

TEST_F(DirectoryTest, FactsFormatIsRefusedWithoutTheMlstFeature) {
    PeerScript script = LoggedIn();
    script.Reply("QUIT", "221 Bye\r\n");
    ScriptedPeer peer(script);
    FtpClient client = Open(peer);
    ASSERT_NE(client, INVALID_CLIENT);
    EXPECT_EQ(FtpSetDirectoryFormat(client, FTP_DIRECTORY_MLSD), -1);
    EXPECT_EQ(FtpGetLastError(), Code(fileErrorFeatureNotSupported));
    EXPECT_EQ(FtpGetDirectoryFormat(client), FTP_DIRECTORY_AUTO);
    EXPECT_EQ(Finish(client, peer), "QUIT");
}

// ---- Empty listings, refusals and misuse -----------------------------------------------

TEST_F(DirectoryTest, EmptyListingIsDirectoryEmptyAndNothingOpenIsEndOfDirectory) {
    DataPeer data;
    data.Serve({.payload = "total 0\r\n"});
    PeerScript script = LoggedIn();
    Listing(script, data, "LIST empty");
    RestoreAndQuit(script);
    ScriptedPeer peer(script);
    FtpClient client = Open(peer);
    ASSERT_NE(client, INVALID_CLIENT);

    FtpDirectoryEntry record{};
    EXPECT_EQ(FtpGetNextEntry(client, &record), 0);  // no listing yet
    EXPECT_EQ(FtpGetLastError(), Code(fileErrorEndOfDirectory));
    EXPECT_EQ(FtpGetFirstEntry(client, &record), 0);
    EXPECT_EQ(FtpGetLastError(), Code(fileErrorDirectoryEmpty));

    ASSERT_EQ(FtpOpenDirectory(client, "empty"), 150);
    EXPECT_EQ(FtpGetFirstEntry(client, &record), 0);
    EXPECT_EQ(FtpGetLastError(), Code(fileErrorDirectoryEmpty));
    EXPECT_EQ(FtpCloseDirectory(client), 226);
    EXPECT_EQ(Finish(client, peer), "TYPE A|PASV|LIST empty|TYPE I|QUIT");
}

TEST_F(DirectoryTest, RefusedListingClosesTheDataConnectionAndRestoresTheType) {
    DataPeer data;
    PeerScript script = LoggedIn();
    script.Reply("TYPE A", "200 ASCII\r\n")
        .Reply("PASV", data.PasvReply())
        .Reply("LIST missing", "550 No such directory.\r\n")
        .Reply("TYPE I", "200 Binary\r\n")
        .Reply("TYPE A", "200 ASCII\r\n")
        .Reply("PASV", data.PasvReply())
        .Reply("NLST", "226 Nothing to send.\r\n")  // positive, yet no transfer
        .Reply("TYPE I", "200 Binary\r\n")
        .Reply("NOOP", "200 ok\r\n")
        .Reply("QUIT", "221 Bye\r\n");
    ScriptedPeer peer(script);
    FtpClient client = Open(peer);
    ASSERT_NE(client, INVALID_CLIENT);

    EXPECT_EQ(FtpOpenDirectory(client, "missing"), -1);
    EXPECT_EQ(FtpGetLastError(), Code(fileErrorAccessDenied));  // the 550, kept
    EXPECT_EQ(FtpOpenFileList(client, nullptr, TRUE), -1);
    EXPECT_EQ(FtpGetLastError(), Code(fileErrorConnectionOpen));
    EXPECT_EQ(FtpCloseDirectory(client), 0);
    EXPECT_EQ(FtpCommand(client, "NOOP", nullptr), 200);  // the channel is free again
    Finish(client, peer);
}

TEST_F(DirectoryTest, SecondOpenWhileListingIsRefused) {
    DataPeer data;
    data.Serve({.payload = "-rw-r--r-- 1 a b 1 Jan 02 2020 one\r\n"});
    PeerScript script = LoggedIn();
    Listing(script, data, "LIST");
    RestoreAndQuit(script);
    ScriptedPeer peer(script);
    FtpClient client = Open(peer);
    ASSERT_NE(client, INVALID_CLIENT);

    ASSERT_EQ(FtpOpenDirectory(client, nullptr), 150);
    EXPECT_EQ(FtpOpenDirectory(client, nullptr), -1);
    EXPECT_EQ(FtpGetLastError(), Code(fileErrorConnectionOpen));
    EXPECT_EQ(FtpCommand(client, "NOOP", nullptr), -1);  // the listing owns the channel
    EXPECT_EQ(FtpCloseDirectory(client), 226);           // closed before reading
    Finish(client, peer);
}

// ---- The listing as one text --------------------------------------------------------------

TEST_F(DirectoryTest, FileListGivesCrLfLinesAndNameOnlyEntries) {
    DataPeer names;
    names.Serve({.payload = "a.txt\nmy file.txt\r\nsub\r\n"});
    DataPeer cut;
    cut.Serve({.payload = std::string(20000, 'y') + "\r\n"});
    PeerScript script = LoggedIn();
    Listing(script, names, "NLST pub");
    script.Reply("TYPE I", "200 Binary\r\n");
    Listing(script, cut, "LIST");
    RestoreAndQuit(script);
    ScriptedPeer peer(script);
    FtpClient client = Open(peer);
    ASSERT_NE(client, INVALID_CLIENT);

    char buffer[64];
    ASSERT_EQ(FtpGetFileList(client, "pub", TRUE, buffer, sizeof buffer), 25)
        << std::hex << FtpGetLastError();
    EXPECT_STREQ(buffer, "a.txt\r\nmy file.txt\r\nsub\r\n");
    // What does not fit is read and dropped; the transfer still ends cleanly.
    ASSERT_EQ(FtpGetFileList(client, nullptr, FALSE, buffer, 11), 10);
    EXPECT_STREQ(buffer, "yyyyyyyyyy");
    EXPECT_EQ(FtpGetResultCode(client), 200);  // TYPE I after 226

    EXPECT_EQ(FtpGetFileList(client, nullptr, FALSE, nullptr, 10), -1);
    EXPECT_EQ(FtpGetLastError(), Code(fileErrorInvalidParameter));
    EXPECT_EQ(FtpGetFileList(client, nullptr, FALSE, buffer, 1), -1);
    EXPECT_EQ(FtpGetLastError(), Code(fileErrorBufferTooSmall));
    EXPECT_EQ(Finish(client, peer), "TYPE A|PASV|NLST pub|TYPE I|TYPE A|PASV|LIST|TYPE I|QUIT");
}

TEST_F(DirectoryTest, NameOnlyListingThroughTheCursorKeepsTheFirstWord) {
    DataPeer data;
    data.Serve({.payload = "total.txt\r\nmy file.txt\r\n"});
    PeerScript script = LoggedIn();
    Listing(script, data, "NLST");
    RestoreAndQuit(script);
    ScriptedPeer peer(script);
    FtpClient client = Open(peer);
    ASSERT_NE(client, INVALID_CLIENT);
    ASSERT_EQ(FtpOpenFileList(client, nullptr, TRUE), 150);
    std::vector<Entry> entries = ReadAll(client);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "total.txt");
    EXPECT_EQ(entries[1].name, "my");
    EXPECT_EQ(FtpCloseDirectory(client), 226);
    Finish(client, peer);
}

}  // namespace
