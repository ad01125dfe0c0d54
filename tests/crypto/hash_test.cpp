#include "crypto/hash.h"

#include <openssl/evp.h>

#include <cstring>

#include "crypto/md5.h"
#include "crypto/sha256.h"
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

TEST_P(HashPaths, Sha256PublishedVectors) {
    EXPECT_EQ(DigestHex(kHashSha256, Text("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(DigestHex(kHashSha256, Text("")),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(
        DigestHex(kHashSha256, Text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
        "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(DigestHex(kHashSha256, Bytes(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST_P(HashPaths, Md5PublishedVectors) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [message, digest] : vectors)
        EXPECT_EQ(DigestHex(kHashMd5, Text(message)), digest) << message;
}

struct Reference {
    const HashDescriptor* ours;
    const EVP_MD* (*theirs)();
};

// Lengths around the padding boundary (55, 56, 63, 64) and pieces of every size.
TEST_P(HashPaths, AgreeWithLibcryptoOnRandomMessagesAndSplits) {
    const Reference references[] = {
        {&kHashMd5, EVP_md5}, {&kHashSha1, EVP_sha1}, {&kHashSha256, EVP_sha256}};
    TestRandom random(2);
    for (const Reference& reference : references) {
        const HashDescriptor& hash = *reference.ours;
        for (int round = 0; round < kDifferentialRounds; ++round) {
            const Bytes data = random.Fill(round < 130 ? round : random.Below(1500));
            void* context = hash.create();
            for (std::size_t at = 0; at < data.size();) {
                const std::size_t piece = std::min(data.size() - at, 1 + random.Below(130));
                hash.add(context, data.data() + at, piece);
                at += piece;
            }
            std::uint8_t ours[kMaxHashDigestLength];
            hash.finish(context, ours);
            std::uint8_t theirs[EVP_MAX_MD_SIZE];
            unsigned int theirLength = 0;
            ASSERT_EQ(EVP_Digest(data.data(), data.size(), theirs, &theirLength, reference.theirs(),
                                 nullptr),
                      1);
            ASSERT_EQ(ToHex(ours, hash.digestLength), ToHex(theirs, theirLength))
                << hash.name << " length " << data.size();
        }
    }
}

INSTANTIATE_BOTH_PATHS(HashPaths);

TEST(HashDescriptors, FoundByName) {
    for (const HashDescriptor* hash : {&kHashMd5, &kHashSha1, &kHashSha256, &kHashSha512})
        EXPECT_EQ(FindHash(hash->name), hash);
    EXPECT_EQ(FindHash("sha224"), nullptr);
}

TEST(HashDescriptors, CallerOwnedStateCanBeCopiedMidMessage) {
    alignas(8) std::uint8_t state[kMaxHashStateSize];
    alignas(8) std::uint8_t copy[kMaxHashStateSize];
    kHashSha256.init(state);
    kHashSha256.update(state, "ab", 2);
    std::memcpy(copy, state, kHashSha256.stateSize);
    kHashSha256.update(state, "c", 1);
    kHashSha256.update(copy, "c", 1);
    std::uint8_t first[32], second[32];
    kHashSha256.final(state, first);
    kHashSha256.final(copy, second);
    EXPECT_EQ(ToHex(first, 32), ToHex(second, 32));
    EXPECT_EQ(ToHex(first, 32), DigestHex(kHashSha256, Text("abc")));
}

TEST(HashDescriptors, FinalWipesCallerOwnedState) {
    for (const HashDescriptor* hash : {&kHashMd5, &kHashSha1, &kHashSha256, &kHashSha512}) {
        alignas(8) std::uint8_t state[kMaxHashStateSize];
        hash->init(state);
        hash->update(state, "secret material", 15);
        std::uint8_t digest[kMaxHashDigestLength];
        hash->final(state, digest);
        EXPECT_TRUE(AllZero(state, hash->stateSize)) << hash->name;
    }
}

}  // namespace
