// Shared helpers of the socket runtime tests: the runtime started once per
// program, owned descriptors, loopback connections and a message window whose
// procedure is a lambda.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <utility>

#include "net/net.h"
#include "platform/messages.h"

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

// A port on 127.0.0.1 that nothing listens on (bound, then released).
uint16_t ClosedLoopbackPort();

sockaddr_in LoopbackAddress(uint16_t port);

// Milliseconds since an arbitrary start.
long long NowMs();

// A message-only window on the calling thread that hands every message to
// `handler`.
class TestWindow {
  public:
    using Handler = std::function<LRESULT(UINT message, WPARAM wParam, LPARAM lParam)>;
    explicit TestWindow(Handler handler = nullptr);
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND hwnd() const { return window_; }
    void SetHandler(Handler handler) { handler_ = std::move(handler); }

  private:
    static LRESULT Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    Handler handler_;
    HWND window_ = nullptr;
};

// Removes every message left in the calling thread's queue.
void DrainMessages();

}  // namespace nettest
