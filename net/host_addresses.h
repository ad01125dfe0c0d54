// The addresses behind a host name, all of them, and the machine's own
// addresses: what proxy auto-configuration scripts ask about.
#pragma once

#include <string>
#include <vector>

#include "net/net.h"

namespace net {

// Every address `name` (or numeric text) stands for, in the resolver's order
// without repeats: IPv4 ones for NET_FAMILY_IPV4, IPv6 ones for
// NET_FAMILY_IPV6, IPv4 then IPv6 for 0. Empty, with the socket error set
// (11001), when there is none. Needs a started runtime (NetStartup).
std::vector<NetAddress> ResolveAll(const char* name, int family);

// The addresses of this machine's interfaces that are up, IPv4 and IPv6, in
// the system's order (loopback ones included). Empty when they cannot be read.
std::vector<NetAddress> LocalAddresses();

// True for 127.0.0.0/8 and ::1.
bool IsLoopbackAddress(const NetAddress& address);
// "a.b.c.d" or the IPv6 text form ("" for another family).
std::string AddressText(const NetAddress& address);

}  // namespace net
