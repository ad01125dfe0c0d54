// A loopback FTP proxy of one of the kinds that speak their own commands, in
// front of a real FTP server: it answers the proxy's login (USER and PASS of
// the proxy user), takes the server from "USER user@host:port", "OPEN
// host:port" or "SITE host:port", connects to it there (loopback only), and
// from then on relays the control connection both ways. Data connections go
// straight to the server (its passive replies name a loopback address). One
// client; everything ends by a deadline. Plain POSIX sockets only.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "support/loopback_socket.h"

namespace testsupport {

class FtpProxyFront {
  public:
    // How the client names the server.
    enum class Target { UserAtHost, Open, Site };

    FtpProxyFront(Target target, bool proxyLogin, int deadlineMs = 30000)
        : target_(target),
          proxyLogin_(proxyLogin),
          deadline_(std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs)) {
        listener_ = ListenOnLoopback(&port_);
        if (listener_ >= 0) thread_ = std::thread([this] { Run(); });
    }
    ~FtpProxyFront() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (listener_ >= 0) ::close(listener_);
    }
    FtpProxyFront(const FtpProxyFront&) = delete;
    FtpProxyFront& operator=(const FtpProxyFront&) = delete;

    static constexpr const char* kUser = "puser";
    static constexpr const char* kPassword = "ppass";

    int port() const { return port_; }
    // The commands the proxy itself answered, joined by '|'.
    std::string Transcript() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return transcript_;
    }

  private:
    bool Running() const { return !stop_ && std::chrono::steady_clock::now() < deadline_; }

    void Note(const std::string& command) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!transcript_.empty()) transcript_ += '|';
        transcript_ += command;
    }

    static bool SendText(int s, const std::string& text) {
        return ::send(s, text.data(), text.size(), MSG_NOSIGNAL) == ssize_t(text.size());
    }

    // One CR LF line from s (without it), bounded; false on close, error or deadline.
    bool ReadLine(int s, std::string& line) {
        line.clear();
        char c = 0;
        while (Running() && line.size() < 4096) {
            pollfd ready{s, POLLIN, 0};
            if (::poll(&ready, 1, 50) <= 0) continue;
            if (::recv(s, &c, 1, 0) != 1) return false;
            if (c == '\n') {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return true;
            }
            line += c;
        }
        return false;
    }

    // Connects to "127.0.0.1:port" and reads the server's greeting; -1 when it fails.
    int OpenServer(const std::string& hostPort) {
        const std::size_t colon = hostPort.rfind(':');
        if (colon == std::string::npos || hostPort.substr(0, colon) != "127.0.0.1") return -1;
        const int server = ConnectToLoopback(std::atoi(hostPort.c_str() + colon + 1));
        std::string line;
        if (server < 0) return -1;
        while (ReadLine(server, line)) {
            if (line.starts_with("220 ")) return server;
        }
        ::close(server);
        return -1;
    }

    // The proxy's own dialogue; the server's socket once a server is chosen, else -1.
    int Handshake(int client) {
        bool loggedIn = !proxyLogin_;
        std::string line;
        while (ReadLine(client, line)) {
            const std::size_t blank = line.find(' ');
            const std::string verb = line.substr(0, blank);
            const std::string argument = blank == std::string::npos ? "" : line.substr(blank + 1);
            Note(line);
            if (!loggedIn && verb == "USER") {
                SendText(client, argument == kUser ? "331 Proxy password?\r\n" : "530 No.\r\n");
            } else if (!loggedIn && verb == "PASS") {
                loggedIn = argument == kPassword;
                SendText(client, loggedIn ? "230 Proxy login ok.\r\n" : "530 No.\r\n");
            } else if (loggedIn && target_ == Target::UserAtHost && verb == "USER" &&
                       argument.find('@') != std::string::npos) {
                const std::size_t at = argument.rfind('@');
                const int server = OpenServer(argument.substr(at + 1));
                if (server >= 0 && SendText(server, "USER " + argument.substr(0, at) + "\r\n")) {
                    return server;
                }
                SendText(client, "421 Server not reachable.\r\n");
                if (server >= 0) ::close(server);
            } else if (loggedIn && ((target_ == Target::Open && verb == "OPEN") ||
                                    (target_ == Target::Site && verb == "SITE"))) {
                const int server = OpenServer(argument);
                if (server >= 0 && SendText(client, "220 Connected to " + argument + ".\r\n")) {
                    return server;
                }
                SendText(client, "421 Server not reachable.\r\n");
                if (server >= 0) ::close(server);
            } else {
                SendText(client, "530 Log in to the proxy and name a server first.\r\n");
            }
        }
        return -1;
    }

    void Run() {
        const int client = AcceptOne(listener_, [this] { return Running(); });
        if (client < 0) return;
        const int server = SendText(client, "220 Test proxy ready.\r\n") ? Handshake(client) : -1;
        if (server >= 0) {
            Relay(client, server);
            ::close(server);
        }
        ::close(client);
    }

    void Relay(int client, int server) {
        char buffer[16384];
        while (Running()) {
            pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (::poll(fds, 2, 50) <= 0) continue;
            for (int i = 0; i < 2; ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                const ssize_t got = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
                if (got <= 0 || ::send(fds[1 - i].fd, buffer, size_t(got), MSG_NOSIGNAL) != got) {
                    return;
                }
            }
        }
    }

    Target target_;
    bool proxyLogin_;
    std::chrono::steady_clock::time_point deadline_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::string transcript_;
    std::thread thread_;
};

}  // namespace testsupport
