// Four accumulators in the lanes of 26-bit limbs: lane k takes blocks k, k + 4, ..., each
// step multiplying by r^4; the last step multiplies the lanes by r^4, r^3, r^2 and r, so
// their sum is the sequential result. The limbs stay below 2^32, the operand width of the
// 32x32-bit lane multiplication, and the five-limb products below 2^64.
#include "crypto/poly1305_avx2.h"

#include "platform/wipe.h"

namespace {

constexpr std::uint64_t kMask26 = (std::uint64_t{1} << 26) - 1;

struct Limbs26 {
    std::uint64_t v[5];
};

inline std::uint64_t Le64(const std::uint8_t* p) {
    std::uint64_t v = 0;
#pragma GCC unroll 8
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

Limbs26 Split(std::uint64_t low, std::uint64_t high, std::uint64_t top) {
    return {{low & kMask26, (low >> 26) & kMask26, ((low >> 52) | (high << 12)) & kMask26,
             (high >> 14) & kMask26, (high >> 40) | (top << 24)}};
}

// Carries a limb vector through, folding the part above 2^130 back times 5.
void Carry(std::uint64_t (&d)[5]) {
    std::uint64_t c = 0;
    for (int i = 0; i < 5; ++i) {
        d[i] += c;
        c = d[i] >> 26;
        d[i] &= kMask26;
    }
    d[0] += c * 5;
    c = d[0] >> 26;
    d[0] &= kMask26;
    d[1] += c;
}

Limbs26 MultiplyScalar(const Limbs26& a, const Limbs26& b) {
    std::uint64_t d[5] = {};
    for (int i = 0; i < 5; ++i) {
        for (int j = 0; j < 5; ++j) {
            const std::uint64_t product = a.v[i] * b.v[j];
            if (i + j < 5)
                d[i + j] += product;
            else
                d[i + j - 5] += product * 5;
        }
    }
    Carry(d);
    return {{d[0], d[1], d[2], d[3], d[4]}};
}

}  // namespace

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define FT_POLY_TARGET __attribute__((target("avx2")))
#define FT_POLY_INLINE __attribute__((target("avx2"), always_inline)) inline

namespace {

struct Key4 {
    __m256i r[5], s[5];  // s = 5 r, for the products that wrap past 2^130
};

FT_POLY_INLINE Key4 MakeKey(const Limbs26 (&lane)[4]) {
    Key4 key;
    for (int i = 0; i < 5; ++i) {
        key.r[i] = _mm256_set_epi64x(
            static_cast<long long>(lane[3].v[i]), static_cast<long long>(lane[2].v[i]),
            static_cast<long long>(lane[1].v[i]), static_cast<long long>(lane[0].v[i]));
        key.s[i] = _mm256_add_epi64(key.r[i], _mm256_slli_epi64(key.r[i], 2));
    }
    return key;
}

FT_POLY_INLINE void Multiply(__m256i (&h)[5], const Key4& k) {
    __m256i d[5];
#pragma GCC unroll 5
    for (int i = 0; i < 5; ++i) {
        __m256i sum = _mm256_setzero_si256();
#pragma GCC unroll 5
        for (int j = 0; j < 5; ++j) {
            // h_j * r_(i-j), with the wrapped terms through s.
            const __m256i factor = j <= i ? k.r[i - j] : k.s[i - j + 5];
            sum = _mm256_add_epi64(sum, _mm256_mul_epu32(h[j], factor));
        }
        d[i] = sum;
    }
    const __m256i mask = _mm256_set1_epi64x(static_cast<long long>(kMask26));
    __m256i c = _mm256_setzero_si256();
#pragma GCC unroll 5
    for (int i = 0; i < 5; ++i) {
        d[i] = _mm256_add_epi64(d[i], c);
        c = _mm256_srli_epi64(d[i], 26);
        h[i] = _mm256_and_si256(d[i], mask);
    }
    h[0] = _mm256_add_epi64(h[0], _mm256_add_epi64(c, _mm256_slli_epi64(c, 2)));
    c = _mm256_srli_epi64(h[0], 26);
    h[0] = _mm256_and_si256(h[0], mask);
    h[1] = _mm256_add_epi64(h[1], c);
}

FT_POLY_INLINE void AddBlocks(__m256i (&h)[5], const std::uint8_t* data) {
    Limbs26 m[4];
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k)
        m[k] = Split(Le64(data + 16 * k), Le64(data + 16 * k + 8), 1);
#pragma GCC unroll 5
    for (int i = 0; i < 5; ++i) {
        h[i] = _mm256_add_epi64(h[i], _mm256_set_epi64x(static_cast<long long>(m[3].v[i]),
                                                        static_cast<long long>(m[2].v[i]),
                                                        static_cast<long long>(m[1].v[i]),
                                                        static_cast<long long>(m[0].v[i])));
    }
}

}  // namespace

FT_POLY_TARGET void Poly1305Avx2Blocks(std::uint64_t h[3], const std::uint64_t r[2],
                                       const std::uint8_t* data, std::size_t blocks) {
    const Limbs26 r1 = Split(r[0], r[1], 0);
    const Limbs26 r2 = MultiplyScalar(r1, r1);
    const Limbs26 r3 = MultiplyScalar(r2, r1);
    const Limbs26 r4 = MultiplyScalar(r3, r1);
    const Limbs26 stepPowers[4] = {r4, r4, r4, r4};
    const Limbs26 lastPowers[4] = {r4, r3, r2, r1};
    Key4 step = MakeKey(stepPowers), last = MakeKey(lastPowers);

    const Limbs26 start = Split(h[0], h[1], h[2]);
    __m256i acc[5];
    for (int i = 0; i < 5; ++i)
        acc[i] = _mm256_set_epi64x(0, 0, 0, static_cast<long long>(start.v[i]));
    for (; blocks > 4; blocks -= 4, data += 64) {
        AddBlocks(acc, data);
        Multiply(acc, step);
    }
    AddBlocks(acc, data);
    Multiply(acc, last);

    std::uint64_t sum[5];
    for (int i = 0; i < 5; ++i) {
        alignas(32) std::uint64_t lanes[4];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), acc[i]);
        sum[i] = lanes[0] + lanes[1] + lanes[2] + lanes[3];
    }
    Carry(sum);
    // Back to 64-bit limbs: the four lower limbs fit 105 bits, the top one straddles 2^128.
    unsigned __int128 value = (unsigned __int128)sum[0] + ((unsigned __int128)sum[1] << 26) +
                              ((unsigned __int128)sum[2] << 52) + ((unsigned __int128)sum[3] << 78);
    const unsigned __int128 before = value;
    value += (unsigned __int128)(sum[4] & ((std::uint64_t{1} << 24) - 1)) << 104;
    h[0] = std::uint64_t(value);
    h[1] = std::uint64_t(value >> 64);
    h[2] = (sum[4] >> 24) + (value < before ? 1 : 0);
    for (auto& v : acc)
        v = _mm256_setzero_si256();
    SecureWipeObject(step);
    SecureWipeObject(last);
}

#else

void Poly1305Avx2Blocks(std::uint64_t*, const std::uint64_t*, const std::uint8_t*, std::size_t) {}

#endif
