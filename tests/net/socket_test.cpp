// Sockets through the wrappers: the timed connect, the half-close on closing,
// sends to a closed peer, and asynchronous notifications to a window.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>

#include <utility>
#include <vector>

#include "net/net.h"
#include "net_test_support.h"

namespace {

using nettest::Connection;
using nettest::ConnectLoopback;
using nettest::Fd;
using nettest::Listener;
using nettest::ListenLoopback;
using nettest::NowMs;
using nettest::TestWindow;

NetAddress Loopback4() {
    NetAddress address{};
    EXPECT_EQ(NetParseAddress("127.0.0.1", 0, &address), 2);
    return address;
}

bool IsBlocking(SOCKET s) {
    return (fcntl(s, F_GETFL) & O_NONBLOCK) == 0;
}

int BufferOf(SOCKET s, int option) {
    int size = 0;
    socklen_t length = sizeof size;
    EXPECT_EQ(getsockopt(s, SOL_SOCKET, option, &size, &length), 0);
    return size;
}

// Pushes up to 64 MiB through the connection, draining the far end as it goes
// (both ends non-blocking, one thread, bounded by count and time).
void PushTraffic(SOCKET sender, int receiver) {
    ASSERT_EQ(fcntl(sender, F_SETFL, O_NONBLOCK), 0);
    ASSERT_EQ(fcntl(receiver, F_SETFL, O_NONBLOCK), 0);
    std::vector<char> block(65536);
    std::size_t moved = 0;
    const long long start = NowMs();
    while (moved < (64u << 20) && NowMs() - start < 3000) {
        while (::send(sender, block.data(), block.size(), MSG_NOSIGNAL) > 0) {
        }
        ssize_t got;
        while ((got = ::recv(receiver, block.data(), block.size(), 0)) > 0)
            moved += static_cast<std::size_t>(got);
    }
}

// The timed connect leaves the socket blocking. Sizes stay with the kernel,
// which grows them with the connection; a size the caller sets is pinned and stays.
TEST(NetSocket, BufferSizesAreTunedByTheKernelUnlessTheCallerSetsThem) {
    struct Case {
        const char* name;
        int callerSize;  // 0: leave the sizes alone
    };
    for (const Case& c : {Case{"automatic", 0}, Case{"pinned", 65535}}) {
        SCOPED_TRACE(c.name);
        Listener listener = ListenLoopback();
        NetAddress address = Loopback4();
        Fd s(NetConnectAddress(&address, listener.port, 5));
        ASSERT_GE(s.get(), 0) << NetGetLastError();
        EXPECT_TRUE(IsBlocking(s.get()));
        Fd accepted(::accept(listener.socket.get(), nullptr, nullptr));
        ASSERT_GE(accepted.get(), 0);
        EXPECT_GE(BufferOf(s.get(), SO_RCVBUF), 65535);
        if (c.callerSize != 0) {
            ASSERT_EQ(NetSetSockOpt(s.get(), SOL_SOCKET, SO_SNDBUF, &c.callerSize), 0);
        }
        const int before = BufferOf(s.get(), SO_SNDBUF);
        PushTraffic(s.get(), accepted.get());
        const int after = BufferOf(s.get(), SO_SNDBUF);
        if (c.callerSize != 0) {
            EXPECT_EQ(after, before);
        } else {
            EXPECT_GT(after, 2 * 65535) << "before " << before;
        }
    }
}

TEST(NetTimedConnect, ListenerWithAFullBacklogTimesOut) {
    Listener listener = ListenLoopback(0);
    std::vector<Fd> fillers;
    sockaddr_in target = nettest::LoopbackAddress(listener.port);
    for (int i = 0; i < 4; ++i) {
        Fd filler(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        (void)::connect(filler.get(), reinterpret_cast<sockaddr*>(&target), sizeof target);
        fillers.push_back(std::move(filler));
    }
    usleep(200000);
    NetAddress address = Loopback4();
    long long start = NowMs();
    EXPECT_EQ(NetConnectAddress(&address, listener.port, 1), INVALID_SOCKET);
    EXPECT_EQ(NetGetLastError(), 10060);
    long long elapsed = NowMs() - start;
    EXPECT_GE(elapsed, 900);
    EXPECT_LE(elapsed, 2500);
}

TEST(NetCloseSocket, SendsEndOfDataEvenWhenTheDescriptorIsShared) {
    Connection connection = ConnectLoopback();
    // A second descriptor keeps the socket open: only the shutdown sends FIN.
    Fd keeper(::dup(connection.client.get()));
    ASSERT_EQ(NetCloseSocket(connection.client.release()), 0);
    ASSERT_EQ(nettest::SelectReadable(connection.server.get(), 2), 1);
    char byte;
    EXPECT_EQ(NetRecv(connection.server.get(), &byte, 1, 0), 0);
}

TEST(NetSend, ClosedPeerGivesAnErrorNotASignal) {
    Connection connection = ConnectLoopback();
    linger abort{1, 0};
    ASSERT_EQ(setsockopt(connection.server.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort), 0);
    connection.server.Reset();  // reset by the peer
    usleep(50000);
    char block[4096] = {};
    int error = 0;
    for (int i = 0; i < 50 && error == 0; ++i) {
        if (NetSend(connection.client.get(), block, sizeof block, 0) < 0) error = NetGetLastError();
    }
    EXPECT_TRUE(error == 10054 || error == 10058) << error;
}

TEST(NetWrappers, FailOnDescriptorsThatAreNotSocketsAndIoctlCountsBytes) {
    nettest::Pipe pipeEnds = nettest::MakePipe();
    int pending = 0;
    EXPECT_EQ(NetGetSocketError(pipeEnds.read.get(), &pending), -1);
    EXPECT_EQ(NetGetLastError(), 10038);
    EXPECT_EQ(NetListen(pipeEnds.read.get()), -1);
    EXPECT_EQ(NetGetLastError(), 10038);
    unsigned long value = 1;
    EXPECT_EQ(NetIoctl(pipeEnds.read.get(), 0x1234, &value), -1);
    EXPECT_EQ(NetGetLastError(), 10022);

    // On a socket FIONREAD reports the readable bytes.
    Connection connection = ConnectLoopback();
    ASSERT_EQ(::send(connection.server.get(), "abc", 3, 0), 3);
    ASSERT_EQ(nettest::SelectReadable(connection.client.get(), 2), 1);
    ASSERT_EQ(NetIoctl(connection.client.get(), FIONREAD, &value), 0);
    EXPECT_EQ(value, 3u);
}

// Asynchronous notifications: what reached the window, in order.
struct Notification {
    WPARAM socket;
    int event;
    int error;
};

class NetAsyncSelectTest : public ::testing::Test {
  protected:
    static constexpr UINT kSocketMessage = WM_USER + 77;

    void SetUp() override {
        nettest::DrainMessages();
        window_.SetHandler([this](UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
            if (message == kSocketMessage) {
                seen_.push_back({wParam, static_cast<int>(lParam & 0xFFFF),
                                 static_cast<int>((lParam >> 16) & 0xFFFF)});
            }
            return 0;
        });
    }
    void TearDown() override { nettest::DrainMessages(); }

    // Pumps notifications and messages until `count` have arrived or 2 s pass.
    void PumpUntil(std::size_t count) {
        for (long long end = NowMs() + 2000; seen_.size() < count && NowMs() < end;) {
            NetPumpAsyncEvents();
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
            if (seen_.size() < count) usleep(5000);
        }
    }

    TestWindow window_;
    std::vector<Notification> seen_;
};

TEST_F(NetAsyncSelectTest, AcceptReadAndCloseArePostedOnceUntilReArmed) {
    Listener listener = ListenLoopback();
    SOCKET listening = listener.socket.get();
    ASSERT_EQ(NetAsyncSelect(listening, window_.hwnd(), kSocketMessage, FD_ACCEPT), 0);
    Fd client = nettest::ConnectTo(listener.port);
    PumpUntil(1);
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].socket, static_cast<WPARAM>(listening));
    EXPECT_EQ(seen_[0].event, FD_ACCEPT);

