// Blocks are byte-reversed into registers, so each holds the block as one big-endian
// 128-bit number; the GCM polynomial is then that number read bit-reversed. The product of
// two such numbers, shifted left by one, is the bit-reversed 256-bit polynomial product,
// and the reduction by x^128 + x^7 + x^2 + x + 1 folds its low half into its high half.
#include "crypto/ghash_clmul.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define FT_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))
#define FT_CLMUL_INLINE __attribute__((target("pclmul,sse4.1"), always_inline)) inline

namespace {

struct Wide {
    __m128i low, high;
};

FT_CLMUL_INLINE __m128i LoadSwapped(const std::uint8_t* p) {
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), reverse);
}

FT_CLMUL_INLINE void StoreSwapped(std::uint8_t* p, __m128i v) {
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_shuffle_epi8(v, reverse));
}

// The unreduced 256-bit carry-less product.
FT_CLMUL_INLINE Wide Multiply(__m128i a, __m128i b) {
    const __m128i low = _mm_clmulepi64_si128(a, b, 0x00);
    const __m128i high = _mm_clmulepi64_si128(a, b, 0x11);
    const __m128i middle =
        _mm_xor_si128(_mm_clmulepi64_si128(a, b, 0x10), _mm_clmulepi64_si128(a, b, 0x01));
    return {_mm_xor_si128(low, _mm_slli_si128(middle, 8)),
            _mm_xor_si128(high, _mm_srli_si128(middle, 8))};
}

FT_CLMUL_INLINE void Accumulate(Wide& sum, Wide term) {
    sum.low = _mm_xor_si128(sum.low, term.low);
    sum.high = _mm_xor_si128(sum.high, term.high);
}

// x^128 + k reduced: every bit of the low half folds into the high half at offsets 0, 1, 2
// and 7 (the shifts right), and the bits that fall off the end of a 64-bit lane go into
// the neighbouring lane (the shifts left by 63, 62 and 57).
FT_CLMUL_INLINE __m128i Spill(__m128i v) {
    return _mm_xor_si128(_mm_xor_si128(_mm_slli_epi64(v, 63), _mm_slli_epi64(v, 62)),
                         _mm_slli_epi64(v, 57));
}

FT_CLMUL_INLINE __m128i Reduce(Wide product) {
    // The product of two 128-bit numbers has 255 bits: one shift left aligns it.
    const __m128i carryLow = _mm_srli_epi64(product.low, 63);
    const __m128i carryHigh = _mm_srli_epi64(product.high, 63);
    __m128i low = _mm_or_si128(_mm_slli_epi64(product.low, 1), _mm_slli_si128(carryLow, 8));
    __m128i high =
        _mm_or_si128(_mm_or_si128(_mm_slli_epi64(product.high, 1), _mm_slli_si128(carryHigh, 8)),
                     _mm_srli_si128(carryLow, 8));
    // The lowest lane first, since what spills from it lands in the other low lane.
    low = _mm_xor_si128(low, _mm_slli_si128(Spill(low), 8));
    high = _mm_xor_si128(high, low);
    high = _mm_xor_si128(high, _mm_xor_si128(_mm_srli_epi64(low, 1), _mm_srli_epi64(low, 2)));
    high = _mm_xor_si128(high, _mm_srli_epi64(low, 7));
    return _mm_xor_si128(high, _mm_srli_si128(Spill(low), 8));
}

FT_CLMUL_INLINE __m128i LoadPower(const std::uint8_t* powers, std::size_t exponent) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(powers + 16 * (exponent - 1)));
}

}  // namespace

FT_CLMUL_TARGET void GhashClmulInit(const std::uint8_t h[16], std::uint8_t* powers) {
    const __m128i h1 = LoadSwapped(h);
    __m128i power = h1;
    for (std::size_t i = 0; i < kGhashClmulPowers; ++i) {
        _mm_store_si128(reinterpret_cast<__m128i*>(powers + 16 * i), power);
        power = Reduce(Multiply(power, h1));
    }
}

FT_CLMUL_TARGET void GhashClmulBlocks(const std::uint8_t* powers, std::uint8_t y[16],
                                      const std::uint8_t* data, std::size_t blocks) {
    __m128i state = LoadSwapped(y);
    __m128i h[kGhashClmulPowers];
    for (std::size_t i = 0; i < kGhashClmulPowers; ++i)
        h[i] = LoadPower(powers, i + 1);
    // Eight blocks per reduction: (y + X1) H^8 + X2 H^7 + ... + X8 H, so the serial chain
    // through the reduction is paid once per eight blocks.
    constexpr std::size_t kFold = kGhashClmulPowers;
    for (; blocks >= kFold; blocks -= kFold, data += 16 * kFold) {
        Wide sum = Multiply(_mm_xor_si128(state, LoadSwapped(data)), h[kFold - 1]);
#pragma GCC unroll 8
        for (std::size_t i = 1; i < kFold; ++i)
            Accumulate(sum, Multiply(LoadSwapped(data + 16 * i), h[kFold - 1 - i]));
        state = Reduce(sum);
    }
    const __m128i h1 = h[0];
    for (; blocks > 0; --blocks, data += 16)
        state = Reduce(Multiply(_mm_xor_si128(state, LoadSwapped(data)), h1));
    StoreSwapped(y, state);
}

#else

// Without x86 the path is never selected (CpuHasPclmul() is false).
void GhashClmulInit(const std::uint8_t*, std::uint8_t*) {}
void GhashClmulBlocks(const std::uint8_t*, std::uint8_t*, const std::uint8_t*, std::size_t) {}

#endif
