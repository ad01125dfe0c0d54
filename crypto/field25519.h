// Arithmetic modulo p = 2^255 - 19 for X25519 and Ed25519: five 51-bit limbs with 128-bit
// products. Every operation runs in time independent of the values.
//
// Limb bounds: Mul, Sq, Sub, MulSmall and FromBytes leave limbs below 2^52; Add leaves them
// below 2^54 when its inputs are below 2^53. Mul and Sq accept limbs up to 2^56; Sub wants its
// second operand below 2^53.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/wipe.h"

struct Fe25519 {
    std::uint64_t v[5];
};

namespace field25519 {

using U128 = unsigned __int128;
constexpr std::uint64_t kMask51 = (std::uint64_t{1} << 51) - 1;

inline std::uint64_t Load64Le(const std::uint8_t* p) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

// Carries 128-bit column sums into limbs below 2^52 (the top carry wraps round times 19).
inline void CarryWide(Fe25519& h, U128 r0, U128 r1, U128 r2, U128 r3, U128 r4) {
    r1 += r0 >> 51;
    r2 += r1 >> 51;
    r3 += r2 >> 51;
    r4 += r3 >> 51;
    const U128 low0 = (r4 >> 51) * 19 + (static_cast<std::uint64_t>(r0) & kMask51);
    h.v[0] = static_cast<std::uint64_t>(low0) & kMask51;
    h.v[1] = (static_cast<std::uint64_t>(r1) & kMask51) + static_cast<std::uint64_t>(low0 >> 51);
    h.v[2] = static_cast<std::uint64_t>(r2) & kMask51;
    h.v[3] = static_cast<std::uint64_t>(r3) & kMask51;
    h.v[4] = static_cast<std::uint64_t>(r4) & kMask51;
}

// One carry pass over 64-bit limbs, leaving limbs below 2^52.
inline void CarryNarrow(Fe25519& h) {
    std::uint64_t c;
    c = h.v[0] >> 51, h.v[0] &= kMask51, h.v[1] += c;
    c = h.v[1] >> 51, h.v[1] &= kMask51, h.v[2] += c;
    c = h.v[2] >> 51, h.v[2] &= kMask51, h.v[3] += c;
    c = h.v[3] >> 51, h.v[3] &= kMask51, h.v[4] += c;
    c = h.v[4] >> 51, h.v[4] &= kMask51, h.v[0] += c * 19;
}

}  // namespace field25519

inline void FeZero(Fe25519& h) {
    for (auto& limb : h.v)
        limb = 0;
}

inline void FeOne(Fe25519& h) {
    FeZero(h);
    h.v[0] = 1;
}

inline void FeAdd(Fe25519& h, const Fe25519& f, const Fe25519& g) {
    for (int i = 0; i < 5; ++i)
        h.v[i] = f.v[i] + g.v[i];
}

// f + 4p - g, so no limb goes below zero.
inline void FeSub(Fe25519& h, const Fe25519& f, const Fe25519& g) {
    constexpr std::uint64_t kFourP0 = 0x1FFFFFFFFFFFB4;  // 4 * (2^51 - 19)
    constexpr std::uint64_t kFourP = 0x1FFFFFFFFFFFFC;   // 4 * (2^51 - 1)
    h.v[0] = f.v[0] + kFourP0 - g.v[0];
    for (int i = 1; i < 5; ++i)
        h.v[i] = f.v[i] + kFourP - g.v[i];
    field25519::CarryNarrow(h);
}

inline void FeNeg(Fe25519& h, const Fe25519& f) {
    Fe25519 zero;
    FeZero(zero);
    FeSub(h, zero, f);
}

