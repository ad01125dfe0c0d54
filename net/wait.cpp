// NetSelect, the pumping wait, and the thread's wait flags.
//
// A wait runs in slices of at most one second. Before each poll the thread's
// message queue is emptied (so window procedures and event handlers run inside
// the wait), and the poll also watches the queue's wake-up descriptor, so that a
// message arriving in the middle of a slice is served at once. The sockets that
// the thread registered with NetAsyncSelect are polled along and notified.
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <vector>

#include "net/async.h"
#include "net/binding.h"
#include "net/callhook.h"
#include "net/net.h"
#include "net/socket_errors.h"
#include "net/thread_state.h"
#include "platform/messages.h"
#include "platform/system.h"

namespace net {
namespace {

using Clock = std::chrono::steady_clock;
using PollFn = int(pollfd*, nfds_t, int);

constexpr int kSliceMs = 1000;
constexpr int64_t kUnlimitedSeconds = 0x7FFFFFFF;

struct Sets {
    NetFdSet* read;
    NetFdSet* write;
    NetFdSet* except;
};

// What each set asks for, and what poll must report for a socket to count as
// ready in that set. Errors and hang-ups make a socket readable and writable,
// as select does; a failed connect or urgent data is an exception.
constexpr short kReadAsk = POLLIN;
constexpr short kReadReady = POLLIN | POLLERR | POLLHUP;
constexpr short kWriteAsk = POLLOUT;
constexpr short kWriteReady = POLLOUT | POLLERR | POLLHUP;
constexpr short kExceptAsk = POLLPRI;
constexpr short kExceptReady = POLLPRI | POLLERR;

class SocketPoll {
  public:
    SocketPoll(PollFn* poll, const Sets& sets) : poll_(poll) {
        Add(sets.read, kReadAsk);
        Add(sets.write, kWriteAsk);
        Add(sets.except, kExceptAsk);
        socketCount_ = polls_.size();
    }

    // Polls the sockets, plus the async registrations and the message wake-up
    // descriptor when asked. Returns the number of ready sockets of the sets, or
    // -1 with the thread's error set.
    int Run(int timeoutMs, bool withAsync, int wakeFd) {
        polls_.resize(socketCount_);
        for (pollfd& p : polls_)
            p.revents = 0;
        std::size_t asyncCount = withAsync ? AppendAsyncPolls(polls_) : 0;
        if (wakeFd >= 0) polls_.push_back(pollfd{wakeFd, POLLIN, 0});
        int result = poll_(polls_.data(), polls_.size(), timeoutMs);
        if (result < 0 && errno == EINTR) return 0;  // a signal: nothing ready yet
        if (result < 0) return FailFromErrno(-1);
        if (asyncCount != 0) PostAsyncEvents(polls_, socketCount_, asyncCount);
        return CountReady();
    }

    // Rewrites the sets to their ready sockets.
    void Store(const Sets& sets) const {
        Keep(sets.read, kReadReady);
        Keep(sets.write, kWriteReady);
        Keep(sets.except, kExceptReady);
    }

  private:
    void Add(const NetFdSet* set, short events) {
        if (set == nullptr) return;
        for (uint32_t i = 0; i < set->fd_count; ++i)
            Entry(set->fd_array[i]).events |= events;
    }

    pollfd& Entry(SOCKET s) {
        for (pollfd& p : polls_) {
            if (p.fd == s) return p;
        }
        return polls_.emplace_back(pollfd{s, 0, 0});
    }

    short Revents(SOCKET s) const {
        for (std::size_t i = 0; i < socketCount_; ++i) {
            if (polls_[i].fd == s) return polls_[i].revents;
        }
        return 0;
    }

    int CountReady() const {
        int ready = 0;
        for (std::size_t i = 0; i < socketCount_; ++i) {
            short revents = polls_[i].revents;
            if (revents & POLLNVAL) return Fail(WSAENOTSOCK, -1);
            short asked = polls_[i].events;
            if ((asked & kReadAsk) && (revents & kReadReady)) ++ready;
            if ((asked & kWriteAsk) && (revents & kWriteReady)) ++ready;
            if ((asked & kExceptAsk) && (revents & kExceptReady)) ++ready;
        }
        return ready;
    }

    void Keep(NetFdSet* set, short readyMask) const {
        if (set == nullptr) return;
        uint32_t kept = 0;
        for (uint32_t i = 0; i < set->fd_count; ++i) {
            if (Revents(set->fd_array[i]) & readyMask) set->fd_array[kept++] = set->fd_array[i];
        }
        set->fd_count = kept;
    }

