// The one wait the engines use for a socket: until it is ready, its deadline
// passes, or the caller's stop check says to give up. It runs through NetSelect
// in slices, so the thread's messages keep flowing (handlers and Cancel run
// inside it) and a flag set from elsewhere is seen within one slice.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <utility>

#include "net/net.h"

// When a wait must end: a point on the millisecond tick clock, or never.
class NetDeadline {
  public:
    static NetDeadline Never() { return NetDeadline(kNever); }
    static NetDeadline In(std::uint64_t milliseconds);
    static NetDeadline InSeconds(int seconds) {
        return In(static_cast<std::uint64_t>(seconds < 0 ? 0 : seconds) * 1000);
    }
    bool never() const { return at_ == kNever; }
    // Milliseconds left, 0 once passed (meaningless when never()).
    std::uint64_t Left() const;

  private:
    static constexpr std::uint64_t kNever = UINT64_MAX;
    explicit NetDeadline(std::uint64_t at) : at_(at) {}
    std::uint64_t at_;
};

// What to wait for, and what was ready.
enum NetReadiness : unsigned { kNetReadable = 1, kNetWritable = 2 };

struct NetWaitRules {
    NetWaitRules(NetDeadline deadline, std::uint32_t sliceMs = 1000, std::function<int()> stop = {})
        : deadline(deadline), sliceMs(sliceMs), stop(std::move(stop)) {}

    NetDeadline deadline;
    // Longest single slice; the stop check runs before each one.
    std::uint32_t sliceMs;
    // An error number to end the wait with (10004 for a cancel, 10057 for a
    // released connection...), or 0 to go on.
    std::function<int()> stop;
    // The entries are plain descriptors (a pipe, a message queue's wake-up)
    // rather than the thread's sockets: they are polled directly, with no
    // message pumping, no cancel through NetCancelBlockingCall and no socket
    // trace, and the socket runtime need not be started.
    bool descriptors = false;
};

// 0 when the socket is ready for one of `want` (the ready bits in *ready when
// given), else the error number: 10060 when the deadline passes, the stop
// check's number, 10004 when cancelled through NetCancelBlockingCall, 10036
// when the thread is already waiting, or the socket's error. Only a failed
// NetSelect touches the thread's last error. A deadline already passed still
// polls once.
int NetWait(SOCKET s, unsigned want, const NetWaitRules& rules, unsigned* ready = nullptr);

// One socket (or descriptor) of a wait over several, and what it turned out ready for.
struct NetWaitEntry {
    SOCKET socket = INVALID_SOCKET;
    unsigned want = 0;
    unsigned ready = 0;
};

// The same wait over several sockets at once (entries that want nothing are
// left out): 0 when at least one is ready (each entry's ready bits set), else
// the error number as above.
int NetWaitAny(std::span<NetWaitEntry> entries, const NetWaitRules& rules);
