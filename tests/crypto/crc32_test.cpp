#include "crypto/crc32.h"

#include <zlib.h>

#include "crypto/compensation_detector.h"
#include "tests/crypto/crypto_test_support.h"

namespace {

TEST(Crc32, CheckValueAndEmptyInput) {
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32("", 0), 0u);
    EXPECT_EQ(Crc32("The quick brown fox jumps over the lazy dog", 43), 0x414FA339u);
}

TEST(Crc32, PiecewiseUpdatesAgreeWithZlibOnRandomData) {
    TestRandom random(30);
    for (int round = 0; round < kDifferentialRounds / 4; ++round) {
        const Bytes data = random.Fill(random.Below(3000));
        std::uint32_t ours = 0;
        for (std::size_t at = 0; at < data.size();) {
            const std::size_t piece = std::min(data.size() - at, 1 + random.Below(40));
            ours = Crc32Update(ours, data.data() + at, piece);
            at += piece;
        }
        const auto theirs =
            static_cast<std::uint32_t>(crc32(0L, data.data(), static_cast<uInt>(data.size())));
        ASSERT_EQ(ours, theirs) << "length " << data.size();
    }
}

// Without the inversions the CRC is linear: Raw(0, x) = crc(x) ^ crc(zeros of x's length).
TEST(Crc32, RawFormWithoutInversionIsTheLinearPart) {
    TestRandom random(31);
    for (int round = 0; round < 100; ++round) {
        const Bytes data = random.Fill(1 + random.Below(300));
        const Bytes zeros(data.size(), 0);
        EXPECT_EQ(Crc32Raw(0, data.data(), data.size()),
                  Crc32(data.data(), data.size()) ^ Crc32(zeros.data(), zeros.size()));
    }
    EXPECT_EQ(Crc32Raw(0, "\0\0\0\0", 4), 0u);
}

Bytes DistinctBlocks(TestRandom& random, std::size_t blocks) {
    return random.Fill(blocks * CompensationAttackDetector::kBlockLength);
}

TEST(CompensationAttackDetector, HonestPacketsPassWithOrWithoutIv) {
    TestRandom random(32);
    CompensationAttackDetector detector;
    // 2731 and 20000 blocks make the table grow past its first and second size.
    for (std::size_t blocks : {1u, 2u, 7u, 100u, 2731u, 4000u, 20000u}) {
        const Bytes packet = DistinctBlocks(random, blocks);
        const Bytes iv = random.Fill(8);
        EXPECT_FALSE(detector.IsAttack(packet.data(), packet.size(), iv.data())) << blocks;
        EXPECT_FALSE(detector.IsAttack(packet.data(), packet.size(), nullptr)) << blocks;
    }
}

TEST(CompensationAttackDetector, RepeatedBlockAnywhereIsAnAttack) {
    TestRandom random(33);
    CompensationAttackDetector detector;
    for (int round = 0; round < 50; ++round) {
        const std::size_t blocks = 2 + random.Below(3000);
        Bytes packet = DistinctBlocks(random, blocks);
        const std::size_t from = random.Below(blocks);
        std::size_t to = random.Below(blocks);
        if (to == from) to = (to + 1) % blocks;
        std::copy_n(packet.begin() + from * 8, 8, packet.begin() + to * 8);
        EXPECT_TRUE(detector.IsAttack(packet.data(), packet.size(), nullptr))
            << blocks << " " << from << " " << to;
    }
}

TEST(CompensationAttackDetector, BlockEqualToIvIsAnAttack) {
    TestRandom random(34);
    CompensationAttackDetector detector;
    const Bytes packet = DistinctBlocks(random, 20);
    const Bytes iv(packet.begin() + 13 * 8, packet.begin() + 14 * 8);
    EXPECT_TRUE(detector.IsAttack(packet.data(), packet.size(), iv.data()));
}

// Blocks that share the four bytes used as hash must still be told apart.
TEST(CompensationAttackDetector, HashCollisionsAreNotMistakenForRepeats) {
    TestRandom random(35);
    Bytes packet = DistinctBlocks(random, 64);
    for (std::size_t i = 0; i < 64; ++i) {
        packet[i * 8] = packet[i * 8 + 1] = packet[i * 8 + 2] = packet[i * 8 + 3] = 0x42;
        packet[i * 8 + 7] = std::uint8_t(i);
    }
    CompensationAttackDetector detector;
    EXPECT_FALSE(detector.IsAttack(packet.data(), packet.size(), nullptr));
}

TEST(CompensationAttackDetector, MalformedLengthsAreRejected) {
    CompensationAttackDetector detector;
    const Bytes odd(13, 1);
    EXPECT_TRUE(detector.IsAttack(odd.data(), odd.size(), nullptr));
    const Bytes huge(CompensationAttackDetector::kMaxPacketLength + 8, 1);
    EXPECT_TRUE(detector.IsAttack(huge.data(), huge.size(), nullptr));
}

}  // namespace
