// Constant-time arithmetic modulo an odd number of N 64-bit limbs (internal to
// the elliptic-curve code): the prime fields of the NIST curves and their group
// orders. Values are fixed-size little-endian limb arrays below the modulus,
// kept in Montgomery form (a * 2^(64N) mod m) for multiplication. No branch or
// memory index depends on a value; loops run over N, which is public.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/wipe.h"

namespace ecc {

using Limb = std::uint64_t;
using Wide = unsigned __int128;

template <std::size_t N>
using Limbs = std::array<Limb, N>;

// All ones when bit is 1, zero when it is 0.
inline Limb MaskOf(Limb bit) {
    return Limb{0} - bit;
}

// 1 when value is zero, else 0.
inline Limb IsZeroLimb(Limb value) {
    return ((value | (Limb{0} - value)) >> 63) ^ 1;
}

template <std::size_t N>
Limb IsZero(const Limbs<N>& a) {
    Limb any = 0;
    for (Limb limb : a)
        any |= limb;
    return IsZeroLimb(any);
}

template <std::size_t N>
Limb IsEqual(const Limbs<N>& a, const Limbs<N>& b) {
    Limb diff = 0;
    for (std::size_t i = 0; i < N; ++i)
        diff |= a[i] ^ b[i];
    return IsZeroLimb(diff);
}

// r = mask ? a : b, limb by limb.
template <std::size_t N>
void Select(Limbs<N>& r, Limb mask, const Limbs<N>& a, const Limbs<N>& b) {
#pragma GCC unroll 9
    for (std::size_t i = 0; i < N; ++i)
        r[i] = (a[i] & mask) | (b[i] & ~mask);
}

template <std::size_t N>
Limb AddRaw(Limbs<N>& r, const Limbs<N>& a, const Limbs<N>& b) {
    Limb carry = 0;
#pragma GCC unroll 9
    for (std::size_t i = 0; i < N; ++i) {
        Wide sum = static_cast<Wide>(a[i]) + b[i] + carry;
        r[i] = static_cast<Limb>(sum);
        carry = static_cast<Limb>(sum >> 64);
    }
    return carry;
}

template <std::size_t N>
Limb SubRaw(Limbs<N>& r, const Limbs<N>& a, const Limbs<N>& b) {
    Limb borrow = 0;
#pragma GCC unroll 9
    for (std::size_t i = 0; i < N; ++i) {
        Wide diff = static_cast<Wide>(a[i]) - b[i] - borrow;
        r[i] = static_cast<Limb>(diff);
        borrow = static_cast<Limb>(diff >> 64) & 1;
    }
    return borrow;
}

// 1 when a < b.
template <std::size_t N>
Limb IsLess(const Limbs<N>& a, const Limbs<N>& b) {
    Limbs<N> scratch;
    return SubRaw(scratch, a, b);
}

// Big-endian bytes (at most 8N of them) to limbs.
template <std::size_t N>
Limbs<N> FromBigEndian(std::span<const std::uint8_t> bytes) {
    Limbs<N> r{};
    const std::size_t count = bytes.size();
    for (std::size_t i = 0; i < count && i < 8 * N; ++i)
        r[i / 8] |= Limb{bytes[count - 1 - i]} << (8 * (i % 8));
    return r;
}

// Limbs to big-endian bytes filling out (the value must fit).
template <std::size_t N>
void ToBigEndian(const Limbs<N>& a, std::span<std::uint8_t> out) {
    const std::size_t count = out.size();
    for (std::size_t i = 0; i < count; ++i)
        out[count - 1 - i] = i < 8 * N ? static_cast<std::uint8_t>(a[i / 8] >> (8 * (i % 8))) : 0;
}

// a >> shift for a public shift below 64N.
template <std::size_t N>
Limbs<N> ShiftRight(const Limbs<N>& a, std::size_t shift) {
    Limbs<N> r{};
    const std::size_t limbs = shift / 64, bits = shift % 64;
    for (std::size_t i = 0; i + limbs < N; ++i) {
        r[i] = a[i + limbs] >> bits;
        if (bits && i + limbs + 1 < N) r[i] |= a[i + limbs + 1] << (64 - bits);
    }
    return r;
}

template <std::size_t N>
struct Modulus {
    Limbs<N> m;
    Limb m0inv;    // -m^-1 mod 2^64
    Limbs<N> one;  // 2^(64N) mod m: 1 in Montgomery form
    Limbs<N> rr;   // 2^(128N) mod m: converts into Montgomery form
};

// r = a + b mod m for a, b < m.
template <std::size_t N>
void ModAdd(Limbs<N>& r, const Limbs<N>& a, const Limbs<N>& b, const Modulus<N>& mod) {
    Limbs<N> sum, reduced;
    Limb carry = AddRaw(sum, a, b);
    Limb borrow = SubRaw(reduced, sum, mod.m);
    // The sum stays when it was already below m (a borrow and no carry out).
    Select(r, MaskOf(borrow & (carry ^ 1)), sum, reduced);
}

// r = a - b mod m for a, b < m.
template <std::size_t N>
void ModSub(Limbs<N>& r, const Limbs<N>& a, const Limbs<N>& b, const Modulus<N>& mod) {
    Limbs<N> diff, back;
    Limb mask = MaskOf(SubRaw(diff, a, b));
    for (std::size_t i = 0; i < N; ++i)
        back[i] = mod.m[i] & mask;
    AddRaw(r, diff, back);
}

// r = a - m when a >= m, for a < 2m: brings a value that may be one modulus
// too large (an x coordinate taken modulo the group order) into range.
template <std::size_t N>
void ReduceOnce(Limbs<N>& r, const Limbs<N>& a, const Modulus<N>& mod) {
    Limbs<N> reduced;
    Limb borrow = SubRaw(reduced, a, mod.m);
    Select(r, MaskOf(borrow), a, reduced);
}

// r = a * b / 2^(64N) mod m (Montgomery product, operand scanning), for a, b < m.
template <std::size_t N>
void MontMul(Limbs<N>& r, const Limbs<N>& a, const Limbs<N>& b, const Modulus<N>& mod) {
    Limb t[N + 2] = {};
#pragma GCC unroll 9
    for (std::size_t i = 0; i < N; ++i) {
        Limb carry = 0;
#pragma GCC unroll 9
        for (std::size_t j = 0; j < N; ++j) {
            Wide product = static_cast<Wide>(a[j]) * b[i] + t[j] + carry;
            t[j] = static_cast<Limb>(product);
            carry = static_cast<Limb>(product >> 64);
        }
        Wide top = static_cast<Wide>(t[N]) + carry;
        t[N] = static_cast<Limb>(top);
        t[N + 1] = static_cast<Limb>(top >> 64);

        const Limb q = t[0] * mod.m0inv;
        Wide product = static_cast<Wide>(q) * mod.m[0] + t[0];
        carry = static_cast<Limb>(product >> 64);
#pragma GCC unroll 9
        for (std::size_t j = 1; j < N; ++j) {
            product = static_cast<Wide>(q) * mod.m[j] + t[j] + carry;
            t[j - 1] = static_cast<Limb>(product);
            carry = static_cast<Limb>(product >> 64);
        }
        top = static_cast<Wide>(t[N]) + carry;
        t[N - 1] = static_cast<Limb>(top);
        t[N] = t[N + 1] + static_cast<Limb>(top >> 64);
    }
    // t < 2m: subtract m unless that borrows past the top limb.
    Limbs<N> low, reduced;
    for (std::size_t i = 0; i < N; ++i)
        low[i] = t[i];
    Limb borrow = SubRaw(reduced, low, mod.m);
    Select(r, MaskOf(borrow & (t[N] ^ 1)), low, reduced);
}

template <std::size_t N>
void ToMont(Limbs<N>& r, const Limbs<N>& a, const Modulus<N>& mod) {
    MontMul(r, a, mod.rr, mod);
}

template <std::size_t N>
void FromMont(Limbs<N>& r, const Limbs<N>& a, const Modulus<N>& mod) {
    Limbs<N> one{};
    one[0] = 1;
    MontMul(r, a, one, mod);
}

// r = a^(m-2) = a^-1 mod m in Montgomery form (Fermat; m is prime). The
// exponent is public, so its bits may steer the loop; zero maps to zero.
template <std::size_t N>
void MontInverse(Limbs<N>& r, const Limbs<N>& a, const Modulus<N>& mod) {
    Limbs<N> exponent, two{};
    two[0] = 2;
    SubRaw(exponent, mod.m, two);
    Limbs<N> acc = mod.one;
    for (std::size_t bit = 64 * N; bit-- > 0;) {
        MontMul(acc, acc, acc, mod);
        if ((exponent[bit / 64] >> (bit % 64)) & 1) MontMul(acc, acc, a, mod);
    }
    r = acc;
    SecureWipeObject(acc);
}

}  // namespace ecc
