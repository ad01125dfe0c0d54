#include "crypto/chacha20.h"

#include <bit>
#include <cstring>

#include "crypto/byte_order.h"
#include "crypto/cpu_features.h"
#include "platform/wipe.h"

namespace {

// "expand 32-byte k"
constexpr std::uint32_t kSigma[4] = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};

// Blocks computed side by side, one per vector lane. The vector types are the compiler's
// generic ones, so this is plain portable code that becomes SSE2 (or NEON) instructions
// without a processor check.
using Vector = std::uint32_t __attribute__((vector_size(16)));
constexpr int kLanes = sizeof(Vector) / sizeof(std::uint32_t);

#define FT_CHACHA_INLINE __attribute__((always_inline)) inline

template <typename V>
FT_CHACHA_INLINE void QuarterRound(V& a, V& b, V& c, V& d) {
    a += b;
    d ^= a;
    d = (d << 16) | (d >> 16);
    c += d;
    b ^= c;
    b = (b << 12) | (b >> 20);
    a += b;
    d ^= a;
    d = (d << 8) | (d >> 24);
    c += d;
    b ^= c;
    b = (b << 7) | (b >> 25);
}

// The working state, kept by the caller and wiped once per call rather than per stride.
template <typename V>
struct Scratch {
    V input[16], x[16];
};

using Vector128 = std::uint32_t __attribute__((vector_size(16)));

// Words 4g .. 4g + 3 of every lane's block: a 4x4 transpose within each 128-bit part of
// the vectors, then 16-byte pieces XORed and stored (little-endian byte order only).
template <typename V>
FT_CHACHA_INLINE void StoreGroup(const V (&x)[16], int g, const std::uint8_t* in,
                                 std::uint8_t* out) {
    constexpr int lanes = sizeof(V) / sizeof(std::uint32_t);
    const V &a = x[4 * g], &b = x[4 * g + 1], &c = x[4 * g + 2], &d = x[4 * g + 3];
    V o[4];
    if constexpr (lanes == 4) {
        const V t0 = __builtin_shufflevector(a, b, 0, 4, 1, 5);
        const V t1 = __builtin_shufflevector(c, d, 0, 4, 1, 5);
        const V t2 = __builtin_shufflevector(a, b, 2, 6, 3, 7);
        const V t3 = __builtin_shufflevector(c, d, 2, 6, 3, 7);
        o[0] = __builtin_shufflevector(t0, t1, 0, 1, 4, 5);
        o[1] = __builtin_shufflevector(t0, t1, 2, 3, 6, 7);
        o[2] = __builtin_shufflevector(t2, t3, 0, 1, 4, 5);
        o[3] = __builtin_shufflevector(t2, t3, 2, 3, 6, 7);
    } else if constexpr (lanes == 8) {
        const V t0 = __builtin_shufflevector(a, b, 0, 8, 1, 9, 4, 12, 5, 13);
        const V t1 = __builtin_shufflevector(c, d, 0, 8, 1, 9, 4, 12, 5, 13);
        const V t2 = __builtin_shufflevector(a, b, 2, 10, 3, 11, 6, 14, 7, 15);
        const V t3 = __builtin_shufflevector(c, d, 2, 10, 3, 11, 6, 14, 7, 15);
        o[0] = __builtin_shufflevector(t0, t1, 0, 1, 8, 9, 4, 5, 12, 13);
        o[1] = __builtin_shufflevector(t0, t1, 2, 3, 10, 11, 6, 7, 14, 15);
        o[2] = __builtin_shufflevector(t2, t3, 0, 1, 8, 9, 4, 5, 12, 13);
        o[3] = __builtin_shufflevector(t2, t3, 2, 3, 10, 11, 6, 7, 14, 15);
    } else {
        static_assert(lanes == 16);
        const V t0 =
            __builtin_shufflevector(a, b, 0, 16, 1, 17, 4, 20, 5, 21, 8, 24, 9, 25, 12, 28, 13, 29);
        const V t1 =
            __builtin_shufflevector(c, d, 0, 16, 1, 17, 4, 20, 5, 21, 8, 24, 9, 25, 12, 28, 13, 29);
        const V t2 = __builtin_shufflevector(a, b, 2, 18, 3, 19, 6, 22, 7, 23, 10, 26, 11, 27, 14,
                                             30, 15, 31);
        const V t3 = __builtin_shufflevector(c, d, 2, 18, 3, 19, 6, 22, 7, 23, 10, 26, 11, 27, 14,
                                             30, 15, 31);
        o[0] = __builtin_shufflevector(t0, t1, 0, 1, 16, 17, 4, 5, 20, 21, 8, 9, 24, 25, 12, 13, 28,
                                       29);
        o[1] = __builtin_shufflevector(t0, t1, 2, 3, 18, 19, 6, 7, 22, 23, 10, 11, 26, 27, 14, 15,
                                       30, 31);
        o[2] = __builtin_shufflevector(t2, t3, 0, 1, 16, 17, 4, 5, 20, 21, 8, 9, 24, 25, 12, 13, 28,
                                       29);
        o[3] = __builtin_shufflevector(t2, t3, 2, 3, 18, 19, 6, 7, 22, 23, 10, 11, 26, 27, 14, 15,
                                       30, 31);
    }
    // Part k of o[j] holds block 4k + j.
    for (int k = 0; k < lanes / 4; ++k) {
        for (int j = 0; j < 4; ++j) {
            const std::size_t at = 64 * std::size_t(4 * k + j) + 16 * std::size_t(g);
            Vector128 piece;
            std::memcpy(&piece, reinterpret_cast<const std::uint8_t*>(&o[j]) + 16 * k, 16);
            if (in) {
                Vector128 data;
                std::memcpy(&data, in + at, 16);
                piece ^= data;
            }
            std::memcpy(out + at, &piece, 16);
        }
    }
}

