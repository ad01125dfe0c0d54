// Transfers against scripted peers on loopback: data channel states, refused
// commands, stalls, drops, reconnects after an unreadable completion reply, and
// an existing local file replaced only by a complete download (one ending short
// of the announced size is an error even after a 226). Restarts beyond 4 GiB and
// beyond the local end are cli_sizes_test.cpp's, IPv6 transfers
// ftp_transfer_test.cpp's, against the real servers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/ftp.h"
#include "net/trace.h"
#include "platform/memory.h"
#include "platform/messages.h"
#include "resources/errors.h"
#include "support/test_files.h"
#include "tests/ftp/data_peer.h"
#include "tests/ftp/ftp_test_support.h"
#include "tests/ftp/listing_session.h"

namespace {

using namespace ftptest;
using testsupport::DataPeer;
using testsupport::DataPlan;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Events {
    int timeouts = 0;
    int getFile = 0;
    FtpClient client = INVALID_CLIENT;
};
Events events;

LRESULT HostProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != FTP_NOTIFY_MESSAGE) return DefWindowProcA(window, message, wParam, lParam);
    switch (lParam & 0xFFFF) {
        case FTP_EVENT_TIMEOUT:
            ++events.timeouts;
            break;
        case FTP_EVENT_GETFILE:
            ++events.getFile;
            break;
    }
    return 0;
}

// The data channel's state changes in a trace, "Old -> New|" each.
std::string DataChannelStates(const fs::path& trace) {
    constexpr std::string_view kMarker = "FTP data channel state ";
    std::string states;
    std::istringstream lines(ReadFile(trace));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find(kMarker);
        if (at != std::string::npos) states += line.substr(at + kMarker.size()) + "|";
    }
    return states;
}

DataPlan ReceiveAll() {
    DataPlan plan;
    plan.receive = true;
    return plan;
}

class FtpTransferTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(FtpInitialize(nullptr), 1);
        events = Events{};
        window_ = CreateMessageWindow(&HostProcedure, nullptr);
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        if (session_) session_->Finish();
        DestroyWindow(window_);
        FtpUninitialize();
    }

    // Logged in without commands; the connect asks PWD, SYST, FEAT and TYPE I.
    static SessionSetup Setup(int timeout = 5, bool passive = true) {
        return {kUnixSyst, Features({"SIZE", "REST STREAM"}),
                static_cast<DWORD>(FTP_OPTION_NOAUTH | (passive ? FTP_OPTION_PASSIVE : 0)),
                timeout};
    }
    // The session's notifications go to the test's window.
    FtpClient Watch(FtpClient client) {
        if (client != INVALID_CLIENT) {
            FtpRegisterNotify(client, window_, FTP_NOTIFY_MESSAGE,
                              FTP_EVENT_TIMEOUT | FTP_EVENT_GETFILE);
        }
        events.client = client;
        return client;
    }
    // A watched session playing the script (the one before it finished first).
    FtpClient Start(const PeerScript& script, SessionSetup setup = Setup()) {
        if (session_) session_->Finish();
        session_.emplace(script, std::move(setup));
        return Watch(*session_);
    }

    std::optional<PeerSession> session_;

    HWND window_ = nullptr;
    ScratchFolder dir_{"ft-transfer"};
};

// (Byte-exact downloads, and progress at most every 250 ms ending at the full
// size, are the real servers': ftp_transfer_test.cpp, control_transfer_test.cpp.)
TEST_F(FtpTransferTest, PassiveDownloadWalksTheDataChannelStatesAndRaisesGetFileOnce) {
    const std::string payload = Pattern(600 * 1024, 1);
    DataPeer data({.payload = payload, .chunk = 16384});
    PeerScript script;
    AddDownload(script, data, "data.bin", payload.size());
    const FtpClient client = Start(script);

    ASSERT_EQ(NetTraceOn((dir_ / "trace.txt").c_str(), NET_TRACE_INFO), 1);
    ASSERT_EQ(FtpGetFile(client, (dir_ / "data.bin").c_str(), "data.bin", 0, 0), 0)
        << std::hex << FtpGetLastError();
    EXPECT_EQ(NetTraceOff(), 1);
    EXPECT_EQ(DataChannelStates(dir_ / "trace.txt"),
              "Closed -> Open|Open -> Ended|Ended -> Closed|");
    EXPECT_EQ(ReadFile(dir_ / "data.bin"), payload);
    EXPECT_EQ(FtpGetResultCode(client), 226);
    EXPECT_EQ(events.getFile, 1);
    data.Join();
}

