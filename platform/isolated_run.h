// Runs a piece of work in a child process of its own, so that work which may
// never end or may take all the memory it can get (a script from the network)
// cannot hold up or grow the caller: the child hands back its output bytes
// through a pipe, and the caller waits for them up to a deadline, then kills
// the child and reaps it.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace platform {

enum class IsolatedStatus {
    Finished,       // the work returned: `output` holds what it gave
    TimedOut,       // the deadline passed first; the child was killed
    TooMuchOutput,  // the work gave more than the caller accepts; the child was killed
    Stopped,        // the child ended without giving its output (a signal, or an abort)
    Unavailable,    // no child process could be started
};

struct IsolatedResult {
    IsolatedStatus status = IsolatedStatus::Unavailable;
    std::string output;
    int signal = 0;  // the signal that ended the child, for Stopped
};

// Waits until fd is readable (or closed) for at most timeoutMs: 1 when it is,
// 0 when the time passed, -1 when the wait failed. The caller's layer owns the
// waiting, so RunIsolated takes it from there.
using ReadableWait = std::function<int(int fd, int timeoutMs)>;

// Calls work() in a forked child and returns its result within timeoutMs (at
// least 1), waiting for the child's pipe through waitReadable. The child has
// only the calling thread, ends without running exit handlers, and must not
// rely on locks another thread may hold at the fork.
IsolatedResult RunIsolated(const std::function<std::string()>& work, int timeoutMs,
                           std::size_t maxOutput, const ReadableWait& waitReadable);

}  // namespace platform
