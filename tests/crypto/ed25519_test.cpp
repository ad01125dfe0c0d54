#include "crypto/ed25519.h"

#include <openssl/evp.h>

#include <algorithm>

#include "crypto/sha512.h"
#include "tests/crypto/crypto_test_support.h"
#include "tests/crypto/pubkey_test_support.h"

namespace {

// The message of RFC 8032 section 7.1 "TEST 1024" (1023 bytes).
const char kTest1024Message[] =
    "08b8b2b733424243760fe426a4b54908632110a66c2f6591eabd3345e3e4eb98fa6e264bf09efe12ee50f8f5"
    "4e9f77b1e355f6c50544e23fb1433ddf73be84d879de7c0046dc4996d9e773f4bc9efe5738829adb26c81b37"
    "c93a1b270b20329d658675fc6ea534e0810a4432826bf58c941efb65d57a338bbd2e26640f89ffbc1a858efc"
    "b8550ee3a5e1998bd177e93a7363c344fe6b199ee5d02e82d522c4feba15452f80288a821a579116ec6dad2b"
    "3b310da903401aa62100ab5d1a36553e06203b33890cc9b832f79ef80560ccb9a39ce767967ed628c6ad573c"
    "b116dbefefd75499da96bd68a8a97b928a8bbc103b6621fcde2beca1231d206be6cd9ec7aff6f6c94fcd7204"
    "ed3455c68c83f4a41da4af2b74ef5c53f1d8ac70bdcb7ed185ce81bd84359d44254d95629e9855a94a7c1958"
    "d1f8ada5d0532ed8a5aa3fb2d17ba70eb6248e594e1a2297acbbb39d502f1a8c6eb6f1ce22b3de1a1f40cc24"
    "554119a831a9aad6079cad88425de6bde1a9187ebb6092cf67bf2b13fd65f27088d78b7e883c8759d2c4f5c6"
    "5adb7553878ad575f9fad878e80a0c9ba63bcbcc2732e69485bbc9c90bfbd62481d9089beccf80cfe2df16a2"
    "cf65bd92dd597b0707e0917af48bbb75fed413d238f5555a7a569d80c3414a8d0859dc65a46128bab27af87a"
    "71314f318c782b23ebfe808b82b0ce26401d2e22f04d83d1255dc51addd3b75a2b1ae0784504df543af8969b"
    "e3ea7082ff7fc9888c144da2af58429ec96031dbcad3dad9af0dcbaaaf268cb8fcffead94f3c7ca495e056a9"
    "b47acdb751fb73e666c6c655ade8297297d07ad1ba5e43f1bca32301651339e22904cc8c42f58c30c04aafdb"
    "038dda0847dd988dcda6f3bfd15c4b4c4525004aa06eeff8ca61783aacec57fb3d1f92b0fe2fd1a85f672451"
    "7b65e614ad6808d6f6ee34dff7310fdc82aebfd904b01e1dc54b2927094b2db68d6f903b68401adebf5a7e08"
    "d78ff4ef5d63653a65040cf9bfd4aca7984a74d37145986780fc0b16ac451649de6188a7dbdf191f64b5fc5e"
    "2ab47b57f7f7276cd419c17a3ca8e1b939ae49e488acba6b965610b5480109c8b17b80e1b7b750dfc7598d5d"
    "5011fd2dcc5600a32ef5b52a1ecc820e308aa342721aac0943bf6686b64b2579376504ccc493d97e6aed3fb0"
    "f9cd71a43dd497f01f17c0e2cb3797aa2a2f256656168e6c496afc5fb93246f6b1116398a346f1a641f3b041"
    "e989f7914f90cc2c7fff357876e506b50d334ba77c225bc307ba537152f3f1610e4eafe595f6d9d90d11faa9"
    "33a15ef1369546868a7f3a45a96768d40fd9d03412c091c6315cf4fde7cb68606937380db2eaaa707b4c4185"
    "c32eddcdd306705e4dc1ffc872eeee475a64dfac86aba41c0618983f8741c5ef68d3a101e8a3b8cac60c905c"
    "15fc910840b94c00a0b9d0";

struct SignatureVector {
    const char* seed;
    const char* publicKey;
    Bytes message;
    const char* signature;
};

std::vector<SignatureVector> Rfc8032Vectors() {
    std::uint8_t abcDigest[kSha512DigestLength];
    Sha512("abc", 3, abcDigest);
    return {
        {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
         "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a",
         {},
         "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701"
         "c"
         "f9b46bd25bf5f0595bbe24655141438e7a100b"},
        {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
         "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", FromHex("72"),
         "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d"
         "0"
         "f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
        {"c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
         "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", FromHex("af82"),
         "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f7609"
         "8"
         "4dc6594a7c15e9716ed28dc027beceea1ec40a"},
        {"f5e5767cf153319517630f226876b86c8160cc583bc013744c6bf255f5cc0ee5",
         "278117fc144c72340f67d0f2316e8386ceffbf2b2428c9c51fef7c597f1d426e",
         FromHex(kTest1024Message),
         "0aab4c900501b3e24d7cdf4663326a3a87df5e4843b2cbdb67cbf6e460fec350aa5371b1508f9f4528ecea23c"
         "4"
         "36d94b5e8fcd4f681e30a6ac00a9704a188a03"},
        {"833fe62409237b9d62ec77587520911e9a759cec1d19755b7da901b96dca3d42",
         "ec172b93ad5e563bf4932c70e1245034c35467ef2efd4d64ebf819683467e2bf",
         Bytes(abcDigest, abcDigest + sizeof abcDigest),
         "dc2a4459e7369633a52b1bf277839a00201009a3efbf3ecb69bea2186c26b58909351fc9ac90b3ecfdfbc7c66"
         "4"
         "31e0303dca179c138ac17ad9bef1177331a704"},
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
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    const bool ok =
        publicKey && EVP_DigestVerifyInit(md, nullptr, nullptr, nullptr, publicKey.get()) > 0 &&
        EVP_DigestVerify(md, signature.data(), signature.size(), message.data(), message.size()) ==
            1;
    EVP_MD_CTX_free(md);
    return ok;
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
