// Multiple-file transfers against scripted peers: what is copied from a
// listing with directories, links and odd names, where the files land, the
// remote directory changed to and back, the first failure or a cancel ending
// the run, the local mask rules and the argument checks.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ftp/ftp.h"
#include "ftp/local_mask.h"
#include "support/test_files.h"
#include "tests/ftp/listing_session.h"

namespace {

using namespace ftptest;
using testsupport::DataPeer;
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
    DataPeer& Receive() {
        DataPlan plan;
        plan.receive = true;
        return Serve(plan);
    }
    DataPeer& operator[](std::size_t i) { return *peers_[i]; }

  private:
    std::vector<std::unique_ptr<DataPeer>> peers_;
};

void AddDownload(PeerScript& script, const DataPeer& data, const std::string& name,
                 std::size_t size) {
    script.Reply("SIZE " + name, "213 " + std::to_string(size) + "\r\n")
        .Reply("PASV", data.PasvReply())
        .Reply("RETR " + name, "150 Opening\r\n")
        .Send("226 Transfer complete.\r\n");
}

void AddUpload(PeerScript& script, const DataPeer& data, const std::string& name) {
    script.Reply("PASV", data.PasvReply())
        .Reply("STOR " + name, "150 Ok to send data.\r\n")
        .Send("226 Transfer complete.\r\n");
}

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
    const std::string odd(70000, 'x');
    DataPeers data;
    data.Serve({.payload = "total 3\r\n" + ListingLine("sub", 4096, 'd') +
                           ListingLine("a.bin", 11) + ListingLine("link", 7, 'l') +
                           ListingLine("sp ace \xC3\xA9.bin", 70000) +
                           ListingLine("../escape.bin", 1)});
    data.Serve({.payload = first});
    data.Serve({.payload = odd, .chunk = 4096});
    PeerScript script;
    AddEnterPub(script);
    script = Listing(data[0], "LIST *.bin", std::move(script));
    AddDownload(script, data[1], "a.bin", first.size());
    AddDownload(script, data[2], "sp ace \xC3\xA9.bin", odd.size());
    AddChangeDirectory(script, "/home/bob", "/home/bob");
    PeerSession session(script, PassiveSetup());

    // A local directory that ends in its separator gets no second one.
    const std::string local = dir_.string() + "/";
    ASSERT_EQ(FtpGetMultipleFiles(session.client(), local.c_str(), "pub", "*.bin"), 0)
        << std::hex << FtpGetLastError();
    EXPECT_EQ(FtpGetLastError(), 0u);
    EXPECT_EQ(ReadFile(dir_ / "a.bin"), first);
    EXPECT_TRUE(ReadFile(dir_ / "sp ace \xC3\xA9.bin") == odd);
    EXPECT_FALSE(fs::exists(dir_ / "sub"));
    EXPECT_FALSE(fs::exists(dir_ / "link"));
    EXPECT_FALSE(fs::exists(dir_.parent_path() / "escape.bin"));
    EXPECT_EQ(session.Finish(),
              "PWD|CWD pub|PWD|TYPE A|PASV|LIST *.bin|TYPE I|SIZE a.bin|PASV|RETR a.bin|"
              "SIZE sp ace \xC3\xA9.bin|PASV|RETR sp ace \xC3\xA9.bin|CWD /home/bob|PWD");
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
    PeerSession session(script, PassiveSetup());

    EXPECT_TRUE(FailsWith(fileErrorAccessDenied,
                          FtpGetMultipleFiles(session.client(), dir_.c_str(), "pub", nullptr)));
    EXPECT_EQ(ReadFile(dir_ / "one.bin"), "111");
    EXPECT_FALSE(fs::exists(dir_ / "two.bin"));
    EXPECT_FALSE(fs::exists(dir_ / "three.bin"));
    // The directory is changed back, and the failure survives that.
    EXPECT_EQ(session.Finish(),
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
    PeerSession session(script, PassiveSetup());
    // Cancels are accepted from any thread.
    std::thread canceller([client = session.client()] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        FtpCancel(client);
    });
    EXPECT_TRUE(FailsWith(fileErrorOperationCanceled,
                          FtpGetMultipleFiles(session.client(), dir_.c_str(), nullptr, nullptr)));
    canceller.join();
    EXPECT_LT(fs::file_size(dir_ / "big.bin"), 2000000u);
    EXPECT_FALSE(fs::exists(dir_ / "next.bin"));
    EXPECT_EQ(session.Finish(), "TYPE A|PASV|LIST|TYPE I|SIZE big.bin|PASV|RETR big.bin|NOOP");
}

TEST_F(MultipleFilesTest, AListingWithoutEntriesIsAnEmptyDirectory) {
    DataPeers data;
    data.Serve({.payload = "total 0\r\n"});
    PeerScript script;
    AddEnterPub(script);
    script = Listing(data[0], "LIST *.none", std::move(script));
    AddChangeDirectory(script, "/home/bob", "/home/bob");
    PeerSession session(script, PassiveSetup());

    EXPECT_TRUE(FailsWith(fileErrorDirectoryEmpty,
                          FtpGetMultipleFiles(session.client(), "", "pub", "*.none")));
    EXPECT_EQ(session.Finish(), "PWD|CWD pub|PWD|TYPE A|PASV|LIST *.none|TYPE I|CWD /home/bob|PWD");
}

// ---- Uploads ----------------------------------------------------------------------

TEST_F(MultipleFilesTest, UploadsTheMatchingFilesInNameOrderAndSkipsFolders) {
    // Binary contents: the automatic type stays image.
    const std::string bee("b\0e", 3);
    const std::string many = Pattern(50000);
    WriteFile(dir_ / "b.BIN", bee);
    WriteFile(dir_ / "a.bin", many);
    WriteFile(dir_ / "notes.txt", "not this one");
    fs::create_directories(dir_ / "folder.bin");
    DataPeers data;
    data.Receive();
    data.Receive();
    PeerScript script;
    AddEnterPub(script);
    AddUpload(script, data[0], "a.bin");
    AddUpload(script, data[1], "b.BIN");
    AddChangeDirectory(script, "/home/bob", "/home/bob");
    PeerSession session(script, PassiveSetup());

    EXPECT_EQ(FtpPutMultipleFiles(session.client(), dir_.c_str(), "pub", "*.bin"), 0)
        << std::hex << FtpGetLastError();
    data[0].Join();
    data[1].Join();
    EXPECT_TRUE(data[0].received() == many);
    EXPECT_TRUE(data[1].received() == bee);
    EXPECT_EQ(session.Finish(),
              "PWD|CWD pub|PWD|PASV|STOR a.bin|PASV|STOR b.BIN|CWD /home/bob|PWD");
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
