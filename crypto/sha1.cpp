#include "crypto/sha1.h"

#include "crypto/block_buffer.h"
#include "crypto/byte_order.h"
#include "crypto/cpu_features.h"
#include "platform/wipe.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define FT_HAVE_SHA_NI 1
#endif

namespace {

constexpr std::uint32_t kSha1InitialState[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476,
                                                0xC3D2E1F0};

inline std::uint32_t Sha1ScheduleWord(std::uint32_t (&w)[16], int t) {
    if (t < 16) return w[t];
    return w[t & 15] = Rotl32(w[(t - 3) & 15] ^ w[(t - 8) & 15] ^ w[(t - 14) & 15] ^ w[t & 15], 1);
}

// Round function and constant of each quarter of the 80 rounds.
template <int Quarter>
inline std::uint32_t Sha1Mix(std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    if constexpr (Quarter == 0) return (d ^ (b & (c ^ d))) + 0x5A827999;
    if constexpr (Quarter == 1) return (b ^ c ^ d) + 0x6ED9EBA1;
    if constexpr (Quarter == 2) return ((b & c) | (d & (b | c))) + 0x8F1BBCDC;
    return (b ^ c ^ d) + 0xCA62C1D6;
}

// One round; the caller rotates the roles of the five working variables.
template <int Quarter>
inline void Sha1Round(std::uint32_t a, std::uint32_t& b, std::uint32_t c, std::uint32_t d,
                      std::uint32_t& e, std::uint32_t (&w)[16], int t) {
    e += Rotl32(a, 5) + Sha1Mix<Quarter>(b, c, d) + Sha1ScheduleWord(w, t);
    b = Rotl32(b, 30);
}

template <int Quarter>
inline void Sha1Quarter(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d,
                        std::uint32_t& e, std::uint32_t (&w)[16]) {
    for (int t = 20 * Quarter; t < 20 * Quarter + 20; t += 5) {
        Sha1Round<Quarter>(a, b, c, d, e, w, t);
        Sha1Round<Quarter>(e, a, b, c, d, w, t + 1);
        Sha1Round<Quarter>(d, e, a, b, c, w, t + 2);
        Sha1Round<Quarter>(c, d, e, a, b, w, t + 3);
        Sha1Round<Quarter>(b, c, d, e, a, w, t + 4);
    }
}

void Sha1CompressPortable(std::uint32_t h[5], const std::uint8_t* data, std::size_t blocks) {
    for (; blocks > 0; --blocks, data += kSha1BlockLength) {
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = LoadBe32(data + 4 * i);
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        Sha1Quarter<0>(a, b, c, d, e, w);
        Sha1Quarter<1>(a, b, c, d, e, w);
        Sha1Quarter<2>(a, b, c, d, e, w);
        Sha1Quarter<3>(a, b, c, d, e, w);
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
        SecureWipeObject(w);
    }
}

#ifdef FT_HAVE_SHA_NI

#define FT_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))
#define FT_SHA_INLINE __attribute__((target("sha,sse4.1,ssse3"), always_inline)) inline

// The message words of group i (four rounds) from the four groups before it.
FT_SHA_INLINE __m128i Sha1NextMessage(__m128i w4, __m128i w3, __m128i w2, __m128i w1) {
    return _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(w4, w3), w2), w1);
}

// Five groups of four rounds with round function F; w[] is a ring of the last four groups.
template <int F>
FT_SHA_INLINE void Sha1FiveGroups(__m128i& abcd, __m128i& previous, __m128i (&w)[4], int first) {
#pragma GCC unroll 5
    for (int g = first; g < first + 5; ++g) {
        if (g >= 4)
            w[g & 3] = Sha1NextMessage(w[g & 3], w[(g + 1) & 3], w[(g + 2) & 3], w[(g + 3) & 3]);
        if (g == 0) continue;  // group 0 is started by the caller, which has E in hand
        const __m128i e = _mm_sha1nexte_epu32(previous, w[g & 3]);
        previous = abcd;
        abcd = _mm_sha1rnds4_epu32(abcd, e, F);
    }
}

FT_SHA_TARGET void Sha1CompressShaNi(std::uint32_t h[5], const std::uint8_t* data,
                                     std::size_t blocks) {
    const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), 0x1B);
    __m128i e0 = _mm_set_epi32(static_cast<int>(h[4]), 0, 0, 0);
    for (; blocks > 0; --blocks, data += kSha1BlockLength) {
        const __m128i abcdSaved = abcd;
        const __m128i eSaved = e0;
        __m128i w[4];
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i) {
            w[i] = _mm_shuffle_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byteSwap);
        }
        __m128i previous = abcd;
        abcd = _mm_sha1rnds4_epu32(abcd, _mm_add_epi32(e0, w[0]), 0);
        Sha1FiveGroups<0>(abcd, previous, w, 0);
        Sha1FiveGroups<1>(abcd, previous, w, 5);
        Sha1FiveGroups<2>(abcd, previous, w, 10);
        Sha1FiveGroups<3>(abcd, previous, w, 15);
        e0 = _mm_sha1nexte_epu32(previous, eSaved);
        abcd = _mm_add_epi32(abcd, abcdSaved);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h), _mm_shuffle_epi32(abcd, 0x1B));
    h[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e0, 3));
}

#endif

}  // namespace

void Sha1CompressBlocks(std::uint32_t h[5], const std::uint8_t* data, std::size_t blocks) {
#ifdef FT_HAVE_SHA_NI
    if (UseShaNi()) return Sha1CompressShaNi(h, data, blocks);
#endif
    Sha1CompressPortable(h, data, blocks);
}

void Sha1Compress(std::uint32_t h[5], const std::uint8_t block[kSha1BlockLength]) {
    Sha1CompressBlocks(h, block, 1);
}

void Sha1Init(Sha1State& state) {
    for (int i = 0; i < 5; ++i)
        state.h[i] = kSha1InitialState[i];
    state.blockUsed = 0;
    state.totalBytes = 0;
}

void Sha1Update(Sha1State& state, const void* data, std::size_t length) {
    state.totalBytes += length;
    BufferedHashUpdate(state.block, state.blockUsed, data, length,
                       [&](const std::uint8_t* blocks, std::size_t count) {
                           Sha1CompressBlocks(state.h, blocks, count);
                       });
}

void Sha1Final(Sha1State& state, std::uint8_t digest[kSha1DigestLength]) {
    BufferedHashPad(state.block, state.blockUsed, state.totalBytes, LengthOrder::BigEndian,
                    [&](const std::uint8_t* blocks, std::size_t count) {
                        Sha1CompressBlocks(state.h, blocks, count);
                    });
    for (int i = 0; i < 5; ++i)
        StoreBe32(digest + 4 * i, state.h[i]);
    SecureWipeObject(state);
}

void Sha1(const void* data, std::size_t length, std::uint8_t digest[kSha1DigestLength]) {
    Sha1State state;
    Sha1Init(state);
    Sha1Update(state, data, length);
    Sha1Final(state, digest);
}