TEST_F(FtpTransferTest, ActiveUploadOffersAPortOfTheRangeAndDeliversEveryByte) {
    const std::string payload = Pattern(100000, 2);
    WriteFile(dir_ / "up.bin", payload);
    DataPeer data;
    PeerScript script;
    script.Reply("PORT 127,0,0,1,121,24", "200 PORT command successful\r\n")
        .Call([&data](const std::string& line) {
            data.ConnectTo(testsupport::PortOfActiveCommand(line), ReceiveAll());
        })
        .Reply("STOR up.bin", "150 Ok to send data\r\n")
        .Send("226 Transfer complete\r\n");
    const FtpClient client = Start(script, Setup(5, false));
    // A range under 10 ports starts at its low end: 31000 is 121 * 256 + 24.
    // (Below the system's ephemeral ports, so that no other connection of the
    // suite holds it.)
    ASSERT_EQ(FtpSetActivePorts(client, 31000, 31005), 0);
    ASSERT_EQ(NetTraceOn((dir_ / "trace.txt").c_str(), NET_TRACE_INFO), 1);
    ASSERT_EQ(FtpPutFile(client, (dir_ / "up.bin").c_str(), "up.bin", 0, 0), 0)
        << std::hex << FtpGetLastError();
    EXPECT_EQ(NetTraceOff(), 1);
    EXPECT_EQ(DataChannelStates(dir_ / "trace.txt"),
              "Closed -> Listening|Listening -> Open|Open -> Closed|");
    data.Join();
    EXPECT_EQ(data.received(), payload);
}

// A download the server refuses (its REST or its RETR) fails with the mapped
// error, leaves the local file as it was, starts no file transfer and keeps the
// session usable.
TEST_F(FtpTransferTest, RefusedDownloadLeavesTheLocalFileAndTheSessionAlone) {
    struct Refusal {
        const char* remote;
        const char* sizeReply;
        const char* refusedCommand;
        const char* refusal;
        long long restartOffset;
        int error;
    };
    const Refusal refusals[] = {
        {"part.bin", "213 10\r\n", "REST 5", "502 REST not implemented\r\n", 5,
         fileErrorOperationNotSupported},
        {"secret.bin", "550 No such file\r\n", "RETR secret.bin", "550 Failed to open file.\r\n", 0,
         fileErrorAccessDenied},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.refusedCommand);
        events = Events{};
        const fs::path local = dir_ / "keep.bin";
        WriteFile(local, "precious");
        DataPeer data({.payload = ""});
        PeerScript script;
        script.Reply(std::string("SIZE ") + refusal.remote, refusal.sizeReply)
            .Reply("PASV", data.PasvReply())
            .Reply(refusal.refusedCommand, refusal.refusal)
            .Reply("NOOP", "200 ok\r\n");
        const FtpClient client = Start(script);
        EXPECT_TRUE(FailsWith(refusal.error, FtpGetFile(client, local.c_str(), refusal.remote, 0,
                                                        refusal.restartOffset)));
        EXPECT_EQ(FtpGetResultCode(client), std::atoi(refusal.refusal));
        EXPECT_EQ(ReadFile(local), "precious");
        EXPECT_FALSE(fs::exists(dir_ / refusal.remote));
        EXPECT_EQ(events.getFile, 0);
        EXPECT_EQ(FtpCommand(client, "NOOP", nullptr), 200);
    }
}

