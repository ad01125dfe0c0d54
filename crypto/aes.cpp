#include "crypto/aes.h"

#include <array>
#include <cstring>

#include "crypto/aes_ni.h"
#include "crypto/byte_order.h"
#include "crypto/cpu_features.h"
#include "platform/wipe.h"

namespace {

// The tables are derived from GF(2^8) arithmetic at compile time.
constexpr std::uint8_t GfDouble(std::uint8_t x) {
    return std::uint8_t((x << 1) ^ ((x & 0x80) ? 0x1b : 0));
}

constexpr std::uint8_t GfMultiply(std::uint8_t a, std::uint8_t b) {
    std::uint8_t product = 0;
    for (; b != 0; b >>= 1, a = GfDouble(a)) {
        if (b & 1) product ^= a;
    }
    return product;
}

constexpr std::uint8_t GfInverse(std::uint8_t x) {
    std::uint8_t result = 1;  // x^254; maps 0 to 0
    for (int i = 0; i < 254; ++i)
        result = GfMultiply(result, x);
    return x == 0 ? 0 : result;
}

constexpr std::uint8_t Rotl8(std::uint8_t x, int n) {
    return std::uint8_t((x << n) | (x >> (8 - n)));
}

struct AesTables {
    std::uint8_t sbox[256];
    std::uint8_t inverseSbox[256];
    std::uint32_t encrypt[4][256];
    std::uint32_t decrypt[4][256];
};

constexpr std::uint32_t Word(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return (std::uint32_t(a) << 24) | (std::uint32_t(b) << 16) | (std::uint32_t(c) << 8) | d;
}

constexpr std::uint32_t RotrWord(std::uint32_t v, int n) {
    return n == 0 ? v : (v >> n) | (v << (32 - n));
}

constexpr AesTables MakeTables() {
    AesTables t{};
    for (int x = 0; x < 256; ++x) {
        const std::uint8_t inv = GfInverse(std::uint8_t(x));
        const auto s = std::uint8_t(inv ^ Rotl8(inv, 1) ^ Rotl8(inv, 2) ^ Rotl8(inv, 3) ^
                                    Rotl8(inv, 4) ^ 0x63);
        t.sbox[x] = s;
        t.inverseSbox[s] = std::uint8_t(x);
    }
    for (int x = 0; x < 256; ++x) {
        const std::uint8_t s = t.sbox[x];
        const std::uint8_t is = t.inverseSbox[x];
        const std::uint32_t e = Word(GfMultiply(s, 2), s, s, GfMultiply(s, 3));
        const std::uint32_t d =
            Word(GfMultiply(is, 14), GfMultiply(is, 9), GfMultiply(is, 13), GfMultiply(is, 11));
        for (int r = 0; r < 4; ++r) {
            t.encrypt[r][x] = RotrWord(e, 8 * r);
            t.decrypt[r][x] = RotrWord(d, 8 * r);
        }
    }
    return t;
}

constexpr AesTables kTables = MakeTables();
constexpr auto& Te = kTables.encrypt;
constexpr auto& Td = kTables.decrypt;
constexpr auto& Sbox = kTables.sbox;
constexpr auto& InvSbox = kTables.inverseSbox;

inline std::uint32_t B(std::uint32_t w, int index) {
    return (w >> (24 - 8 * index)) & 0xff;
}

std::uint32_t SubWord(std::uint32_t w) {
    return Word(Sbox[B(w, 0)], Sbox[B(w, 1)], Sbox[B(w, 2)], Sbox[B(w, 3)]);
}

std::uint32_t InverseMixColumn(std::uint32_t w) {
    return Td[0][Sbox[B(w, 0)]] ^ Td[1][Sbox[B(w, 1)]] ^ Td[2][Sbox[B(w, 2)]] ^
           Td[3][Sbox[B(w, 3)]];
}

void ExpandKey(AesKey& key, const std::uint8_t* keyBytes, std::size_t keyLength) {
    const int nk = static_cast<int>(keyLength / 4);
    key.rounds = nk + 6;
    const int total = 4 * (key.rounds + 1);
    std::uint32_t* w = key.encrypt;
    for (int i = 0; i < nk; ++i)
        w[i] = LoadBe32(keyBytes + 4 * i);
    std::uint8_t roundConstant = 1;
    for (int i = nk; i < total; ++i) {
        std::uint32_t temp = w[i - 1];
        if (i % nk == 0) {
            temp = SubWord(Rotl32(temp, 8)) ^ (std::uint32_t(roundConstant) << 24);
            roundConstant = GfDouble(roundConstant);
        } else if (nk > 6 && i % nk == 4) {
            temp = SubWord(temp);
        }
        w[i] = w[i - nk] ^ temp;
    }
    // Equivalent inverse cipher: round keys in reverse order, inner ones through InvMixColumns.
    for (int round = 0; round <= key.rounds; ++round) {
        for (int c = 0; c < 4; ++c) {
            const std::uint32_t source = w[4 * (key.rounds - round) + c];
            const bool inner = round > 0 && round < key.rounds;
            key.decrypt[4 * round + c] = inner ? InverseMixColumn(source) : source;
        }
    }
}

void EncryptPortable(const AesKey& key, const std::uint8_t* in, std::uint8_t* out) {
    const std::uint32_t* rk = key.encrypt;
    std::uint32_t s0 = LoadBe32(in) ^ rk[0], s1 = LoadBe32(in + 4) ^ rk[1];
    std::uint32_t s2 = LoadBe32(in + 8) ^ rk[2], s3 = LoadBe32(in + 12) ^ rk[3];
    for (int round = 1; round < key.rounds; ++round) {
        rk += 4;
        const std::uint32_t t0 =
            Te[0][B(s0, 0)] ^ Te[1][B(s1, 1)] ^ Te[2][B(s2, 2)] ^ Te[3][B(s3, 3)] ^ rk[0];
        const std::uint32_t t1 =
            Te[0][B(s1, 0)] ^ Te[1][B(s2, 1)] ^ Te[2][B(s3, 2)] ^ Te[3][B(s0, 3)] ^ rk[1];
        const std::uint32_t t2 =
            Te[0][B(s2, 0)] ^ Te[1][B(s3, 1)] ^ Te[2][B(s0, 2)] ^ Te[3][B(s1, 3)] ^ rk[2];
        const std::uint32_t t3 =
            Te[0][B(s3, 0)] ^ Te[1][B(s0, 1)] ^ Te[2][B(s1, 2)] ^ Te[3][B(s2, 3)] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    StoreBe32(out, Word(Sbox[B(s0, 0)], Sbox[B(s1, 1)], Sbox[B(s2, 2)], Sbox[B(s3, 3)]) ^ rk[0]);
    StoreBe32(out + 4,
              Word(Sbox[B(s1, 0)], Sbox[B(s2, 1)], Sbox[B(s3, 2)], Sbox[B(s0, 3)]) ^ rk[1]);
    StoreBe32(out + 8,
              Word(Sbox[B(s2, 0)], Sbox[B(s3, 1)], Sbox[B(s0, 2)], Sbox[B(s1, 3)]) ^ rk[2]);
    StoreBe32(out + 12,
              Word(Sbox[B(s3, 0)], Sbox[B(s0, 1)], Sbox[B(s1, 2)], Sbox[B(s2, 3)]) ^ rk[3]);
}

void DecryptPortable(const AesKey& key, const std::uint8_t* in, std::uint8_t* out) {
    const std::uint32_t* rk = key.decrypt;
    std::uint32_t s0 = LoadBe32(in) ^ rk[0], s1 = LoadBe32(in + 4) ^ rk[1];
    std::uint32_t s2 = LoadBe32(in + 8) ^ rk[2], s3 = LoadBe32(in + 12) ^ rk[3];
    for (int round = 1; round < key.rounds; ++round) {
        rk += 4;
        const std::uint32_t t0 =
            Td[0][B(s0, 0)] ^ Td[1][B(s3, 1)] ^ Td[2][B(s2, 2)] ^ Td[3][B(s1, 3)] ^ rk[0];
        const std::uint32_t t1 =
            Td[0][B(s1, 0)] ^ Td[1][B(s0, 1)] ^ Td[2][B(s3, 2)] ^ Td[3][B(s2, 3)] ^ rk[1];
        const std::uint32_t t2 =
            Td[0][B(s2, 0)] ^ Td[1][B(s1, 1)] ^ Td[2][B(s0, 2)] ^ Td[3][B(s3, 3)] ^ rk[2];
        const std::uint32_t t3 =
            Td[0][B(s3, 0)] ^ Td[1][B(s2, 1)] ^ Td[2][B(s1, 2)] ^ Td[3][B(s0, 3)] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    StoreBe32(
        out,
        Word(InvSbox[B(s0, 0)], InvSbox[B(s3, 1)], InvSbox[B(s2, 2)], InvSbox[B(s1, 3)]) ^ rk[0]);
    StoreBe32(
        out + 4,
        Word(InvSbox[B(s1, 0)], InvSbox[B(s0, 1)], InvSbox[B(s3, 2)], InvSbox[B(s2, 3)]) ^ rk[1]);
    StoreBe32(
        out + 8,
        Word(InvSbox[B(s2, 0)], InvSbox[B(s1, 1)], InvSbox[B(s0, 2)], InvSbox[B(s3, 3)]) ^ rk[2]);
    StoreBe32(
        out + 12,
        Word(InvSbox[B(s3, 0)], InvSbox[B(s2, 1)], InvSbox[B(s1, 2)], InvSbox[B(s0, 3)]) ^ rk[3]);
}

void XorBlock(std::uint8_t* target, const std::uint8_t* source) {
    for (std::size_t i = 0; i < kAesBlockLength; ++i)
        target[i] ^= source[i];
}

void IncrementCounter(std::uint8_t* counter, std::size_t length) {
    for (std::size_t i = length; i-- > 0;) {
        if (++counter[i] != 0) break;
    }
}

}  // namespace

bool AesSetKey(AesKey& key, const std::uint8_t* keyBytes, std::size_t keyLength) {
    if (keyLength != 16 && keyLength != 24 && keyLength != 32) return false;
    ExpandKey(key, keyBytes, keyLength);
    key.aesNi = UseAesNi();
    if (key.aesNi) AesNiPrepareKeys(key.encrypt, key.rounds, key.niEncrypt, key.niDecrypt);
    return true;
}

void AesWipe(AesKey& key) {
    SecureWipeObject(key);
}

void AesEncryptBlock(const AesKey& key, const std::uint8_t in[16], std::uint8_t out[16]) {
    if (key.aesNi) return AesNiEncryptBlock(key.niEncrypt, key.rounds, in, out);
    EncryptPortable(key, in, out);
}

void AesDecryptBlock(const AesKey& key, const std::uint8_t in[16], std::uint8_t out[16]) {
    if (key.aesNi) return AesNiDecryptBlock(key.niDecrypt, key.rounds, in, out);
    DecryptPortable(key, in, out);
}

void AesCbcEncrypt(const AesKey& key, std::uint8_t iv[16], std::uint8_t* data, std::size_t length) {
    const std::size_t blocks = length / kAesBlockLength;
    if (key.aesNi) return AesNiCbcEncrypt(key.niEncrypt, key.rounds, iv, data, blocks);
    const std::uint8_t* previous = iv;
    for (std::size_t i = 0; i < blocks; ++i, data += kAesBlockLength) {
        XorBlock(data, previous);
        EncryptPortable(key, data, data);
        previous = data;
    }
    if (blocks > 0) std::memcpy(iv, previous, kAesBlockLength);
}

void AesCbcDecrypt(const AesKey& key, std::uint8_t iv[16], std::uint8_t* data, std::size_t length) {
    const std::size_t blocks = length / kAesBlockLength;
    if (key.aesNi) return AesNiCbcDecrypt(key.niDecrypt, key.rounds, iv, data, blocks);
    std::uint8_t ciphertext[kAesBlockLength];
    for (std::size_t i = 0; i < blocks; ++i, data += kAesBlockLength) {
        std::memcpy(ciphertext, data, kAesBlockLength);
        DecryptPortable(key, data, data);
        XorBlock(data, iv);
        std::memcpy(iv, ciphertext, kAesBlockLength);
    }
}

void AesSdctr(const AesKey& key, std::uint8_t counter[16], std::uint8_t* data, std::size_t length) {
    const std::size_t blocks = length / kAesBlockLength;
    if (key.aesNi) return AesNiSdctr(key.niEncrypt, key.rounds, counter, data, blocks);
    std::uint8_t keystream[kAesBlockLength];
    for (std::size_t i = 0; i < blocks; ++i, data += kAesBlockLength) {
        EncryptPortable(key, counter, keystream);
        XorBlock(data, keystream);
        IncrementCounter(counter, kAesBlockLength);
    }
    SecureWipeObject(keystream);
}
