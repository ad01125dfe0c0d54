#include "crypto/sha512.h"

#include <openssl/evp.h>

#include "crypto/hash.h"
#include "tests/crypto/crypto_test_support.h"

namespace {

struct Sha512Vector {
    Bytes message;
    const char* sha384;
    const char* sha512;
};

std::string Sha512Hex(const Bytes& message) {
    std::uint8_t digest[kSha512DigestLength];
    Sha512(message.data(), message.size(), digest);
    return ToHex(digest, sizeof digest);
}

std::string Sha384Hex(const Bytes& message) {
    std::uint8_t digest[kSha384DigestLength];
    Sha384(message.data(), message.size(), digest);
    return ToHex(digest, sizeof digest);
}

// FIPS 180-4 examples: the empty message, "abc", the 896-bit message (two blocks after
// padding) and a million 'a'.
TEST(Sha512, PublishedVectors) {
    const Sha512Vector vectors[] = {
        {Text(""),
         "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14"
         "898b95b",
         "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d28"
         "77eec2f63b931bd47417a81a538327af927da3e"},
        {Text("abc"),
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca1"
         "34c825a7",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a"
         "3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
        {Text("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmn"
              "op"
              "qrlmnopqrsmnopqrstnopqrstu"),
         "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa9"
         "1746039",
         "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec"
         "4b5433ac7d329eeb6dd26545e96e55b874be909"},
        {Bytes(1000000, 'a'),
         "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87"
         "f3d8985",
         "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce"
         "577c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
    };
    for (const Sha512Vector& v : vectors) {
        EXPECT_EQ(Sha512Hex(v.message), v.sha512) << v.message.size();
        EXPECT_EQ(Sha384Hex(v.message), v.sha384) << v.message.size();
    }
}

// Random lengths across several blocks and the padding boundaries (111, 112, 127, 128),
// fed in random pieces through the descriptors, against libcrypto.
TEST(Sha512, AgreesWithLibcryptoOnRandomMessagesAndSplits) {
    const std::pair<const HashDescriptor*, const EVP_MD* (*)()> references[] = {
        {&kHashSha384, EVP_sha384}, {&kHashSha512, EVP_sha512}};
    TestRandom random(11);
    for (const auto& [hash, md] : references) {
        for (int round = 0; round < kDifferentialRounds / 2; ++round) {
            const Bytes data = random.Fill(round < 260 ? round : random.Below(1001));
            alignas(8) std::uint8_t state[kMaxHashStateSize];
            hash->init(state);
            for (std::size_t at = 0; at < data.size();) {
                const std::size_t piece = std::min(data.size() - at, random.Below(260));
                hash->update(state, data.data() + at, piece);
                at += piece;
            }
            std::uint8_t ours[kMaxHashDigestLength];
            hash->final(state, ours);
            std::uint8_t theirs[EVP_MAX_MD_SIZE];
            unsigned int theirLength = 0;
            ASSERT_EQ(EVP_Digest(data.data(), data.size(), theirs, &theirLength, md(), nullptr), 1);
            ASSERT_EQ(ToHex(ours, hash->digestLength), ToHex(theirs, theirLength))
                << hash->name << " length " << data.size();
        }
    }
}

}  // namespace
