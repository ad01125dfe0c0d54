#include "crypto/aes_ni.h"

#include <cstring>

#include "crypto/byte_order.h"
#include "platform/wipe.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define FT_AES_TARGET __attribute__((target("aes,sse4.1,ssse3")))
#define FT_AES_INLINE __attribute__((target("aes,sse4.1,ssse3"), always_inline)) inline

namespace {

// Blocks in flight: CTR and CBC decryption have no dependency between blocks, so eight
// instruction chains keep the AES unit busy.
constexpr int kLanes = 8;
constexpr int kMaxRounds = 14;

struct RoundKeys {
    __m128i k[kMaxRounds + 1];
};

FT_AES_INLINE RoundKeys LoadRoundKeys(const std::uint8_t* roundKeys, int rounds) {
    RoundKeys keys;
    for (int r = 0; r <= rounds; ++r)
        keys.k[r] = _mm_load_si128(reinterpret_cast<const __m128i*>(roundKeys + 16 * r));
    return keys;
}

FT_AES_INLINE __m128i Load(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
FT_AES_INLINE void Store(std::uint8_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

FT_AES_INLINE __m128i EncryptOne(__m128i x, const RoundKeys& keys, int rounds) {
    x = _mm_xor_si128(x, keys.k[0]);
    for (int r = 1; r < rounds; ++r)
        x = _mm_aesenc_si128(x, keys.k[r]);
    return _mm_aesenclast_si128(x, keys.k[rounds]);
}

FT_AES_INLINE __m128i DecryptOne(__m128i x, const RoundKeys& keys, int rounds) {
    x = _mm_xor_si128(x, keys.k[0]);
    for (int r = 1; r < rounds; ++r)
        x = _mm_aesdec_si128(x, keys.k[r]);
    return _mm_aesdeclast_si128(x, keys.k[rounds]);
}

FT_AES_INLINE void EncryptLanes(__m128i (&x)[kLanes], const RoundKeys& keys, int rounds) {
#pragma GCC unroll 8
    for (int i = 0; i < kLanes; ++i)
        x[i] = _mm_xor_si128(x[i], keys.k[0]);
    for (int r = 1; r < rounds; ++r) {
        const __m128i k = keys.k[r];
#pragma GCC unroll 8
        for (int i = 0; i < kLanes; ++i)
            x[i] = _mm_aesenc_si128(x[i], k);
    }
#pragma GCC unroll 8
    for (int i = 0; i < kLanes; ++i)
        x[i] = _mm_aesenclast_si128(x[i], keys.k[rounds]);
}

FT_AES_INLINE void DecryptLanes(__m128i (&x)[kLanes], const RoundKeys& keys, int rounds) {
#pragma GCC unroll 8
    for (int i = 0; i < kLanes; ++i)
        x[i] = _mm_xor_si128(x[i], keys.k[0]);
    for (int r = 1; r < rounds; ++r) {
        const __m128i k = keys.k[r];
#pragma GCC unroll 8
        for (int i = 0; i < kLanes; ++i)
            x[i] = _mm_aesdec_si128(x[i], k);
    }
#pragma GCC unroll 8
    for (int i = 0; i < kLanes; ++i)
        x[i] = _mm_aesdeclast_si128(x[i], keys.k[rounds]);
}

// A 128-bit big-endian counter held as two native halves.
struct Counter {
    std::uint64_t high;
    std::uint64_t low;
};

FT_AES_INLINE __m128i CounterBlock(const Counter& counter, std::uint64_t offset) {
    const std::uint64_t low = counter.low + offset;
    const std::uint64_t high = counter.high + (low < counter.low ? 1 : 0);
    return _mm_set_epi64x(static_cast<long long>(__builtin_bswap64(low)),
                          static_cast<long long>(__builtin_bswap64(high)));
}

FT_AES_INLINE void Advance(Counter& counter, std::uint64_t blocks) {
    const std::uint64_t low = counter.low + blocks;
    if (low < counter.low) ++counter.high;
    counter.low = low;
}

FT_AES_INLINE void WipeRoundKeys(RoundKeys& keys) {
    SecureWipeObject(keys);
}

}  // namespace

FT_AES_TARGET void AesNiPrepareKeys(const std::uint32_t* encryptWords, int rounds,
                                    std::uint8_t* niEncrypt, std::uint8_t* niDecrypt) {
    for (int i = 0; i < 4 * (rounds + 1); ++i)
        StoreBe32(niEncrypt + 4 * i, encryptWords[i]);
    Store(niDecrypt, Load(niEncrypt + 16 * rounds));
    for (int r = 1; r < rounds; ++r)
        Store(niDecrypt + 16 * r, _mm_aesimc_si128(Load(niEncrypt + 16 * (rounds - r))));
    Store(niDecrypt + 16 * rounds, Load(niEncrypt));
}

FT_AES_TARGET void AesNiEncryptBlock(const std::uint8_t* roundKeys, int rounds,
                                     const std::uint8_t* in, std::uint8_t* out) {
    RoundKeys keys = LoadRoundKeys(roundKeys, rounds);
    Store(out, EncryptOne(Load(in), keys, rounds));
    WipeRoundKeys(keys);
}

FT_AES_TARGET void AesNiDecryptBlock(const std::uint8_t* roundKeys, int rounds,
                                     const std::uint8_t* in, std::uint8_t* out) {
    RoundKeys keys = LoadRoundKeys(roundKeys, rounds);
    Store(out, DecryptOne(Load(in), keys, rounds));
    WipeRoundKeys(keys);
}

FT_AES_TARGET void AesNiCbcEncrypt(const std::uint8_t* roundKeys, int rounds, std::uint8_t* iv,
                                   std::uint8_t* data, std::size_t blocks) {
    RoundKeys keys = LoadRoundKeys(roundKeys, rounds);
    __m128i chain = Load(iv);
    for (; blocks > 0; --blocks, data += 16) {
        chain = EncryptOne(_mm_xor_si128(Load(data), chain), keys, rounds);
        Store(data, chain);
    }
    Store(iv, chain);
    WipeRoundKeys(keys);
}

FT_AES_TARGET void AesNiCbcDecrypt(const std::uint8_t* roundKeys, int rounds, std::uint8_t* iv,
                                   std::uint8_t* data, std::size_t blocks) {
    RoundKeys keys = LoadRoundKeys(roundKeys, rounds);
    __m128i previous = Load(iv);
    for (; blocks >= kLanes; blocks -= kLanes, data += 16 * kLanes) {
        __m128i ciphertext[kLanes], x[kLanes];
#pragma GCC unroll 8
        for (int i = 0; i < kLanes; ++i)
            x[i] = ciphertext[i] = Load(data + 16 * i);
        DecryptLanes(x, keys, rounds);
        Store(data, _mm_xor_si128(x[0], previous));
#pragma GCC unroll 8
        for (int i = 1; i < kLanes; ++i)
            Store(data + 16 * i, _mm_xor_si128(x[i], ciphertext[i - 1]));
        previous = ciphertext[kLanes - 1];
    }
    for (; blocks > 0; --blocks, data += 16) {
        const __m128i ciphertext = Load(data);
        Store(data, _mm_xor_si128(DecryptOne(ciphertext, keys, rounds), previous));
        previous = ciphertext;
    }
    Store(iv, previous);
    WipeRoundKeys(keys);
}

FT_AES_TARGET void AesNiSdctr(const std::uint8_t* roundKeys, int rounds, std::uint8_t* counterBytes,
                              std::uint8_t* data, std::size_t blocks) {
    RoundKeys keys = LoadRoundKeys(roundKeys, rounds);
    Counter counter{
        (std::uint64_t(LoadBe32(counterBytes)) << 32) | LoadBe32(counterBytes + 4),
        (std::uint64_t(LoadBe32(counterBytes + 8)) << 32) | LoadBe32(counterBytes + 12)};
    for (; blocks >= kLanes; blocks -= kLanes, data += 16 * kLanes) {
        __m128i x[kLanes];
#pragma GCC unroll 8
        for (int i = 0; i < kLanes; ++i)
            x[i] = CounterBlock(counter, i);
        EncryptLanes(x, keys, rounds);
#pragma GCC unroll 8
        for (int i = 0; i < kLanes; ++i)
            Store(data + 16 * i, _mm_xor_si128(x[i], Load(data + 16 * i)));
        Advance(counter, kLanes);
    }
    for (; blocks > 0; --blocks, data += 16) {
        Store(data, _mm_xor_si128(EncryptOne(CounterBlock(counter, 0), keys, rounds), Load(data)));
        Advance(counter, 1);
    }
    StoreBe64(counterBytes, counter.high);
    StoreBe64(counterBytes + 8, counter.low);
    WipeRoundKeys(keys);
}

#else

// Without x86 the fast path is never selected (CpuHasAesNi() is false).
void AesNiPrepareKeys(const std::uint32_t*, int, std::uint8_t*, std::uint8_t*) {}
void AesNiEncryptBlock(const std::uint8_t*, int, const std::uint8_t*, std::uint8_t*) {}
void AesNiDecryptBlock(const std::uint8_t*, int, const std::uint8_t*, std::uint8_t*) {}
void AesNiCbcEncrypt(const std::uint8_t*, int, std::uint8_t*, std::uint8_t*, std::size_t) {}
void AesNiCbcDecrypt(const std::uint8_t*, int, std::uint8_t*, std::uint8_t*, std::size_t) {}
void AesNiSdctr(const std::uint8_t*, int, std::uint8_t*, std::uint8_t*, std::size_t) {}

#endif
