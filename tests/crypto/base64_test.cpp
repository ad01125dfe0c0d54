// Base64: the RFC 4648 vectors, strict decoding, and a differential check against
// libcrypto's encoder over every length up to a few blocks.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "crypto/base64.h"

namespace {

std::vector<std::uint8_t> BytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

struct Base64Case {
    const char* plain;
    const char* encoded;
};

constexpr Base64Case kRfc4648[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
};

TEST(Base64Test, Rfc4648VectorsBothWays) {
    for (const Base64Case& c : kRfc4648) {
        EXPECT_EQ(Base64Encode(BytesOf(c.plain)), c.encoded) << c.plain;
        const auto decoded = Base64Decode(c.encoded);
        ASSERT_TRUE(decoded) << c.encoded;
        EXPECT_EQ(*decoded, BytesOf(c.plain));
    }
}

TEST(Base64Test, DecodesWithoutPaddingAndRefusesMalformedText) {
    EXPECT_EQ(Base64Decode("Zm8"), BytesOf("fo"));
    EXPECT_EQ(Base64Decode("Zg"), BytesOf("f"));
    for (const char* bad :
         {"Z", "Zg=", "Zg===", "Zm9v=", "Zh==", "Zm9=", "Zm$v", "Zm 9v", "=Zm9", "Zm9vY"})
        EXPECT_FALSE(Base64Decode(bad)) << bad;
}

TEST(Base64Test, MatchesLibcryptoForEveryLength) {
    std::vector<std::uint8_t> data;
    for (std::size_t length = 0; length <= 100; ++length) {
        std::string expected(4 * ((length + 2) / 3) + 1, '\0');
        const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(expected.data()),
                                            data.data(), static_cast<int>(length));
        expected.resize(static_cast<std::size_t>(written));
        EXPECT_EQ(Base64Encode(data), expected) << length;
        EXPECT_EQ(Base64Decode(expected), data) << length;
        data.push_back(static_cast<std::uint8_t>(length * 37 + 11));
    }
}

}  // namespace
