// Published known answers for the block and stream ciphers, through the modes and the
// descriptors the transport uses.
#include <algorithm>

#include "crypto/aes.h"
#include "crypto/arcfour.h"
#include "crypto/blowfish.h"
#include "crypto/cipher.h"
#include "crypto/des.h"
#include "crypto/gcm.h"
#include "tests/crypto/crypto_test_support.h"

namespace {

class CipherVectors : public BothPaths {};

Bytes AesEncrypt(const Bytes& key, const Bytes& plaintext) {
    AesKey k;
    AesSetKey(k, key.data(), key.size());
    Bytes out(16);
    AesEncryptBlock(k, plaintext.data(), out.data());
    return out;
}

// Published answers through the descriptors the transport uses, whole and one block per
// call (so the chaining state must carry over), encrypting and decrypting. A single
// block under CBC with a zero IV is the block cipher's own answer. The other key sizes
// and modes are left to the libcrypto comparison.
const struct {
    const CipherDescriptor* cipher;
    const char *key, *iv, *plain, *encrypted;
} kVectors[] = {
    // SP 800-38A F.2.1 and F.5.5.
    {&kCipherAes128Cbc, "2b7e151628aed2a6abf7158809cf4f3c", "000102030405060708090a0b0c0d0e0f",
     "6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af8e51",
     "7649abac8119b246cee98e9b12e9197d 5086cb9b507219ee95db113a917678b2"},
    {&kCipherAes256Ctr, "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
     "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff",
     "6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af8e51",
     "601ec313775789a5b7a7f504bbf3d228 f443e3ca4d62b59aca84e990cacaf5c5"},
    // FIPS-197 C.3, as one CBC block.
    {&kCipherAes256Cbc, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00000000000000000000000000000000", "00112233445566778899aabbccddeeff",
     "8ea2b7ca516745bfeafc49904b496089"},
    // The classic DES example, the SP 800-67 three-key example's first block, and
    // Blowfish with a 16-byte key (Eric Young's key-length vectors).
    {&kCipherDesCbc, "133457799bbcdff1", "0000000000000000", "0123456789abcdef",
     "85e813540f0ab405"},
    {&kCipherTripleDesCbc, "0123456789abcdef23456789abcdef01456789abcdef0123", "0000000000000000",
     "5468652071756663", "a826fd8ce53b855f"},
    {&kCipherBlowfishCbc, "f0e1d2c3b4a5968778695a4b3c2d1e0f", "0000000000000000",
     "fedcba9876543210", "93142887ee3be15c"},
    // RFC 6229: the 256-bit key's keystream at offset 1536, where the SSH setup starts.
    {&kCipherArcfour256, "0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20",
     "0000000000000000", "00000000000000000000000000000000", "3e34135c79db010200767651cf263073"},
};

TEST_P(CipherVectors, PublishedAnswersWholeAndBlockByBlock) {
    for (const auto& v : kVectors) {
        SCOPED_TRACE(v.cipher->textName);
        const Bytes plain = FromHex(v.plain), encrypted = FromHex(v.encrypted);
        for (std::size_t piece : {plain.size(), std::max<std::size_t>(v.cipher->blockSize, 8)}) {
            void* context = v.cipher->createContext();
            Bytes data = plain;
            for (bool encrypt : {true, false}) {
                v.cipher->setKey(context, FromHex(v.key).data());
                v.cipher->setIv(context, FromHex(v.iv).data());
                for (std::size_t at = 0; at < data.size(); at += piece)
                    (encrypt ? v.cipher->encrypt : v.cipher->decrypt)(context, data.data() + at,
                                                                      piece);
                EXPECT_EQ(ToHex(data), ToHex(encrypt ? encrypted : plain)) << piece;
            }
            v.cipher->freeContext(context);
        }
    }
}

// The counter is one 128-bit number: all 0xFF wraps to zero, and a carry crosses the
// 64-bit halves, also inside a batch of blocks on the pipelined path.
TEST_P(CipherVectors, SdctrCounterCarriesAcrossTheWholeBlockAndWrapsToZero) {
    const Bytes key = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
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

INSTANTIATE_BOTH_PATHS(CipherVectors);

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
