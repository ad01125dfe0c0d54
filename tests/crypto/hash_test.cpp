// MD5, SHA-1 and the SHA-2 family through their descriptors: the published vectors
// on both paths, and libcrypto on random messages fed in random pieces (the state
// wiped by final); and the bcrypt key derivation of key files built on SHA-512.
#include "crypto/hash.h"

#include <openssl/evp.h>

#include "crypto/bcrypt_pbkdf.h"
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

struct BcryptVector {
    Bytes passphrase;
    Bytes salt;
    std::uint32_t rounds;
    const char* key;  // its length is the key length asked for
};

// The first is OpenBSD's regression vector; the others come from an independent
// implementation (pyca/bcrypt's kdf) and cover the interleaving of output bytes
// for key lengths that do not divide evenly (33, 80), the 48 bytes OpenSSH asks
// for aes256-ctr, one round and a one-byte key.
TEST(BcryptPbkdf, KnownVectors) {
    const BcryptVector vectors[] = {
        {Text("password"), Text("salt"), 4,
         "5bbf0cc293587f1c3635555c27796598d47e579071bf427e9d8fbe842aba34d9"},
        {Text("password"), Bytes(16, 0), 16,
         "d5a5cbccc68dd2599ba9f56817d414c00d7ef81f37ebc44d5d626e82937aa1223c94b683f3ec30383f8de79d"
         "d023e059"},
        {Bytes{0}, FromHex("0102030405060708"), 1,
         "4f5629fcf48c6e7314f17ef3c86116ce578e4fa805cf0e2976944f56a469f3e1d5"},
        {Text("correct horse battery staple"), Text("NaCl-seasoned"), 2,
         "b49e764a18baf80b93470f59f6522b233fd34fa4202f39a75a9fc99fff378680c40899b2ad08c76c7e4efaad"
         "2ab227554ee6670181c2bc1fa30d2bfa6c85e3fe62c0f61f932a89ba545344d73d191416"},
        {Text("p"), Text("s"), 8, "b5"},
    };
    for (const BcryptVector& v : vectors) {
        Bytes key(std::string_view(v.key).size() / 2);
        ASSERT_TRUE(BcryptPbkdf(v.passphrase, v.salt, v.rounds, key));
        EXPECT_EQ(ToHex(key), v.key) << "rounds " << v.rounds << ", length " << key.size();
    }
}

TEST(BcryptPbkdf, RefusesArgumentsOutOfRange) {
    const Bytes pass = Text("pass"), salt = Text("salt");
    const Bytes empty;
    Bytes key(32, 0xee), huge(32 * 32 + 1);
    EXPECT_FALSE(BcryptPbkdf(pass, salt, 0, key));
    EXPECT_FALSE(BcryptPbkdf(empty, salt, 1, key));
    EXPECT_FALSE(BcryptPbkdf(pass, empty, 1, key));
    EXPECT_FALSE(BcryptPbkdf(pass, salt, 1, std::span<std::uint8_t>()));
    EXPECT_FALSE(BcryptPbkdf(pass, salt, 1, huge));
    EXPECT_EQ(key, Bytes(32, 0xee));
}

}  // namespace
