// Recognition of IPv6 address literals in text, without asking the operating system.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

using Ipv6Bytes = std::array<std::uint8_t, 16>;

// Parses the textual forms that inet_pton accepts for IPv6: eight groups of one to
// four hex digits, at most one "::" standing for one or more zero groups, and an
// optional trailing dotted IPv4 address (decimal parts without leading zeros).
// Fills *address (network order) when given; false for anything else.
bool ParseIpv6Literal(std::string_view text, Ipv6Bytes* address = nullptr);

// True when a host name is an IPv6 literal, optionally followed by a "%zone"
// suffix (a link-local interface name or index), and so needs brackets in a URL.
bool IsIpv6Literal(std::string_view host);
