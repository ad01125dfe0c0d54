// Numeric addresses: the IPv4 text parser of our own, conversions between text
// and address bytes, NetAddress records and socket addresses.
#include <arpa/inet.h>
#include <netdb.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "net/binding.h"
#include "net/net.h"
#include "net/socket_errors.h"
#include "platform/last_error_guard.h"

namespace net {
namespace {

constexpr uint32_t kNoAddress = 0xFFFFFFFFu;
constexpr int kMaxParts = 4;
// The largest value of the last part for one to four parts.
constexpr uint32_t kLastPartMax[kMaxParts] = {0xFFFFFFFFu, 0xFFFFFFu, 0xFFFFu, 0xFFu};

char g_ntoaBuffer[16];  // shared by all threads, like the system's own

std::string_view SkipBlanks(const char* text) {
    while (*text != '\0' && std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    return text;
}

int DigitValue(char c, int base) {
    int value = -1;
    if (c >= '0' && c <= '9') value = c - '0';
    if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
    return value < base ? value : -1;
}

// One part: decimal, or hexadecimal after 0x/0X; at least one digit, at most 32
// bits. Consumes what it reads.
std::optional<uint32_t> ParsePart(std::string_view& text) {
    int base = 10;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    uint64_t value = 0;
    std::size_t digits = 0;
    while (digits < text.size()) {
        int digit = DigitValue(text[digits], base);
        if (digit < 0) break;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFu) return std::nullopt;
        ++digits;
    }
    if (digits == 0) return std::nullopt;
    text.remove_prefix(digits);
    return static_cast<uint32_t>(value);
}

bool EndsAddress(std::string_view rest) {
    if (rest.empty()) return true;
    char c = rest.front();
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

uint32_t Compose(const uint32_t* parts, int count) {
    uint32_t value = parts[count - 1];
    for (int i = 0; i < count - 1; ++i)
        value |= parts[i] << (24 - 8 * i);
    return value;
}

int NormalFamily(int family) {
    return family == 0 ? NET_FAMILY_NONE : NetFamilyOf(SystemFamilyOf(family));
}

bool TryParse(int family, std::string_view text, NetAddress* out) {
    NetAddress parsed{};
    if (NetInetPton(family, text.data(), parsed.address) != 1) return false;
    parsed.family = family;
    *out = parsed;
    return true;
}

}  // namespace
}  // namespace net

using namespace net;

uint32_t NetInetAddr(const char* text) {
    if (text == nullptr) return kNoAddress;
    std::string_view rest = SkipBlanks(text);
    uint32_t parts[kMaxParts];
    int count = 0;
    for (;;) {
        std::optional<uint32_t> part = ParsePart(rest);
        if (!part) return kNoAddress;
        parts[count++] = *part;
        if (rest.empty() || rest.front() != '.') break;
        if (count == kMaxParts) return kNoAddress;
        rest.remove_prefix(1);
    }
    if (!EndsAddress(rest)) return kNoAddress;
    for (int i = 0; i < count - 1; ++i) {
        if (parts[i] > 255) return kNoAddress;
    }
    if (parts[count - 1] > kLastPartMax[count - 1]) return kNoAddress;
    return htonl(Compose(parts, count));
}

const char* NetInetNtoa(struct in_addr address) {
    if (auto* ntoa = Bound<decltype(::inet_ntoa)>(Entry::inet_ntoa)) return ntoa(address);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&address.s_addr);
    std::snprintf(g_ntoaBuffer, sizeof g_ntoaBuffer, "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2],
                  bytes[3]);
    return g_ntoaBuffer;
}

const char* NetInetNtop(int family, const void* address, char* buffer, size_t size) {
    if (address == nullptr || buffer == nullptr) return Fail(WSAEFAULT, nullptr);
    int systemFamily = SystemFamilyOf(family);
    if (auto* ntop = Bound<decltype(::inet_ntop)>(Entry::inet_ntop)) {
        if (systemFamily < 0) return Fail(WSAEINVAL, nullptr);
        const char* result = ntop(systemFamily, address, buffer, static_cast<socklen_t>(size));
        return result ? result : FailFromErrno<const char*>(nullptr);
    }
    // Without the resolver group only IPv4 can be formatted.
    if (systemFamily != AF_INET) return Fail(WSAEAFNOSUPPORT, nullptr);
    in_addr ipv4;
    std::memcpy(&ipv4, address, sizeof ipv4);
    const char* text = NetInetNtoa(ipv4);
    if (std::strlen(text) + 1 > size) return Fail(WSAEFAULT, nullptr);
    std::memcpy(buffer, text, std::strlen(text) + 1);
    return buffer;
}