inline void FeMul(Fe25519& h, const Fe25519& f, const Fe25519& g) {
    using field25519::U128;
    const std::uint64_t f0 = f.v[0], f1 = f.v[1], f2 = f.v[2], f3 = f.v[3], f4 = f.v[4];
    const std::uint64_t g0 = g.v[0], g1 = g.v[1], g2 = g.v[2], g3 = g.v[3], g4 = g.v[4];
    const std::uint64_t g1x19 = g1 * 19, g2x19 = g2 * 19, g3x19 = g3 * 19, g4x19 = g4 * 19;
    const U128 r0 =
        U128(f0) * g0 + U128(f1) * g4x19 + U128(f2) * g3x19 + U128(f3) * g2x19 + U128(f4) * g1x19;
    const U128 r1 =
        U128(f0) * g1 + U128(f1) * g0 + U128(f2) * g4x19 + U128(f3) * g3x19 + U128(f4) * g2x19;
    const U128 r2 =
        U128(f0) * g2 + U128(f1) * g1 + U128(f2) * g0 + U128(f3) * g4x19 + U128(f4) * g3x19;
    const U128 r3 =
        U128(f0) * g3 + U128(f1) * g2 + U128(f2) * g1 + U128(f3) * g0 + U128(f4) * g4x19;
    const U128 r4 = U128(f0) * g4 + U128(f1) * g3 + U128(f2) * g2 + U128(f3) * g1 + U128(f4) * g0;
    field25519::CarryWide(h, r0, r1, r2, r3, r4);
}

inline void FeSq(Fe25519& h, const Fe25519& f) {
    using field25519::U128;
    const std::uint64_t f0 = f.v[0], f1 = f.v[1], f2 = f.v[2], f3 = f.v[3], f4 = f.v[4];
    const std::uint64_t f0x2 = f0 * 2, f1x2 = f1 * 2;
    const std::uint64_t f1x38 = f1 * 38, f2x38 = f2 * 38, f3x38 = f3 * 38, f3x19 = f3 * 19,
                        f4x19 = f4 * 19;
    const U128 r0 = U128(f0) * f0 + U128(f1x38) * f4 + U128(f2x38) * f3;
    const U128 r1 = U128(f0x2) * f1 + U128(f2x38) * f4 + U128(f3x19) * f3;
    const U128 r2 = U128(f0x2) * f2 + U128(f1) * f1 + U128(f3x38) * f4;
    const U128 r3 = U128(f0x2) * f3 + U128(f1x2) * f2 + U128(f4x19) * f4;
    const U128 r4 = U128(f0x2) * f4 + U128(f1x2) * f3 + U128(f2) * f2;
    field25519::CarryWide(h, r0, r1, r2, r3, r4);
}

inline void FeSqTimes(Fe25519& h, const Fe25519& f, int count) {
    FeSq(h, f);
    for (int i = 1; i < count; ++i)
        FeSq(h, h);
}

// f times a constant below 2^20.
inline void FeMulSmall(Fe25519& h, const Fe25519& f, std::uint32_t n) {
    using field25519::U128;
    field25519::CarryWide(h, U128(f.v[0]) * n, U128(f.v[1]) * n, U128(f.v[2]) * n, U128(f.v[3]) * n,
                          U128(f.v[4]) * n);
}

// z^(2^250 - 1), and z^11 in *z11: the shared start of inversion and square roots.
inline void FePow2250Minus1(Fe25519& out, Fe25519& z11, const Fe25519& z) {
    Fe25519 t0, t1, t2;
    FeSq(t0, z);           // z^2
    FeSqTimes(t1, t0, 2);  // z^8
    FeMul(t1, t1, z);      // z^9
    FeMul(z11, t0, t1);    // z^11
    FeSq(t0, z11);         // z^22
    FeMul(t0, t0, t1);     // z^(2^5 - 1)
    FeSqTimes(t1, t0, 5);
    FeMul(t0, t1, t0);  // z^(2^10 - 1)
    FeSqTimes(t1, t0, 10);
    FeMul(t1, t1, t0);  // z^(2^20 - 1)
    FeSqTimes(t2, t1, 20);
    FeMul(t1, t2, t1);  // z^(2^40 - 1)
    FeSqTimes(t1, t1, 10);
    FeMul(t0, t1, t0);  // z^(2^50 - 1)
    FeSqTimes(t1, t0, 50);
    FeMul(t1, t1, t0);  // z^(2^100 - 1)
    FeSqTimes(t2, t1, 100);
    FeMul(t1, t2, t1);  // z^(2^200 - 1)
    FeSqTimes(t1, t1, 50);
    FeMul(out, t1, t0);  // z^(2^250 - 1)
    SecureWipeObject(t0);
    SecureWipeObject(t1);
    SecureWipeObject(t2);
}

