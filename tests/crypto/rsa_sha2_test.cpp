// RSA: signatures with SHA-1 and SHA-2 (ssh-rsa, rsa-sha2-256, rsa-sha2-512) made by
// libcrypto verify through our rows and the ways a signature can be for something else
// are refused; which keys are usable, signatures not below the modulus, and the SSH-1
// session-key padding.
#include <gtest/gtest.h>

#include "crypto/hash.h"
#include "crypto/rsa.h"
#include "pubkey_test_support.h"
#include "tests/crypto/crypto_test_support.h"

namespace {

struct Signer {
    const char* row;
    const char* hashName;
    const EVP_MD* (*md)();
};
constexpr Signer kSigners[] = {
    {"ssh-rsa", "sha1", EVP_sha1},
    {"rsa-sha2-256", "sha256", EVP_sha256},
    {"rsa-sha2-512", "sha512", EVP_sha512},
};

const EvpKey& Key(unsigned bits) {
    static EvpKey k1024 = GenerateRsa(1024), k2048 = GenerateRsa(2048);
    return bits == 1024 ? k1024 : k2048;
}

const Bytes kExchangeHash(32, 0xA7);

class RsaSha2 : public ::testing::TestWithParam<unsigned> {
  protected:
    void SetUp() override { blob_ = RsaKeyBlob(Key(GetParam()).get()); }
    Bytes blob_;
};

// Every signer's signature verifies through its own row and through RsaVerifyPkcs1 with
// its hash, and through no other row or hash.
TEST_P(RsaSha2, EachSignatureVerifiesOnlyWithItsOwnHashAndName) {
    for (const Signer& signer : kSigners) {
        const Bytes signature = SignWith(Key(GetParam()).get(), signer.md(), kExchangeHash);
        ASSERT_EQ(signature.size(), GetParam() / 8);
        for (const Signer& row : kSigners) {
            const PublicKeyAlgorithm* algorithm = FindPublicKeyAlgorithm(row.row);
            ASSERT_TRUE(algorithm);
            PublicKeyPtr key(algorithm->newKey(blob_));
            ASSERT_TRUE(key) << row.row;
            const bool same = &row == &signer;
            for (const Signer& name : kSigners) {
                EXPECT_EQ(
                    algorithm->verify(*key, SignatureBlob(name.row, signature), kExchangeHash),
                    same && &name == &row)
                    << "signed " << signer.hashName << ", row " << row.row << ", named "
                    << name.row;
            }
            const auto& rsa = static_cast<const RsaPublicKey&>(*key);
            EXPECT_EQ(RsaVerifyPkcs1(rsa, *FindHash(row.hashName), signature, kExchangeHash), same);
        }
        Bytes other = kExchangeHash;
        other[0] ^= 0x80;
        PublicKeyPtr key(PublicKeyFromBlob(blob_));
        EXPECT_FALSE(RsaVerifyPkcs1(static_cast<const RsaPublicKey&>(*key),
                                    *FindHash(signer.hashName), signature, other));
    }
}

// The signature is exactly as long as the modulus: neither shortened nor padded.
TEST_P(RsaSha2, SignatureLengthMustEqualTheModulusLength) {
    PublicKeyPtr key(kSshRsaSha256.newKey(blob_));
    ASSERT_TRUE(key);
    const Bytes signature = SignWith(Key(GetParam()).get(), EVP_sha256(), kExchangeHash);
    Bytes truncated(signature.begin(), signature.end() - 1), zeroPrefixed = signature,
                                                             trailing = signature;
    zeroPrefixed.insert(zeroPrefixed.begin(), 0);
    trailing.push_back(0);
    for (const Bytes* damaged : {&truncated, &zeroPrefixed, &trailing}) {
        EXPECT_FALSE(
            kSshRsaSha256.verify(*key, SignatureBlob("rsa-sha2-256", *damaged), kExchangeHash))
            << damaged->size();
    }
    Bytes blob = SignatureBlob("rsa-sha2-256", signature);
    blob.push_back(0);
    EXPECT_FALSE(kSshRsaSha256.verify(*key, blob, kExchangeHash)) << "bytes after the blob";
    EXPECT_TRUE(
        kSshRsaSha256.verify(*key, SignatureBlob("rsa-sha2-256", signature), kExchangeHash));

    // A signature that starts with a zero byte, sent without it, is the same number:
    // "ssh-rsa" takes it (some signers strip the zeros), the SHA-2 names do not.
    Bytes data(4, 0), zeroLed;
    for (std::uint32_t i = 0; i < 5000 && zeroLed.empty(); ++i) {
        data.assign({std::uint8_t(i), std::uint8_t(i >> 8), 0, 0});
        const Bytes candidate = SignWith(Key(GetParam()).get(), EVP_sha256(), data);
        if (candidate[0] == 0) zeroLed = candidate;
    }
    ASSERT_FALSE(zeroLed.empty());
    const Bytes stripped(zeroLed.begin() + 1, zeroLed.end());
    EXPECT_TRUE(kSshRsaSha256.verify(*key, SignatureBlob("rsa-sha2-256", zeroLed), data));
    EXPECT_FALSE(kSshRsaSha256.verify(*key, SignatureBlob("rsa-sha2-256", stripped), data));
}

INSTANTIATE_TEST_SUITE_P(Bits, RsaSha2, ::testing::Values(1024u, 2048u));

// The rows take and give the "ssh-rsa" blob, print the key type in the fingerprint, and
// refuse keys below 1024 bits (which "ssh-rsa" still takes).
TEST(RsaSha2Rows, BlobFingerprintAndMinimumSize) {
    const Bytes blob = RsaKeyBlob(Key(2048).get());
    PublicKeyPtr classic(PublicKeyFromBlob(blob));
    ASSERT_TRUE(classic);
    EXPECT_EQ(classic->algorithm, &kSshRsa) << "blobs are found by their own name";
    for (const PublicKeyAlgorithm* row : {&kSshRsaSha256, &kSshRsaSha512}) {
        PublicKeyPtr key(row->newKey(blob));
        ASSERT_TRUE(key) << row->sshName;
        EXPECT_EQ(key->algorithm, row);
        EXPECT_EQ(row->keyBlob(*key), blob);
        EXPECT_EQ(row->fingerprint(*key, {}), kSshRsa.fingerprint(*classic, {}));
        EXPECT_EQ(row->fingerprint(*key, {}).rfind("ssh-rsa 2048 ", 0), 0u);
        EXPECT_EQ(row->keyBits(*key), 2048u);
    }

    EvpKey small = GenerateRsa(768);
    ASSERT_TRUE(small);
    const Bytes smallBlob = RsaKeyBlob(small.get());
    EXPECT_TRUE(PublicKeyPtr(kSshRsa.newKey(smallBlob)));
    EXPECT_FALSE(PublicKeyPtr(kSshRsaSha256.newKey(smallBlob)));
    EXPECT_FALSE(PublicKeyPtr(kSshRsaSha512.newKey(smallBlob)));

    Bytes dssNamed;
    AppendString(dssNamed, "ssh-dss");
    dssNamed.insert(dssNamed.end(), blob.begin() + 11, blob.end());
    EXPECT_FALSE(PublicKeyPtr(kSshRsaSha256.newKey(dssNamed)));
}

RsaPrivateKey PrivateOf(EVP_PKEY* key) {
    auto number = [key](const char* name) { return FromBn(KeyNumber(key, name).get()); };
    return {number(OSSL_PKEY_PARAM_RSA_N),         number(OSSL_PKEY_PARAM_RSA_E),
            number(OSSL_PKEY_PARAM_RSA_D),         number(OSSL_PKEY_PARAM_RSA_FACTOR1),
            number(OSSL_PKEY_PARAM_RSA_FACTOR2),   number(OSSL_PKEY_PARAM_RSA_EXPONENT1),
            number(OSSL_PKEY_PARAM_RSA_EXPONENT2), number(OSSL_PKEY_PARAM_RSA_COEFFICIENT1)};
}

// PKCS #1 v1.5 signatures are deterministic, so ours must equal libcrypto's byte for byte
// (the blinding must cancel out), and libcrypto must accept them.
TEST_P(RsaSha2, SigningMatchesLibcrypto) {
    EVP_PKEY* evp = Key(GetParam()).get();
    const RsaPrivateKey key = PrivateOf(evp);
    TestRandom random(GetParam());
    for (const Signer& signer : kSigners) {
        for (std::size_t length : {0, 1, 32, 200}) {
            const Bytes data = random.Fill(length);
            const std::vector<std::uint8_t> ours =
                RsaSignPkcs1(key, *FindHash(signer.hashName), data);
            ASSERT_EQ(ours.size(), GetParam() / 8) << signer.hashName;
            EXPECT_EQ(Bytes(ours.begin(), ours.end()), SignWith(evp, signer.md(), data))
                << signer.hashName << " " << length;
            EXPECT_TRUE(LibcryptoVerifies(evp, signer.md(), Bytes(ours.begin(), ours.end()), data));
        }
    }
}

// A damaged CRT exponent gives a wrong half; the self-check catches it instead of
// returning a signature that would reveal a factor of the modulus.
TEST(RsaSigning, FaultsAndUnknownHashesGiveNoSignature) {
    RsaPrivateKey key = PrivateOf(Key(1024).get());
    const Bytes data = {1, 2, 3};
    EXPECT_TRUE(RsaSignPkcs1(key, kHashMd5, data).empty());
    key.exponent1 = Add(key.exponent1, BigNum(2));
    EXPECT_TRUE(RsaSignPkcs1(key, kHashSha256, data).empty());
}

RsaPublicKey* MakeKey(BigNum e, BigNum n) {
    return static_cast<RsaPublicKey*>(RsaNewKey(e, n));
}

TEST(RsaKey, UnusableNumbersAreRefused) {
    BigNum n = FromBn(KeyNumber(Key(1024).get(), OSSL_PKEY_PARAM_RSA_N).get());
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
    EVP_PKEY* privateKey = Key(1024).get();
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
    BigNum n = FromBn(KeyNumber(Key(1024).get(), OSSL_PKEY_PARAM_RSA_N).get());
    std::unique_ptr<RsaPublicKey, PublicKeyDeleter> key(MakeKey(BigNum(65537), n));
    BigNum first, second;
    EXPECT_TRUE(RsaSsh1Encrypt(*key, Bytes(128 - 11, 0xAB), &first));
    EXPECT_TRUE(RsaSsh1Encrypt(*key, Bytes(128 - 11, 0xAB), &second));
    EXPECT_NE(first, second);
    EXPECT_FALSE(RsaSsh1Encrypt(*key, Bytes(128 - 10, 0xAB), &first));
}

}  // namespace
