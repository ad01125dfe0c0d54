// RSA details: which keys are usable, signatures not below the modulus, and the
// SSH-1 session-key padding.
#include <gtest/gtest.h>

#include "crypto/rsa.h"
#include "pubkey_test_support.h"

namespace {

const EvpKey& Rsa1024() {
    static EvpKey key = GenerateRsa(1024);
    return key;
}

RsaPublicKey* MakeKey(BigNum e, BigNum n) {
    return static_cast<RsaPublicKey*>(RsaNewKey(e, n));
}

TEST(RsaKey, UnusableNumbersAreRefused) {
    BigNum n = FromBn(KeyNumber(Rsa1024().get(), OSSL_PKEY_PARAM_RSA_N).get());
    BigNum small = BigNum::FromBytes(std::vector<std::uint8_t>(32, 0xF1));
    struct Case {
        const char* what;
        BigNum e, n;
        bool accepted;
    } cases[] = {
        {"ordinary", BigNum(65537), n, true},
        {"exponent three", BigNum(3), n, true},
        {"exponent one", BigNum(1), n, false},
        {"even exponent", BigNum(65536), n, false},
        {"exponent equal to modulus", n, n, false},
        {"even modulus", BigNum(65537), Add(n, BigNum(1)), false},
        {"256-bit modulus", BigNum(65537), small, false},
    };
    for (const Case& c : cases) {
        PublicKeyPtr key(RsaNewKey(c.e, c.n));
        EXPECT_EQ(key != nullptr, c.accepted) << c.what;
    }
}

// s + n has the same residue as s, so without the range check a genuine
// signature plus the modulus would pass as a second, different signature.
TEST(RsaKey, SignatureNotBelowTheModulusFails) {
    EVP_PKEY* privateKey = Rsa1024().get();
    BigNum n = FromBn(KeyNumber(privateKey, OSSL_PKEY_PARAM_RSA_N).get());
    PublicKeyPtr key(RsaNewKey(BigNum(65537), n));
    ASSERT_TRUE(key);
    const auto& rsa = static_cast<const RsaPublicKey&>(*key);

    Bytes aliased(128);
    Bytes data = {0};
    bool fits = false;
    // About one signature in three leaves room for s + n in 128 bytes.
    for (int attempt = 0; attempt < 200 && !fits; ++attempt) {
        data[0] = static_cast<std::uint8_t>(attempt);
        Bytes signature = RsaSignature(privateKey, data);
        ASSERT_TRUE(RsaVerifySha1(rsa, signature, data));
        fits = Add(BigNum::FromBytes(signature), n).ToBytes(aliased);
    }
    ASSERT_TRUE(fits);
    EXPECT_FALSE(RsaVerifySha1(rsa, aliased, data));

    Bytes modulus(128);
    n.ToBytes(modulus);
    EXPECT_FALSE(RsaVerifySha1(rsa, modulus, data));
}

// The session key's decryption by the server is covered end to end in
// tests/ssh/ssh1_test; here the padding's room and randomness.
TEST(RsaSsh1, DataNeedsElevenBytesOfRoomAndRandomPadding) {
    BigNum n = FromBn(KeyNumber(Rsa1024().get(), OSSL_PKEY_PARAM_RSA_N).get());
    std::unique_ptr<RsaPublicKey, PublicKeyDeleter> key(MakeKey(BigNum(65537), n));
    BigNum first, second;
    EXPECT_TRUE(RsaSsh1Encrypt(*key, Bytes(128 - 11, 0xAB), &first));
    EXPECT_TRUE(RsaSsh1Encrypt(*key, Bytes(128 - 11, 0xAB), &second));
    EXPECT_NE(first, second);
    EXPECT_FALSE(RsaSsh1Encrypt(*key, Bytes(128 - 10, 0xAB), &first));
}

}  // namespace
