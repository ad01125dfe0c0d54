// Numeric address text: the IPv4 parser's rules, text <-> bytes round trips,
// NetAddress records and socket addresses.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "net/net.h"
#include "net_test_support.h"

namespace {

constexpr uint32_t kNone = 0xFFFFFFFFu;

uint32_t Ipv4(const char* dotted) {
    in_addr address{};
    EXPECT_EQ(inet_pton(AF_INET, dotted, &address), 1) << dotted;
    return address.s_addr;
}

// One to four parts, octal-looking decimals, hex in either case, leading blanks skipped,
// and a blank, tab or line end ending the text.
TEST(NetInetAddr, AcceptedForms) {
    const std::pair<const char*, const char*> cases[] = {
        {"127.1", "127.0.0.1"},
        {"0x7f.1", "127.0.0.1"},
        {"127.2.3", "127.2.0.3"},
        {"127.2.65535", "127.2.255.255"},
        {"2130772483", "127.1.2.3"},
        {"0x7F010203", "127.1.2.3"},
        {"0127.0.0.1", "127.0.0.1"},
        {"0X7F.0xFf.0xaB.1", "127.255.171.1"},
        {"127.0.0.0", "127.0.0.0"},
        {"  \t127.1.2.3", "127.1.2.3"},
        {"127.1.2.3 trailing", "127.1.2.3"},
        {"127.1.2.3\t", "127.1.2.3"},
        {"127.1.2.3\r\n", "127.1.2.3"},
    };
    for (const auto& [text, dotted] : cases)
        EXPECT_EQ(NetInetAddr(text), Ipv4(dotted)) << '"' << text << '"';
}

TEST(NetInetAddr, RejectsWhatIsNotAnAddress) {
    const char* rejected[] = {
        "127.0.0.256",   // last of four parts above 255
        "127.0.0.1:21",  // a port is not a terminator
        "127.0.0.1.5",   // more than three dots
        "127.256.0.1",   // an earlier part above 255
        "127.16777216",  // b of a.b above 0xFFFFFF
        "127.1.65536",   // c of a.b.c above 0xFFFF
        "4294967296",    // more than 32 bits
        "",
        "   ",
        "127..1",
        "127.0.0.",
        ".127.0.1",
        "0x",
        "0x.1",
        "abc",
        "127.0.0.1x",
        "127.0.0.1/8",
        "-127.0.0.1",
    };
    for (const char* text : rejected)
        EXPECT_EQ(NetInetAddr(text), kNone) << '"' << text << '"';
    EXPECT_EQ(NetInetAddr(nullptr), kNone);
}

TEST(NetInetText, Ipv4AndIpv6RoundTrips) {
    const char* texts[] = {"127.0.0.1", "127.20.30.40", "127.255.255.0"};
    for (const char* text : texts) {
        uint8_t bytes[4];
        ASSERT_EQ(NetInetPton(NET_FAMILY_IPV4, text, bytes), 1);
        char back[INET_ADDRSTRLEN];
        ASSERT_NE(NetInetNtop(NET_FAMILY_IPV4, bytes, back, sizeof back), nullptr);
        EXPECT_STREQ(back, text);
    }
    const char* v6[] = {"::1", "::ffff:127.0.0.1", "::ffff:127.255.0.42"};
    for (const char* text : v6) {
        uint8_t bytes[16];
        ASSERT_EQ(NetInetPton(NET_FAMILY_IPV6, text, bytes), 1) << text;
        char back[INET6_ADDRSTRLEN];
        ASSERT_NE(NetInetNtop(NET_FAMILY_IPV6, bytes, back, sizeof back), nullptr);
        EXPECT_STREQ(back, text);
    }
}

TEST(NetInetText, PtonAnswersZeroForTextOfAnotherFamilyAndFailsOnBadArguments) {
    uint8_t bytes[16];
    EXPECT_EQ(NetInetPton(NET_FAMILY_IPV4, "::1", bytes), 0);
    EXPECT_EQ(NetInetPton(NET_FAMILY_IPV6, "127.0.0.1", bytes), 0);
    EXPECT_EQ(NetInetPton(NET_FAMILY_IPV4, "  127.1.2.3", bytes), 1);  // leading blanks skipped
    EXPECT_EQ(NetInetPton(NET_FAMILY_IPV4, nullptr, bytes), -1);
    EXPECT_EQ(NetGetLastError(), 10014);
    EXPECT_EQ(NetInetPton(7, "127.1.2.3", bytes), -1);
    EXPECT_EQ(NetGetLastError(), 10047);
    char small[4];
    EXPECT_EQ(NetInetNtop(NET_FAMILY_IPV4, bytes, small, sizeof small), nullptr);
    EXPECT_NE(NetGetLastError(), 0);
    EXPECT_EQ(NetInetNtop(NET_FAMILY_IPV4, nullptr, small, sizeof small), nullptr);
    EXPECT_EQ(NetGetLastError(), 10014);
}

TEST(NetAddressFamilyOf, NumericTextOnly) {
    EXPECT_EQ(NetAddressFamilyOf("127.0.0.1"), 2);
    EXPECT_EQ(NetAddressFamilyOf("  ::1"), 23);
    EXPECT_EQ(NetAddressFamilyOf("::ffff:127.0.0.1"), 23);
    EXPECT_EQ(NetAddressFamilyOf("localhost"), 0);
    EXPECT_EQ(NetAddressFamilyOf(""), 0);
    EXPECT_EQ(NetAddressFamilyOf(nullptr), 0);
    EXPECT_EQ(NetAddressFamilyOf("127.0.0.1:21"), 0);
}

TEST(NetParseAddress, HintChoosesFamiliesAndErrorsAreDistinct) {
    NetAddress address{};
    ASSERT_EQ(NetParseAddress("127.0.2.7", 0, &address), 2);
    EXPECT_EQ(address.family, 2);
    EXPECT_EQ(std::memcmp(address.address, "\x7F\x00\x02\x07", 4), 0);
    ASSERT_EQ(NetParseAddress("::1", 0, &address), 23);
    EXPECT_EQ(address.address[15], 1);
    EXPECT_EQ(NetParseAddress("::1", 2, &address), -1);
    EXPECT_EQ(NetGetLastError(), 10039);
    EXPECT_EQ(NetParseAddress("127.0.2.7", 23, &address), -1);
    EXPECT_EQ(NetGetLastError(), 10039);
    EXPECT_EQ(NetParseAddress("", 0, &address), -1);
    EXPECT_EQ(NetGetLastError(), 12005);
    EXPECT_EQ(NetParseAddress("localhost", 0, &address), -1);
    EXPECT_EQ(NetGetLastError(), 10039);
    EXPECT_EQ(NetParseAddress("127.1.2.3", 0, nullptr), -1);
    EXPECT_EQ(NetGetLastError(), 10014);
}

TEST(NetMakeSockAddr, BuildsBothFamiliesWithPortInNetworkOrder) {
    NetAddress address{};
    ASSERT_EQ(NetParseAddress("127.1.2.3", 0, &address), 2);
    sockaddr_storage storage{};
    socklen_t length = 0;
    ASSERT_EQ(NetMakeSockAddr(&address, 2121, &storage, &length), 2);
    EXPECT_EQ(length, 16u);
    auto* ipv4 = reinterpret_cast<sockaddr_in*>(&storage);
    EXPECT_EQ(ipv4->sin_family, AF_INET);
    EXPECT_EQ(ipv4->sin_port, htons(2121));
    EXPECT_EQ(ipv4->sin_addr.s_addr, Ipv4("127.1.2.3"));

    ASSERT_EQ(NetParseAddress("::ffff:127.0.0.2", 0, &address), 23);
    ASSERT_EQ(NetMakeSockAddr(&address, 990, &storage, &length), 23);
    EXPECT_EQ(length, 28u);
    auto* ipv6 = reinterpret_cast<sockaddr_in6*>(&storage);
    EXPECT_EQ(ipv6->sin6_family, AF_INET6);
    EXPECT_EQ(ipv6->sin6_port, htons(990));
    EXPECT_EQ(ipv6->sin6_addr.s6_addr[15], 2);
}

TEST(NetMakeSockAddr, RejectsEmptyAndUnknownFamiliesAndNullOutputs) {
    NetAddress address{};
    sockaddr_storage storage{};
    socklen_t length = 0;
    EXPECT_EQ(NetMakeSockAddr(&address, 21, &storage, &length), 0);
    EXPECT_EQ(NetGetLastError(), 10039);
    address.family = 17;
    EXPECT_EQ(NetMakeSockAddr(&address, 21, &storage, &length), 0);
    EXPECT_EQ(NetGetLastError(), 10046);
    address.family = 2;
    EXPECT_EQ(NetMakeSockAddr(&address, 21, nullptr, &length), 0);
    EXPECT_EQ(NetGetLastError(), 10014);
}

TEST(NetAddressToString, FormatsHostAndPortAndReportsTheNeededSize) {
    NetAddress address{};
    sockaddr_storage storage{};
    socklen_t length = 0;
    ASSERT_EQ(NetParseAddress("::1", 0, &address), 23);
    ASSERT_EQ(NetMakeSockAddr(&address, 21, &storage, &length), 23);
    char text[64];
    uint32_t size = sizeof text;
    ASSERT_EQ(NetAddressToString(reinterpret_cast<sockaddr*>(&storage), length, text, &size), 0);
    EXPECT_STREQ(text, "[::1]:21");
    EXPECT_EQ(size, 9u);

    ASSERT_EQ(NetParseAddress("127.0.0.1", 0, &address), 2);
    ASSERT_EQ(NetMakeSockAddr(&address, 0, &storage, &length), 2);
    size = 4;
    EXPECT_EQ(NetAddressToString(reinterpret_cast<sockaddr*>(&storage), length, text, &size), -1);
    EXPECT_EQ(NetGetLastError(), 10014);
    EXPECT_EQ(size, 10u);  // "127.0.0.1" without a port part
}

}  // namespace
