#include "net_test_support.h"

#include <arpa/inet.h>

#include "support/loopback_socket.h"

namespace nettest {

// Starts the runtime once for the whole program.
class RuntimeEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { ASSERT_EQ(NetStartup(nullptr), 0); }
    void TearDown() override { NetCleanup(); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new RuntimeEnvironment);

sockaddr_in LoopbackAddress(uint16_t port) {
    return testsupport::LoopbackAddress(port);
}

Listener ListenLoopback(int backlog, int family) {
    Listener listener;
    listener.socket = Fd(::socket(family, SOCK_STREAM, 0));
    sockaddr_storage storage{};
    socklen_t length;
    if (family == AF_INET6) {
        auto* ipv6 = reinterpret_cast<sockaddr_in6*>(&storage);
        ipv6->sin6_family = AF_INET6;
        ipv6->sin6_addr = in6addr_loopback;
        length = sizeof *ipv6;
    } else {
        *reinterpret_cast<sockaddr_in*>(&storage) = LoopbackAddress(0);
        length = sizeof(sockaddr_in);
    }
    EXPECT_EQ(::bind(listener.socket.get(), reinterpret_cast<sockaddr*>(&storage), length), 0);
    EXPECT_EQ(::listen(listener.socket.get(), backlog), 0);
    EXPECT_EQ(::getsockname(listener.socket.get(), reinterpret_cast<sockaddr*>(&storage), &length),
              0);
    listener.port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                                             : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    return listener;
}

Connection ConnectLoopback() {
    Listener listener = ListenLoopback();
    Connection connection;
    connection.client = Fd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = LoopbackAddress(listener.port);
    EXPECT_EQ(
        ::connect(connection.client.get(), reinterpret_cast<sockaddr*>(&address), sizeof address),
        0);
    connection.server = Fd(::accept(listener.socket.get(), nullptr, nullptr));
    EXPECT_GE(connection.server.get(), 0);
    return connection;
}

Fd ConnectTo(uint16_t port) {
    Fd s(testsupport::ConnectToLoopback(port));
    EXPECT_GE(s.get(), 0) << "connect to port " << port;
    return s;
}

Pipe MakePipe() {
    int ends[2] = {-1, -1};
    EXPECT_EQ(::pipe(ends), 0);
    return {Fd(ends[0]), Fd(ends[1])};
}

int SelectReadable(SOCKET s, int seconds) {
    NetSocketSet readSet(s);
    NetTimeval timeout{seconds, 0};
    return NetSelect(&readSet, nullptr, nullptr, &timeout);
}

uint16_t ClosedLoopbackPort() {
    int port = 0;
    ::close(testsupport::ListenOnLoopback(&port));
    return static_cast<uint16_t>(port);
}

void DrainMessages() {
    MSG msg;
    for (int i = 0; i < 1000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    }
}

}  // namespace nettest
