// Arithmetic modulo 2^130 - 5 on two 64-bit limbs and a small third one. The clamping
// leaves r1 a multiple of 4, so r1 * 2^128 = (r1 / 4) * 2^130 = r1 + r1 / 4 (mod p): the
// products that land at 2^128 and above fold back through s1 = r1 + r1 / 4 without any
// division, four full multiplications per block. The final reduction is branch-free.
#include "crypto/poly1305.h"

#include <algorithm>
#include <cstring>

#include "crypto/cpu_features.h"
#include "crypto/poly1305_avx2.h"
#include "platform/wipe.h"

namespace {

using Wide = unsigned __int128;

// Below this the power precomputation of the four-lane path costs more than it saves.
constexpr std::size_t kAvx2MinBlocks = 16;

inline std::uint64_t LoadLe64(const std::uint8_t* p) {
    std::uint64_t v = 0;
#pragma GCC unroll 8
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

inline void StoreLe64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i, v >>= 8)
        p[i] = std::uint8_t(v);
}

// padBit is the 2^128 bit of each block: 1 for full blocks, 0 for the padded last one.
void Blocks(Poly1305& mac, const std::uint8_t* data, std::size_t blocks, std::uint64_t padBit) {
    const std::uint64_t r0 = mac.r[0], r1 = mac.r[1], s1 = r1 + (r1 >> 2);
    std::uint64_t h0 = mac.h[0], h1 = mac.h[1], h2 = mac.h[2];
    for (; blocks > 0; --blocks, data += 16) {
        Wide sum = Wide(h0) + LoadLe64(data);
        h0 = std::uint64_t(sum);
        sum = Wide(h1) + LoadLe64(data + 8) + std::uint64_t(sum >> 64);
        h1 = std::uint64_t(sum);
        h2 += std::uint64_t(sum >> 64) + padBit;

        // h * r with the parts at 2^128 and above folded back.
        const Wide d0 = Wide(h0) * r0 + Wide(h1) * s1;
        Wide d1 = Wide(h0) * r1 + Wide(h1) * r0 + Wide(h2 * s1);
        std::uint64_t d2 = h2 * r0;
        h0 = std::uint64_t(d0);
        d1 += std::uint64_t(d0 >> 64);
        h1 = std::uint64_t(d1);
        d2 += std::uint64_t(d1 >> 64);

        // Bits from 2^130 on come back times 5: c * 4 + c.
        const std::uint64_t fold = (d2 >> 2) + (d2 & ~std::uint64_t{3});
        h2 = d2 & 3;
        sum = Wide(h0) + fold;
        h0 = std::uint64_t(sum);
        sum = Wide(h1) + std::uint64_t(sum >> 64);
        h1 = std::uint64_t(sum);
        h2 += std::uint64_t(sum >> 64);
    }
    mac.h[0] = h0;
    mac.h[1] = h1;
    mac.h[2] = h2;
}

// Long runs of full blocks go four at a time where the processor allows; the remainder
// (fewer than four) follows one at a time, in order.
void FullBlocks(Poly1305& mac, const std::uint8_t* data, std::size_t blocks) {
    if (mac.avx2 && blocks >= kAvx2MinBlocks) {
        const std::size_t wide = blocks / 4 * 4;
        Poly1305Avx2Blocks(mac.h, mac.r, data, wide);
        data += 16 * wide;
        blocks -= wide;
    }
    Blocks(mac, data, blocks, 1);
}

}  // namespace

void Poly1305Init(Poly1305& mac, const std::uint8_t key[32]) {
    // The clamping of RFC 8439 section 2.5.
    mac.r[0] = LoadLe64(key) & 0x0ffffffc0fffffff;
    mac.r[1] = LoadLe64(key + 8) & 0x0ffffffc0ffffffc;
    mac.s[0] = LoadLe64(key + 16);
    mac.s[1] = LoadLe64(key + 24);
    mac.h[0] = mac.h[1] = mac.h[2] = 0;
    mac.buffered = 0;
    mac.avx2 = UseAvx2();
}

void Poly1305Update(Poly1305& mac, const std::uint8_t* data, std::size_t length) {
    if (mac.buffered > 0) {
        const std::size_t take = std::min(length, 16 - mac.buffered);
        std::memcpy(mac.buffer + mac.buffered, data, take);
        mac.buffered += take;
        data += take;
        length -= take;
        if (mac.buffered < 16) return;
        Blocks(mac, mac.buffer, 1, 1);
        mac.buffered = 0;
    }
    FullBlocks(mac, data, length / 16);
    data += length / 16 * 16;
    length %= 16;
    std::memcpy(mac.buffer, data, length);
    mac.buffered = length;
}

void Poly1305Final(Poly1305& mac, std::uint8_t tag[16]) {
    if (mac.buffered > 0) {
        mac.buffer[mac.buffered] = 1;
        std::memset(mac.buffer + mac.buffered + 1, 0, 16 - mac.buffered - 1);
        Blocks(mac, mac.buffer, 1, 0);
    }
    // h is below 2p here. g = h + 5 reaches 2^130 exactly when h >= p; then h - p is g
    // without its 2^130 bit, and only the low 128 bits are needed.
    const std::uint64_t h0 = mac.h[0], h1 = mac.h[1], h2 = mac.h[2];
    Wide sum = Wide(h0) + 5;
    const std::uint64_t g0 = std::uint64_t(sum);
    sum = Wide(h1) + std::uint64_t(sum >> 64);
    const std::uint64_t g1 = std::uint64_t(sum);
    const std::uint64_t g2 = h2 + std::uint64_t(sum >> 64);
    const std::uint64_t useG = 0 - (g2 >> 2);
    const std::uint64_t t0 = (h0 & ~useG) | (g0 & useG);
    const std::uint64_t t1 = (h1 & ~useG) | (g1 & useG);

    // (h + s) mod 2^128.
    sum = Wide(t0) + mac.s[0];
    StoreLe64(tag, std::uint64_t(sum));
    StoreLe64(tag + 8, t1 + mac.s[1] + std::uint64_t(sum >> 64));
    SecureWipeObject(mac);
}

void Poly1305Mac(const std::uint8_t key[32], const std::uint8_t* data, std::size_t length,
                 std::uint8_t tag[16]) {
    Poly1305 mac;
    Poly1305Init(mac, key);
    Poly1305Update(mac, data, length);
    Poly1305Final(mac, tag);
}

bool ConstantTimeEqual(const std::uint8_t* a, const std::uint8_t* b, std::size_t length) {
    std::uint8_t difference = 0;
    for (std::size_t i = 0; i < length; ++i)
        difference |= std::uint8_t(a[i] ^ b[i]);
    // Through a volatile so the loop cannot be cut short at the first difference.
    volatile std::uint8_t result = difference;
    return result == 0;
}
