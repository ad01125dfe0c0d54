#include "crypto/sha512.h"

#include "crypto/block_buffer.h"
#include "crypto/byte_order.h"
#include "platform/wipe.h"

namespace {

constexpr std::uint64_t kSha512InitialState[8] = {
    0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b, 0xa54ff53a5f1d36f1,
    0x510e527fade682d1, 0x9b05688c2b3e6c1f, 0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};

constexpr std::uint64_t kSha384InitialState[8] = {
    0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17, 0x152fecd8f70e5939,
    0x67332667ffc00b31, 0x8eb44a8768581511, 0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};

constexpr std::uint64_t kRoundConstants[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc,
    0x3956c25bf348b538, 0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118,
    0xd807aa98a3030242, 0x12835b0145706fbe, 0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2,
    0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235, 0xc19bf174cf692694,
    0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5,
    0x983e5152ee66dfab, 0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4,
    0xc6e00bf33da88fc2, 0xd5a79147930aa725, 0x06ca6351e003826f, 0x142929670a0e6e70,
    0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed, 0x53380d139d95b3df,
    0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30,
    0xd192e819d6ef5218, 0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8,
    0x19a4c116b8d2d0c8, 0x1e376c085141ab53, 0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8,
    0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373, 0x682e6ff3d6b2b8a3,
    0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b,
    0xca273eceea26619c, 0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178,
    0x06f067aa72176fba, 0x0a637dc5a2c898a6, 0x113f9804bef90dae, 0x1b710b35131c471b,
    0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc, 0x431d67c49c100d4c,
    0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817};

inline std::uint64_t Rotr64(std::uint64_t v, int n) {
    return (v >> n) | (v << (64 - n));
}

// W[t] for t >= 16, kept in a ring of 16 words.
inline std::uint64_t ScheduleWord(std::uint64_t (&w)[16], int t) {
    const std::uint64_t w15 = w[(t - 15) & 15], w2 = w[(t - 2) & 15];
    const std::uint64_t sigma0 = Rotr64(w15, 1) ^ Rotr64(w15, 8) ^ (w15 >> 7);
    const std::uint64_t sigma1 = Rotr64(w2, 19) ^ Rotr64(w2, 61) ^ (w2 >> 6);
    return w[t & 15] += sigma0 + w[(t - 7) & 15] + sigma1;
}

// One round; the caller rotates the roles of the eight working variables instead of
// moving their values.
inline void Sha512Round(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t& d,
                        std::uint64_t e, std::uint64_t f, std::uint64_t g, std::uint64_t& h,
                        std::uint64_t word, int t) {
    const std::uint64_t bigSigma1 = Rotr64(e, 14) ^ Rotr64(e, 18) ^ Rotr64(e, 41);
    const std::uint64_t choose = g ^ (e & (f ^ g));
    const std::uint64_t t1 = h + bigSigma1 + choose + kRoundConstants[t] + word;
    const std::uint64_t bigSigma0 = Rotr64(a, 28) ^ Rotr64(a, 34) ^ Rotr64(a, 39);
    const std::uint64_t majority = (a & b) | (c & (a | b));
    d += t1;
    h = t1 + bigSigma0 + majority;
}

// Eight rounds from t on; the first sixteen use the message words as they are, so the
// schedule step is chosen at compile time rather than tested every round.
template <bool Schedule>
inline void EightRounds(std::uint64_t (&v)[8], std::uint64_t (&w)[16], int t) {
    auto word = [&](int i) { return Schedule ? ScheduleWord(w, t + i) : w[(t + i) & 15]; };
    Sha512Round(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], word(0), t);
    Sha512Round(v[7], v[0], v[1], v[2], v[3], v[4], v[5], v[6], word(1), t + 1);
    Sha512Round(v[6], v[7], v[0], v[1], v[2], v[3], v[4], v[5], word(2), t + 2);
    Sha512Round(v[5], v[6], v[7], v[0], v[1], v[2], v[3], v[4], word(3), t + 3);
    Sha512Round(v[4], v[5], v[6], v[7], v[0], v[1], v[2], v[3], word(4), t + 4);
    Sha512Round(v[3], v[4], v[5], v[6], v[7], v[0], v[1], v[2], word(5), t + 5);
    Sha512Round(v[2], v[3], v[4], v[5], v[6], v[7], v[0], v[1], word(6), t + 6);
    Sha512Round(v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[0], word(7), t + 7);
}

void Sha512FinalInto(Sha512State& state, std::uint8_t* digest, std::size_t digestLength) {
    BufferedHashPad(state.block, state.blockUsed, state.totalBytes, LengthOrder::BigEndian,
                    [&](const std::uint8_t* blocks, std::size_t count) {
                        Sha512CompressBlocks(state.h, blocks, count);
                    });
    for (std::size_t i = 0; i < digestLength / 8; ++i)
        StoreBe64(digest + 8 * i, state.h[i]);
    SecureWipeObject(state);
}

void InitWith(Sha512State& state, const std::uint64_t (&initial)[8]) {
    for (int i = 0; i < 8; ++i)
        state.h[i] = initial[i];
    state.blockUsed = 0;
    state.totalBytes = 0;
}

}  // namespace

void Sha512CompressBlocks(std::uint64_t h[8], const std::uint8_t* data, std::size_t blocks) {
    std::uint64_t w[16];
    std::uint64_t v[8];
    for (; blocks > 0; --blocks, data += kSha512BlockLength) {
        for (int i = 0; i < 16; ++i)
            w[i] = LoadBe64(data + 8 * i);
        for (int i = 0; i < 8; ++i)
            v[i] = h[i];
        EightRounds<false>(v, w, 0);
        EightRounds<false>(v, w, 8);
#pragma GCC unroll 8
        for (int t = 16; t < 80; t += 8)
            EightRounds<true>(v, w, t);
        for (int i = 0; i < 8; ++i)
            h[i] += v[i];
    }
    SecureWipeObject(w);
    SecureWipeObject(v);
}

void Sha512Init(Sha512State& state) {
    InitWith(state, kSha512InitialState);
}

void Sha384Init(Sha512State& state) {
    InitWith(state, kSha384InitialState);
}

void Sha512Update(Sha512State& state, const void* data, std::size_t length) {
    state.totalBytes += length;
    BufferedHashUpdate(state.block, state.blockUsed, data, length,
                       [&](const std::uint8_t* blocks, std::size_t count) {
                           Sha512CompressBlocks(state.h, blocks, count);
                       });
}

void Sha512Final(Sha512State& state, std::uint8_t digest[kSha512DigestLength]) {
    Sha512FinalInto(state, digest, kSha512DigestLength);
}

void Sha384Final(Sha512State& state, std::uint8_t digest[kSha384DigestLength]) {
    Sha512FinalInto(state, digest, kSha384DigestLength);
}

void Sha512(const void* data, std::size_t length, std::uint8_t digest[kSha512DigestLength]) {
    Sha512State state;
    Sha512Init(state);
    Sha512Update(state, data, length);
    Sha512Final(state, digest);
}

void Sha384(const void* data, std::size_t length, std::uint8_t digest[kSha384DigestLength]) {
    Sha512State state;
    Sha384Init(state);
    Sha512Update(state, data, length);
    Sha384Final(state, digest);
}