// A data connection that stalls or drops: the transfer fails with its error
// within its time, raises the time-out event once for a stall, keeps what
// arrived (a beginning of the payload) and leaves the session usable. The engine
// then drains the command channel and sends a NOOP. (A cancel from the progress
// event is control_transfer_test.cpp's, against the real servers.)
TEST_F(FtpTransferTest, DataConnectionFaultsEndTheTransferAndTheSessionGoesOn) {
    struct Fault {
        const char* label;
        std::size_t stallAfter;  // the data stops after these bytes...
        int stallMs;             // ...for this long
        bool drop;               // then is reset
        int timeout;
        const char* lateReply;  // after the data, 300 ms later; "" for none
        int error;
        std::size_t keptLeast, keptMost;
    };
    const std::string payload = Pattern(2000000, 5);
    const Fault faults[] = {
        {"stall", 1000, 8000, false, 2, "", fileErrorOperationTimeout, 1000, 1000},
        {"drop", 70000, 200, true, 5, "426 Connection closed; transfer aborted.\r\n",
         fileErrorConnectionReset, 1, 70000},
    };
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.label);
        events = Events{};
        DataPeer data({.payload = payload,
                       .stallAfter = f.stallAfter,
                       .stallMs = f.stallMs,
                       .dropAfterStall = f.drop});
        PeerScript script;
        script.Reply("SIZE f.bin", "213 2000000\r\n")
            .Reply("PASV", data.PasvReply())
            .Reply("RETR f.bin", "150 Opening\r\n");
        if (*f.lateReply) script.SendAfter(300, f.lateReply);
        script.Reply("NOOP", "200 ok\r\n").Reply("NOOP", "200 ok\r\n");  // the engine's, ours
        const FtpClient client = Start(script, Setup(f.timeout));
        const auto start = Clock::now();
        EXPECT_TRUE(
            FailsWith(f.error, FtpGetFile(client, (dir_ / "f.bin").c_str(), "f.bin", 0, 0)));
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        // The time-out, then the NOOP that brings the command channel back in step.
        EXPECT_LT(seconds, f.timeout + 1.5);
        const bool stalled = f.error == fileErrorOperationTimeout;
        EXPECT_TRUE(!stalled || seconds >= f.timeout - 0.1) << seconds;
        EXPECT_EQ(events.timeouts, stalled ? 1 : 0);
        const std::string kept = ReadFile(dir_ / "f.bin");
        EXPECT_GE(kept.size(), f.keptLeast);
        EXPECT_LE(kept.size(), f.keptMost);
        EXPECT_TRUE(kept == payload.substr(0, kept.size()));
        EXPECT_EQ(FtpCommand(client, "NOOP", nullptr), 200);
    }
}

// A command channel out of step after a download: an unreadable completion
// reply reconnects at once; a server that stops answering altogether gets one
// short NOOP after the data time-out, so the call ends within the time-out and
// a second, and the next command reconnects.
TEST_F(FtpTransferTest, CommandChannelOutOfStepReconnects) {
    struct Case {
        const char* label;
        DataPlan data;
        const char* afterRetr;
        int error;
        double mostSeconds;
    };
    const Case cases[] = {
        {"garbled completion",
         {.payload = "payload"},
         "xyz garbled\r\n",
         fileErrorInvalidServerResponse,
         4.0},
        {"silent server",
         {.payload = "payload", .stallAfter = 3, .stallMs = 5000},
         "",
         fileErrorOperationTimeout,
         3.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        DataPeer data(c.data);
        PeerScript first = LoginScript(Setup());
        first.Reply("SIZE a.bin", "213 7\r\n")
            .Reply("PASV", data.PasvReply())
            .Reply("RETR a.bin", "150 Opening\r\n");
        if (*c.afterRetr)
            first.Send(c.afterRetr);
        else
            first.Expect("NOOP").Stall(1500);  // this peer serves one connection at a time
        PeerScript second;
        second.Send("220 again\r\n")
            .Reply("USER anonymous", "331 password\r\n")
            .Reply("PASS user@", "230 in\r\n")
            .Reply("CWD /home/bob", "250 ok\r\n")
            .Reply("PWD", "257 \"/home/bob\"\r\n")
            .Reply("NOOP", "200 ok\r\n")
            .Reply("QUIT", "221 bye\r\n");
        ScriptedPeer peer(std::vector<PeerScript>{first, second});
        const FtpClient client = Watch(
            FtpConnect("127.0.0.1", peer.port(), nullptr, nullptr, 2, Setup().options, nullptr));
        ASSERT_NE(client, INVALID_CLIENT);
        const auto start = Clock::now();
        EXPECT_TRUE(
            FailsWith(c.error, FtpGetFile(client, (dir_ / "a.bin").c_str(), "a.bin", 0, 0)));
        EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), c.mostSeconds);
        EXPECT_TRUE(c.data.payload.starts_with(ReadFile(dir_ / "a.bin")));
        EXPECT_EQ(FtpCommand(client, "NOOP", nullptr), 200);
        FtpDisconnect(client);
        EXPECT_EQ(peer.Finish(), "");
    }
}

