#include "net/host_addresses.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

#include "net/binding.h"
#include "net/socket_errors.h"

namespace net {
namespace {

bool SameAddress(const NetAddress& a, const NetAddress& b) {
    return a.family == b.family && std::memcmp(a.address, b.address, sizeof a.address) == 0;
}

// The address of a socket address of either family; false for another family.
bool FromSockAddr(const sockaddr* address, NetAddress* out) {
    if (address == nullptr) return false;
    NetAddress result{};
    if (address->sa_family == AF_INET) {
        result.family = NET_FAMILY_IPV4;
        std::memcpy(result.address, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, 4);
    } else if (address->sa_family == AF_INET6) {
        result.family = NET_FAMILY_IPV6;
        std::memcpy(result.address, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, 16);
    } else {
        return false;
    }
    *out = result;
    return true;
}

void AddUnique(std::vector<NetAddress>* list, const NetAddress& address) {
    auto same = [&](const NetAddress& other) { return SameAddress(other, address); };
    if (std::none_of(list->begin(), list->end(), same)) list->push_back(address);
}

void ResolveFamily(const char* name, int systemFamily, std::vector<NetAddress>* list) {
    addrinfo hints{};
    hints.ai_family = systemFamily;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (NetGetAddrInfo(name, &hints, &found) != 0) return;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        NetAddress address{};
        if (FromSockAddr(entry->ai_addr, &address)) AddUnique(list, address);
    }
    NetFreeAddrInfo(found);
}

}  // namespace

std::vector<NetAddress> ResolveAll(const char* name, int family) {
    std::vector<NetAddress> list;
    if (name == nullptr || *name == '\0') return Fail(WSAHOST_NOT_FOUND, list);
    if (family != NET_FAMILY_IPV6) ResolveFamily(name, AF_INET, &list);
    if (family != NET_FAMILY_IPV4) ResolveFamily(name, AF_INET6, &list);
    if (list.empty()) NetSetLastError(WSAHOST_NOT_FOUND);
    return list;
}

std::vector<NetAddress> LocalAddresses() {
    std::vector<NetAddress> list;
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) return list;
    for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
        NetAddress address{};
        if ((entry->ifa_flags & IFF_UP) != 0 && FromSockAddr(entry->ifa_addr, &address)) {
            AddUnique(&list, address);
        }
    }
    freeifaddrs(interfaces);
    return list;
}

bool IsLoopbackAddress(const NetAddress& address) {
    if (address.family == NET_FAMILY_IPV4) return address.address[0] == 127;
    if (address.family != NET_FAMILY_IPV6) return false;
    static const uint8_t kLoopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return std::memcmp(address.address, kLoopback, 16) == 0;
}

std::string AddressText(const NetAddress& address) {
    char text[64] = {};
    if (address.family != NET_FAMILY_IPV4 && address.family != NET_FAMILY_IPV6) return {};
    if (NetInetNtop(address.family, address.address, text, sizeof text) == nullptr) return {};
    return text;
}

}  // namespace net

namespace {

// The interface flags of the Windows list from the system's.
struct FlagMapping {
    unsigned system;
    uint32_t listed;
};
constexpr FlagMapping kInterfaceFlags[] = {
    {IFF_UP, NET_IFF_UP},
    {IFF_BROADCAST, NET_IFF_BROADCAST},
    {IFF_LOOPBACK, NET_IFF_LOOPBACK},
    {IFF_POINTOPOINT, NET_IFF_POINTTOPOINT},
    {IFF_MULTICAST, NET_IFF_MULTICAST},
};

void CopyIpv4(const sockaddr* from, NetSockAddrGen* to) {
    std::memset(to, 0, sizeof *to);
    if (from != nullptr && from->sa_family == AF_INET) {
        std::memcpy(&to->address, from, sizeof to->address);
    }
}

}  // namespace

int NetGetInterfaceList(SOCKET s, NetInterfaceInfo* list, int capacity) {
    using namespace net;
    if (!IsLoaded()) return Fail(WSANOTINITIALISED, -1);
    if (list == nullptr || capacity < 0) return Fail(WSAEFAULT, -1);
    int type = 0;
    socklen_t length = sizeof type;
    if (getsockopt(s, SOL_SOCKET, SO_TYPE, &type, &length) != 0) return Fail(WSAENOTSOCK, -1);
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) return FailFromErrno(-1);
    int count = 0;
    bool room = true;
    for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        if ((entry->ifa_flags & IFF_UP) == 0) continue;
        if (count == capacity) {
            room = false;
            break;
        }
        NetInterfaceInfo& info = list[count++];
        info.flags = 0;
        for (const FlagMapping& flag : kInterfaceFlags) {
            if (entry->ifa_flags & flag.system) info.flags |= flag.listed;
        }
        CopyIpv4(entry->ifa_addr, &info.address);
        CopyIpv4((entry->ifa_flags & IFF_BROADCAST) ? entry->ifa_broadaddr : nullptr,
                 &info.broadcast);
        CopyIpv4(entry->ifa_netmask, &info.netmask);
    }
    freeifaddrs(interfaces);
    return room ? count : Fail(WSAENOBUFS, -1);
}
