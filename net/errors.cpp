// The thread's socket last error and the tables that turn errno values and
// resolver results into socket error numbers.
#include <netdb.h>

#include <cerrno>

#include "net/net.h"
#include "net/socket_errors.h"
#include "platform/lasterror.h"

namespace net {
namespace {

struct ErrorMapping {
    int from;
    int to;
};

// errno -> socket error number. A connect still in progress and a call that
// would block are the same condition to the callers (10035). A write to a
// connection the peer has closed (EPIPE) is a send after shutdown (10058).
// ENOMEM counts as running out of buffer space, ENOSPC (a text buffer too small)
// as a bad buffer.
constexpr ErrorMapping kErrnoTable[] = {
    {EINTR, WSAEINTR},
    {EBADF, WSAEBADF},
    {EACCES, WSAEACCES},
    {EPERM, WSAEACCES},
    {EFAULT, WSAEFAULT},
    {ENOSPC, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},
    {ENFILE, WSAEMFILE},
    {EWOULDBLOCK, WSAEWOULDBLOCK},
    {EAGAIN, WSAEWOULDBLOCK},
    {EINPROGRESS, WSAEWOULDBLOCK},
    {EALREADY, WSAEALREADY},
    {ENOTSOCK, WSAENOTSOCK},
    {EDESTADDRREQ, WSAEDESTADDRREQ},
    {EMSGSIZE, WSAEMSGSIZE},
    {EPROTOTYPE, WSAEPROTOTYPE},
    {ENOPROTOOPT, WSAENOPROTOOPT},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
    {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {EOPNOTSUPP, WSAEOPNOTSUPP},
    {EPFNOSUPPORT, WSAEPFNOSUPPORT},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {ENETDOWN, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH},
    {ENETRESET, WSAENETRESET},
    {ECONNABORTED, WSAECONNABORTED},
    {ECONNRESET, WSAECONNRESET},
    {ENOBUFS, WSAENOBUFS},
    {ENOMEM, WSAENOBUFS},
    {EISCONN, WSAEISCONN},
    {ENOTCONN, WSAENOTCONN},
    {ESHUTDOWN, WSAESHUTDOWN},
    {EPIPE, WSAESHUTDOWN},
    {ETOOMANYREFS, WSAETOOMANYREFS},
    {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, WSAECONNREFUSED},
    {ELOOP, WSAELOOP},
    {ENAMETOOLONG, WSAENAMETOOLONG},
    {EHOSTDOWN, WSAEHOSTDOWN},
    {EHOSTUNREACH, WSAEHOSTUNREACH},
    {ENOTEMPTY, WSAENOTEMPTY},
    {EUSERS, WSAEUSERS},
    {EDQUOT, WSAEDQUOT},
    {ESTALE, WSAESTALE},
    {EREMOTE, WSAEREMOTE},
};

// getaddrinfo result -> socket error number. A name without an address of the
// asked family counts as not found, so that the IPv4-then-IPv6 retry happens.
constexpr ErrorMapping kResolverTable[] = {
    {EAI_NONAME, WSAHOST_NOT_FOUND},     {EAI_NODATA, WSAHOST_NOT_FOUND},
    {EAI_ADDRFAMILY, WSAHOST_NOT_FOUND}, {EAI_AGAIN, WSATRY_AGAIN},
    {EAI_FAIL, WSANO_RECOVERY},          {EAI_FAMILY, WSAEAFNOSUPPORT},
    {EAI_SOCKTYPE, WSAESOCKTNOSUPPORT},  {EAI_SERVICE, WSATYPE_NOT_FOUND},
    {EAI_MEMORY, kNotEnoughMemory},      {EAI_BADFLAGS, WSAEINVAL},
    {EAI_OVERFLOW, WSAEFAULT},
};

// An errno without a socket meaning is reported as an invalid argument.
constexpr int kUnmappedErrno = WSAEINVAL;
constexpr int kUnmappedResolverError = WSANO_RECOVERY;

template <std::size_t N>
int Lookup(const ErrorMapping (&table)[N], int from, int fallback) {
    for (const ErrorMapping& row : table) {
        if (row.from == from) return row.to;
    }
    return fallback;
}

}  // namespace
}  // namespace net

using namespace net;

int NetErrorFromErrno(int error) {
    if (error == 0) return 0;
    return Lookup(kErrnoTable, error, kUnmappedErrno);
}

int NetErrorFromResolver(int eaiError) {
    if (eaiError == 0) return 0;
    if (eaiError == EAI_SYSTEM) {
        return errno != 0 ? NetErrorFromErrno(errno) : kUnmappedResolverError;
    }
    return Lookup(kResolverTable, eaiError, kUnmappedResolverError);
}

int NetGetLastError(void) {
    return static_cast<int>(GetLastError());
}
void NetSetLastError(int error) {
    SetLastError(static_cast<DWORD>(error));
}
void NetClearLastError(void) {
    SetLastError(0);
}
