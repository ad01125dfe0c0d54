// A scripted TCP peer for tests: a server on the loopback address that accepts
// connections on its own thread and plays one script per connection (send
// text, expect a line, wait, stall, close, drop). Everything it does is bounded
// by a deadline, so a test can never hang on it. It uses plain POSIX sockets
// only, so every test program can link it.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class PeerScript {
  public:
    enum class Kind { Send, Expect, Stall, Close, Drop, ReadToEnd, Call };
    using Callback = std::function<void(const std::string& lastLine)>;
    struct Step {
        Kind kind;
        std::string text;  // bytes to send, or the prefix a received line must have
        int delayMs;       // before sending, or how long to stall
        Callback callback = nullptr;
        std::size_t times = 1;  // how often the bytes are sent
    };

    // Sends the bytes as they are (add "\r\n" yourself).
    PeerScript& Send(std::string bytes) { return Add(Kind::Send, std::move(bytes), 0); }
    // Sends the bytes this many times over: a flood without holding it whole.
    PeerScript& SendRepeated(std::string bytes, std::size_t times) {
        Send(std::move(bytes));
        steps_.back().times = times;
        return *this;
    }
    PeerScript& SendAfter(int delayMs, std::string bytes) {
        return Add(Kind::Send, std::move(bytes), delayMs);
    }
    // Reads one line (LF-terminated, CR dropped); the script fails unless it
    // begins with the prefix.
    PeerScript& Expect(std::string prefix) { return Add(Kind::Expect, std::move(prefix), 0); }
    // Expect a line, then send the reply.
    PeerScript& Reply(std::string prefix, std::string bytes) {
        return Expect(std::move(prefix)).Send(std::move(bytes));
    }
    // Does nothing for a while (the client sees no data).
    PeerScript& Stall(int ms) { return Add(Kind::Stall, {}, ms); }
    // Orderly close (the client reads the end of the stream).
    PeerScript& Close() { return Add(Kind::Close, {}, 0); }
    // Abortive close: a reset, as when the connection is lost.
    PeerScript& Drop() { return Add(Kind::Drop, {}, 0); }
    // Records every further line until the client closes (the default end of a
    // script that does not close by itself).
    PeerScript& ReadToEnd() { return Add(Kind::ReadToEnd, {}, 0); }

    // Runs a function on the peer's thread with the last line received (to
    // open a data connection to an address the client named, for example).
    PeerScript& Call(Callback callback) {
        steps_.push_back({Kind::Call, {}, 0, std::move(callback)});
        return *this;
    }

    const std::vector<Step>& steps() const { return steps_; }

  private:
    PeerScript& Add(Kind kind, std::string text, int ms) {
        steps_.push_back({kind, std::move(text), ms, nullptr});
        return *this;
    }
    std::vector<Step> steps_;
};

class ScriptedPeer {
  public:
    struct Options {
        int deadlineMs = 15000;  // everything ends by then
    };

    // One script per connection, accepted one after the other.
    explicit ScriptedPeer(std::vector<PeerScript> scripts, Options options);
    explicit ScriptedPeer(std::vector<PeerScript> scripts)
        : ScriptedPeer(std::move(scripts), Options()) {}
    explicit ScriptedPeer(PeerScript script)
        : ScriptedPeer(std::vector<PeerScript>{std::move(script)}) {}
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    // The listening port; 0 when the peer could not listen.
    std::uint16_t port() const { return port_; }
    // Waits (bounded by the deadline) until every script has run; returns the
    // first problem ("" when the scripts ran as written).
    std::string Finish();
    // Every line received so far, in order, over all connections.
    std::vector<std::string> received() const;
    // The received lines joined with '|', for compact assertions.
    std::string Transcript() const;

  private:
    void Run();
    bool RunScript(int connection, const PeerScript& script);
    bool ReadLine(int connection, std::string& line);
    bool WaitReadable(int fd);
    bool SleepFor(int ms);
    bool Expired() const;
    void Fail(const std::string& problem);
    void Record(const std::string& line);

    std::vector<PeerScript> scripts_;
    std::chrono::steady_clock::time_point deadline_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::string pending_;  // bytes read beyond the last line
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> received_;
    std::string failure_;
    std::thread thread_;
};

}  // namespace testsupport
