// Loading the C library, binding the socket entry points by name, start-up and
// clean-up reference counting.
#include "net/binding.h"

#include <dlfcn.h>
#include <link.h>

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>

#include "net/net.h"
#include "net/socket_errors.h"
#include "net/thread_state.h"

namespace net {
namespace {

constexpr const char* kSocketLibrary = "libc.so.6";

// Socket-library entry point -> C library symbol, in binding order. Rows without
// a symbol are either emulated by the runtime (asynchronous selection, last
// error, start-up) or have no counterpart on this system.
constexpr std::array<EntryName, static_cast<std::size_t>(Entry::count)> kEntryNames{{
    {"accept", "accept"},
    {"bind", "bind"},
    {"closesocket", "close"},
    {"connect", "connect"},
    {"gethostbyaddr", "gethostbyaddr"},
    {"gethostbyname", "gethostbyname"},
    {"gethostname", "gethostname"},
    {"getpeername", "getpeername"},
    {"getprotobyname", "getprotobyname"},
    {"getprotobynumber", "getprotobynumber"},
    {"getservbyname", "getservbyname"},
    {"getservbyport", "getservbyport"},
    {"getsockname", "getsockname"},
    {"getsockopt", "getsockopt"},
    {"htonl", "htonl"},
    {"htons", "htons"},
    {"inet_addr", "inet_addr"},
    {"inet_ntoa", "inet_ntoa"},
    {"ioctlsocket", "ioctl"},
    {"listen", "listen"},
    {"ntohl", "ntohl"},
    {"ntohs", "ntohs"},
    {"recv", "recv"},
    {"recvfrom", "recvfrom"},
    {"select", "poll"},
    {"send", "send"},
    {"sendto", "sendto"},
    {"setsockopt", "setsockopt"},
    {"shutdown", "shutdown"},
    {"socket", "socket"},
    {"WSAAccept", nullptr},
    {"WSAAddressToStringA", nullptr},
    {"WSAAsyncGetHostByAddr", nullptr},
    {"WSAAsyncGetHostByName", nullptr},
    {"WSAAsyncGetProtoByName", nullptr},
    {"WSAAsyncGetProtoByNumber", nullptr},
    {"WSAAsyncGetServByName", nullptr},
    {"WSAAsyncGetServByPort", nullptr},
    {"WSAAsyncSelect", nullptr},
    {"WSACancelAsyncRequest", nullptr},
    {"WSACleanup", nullptr},
    {"WSAEnumNetworkEvents", nullptr},
    {"WSAEnumProtocolsA", nullptr},
    {"WSAEventSelect", nullptr},
    {"WSAGetLastError", nullptr},
    {"WSAIoctl", nullptr},
    {"WSASetLastError", nullptr},
    {"WSAStartup", nullptr},
    {"WSAStringToAddressA", nullptr},
    {"freeaddrinfo", "freeaddrinfo"},
    {"getaddrinfo", "getaddrinfo"},
    {"getnameinfo", "getnameinfo"},
    {"inet_ntop", "inet_ntop"},
    {"inet_pton", "inet_pton"},
}};

constexpr int kFirstResolverEntry = static_cast<int>(Entry::freeaddrinfo);
constexpr int kEntryCount = static_cast<int>(Entry::count);

struct Binding {
    void* library = nullptr;
    std::array<std::atomic<void*>, kEntryCount> entries{};
    std::array<void*, kEntryCount> resolverBackup{};
};

Binding& TheBinding() {
    static Binding binding;
    return binding;
}

std::mutex g_loadLock;
std::atomic<bool> g_loaded{false};
std::atomic<int> g_references{0};
std::atomic<bool> g_slotCreated{false};
thread_local unsigned t_flags = 0;

void BindEntries(Binding& binding) {
    for (int i = 0; i < kEntryCount; ++i) {
        const char* symbol = kEntryNames[static_cast<std::size_t>(i)].systemName;
        void* address = symbol ? dlsym(binding.library, symbol) : nullptr;
        binding.entries[static_cast<std::size_t>(i)].store(address);
        binding.resolverBackup[static_cast<std::size_t>(i)] = address;
    }
    // Either all resolver functions are used or none.
    if (binding.entries[static_cast<std::size_t>(Entry::getaddrinfo)].load() == nullptr) {
        SetResolverGroupBound(false);
    }
}

bool LoadLibraryOnce() {
    std::lock_guard lock(g_loadLock);
    if (g_loaded.load()) return true;
    Binding& binding = TheBinding();
    binding.library = dlopen(kSocketLibrary, RTLD_NOW | RTLD_LOCAL);
    if (binding.library == nullptr) return false;
    BindEntries(binding);
    g_loaded.store(true);
    return true;
}

void FillStartupData(NetStartupData* data) {
    if (data == nullptr) return;
    std::memset(data, 0, sizeof *data);
    data->version = 0x0202;
    data->highVersion = 0x0202;
    std::strncpy(data->description, "POSIX sockets", NET_DESCRIPTION_LEN);
    std::strncpy(data->systemStatus, "Running", NET_SYSSTATUS_LEN);
}

}  // namespace

const EntryName& EntryNameOf(Entry entry) {
    return kEntryNames[static_cast<std::size_t>(entry)];
}

bool IsLoaded() {
    return g_loaded.load(std::memory_order_acquire);
}

void* EntryAddress(Entry entry) {
    if (!IsLoaded()) return nullptr;
    return TheBinding().entries[static_cast<std::size_t>(entry)].load(std::memory_order_relaxed);
}

void SetResolverGroupBound(bool bound) {
    Binding& binding = TheBinding();
    for (int i = kFirstResolverEntry; i < kEntryCount; ++i) {
        auto index = static_cast<std::size_t>(i);
        binding.entries[index].store(bound ? binding.resolverBackup[index] : nullptr);
    }
}

bool ThreadSlotExists() {
    return g_slotCreated.load(std::memory_order_acquire);
}
void CreateThreadSlot() {
    g_slotCreated.store(true, std::memory_order_release);
}
unsigned& ThreadFlags() {
    return t_flags;
}

}  // namespace net

using namespace net;

// The operating-system version check of the Windows runtime has no counterpart:
// every supported system has the socket functions used here.
int NetStartup(NetStartupData* data) {
    if (!LoadLibraryOnce()) return WSASYSNOTREADY;
    g_references.fetch_add(1);
    CreateThreadSlot();
    NetClearLastError();
    FillStartupData(data);
    return 0;
}

int NetCleanup(void) {
    int count = g_references.load();
    do {
        if (count <= 0) return Fail(WSANOTINITIALISED, -1);
    } while (!g_references.compare_exchange_weak(count, count - 1));
    ThreadFlags() = 0;
    return 0;
}

void* NetGetLibrary(void) {
    return IsLoaded() ? TheBinding().library : nullptr;
}

int NetGetLibraryPath(char* buffer, int size) {
    if (!IsLoaded() || buffer == nullptr || size <= 0) return 0;
    link_map* map = nullptr;
    if (dlinfo(TheBinding().library, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return 0;
    std::size_t length = std::strlen(map->l_name);
    if (length + 1 > static_cast<std::size_t>(size)) return 0;
    std::memcpy(buffer, map->l_name, length + 1);
    return static_cast<int>(length);
}

void* NetGetEntryPoint(const char* name) {
    if (name == nullptr) return nullptr;
    for (int i = 0; i < kEntryCount; ++i) {
        if (std::strcmp(kEntryNames[static_cast<std::size_t>(i)].tableName, name) == 0) {
            return EntryAddress(static_cast<Entry>(i));
        }
    }
    return nullptr;
}
