// MD5, SHA-1 and the SHA-2 family through their descriptors: the published vectors
// on both paths, libcrypto on random messages fed in random pieces, and the state
// rules the transport relies on (copyable mid-message, wiped by final).
#include "crypto/hash.h"

#include <openssl/evp.h>

#include <cstring>

#include "crypto/sha1.h"
#include "tests/crypto/crypto_test_support.h"

namespace {

std::string DigestHex(const HashDescriptor& hash, const Bytes& data) {
    void* context = hash.create();
    hash.add(context, data.data(), data.size());
    std::uint8_t digest[kMaxHashDigestLength];
    hash.finish(context, digest);
    return ToHex(digest, hash.digestLength);
}

class HashPaths : public BothPaths {};

// FIPS 180-4 and RFC 1321 examples: one block, the empty message, two blocks after
// padding, and a million 'a' (many blocks through the batch path).
TEST_P(HashPaths, PublishedVectors) {
    const Bytes twoBlocks = Text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq");
    const Bytes twoBlocks512 = Text(
        "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlm"
        "nopqrsmnopqrstnopqrstu");
    const Bytes million(1000000, 'a');
    const struct {
        const HashDescriptor* hash;
        const Bytes* message;
        const char* digest;
    } vectors[] = {
        {&kHashMd5, nullptr, "900150983cd24fb0d6963f7d28e17f72"},
        {&kHashMd5, &twoBlocks, "8215ef0796a20bcaaae116d3876c664a"},
        {&kHashSha1, nullptr, "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {&kHashSha1, &twoBlocks, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {&kHashSha1, &million, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        {&kHashSha256, nullptr, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {&kHashSha256, &million,
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {&kHashSha384, &twoBlocks512,
         "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa9"
         "1746039"},
        {&kHashSha512, nullptr,
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a"
         "3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
        {&kHashSha512, &million,
         "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce"
         "577c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
    };
    const Bytes abc = Text("abc");
    for (const auto& v : vectors) {
        const Bytes& message = v.message ? *v.message : abc;
        EXPECT_EQ(DigestHex(*v.hash, message), v.digest) << v.hash->name << " " << message.size();
    }
    // The random pool drives the bare compression function: "abc" padded by hand.
    std::uint8_t block[kSha1BlockLength] = {'a', 'b', 'c', 0x80};
    block[63] = 24;
    std::uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    Sha1Compress(h, block);
    EXPECT_EQ(h[0], 0xa9993e36u);
    EXPECT_EQ(h[4], 0x9cd0d89du);
}

// Lengths across the padding boundaries (55/56/63/64 and 111/112/127/128) and
// pieces of every size, in caller-owned state.
TEST_P(HashPaths, AgreeWithLibcryptoOnRandomMessagesAndSplits) {
    const std::pair<const HashDescriptor*, const EVP_MD* (*)()> references[] = {
        {&kHashMd5, EVP_md5},
        {&kHashSha1, EVP_sha1},
        {&kHashSha256, EVP_sha256},
        {&kHashSha384, EVP_sha384},
        {&kHashSha512, EVP_sha512}};
    TestRandom random(2);
    for (const auto& [hash, md] : references) {
        for (int round = 0; round < kDifferentialRounds / 2; ++round) {
            const Bytes data = random.Fill(round < 260 ? round : random.Below(1500));
            alignas(8) std::uint8_t state[kMaxHashStateSize];
            hash->init(state);
            for (std::size_t at = 0; at < data.size();) {
                const std::size_t piece = std::min(data.size() - at, random.Below(260));
                hash->update(state, data.data() + at, piece);
                at += piece;
            }
            std::uint8_t ours[kMaxHashDigestLength];
            hash->final(state, ours);
            EXPECT_TRUE(AllZero(state, hash->stateSize)) << hash->name << " state not wiped";
            std::uint8_t theirs[EVP_MAX_MD_SIZE];
            unsigned int theirLength = 0;
            ASSERT_EQ(EVP_Digest(data.data(), data.size(), theirs, &theirLength, md(), nullptr), 1);
            ASSERT_EQ(ToHex(ours, hash->digestLength), ToHex(theirs, theirLength))
                << hash->name << " length " << data.size();
        }
    }
}

INSTANTIATE_BOTH_PATHS(HashPaths);

// The exchange hash and HMAC copy a state mid-message; nothing in it may point
// into itself.
TEST(HashDescriptors, StateCopiedMidMessageGoesOnAlone) {
    for (const HashDescriptor* hash : {&kHashSha1, &kHashSha256, &kHashSha512}) {
        alignas(8) std::uint8_t state[kMaxHashStateSize];
        alignas(8) std::uint8_t copy[kMaxHashStateSize];
        hash->init(state);
        hash->update(state, "ab", 2);
        std::memcpy(copy, state, hash->stateSize);
        std::memset(state, 0xee, hash->stateSize);
        hash->update(copy, "c", 1);
        std::uint8_t digest[kMaxHashDigestLength];
        hash->final(copy, digest);
        EXPECT_EQ(ToHex(digest, hash->digestLength), DigestHex(*hash, Text("abc"))) << hash->name;
    }
    EXPECT_EQ(FindHash("sha256"), &kHashSha256);
    EXPECT_EQ(FindHash("sha224"), nullptr);
}

}  // namespace
