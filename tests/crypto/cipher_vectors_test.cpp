// Published known answers for the block and stream ciphers, through the modes and the
// descriptors the transport uses; and every SSH cipher against libcrypto on random keys,
// IVs and packet sizes, with the mode state carried across several packets as the
// transport does.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>
#include <openssl/des.h>
#include <openssl/evp.h>
#include <openssl/rc4.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "crypto/aes.h"
#include "crypto/arcfour.h"
#include "crypto/blowfish.h"
#include "crypto/cipher.h"
#include "crypto/gcm.h"
#include "tests/crypto/crypto_test_support.h"

namespace {

class CipherVectors : public BothPaths {};

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

INSTANTIATE_BOTH_PATHS(CipherVectors);

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
}

// A reference encrypts (or decrypts) the next packet of the stream it was set up for.
using ReferenceStream = std::function<void(std::uint8_t* data, std::size_t length)>;
using ReferenceFactory =
    std::function<ReferenceStream(const Bytes& key, const Bytes& iv, bool encrypt)>;

ReferenceStream EvpStream(const EVP_CIPHER* type, const Bytes& key, const Bytes& iv, bool encrypt) {
    std::shared_ptr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    EXPECT_EQ(EVP_CipherInit_ex(ctx.get(), type, nullptr, key.data(), iv.data(), encrypt ? 1 : 0),
              1);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    return [ctx](std::uint8_t* data, std::size_t length) {
        if (length == 0) return;
        int outLength = 0;
        Bytes out(length + 32);
        ASSERT_EQ(
            EVP_CipherUpdate(ctx.get(), out.data(), &outLength, data, static_cast<int>(length)), 1);
        ASSERT_EQ(static_cast<std::size_t>(outLength), length);
        std::memcpy(data, out.data(), length);
    };
}

ReferenceFactory Evp(const EVP_CIPHER* (*type)()) {
    return [type](const Bytes& key, const Bytes& iv, bool encrypt) {
        return EvpStream(type(), key, iv, encrypt);
    };
}

void IncrementCounter(Bytes& counter) {
    for (std::size_t i = counter.size(); i-- > 0;) {
        if (++counter[i] != 0) break;
    }
}

// SDCTR over a 64-bit block cipher given as one-block ECB encryption.
ReferenceStream CounterStream(std::function<void(const std::uint8_t*, std::uint8_t*)> ecb,
                              Bytes counter) {
    auto state = std::make_shared<Bytes>(std::move(counter));
    return [ecb, state](std::uint8_t* data, std::size_t length) {
        std::uint8_t keystream[8];
        for (std::size_t at = 0; at + 8 <= length; at += 8) {
            ecb(state->data(), keystream);
            for (int i = 0; i < 8; ++i)
                data[at + i] ^= keystream[i];
            IncrementCounter(*state);
        }
    };
}

