#include "url/ipv6literal.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

// The system's own parser is the reference for which texts are IPv6 addresses.
bool SystemParses(const std::string& text, Ipv6Bytes* address) {
    return inet_pton(AF_INET6, text.c_str(), address->data()) == 1;
}

void ExpectAgreesWithSystem(const std::string& text) {
    Ipv6Bytes ours{};
    Ipv6Bytes reference{};
    bool expected = SystemParses(text, &reference);
    ASSERT_EQ(ParseIpv6Literal(text, &ours), expected) << '"' << text << '"';
    if (expected) {
        EXPECT_EQ(ours, reference) << text;
    }
}

}  // namespace

// Every textual form, with the groups placed around the gap.
TEST(Ipv6Literal, AcceptsEveryTextualForm) {
    for (const char* text :
         {"::", "::1", "0::1", "::ffff:7f00:1", "0:0::FFFF:7F00:0001", "0:0:0:0:0:ffff:7f00:1",
          "::ffff:127.0.0.1", "0:0:0:0:0:ffff:127.1.2.3", "::127.0.0.1", "0::ffff:0:7f00:1",
          "0000:0:0:0:0:0:0:1"}) {
        ExpectAgreesWithSystem(text);
        EXPECT_TRUE(ParseIpv6Literal(text)) << text;
    }
    Ipv6Bytes address{};
    ASSERT_TRUE(ParseIpv6Literal("0:0::ffff:7f01:ff00", &address));
    Ipv6Bytes expected{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0x7f, 0x01, 0xff, 0x00};
    EXPECT_EQ(address, expected);
    ASSERT_TRUE(ParseIpv6Literal("::ffff:127.1.255.0", &address));
    Ipv6Bytes mapped{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 127, 1, 255, 0};
    EXPECT_EQ(address, mapped);
}

// One text per way of failing; the random texts below find the rest.
TEST(Ipv6Literal, RejectsMalformedTexts) {
    for (const char* text :
         {"", ":", "1::2::3", "1::2:", "12345::", "g::", "1:2:3:4:5:6:7", "1:2:3:4:5:6:7:8:9",
          "1:2:3:4:5:6:7::8", "::127.0.1", "::127.0.0.1.5", "::256.0.0.1", "::0127.0.0.1",
          "::127.0.0.1:1", "0:0:0:0:0:0:ffff:127.0.0.1", "::1%lo", "::127.0..1"}) {
        ExpectAgreesWithSystem(text);
        EXPECT_FALSE(ParseIpv6Literal(text)) << text;
    }
}

TEST(Ipv6Literal, ZoneSuffixStillCountsAsLiteral) {
    EXPECT_TRUE(IsIpv6Literal("::1%lo"));
    EXPECT_TRUE(IsIpv6Literal("::1%25"));
    EXPECT_FALSE(IsIpv6Literal("::1%"));
    EXPECT_FALSE(IsIpv6Literal("%lo"));
    EXPECT_FALSE(IsIpv6Literal("localhost"));
    EXPECT_FALSE(IsIpv6Literal("127.0.0.1"));
    EXPECT_FALSE(IsIpv6Literal(""));
}

// Random texts over the characters that matter, and random edits of real
// addresses, agree with the system parser; the texts are bounded in number and
// length, the seeds fixed.
TEST(Ipv6Literal, AgreesWithSystemOnRandomAndMutatedTexts) {
    std::mt19937 random(20240611);
    const std::string alphabet = "0123456789abcdefABCDEF::::...g";
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        int length = static_cast<int>(random() % 24);
        for (int k = 0; k < length; ++k)
            text += alphabet[random() % alphabet.size()];
        ExpectAgreesWithSystem(text);
    }
    const char* seeds[] = {"0:0:0:0:0:ffff:7f00:1", "::ffff:127.0.2.1", "0:0:0:0:0:0:0:1", "::1",
                           "::"};
    const std::string edits = "0f:.9";
    for (int i = 0; i < 20000; ++i) {
        std::string text = seeds[random() % std::size(seeds)];
        for (int e = 1 + static_cast<int>(random() % 3); e > 0; --e) {
            std::size_t at = text.empty() ? 0 : random() % (text.size() + 1);
            switch (random() % 3) {
                case 0:
                    text.insert(at, 1, edits[random() % edits.size()]);
                    break;
                case 1:
                    if (at < text.size()) text.erase(at, 1);
                    break;
                default:
                    if (at < text.size()) text[at] = edits[random() % edits.size()];
            }
        }
        ExpectAgreesWithSystem(text);
    }
}
