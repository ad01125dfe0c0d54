// The socket wrappers: each calls the bound entry point, turns errno into the
// thread's socket error, reports the call and returns the result unchanged.
#include <netdb.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>

#include <cctype>

#include "net/async.h"
#include "net/binding.h"
#include "net/callhook.h"
#include "net/net.h"
#include "net/socket_errors.h"
#include "net/thread_state.h"

namespace net {
namespace {

constexpr int kMaximumBacklog = 0x7FFFFFFF;

// The result of a system call, with the thread's error set from errno when it
// failed (a negative result or, for pointers, null).
template <typename R>
R Checked(R result) {
    if constexpr (std::is_pointer_v<R>) {
        if (result == nullptr) NetSetLastError(NetErrorFromErrno(errno));
    } else {
        if (result < 0) NetSetLastError(NetErrorFromErrno(errno));
    }
    return result;
}

const char* SkipBlanks(const char* text) {
    while (*text != '\0' && std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    return text;
}

// h_errno of the host look-ups -> socket error number.
int HostLookupError(int error) {
    struct Row {
        int from;
        int to;
    };
    static constexpr Row kRows[] = {{HOST_NOT_FOUND, WSAHOST_NOT_FOUND},
                                    {TRY_AGAIN, WSATRY_AGAIN},
                                    {NO_RECOVERY, WSANO_RECOVERY},
                                    {NO_DATA, WSANO_DATA}};
    for (const Row& row : kRows) {
        if (row.from == error) return row.to;
    }
    return WSANO_RECOVERY;
}

}  // namespace

int SystemFamilyOf(int family) {
    switch (family) {
        case NET_FAMILY_IPV4:
            return AF_INET;
        case NET_FAMILY_IPV6:
        case AF_INET6:
            return AF_INET6;
        default:
            return -1;
    }
}

int NetFamilyOf(int systemFamily) {
    switch (systemFamily) {
        case AF_INET:
            return NET_FAMILY_IPV4;
        case AF_INET6:
            return NET_FAMILY_IPV6;
        default:
            return NET_FAMILY_NONE;
    }
}

}  // namespace net

using namespace net;

#define BIND_OR_FAIL(name, failure)                    \
    auto* name = Bound<decltype(::name)>(Entry::name); \
    if (name == nullptr) return Fail(WSANOTINITIALISED, failure)

SOCKET NetAccept(SOCKET s, struct sockaddr* address, socklen_t* length) {
    BIND_OR_FAIL(accept, INVALID_SOCKET);
    SOCKET result = Checked(accept(s, address, length));
    RearmAsyncEvents(s, FD_ACCEPT);
    return Reported(SocketCall::accept, result, s, address, length);
}

int NetBind(SOCKET s, const struct sockaddr* address, socklen_t length) {
    BIND_OR_FAIL(bind, -1);
    return Reported(SocketCall::bind, Checked(bind(s, address, length)), s, address, length);
}

int NetCloseSocket(SOCKET s) {
    auto* close = Bound<int(int)>(Entry::closesocket);
    if (close == nullptr) return Fail(WSANOTINITIALISED, -1);
    unsigned& flags = ThreadFlags();
    if (flags & NET_FLAG_WAITING) flags |= NET_FLAG_CANCEL;
    auto* getsockopt = Bound<decltype(::getsockopt)>(Entry::getsockopt);
    auto* shutdown = Bound<decltype(::shutdown)>(Entry::shutdown);
    int listening = 0;
    socklen_t length = sizeof listening;
    if (getsockopt && shutdown &&
        getsockopt(s, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && !listening) {
        shutdown(s, SHUT_WR);
    }
    ForgetAsyncSocket(s);
    return Reported(SocketCall::closesocket, Checked(close(s)), s);
}

int NetConnect(SOCKET s, const struct sockaddr* address, socklen_t length) {
    BIND_OR_FAIL(connect, -1);
    NoteAsyncConnect(s);
    return Reported(SocketCall::connect, Checked(connect(s, address, length)), s, address, length);
}

// Only the two commands the engines use; each takes and gives an int.
int NetIoctl(SOCKET s, long command, unsigned long* argument) {
    auto* ioctl = Bound<int(int, unsigned long, ...)>(Entry::ioctlsocket);
    if (ioctl == nullptr) return Fail(WSANOTINITIALISED, -1);
    if (argument == nullptr) return Fail(WSAEFAULT, -1);
    if (command != FIONBIO && command != FIONREAD) return Fail(WSAEINVAL, -1);
    int value = static_cast<int>(*argument != 0);
    int result = Checked(ioctl(s, static_cast<unsigned long>(command), &value));
    if (result == 0 && command == FIONREAD) *argument = static_cast<unsigned long>(value);
    return Reported(SocketCall::ioctlsocket, result, s, command, argument);
}

int NetGetSockName(SOCKET s, struct sockaddr* address, socklen_t* length) {
    BIND_OR_FAIL(getsockname, -1);
    return Reported(SocketCall::getsockname, Checked(getsockname(s, address, length)), s, address,
                    length);
}

int NetGetPeerName(SOCKET s, struct sockaddr* address, socklen_t* length) {
    BIND_OR_FAIL(getpeername, -1);
    return Checked(getpeername(s, address, length));
}

int NetGetSocketError(SOCKET s, int* error) {
    BIND_OR_FAIL(getsockopt, -1);
    if (error == nullptr) return Fail(WSAEFAULT, -1);
    int pending = 0;
    socklen_t length = sizeof pending;
    int result = Checked(getsockopt(s, SOL_SOCKET, SO_ERROR, &pending, &length));
    if (result == 0) *error = NetErrorFromErrno(pending);
    return Reported(SocketCall::socketError, result, s, error);
}

int NetSetSockOpt(SOCKET s, int level, int option, const void* value) {
    BIND_OR_FAIL(setsockopt, -1);
    int result = Checked(setsockopt(s, level, option, value, sizeof(int)));
    return Reported(SocketCall::setsockopt, result, s, level, option, value);
}

int NetSetNoDelay(SOCKET s, bool on) {
    const int value = on ? 1 : 0;
    return NetSetSockOpt(s, IPPROTO_TCP, TCP_NODELAY, &value);
}

int NetListen(SOCKET s) {
    BIND_OR_FAIL(listen, -1);
    int result = Checked(listen(s, kMaximumBacklog));
    if (result == 0) NoteAsyncListen(s);
    return Reported(SocketCall::listen, result, s, kMaximumBacklog);
}

int NetRecv(SOCKET s, void* buffer, int length, int flags) {
    BIND_OR_FAIL(recv, -1);
    if (length < 0) return Fail(WSAEINVAL, -1);
    auto result = static_cast<int>(Checked(recv(s, buffer, static_cast<size_t>(length), flags)));
    RearmAsyncEvents(s, (flags & MSG_OOB) ? FD_OOB : FD_READ);
    return Reported(SocketCall::recv, result, s, buffer, length, flags);
}

int NetSend(SOCKET s, const void* buffer, int length, int flags) {
    BIND_OR_FAIL(send, -1);
    if (length < 0) return Fail(WSAEINVAL, -1);
    auto result = static_cast<int>(
        Checked(send(s, buffer, static_cast<size_t>(length), flags | MSG_NOSIGNAL)));
    if (result < 0 && NetGetLastError() == WSAEWOULDBLOCK) RearmAsyncEvents(s, FD_WRITE);
    return Reported(SocketCall::send, result, s, buffer, length, flags);
}

int NetShutdown(SOCKET s, int how) {
    BIND_OR_FAIL(shutdown, -1);
    return Checked(shutdown(s, how));
}

// The IPv6 protection level of the Windows runtime has no counterpart here.
// Sockets are created close-on-exec so that child processes do not inherit them.
// Buffer sizes stay with the kernel: setting SO_RCVBUF/SO_SNDBUF would pin them
// and switch off the automatic tuning that loopback and fast links need.
SOCKET NetSocket(int family, int type, int protocol) {
    BIND_OR_FAIL(socket, INVALID_SOCKET);
    int systemFamily = SystemFamilyOf(family);
    if (systemFamily < 0) systemFamily = family;
    SOCKET result = Checked(socket(systemFamily, type | SOCK_CLOEXEC, protocol));
    return Reported(SocketCall::socket, result, family, type, protocol);
}

struct hostent* NetGetHostByName(const char* name) {
    BIND_OR_FAIL(gethostbyname, nullptr);
    if (name == nullptr) return Fail(WSAEFAULT, nullptr);
    struct hostent* result = gethostbyname(SkipBlanks(name));
    if (result == nullptr) NetSetLastError(HostLookupError(h_errno));
    return result;
}

struct servent* NetGetServByName(const char* name) {
    BIND_OR_FAIL(getservbyname, nullptr);
    if (name == nullptr) return Fail(WSAEFAULT, nullptr);
    struct servent* result = getservbyname(SkipBlanks(name), nullptr);
    if (result == nullptr) NetSetLastError(WSANO_DATA);
    return result;
}

int NetGetHostName(char* buffer, int size) {
    BIND_OR_FAIL(gethostname, -1);
    if (buffer == nullptr || size <= 0) return Fail(WSAEFAULT, -1);
    int result = Checked(gethostname(buffer, static_cast<size_t>(size)));
    return Reported(SocketCall::gethostname, result, buffer, size);
}

// When the byte-order functions are not bound the value is returned unchanged.
uint32_t NetHtonl(uint32_t value) {
    auto* fn = Bound<uint32_t(uint32_t)>(Entry::htonl);
    return fn ? fn(value) : value;
}
uint16_t NetHtons(uint16_t value) {
    auto* fn = Bound<uint16_t(uint16_t)>(Entry::htons);
    return fn ? fn(value) : static_cast<uint16_t>(value & 0xFFFF);
}
uint32_t NetNtohl(uint32_t value) {
    auto* fn = Bound<uint32_t(uint32_t)>(Entry::ntohl);
    return fn ? fn(value) : value;
}
uint16_t NetNtohs(uint16_t value) {
    auto* fn = Bound<uint16_t(uint16_t)>(Entry::ntohs);
    return fn ? fn(value) : static_cast<uint16_t>(value & 0xFFFF);
}

// Checked once: whether this system can make an IPv6 TCP socket.
int NetIsIpv6Available(void) {
    auto* socket = Bound<decltype(::socket)>(Entry::socket);
    auto* close = Bound<int(int)>(Entry::closesocket);
    if (socket == nullptr || close == nullptr) return Fail(WSANOTINITIALISED, 0);
    static const bool available = [&] {
        int probe = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
        if (probe < 0) return false;
        close(probe);
        return true;
    }();
    return available ? 1 : Fail(WSAEPROTONOSUPPORT, 0);
}