// Lanes consecutive keystream blocks from the counter in state, XORed from in to out
// (whole blocks, Lanes of them), or written to out when in is null.

template <typename V>
FT_CHACHA_INLINE void Blocks(const ChaCha20& cipher, const std::uint8_t* in, std::uint8_t* out,
                             Scratch<V>& scratch) {
    constexpr int lanes = sizeof(V) / sizeof(std::uint32_t);
    V(&input)[16] = scratch.input;
    V(&x)[16] = scratch.x;
    for (int w = 0; w < 16; ++w)
        input[w] = V{} + cipher.state[w];
    V offsets{};
    for (int l = 0; l < lanes; ++l)
        offsets[l] = std::uint32_t(l);
    input[12] += offsets;
    if (cipher.wideCounter) input[13] -= (V)(input[12] < V{} + cipher.state[12]);
    for (int w = 0; w < 16; ++w)
        x[w] = input[w];
    for (int round = 0; round < 10; ++round) {
        QuarterRound(x[0], x[4], x[8], x[12]);
        QuarterRound(x[1], x[5], x[9], x[13]);
        QuarterRound(x[2], x[6], x[10], x[14]);
        QuarterRound(x[3], x[7], x[11], x[15]);
        QuarterRound(x[0], x[5], x[10], x[15]);
        QuarterRound(x[1], x[6], x[11], x[12]);
        QuarterRound(x[2], x[7], x[8], x[13]);
        QuarterRound(x[3], x[4], x[9], x[14]);
    }
    for (int w = 0; w < 16; ++w)
        x[w] += input[w];
    if constexpr (std::endian::native == std::endian::little) {
        for (int g = 0; g < 4; ++g)
            StoreGroup(x, g, in, out);
    } else {
        for (int l = 0; l < lanes; ++l) {
            for (int w = 0; w < 16; ++w) {
                const std::size_t at = 64 * std::size_t(l) + 4 * std::size_t(w);
                StoreLe32(out + at, (in ? LoadLe32(in + at) : 0) ^ x[w][l]);
            }
        }
    }
}

void Advance(ChaCha20& cipher, std::uint32_t blocks) {
    const std::uint32_t low = cipher.state[12] + blocks;
    if (cipher.wideCounter && low < cipher.state[12]) ++cipher.state[13];
    cipher.state[12] = low;
}