    Fd server(NetAccept(listening, nullptr, nullptr));
    ASSERT_GE(server.get(), 0);
    ASSERT_EQ(NetAsyncSelect(server.get(), window_.hwnd(), kSocketMessage, FD_READ | FD_CLOSE), 0);
    ASSERT_EQ(::send(client.get(), "ab", 2, 0), 2);
    PumpUntil(2);
    ASSERT_EQ(seen_.size(), 2u);
    EXPECT_EQ(seen_[1].event, FD_READ);
    // Not read yet: no second FD_READ, however often the events are pumped.
    usleep(20000);
    EXPECT_EQ(NetPumpAsyncEvents(), 0);

    char buffer[8];
    EXPECT_EQ(NetRecv(server.get(), buffer, 1, 0), 1);  // re-arms FD_READ; one byte is left
    PumpUntil(3);
    ASSERT_EQ(seen_.size(), 3u);
    EXPECT_EQ(seen_[2].event, FD_READ);
    EXPECT_EQ(NetRecv(server.get(), buffer, sizeof buffer, 0), 1);

    client.Reset();
    PumpUntil(4);
    ASSERT_GE(seen_.size(), 4u);
    EXPECT_EQ(seen_.back().event, FD_CLOSE);
    EXPECT_EQ(seen_.back().error, 0);
}