int NetInetPton(int family, const char* text, void* address) {
    if (text == nullptr || address == nullptr) return Fail(WSAEFAULT, -1);
    int systemFamily = SystemFamilyOf(family);
    std::string_view trimmed = SkipBlanks(text);
    if (auto* pton = Bound<decltype(::inet_pton)>(Entry::inet_pton)) {
        if (systemFamily < 0) return Fail(WSAEAFNOSUPPORT, -1);
        return pton(systemFamily, trimmed.data(), address) == 1 ? 1 : 0;
    }
    if (systemFamily != AF_INET) return Fail(WSAEAFNOSUPPORT, -1);
    uint32_t value = NetInetAddr(trimmed.data());
    if (value == kNoAddress) return 0;
    std::memcpy(address, &value, sizeof value);
    return 1;
}

int NetAddressFamilyOf(const char* text) {
    if (text == nullptr) return NET_FAMILY_NONE;
    std::string_view trimmed = SkipBlanks(text);
    if (trimmed.empty()) return NET_FAMILY_NONE;
    NetAddress scratch{};
    LastErrorGuard<> keepError;
    if (TryParse(NET_FAMILY_IPV4, trimmed, &scratch)) return NET_FAMILY_IPV4;
    if (TryParse(NET_FAMILY_IPV6, trimmed, &scratch)) return NET_FAMILY_IPV6;
    return NET_FAMILY_NONE;
}

int NetParseAddress(const char* text, int familyHint, NetAddress* address) {
    if (address == nullptr) return Fail(WSAEFAULT, -1);
    if (text == nullptr || SkipBlanks(text).empty()) return Fail(kInvalidHostAddress, -1);
    std::string_view trimmed = SkipBlanks(text);
    int hint = NormalFamily(familyHint);
    if (familyHint != 0 && hint == NET_FAMILY_NONE) return Fail(WSAEDESTADDRREQ, -1);
    if (hint != NET_FAMILY_IPV6 && TryParse(NET_FAMILY_IPV4, trimmed, address)) {
        return NET_FAMILY_IPV4;
    }
    if (hint != NET_FAMILY_IPV4 && TryParse(NET_FAMILY_IPV6, trimmed, address)) {
        return NET_FAMILY_IPV6;
    }
    return Fail(WSAEDESTADDRREQ, -1);
}

int NetMakeSockAddr(const NetAddress* address, uint16_t port, struct sockaddr_storage* out,
                    socklen_t* length) {
    if (address == nullptr || out == nullptr || length == nullptr) return Fail(WSAEFAULT, 0);
    std::memset(out, 0, sizeof *out);
    if (address->family == NET_FAMILY_NONE) return Fail(WSAEDESTADDRREQ, 0);
    if (address->family == NET_FAMILY_IPV4) {
        auto* ipv4 = reinterpret_cast<sockaddr_in*>(out);
        ipv4->sin_family = AF_INET;
        ipv4->sin_port = htons(port);
        std::memcpy(&ipv4->sin_addr, address->address, 4);
        *length = sizeof *ipv4;
        return NET_FAMILY_IPV4;
    }
    if (address->family == NET_FAMILY_IPV6) {
        auto* ipv6 = reinterpret_cast<sockaddr_in6*>(out);
        ipv6->sin6_family = AF_INET6;
        ipv6->sin6_port = htons(port);
        std::memcpy(&ipv6->sin6_addr, address->address, 16);
        *length = sizeof *ipv6;
        return NET_FAMILY_IPV6;
    }
    return Fail(WSAEPFNOSUPPORT, 0);
}

int NetAddressToString(const struct sockaddr* address, socklen_t length, char* buffer,
                       uint32_t* size) {
    if (address == nullptr || size == nullptr) return Fail(WSAEFAULT, -1);
    char host[INET6_ADDRSTRLEN];
    uint16_t port = 0;
    const void* bytes = nullptr;
    if (address->sa_family == AF_INET && length >= sizeof(sockaddr_in)) {
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
        bytes = &ipv4->sin_addr;
        port = ntohs(ipv4->sin_port);
    } else if (address->sa_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
        const auto* ipv6 = reinterpret_cast<const sockaddr_in6*>(address);
        bytes = &ipv6->sin6_addr;
        port = ntohs(ipv6->sin6_port);
    } else {
        return Fail(WSAEINVAL, -1);
    }
    if (NetInetNtop(address->sa_family, bytes, host, sizeof host) == nullptr) return -1;
    char text[INET6_ADDRSTRLEN + 16];
    bool ipv6 = address->sa_family == AF_INET6;
    if (port == 0)
        std::snprintf(text, sizeof text, "%s", host);
    else
        std::snprintf(text, sizeof text, ipv6 ? "[%s]:%u" : "%s:%u", host, unsigned{port});
    auto needed = static_cast<uint32_t>(std::strlen(text) + 1);
    bool fits = buffer != nullptr && needed <= *size;
    *size = needed;
    if (!fits) return Fail(WSAEFAULT, -1);
    std::memcpy(buffer, text, needed);
    return 0;
}
