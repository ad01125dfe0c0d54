#include "crypto/sha1.h"

#include <openssl/evp.h>

#include "tests/crypto/crypto_test_support.h"

namespace {

std::string Sha1Hex(const Bytes& data) {
    std::uint8_t digest[kSha1DigestLength];
    Sha1(data.data(), data.size(), digest);
    return ToHex(digest, sizeof digest);
}

class Sha1Paths : public BothPaths {};

TEST_P(Sha1Paths, PublishedVectors) {
    EXPECT_EQ(Sha1Hex(Text("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(Sha1Hex(Text("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(Sha1Hex(Text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
}

TEST_P(Sha1Paths, MillionAsInUnevenPieces) {
    Sha1State state;
    Sha1Init(state);
    const Bytes chunk(997, 'a');
    std::size_t left = 1000000;
    while (left > 0) {
        const std::size_t n = left < chunk.size() ? left : chunk.size();
        Sha1Update(state, chunk.data(), n);
        left -= n;
    }
    std::uint8_t digest[kSha1DigestLength];
    Sha1Final(state, digest);
    EXPECT_EQ(ToHex(digest, sizeof digest), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

// The bare compression function of "abc" padded by hand gives the digest words directly.
TEST_P(Sha1Paths, BareCompressionOfOnePaddedBlock) {
    std::uint8_t block[kSha1BlockLength] = {'a', 'b', 'c', 0x80};
    block[63] = 24;
    std::uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    Sha1Compress(h, block);
    EXPECT_EQ(h[0], 0xa9993e36u);
    EXPECT_EQ(h[4], 0x9cd0d89du);
}

TEST_P(Sha1Paths, AgreesWithLibcryptoOnRandomSplits) {
    TestRandom random(1);
    for (int round = 0; round < kDifferentialRounds; ++round) {
        const Bytes data = random.Fill(random.Below(700));
        const std::size_t split = random.Below(data.size() + 1);
        Sha1State state;
        Sha1Init(state);
        Sha1Update(state, data.data(), split);
        Sha1Update(state, data.data() + split, data.size() - split);
        std::uint8_t ours[kSha1DigestLength];
        Sha1Final(state, ours);
        std::uint8_t theirs[EVP_MAX_MD_SIZE];
        unsigned int theirLength = 0;
        ASSERT_EQ(EVP_Digest(data.data(), data.size(), theirs, &theirLength, EVP_sha1(), nullptr),
                  1);
        ASSERT_EQ(ToHex(ours, sizeof ours), ToHex(theirs, theirLength)) << "length " << data.size();
    }
}

TEST(Sha1, FinalWipesTheState) {
    Sha1State state;
    Sha1Init(state);
    Sha1Update(state, "secret", 6);
    std::uint8_t digest[kSha1DigestLength];
    Sha1Final(state, digest);
    EXPECT_TRUE(AllZero(&state, sizeof state));
}

INSTANTIATE_BOTH_PATHS(Sha1Paths);

}  // namespace