TEST_F(NetAsyncSelectTest, RefusedConnectIsPostedWithItsError) {
    Fd s(NetSocket(NET_FAMILY_IPV4, SOCK_STREAM, 0));
    ASSERT_EQ(NetAsyncSelect(s.get(), window_.hwnd(), kSocketMessage, FD_CONNECT | FD_WRITE), 0);
    EXPECT_EQ(NetPumpAsyncEvents(), 0);  // nothing to say before the connect
    sockaddr_in target = nettest::LoopbackAddress(nettest::ClosedLoopbackPort());
    int result = NetConnect(s.get(), reinterpret_cast<sockaddr*>(&target), sizeof target);
    if (result == 0 || NetGetLastError() != 10035) GTEST_SKIP() << "connect finished at once";
    PumpUntil(1);
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].event, FD_CONNECT);
    EXPECT_EQ(seen_[0].error, 10061);
}

TEST_F(NetAsyncSelectTest, ConnectAndWriteAreReportedAndAZeroMaskUnregisters) {
    Listener listener = ListenLoopback();
    Fd s(NetSocket(NET_FAMILY_IPV4, SOCK_STREAM, 0));
    ASSERT_EQ(NetAsyncSelect(s.get(), window_.hwnd(), kSocketMessage, FD_CONNECT | FD_WRITE), 0);
    EXPECT_FALSE(IsBlocking(s.get()));
    sockaddr_in target = nettest::LoopbackAddress(listener.port);
    (void)NetConnect(s.get(), reinterpret_cast<sockaddr*>(&target), sizeof target);
    PumpUntil(2);
    ASSERT_EQ(seen_.size(), 2u);
    EXPECT_EQ(seen_[0].event, FD_CONNECT);
    EXPECT_EQ(seen_[0].error, 0);
    EXPECT_EQ(seen_[1].event, FD_WRITE);

    ASSERT_EQ(NetAsyncSelect(s.get(), window_.hwnd(), kSocketMessage, 0), 0);
    char filler[65536] = {};
    while (NetSend(s.get(), filler, sizeof filler, 0) > 0) {
    }
    EXPECT_EQ(NetGetLastError(), 10035);
    Fd server(::accept(listener.socket.get(), nullptr, nullptr));
    char sink[65536];
    for (int i = 0; i < 100 && ::recv(server.get(), sink, sizeof sink, MSG_DONTWAIT) > 0; ++i) {
    }
    usleep(20000);
    EXPECT_EQ(NetPumpAsyncEvents(), 0);
    EXPECT_EQ(seen_.size(), 2u);
}

TEST_F(NetAsyncSelectTest, NotificationsArePostedInsideAPumpingWait) {
    Connection connection = ConnectLoopback();
    ASSERT_EQ(NetAsyncSelect(connection.server.get(), window_.hwnd(), kSocketMessage, FD_READ), 0);
    window_.SetHandler([&](UINT message, WPARAM, LPARAM lParam) -> LRESULT {
        if (message == kSocketMessage && (lParam & 0xFFFF) == FD_READ) NetCancelBlockingCall();
        return 0;
    });
    ASSERT_EQ(::send(connection.client.get(), "z", 1, 0), 1);
    // Wait on an unrelated socket that never becomes readable.
    Connection idle = ConnectLoopback();
    long long start = NowMs();
    EXPECT_EQ(nettest::SelectReadable(idle.client.get(), 5), -1);
    EXPECT_EQ(NetGetLastError(), 10004);
    EXPECT_LT(NowMs() - start, 900);
}

TEST_F(NetAsyncSelectTest, RejectsWhatCannotBeNotified) {
    nettest::Pipe pipeEnds = nettest::MakePipe();
    EXPECT_EQ(NetAsyncSelect(pipeEnds.read.get(), window_.hwnd(), kSocketMessage, FD_READ), -1);
    EXPECT_EQ(NetGetLastError(), 10038);
    Connection connection = ConnectLoopback();
    EXPECT_EQ(NetAsyncSelect(connection.client.get(), nullptr, kSocketMessage, FD_READ), -1);
    EXPECT_EQ(NetGetLastError(), 10022);
}

