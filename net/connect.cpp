// The timed connect: a non-blocking connect finished inside the pumping wait.
#include <sys/un.h>

#include <cstring>

#include "net/binding.h"
#include "net/net.h"
#include "net/socket_errors.h"

namespace net {
namespace {

bool SetNonBlocking(SOCKET s, bool on) {
    unsigned long value = on ? 1 : 0;
    return NetIoctl(s, FIONBIO, &value) == 0;
}

// The outcome of a connect in progress: 0 connected, else an error number.
int WaitForConnect(SOCKET s, int timeoutSeconds) {
    NetSocketSet writeSet(s);
    NetSocketSet exceptSet(s);
    NetTimeval timeout{timeoutSeconds, 0};
    int ready = NetSelect(nullptr, &writeSet, &exceptSet, timeoutSeconds > 0 ? &timeout : nullptr);
    if (ready == 0) return WSAETIMEDOUT;
    if (ready < 0) return NetGetLastError();
    int pending = 0;
    if (NetGetSocketError(s, &pending) != 0) return NetGetLastError();
    if (exceptSet.Contains(s) && pending == 0) return WSAECONNREFUSED;
    return pending;
}

}  // namespace
}  // namespace net

using namespace net;

// timeoutSeconds of 0 or less waits without a limit.
int NetTimedConnect(SOCKET s, const struct sockaddr* address, socklen_t length,
                    int timeoutSeconds) {
    if (!SetNonBlocking(s, true)) return -1;
    int error = 0;
    if (NetConnect(s, address, length) != 0) {
        error = NetGetLastError();
        if (error == WSAEWOULDBLOCK) error = WaitForConnect(s, timeoutSeconds);
    }
    SetNonBlocking(s, false);
    if (error != 0) return Fail(error, -1);
    return 0;
}

SOCKET NetConnectAddress(const NetAddress* address, uint16_t port, int timeoutSeconds) {
    sockaddr_storage socketAddress{};
    socklen_t length = 0;
    int family = NetMakeSockAddr(address, port, &socketAddress, &length);
    if (family == 0) return INVALID_SOCKET;
    SOCKET s = NetSocket(family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return INVALID_SOCKET;
    if (NetTimedConnect(s, reinterpret_cast<sockaddr*>(&socketAddress), length, timeoutSeconds) !=
        0) {
        int error = NetGetLastError();
        NetCloseSocket(s);
        return Fail(error, INVALID_SOCKET);
    }
    return s;
}

SOCKET NetConnectLocal(const char* path, int timeoutSeconds) {
    sockaddr_un local{};
    local.sun_family = AF_UNIX;
    if (!path || path[0] == '\0' || std::strlen(path) >= sizeof local.sun_path)
        return Fail(WSAEDESTADDRREQ, INVALID_SOCKET);
    std::strcpy(local.sun_path, path);
    SOCKET s = NetSocket(AF_UNIX, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return INVALID_SOCKET;
    if (NetTimedConnect(s, reinterpret_cast<sockaddr*>(&local), sizeof local, timeoutSeconds) != 0) {
        int error = NetGetLastError();
        NetCloseSocket(s);
        return Fail(error, INVALID_SOCKET);
    }
    return s;
}
