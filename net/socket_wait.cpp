// NetWait: the engines' socket wait over NetSelect.
#include "net/socket_wait.h"

#include <algorithm>

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
