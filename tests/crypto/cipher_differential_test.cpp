// Every SSH cipher against libcrypto on random keys, IVs and packet sizes, with the mode
// state carried across several packets as the transport does.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>
#include <openssl/des.h>
#include <openssl/evp.h>
#include <openssl/rc4.h>

#include <cstring>
#include <functional>

#include "crypto/cipher.h"
#include "tests/crypto/crypto_test_support.h"

namespace {

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
        {&kCipherAes256CbcRijndaelAlias, Evp(EVP_aes_256_cbc)},
        {&kCipherAes192Cbc, Evp(EVP_aes_192_cbc)},
        {&kCipherAes128Cbc, Evp(EVP_aes_128_cbc)},
        {&kCipherBlowfishCtr, BlowfishCounter},
        {&kCipherBlowfishCbc, BlowfishCbc},
        {&kCipherTripleDesCtr, TripleDesCounter},
        {&kCipherTripleDesCbc, Evp(EVP_des_ede3_cbc)},
        {&kCipherArcfour256, Arcfour},
        {&kCipherArcfour128, Arcfour},
        {&kCipherDesCbc, SingleDesCbc},
        {&kCipherDesCbcAlias, SingleDesCbc},
        {&kCipherSsh1TripleDes, TripleDesInnerCbc},
        {&kCipherSsh1Blowfish, Ssh1Blowfish},
        {&kCipherSsh1Des, SingleDesCbc},
    };
}

// Counters near a carry are likelier than random ones to expose carry faults.
Bytes RandomIv(TestRandom& random, std::size_t length) {
    Bytes iv = random.Fill(length);
    if (random.Below(4) == 0) {
        for (std::size_t i = length / 2; i < length; ++i)
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
