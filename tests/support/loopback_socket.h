// Plain loopback sockets for the test peers: the scripted servers and those that
// stand between the client and a real server (stalling_relay.h, ftp_proxy_front.h).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace testsupport {

inline sockaddr_in LoopbackAddress(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A socket listening on a free loopback port, which *port receives; -1 when
// none could be had. A few connects may wait for their accept.
inline int ListenOnLoopback(int* port) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = LoopbackAddress(0);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) ||
        ::listen(listener, 8) ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length)) {
        if (listener >= 0) ::close(listener);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return listener;
}

// The first client of listener, polled for while running() holds; -1 when none came.
template <typename Running>
int AcceptOne(int listener, Running running) {
    pollfd waiting{listener, POLLIN, 0};
    while (running() && ::poll(&waiting, 1, 50) == 0) {
    }
    return running() ? ::accept(listener, nullptr, nullptr) : -1;
}

// A socket connected to a loopback port; -1 when the connect fails.
inline int ConnectToLoopback(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = LoopbackAddress(port);
    if (s >= 0 && ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        return s;
    }
    if (s >= 0) ::close(s);
    return -1;
}

}  // namespace testsupport
