// X25519 and Ed25519: the RFC 7748 and RFC 8032 vectors, small-order points, damaged and
// non-canonical signatures and keys, and agreement with libcrypto both ways.
#include "crypto/x25519.h"

#include <openssl/evp.h>

#include <algorithm>

#include "crypto/ed25519.h"
#include "tests/crypto/crypto_test_support.h"
#include "tests/crypto/pubkey_test_support.h"

namespace {

Bytes Shared(const Bytes& scalar, const Bytes& u, bool* nonZero = nullptr) {
    Bytes out(kX25519Length);
    const bool ok = X25519(out.data(), scalar.data(), u.data());
    if (nonZero) *nonZero = ok;
    return out;
}

Bytes Public(const Bytes& scalar) {
    Bytes out(kX25519Length);
    X25519Base(out.data(), scalar.data());
    return out;
}

// RFC 7748 sections 5.2 and 6.1; the second u has its top bit set, which must be ignored.
// The u of 9 rows are Alice's and Bob's public values, so the base-point path runs them too.
constexpr const char* kAlice = "77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a";
constexpr const char* kBob = "5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb";
constexpr const char* kNine = "0900000000000000000000000000000000000000000000000000000000000000";
constexpr const char* kShared = "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742";

TEST(X25519, Rfc7748Vectors) {
    const struct {
        const char* scalar;
        const char* u;
        const char* out;
    } vectors[] = {
        {"a546e36bf0527c9d3b16154b82465edd62144c0ac1fc5a18506a2244ba449ac4",
         "e6db6867583030db3594c1a424b15f7c726624ec26b3353b10a903a6d0ab1c4c",
         "c3da55379de9c6908e94ea4df28d084f32eccf03491c71f754b4075577a28552"},
        {"4b66e9d4d1b4673c5ad22691957d6af5c11b6421e0ea01d42ca4169e7918ba0d",
         "e5210f12786811d3f4b7959d0538ae2c31dbe7106fc03c3efc4cd549c715a493",
         "95cbde9476e8907d7aade45cb4b873f88b595a68799fa152e6f8f7647aac7957"},
        {kAlice, kNine, "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a"},
        {kBob, kNine, "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f"},
        {kAlice, "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f", kShared},
        {kBob, "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a", kShared},
    };
    for (const auto& v : vectors) {
        EXPECT_EQ(ToHex(Shared(FromHex(v.scalar), FromHex(v.u))), v.out);
        if (v.u == kNine) {
            EXPECT_EQ(ToHex(Public(FromHex(v.scalar))), v.out);
        }
    }
}

// k and u both start at 9; each round k, u = X25519(k, u), k.
TEST(X25519, Rfc7748IteratedResults) {
    Bytes k(32, 0), u(32, 0);
    k[0] = u[0] = 9;
    for (int i = 1; i <= 1000; ++i) {
        Bytes next = Shared(k, u);
        u = k;
        k = next;
        if (i == 1) {
            EXPECT_EQ(ToHex(k), "422c8e7a6227d7bca1350b3e2bb7279f7897b87bb6854b783c60e80311ae3079");
        }
    }
    EXPECT_EQ(ToHex(k), "684cf59ba83309552800ef566f2f4d3c1c3887c49360e3875f2eb94d99532c51");
}

// Points of order 1, 2, 4 and 8 give the all-zero result, reported as false; a u at or
// above p counts as its value mod p.
TEST(X25519, SmallOrderPointsRefusedAndUnreducedUAccepted) {
    const Bytes scalar = TestRandom(21).Fill(32);
    const char* smallOrder[] = {
        "0000000000000000000000000000000000000000000000000000000000000000",
        "0100000000000000000000000000000000000000000000000000000000000000",
        "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",  // p - 1
        "e0eb7a7c3b41b8ae1656e3faf19fc46ada098deb9c32b1fd866205165f49b800",
        "5f9c95bca3508c24b1d0b1559c83ef5b04445cc4581c8e86d8224eddd09f1157",
        "edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f",  // p, i.e. 0
    };
    for (const char* u : smallOrder) {
        bool nonZero = true;
        EXPECT_EQ(ToHex(Shared(scalar, FromHex(u), &nonZero)), std::string(64, '0')) << u;
        EXPECT_FALSE(nonZero) << u;
    }
    Bytes nine(32, 0), pPlusNine = FromHex(smallOrder[5]);
    nine[0] = 9;
    pPlusNine[0] += 9;
    bool nonZero = false;
    EXPECT_EQ(ToHex(Shared(scalar, pPlusNine, &nonZero)), ToHex(Public(scalar)));
    EXPECT_TRUE(nonZero);
}

EvpKey X25519Key(const Bytes& scalar) {
    return EvpKey(
        EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, scalar.data(), scalar.size()));
}

Bytes TheirPublic(EVP_PKEY* key) {
    Bytes out(32);
    std::size_t length = out.size();
    EVP_PKEY_get_raw_public_key(key, out.data(), &length);
    return out;
}

Bytes TheirShared(EVP_PKEY* mine, const Bytes& peerPublic) {
    EvpKey peer(EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, peerPublic.data(),
                                            peerPublic.size()));
    EvpCtx ctx(EVP_PKEY_CTX_new(mine, nullptr));
    Bytes out(32);
    std::size_t length = out.size();
    if (EVP_PKEY_derive_init(ctx.get()) <= 0 ||
        EVP_PKEY_derive_set_peer(ctx.get(), peer.get()) <= 0 ||
        EVP_PKEY_derive(ctx.get(), out.data(), &length) <= 0) {
        return {};
    }
    return out;
}

// Our public values equal libcrypto's for the same scalar, and both sides of an exchange
// between our key and libcrypto's reach the same secret.
TEST(X25519, AgreesWithLibcryptoBothWays) {
    TestRandom random(22);
    for (int round = 0; round < kDifferentialRounds / 10; ++round) {
        const Bytes ours = random.Fill(32), theirs = random.Fill(32);
        EvpKey theirKey = X25519Key(theirs), ourKeyInLibcrypto = X25519Key(ours);
        ASSERT_EQ(ToHex(Public(ours)), ToHex(TheirPublic(ourKeyInLibcrypto.get())));
        const Bytes theirPublic = TheirPublic(theirKey.get());
        bool nonZero = false;
        const Bytes ourSecret = Shared(ours, theirPublic, &nonZero);
        EXPECT_TRUE(nonZero);
        ASSERT_EQ(ToHex(ourSecret), ToHex(TheirShared(theirKey.get(), Public(ours))));
        // A random u (not necessarily on the curve: the twist works too) as the peer value.
        Bytes u = random.Fill(32);
        u[31] &= 0x7F;
        ASSERT_EQ(ToHex(Shared(ours, u)), ToHex(TheirShared(ourKeyInLibcrypto.get(), u)));
    }
}

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
// signatures.
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
    }
}

}  // namespace
