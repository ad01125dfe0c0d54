// The pumping wait: polls, time-outs in slices, messages served during the
// wait, cancellation from inside it, nested waits, quit and thread messages,
// and descriptors beyond the fd_set range.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <thread>

#include "net/net.h"
#include "net/socket_wait.h"
#include "net_test_support.h"
#include "platform/system.h"

namespace {

using nettest::Connection;
using nettest::ConnectLoopback;
using nettest::NowMs;
using nettest::SelectReadable;
using nettest::TestWindow;

constexpr UINT kPing = WM_USER + 1;

class NetSelectTest : public ::testing::Test {
  protected:
    void SetUp() override {
        nettest::DrainMessages();
        connection_ = ConnectLoopback();
    }
    void TearDown() override { nettest::DrainMessages(); }

    // Makes the client end readable.
    void SendToClient() { ASSERT_EQ(::send(connection_.server.get(), "x", 1, 0), 1); }
    SOCKET client() const { return connection_.client.get(); }

    Connection connection_;
};

TEST_F(NetSelectTest, ZeroTimeoutIsAPlainPollThatNeverPumpsAndChecksTheSet) {
    int calls = 0;
    TestWindow window([&](UINT, WPARAM, LPARAM) { return ++calls, 0; });
    ASSERT_TRUE(PostMessageA(window.hwnd(), kPing, 0, 0));
    NetSocketSet readSet(client());
    NetTimeval zero{0, 0};
    EXPECT_EQ(NetSelect(&readSet, nullptr, nullptr, &zero), 0);
    EXPECT_EQ(readSet.fd_count, 0u);
    EXPECT_EQ(calls, 0);
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, window.hwnd(), kPing, kPing, PM_NOREMOVE));

    // A closed descriptor in a set is an error.
    int dead = ::dup(client());
    ::close(dead);
    NetSocketSet closed(dead);
    EXPECT_EQ(NetSelect(&closed, nullptr, nullptr, &zero), -1);
    EXPECT_EQ(NetGetLastError(), 10038);
}

TEST_F(NetSelectTest, TimesOutAfterTwoAndAHalfSeconds) {
    NetSocketSet readSet(client());
    NetTimeval timeout{2, 500000};
    long long start = NowMs();
    EXPECT_EQ(NetSelect(&readSet, nullptr, nullptr, &timeout), 0);
    long long elapsed = NowMs() - start;
    EXPECT_GE(elapsed, 2450);
    EXPECT_LE(elapsed, 3500);
    EXPECT_EQ(readSet.fd_count, 0u);
}

// NetWait: the deadline bounds the whole wait across slices, the stop check
// ends it within a slice with its own number, and readiness comes back as bits.
TEST_F(NetSelectTest, NetWaitEndsAtTheDeadlineAtAStopOrWhenReady) {
    long long start = NowMs();
    EXPECT_EQ(NetWait(client(), kNetReadable, {NetDeadline::In(700), 200}), 10060);
    EXPECT_GE(NowMs() - start, 650);
    EXPECT_LE(NowMs() - start, 1500);

    int checks = 0;
    start = NowMs();
    const NetWaitRules stopping{NetDeadline::InSeconds(5), 100,
                                [&checks] { return ++checks == 3 ? 10057 : 0; }};
    EXPECT_EQ(NetWait(client(), kNetReadable, stopping), 10057);
    EXPECT_LT(NowMs() - start, 900);

    unsigned ready = 0;
    SendToClient();
    EXPECT_EQ(NetWait(client(), kNetReadable | kNetWritable, {NetDeadline::In(0)}, &ready), 0);
    EXPECT_EQ(ready, kNetReadable | kNetWritable);
}

TEST_F(NetSelectTest, MessageFromAnotherThreadWakesTheWaitWithinTheSlice) {
    int calls = 0;
    int blocking = 0;  // whether the handler runs inside the wait
    TestWindow window([&](UINT, WPARAM, LPARAM) {
        blocking = NetIsBlocking();
        return ++calls, SendToClient(), 0;
    });
    HWND hwnd = window.hwnd();
    std::thread poster([hwnd] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        PostMessageA(hwnd, kPing, 0, 0);
    });
    long long start = NowMs();
    EXPECT_EQ(SelectReadable(client(), 5), 1);
    long long elapsed = NowMs() - start;
    poster.join();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(blocking, 1);
    EXPECT_EQ(NetIsBlocking(), 0);
    EXPECT_LT(elapsed, 900);  // served at once, not at the end of a one-second slice
}

