// The socket library binding: the C library loaded by name at start-up and one
// function pointer per entry point of the table, null when not bound.
#pragma once

#include <cerrno>

#include "net/net.h"

namespace net {

// Entry points in binding order. Each row of the table names the socket-library
// function and the C library symbol that stands in for it (none for those
// without a counterpart; their wrappers are emulated or left out).
enum class Entry : int {
    accept,
    bind,
    closesocket,
    connect,
    gethostbyaddr,
    gethostbyname,
    gethostname,
    getpeername,
    getprotobyname,
    getprotobynumber,
    getservbyname,
    getservbyport,
    getsockname,
    getsockopt,
    htonl,
    htons,
    inet_addr,
    inet_ntoa,
    ioctlsocket,
    listen,
    ntohl,
    ntohs,
    recv,
    recvfrom,
    select,
    send,
    sendto,
    setsockopt,
    shutdown,
    socket,
    WSAAccept,
    WSAAddressToStringA,
    WSAAsyncGetHostByAddr,
    WSAAsyncGetHostByName,
    WSAAsyncGetProtoByName,
    WSAAsyncGetProtoByNumber,
    WSAAsyncGetServByName,
    WSAAsyncGetServByPort,
    WSAAsyncSelect,
    WSACancelAsyncRequest,
    WSACleanup,
    WSAEnumNetworkEvents,
    WSAEnumProtocolsA,
    WSAEventSelect,
    WSAGetLastError,
    WSAIoctl,
    WSASetLastError,
    WSAStartup,
    WSAStringToAddressA,
    // The resolver group: bound all together or not at all.
    freeaddrinfo,
    getaddrinfo,
    getnameinfo,
    inet_ntop,
    inet_pton,
    count
};

struct EntryName {
    const char* tableName;
    const char* systemName;  // null: no counterpart
};

const EntryName& EntryNameOf(Entry entry);

// True once the library has been loaded by a start-up (it is never unloaded).
bool IsLoaded();
void* EntryAddress(Entry entry);

// The bound function with its own type, or null.
template <typename Fn>
Fn* Bound(Entry entry) {
    return reinterpret_cast<Fn*>(EntryAddress(entry));
}

// For tests: unbinds the resolver group (false) or binds it again (true), to
// run the fallbacks used when the system has no getaddrinfo.
void SetResolverGroupBound(bool bound);

// Sets the thread's socket error number and returns `result`.
template <typename T>
T Fail(int error, T result) {
    NetSetLastError(error);
    return result;
}

// Sets the thread's socket error from errno and returns `result`.
template <typename T>
T FailFromErrno(T result) {
    return Fail(NetErrorFromErrno(errno), result);
}

}  // namespace net

namespace net {

// AF_INET / AF_INET6 for a family given as NET_FAMILY_* or AF_*; -1 for others.
int SystemFamilyOf(int family);
// NET_FAMILY_* for AF_INET / AF_INET6; NET_FAMILY_NONE for others.
int NetFamilyOf(int systemFamily);

}  // namespace net
