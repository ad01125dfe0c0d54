// Socket runtime: the one layer between the protocol engines and the system's
// sockets. The socket functions are bound by name from the C library at start-up;
// every wrapper returns the system call's result and reports failures through the
// calling thread's socket last error (NetGetLastError) as a socket error number
// (10035 would block, 10054 reset, 10060 timed out, 10061 refused, 11001 host not
// found...). Nothing here throws.
//
// NetSelect is the blocking primitive every engine waits on: it keeps the thread's
// window messages flowing while it waits, in slices of at most one second, and can
// be cancelled from a handler that runs inside the wait (NetCancelBlockingCall or
// NetCloseSocket).
#pragma once

#include <netdb.h>
#include <netinet/in.h>
#include <stdint.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include "platform/api.h"

// Declared by <netdb.h> only with POSIX features on, which a strict C program may not ask for.
struct addrinfo;

#ifdef __cplusplus
extern "C" {
#endif

// Socket handles are the system's descriptors.
typedef int SOCKET;
#define INVALID_SOCKET (-1)
#define SOCKET_ERROR (-1)

// Address families of NetAddress (and accepted by NetSocket besides AF_INET/AF_INET6).
#define NET_FAMILY_NONE 0
#define NET_FAMILY_IPV4 2
#define NET_FAMILY_IPV6 23

// Event bits of NetAsyncSelect; the posted lParam is (error << 16) | bit.
#define FD_READ 0x01
#define FD_WRITE 0x02
#define FD_OOB 0x04
#define FD_ACCEPT 0x08
#define FD_CONNECT 0x10
#define FD_CLOSE 0x20

// Flags of the thread's flags word.
#define NET_FLAG_WAITING 0x1
#define NET_FLAG_CANCEL 0x2
#define NET_FLAG_NO_PUMPING 0x4

// An address of either family: 16 bytes in network order (IPv4 uses the first 4).
typedef struct NetAddress {
    int32_t family;  // NET_FAMILY_IPV4, NET_FAMILY_IPV6 or NET_FAMILY_NONE
    uint8_t address[16];
} NetAddress;

// What NetStartup reports (the shape of the startup record of the Windows runtime).
#define NET_DESCRIPTION_LEN 256
#define NET_SYSSTATUS_LEN 128
typedef struct NetStartupData {
    uint16_t version;      // 0x0202
    uint16_t highVersion;  // 0x0202
    char description[NET_DESCRIPTION_LEN + 1];
    char systemStatus[NET_SYSSTATUS_LEN + 1];
    uint16_t maxSockets;  // 0: no fixed limit
    uint16_t maxDatagram;
} NetStartupData;

// A set of sockets for NetSelect. Unlike an fd_set it holds any number of
// sockets with any descriptor value. Initialise with NetFdInit (or zero-fill),
// release with NetFdFree. NetSelect rewrites a set to its ready sockets.
typedef struct NetFdSet {
    uint32_t fd_count;
    uint32_t fd_capacity;
    SOCKET* fd_array;
} NetFdSet;

FT_API void NetFdInit(NetFdSet* set);
FT_API void NetFdFree(NetFdSet* set);
FT_API void NetFdZero(NetFdSet* set);
// 0, or -1 when memory runs out. Adding a member again does nothing.
FT_API int NetFdAdd(NetFdSet* set, SOCKET s);
FT_API void NetFdRemove(NetFdSet* set, SOCKET s);
FT_API int NetFdIsSet(const NetFdSet* set, SOCKET s);

// A select time-out; a null pointer means no time-out.
typedef struct NetTimeval {
    int32_t tv_sec;
    int32_t tv_usec;
} NetTimeval;

// ---- Start-up and state ---------------------------------------------------------

// 0 on success, else a socket error number (10091 when the socket library cannot
// be loaded). Reference counted; `data` may be null.
FT_API int NetStartup(NetStartupData* data);
// 0, or -1 with 10093 when not started.
FT_API int NetCleanup(void);
// The loaded socket library's module handle (a dlopen handle), or null.
FT_API void* NetGetLibrary(void);
// Copies the full path of the socket library into buffer; returns its length, or
// 0 when not loaded or the buffer is too small.
FT_API int NetGetLibraryPath(char* buffer, int size);
// The bound address of a socket-library entry point by its name in the binding
// table, or null when it is not bound (or not a table name).
FT_API void* NetGetEntryPoint(const char* name);

// Nonzero enables pumping in NetSelect for the calling thread, zero disables it.
// 1, or 0 before the first start-up.
FT_API int NetEnableBlockingHook(int enable);
// 1 while the calling thread is inside a pumping wait, else 0.
FT_API int NetIsBlocking(void);
// Ends the calling thread's running pumping wait with 10004: 0, or -1 with 10022
// when the thread is not waiting (10093 before the first start-up).
FT_API int NetCancelBlockingCall(void);
// 1 when IPv6 stream sockets can be created; else 0 with 10043 (or 10093).
FT_API int NetIsIpv6Available(void);
// Pumps the calling thread's asynchronous socket notifications (NetAsyncSelect)
// without waiting; returns the number of notifications posted.
FT_API int NetPumpAsyncEvents(void);

// The calling thread's socket last error number (0 for none).
FT_API int NetGetLastError(void);
FT_API void NetSetLastError(int error);
FT_API void NetClearLastError(void);

// Socket error number for an errno value (0 for 0), and for a getaddrinfo EAI_*
// result (0 for 0; EAI_SYSTEM looks at errno).
FT_API int NetErrorFromErrno(int error);
FT_API int NetErrorFromResolver(int eaiError);

// ---- Wrappers ---------------------------------------------------------------------

FT_API SOCKET NetAccept(SOCKET s, struct sockaddr* address, socklen_t* length);
FT_API int NetBind(SOCKET s, const struct sockaddr* address, socklen_t length);
// Marks a running wait of this thread as cancelled, sends FIN first on
// non-listening sockets, forgets any NetAsyncSelect registration, then closes.
FT_API int NetCloseSocket(SOCKET s);
FT_API int NetConnect(SOCKET s, const struct sockaddr* address, socklen_t length);
// FIONBIO (non-blocking on/off) and FIONREAD (bytes readable) are supported.
FT_API int NetIoctl(SOCKET s, long command, unsigned long* argument);
FT_API int NetGetSockName(SOCKET s, struct sockaddr* address, socklen_t* length);
FT_API int NetGetPeerName(SOCKET s, struct sockaddr* address, socklen_t* length);
// Reads the socket's pending error (SO_ERROR) as a socket error number into *error.
FT_API int NetGetSocketError(SOCKET s, int* error);
// The option value is always 4 bytes (an int).
FT_API int NetSetSockOpt(SOCKET s, int level, int option, const void* value);
// Sends small writes at once (TCP_NODELAY) or lets the stack gather them.
FT_API int NetSetNoDelay(SOCKET s, bool on);
// Listens with the largest backlog the system allows.
FT_API int NetListen(SOCKET s);
// MSG_NOSIGNAL is always added to NetSend: a closed peer gives 10058/10054, not SIGPIPE.
FT_API int NetRecv(SOCKET s, void* buffer, int length, int flags);
FT_API int NetSend(SOCKET s, const void* buffer, int length, int flags);
FT_API int NetShutdown(SOCKET s, int how);
// family: NET_FAMILY_IPV4/NET_FAMILY_IPV6 or AF_INET/AF_INET6. Stream sockets keep
// the kernel's automatically tuned buffers (at least 65535 bytes to receive once
// connected); a caller that wants a fixed size sets it with NetSetSockOpt.
FT_API SOCKET NetSocket(int family, int type, int protocol);
// The pumping wait. Returns the number of ready sockets, 0 on time-out, or -1
// (10004 cancelled with all sets emptied, 10036 when this thread is already
// waiting). A zero time-out is a plain poll. The sets are rewritten to the ready
// sockets; any of them may be null.
FT_API int NetSelect(NetFdSet* readSet, NetFdSet* writeSet, NetFdSet* exceptSet,
                     const NetTimeval* timeout);
FT_API struct hostent* NetGetHostByName(const char* name);
FT_API struct servent* NetGetServByName(const char* name);
FT_API int NetGetHostName(char* buffer, int size);
struct HWND__;
// Posts `message` to `window` with wParam = socket and lParam =
// (error << 16) | FD_* bit when the socket becomes ready for one of `events`.
// Events 0 unregisters. The socket is made non-blocking, as the Windows call does.
FT_API int NetAsyncSelect(SOCKET s, struct HWND__* window, unsigned int message, long events);
// Formats a socket address as "a.b.c.d:port" or "[v6]:port" (no port part when
// the port is 0). *size is the buffer size in, the needed size with the NUL out.
FT_API int NetAddressToString(const struct sockaddr* address, socklen_t length, char* buffer,
                              uint32_t* size);

FT_API uint32_t NetHtonl(uint32_t value);
FT_API uint16_t NetHtons(uint16_t value);
FT_API uint32_t NetNtohl(uint32_t value);
FT_API uint16_t NetNtohs(uint16_t value);

// ---- Event-object selection ------------------------------------------------------

// The network events recorded for a socket since it was last enumerated, with
// one error number per event bit (index 0 FD_READ ... 5 FD_CLOSE; 0 for none).
#define NET_MAX_EVENTS 10
typedef struct NetNetworkEvents {
    long networkEvents;
    int errorCodes[NET_MAX_EVENTS];
} NetNetworkEvents;

// Selects `events` (FD_* bits) of the socket for the one process-wide network
// event; 0 deselects. The socket is made non-blocking and any NetAsyncSelect
// registration of it is replaced, as the Windows call does. Each event is
// recorded once and re-armed by the matching call (recv for FD_READ and FD_OOB,
// accept for FD_ACCEPT, a send that would block for FD_WRITE); FD_CONNECT and
// FD_CLOSE come once.
FT_API int NetEventSelect(SOCKET s, long events);
// The events recorded for the socket, cleared as they are reported. 0, or -1
// (10014 null record, 10038 not a socket, 10093 not started).
FT_API int NetEnumNetworkEvents(SOCKET s, NetNetworkEvents* events);
// Waits, pumping the thread's messages like NetSelect, until the process-wide
// network event is signalled: some selected socket has a recorded event that
// was not enumerated yet. 1 signalled, 0 when timeoutMs passes (negative: no
// time-out), -1 on error (10004 when cancelled).
FT_API int NetWaitNetworkEvent(int timeoutMs);

// ---- Interfaces -------------------------------------------------------------------

// One interface address as the interface-list control code reports it: IPv4
// socket addresses in 24-byte slots.
#define NET_IFF_UP 0x1
#define NET_IFF_BROADCAST 0x2
#define NET_IFF_LOOPBACK 0x4
#define NET_IFF_POINTTOPOINT 0x8
#define NET_IFF_MULTICAST 0x10
typedef union NetSockAddrGen {
    struct sockaddr_in address;
    uint8_t slot[24];
} NetSockAddrGen;
typedef struct NetInterfaceInfo {
    uint32_t flags;  // NET_IFF_*
    NetSockAddrGen address;
    NetSockAddrGen broadcast;
    NetSockAddrGen netmask;
} NetInterfaceInfo;
#define NET_INTERFACE_LIST_MAX 16

// The IPv4 interfaces that are up, at most `capacity` of them (the control code
// of the Windows runtime gives room for NET_INTERFACE_LIST_MAX): the count, or
// -1 (10014 null list, 10038 not a socket, 10055 more interfaces than room).
FT_API int NetGetInterfaceList(SOCKET s, NetInterfaceInfo* list, int capacity);

// ---- Timed connect ----------------------------------------------------------------

// Connects `s` (any mode) within timeoutSeconds, pumping messages while waiting;
// the socket is left blocking. 0, or -1 with 10060 on time-out, 10004 when
// cancelled, or the connect's own error (10061 refused...).
FT_API int NetTimedConnect(SOCKET s, const struct sockaddr* address, socklen_t length,
                           int timeoutSeconds);
// Creates a stream socket for the address and connects it as above. Returns the
// socket, or INVALID_SOCKET with the error set (the socket is closed).
FT_API SOCKET NetConnectAddress(const NetAddress* address, uint16_t port, int timeoutSeconds);
// Connects a stream socket to a local (Unix-domain) socket path the same way, for
// local services such as an ssh-agent. INVALID_SOCKET with the error set (10039
// for a path too long, the connect's error otherwise).
FT_API SOCKET NetConnectLocal(const char* path, int timeoutSeconds);

// ---- Addresses ----------------------------------------------------------------------

// IPv4 text to an address in network order, or 0xFFFFFFFF. Accepts 1 to 4 parts,
// decimal or 0x-hexadecimal (a leading 0 is not octal), ending at the end of text
// or a blank, tab, CR or LF.
FT_API uint32_t NetInetAddr(const char* text);
// Dotted text of an address in network order (a static buffer shared by threads).
FT_API const char* NetInetNtoa(struct in_addr address);
// family NET_FAMILY_* or AF_*; returns buffer, or null with the error set.
FT_API const char* NetInetNtop(int family, const void* address, char* buffer, size_t size);
// 1 parsed, 0 not an address of that family, -1 error (10014, 10047).
FT_API int NetInetPton(int family, const char* text, void* address);
// 0 or a socket error number. With no hints or family 0 asks for IPv4 first, then
// for IPv6 when IPv4 found nothing (11001). Free the result with NetFreeAddrInfo.
FT_API int NetGetAddrInfo(const char* name, const struct addrinfo* hints, struct addrinfo** result);
FT_API void NetFreeAddrInfo(struct addrinfo* list);
// 2 for numeric IPv4 text, 23 for numeric IPv6 text, else 0.
FT_API int NetAddressFamilyOf(const char* text);
// Numeric text to an address. Returns the family, or -1 (12005 empty text,
// 10039 not an address, 10014 null record). familyHint 0 tries IPv4 then IPv6.
FT_API int NetParseAddress(const char* text, int familyHint, NetAddress* address);
// Resolves a host name (or numeric text) to its first address. The family, or -1
// (11001 empty name or not found, 10039 a result of another family).
FT_API int NetResolveHost(const char* name, int familyHint, NetAddress* address);
// Builds a socket address (16 bytes IPv4, 28 bytes IPv6, port in network order)
// into `out` (at least a sockaddr_storage). The family, or 0 with the error set
// (10039 family 0, 10046 another family, 10014 null outputs).
FT_API int NetMakeSockAddr(const NetAddress* address, uint16_t port, struct sockaddr_storage* out,
                           socklen_t* length);

#ifdef __cplusplus
}  // extern "C"

// Owner of a NetFdSet for C++ callers.
class NetSocketSet : public NetFdSet {
  public:
    NetSocketSet() { NetFdInit(this); }
    explicit NetSocketSet(SOCKET s) : NetSocketSet() { NetFdAdd(this, s); }
    ~NetSocketSet() { NetFdFree(this); }
    NetSocketSet(const NetSocketSet&) = delete;
    NetSocketSet& operator=(const NetSocketSet&) = delete;
    bool Contains(SOCKET s) const { return NetFdIsSet(this, s) != 0; }
};
#endif