// A cancel, or closing another socket, from a handler ends the wait with
// empty sets; the cancel request does not outlive the wait it ended.
TEST_F(NetSelectTest, CancelOrACloseFromAHandlerEndsTheWaitWithEmptySets) {
    Connection other = ConnectLoopback();
    for (const bool close : {false, true}) {
        SCOPED_TRACE(close ? "close" : "cancel");
        TestWindow window([&](UINT, WPARAM, LPARAM) {
            EXPECT_EQ(close ? NetCloseSocket(other.client.release()) : NetCancelBlockingCall(), 0);
            return 0;
        });
        ASSERT_TRUE(PostMessageA(window.hwnd(), kPing, 0, 0));
        NetSocketSet readSet(client());
        NetSocketSet writeSet(client());
        NetTimeval timeout{5, 0};
        long long start = NowMs();
        EXPECT_EQ(NetSelect(&readSet, close ? nullptr : &writeSet, nullptr, &timeout), -1);
        EXPECT_EQ(NetGetLastError(), 10004);
        EXPECT_EQ(readSet.fd_count, 0u);
        EXPECT_EQ(writeSet.fd_count, close ? 1u : 0u);
        EXPECT_LT(NowMs() - start, 900);
        NetSocketSet next(client());
        EXPECT_EQ(NetSelect(nullptr, &next, nullptr, &timeout), 1);
    }
}

TEST_F(NetSelectTest, NestedWaitIsRefusedAndTheOuterWaitGoesOn) {
    int nestedResult = 0;
    int nestedError = 0;
    int zeroTimeoutResult = -2;
    TestWindow window([&](UINT, WPARAM, LPARAM) {
        NetSocketSet inner(client());
        NetTimeval oneSecond{1, 0};
        nestedResult = NetSelect(&inner, nullptr, nullptr, &oneSecond);
        nestedError = NetGetLastError();
        NetTimeval zero{0, 0};
        NetSocketSet polled(client());
        zeroTimeoutResult = NetSelect(&polled, nullptr, nullptr, &zero);  // allowed: no flags
        SendToClient();
        return 0;
    });
    ASSERT_TRUE(PostMessageA(window.hwnd(), kPing, 0, 0));
    NetSocketSet readSet(client());
    NetTimeval timeout{5, 0};
    EXPECT_EQ(NetSelect(&readSet, nullptr, nullptr, &timeout), 1);
    EXPECT_EQ(nestedResult, -1);
    EXPECT_EQ(nestedError, 10036);
    EXPECT_EQ(zeroTimeoutResult, 0);
    EXPECT_TRUE(readSet.Contains(client()));
}

TEST_F(NetSelectTest, QuitIsPutBackAndEndsTheWait) {
    int calls = 0;
    TestWindow window([&](UINT, WPARAM, LPARAM) { return ++calls, 0; });
    ASSERT_TRUE(PostMessageA(window.hwnd(), kPing, 0, 0));
    PostQuitMessage(7);
    long long start = NowMs();
    EXPECT_EQ(SelectReadable(client(), 5), 0);
    EXPECT_LT(NowMs() - start, 900);
    EXPECT_EQ(calls, 1);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.wParam, 7u);
}

TEST_F(NetSelectTest, ThreadMessagesArePutBackWithoutSpinning) {
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), kPing, 5, 6));
    CpuTimes before{};
    ASSERT_TRUE(GetThreadCpuTimes(&before));
    NetSocketSet readSet(client());
    NetTimeval timeout{1, 200000};
    EXPECT_EQ(NetSelect(&readSet, nullptr, nullptr, &timeout), 0);
    CpuTimes after{};
    ASSERT_TRUE(GetThreadCpuTimes(&after));
    ULONGLONG cpu100ns =
        (after.user100ns - before.user100ns) + (after.kernel100ns - before.kernel100ns);
    EXPECT_LT(cpu100ns, 3000000u);  // well under 0.3 s of CPU for a 1.2 s wait
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, kPing);
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(msg.lParam, 6);
}

TEST_F(NetSelectTest, DisabledPumpingWaitsWithoutServingMessages) {
    int calls = 0;
    TestWindow window([&](UINT, WPARAM, LPARAM) { return ++calls, 0; });
    ASSERT_TRUE(PostMessageA(window.hwnd(), kPing, 0, 0));
    ASSERT_EQ(NetEnableBlockingHook(0), 1);
    int server = connection_.server.get();
    std::thread writer([server] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        (void)::send(server, "x", 1, 0);
    });
    EXPECT_EQ(SelectReadable(client(), 3), 1);
    writer.join();
    NetEnableBlockingHook(1);
    EXPECT_EQ(calls, 0);
}

TEST_F(NetSelectTest, WorksForDescriptorsAbove1024) {
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    constexpr int kHigh = 1500;
    if (limit.rlim_cur <= kHigh) {
        rlimit raised = limit;
        raised.rlim_cur = std::min<rlim_t>(limit.rlim_max, 2048);
        if (raised.rlim_cur <= kHigh || setrlimit(RLIMIT_NOFILE, &raised) != 0) {
            GTEST_SKIP() << "cannot raise the descriptor limit above " << kHigh;
        }
    }
    nettest::Fd high(::dup2(client(), kHigh));
    ASSERT_EQ(high.get(), kHigh);
    NetSocketSet many;
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(NetFdAdd(&many, connection_.server.get()), 0);
    ASSERT_EQ(NetFdAdd(&many, kHigh), 0);
    EXPECT_EQ(many.fd_count, 2u);  // members are kept once
    SendToClient();
    NetTimeval timeout{2, 0};
    EXPECT_EQ(NetSelect(&many, nullptr, nullptr, &timeout), 1);
    EXPECT_TRUE(many.Contains(kHigh));
    EXPECT_FALSE(many.Contains(connection_.server.get()));
}

}  // namespace
