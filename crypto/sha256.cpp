#include "crypto/sha256.h"

#include "crypto/block_buffer.h"
#include "crypto/byte_order.h"
#include "crypto/cpu_features.h"
#include "platform/wipe.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define FT_HAVE_SHA_NI 1
#endif

namespace {

constexpr std::uint32_t kSha256InitialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                  0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

alignas(16) constexpr std::uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline std::uint32_t ScheduleWord(std::uint32_t (&w)[16], int t) {
    if (t < 16) return w[t];
    const std::uint32_t w15 = w[(t - 15) & 15], w2 = w[(t - 2) & 15];
    const std::uint32_t sigma0 = Rotr32(w15, 7) ^ Rotr32(w15, 18) ^ (w15 >> 3);
    const std::uint32_t sigma1 = Rotr32(w2, 17) ^ Rotr32(w2, 19) ^ (w2 >> 10);
    return w[t & 15] += sigma0 + w[(t - 7) & 15] + sigma1;
}

// One round; the caller rotates the roles of the eight working variables instead of
// moving their values.
inline void Sha256Round(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t& d,
                        std::uint32_t e, std::uint32_t f, std::uint32_t g, std::uint32_t& h,
                        std::uint32_t (&w)[16], int t) {
    const std::uint32_t bigSigma1 = Rotr32(e, 6) ^ Rotr32(e, 11) ^ Rotr32(e, 25);
    const std::uint32_t choose = g ^ (e & (f ^ g));
    const std::uint32_t t1 = h + bigSigma1 + choose + kRoundConstants[t] + ScheduleWord(w, t);
    const std::uint32_t bigSigma0 = Rotr32(a, 2) ^ Rotr32(a, 13) ^ Rotr32(a, 22);
    const std::uint32_t majority = (a & b) | (c & (a | b));
    d += t1;
    h = t1 + bigSigma0 + majority;
}

void Sha256CompressPortable(std::uint32_t h[8], const std::uint8_t* data, std::size_t blocks) {
    for (; blocks > 0; --blocks, data += kSha256BlockLength) {
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = LoadBe32(data + 4 * i);
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6],
                      hh = h[7];
        for (int t = 0; t < 64; t += 8) {
            Sha256Round(a, b, c, d, e, f, g, hh, w, t);
            Sha256Round(hh, a, b, c, d, e, f, g, w, t + 1);
            Sha256Round(g, hh, a, b, c, d, e, f, w, t + 2);
            Sha256Round(f, g, hh, a, b, c, d, e, w, t + 3);
            Sha256Round(e, f, g, hh, a, b, c, d, w, t + 4);
            Sha256Round(d, e, f, g, hh, a, b, c, w, t + 5);
            Sha256Round(c, d, e, f, g, hh, a, b, w, t + 6);
            Sha256Round(b, c, d, e, f, g, hh, a, w, t + 7);
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
        h[5] += f;
        h[6] += g;
        h[7] += hh;
        SecureWipeObject(w);
    }
}

#ifdef FT_HAVE_SHA_NI

#define FT_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))
#define FT_SHA_INLINE __attribute__((target("sha,sse4.1,ssse3"), always_inline)) inline

// Four rounds: the state is kept as (A,B,E,F) and (C,D,G,H) as the instructions want it.
FT_SHA_INLINE void Sha256FourRounds(__m128i& abef, __m128i& cdgh, __m128i words, int group) {
    __m128i message = _mm_add_epi32(
        words, _mm_load_si128(reinterpret_cast<const __m128i*>(kRoundConstants + 4 * group)));
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
    message = _mm_shuffle_epi32(message, 0x0E);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
}

FT_SHA_TARGET void Sha256CompressShaNi(std::uint32_t h[8], const std::uint8_t* data,
                                       std::size_t blocks) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    const __m128i dcba = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)),
                                           0xB1);  // now CDAB
    const __m128i efgh =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 4)), 0x1B);
    __m128i abef = _mm_alignr_epi8(dcba, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, dcba, 0xF0);
    for (; blocks > 0; --blocks, data += kSha256BlockLength) {
        const __m128i abefSaved = abef;
        const __m128i cdghSaved = cdgh;
        __m128i w[4];
#pragma GCC unroll 16
        for (int group = 0; group < 16; ++group) {
            __m128i& slot = w[group & 3];
            if (group < 4) {
                slot = _mm_shuffle_epi8(
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * group)), byteSwap);
            } else {
                const __m128i w1 = w[(group + 3) & 3], w2 = w[(group + 2) & 3];
                const __m128i partial = _mm_add_epi32(
                    _mm_sha256msg1_epu32(slot, w[(group + 1) & 3]), _mm_alignr_epi8(w1, w2, 4));
                slot = _mm_sha256msg2_epu32(partial, w1);
            }
            Sha256FourRounds(abef, cdgh, slot, group);
        }
        abef = _mm_add_epi32(abef, abefSaved);
        cdgh = _mm_add_epi32(cdgh, cdghSaved);
    }
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h + 4), _mm_alignr_epi8(dchg, feba, 8));
}

#endif

}  // namespace

void Sha256CompressBlocks(std::uint32_t h[8], const std::uint8_t* data, std::size_t blocks) {
#ifdef FT_HAVE_SHA_NI
    if (UseShaNi()) return Sha256CompressShaNi(h, data, blocks);
#endif
    Sha256CompressPortable(h, data, blocks);
}

void Sha256Init(Sha256State& state) {
    for (int i = 0; i < 8; ++i)
        state.h[i] = kSha256InitialState[i];
    state.blockUsed = 0;
    state.totalBytes = 0;
}

void Sha256Update(Sha256State& state, const void* data, std::size_t length) {
    state.totalBytes += length;
    BufferedHashUpdate(state.block, state.blockUsed, data, length,
                       [&](const std::uint8_t* blocks, std::size_t count) {
                           Sha256CompressBlocks(state.h, blocks, count);
                       });
}

void Sha256Final(Sha256State& state, std::uint8_t digest[kSha256DigestLength]) {
    BufferedHashPad(state.block, state.blockUsed, state.totalBytes, LengthOrder::BigEndian,
                    [&](const std::uint8_t* blocks, std::size_t count) {
                        Sha256CompressBlocks(state.h, blocks, count);
                    });
    for (int i = 0; i < 8; ++i)
        StoreBe32(digest + 4 * i, state.h[i]);
    SecureWipeObject(state);
}

void Sha256(const void* data, std::size_t length, std::uint8_t digest[kSha256DigestLength]) {
    Sha256State state;
    Sha256Init(state);
    Sha256Update(state, data, length);
    Sha256Final(state, digest);
}