    PollFn* poll_;
    std::vector<pollfd> polls_;
    std::size_t socketCount_ = 0;
};

struct PumpOutcome {
    bool quit = false;
    bool threadMessageReposted = false;
};

// Empties the thread's queue. WM_QUIT is put back for the caller's own loop; a
// thread message (no window) is put back for its owner's loop and ends pumping
// for this slice.
PumpOutcome PumpMessages() {
    PumpOutcome outcome;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            outcome.quit = true;
            break;
        }
        if (msg.hwnd == nullptr) {
            PostThreadMessageA(GetCurrentThreadId(), msg.message, msg.wParam, msg.lParam);
            outcome.threadMessageReposted = true;
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return outcome;
}

int MillisecondsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

struct SliceOutcome {
    int result = 0;  // ready sockets, 0 for none, -1 for an error
    bool cancelled = false;
    bool quit = false;
};

// One slice of a pumping wait: pump, then poll until a socket is ready or the
// slice is over, pumping again whenever a message or notification arrives.
SliceOutcome RunSlice(SocketPoll& poll) {
    SliceOutcome outcome;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kSliceMs);
    bool wakeOnMessages = true;
    for (;;) {
        PumpOutcome pumped = PumpMessages();
        if (ThreadFlags() & NET_FLAG_CANCEL) {
            outcome.cancelled = true;
            return outcome;
        }
        if (pumped.threadMessageReposted) wakeOnMessages = false;
        outcome.quit = pumped.quit;
        int timeoutMs = pumped.quit ? 0 : MillisecondsLeft(deadline);
        int wakeFd = wakeOnMessages && !pumped.quit ? GetThreadMessageWaitFd() : -1;
        outcome.result = poll.Run(timeoutMs, true, wakeFd);
        if (outcome.result != 0 || pumped.quit || timeoutMs == 0) return outcome;
    }
}

void EmptySets(const Sets& sets) {
    NetFdZero(sets.read);
    NetFdZero(sets.write);
    NetFdZero(sets.except);
}

int PumpingWait(SocketPoll& poll, const Sets& sets, const NetTimeval* timeout) {
    unsigned& flags = ThreadFlags();
    flags |= NET_FLAG_WAITING;
    int64_t wholeSeconds =
        timeout ? int64_t{timeout->tv_sec} + timeout->tv_usec / 1000000 : kUnlimitedSeconds;
    int64_t microseconds = timeout ? timeout->tv_usec % 1000000 : 0;
    int result = 0;
    for (; wholeSeconds >= 1; --wholeSeconds) {
        SliceOutcome slice = RunSlice(poll);
        if (slice.cancelled) {
            flags &= ~(NET_FLAG_WAITING | NET_FLAG_CANCEL);
            EmptySets(sets);
            return Fail(WSAEINTR, -1);
        }
        result = slice.result;
        if (slice.quit) wholeSeconds = microseconds = 0;
        if (result != 0) break;
    }
    flags &= ~(NET_FLAG_WAITING | NET_FLAG_CANCEL);
    if (result == 0 && microseconds > 0) {
        result = poll.Run(static_cast<int>((microseconds + 999) / 1000), false, -1);
    }
    return result;
}

int TimeoutMilliseconds(const NetTimeval* timeout) {
    if (timeout == nullptr) return -1;
    int64_t ms = int64_t{timeout->tv_sec} * 1000 + (timeout->tv_usec + 999) / 1000;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

}  // namespace
}  // namespace net

using namespace net;

int NetSelect(NetFdSet* readSet, NetFdSet* writeSet, NetFdSet* exceptSet,
              const NetTimeval* timeout) {
    auto* poll = Bound<PollFn>(Entry::select);
    if (poll == nullptr || !ThreadSlotExists()) return Fail(WSANOTINITIALISED, -1);
    if (timeout && (timeout->tv_sec < 0 || timeout->tv_usec < 0)) return Fail(WSAEINVAL, -1);
    Sets sets{readSet, writeSet, exceptSet};
    SocketPoll socketPoll(poll, sets);
    int result;
    bool isPoll = timeout && timeout->tv_sec == 0 && timeout->tv_usec == 0;
    if (isPoll || (ThreadFlags() & NET_FLAG_NO_PUMPING)) {
        if (!isPoll && (ThreadFlags() & NET_FLAG_WAITING)) return Fail(WSAEINPROGRESS, -1);
        result = socketPoll.Run(TimeoutMilliseconds(timeout), false, -1);
    } else if (ThreadFlags() & NET_FLAG_WAITING) {
        return Fail(WSAEINPROGRESS, -1);
    } else {
        result = PumpingWait(socketPoll, sets, timeout);
        if (result == -1 && NetGetLastError() == WSAEINTR) {
            // Cancelled: the sets are already empty.
            return Reported(SocketCall::select, result, readSet, writeSet, exceptSet, timeout);
        }
    }
    if (result >= 0) socketPoll.Store(sets);
    return Reported(SocketCall::select, result, readSet, writeSet, exceptSet, timeout);
}

int NetEnableBlockingHook(int enable) {
    if (!ThreadSlotExists()) return 0;
    unsigned& flags = ThreadFlags();
    flags = enable ? (flags & ~NET_FLAG_NO_PUMPING) : (flags | NET_FLAG_NO_PUMPING);
    return 1;
}

int NetIsBlocking(void) {
    if (!ThreadSlotExists()) return Fail(WSANOTINITIALISED, 0);
    return (ThreadFlags() & NET_FLAG_WAITING) ? 1 : 0;
}

int NetCancelBlockingCall(void) {
    if (!ThreadSlotExists()) return Fail(WSANOTINITIALISED, -1);
    unsigned& flags = ThreadFlags();
    if ((flags & NET_FLAG_WAITING) == 0) return Fail(WSAEINVAL, -1);
    flags |= NET_FLAG_CANCEL;
    return 0;
}
