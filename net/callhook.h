// The point where every wrapper reports its socket call, after the call returns,
// to an installed observer (the trace facility): the call's number, its result
// and its arguments. The thread's socket last error survives the observer.
#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>

#include "net/net.h"
#include "platform/last_error_guard.h"

namespace net {

// Call numbers, in the order of the trace library's socket hooks.
enum class SocketCall : int {
    accept = 11,
    bind = 12,
    closesocket = 13,
    connect = 14,
    getaddrinfo = 15,
    gethostname = 16,
    getsockname = 19,
    socketError = 20,
    ioctlsocket = 21,
    listen = 22,
    recv = 23,
    select = 25,
    send = 26,
    setsockopt = 28,
    socket = 30,
    asyncSelect = 32,
    enumNetworkEvents = 33,
    eventSelect = 34,
};

using SocketCallObserver = void (*)(SocketCall call, std::intptr_t result, int argumentCount,
                                    const std::intptr_t* arguments);

// Installs (or with null removes) the observer; returns the previous one.
SocketCallObserver SetSocketCallObserver(SocketCallObserver observer);
SocketCallObserver CurrentSocketCallObserver();

template <typename T>
std::intptr_t AsArgument(T value) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<std::intptr_t>(value);
    } else {
        return static_cast<std::intptr_t>(value);
    }
}

template <typename R, typename... Args>
R Reported(SocketCall call, R result, Args... args) {
    SocketCallObserver observer = CurrentSocketCallObserver();
    if (observer == nullptr) return result;
    LastErrorGuard<> keepError;
    const std::intptr_t arguments[] = {0, AsArgument(args)...};
    observer(call, AsArgument(result), static_cast<int>(sizeof...(Args)), arguments + 1);
    return result;
}

}  // namespace net
