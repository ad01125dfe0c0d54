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
    bool polledOnce = false;
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
        if (want & kNetReadable) NetFdAdd(&readable, s);
        if (want & kNetWritable) NetFdAdd(&writable, s);
        const NetTimeval timeout{static_cast<std::int32_t>(slice / 1000),
                                 static_cast<std::int32_t>(slice % 1000 * 1000)};
        const int count = NetSelect((want & kNetReadable) ? &readable : nullptr,
                                    (want & kNetWritable) ? &writable : nullptr, nullptr, &timeout);
        if (count > 0) {
            if (ready) {
                *ready = (readable.Contains(s) ? kNetReadable : 0u) |
                         (writable.Contains(s) ? kNetWritable : 0u);
            }
            return 0;
        }
        if (count < 0) {
            const int error = NetGetLastError();
            return error == 0 ? net::WSAEINTR : error;
        }
    }
}