ReferenceStream TripleDesCounter(const Bytes& key, const Bytes& iv, bool) {
    auto ctx = std::shared_ptr<EVP_CIPHER_CTX>(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    EVP_EncryptInit_ex(ctx.get(), EVP_des_ede3_ecb(), nullptr, key.data(), nullptr);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    return CounterStream(
        [ctx](const std::uint8_t* in, std::uint8_t* out) {
            int n = 0;
            EVP_EncryptUpdate(ctx.get(), out, &n, in, 8);
        },
        iv);
}

ReferenceStream BlowfishCounter(const Bytes& key, const Bytes& iv, bool) {
    auto bf = std::make_shared<BF_KEY>();
    BF_set_key(bf.get(), static_cast<int>(key.size()), key.data());
    return CounterStream([bf](const std::uint8_t* in,
                              std::uint8_t* out) { BF_ecb_encrypt(in, out, bf.get(), BF_ENCRYPT); },
                         iv);
}

ReferenceStream BlowfishCbc(const Bytes& key, const Bytes& iv, bool encrypt) {
    auto bf = std::make_shared<BF_KEY>();
    BF_set_key(bf.get(), static_cast<int>(key.size()), key.data());
    auto chain = std::make_shared<Bytes>(iv);
    return [bf, chain, encrypt](std::uint8_t* data, std::size_t length) {
        if (length == 0) return;
        Bytes out(length);
        BF_cbc_encrypt(data, out.data(), static_cast<long>(length), bf.get(), chain->data(),
                       encrypt ? BF_ENCRYPT : BF_DECRYPT);
        std::memcpy(data, out.data(), length);
    };
}

// One DES stage in CBC with its own chain; the building block of the references below.
struct DesCbcStage {
    DES_key_schedule schedule;
    DES_cblock iv;
    void Run(std::uint8_t* data, std::size_t length, bool encrypt) {
        if (length == 0) return;
        Bytes out(length);
        DES_ncbc_encrypt(data, out.data(), static_cast<long>(length), &schedule, &iv,
                         encrypt ? DES_ENCRYPT : DES_DECRYPT);
        std::memcpy(data, out.data(), length);
    }
};

std::shared_ptr<DesCbcStage> MakeStage(const std::uint8_t* key, const Bytes& iv) {
    auto stage = std::make_shared<DesCbcStage>();
    DES_cblock k;
    std::memcpy(k, key, 8);
    DES_set_key_unchecked(&k, &stage->schedule);
    std::memcpy(stage->iv, iv.data(), 8);
    return stage;
}

ReferenceStream SingleDesCbc(const Bytes& key, const Bytes& iv, bool encrypt) {
    auto stage = MakeStage(key.data(), iv);
    return [stage, encrypt](std::uint8_t* data, std::size_t length) {
        stage->Run(data, length, encrypt);
    };
}

// SSH-1 triple DES: three single-DES CBC passes, each with its own chain.
ReferenceStream TripleDesInnerCbc(const Bytes& key, const Bytes& iv, bool encrypt) {
    auto s1 = MakeStage(key.data(), iv), s2 = MakeStage(key.data() + 8, iv),
         s3 = MakeStage(key.data() + 16, iv);
    return [s1, s2, s3, encrypt](std::uint8_t* data, std::size_t length) {
        if (encrypt) {
            s1->Run(data, length, true);
            s2->Run(data, length, false);
            s3->Run(data, length, true);
        } else {
            s3->Run(data, length, false);
            s2->Run(data, length, true);
            s1->Run(data, length, false);
        }
    };
}

// RC4 with the 1536 discarded keystream bytes of the SSH variants.
ReferenceStream Arcfour(const Bytes& key, const Bytes&, bool) {
    auto rc4 = std::make_shared<RC4_KEY>();
    RC4_set_key(rc4.get(), static_cast<int>(key.size()), key.data());
    Bytes discard(1536, 0);
    RC4(rc4.get(), discard.size(), discard.data(), discard.data());
    return [rc4](std::uint8_t* data, std::size_t length) {
        if (length == 0) return;
        Bytes out(length);
        RC4(rc4.get(), length, data, out.data());
        std::memcpy(data, out.data(), length);
    };
}

// SSH-1 Blowfish reads each 32-bit half little-endian: swap around a big-endian reference.
ReferenceStream Ssh1Blowfish(const Bytes& key, const Bytes& iv, bool encrypt) {
    auto swap = [](std::uint8_t* data, std::size_t length) {
        for (std::size_t at = 0; at + 4 <= length; at += 4)
            std::reverse(data + at, data + at + 4);
    };
    Bytes swappedIv = iv;
    swap(swappedIv.data(), swappedIv.size());
    ReferenceStream inner = BlowfishCbc(key, swappedIv, encrypt);
    return [inner, swap](std::uint8_t* data, std::size_t length) {
        swap(data, length);
        inner(data, length);
        swap(data, length);
    };
}

struct CipherCase {
    const CipherDescriptor* cipher;
    ReferenceFactory reference;
};

std::vector<CipherCase> AllCases() {
    return {
        {&kCipherAes256Ctr, Evp(EVP_aes_256_ctr)},
        {&kCipherAes192Ctr, Evp(EVP_aes_192_ctr)},
        {&kCipherAes128Ctr, Evp(EVP_aes_128_ctr)},
        {&kCipherAes256Cbc, Evp(EVP_aes_256_cbc)},
        {&kCipherAes192Cbc, Evp(EVP_aes_192_cbc)},
        {&kCipherAes128Cbc, Evp(EVP_aes_128_cbc)},
        {&kCipherBlowfishCtr, BlowfishCounter},
        {&kCipherBlowfishCbc, BlowfishCbc},
        {&kCipherTripleDesCtr, TripleDesCounter},
        {&kCipherTripleDesCbc, Evp(EVP_des_ede3_cbc)},
        {&kCipherArcfour256, Arcfour},
        {&kCipherArcfour128, Arcfour},
        {&kCipherDesCbc, SingleDesCbc},
        {&kCipherSsh1TripleDes, TripleDesInnerCbc},
        {&kCipherSsh1Blowfish, Ssh1Blowfish},
        {&kCipherSsh1Des, SingleDesCbc},
    };
}

// Counters near a carry are likelier than random ones to expose carry faults: one
// across the halves of the block (the 64-bit words of the pipelined AES path), or the
// wrap of the whole counter to zero.
Bytes RandomIv(TestRandom& random, std::size_t length) {
    Bytes iv = random.Fill(length);
    if (random.Below(4) == 0) {
        for (std::size_t i = random.Below(2) ? 0 : length / 2; i < length; ++i)
            iv[i] = 0xff;
        iv[length - 1] = std::uint8_t(0xff - random.Below(20));
    }
    return iv;
}

class CipherDifferential : public BothPaths {};

TEST_P(CipherDifferential, EncryptAndDecryptAgreeWithLibcryptoAcrossPackets) {
    TestRandom random(GetParam() == CryptoPath::Fast ? 10 : 11);
    for (const CipherCase& c : AllCases()) {
        const CipherDescriptor& cipher = *c.cipher;
        const std::size_t block = cipher.blockSize < 8 ? 8 : cipher.blockSize;
        // Only AES has two code paths; the slower 64-bit block ciphers get fewer rounds.
        const bool aes = cipher.family == CipherFamily::Aes;
        if (!aes && GetParam() == CryptoPath::Portable) continue;
        const int rounds = aes ? kDifferentialRounds / 2 : kDifferentialRounds / 10;
        for (int round = 0; round < rounds; ++round) {
            const Bytes key = random.Fill(cipher.keyLength);
            const Bytes iv = RandomIv(random, cipher.blockSize < 8 ? 8 : cipher.blockSize);
            void* encryptor = cipher.createContext();
            void* decryptor = cipher.createContext();
            for (void* context : {encryptor, decryptor}) {
                cipher.setKey(context, key.data());
                cipher.setIv(context, iv.data());
            }
            ReferenceStream referenceEncrypt = c.reference(key, iv, true);
            ReferenceStream referenceDecrypt = c.reference(key, iv, false);
            const int packets = 1 + static_cast<int>(random.Below(4));
            for (int packet = 0; packet < packets; ++packet) {
                const Bytes plaintext = random.Fill(block * random.Below(40));
                Bytes ours = plaintext, theirs = plaintext;
                cipher.encrypt(encryptor, ours.data(), ours.size());
                referenceEncrypt(theirs.data(), theirs.size());
                ASSERT_EQ(ToHex(ours), ToHex(theirs)) << cipher.textName << " packet " << packet;
                Bytes theirPlaintext = theirs;
                cipher.decrypt(decryptor, ours.data(), ours.size());
                referenceDecrypt(theirPlaintext.data(), theirPlaintext.size());
                ASSERT_EQ(ToHex(ours), ToHex(plaintext)) << cipher.textName << " decrypt";
                ASSERT_EQ(ToHex(theirPlaintext), ToHex(plaintext)) << cipher.textName;
            }
            cipher.freeContext(encryptor);
            cipher.freeContext(decryptor);
        }
    }
}

INSTANTIATE_BOTH_PATHS(CipherDifferential);

}  // namespace
