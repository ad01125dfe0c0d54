// The SSH wire reader stops at its buffer's end and keeps the mpint sign rules.
#include <gtest/gtest.h>

#include <vector>

#include "crypto/sshbuf.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(SshReader, EveryGetterFailsAtTheEndWithoutMoving) {
    const Bytes data = {0x00, 0x00, 0x00};
    SshReader reader(data);
    std::uint32_t value;
    std::span<const std::uint8_t> bytes;
    BigNum number;
    EXPECT_FALSE(reader.ReadUint32(&value));
    EXPECT_FALSE(reader.ReadString(&bytes));
    EXPECT_FALSE(reader.ReadMpint(&number));
    EXPECT_FALSE(reader.ReadBytes(4, &bytes));
    EXPECT_EQ(reader.Remaining(), 3u);
    std::uint8_t byte;
    EXPECT_TRUE(reader.ReadByte(&byte) && reader.ReadByte(&byte) && reader.ReadByte(&byte));
    EXPECT_FALSE(reader.ReadByte(&byte));
    EXPECT_TRUE(reader.AtEnd());
}

TEST(SshReader, StringLengthsBeyondTheBufferFailAndRestoreTheCursor) {
    for (std::uint32_t claimed : {4u, 5u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        Bytes data = {static_cast<std::uint8_t>(claimed >> 24),
                      static_cast<std::uint8_t>(claimed >> 16),
                      static_cast<std::uint8_t>(claimed >> 8),
                      static_cast<std::uint8_t>(claimed),
                      'a',
                      'b',
                      'c'};
        SshReader reader(data);
        std::string_view text;
        EXPECT_FALSE(reader.ReadString(&text)) << claimed;
        EXPECT_EQ(reader.Remaining(), data.size());
    }
    const Bytes exact = {0, 0, 0, 3, 'a', 'b', 'c', 0, 0, 0, 0};
    SshReader reader(exact);
    std::string_view text;
    ASSERT_TRUE(reader.ReadString(&text));
    EXPECT_EQ(text, "abc");
    ASSERT_TRUE(reader.ReadString(&text));
    EXPECT_EQ(text, "");
    EXPECT_TRUE(reader.AtEnd());
}

TEST(SshReader, ChildReaderSeesOnlyItsString) {
    const Bytes data = {0, 0, 0, 2, 0xAA, 0xBB, 0xCC};
    SshReader reader(data), child;
    ASSERT_TRUE(reader.ReadStringReader(&child));
    std::uint32_t value;
    EXPECT_FALSE(child.ReadUint32(&value));
    EXPECT_EQ(child.Remaining(), 2u);
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
            EXPECT_TRUE(reader.AtEnd());
        } else {
            EXPECT_EQ(reader.Remaining(), c.wire.size());
        }
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
        EXPECT_TRUE(reader.AtEnd());
        EXPECT_EQ(first, value);
        EXPECT_EQ(second, value);
    }
    SshWriter writer;
    writer.PutMpint(BigNum(0x80));
    EXPECT_EQ(Bytes(writer.data().begin(), writer.data().end()), (Bytes{0, 0, 0, 2, 0x00, 0x80}));
}

TEST(SshMpint, Ssh1FormNeedsTheBytesItsBitCountPromises) {
    const Bytes shortBody = {0x00, 0x11, 0x01, 0x02};  // 17 bits need 3 bytes
    SshReader reader(shortBody);
    BigNum value;
    EXPECT_FALSE(reader.ReadSsh1Mpint(&value));
    EXPECT_EQ(reader.Remaining(), shortBody.size());
}

}  // namespace
