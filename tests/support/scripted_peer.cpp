#include "support/scripted_peer.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "support/loopback_socket.h"

namespace testsupport {
namespace {

constexpr int kSliceMs = 20;

bool SendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

void ResetAndClose(int fd) {
    linger abortive{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    ::close(fd);
}

}  // namespace

ScriptedPeer::ScriptedPeer(std::vector<PeerScript> scripts, Options options)
    : scripts_(std::move(scripts)),
      deadline_(std::chrono::steady_clock::now() + std::chrono::milliseconds(options.deadlineMs)) {
    int port = 0;
    listener_ = ListenOnLoopback(&port);
    port_ = static_cast<std::uint16_t>(port);
    if (listener_ < 0) {
        failure_ = "cannot listen";
        return;
    }
    thread_ = std::thread([this] { Run(); });
}

ScriptedPeer::~ScriptedPeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) ::close(listener_);
}

std::string ScriptedPeer::Finish() {
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
}

std::vector<std::string> ScriptedPeer::received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

std::string ScriptedPeer::Transcript() const {
    std::string joined;
    for (const auto& line : received()) {
        if (!joined.empty()) joined += '|';
        joined += line;
    }
    return joined;
}

bool ScriptedPeer::Expired() const {
    return stop_ || std::chrono::steady_clock::now() >= deadline_;
}

void ScriptedPeer::Fail(const std::string& problem) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failure_.empty()) failure_ = problem;
}

void ScriptedPeer::Record(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    received_.push_back(line);
}

bool ScriptedPeer::WaitReadable(int fd) {
    while (!Expired()) {
        pollfd entry{fd, POLLIN, 0};
        int ready = ::poll(&entry, 1, kSliceMs);
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
    return false;
}

bool ScriptedPeer::SleepFor(int ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        if (Expired()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, kSliceMs)));
    }
    return true;
}

// False at the end of the stream, on an error or when time is up.
bool ScriptedPeer::ReadLine(int connection, std::string& line) {
    for (;;) {
        auto newline = pending_.find('\n');
        if (newline != std::string::npos) {
            line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
            return true;
        }
        if (!WaitReadable(connection)) return false;
        char buffer[4096];
        ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

bool ScriptedPeer::RunScript(int connection, const PeerScript& script) {
    pending_.clear();
    std::string lastLine;
    for (const auto& step : script.steps()) {
        switch (step.kind) {
            case PeerScript::Kind::Send:
                if (step.delayMs > 0 && !SleepFor(step.delayMs)) return true;
                for (std::size_t i = 0; i < step.times; ++i) {
                    if (!SendAll(connection, step.text)) {
                        Fail("send failed before: " + step.text.substr(0, 80));
                        return true;
                    }
                }
                break;
            case PeerScript::Kind::Expect: {
                std::string line;
                if (!ReadLine(connection, line)) {
                    Fail("connection ended while expecting: " + step.text);
                    return true;
                }
                Record(line);
                lastLine = line;
                if (line.rfind(step.text, 0) != 0) {
                    Fail("expected '" + step.text + "', got '" + line + "'");
                    return true;
                }
                break;
            }
            case PeerScript::Kind::Stall:
                SleepFor(step.delayMs);
                break;
            case PeerScript::Kind::Close:
                return true;
            case PeerScript::Kind::Drop:
                return false;
            case PeerScript::Kind::ReadToEnd:
                break;
            case PeerScript::Kind::Call:
                if (step.callback) step.callback(lastLine);
                break;
        }
    }
    // Keep listening until the client goes, so that its last lines are seen.
    std::string line;
    while (ReadLine(connection, line))
        Record(line);
    return true;
}

void ScriptedPeer::Run() {
    for (const auto& script : scripts_) {
        if (!WaitReadable(listener_)) {
            Fail("no connection arrived");
            return;
        }
        int connection = ::accept(listener_, nullptr, nullptr);
        if (connection < 0) {
            Fail("accept failed");
            return;
        }
        bool orderly = RunScript(connection, script);
        if (orderly) {
            ::shutdown(connection, SHUT_WR);
            ::close(connection);
        } else {
            ResetAndClose(connection);
        }
    }
}

}  // namespace testsupport
