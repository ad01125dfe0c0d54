#include "crypto/gcm.h"

#include <cstring>

#include "crypto/cpu_features.h"
#include "crypto/poly1305.h"
#include "platform/wipe.h"

namespace {

std::uint64_t ReadBe64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v = (v << 8) | p[i];
    return v;
}

void WriteBe64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 7; i >= 0; --i, v >>= 8)
        p[i] = std::uint8_t(v);
}

// The low 64 bits of the carry-less product, by integer multiplication of operands with
// holes: each quarter keeps every fourth bit, so the sums of partial products in a column
// stay below 16 and never carry into the next column of the same quarter within 64 bits.
// No table, no branch, no secret-dependent address.
std::uint64_t ClmulLow(std::uint64_t x, std::uint64_t y) {
    constexpr std::uint64_t m0 = 0x1111111111111111, m1 = m0 << 1, m2 = m0 << 2, m3 = m0 << 3;
    const std::uint64_t x0 = x & m0, x1 = x & m1, x2 = x & m2, x3 = x & m3;
    const std::uint64_t y0 = y & m0, y1 = y & m1, y2 = y & m2, y3 = y & m3;
    const std::uint64_t z0 = (x0 * y0) ^ (x1 * y3) ^ (x2 * y2) ^ (x3 * y1);
    const std::uint64_t z1 = (x0 * y1) ^ (x1 * y0) ^ (x2 * y3) ^ (x3 * y2);
    const std::uint64_t z2 = (x0 * y2) ^ (x1 * y1) ^ (x2 * y0) ^ (x3 * y3);
    const std::uint64_t z3 = (x0 * y3) ^ (x1 * y2) ^ (x2 * y1) ^ (x3 * y0);
    return (z0 & m0) | (z1 & m1) | (z2 & m2) | (z3 & m3);
}

std::uint64_t Reverse64(std::uint64_t v) {
    v = ((v >> 1) & 0x5555555555555555) | ((v & 0x5555555555555555) << 1);
    v = ((v >> 2) & 0x3333333333333333) | ((v & 0x3333333333333333) << 2);
    v = ((v >> 4) & 0x0F0F0F0F0F0F0F0F) | ((v & 0x0F0F0F0F0F0F0F0F) << 4);
    return __builtin_bswap64(v);
}

// The same layout as the instruction path (see ghash_clmul.cpp): blocks as big-endian
// numbers, the product shifted left by one and its low half folded into the high half.
// High halves of the 64-bit products come from the products of the bit-reversed operands.
void GhashPortable(const std::uint64_t h[2], std::uint8_t y[16], const std::uint8_t* data,
                   std::size_t blocks) {
    const std::uint64_t h1 = h[0], h0 = h[1], h2 = h0 ^ h1;
    const std::uint64_t h0r = Reverse64(h0), h1r = Reverse64(h1), h2r = h0r ^ h1r;
    std::uint64_t y1 = ReadBe64(y), y0 = ReadBe64(y + 8);
    for (; blocks > 0; --blocks, data += 16) {
        y1 ^= ReadBe64(data);
        y0 ^= ReadBe64(data + 8);
        const std::uint64_t y2 = y0 ^ y1;
        const std::uint64_t y0r = Reverse64(y0), y1r = Reverse64(y1), y2r = y0r ^ y1r;
        // Karatsuba over the two halves.
        const std::uint64_t z0 = ClmulLow(y0, h0), z1 = ClmulLow(y1, h1);
        std::uint64_t z2 = ClmulLow(y2, h2);
        std::uint64_t z0h = ClmulLow(y0r, h0r), z1h = ClmulLow(y1r, h1r);
        std::uint64_t z2h = ClmulLow(y2r, h2r);
        z2 ^= z0 ^ z1;
        z2h ^= z0h ^ z1h;
        z0h = Reverse64(z0h) >> 1;
        z1h = Reverse64(z1h) >> 1;
        z2h = Reverse64(z2h) >> 1;
        std::uint64_t v0 = z0, v1 = z0h ^ z2, v2 = z1 ^ z2h, v3 = z1h;
        v3 = (v3 << 1) | (v2 >> 63);
        v2 = (v2 << 1) | (v1 >> 63);
        v1 = (v1 << 1) | (v0 >> 63);
        v0 <<= 1;
        v2 ^= v0 ^ (v0 >> 1) ^ (v0 >> 2) ^ (v0 >> 7);
        v1 ^= (v0 << 63) ^ (v0 << 62) ^ (v0 << 57);
        v3 ^= v1 ^ (v1 >> 1) ^ (v1 >> 2) ^ (v1 >> 7);
        v2 ^= (v1 << 63) ^ (v1 << 62) ^ (v1 << 57);
        y0 = v2;
        y1 = v3;
    }
    WriteBe64(y, y1);
    WriteBe64(y + 8, y0);
}

