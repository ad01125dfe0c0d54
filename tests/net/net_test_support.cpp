#include "net_test_support.h"

#include <arpa/inet.h>

namespace nettest {

// Starts the runtime once for the whole program.
class RuntimeEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { ASSERT_EQ(NetStartup(nullptr), 0); }
    void TearDown() override { NetCleanup(); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new RuntimeEnvironment);

sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
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

uint16_t ClosedLoopbackPort() {
    Fd s(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = LoopbackAddress(0);
    EXPECT_EQ(::bind(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    EXPECT_EQ(::getsockname(s.get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
    return ntohs(address.sin_port);
}

void DrainMessages() {
    MSG msg;
    for (int i = 0; i < 1000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    }
}

}  // namespace nettest