// z^(p - 2) = z^(2^255 - 21), the inverse (zero stays zero).
inline void FeInvert(Fe25519& h, const Fe25519& z) {
    Fe25519 t, z11;
    FePow2250Minus1(t, z11, z);
    FeSqTimes(t, t, 5);
    FeMul(h, t, z11);
    SecureWipeObject(t);
    SecureWipeObject(z11);
}

// z^((p - 5) / 8) = z^(2^252 - 3), the core of the square root in point decoding.
inline void FePow22523(Fe25519& h, const Fe25519& z) {
    Fe25519 t, z11;
    FePow2250Minus1(t, z11, z);
    FeSqTimes(t, t, 2);
    FeMul(h, t, z);
    SecureWipeObject(t);
    SecureWipeObject(z11);
}

// Reads 32 little-endian bytes, ignoring the top bit; values from p to 2^255 - 1 are
// accepted unreduced (callers that must refuse them check the bytes).
inline void FeFromBytes(Fe25519& h, const std::uint8_t s[32]) {
    using field25519::kMask51;
    using field25519::Load64Le;
    h.v[0] = Load64Le(s) & kMask51;
    h.v[1] = (Load64Le(s + 6) >> 3) & kMask51;
    h.v[2] = (Load64Le(s + 12) >> 6) & kMask51;
    h.v[3] = (Load64Le(s + 19) >> 1) & kMask51;
    h.v[4] = (Load64Le(s + 24) >> 12) & kMask51;
}

// The canonical encoding: fully reduced below p, 32 little-endian bytes.
inline void FeToBytes(std::uint8_t s[32], const Fe25519& f) {
    using field25519::kMask51;
    Fe25519 t = f;
    field25519::CarryNarrow(t);
    field25519::CarryNarrow(t);
    t.v[1] += t.v[0] >> 51;
    t.v[0] &= kMask51;
    // Now t < 2^255 + 2^6 < 2p: subtract p once when t + 19 reaches 2^255 (q is the carry
    // out of t + 19).
    std::uint64_t q = (t.v[0] + 19) >> 51;
    for (int i = 1; i < 5; ++i)
        q = (t.v[i] + q) >> 51;
    t.v[0] += 19 * q;
    for (int i = 0; i < 4; ++i) {
        t.v[i + 1] += t.v[i] >> 51;
        t.v[i] &= kMask51;
    }
    t.v[4] &= kMask51;
    // Pack 5 x 51 bits.
    std::uint64_t words[4];
    words[0] = t.v[0] | t.v[1] << 51;
    words[1] = t.v[1] >> 13 | t.v[2] << 38;
    words[2] = t.v[2] >> 26 | t.v[3] << 25;
    words[3] = t.v[3] >> 39 | t.v[4] << 12;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 8; ++j)
            s[8 * i + j] = static_cast<std::uint8_t>(words[i] >> (8 * j));
    SecureWipeObject(t);
    SecureWipeObject(words);
}

// Swaps f and g when swap is 1, leaves them when it is 0, without a branch.
inline void FeConditionalSwap(Fe25519& f, Fe25519& g, std::uint64_t swap) {
    const std::uint64_t mask = 0 - swap;
    for (int i = 0; i < 5; ++i) {
        const std::uint64_t x = (f.v[i] ^ g.v[i]) & mask;
        f.v[i] ^= x;
        g.v[i] ^= x;
    }
}

// f = g when move is 1.
inline void FeConditionalMove(Fe25519& f, const Fe25519& g, std::uint64_t move) {
    const std::uint64_t mask = 0 - move;
    for (int i = 0; i < 5; ++i)
        f.v[i] ^= (f.v[i] ^ g.v[i]) & mask;
}

// Low bit of the canonical encoding (the "sign" of x in point encodings).
inline std::uint8_t FeIsOdd(const Fe25519& f) {
    std::uint8_t s[32];
    FeToBytes(s, f);
    const std::uint8_t odd = s[0] & 1;
    SecureWipeObject(s);
    return odd;
}

// 1 when f is 0 mod p, in constant time.
inline std::uint64_t FeIsZero(const Fe25519& f) {
    std::uint8_t s[32];
    FeToBytes(s, f);
    std::uint32_t any = 0;
    for (std::uint8_t byte : s)
        any |= byte;
    SecureWipeObject(s);
    return (std::uint64_t{any} - 1) >> 63;
}
