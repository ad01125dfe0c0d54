// Limb-level primitives shared by the big-integer sources (internal).
#pragma once

#include <cstddef>
#include <cstdint>

namespace bignum_limbs {

using Limb = std::uint64_t;
using Wide = unsigned __int128;

// r = a + b over n limbs; returns the carry. r may alias a or b.
inline Limb AddN(Limb* r, const Limb* a, const Limb* b, std::size_t n) {
    Limb carry = 0;
    for (std::size_t i = 0; i < n; ++i) {
        Wide sum = static_cast<Wide>(a[i]) + b[i] + carry;
        r[i] = static_cast<Limb>(sum);
        carry = static_cast<Limb>(sum >> 64);
    }
    return carry;
}

// r = a - b over n limbs; returns the borrow. r may alias a or b.
inline Limb SubN(Limb* r, const Limb* a, const Limb* b, std::size_t n) {
    Limb borrow = 0;
    for (std::size_t i = 0; i < n; ++i) {
        Limb ai = a[i];
        Limb diff = ai - b[i];
        Limb borrowOut = ai < b[i];
        borrowOut |= diff < borrow;
        r[i] = diff - borrow;
        borrow = borrowOut;
    }
    return borrow;
}

// r[0..n) += a[0..n) * b; returns the carry limb.
inline Limb MulAddN(Limb* r, const Limb* a, std::size_t n, Limb b) {
    Limb carry = 0;
#pragma GCC unroll 4
    for (std::size_t i = 0; i < n; ++i) {
        Wide product = static_cast<Wide>(a[i]) * b + r[i] + carry;
        r[i] = static_cast<Limb>(product);
        carry = static_cast<Limb>(product >> 64);
    }
    return carry;
}

// -1 / 0 / 1 comparison of two n-limb numbers.
inline int CompareN(const Limb* a, const Limb* b, std::size_t n) {
    for (std::size_t i = n; i-- > 0;) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

}  // namespace bignum_limbs