TEST_F(FtpTransferTest, MemoryDownloadHandsOverABlockOfExactlyTheReceivedSize) {
    const std::string payload = Pattern(30000, 6);
    DataPeer first({.payload = payload, .chunk = 7000});
    DataPeer second({.payload = payload});
    PeerScript script;
    // SIZE claims less than arrives, so the block has to grow.
    AddDownload(AddDownload(script, first, "m.bin", 1000), second, "m.bin", 30000);
    const FtpClient client = Start(script);

    HGLOBAL block = nullptr;
    DWORD length = 0;
    ASSERT_EQ(FtpGetData(client, "m.bin", &block, &length), 0) << std::hex << FtpGetLastError();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(length, payload.size());
    EXPECT_EQ(GlobalSize(block), payload.size());
    auto* bytes = static_cast<const char*>(GlobalLock(block));
    EXPECT_EQ(std::string(bytes, length), payload);
    GlobalUnlock(block);
    GlobalFree(block);

    char buffer[10] = {};
    length = sizeof buffer;
    ASSERT_EQ(FtpGetData(client, "m.bin", buffer, &length), 0);
    EXPECT_EQ(length, sizeof buffer);
    EXPECT_EQ(std::string(buffer, sizeof buffer), payload.substr(0, sizeof buffer));
}

TEST_F(FtpTransferTest, AsciiReadGivesOneLocalLinePerCallAcrossChunkBoundaries) {
    DataPeer data;
    // The CR of the first line ends a chunk; its LF comes later.
    data.Serve({.payload = "one\r\ntwo\r\nlast", .chunk = 4, .chunkDelayMs = 50});
    PeerScript script;
    script.Reply("TYPE A", "200 ASCII\r\n")
        .Reply("PASV", data.PasvReply())
        .Reply("RETR notes.txt", "150 Opening ASCII\r\n")
        .Send("226 Done\r\n");
    const FtpClient client = Start(script);
    ASSERT_EQ(FtpBeginTransfer(client, "notes.txt", FTP_MODE_RETRIEVE, 0), 150);
    std::vector<std::string> lines;
    char buffer[64];
    for (int i = 0; i < 10; ++i) {
        int got = FtpRead(client, buffer, sizeof buffer);
        if (got <= 0) break;
        lines.emplace_back(buffer, static_cast<std::size_t>(got));
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"one\n", "two\n", "last"}));
    EXPECT_TRUE(FailsWith(fileErrorEndOfData, FtpRead(client, buffer, sizeof buffer), 0));
    EXPECT_TRUE(FailsWith(fileErrorDataReadOnly, FtpWrite(client, "x", 1)));
    EXPECT_EQ(FtpEndTransfer(client), 226);
}

