// Published known answers for the block and stream ciphers, through the modes and the
// descriptors the transport uses.
#include "crypto/aes.h"
#include "crypto/arcfour.h"
#include "crypto/blowfish.h"
#include "crypto/cipher.h"
#include "crypto/des.h"
#include "crypto/gcm.h"
#include "tests/crypto/crypto_test_support.h"

namespace {

class AesVectors : public BothPaths {};

Bytes AesEncrypt(const Bytes& key, const Bytes& plaintext) {
    AesKey k;
    AesSetKey(k, key.data(), key.size());
    Bytes out(16);
    AesEncryptBlock(k, plaintext.data(), out.data());
    return out;
}

Bytes AesDecrypt(const Bytes& key, const Bytes& ciphertext) {
    AesKey k;
    AesSetKey(k, key.data(), key.size());
    Bytes out(16);
    AesDecryptBlock(k, ciphertext.data(), out.data());
    return out;
}

// FIPS-197 appendix C.
TEST_P(AesVectors, Fips197ExampleVectorsForEachKeySize) {
    const Bytes plaintext = FromHex("00112233445566778899aabbccddeeff");
    const std::pair<const char*, const char*> vectors[] = {
        {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
         "8ea2b7ca516745bfeafc49904b496089"},
    };
    for (const auto& [key, ciphertext] : vectors) {
        EXPECT_EQ(ToHex(AesEncrypt(FromHex(key), plaintext)), ciphertext);
        EXPECT_EQ(ToHex(AesDecrypt(FromHex(key), FromHex(ciphertext))), ToHex(plaintext));
    }
}

struct ModeVector {
    const CipherDescriptor* cipher;
    const char* key;
    const char* iv;
    const char* ciphertext;
};

// SP 800-38A F.2.1 (CBC, AES-128) and F.5.5 (CTR, AES-256), four blocks each; the
// other key sizes and modes are left to the libcrypto comparison.
const char* const kSp80038aPlaintext =
    "6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52ef f69f2445df4f9b17ad2b417be66c3710";
const char* const kKey128 = "2b7e151628aed2a6abf7158809cf4f3c";
const char* const kKey256 = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";
const char* const kCbcIv = "000102030405060708090a0b0c0d0e0f";
const char* const kCtrIv = "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff";

const ModeVector kSp80038a[] = {
    {&kCipherAes128Cbc, kKey128, kCbcIv,
     "7649abac8119b246cee98e9b12e9197d 5086cb9b507219ee95db113a917678b2"
     "73bed6b8e3c1743b7116e69e22229516 3ff1caa1681fac09120eca307586e1a7"},
    {&kCipherAes256Ctr, kKey256, kCtrIv,
     "601ec313775789a5b7a7f504bbf3d228 f443e3ca4d62b59aca84e990cacaf5c5"
     "2b0930daa23de94ce87017ba2d84988d dfc9c58db67aada613c2dd08457941a6"},
};

// Each vector is also run one block per call, so the chaining state must carry over.
TEST_P(AesVectors, Sp80038aCbcAndCtrWholeAndBlockByBlock) {
    for (const ModeVector& v : kSp80038a) {
        for (std::size_t piece : {std::size_t{64}, std::size_t{16}}) {
            void* context = v.cipher->createContext();
            v.cipher->setKey(context, FromHex(v.key).data());
            v.cipher->setIv(context, FromHex(v.iv).data());
            Bytes data = FromHex(kSp80038aPlaintext);
            for (std::size_t at = 0; at < data.size(); at += piece)
                v.cipher->encrypt(context, data.data() + at, piece);
            EXPECT_EQ(ToHex(data), ToHex(FromHex(v.ciphertext))) << v.cipher->textName;

            v.cipher->setKey(context, FromHex(v.key).data());
            v.cipher->setIv(context, FromHex(v.iv).data());
            for (std::size_t at = 0; at < data.size(); at += piece)
                v.cipher->decrypt(context, data.data() + at, piece);
            EXPECT_EQ(ToHex(data), ToHex(FromHex(kSp80038aPlaintext))) << v.cipher->textName;
            v.cipher->freeContext(context);
        }
    }
}

// The counter is one 128-bit number: all 0xFF wraps to zero, and a carry crosses the
// 64-bit halves, also inside a batch of blocks on the pipelined path.
TEST_P(AesVectors, SdctrCounterCarriesAcrossTheWholeBlockAndWrapsToZero) {
    const Bytes key = FromHex(kKey128);
    AesKey k;
    AesSetKey(k, key.data(), key.size());
    Bytes counter(16, 0xff);
    Bytes data(16, 0);
    AesSdctr(k, counter.data(), data.data(), data.size());
    EXPECT_EQ(ToHex(counter), std::string(32, '0'));
    EXPECT_EQ(ToHex(data), ToHex(AesEncrypt(key, Bytes(16, 0xff))));

    Bytes start = FromHex("0000000000000000fffffffffffffffd");
    Bytes batch(16 * 9, 0);
    counter = start;
    AesSdctr(k, counter.data(), batch.data(), batch.size());
    EXPECT_EQ(ToHex(counter), "00000000000000010000000000000006");
    const Bytes fourth = Bytes(batch.begin() + 48, batch.begin() + 64);
    EXPECT_EQ(ToHex(fourth), ToHex(AesEncrypt(key, FromHex("00000000000000010000000000000000"))));
}

INSTANTIATE_BOTH_PATHS(AesVectors);

Bytes DesEcb(const Bytes& key, const Bytes& plaintext) {
    DesKey k;
    DesSetKey(k, key.data());
    const Block64 out = DesEncrypt(k, LoadBlock64<WordOrder::BigEndian>(plaintext.data()));
    Bytes bytes(8);
    StoreBlock64<WordOrder::BigEndian>(bytes.data(), out);
    return bytes;
}

TEST(DesVectors, KnownAnswersAndDecryption) {
    EXPECT_EQ(ToHex(DesEcb(FromHex("133457799bbcdff1"), FromHex("0123456789abcdef"))),
              "85e813540f0ab405");
    DesKey k;
    DesSetKey(k, FromHex("133457799bbcdff1").data());
    const Block64 back = DesDecrypt(k, {0x85e81354, 0x0f0ab405});
    EXPECT_EQ(back.left, 0x01234567u);
    EXPECT_EQ(back.right, 0x89abcdefu);
}

// The three-key example of SP 800-67.
TEST(DesVectors, TripleDesEdeKnownAnswer) {
    TripleDesKey k;
    TripleDesSetKey(k, FromHex("0123456789abcdef23456789abcdef01456789abcdef0123").data());
    Bytes data = Text("The qufck brown fox jump");
    for (std::size_t at = 0; at < data.size(); at += 8) {
        StoreBlock64<WordOrder::BigEndian>(
            data.data() + at,
            TripleDesEncrypt(k, LoadBlock64<WordOrder::BigEndian>(data.data() + at)));
    }
    EXPECT_EQ(ToHex(data), "a826fd8ce53b855fcce21c8112256fe668d5c05dd9b6b900");
}

TEST(DesVectors, TripleDesSdctrCounterWrapsToZero) {
    void* context = kCipherTripleDesCtr.createContext();
    kCipherTripleDesCtr.setKey(context, Bytes(24, 0x11).data());
    kCipherTripleDesCtr.setIv(context, Bytes(8, 0xff).data());
    Bytes first(8, 0), second(8, 0);
    kCipherTripleDesCtr.encrypt(context, first.data(), 8);
    kCipherTripleDesCtr.encrypt(context, second.data(), 8);
    TripleDesKey k;
    TripleDesSetKey(k, Bytes(24, 0x11).data());
    const Block64 zero = TripleDesEncrypt(k, {0, 0});
    EXPECT_EQ(LoadBlock64<WordOrder::BigEndian>(second.data()).left, zero.left);
    EXPECT_EQ(LoadBlock64<WordOrder::BigEndian>(second.data()).right, zero.right);
    kCipherTripleDesCtr.freeContext(context);
}

Bytes BlowfishEcb(const Bytes& key, const Bytes& plaintext) {
    BlowfishKey k;
    BlowfishSetKey(k, key.data(), key.size());
    Bytes out(8);
    StoreBlock64<WordOrder::BigEndian>(
        out.data(), BlowfishEncrypt(k, LoadBlock64<WordOrder::BigEndian>(plaintext.data())));
    return out;
}

TEST(BlowfishVectors, KnownAnswers) {
    EXPECT_EQ(ToHex(BlowfishEcb(FromHex("0000000000000000"), FromHex("0000000000000000"))),
              "4ef997456198dd78");
    EXPECT_EQ(ToHex(BlowfishEcb(Text("abcdefghijklmnopqrstuvwxyz"), Text("BLOWFISH"))),
              "324ed0fef413a203");
}

// RFC 6229: keystream at offsets 0 and 1536 for 40- and 256-bit keys.
TEST(ArcfourVectors, Rfc6229KeystreamAtOffsets0And1536) {
    struct Vector {
        Bytes key;
        const char* offset0;
        const char* offset1536;
    };
    Bytes key256(32);
    for (int i = 0; i < 32; ++i)
        key256[i] = std::uint8_t(i + 1);
    const Vector vectors[] = {
        {FromHex("0102030405"), "b2396305f03dc027ccc3524a0a1118a8",
         "d8729db41882259bee4f825325f5a130"},
        {key256, "eaa6bd25880bf93d3f5d1e4ca2611d91", "3e34135c79db010200767651cf263073"},
    };
    for (const Vector& v : vectors) {
        ArcfourState raw;
        ArcfourSetKeyRaw(raw, v.key.data(), v.key.size());
        Bytes stream(16, 0);
        ArcfourCrypt(raw, stream.data(), stream.size());
        EXPECT_EQ(ToHex(stream), v.offset0);

        // The SSH key setup discards exactly the first 1536 bytes.
        ArcfourState ssh;
        ArcfourSetKey(ssh, v.key.data(), v.key.size());
        Bytes discarded(16, 0);
        ArcfourCrypt(ssh, discarded.data(), discarded.size());
        EXPECT_EQ(ToHex(discarded), v.offset1536);
    }
}

// Lengths the algorithms do not define are refused instead of read past or
// divided by.
TEST(KeySetup, LengthsOutsideTheAlgorithmAreRefused) {
    const Bytes key(300, 0x11);
    AesKey aes;
    GcmKey gcm;
    BlowfishKey blowfish;
    ArcfourState arcfour;
    for (std::size_t length : {0, 8, 15, 17, 31, 33, 64})
        EXPECT_FALSE(AesSetKey(aes, key.data(), length) || GcmSetKey(gcm, key.data(), length))
            << length;
    for (std::size_t length : {16, 24, 32})
        EXPECT_TRUE(AesSetKey(aes, key.data(), length));
    EXPECT_FALSE(BlowfishSetKey(blowfish, key.data(), 0));
    EXPECT_FALSE(BlowfishSetKey(blowfish, key.data(), 57));
    EXPECT_TRUE(BlowfishSetKey(blowfish, key.data(), 56));
    EXPECT_FALSE(ArcfourSetKey(arcfour, key.data(), 0));
    EXPECT_FALSE(ArcfourSetKeyRaw(arcfour, key.data(), 257));
    EXPECT_TRUE(ArcfourSetKey(arcfour, key.data(), 256));
}

// freeContext wipes through wipeContext before releasing; a live context is inspected here.
TEST(CipherTable, WipeLeavesNoKeyMaterialInTheContext) {
    TestRandom random(21);
    for (const CipherDescriptor* c : CipherList()) {
        void* context = c->createContext();
        c->setKey(context, random.Fill(c->keyLength).data());
        c->setIv(context, random.Fill(c->blockSize).data());
        Bytes data = random.Fill(64);
        c->encrypt(context, data.data(), data.size());
        ASSERT_FALSE(AllZero(context, c->contextSize)) << c->sshName;
        c->wipeContext(context);
        EXPECT_TRUE(AllZero(context, c->contextSize)) << c->sshName;
        c->freeContext(context);
    }
    EXPECT_EQ(FindCipher("aes256-ctr"), &kCipherAes256Ctr);
    EXPECT_EQ(FindCipher("chacha20-poly1305@openssh.com"), nullptr);
}

}  // namespace
