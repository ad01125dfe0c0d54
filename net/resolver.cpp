// Name resolution: getaddrinfo with the IPv4-then-IPv6 retry, the IPv4-only
// fallback used when the system has no getaddrinfo, and NetResolveHost.
#include <arpa/inet.h>
#include <netdb.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "net/binding.h"
#include "net/callhook.h"
#include "net/net.h"
#include "net/socket_errors.h"

namespace net {
namespace {

constexpr std::size_t kCanonicalNameMax = 1024;

// The fallback's one block: the result entry, its socket address and its name.
struct FallbackResult {
    addrinfo info;
    sockaddr_in address;
    char name[kCanonicalNameMax + 1];
};

const char* SkipBlanks(const char* text) {
    if (text == nullptr) return nullptr;
    while (*text != '\0' && std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    return text;
}

int Lookup(const char* name, const addrinfo& hints, addrinfo** result) {
    auto* getaddrinfo = Bound<decltype(::getaddrinfo)>(Entry::getaddrinfo);
    // Without a name the service "0" asks for the any or loopback address.
    int status = getaddrinfo(name, name ? nullptr : "0", &hints, result);
    return NetErrorFromResolver(status);
}

addrinfo SystemHints(const addrinfo* hints, int family) {
    addrinfo copy{};
    if (hints != nullptr) {
        copy.ai_flags = hints->ai_flags;
        copy.ai_socktype = hints->ai_socktype;
        copy.ai_protocol = hints->ai_protocol;
    }
    copy.ai_family = family;
    return copy;
}

int ResolveWithSystem(const char* name, const addrinfo* hints, addrinfo** result) {
    if (result == nullptr) return WSAEFAULT;
    int family = hints ? SystemFamilyOf(hints->ai_family) : -1;
    if (hints != nullptr && hints->ai_family != 0) {
        if (family < 0) return WSAEAFNOSUPPORT;
        return Lookup(name, SystemHints(hints, family), result);
    }
    int error = Lookup(name, SystemHints(hints, AF_INET), result);
    if (error == WSAHOST_NOT_FOUND) error = Lookup(name, SystemHints(hints, AF_INET6), result);
    return error;
}

int FallbackAddress(const char* name, const addrinfo* hints, in_addr* address) {
    int flags = hints ? hints->ai_flags : 0;
    if (name == nullptr) {
        address->s_addr = htonl((flags & AI_PASSIVE) ? INADDR_ANY : INADDR_LOOPBACK);
        return 0;
    }
    if (NetInetAddr(name) == 0xFFFFFFFFu && (flags & AI_NUMERICHOST)) return WSAHOST_NOT_FOUND;
    hostent* host = NetGetHostByName(name);
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_addr_list[0] == nullptr) {
        return WSAHOST_NOT_FOUND;
    }
    std::memcpy(address, host->h_addr_list[0], sizeof *address);
    return 0;
}

void CopyCanonicalName(const char* name, FallbackResult* block) {
    hostent* host = name ? NetGetHostByName(name) : nullptr;
    if (host == nullptr || host->h_name == nullptr) return;
    std::strncpy(block->name, host->h_name, kCanonicalNameMax);
    block->info.ai_canonname = block->name;
}

int ResolveIpv4Only(const char* name, const addrinfo* hints, addrinfo** result) {
    if (result == nullptr) return WSAEFAULT;
    int family = hints ? hints->ai_family : 0;
    if (SystemFamilyOf(family) == AF_INET6 || (name && std::strchr(name, ':'))) {
        return WSAEAFNOSUPPORT;
    }
    auto* block = static_cast<FallbackResult*>(std::calloc(1, sizeof(FallbackResult)));
    if (block == nullptr) return kNotEnoughMemory;
    int error = FallbackAddress(name, hints, &block->address.sin_addr);
    if (error != 0) {
        std::free(block);
        return error;
    }
    block->address.sin_family = AF_INET;
    block->info.ai_family = AF_INET;
    block->info.ai_socktype = hints ? hints->ai_socktype : 0;
    block->info.ai_protocol = hints ? hints->ai_protocol : 0;
    block->info.ai_addrlen = sizeof block->address;
    block->info.ai_addr = reinterpret_cast<sockaddr*>(&block->address);
    if (hints && (hints->ai_flags & AI_CANONNAME)) CopyCanonicalName(name, block);
    *result = &block->info;
    return 0;
}

}  // namespace
}  // namespace net

using namespace net;

int NetGetAddrInfo(const char* name, const struct addrinfo* hints, struct addrinfo** result) {
    if (!IsLoaded()) return Fail(WSANOTINITIALISED, WSANOTINITIALISED);
    const char* trimmed = SkipBlanks(name);
    int error = Bound<void>(Entry::getaddrinfo) ? ResolveWithSystem(trimmed, hints, result)
                                                : ResolveIpv4Only(trimmed, hints, result);
    if (error != 0) NetSetLastError(error);
    return Reported(SocketCall::getaddrinfo, error, name, hints, result);
}

void NetFreeAddrInfo(struct addrinfo* list) {
    if (list == nullptr) return;
    if (auto* freeaddrinfo = Bound<decltype(::freeaddrinfo)>(Entry::freeaddrinfo)) {
        freeaddrinfo(list);
    } else {
        std::free(list);
    }
}

int NetResolveHost(const char* name, int familyHint, NetAddress* address) {
    if (address == nullptr) return Fail(WSAEFAULT, -1);
    const char* trimmed = SkipBlanks(name);
    if (trimmed == nullptr || *trimmed == '\0') return Fail(WSAHOST_NOT_FOUND, -1);
    addrinfo hints{};
    hints.ai_family = familyHint == 0 ? AF_UNSPEC : SystemFamilyOf(familyHint);
    hints.ai_socktype = SOCK_STREAM;
    if (hints.ai_family < 0) return Fail(WSAEDESTADDRREQ, -1);
    addrinfo* list = nullptr;
    if (NetGetAddrInfo(trimmed, &hints, &list) != 0 || list == nullptr) {
        return Fail(WSAHOST_NOT_FOUND, -1);
    }
    int family = NetFamilyOf(list->ai_family);
    bool wanted =
        family != NET_FAMILY_NONE && (familyHint == 0 || hints.ai_family == list->ai_family);
    if (wanted) {
        NetAddress result{};
        result.family = family;
        const void* bytes =
            family == NET_FAMILY_IPV4
                ? static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr)
                : static_cast<const void*>(
                      &reinterpret_cast<sockaddr_in6*>(list->ai_addr)->sin6_addr);
        std::memcpy(result.address, bytes, family == NET_FAMILY_IPV4 ? 4 : 16);
        *address = result;
    }
    NetFreeAddrInfo(list);
    return wanted ? family : Fail(WSAEDESTADDRREQ, -1);
}
