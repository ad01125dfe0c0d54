// The data side of a scripted FTP server: listens on 127.0.0.1 for one passive
// data connection, or connects to the client's active port, and then sends a
// payload (in paced chunks, with an optional stall or an abortive drop) or
// receives everything until the client closes. Bounded by a deadline.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "support/loopback_socket.h"

namespace testsupport {

struct DataPlan {
    std::string payload;   // bytes to send; empty with receive set
    bool receive = false;  // read until the client closes instead
    std::size_t chunk = 65536;
    int chunkDelayMs = 0;                        // pause after every chunk
    std::size_t stallAfter = std::string::npos;  // stop sending after these bytes...
    int stallMs = 0;                             // ...for this long
    bool dropAfterStall = false;                 // then reset instead of sending on
};

class DataPeer {
  public:
    explicit DataPeer(int deadlineMs = 15000)
        : deadline_(std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs)) {
        int port = 0;
        listener_ = ListenOnLoopback(&port);
        port_ = static_cast<std::uint16_t>(port);
    }
    // A passive peer serving the plan at once.
    explicit DataPeer(DataPlan plan) : DataPeer() { Serve(std::move(plan)); }
    ~DataPeer() {
        stop_ = true;
        Join();
        if (listener_ >= 0) ::close(listener_);
    }
    DataPeer(const DataPeer&) = delete;
    DataPeer& operator=(const DataPeer&) = delete;

    std::uint16_t port() const { return port_; }
    // "227 ... (127,0,0,1,p1,p2)" for this peer.
    std::string PasvReply() const {
        return "227 Entering Passive Mode (127,0,0,1," + std::to_string(port_ >> 8) + ',' +
               std::to_string(port_ & 0xFF) + ").\r\n";
    }

    // Passive: accepts one connection on a thread of its own and plays the plan.
    void Serve(DataPlan plan) {
        thread_ = std::thread([this, plan = std::move(plan)] {
            if (!WaitReadable(listener_)) return;
            int connection = ::accept(listener_, nullptr, nullptr);
            if (connection >= 0) Play(connection, plan);
        });
    }
    // Active: connects to the client's port (on the peer's thread of the caller).
    void ConnectTo(std::uint16_t port, DataPlan plan) {
        thread_ = std::thread([this, port, plan = std::move(plan)] {
            int connection = ConnectToLoopback(port);
            if (connection >= 0) Play(connection, plan);
        });
    }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    std::string received() {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }
    // True when the client closed (or reset) the connection before the payload was sent.
    bool cutShort() const { return cutShort_; }

  private:
    bool Expired() const { return stop_ || std::chrono::steady_clock::now() >= deadline_; }
    bool WaitReadable(int fd) {
        while (!Expired()) {
            pollfd entry{fd, POLLIN, 0};
            if (::poll(&entry, 1, 20) > 0) return true;
        }
        return false;
    }
    void Pause(int ms) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!Expired() && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    void Play(int connection, const DataPlan& plan) {
        if (plan.receive) {
            char buffer[65536];
            while (WaitReadable(connection)) {
                ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                std::lock_guard<std::mutex> lock(mutex_);
                received_.append(buffer, static_cast<std::size_t>(n));
            }
            ::close(connection);
            return;
        }
        std::size_t sent = 0;
        bool stalled = false;
        while (sent < plan.payload.size() && !Expired()) {
            if (!stalled && sent >= plan.stallAfter) {
                stalled = true;
                Pause(plan.stallMs);
                if (plan.dropAfterStall) {
                    linger abortive{1, 0};
                    ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
                    break;
                }
            }
            std::size_t limit = std::min(plan.chunk, plan.payload.size() - sent);
            if (!stalled && plan.stallAfter > sent) limit = std::min(limit, plan.stallAfter - sent);
            ssize_t n = ::send(connection, plan.payload.data() + sent, limit, MSG_NOSIGNAL);
            if (n <= 0) {
                cutShort_ = true;
                break;
            }
            sent += static_cast<std::size_t>(n);
            if (plan.chunkDelayMs > 0) Pause(plan.chunkDelayMs);
        }
        ::close(connection);
    }

    std::chrono::steady_clock::time_point deadline_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> cutShort_{false};
    std::mutex mutex_;
    std::string received_;
    std::thread thread_;
};

// The port of a "PORT h1,h2,h3,h4,p1,p2" line, or 0.
inline std::uint16_t PortOfActiveCommand(const std::string& line) {
    if (line.rfind("PORT ", 0) != 0) return 0;
    auto last = line.rfind(',');
    auto before = line.rfind(',', last - 1);
    if (last == std::string::npos || before == std::string::npos) return 0;
    int high = std::stoi(line.substr(before + 1, last - before - 1));
    int low = std::stoi(line.substr(last + 1));
    return static_cast<std::uint16_t>(high * 256 + low);
}

}  // namespace testsupport
