// Wire encodings: the SSH reader stops at its buffer's end, keeps a failure, and keeps
// the mpint sign rules; Base64 by the RFC 4648 vectors, strict decoding, and a
// differential check against libcrypto's encoder over every length up to a few blocks.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "crypto/base64.h"
#include "crypto/sshbuf.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

enum class Get { Uint32, Uint64, Bytes4, String, Mpint, Ssh1Mpint };

bool Read(SshReader& r, Get get) {
    std::uint32_t u32;
    std::uint64_t u64;
    std::span<const std::uint8_t> bytes;
    std::string_view text;
    BigNum number;
    switch (get) {
        case Get::Uint32:
            return r.ReadUint32(&u32);
        case Get::Uint64:
            return r.ReadUint64(&u64);
        case Get::Bytes4:
            return r.ReadBytes(4, &bytes);
        case Get::String:
            return r.ReadString(&text);
        case Get::Mpint:
            return r.ReadMpint(&number);
        case Get::Ssh1Mpint:
            return r.ReadSsh1Mpint(&number);
    }
    return false;
}

// Whatever fails first, the failure sticks: every later getter fails, even one
// the bytes could still satisfy, and the end check reports it.
TEST(SshReader, AFailureSticksAndTheEndCheckReportsIt) {
    const struct {
        const char* name;
        Bytes wire;
        Get get;
    } cases[] = {
        {"uint32 short", {0, 0, 0}, Get::Uint32},
        {"uint64 short", {0, 0, 0, 0, 0, 0, 0}, Get::Uint64},
        {"bytes short", {1, 2, 3}, Get::Bytes4},
        {"string 4 of 3", {0, 0, 0, 4, 'a', 'b', 'c'}, Get::String},
        {"string 2^31-1", {0x7F, 0xFF, 0xFF, 0xFF, 'a', 'b', 'c'}, Get::String},
        {"string 2^32-1", {0xFF, 0xFF, 0xFF, 0xFF, 'a', 'b', 'c'}, Get::String},
        {"negative mpint", {0, 0, 0, 1, 0x80, 0}, Get::Mpint},
        {"ssh-1 mpint short", {0x00, 0x11, 0x01, 0x02}, Get::Ssh1Mpint},  // 17 bits: 3 bytes
    };
    for (const auto& c : cases) {
        SshReader reader(c.wire);
        EXPECT_FALSE(Read(reader, c.get)) << c.name;
        EXPECT_TRUE(reader.failed()) << c.name;
        EXPECT_EQ(reader.Remaining(), 0u) << c.name;
        std::uint8_t byte;
        EXPECT_FALSE(reader.ReadByte(&byte)) << c.name;
        EXPECT_FALSE(reader.Finish()) << c.name;
    }
}

TEST(SshReader, ChildReaderSeesOnlyItsString) {
    const Bytes data = {0, 0, 0, 2, 0xAA, 0xBB, 0xCC};
    SshReader reader(data), child;
    ASSERT_TRUE(reader.ReadStringReader(&child));
    std::uint32_t value;
    EXPECT_FALSE(child.ReadUint32(&value));
    EXPECT_TRUE(child.failed());
    EXPECT_FALSE(reader.failed()) << "the child's failure stays in the child";
    EXPECT_EQ(reader.Remaining(), 1u);
}

TEST(SshMpint, SignRulesOfTheWireEncoding) {
    struct Case {
        Bytes wire;
        bool accepted;
        std::uint64_t value;
    } cases[] = {
        {{0, 0, 0, 0}, true, 0},                    // zero is the empty string
        {{0, 0, 0, 1, 0x7F}, true, 0x7F},           //
        {{0, 0, 0, 2, 0x00, 0x80}, true, 0x80},     // sign byte before a high bit
        {{0, 0, 0, 1, 0x80}, false, 0},             // negative
        {{0, 0, 0, 2, 0xFF, 0x7F}, false, 0},       // negative
        {{0, 0, 0, 3, 0x00, 0x00, 0x05}, true, 5},  // redundant zeros tolerated
    };
    for (const Case& c : cases) {
        SshReader reader(c.wire);
        BigNum value;
        ASSERT_EQ(reader.ReadMpint(&value), c.accepted) << c.wire.size();
        if (c.accepted) {
            EXPECT_EQ(value, BigNum(c.value));
        }
        EXPECT_EQ(reader.Finish(), c.accepted);
    }
}

TEST(SshMpint, OversizedValuesAreRefused) {
    for (std::size_t length : {kSshMpintMaxBytes, kSshMpintMaxBytes + 1}) {
        SshWriter writer;
        Bytes body(length, 0x11);
        body[0] = 0x00;
        writer.PutString(body);
        SshReader reader(writer.data());
        BigNum value;
        EXPECT_EQ(reader.ReadMpint(&value), length <= kSshMpintMaxBytes) << length;
    }
}

TEST(SshMpint, WriterAndReaderRoundTrip) {
    const Bytes highBit = {0x80, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    for (const BigNum& value : {BigNum(), BigNum(0x7F), BigNum(0x80), BigNum::FromBytes(highBit)}) {
        SshWriter writer;
        writer.PutMpint(value);
        writer.PutSsh1Mpint(value);
        SshReader reader(writer.data());
        BigNum first, second;
        ASSERT_TRUE(reader.ReadMpint(&first));
        ASSERT_TRUE(reader.ReadSsh1Mpint(&second));
        EXPECT_TRUE(reader.Finish());
        EXPECT_EQ(first, value);
        EXPECT_EQ(second, value);
    }
    SshWriter writer;
    writer.PutMpint(BigNum(0x80));
    EXPECT_EQ(Bytes(writer.data().begin(), writer.data().end()), (Bytes{0, 0, 0, 2, 0x00, 0x80}));
}

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
