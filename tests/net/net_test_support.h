// Shared helpers of the socket runtime tests: the runtime started once per
// program, owned descriptors and loopback connections.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

#include "net/net.h"
#include "platform/messages.h"
#include "support/test_window.h"

namespace nettest {

class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void Reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

// A listening socket on 127.0.0.1 (or ::1) with an ephemeral port.
struct Listener {
    Fd socket;
    uint16_t port = 0;
};
Listener ListenLoopback(int backlog = 16, int family = AF_INET);

// A connected pair over loopback TCP: client and the accepted server end.
struct Connection {
    Fd client;
    Fd server;
};
Connection ConnectLoopback();

// A plain blocking socket connected to the port on 127.0.0.1.
Fd ConnectTo(uint16_t port);

// Both ends of a pipe: descriptors that are no sockets.
struct Pipe {
    Fd read;
    Fd write;
};
Pipe MakePipe();

// NetSelect for the socket's readability, waiting up to the seconds.
int SelectReadable(SOCKET s, int seconds);

// A port on 127.0.0.1 that nothing listens on (bound, then released).
uint16_t ClosedLoopbackPort();

sockaddr_in LoopbackAddress(uint16_t port);

using testsupport::NowMs;
using testsupport::TestWindow;

// Removes every message left in the calling thread's queue.
void DrainMessages();

}  // namespace nettest