void SetKey(ChaCha20& cipher, const std::uint8_t* key) {
    for (int i = 0; i < 4; ++i)
        cipher.state[i] = kSigma[i];
    for (int i = 0; i < 8; ++i)
        cipher.state[4 + i] = LoadLe32(key + 4 * i);
}

template <typename V>
FT_CHACHA_INLINE void XorStream(ChaCha20& cipher, std::uint8_t* data, std::size_t length) {
    constexpr std::size_t lanes = sizeof(V) / sizeof(std::uint32_t);
    constexpr std::size_t stride = lanes * kChaCha20BlockLength;
    Scratch<V> scratch;
    for (; length >= stride; data += stride, length -= stride) {
        Blocks<V>(cipher, data, data, scratch);
        Advance(cipher, lanes);
    }
    if (length > 0) {
        std::uint8_t keystream[stride];
        Blocks<V>(cipher, nullptr, keystream, scratch);
        for (std::size_t i = 0; i < length; ++i)
            data[i] ^= keystream[i];
        Advance(cipher, std::uint32_t((length + kChaCha20BlockLength - 1) / kChaCha20BlockLength));
        SecureWipeObject(keystream);
    }
    SecureWipeObject(scratch);
}

#if defined(__x86_64__) || defined(__i386__)
// Eight lanes in the 256-bit registers; chosen at run time (UseAvx2()).
using Vector8 = std::uint32_t __attribute__((vector_size(32)));

__attribute__((target("avx2"))) void XorAvx2(ChaCha20& cipher, std::uint8_t* data,
                                             std::size_t length) {
    XorStream<Vector8>(cipher, data, length);
}

// Sixteen lanes in the 512-bit registers, which also rotate in one instruction.
using Vector16 = std::uint32_t __attribute__((vector_size(64)));

__attribute__((target("avx512f"))) void XorAvx512(ChaCha20& cipher, std::uint8_t* data,
                                                  std::size_t length) {
    XorStream<Vector16>(cipher, data, length);
}
#else
void XorAvx2(ChaCha20& cipher, std::uint8_t* data, std::size_t length) {
    XorStream<Vector>(cipher, data, length);
}
void XorAvx512(ChaCha20& cipher, std::uint8_t* data, std::size_t length) {
    XorStream<Vector>(cipher, data, length);
}
#endif

}  // namespace

void ChaCha20Init(ChaCha20& cipher, const std::uint8_t key[32], std::uint32_t counter,
                  const std::uint8_t nonce[12]) {
    SetKey(cipher, key);
    cipher.state[12] = counter;
    for (int i = 0; i < 3; ++i)
        cipher.state[13 + i] = LoadLe32(nonce + 4 * i);
    cipher.wideCounter = false;
    cipher.avx2 = UseAvx2();
    cipher.avx512 = UseAvx512();
}

void ChaCha20InitOriginal(ChaCha20& cipher, const std::uint8_t key[32], std::uint64_t counter,
                          const std::uint8_t nonce[8]) {
    SetKey(cipher, key);
    cipher.state[12] = std::uint32_t(counter);
    cipher.state[13] = std::uint32_t(counter >> 32);
    cipher.state[14] = LoadLe32(nonce);
    cipher.state[15] = LoadLe32(nonce + 4);
    cipher.wideCounter = true;
    cipher.avx2 = UseAvx2();
    cipher.avx512 = UseAvx512();
}

void ChaCha20Block(ChaCha20& cipher, std::uint8_t out[64]) {
    std::uint8_t blocks[kLanes * kChaCha20BlockLength];
    Scratch<Vector> scratch;
    Blocks<Vector>(cipher, nullptr, blocks, scratch);
    SecureWipeObject(scratch);
    std::memcpy(out, blocks, kChaCha20BlockLength);
    Advance(cipher, 1);
    SecureWipeObject(blocks);
}

void ChaCha20Xor(ChaCha20& cipher, std::uint8_t* data, std::size_t length) {
    if (cipher.avx512) return XorAvx512(cipher, data, length);
    if (cipher.avx2) return XorAvx2(cipher, data, length);
    XorStream<Vector>(cipher, data, length);
}

void ChaCha20Wipe(ChaCha20& cipher) {
    SecureWipeObject(cipher);
}
