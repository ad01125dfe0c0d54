#include "crypto/ed25519.h"

#include <openssl/evp.h>

#include <algorithm>

#include "tests/crypto/crypto_test_support.h"
#include "tests/crypto/pubkey_test_support.h"

namespace {

struct SignatureVector {
    const char* seed;
    const char* publicKey;
    Bytes message;
    const char* signature;
};

// RFC 8032 section 7.1, TEST 1 to 3; long messages are left to the libcrypto
// comparison below.
std::vector<SignatureVector> Rfc8032Vectors() {
    return {
        {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
         "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a",
         {},
         "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e06522490155"
         "5fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
        {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
         "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", FromHex("72"),
         "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da"
         "085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
        {"c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
         "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", FromHex("af82"),
         "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac"
         "18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28dc027beceea1ec40a"},
    };
}

Bytes PublicOf(const Bytes& seed) {
    Bytes key(kEd25519PublicKeyLength);
    Ed25519PublicKey(seed.data(), key.data());
    return key;
}

Bytes Sign(const Bytes& seed, const Bytes& message) {
    Bytes signature(kEd25519SignatureLength);
    Ed25519Sign(seed.data(), PublicOf(seed).data(), message, signature.data());
    return signature;
}

bool Verify(const Bytes& key, const Bytes& signature, const Bytes& message) {
    return Ed25519Verify(key.data(), signature.data(), message);
}

TEST(Ed25519, Rfc8032Vectors) {
    for (const SignatureVector& v : Rfc8032Vectors()) {
        const Bytes seed = FromHex(v.seed);
        EXPECT_EQ(ToHex(PublicOf(seed)), v.publicKey);
        EXPECT_EQ(ToHex(Sign(seed, v.message)), v.signature) << v.message.size();
        EXPECT_TRUE(Verify(FromHex(v.publicKey), FromHex(v.signature), v.message));
    }
}

// L, little-endian, and a + b over 32 bytes.
const Bytes kOrder = FromHex("edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");

Bytes Add256(const Bytes& a, const Bytes& b) {
    Bytes sum(32);
    unsigned carry = 0;
    for (int i = 0; i < 32; ++i) {
        carry += a[i] + b[i];
        sum[i] = static_cast<std::uint8_t>(carry);
        carry >>= 8;
    }
    return sum;
}

// Each change to a valid signature, key or message must be refused; S + L is the
// malleability a verifier without the range check would accept.
TEST(Ed25519, DamagedOrNonCanonicalInputsRefused) {
    const SignatureVector v = Rfc8032Vectors()[2];
    const Bytes key = FromHex(v.publicKey), signature = FromHex(v.signature);
    ASSERT_TRUE(Verify(key, signature, v.message));
    for (std::size_t bit = 0; bit < 512; bit += 5) {
        Bytes damaged = signature;
        damaged[bit / 8] ^= static_cast<std::uint8_t>(1 << (bit % 8));
        EXPECT_FALSE(Verify(key, damaged, v.message)) << "signature bit " << bit;
    }
    for (std::size_t bit = 0; bit < 256; bit += 3) {
        Bytes damaged = key;
        damaged[bit / 8] ^= static_cast<std::uint8_t>(1 << (bit % 8));
        EXPECT_FALSE(Verify(damaged, signature, v.message)) << "key bit " << bit;
    }
    EXPECT_FALSE(Verify(key, signature, FromHex("af83")));
    EXPECT_FALSE(Verify(key, signature, FromHex("af8200")));
    EXPECT_FALSE(Verify(key, signature, {}));

    const Bytes s(signature.begin() + 32, signature.end());
    const struct {
        const char* what;
        Bytes s;
    } ranges[] = {
        {"S + L", Add256(s, kOrder)}, {"S = L", kOrder}, {"S = 2^256 - 1", Bytes(32, 0xFF)}};
    for (const auto& range : ranges) {
        Bytes bad = signature;
        std::copy(range.s.begin(), range.s.end(), bad.begin() + 32);
        EXPECT_FALSE(Verify(key, bad, v.message)) << range.what;
    }

    // Keys that do not decode: y = p + 1 (y = 1 unreduced), y = 1 with x = "-0", and y = 2,
    // which has no x on the curve.
    const char* badKeys[] = {
        "eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",
        "0100000000000000000000000000000000000000000000000000000000000080",
        "0200000000000000000000000000000000000000000000000000000000000000",
    };
    for (const char* badKey : badKeys)
        EXPECT_FALSE(Verify(FromHex(badKey), signature, v.message)) << badKey;
    // An R with y >= p never equals the canonical encoding that verification computes.
    Bytes unreducedR = signature;
    for (int i = 0; i < 32; ++i)
        unreducedR[i] = i == 0 ? 0xEE : i == 31 ? 0x7F : 0xFF;
    EXPECT_FALSE(Verify(key, unreducedR, v.message));
}

EvpKey LibcryptoKey(const Bytes& seed) {
    return EvpKey(
        EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size()));
}

bool LibcryptoVerifies(const Bytes& key, const Bytes& signature, const Bytes& message) {
    EvpKey publicKey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()));
    return ::LibcryptoVerifies(publicKey.get(), nullptr, signature, message);
}

// Same keys and (deterministic) signatures as libcrypto; each side accepts the other's
// signatures and both refuse the same damaged ones.
TEST(Ed25519, AgreesWithLibcryptoBothWays) {
    TestRandom random(31);
    for (int round = 0; round < kDifferentialRounds / 10; ++round) {
        const Bytes seed = random.Fill(32);
        const Bytes message = random.Fill(random.Below(300));
        EvpKey theirs = LibcryptoKey(seed);
        const Bytes key = PublicOf(seed);
        ASSERT_EQ(ToHex(key), ToHex(Ed25519RawPublic(theirs.get())));
        const Bytes ourSignature = Sign(seed, message);
        const Bytes theirSignature = Ed25519Signature(theirs.get(), message);
        ASSERT_EQ(ToHex(ourSignature), ToHex(theirSignature));
        EXPECT_TRUE(LibcryptoVerifies(key, ourSignature, message));
        EXPECT_TRUE(Verify(key, theirSignature, message));

        Bytes damaged = theirSignature;
        damaged[random.Below(64)] ^= static_cast<std::uint8_t>(1 + random.Below(255));
        EXPECT_EQ(Verify(key, damaged, message), LibcryptoVerifies(key, damaged, message));
        EXPECT_FALSE(Verify(key, damaged, message));
    }
}

}  // namespace