void GhashBlocks(const GcmKey& key, std::uint8_t y[16], const std::uint8_t* data,
                 std::size_t blocks) {
    if (key.pclmul) return GhashClmulBlocks(key.hPowers, y, data, blocks);
    GhashPortable(key.h, y, data, blocks);
}

// Whole blocks, then the rest padded with zeros.
void GhashPadded(const GcmKey& key, std::uint8_t y[16], const std::uint8_t* data,
                 std::size_t length) {
    GhashBlocks(key, y, data, length / 16);
    if (length % 16 != 0) {
        std::uint8_t last[16] = {};
        std::memcpy(last, data + length / 16 * 16, length % 16);
        GhashBlocks(key, y, last, 1);
        SecureWipeObject(last);
    }
}

void ComputeTag(const GcmKey& key, const std::uint8_t* iv, const std::uint8_t* aad,
                std::size_t aadLength, const std::uint8_t* ciphertext, std::size_t length,
                std::uint8_t tag[16]) {
    std::uint8_t y[16] = {};
    GhashPadded(key, y, aad, aadLength);
    GhashPadded(key, y, ciphertext, length);
    std::uint8_t lengths[16];
    WriteBe64(lengths, std::uint64_t(aadLength) * 8);
    WriteBe64(lengths + 8, std::uint64_t(length) * 8);
    GhashBlocks(key, y, lengths, 1);

    std::uint8_t j0[16];
    std::memcpy(j0, iv, kGcmIvLength);
    j0[12] = j0[13] = j0[14] = 0;
    j0[15] = 1;
    AesEncryptBlock(key.aes, j0, j0);
    for (int i = 0; i < 16; ++i)
        tag[i] = y[i] ^ j0[i];
    SecureWipeObject(y);
    SecureWipeObject(j0);
}

// Counter mode from J0 + 1. The SDCTR counter carries over all 128 bits, which is GCM's
// 32-bit increment for any message below 2^32 blocks.
void CounterMode(const GcmKey& key, const std::uint8_t* iv, std::uint8_t* data,
                 std::size_t length) {
    std::uint8_t counter[16];
    std::memcpy(counter, iv, kGcmIvLength);
    counter[12] = counter[13] = counter[14] = 0;
    counter[15] = 2;
    AesSdctr(key.aes, counter, data, length);
    if (length % 16 != 0) {
        std::uint8_t keystream[16];
        AesEncryptBlock(key.aes, counter, keystream);
        for (std::size_t i = length / 16 * 16, k = 0; i < length; ++i, ++k)
            data[i] ^= keystream[k];
        SecureWipeObject(keystream);
    }
}

}  // namespace

bool GcmSetKey(GcmKey& key, const std::uint8_t* keyBytes, std::size_t keyLength) {
    if (!AesSetKey(key.aes, keyBytes, keyLength)) return false;
    std::uint8_t h[16] = {};
    AesEncryptBlock(key.aes, h, h);
    key.h[0] = ReadBe64(h);
    key.h[1] = ReadBe64(h + 8);
    key.pclmul = UsePclmul();
    if (key.pclmul) GhashClmulInit(h, key.hPowers);
    SecureWipeObject(h);
    return true;
}

void GcmWipe(GcmKey& key) {
    SecureWipeObject(key);
}

void GcmEncrypt(const GcmKey& key, const std::uint8_t iv[12], const std::uint8_t* aad,
                std::size_t aadLength, std::uint8_t* data, std::size_t length,
                std::uint8_t tag[16]) {
    CounterMode(key, iv, data, length);
    ComputeTag(key, iv, aad, aadLength, data, length, tag);
}

bool GcmDecrypt(const GcmKey& key, const std::uint8_t iv[12], const std::uint8_t* aad,
                std::size_t aadLength, std::uint8_t* data, std::size_t length,
                const std::uint8_t tag[16]) {
    std::uint8_t expected[16];
    ComputeTag(key, iv, aad, aadLength, data, length, expected);
    const bool match = ConstantTimeEqual(expected, tag, kGcmTagLength);
    SecureWipeObject(expected);
    if (!match) return false;
    CounterMode(key, iv, data, length);
    return true;
}