TEST_F(FtpTransferTest, OnlyOneDataConnectionAtATime) {
    DataPeer data({.payload = "abc"});
    PeerScript script;
    script.Reply("PASV", data.PasvReply())
        .Reply("RETR one.bin", "150 Opening\r\n")
        .Send("226 Done\r\n");
    const FtpClient client = Start(script);
    ASSERT_EQ(FtpBeginTransfer(client, "one.bin", FTP_MODE_RETRIEVE, 0), 150);
    EXPECT_TRUE(
        FailsWith(fileErrorConnectionOpen, FtpGetFile(client, (dir_ / "x").c_str(), "x", 0, 0)));
    EXPECT_TRUE(FailsWith(fileErrorOperationNotSupported,
                          FtpBeginTransfer(client, "y", FTP_MODE_APPEND, 10)));
    char buffer[8];
    EXPECT_EQ(FtpRead(client, buffer, sizeof buffer), 3);
    EXPECT_EQ(FtpEndTransfer(client), 226);
    EXPECT_TRUE(FailsWith(fileErrorConnectionClosed, FtpEndTransfer(client)));
}

class FtpDownloadIntegrityTest : public EngineTest {
  protected:
    ScratchFolder dir_{"ft-integrity"};
};

TEST_F(FtpDownloadIntegrityTest, ExistingFileIsReplacedOnlyByACompleteDownload) {
    const std::string payload = Pattern(40000, 7);
    const std::string old = "the file as it was before\n";
    struct Case {
        const char* name;
        const char* sizeReply;     // to SIZE
        std::string openingReply;  // to RETR
        std::size_t sent;          // bytes the data connection carries
        bool drop;                 // reset instead of an orderly end
        const char* finalReply;
        int error;  // 0: the download succeeds
    } cases[] = {
        {"whole", "213 40000\r\n", "150 Opening\r\n", payload.size(), false, "226 Done\r\n", 0},
        {"short after SIZE", "213 40000\r\n", "150 Opening\r\n", 1000, false, "226 Done\r\n",
         fileErrorTransferIncomplete},
        {"short after the opening reply's size", "550 SIZE not allowed\r\n",
         "150 Opening BINARY mode data connection for f.bin (40000 bytes).\r\n", 1000, false,
         "226 Done\r\n", fileErrorTransferIncomplete},
        {"no size known", "550 SIZE not allowed\r\n", "150 Opening\r\n", 1000, false,
         "226 Done\r\n", 0},
        {"reset mid-way", "213 40000\r\n", "150 Opening\r\n", 20000, true,
         "426 Connection closed; transfer aborted.\r\n", fileErrorConnectionReset},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path local = dir_ / "f.bin";
        WriteFile(local, old, 0640);
        DataPeer data;
        DataPlan plan{.payload = payload.substr(0, c.drop ? payload.size() : c.sent)};
        if (c.drop) {
            plan.stallAfter = c.sent;
            plan.stallMs = 100;
            plan.dropAfterStall = true;
        }
        data.Serve(plan);
        PeerScript script;
        script.Reply("SIZE f.bin", c.sizeReply)
            .Reply("PASV", data.PasvReply())
            .Reply("RETR f.bin", c.openingReply)
            .SendAfter(200, c.finalReply);
        // After a failed transfer the client checks the control connection.
        if (c.drop) script.Reply("NOOP", "200 ok\r\n");
        PeerSession client(script,
                           {kUnixSyst, Features({"SIZE"}), FTP_OPTION_NOAUTH | FTP_OPTION_PASSIVE});
        const int result = FtpGetFile(client, local.c_str(), "f.bin", 0, 0);
        const std::string expected = c.error == 0 ? payload.substr(0, c.sent) : old;
        if (c.error == 0) {
            EXPECT_EQ(result, 0);
        } else {
            EXPECT_TRUE(FailsWith(c.error, result));
        }
        EXPECT_EQ(ReadFile(local), expected);
        struct stat info {};
        ASSERT_EQ(::stat(local.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0640u);
        // Nothing is left beside it.
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 1);
        client.Finish();
    }
}

}  // namespace
