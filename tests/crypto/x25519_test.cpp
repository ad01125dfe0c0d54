#include "crypto/x25519.h"

#include <openssl/evp.h>

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

}  // namespace
