// A loopback relay in front of a real server, for the faults a real server
// will not make on its own: it forwards both ways until the server has sent a
// given number of bytes, then holds back everything the server sends, so the
// client sees a server that stopped answering in the middle of a transfer.
// One connection; everything ends by a deadline. Plain POSIX sockets only.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "support/loopback_socket.h"

namespace testsupport {

class StallingRelay {
  public:
    StallingRelay(int serverPort, std::size_t stallAfter, int deadlineMs = 30000)
        : serverPort_(serverPort),
          stallAfter_(stallAfter),
          deadline_(std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs)) {
        listener_ = ListenOnLoopback(&port_);
        if (listener_ >= 0) thread_ = std::thread([this] { Run(); });
    }
    ~StallingRelay() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (listener_ >= 0) ::close(listener_);
    }
    StallingRelay(const StallingRelay&) = delete;
    StallingRelay& operator=(const StallingRelay&) = delete;

    int port() const { return port_; }
    // True once the relay holds the server's bytes back.
    bool stalled() const { return stalled_; }
    // The server's bytes passed on so far (counted before they reach the client).
    std::size_t forwarded() const { return forwarded_; }

  private:
    bool Running() const { return !stop_ && std::chrono::steady_clock::now() < deadline_; }

    void Run() {
        const int client = AcceptOne(listener_, [this] { return Running(); });
        const int server = client >= 0 ? ConnectToLoopback(serverPort_) : -1;
        if (server >= 0) {
            Relay(client, server);
            ::close(server);
        }
        if (client >= 0) ::close(client);
    }

    void Relay(int client, int server) {
        char buffer[16384];
        while (Running()) {
            stalled_ = forwarded_ >= stallAfter_;
            pollfd fds[2] = {{client, POLLIN, 0}, {server, short(stalled_ ? 0 : POLLIN), 0}};
            if (::poll(fds, 2, 50) <= 0) continue;
            if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
                if (got <= 0 || ::send(server, buffer, size_t(got), MSG_NOSIGNAL) != got) return;
            }
            if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
                const std::size_t room = stallAfter_ - forwarded_;
                const ssize_t got = ::recv(server, buffer, std::min(sizeof buffer, room), 0);
                if (got <= 0) return;
                forwarded_ += std::size_t(got);
                if (::send(client, buffer, size_t(got), MSG_NOSIGNAL) != got) return;
            }
        }
    }

    int serverPort_;
    std::size_t stallAfter_;
    std::chrono::steady_clock::time_point deadline_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> stalled_{false};
    std::atomic<std::size_t> forwarded_{0};
    std::thread thread_;
};

}  // namespace testsupport