// The process-wide network event: each event is recorded once, reported by the
// enumeration (which clears it) and re-armed by the matching call; the wait
// wakes for a recorded event and times out when none comes.
TEST(NetEventSelectTest, EventsAreRecordedOnceEnumeratedAndReArmed) {
    Listener listener = ListenLoopback();
    SOCKET listening = listener.socket.get();
    ASSERT_EQ(NetEventSelect(listening, FD_ACCEPT), 0);
    EXPECT_EQ(NetWaitNetworkEvent(50), 0);
    Fd client = nettest::ConnectTo(listener.port);
    EXPECT_EQ(NetWaitNetworkEvent(2000), 1);
    NetNetworkEvents events;
    ASSERT_EQ(NetEnumNetworkEvents(listening, &events), 0);
    EXPECT_EQ(events.networkEvents, FD_ACCEPT);
    ASSERT_EQ(NetEnumNetworkEvents(listening, &events), 0);
    EXPECT_EQ(events.networkEvents, 0);  // cleared, and not re-armed before an accept

    Fd server(NetAccept(listening, nullptr, nullptr));
    ASSERT_GE(server.get(), 0);
    ASSERT_EQ(NetEventSelect(listening, 0), 0);
    ASSERT_EQ(NetEventSelect(server.get(), FD_READ | FD_CLOSE), 0);
    EXPECT_FALSE(IsBlocking(server.get()));
    ASSERT_EQ(::send(client.get(), "ab", 2, 0), 2);
    EXPECT_EQ(NetWaitNetworkEvent(2000), 1);
    ASSERT_EQ(NetEnumNetworkEvents(server.get(), &events), 0);
    EXPECT_EQ(events.networkEvents, FD_READ);
    EXPECT_EQ(NetWaitNetworkEvent(50), 0);  // unread data is not announced twice
    char buffer[8];
    EXPECT_EQ(NetRecv(server.get(), buffer, sizeof buffer, 0), 2);
    client.Reset();
    EXPECT_EQ(NetWaitNetworkEvent(2000), 1);
    ASSERT_EQ(NetEnumNetworkEvents(server.get(), &events), 0);
    EXPECT_TRUE(events.networkEvents & FD_CLOSE);
    EXPECT_EQ(events.errorCodes[5], 0);
    ASSERT_EQ(NetCloseSocket(server.release()), 0);  // closing deselects

    // A refused connect is recorded with its error number.
    Fd refused(NetSocket(NET_FAMILY_IPV4, SOCK_STREAM, 0));
    ASSERT_EQ(NetEventSelect(refused.get(), FD_CONNECT), 0);
    sockaddr_in closed = nettest::LoopbackAddress(nettest::ClosedLoopbackPort());
    if (NetConnect(refused.get(), reinterpret_cast<sockaddr*>(&closed), sizeof closed) == -1 &&
        NetGetLastError() == 10035) {
        EXPECT_EQ(NetWaitNetworkEvent(2000), 1);
        ASSERT_EQ(NetEnumNetworkEvents(refused.get(), &events), 0);
        EXPECT_EQ(events.networkEvents, FD_CONNECT);
        EXPECT_EQ(events.errorCodes[4], 10061);
    }
    ASSERT_EQ(NetCloseSocket(refused.release()), 0);

    nettest::Pipe pipeEnds = nettest::MakePipe();
    EXPECT_EQ(NetEventSelect(pipeEnds.read.get(), FD_READ), -1);
    EXPECT_EQ(NetGetLastError(), 10038);
    EXPECT_EQ(NetEnumNetworkEvents(listening, nullptr), -1);
    EXPECT_EQ(NetGetLastError(), 10014);
}

TEST(NetInterfaceListTest, ListsTheLoopbackInterfaceAndNeedsRoomAndASocket) {
    Connection connection = ConnectLoopback();
    NetInterfaceInfo list[NET_INTERFACE_LIST_MAX];
    int count = NetGetInterfaceList(connection.client.get(), list, NET_INTERFACE_LIST_MAX);
    ASSERT_GE(count, 1);
    bool loopback = false;
    for (int i = 0; i < count; ++i) {
        const NetInterfaceInfo& info = list[i];
        EXPECT_TRUE(info.flags & NET_IFF_UP);
        if ((info.flags & NET_IFF_LOOPBACK) && info.address.address.sin_family == AF_INET &&
            info.address.address.sin_addr.s_addr == htonl(INADDR_LOOPBACK)) {
            loopback = info.netmask.address.sin_addr.s_addr == htonl(0xFF000000u);
        }
    }
    EXPECT_TRUE(loopback);
    EXPECT_EQ(NetGetInterfaceList(connection.client.get(), list, 0), -1);
    EXPECT_EQ(NetGetLastError(), 10055);
    EXPECT_EQ(NetGetInterfaceList(-1, list, NET_INTERFACE_LIST_MAX), -1);
    EXPECT_EQ(NetGetLastError(), 10038);
}

}  // namespace
