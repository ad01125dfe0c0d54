// NetWait: the engines' socket wait over NetSelect.
#include "net/socket_wait.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "net/socket_errors.h"
#include "platform/system.h"

NetDeadline NetDeadline::In(std::uint64_t milliseconds) {
    const std::uint64_t now = GetTickCount64();
    return NetDeadline(milliseconds >= kNever - now ? kNever - 1 : now + milliseconds);
}

std::uint64_t NetDeadline::Left() const {
    const std::uint64_t now = GetTickCount64();
    return at_ > now ? at_ - now : 0;
}

int NetWait(SOCKET s, unsigned want, const NetWaitRules& rules, unsigned* ready) {
    NetWaitEntry entry{s, want, 0};
    const int error = NetWaitAny(std::span(&entry, 1), rules);
    if (error == 0 && ready) *ready = entry.ready;
    return error;
}

namespace {

// One slice over plain descriptors: the count of ready entries, 0 when none
// became ready, or -1 with the error number in *error.
int PollDescriptors(std::span<NetWaitEntry> entries, std::uint64_t sliceMs, int* error) {
    std::vector<pollfd> polls;
    polls.reserve(entries.size());
    for (const NetWaitEntry& entry : entries) {
        const short events = static_cast<short>(((entry.want & kNetReadable) ? POLLIN : 0) |
                                                ((entry.want & kNetWritable) ? POLLOUT : 0));
        polls.push_back(pollfd{static_cast<int>(entry.socket), events, 0});
    }
    const int count = ::poll(polls.data(), polls.size(), static_cast<int>(sliceMs));
    if (count < 0) {
        if (errno == EINTR) return 0;  // the next slice polls again
        *error = net::WSAEINVAL;
        return -1;
    }
    // A descriptor that hung up or failed counts as ready for what it wants:
    // the read or write that follows reports how.
    constexpr short kEnded = POLLHUP | POLLERR | POLLNVAL;
    for (std::size_t i = 0; i < entries.size() && count > 0; ++i) {
        const short revents = polls[i].revents;
        entries[i].ready =
            ((revents & (POLLIN | kEnded)) && (entries[i].want & kNetReadable) ? kNetReadable
                                                                               : 0u) |
            ((revents & (POLLOUT | kEnded)) && (entries[i].want & kNetWritable) ? kNetWritable
                                                                                : 0u);
    }
    return count;
}

}  // namespace

int NetWaitAny(std::span<NetWaitEntry> entries, const NetWaitRules& rules) {
    bool polledOnce = false;
    bool anyReadable = false, anyWritable = false;
    for (NetWaitEntry& entry : entries) {
        entry.ready = 0;
        anyReadable = anyReadable || (entry.want & kNetReadable);
        anyWritable = anyWritable || (entry.want & kNetWritable);
    }
    for (;;) {
        if (rules.stop) {
            if (const int error = rules.stop()) return error;
        }
        std::uint64_t slice = std::max<std::uint32_t>(rules.sliceMs, 1);
        if (!rules.deadline.never()) {
            const std::uint64_t left = rules.deadline.Left();
            if (left == 0 && polledOnce) return net::WSAETIMEDOUT;
            slice = std::min(slice, left);
        }
        polledOnce = true;
        if (rules.descriptors) {
            int error = 0;
            const int count = PollDescriptors(entries, slice, &error);
            if (count > 0) return 0;
            if (count < 0) return error;
            continue;
        }
        NetSocketSet readable;
        NetSocketSet writable;
        for (const NetWaitEntry& entry : entries) {
            if (entry.socket == INVALID_SOCKET) continue;
            if (entry.want & kNetReadable) NetFdAdd(&readable, entry.socket);
            if (entry.want & kNetWritable) NetFdAdd(&writable, entry.socket);
        }
        const NetTimeval timeout{static_cast<std::int32_t>(slice / 1000),
                                 static_cast<std::int32_t>(slice % 1000 * 1000)};
        const int count = NetSelect(anyReadable ? &readable : nullptr,
                                    anyWritable ? &writable : nullptr, nullptr, &timeout);
        if (count > 0) {
            for (NetWaitEntry& entry : entries) {
                if (entry.socket == INVALID_SOCKET) continue;
                entry.ready =
                    ((entry.want & kNetReadable) && readable.Contains(entry.socket) ? kNetReadable
                                                                                    : 0u) |
                    ((entry.want & kNetWritable) && writable.Contains(entry.socket) ? kNetWritable
                                                                                    : 0u);
            }
            return 0;
        }
        if (count < 0) {
            const int error = NetGetLastError();
            return error == 0 ? net::WSAEINTR : error;
        }
    }
}
