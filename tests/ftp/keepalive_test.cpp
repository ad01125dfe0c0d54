// The keep-alive thread against scripted peers, with its timings shortened:
// NOOPs on idle sessions only, their answers kept away from the owner, a silent
// server dropping out while the others go on, and the thread ending when the
// last session goes and at the last FtpUninitialize.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "ftp/keepalive.h"
#include "tests/ftp/ftp_test_support.h"

namespace {

using namespace ftptest;
using Clock = std::chrono::steady_clock;

constexpr ftp::KeepAliveTimings kQuick{
    .passInterval = 50, .idleTime = 300, .firstAnswerWait = 1000, .moreAnswerWait = 100};
// Long enough that no further NOOP comes while a test ends its sessions.
constexpr ftp::KeepAliveTimings kQuiet{
    .passInterval = 50, .idleTime = 600000, .firstAnswerWait = 1000, .moreAnswerWait = 100};

SessionSetup KeepAliveSetup() {
    return {kUnixSyst, kNoFeatures, FTP_OPTION_NOAUTH | FTP_OPTION_PASSIVE | FTP_OPTION_KEEPALIVE};
}

// Polls the condition for at most five seconds.
template <class Condition>
bool Eventually(Condition condition) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

// When the peer received a line, for ordering checks across threads.
struct Moment {
    std::atomic<bool> seen{false};
    std::atomic<Clock::rep> at{0};
    PeerScript::Callback Mark() {
        return [this](const std::string&) {
            at = Clock::now().time_since_epoch().count();
            seen = true;
        };
    }
};

class KeepAliveTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        ftp::SetKeepAliveTimings(kQuick);
    }
    void TearDown() override {
        EngineTest::TearDown();
        ftp::SetKeepAliveTimings(ftp::KeepAliveTimings{});
    }
};

// Whether a thread of this process runs at nice 19 (the keep-alive thread).
bool SomeThreadAtLowestPriority() {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream stat(task.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        // The fields after the parenthesised name; nice is the 19th field.
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        for (int i = 3; i <= 19 && fields >> field; ++i) {
        }
        if (field == "19") return true;
    }
    return false;
}

TEST_F(KeepAliveTest, AnIdleSessionGetsANoopWhoseAnswerTheOwnerNeverSees) {
    Moment noop;
    PeerScript script;
    script.Expect("NOOP")
        .Call(noop.Mark())
        .SendAfter(100, "200 NOOP ok.\r\n")
        .Reply("PWD", "257 \"/after\"\r\n");
    ftp::KeepAliveTimings timings = kQuick;
    timings.moreAnswerWait = 500;
    ftp::SetKeepAliveTimings(timings);
    {
        PeerSession session(script, KeepAliveSetup());
        EXPECT_EQ(ftp::KeepAliveSessionCount(), 1);
        EXPECT_TRUE(ftp::KeepAliveThreadRunning());
        ASSERT_TRUE(Eventually([&] { return noop.seen.load(); }));
        EXPECT_TRUE(SomeThreadAtLowestPriority());
        timings.idleTime = kQuiet.idleTime;
        ftp::SetKeepAliveTimings(timings);
        // Started while the NOOP's answer is still on its way: the command waits
        // until the exchange has drained the answer (100 ms, then 500 ms of
        // quiet) and reads its own reply.
        const auto start = Clock::now();
        char directory[FTP_MAX_PATH] = {};
        EXPECT_EQ(FtpGetCurrentDirectory(session.client(), directory, sizeof directory), 257);
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(450));
        EXPECT_STREQ(directory, "/after");
        EXPECT_EQ(session.Finish(), "NOOP|PWD");
    }
    EXPECT_EQ(ftp::KeepAliveSessionCount(), 0);
    EXPECT_TRUE(Eventually([] { return !ftp::KeepAliveThreadRunning(); }));
}

TEST_F(KeepAliveTest, NoNoopWhileTheOwnersCommandWaitsForItsReply) {
    Moment noop;
    PeerScript script;
    script.Expect("SITE slow")
        .SendAfter(1000, "200 Done at last.\r\n")
        .Expect("NOOP")
        .Call(noop.Mark())
        .Send("200 NOOP ok.\r\n");
    PeerSession session(script, KeepAliveSetup());
    // Idle long past the idle time while it waits, but busy.
    EXPECT_EQ(FtpCommand(session.client(), "SITE", "slow"), 200);
    const Clock::rep returned = Clock::now().time_since_epoch().count();
    ASSERT_TRUE(Eventually([&] { return noop.seen.load(); }));
    EXPECT_GT(noop.at.load(), returned);
    ftp::SetKeepAliveTimings(kQuiet);
    EXPECT_EQ(session.Finish(), "SITE slow|NOOP");
}

TEST_F(KeepAliveTest, ASilentServerDropsOutWhileTheOthersGoOn) {
    Moment second;
    PeerScript silent;
    silent.Expect("NOOP");
    PeerScript answering;
    answering.Reply("NOOP", "200 ok\r\n").Expect("NOOP").Call(second.Mark()).Send("200 ok\r\n");
    PeerSession quiet(silent, KeepAliveSetup());
    PeerSession talking(answering, KeepAliveSetup());
    EXPECT_EQ(ftp::KeepAliveSessionCount(), 2);

    ASSERT_TRUE(Eventually([&] { return second.seen.load(); }));
    ftp::SetKeepAliveTimings(kQuiet);
    EXPECT_TRUE(Eventually([] { return ftp::KeepAliveSessionCount() == 1; }));
    // The silent session itself is still usable; it only gets no more NOOPs.
    EXPECT_EQ(quiet.Finish(), "NOOP");
    EXPECT_EQ(talking.Finish(), "NOOP|NOOP");
    EXPECT_EQ(ftp::KeepAliveSessionCount(), 0);
}

TEST_F(KeepAliveTest, TheLastUninitializeEndsTheThreadWithoutWaitingAPass) {
    ftp::SetKeepAliveTimings(ftp::KeepAliveTimings{});  // a 15-second sleep between passes
    PeerScript nothing;
    PeerSession session(nothing, KeepAliveSetup());
    ASSERT_TRUE(ftp::KeepAliveThreadRunning());
    ASSERT_EQ(FtpInitialize(nullptr), 1);
    FtpUninitialize();  // not the last one
    EXPECT_TRUE(ftp::KeepAliveThreadRunning());

    const auto start = Clock::now();
    FtpUninitialize();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(ftp::KeepAliveThreadRunning());
    EXPECT_EQ(ftp::KeepAliveSessionCount(), 0);
    ASSERT_EQ(FtpInitialize(nullptr), 1);  // for the fixture's own FtpUninitialize
}

}  // namespace
