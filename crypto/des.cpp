#include "crypto/des.h"

#include <array>

namespace {

// Bit numbers count from 1 at the most significant bit, as the standard writes them.
constexpr std::uint8_t kInitialPermutation[64] = {
    58, 50, 42, 34, 26, 18, 10, 2,  60, 52, 44, 36, 28, 20, 12, 4,  62, 54, 46, 38, 30, 22,
    14, 6,  64, 56, 48, 40, 32, 24, 16, 8,  57, 49, 41, 33, 25, 17, 9,  1,  59, 51, 43, 35,
    27, 19, 11, 3,  61, 53, 45, 37, 29, 21, 13, 5,  63, 55, 47, 39, 31, 23, 15, 7};

constexpr std::uint8_t kRoundPermutation[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23,
                                                26, 5, 18, 31, 10, 2,  8,  24, 14, 32, 27,
                                                3,  9, 19, 13, 30, 6,  22, 11, 4,  25};

constexpr std::uint8_t kKeyChoice1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                                          10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                                          63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                                          14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr std::uint8_t kKeyChoice2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr std::uint8_t kKeyShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// S-boxes, one a line: 64 hexadecimal digits, row by row (row from the outer
// bits of the 6-bit group, column from the inner four).
constexpr char kSboxes[8][65] = {
    "e4d12fb83a6c59070f74e2d1a6cb953841e8d62bfc973a50fc8249175b3ea06d",
    "f18e6b34972dc05a3d47f28ec01a69b50e7ba4d158c6932fd8a13f42b67c05e9",
    "a09e63f51dc7b428d709346a285ecbf1d6498f30b12c5ae71ad069874fe3b52c",
    "7de3069a1285bc4fd8b56f03472c1ae9a690cb7df13e52843f06a1d8945bc72e",
    "2c417ab6853fd0e9eb2c47d150fa3986421bad78f9c5630eb8c71e2d6f09a453",
    "c1af92680d34e75baf427c9561de0b389ef528c3704a1db6432c95fabe17608d",
    "4b2ef08d3c975a61d0b7491ae35c2f8614bdc37eaf6805926bd814a7950fe23c",
    "d2846fb1a93e50c71fd8a374c56b0e927b419ce206adf35821e74a8dfc90356b"};

constexpr std::uint8_t SboxValue(int box, int row, int column) {
    const char digit = kSboxes[box][16 * row + column];
    return std::uint8_t(digit <= '9' ? digit - '0' : digit - 'a' + 10);
}

// Output bit i (1-based) takes input bit table[i - 1]; widths count from the top bit.
constexpr std::uint64_t Permute(std::uint64_t in, int inWidth, const std::uint8_t* table,
                                int outWidth) {
    std::uint64_t out = 0;
    for (int i = 0; i < outWidth; ++i) {
        const std::uint64_t bit = (in >> (inWidth - table[i])) & 1;
        out |= bit << (outWidth - 1 - i);
    }
    return out;
}

struct DesTables {
    std::uint64_t initial[8][256];  // initial permutation, one table per input byte
    std::uint64_t final[8][256];    // its inverse
    std::uint32_t sp[8][64];        // S-box i then the round permutation
};

constexpr DesTables MakeTables() {
    DesTables t{};
    std::uint8_t inverse[64] = {};
    for (int i = 0; i < 64; ++i)
        inverse[kInitialPermutation[i] - 1] = std::uint8_t(i + 1);
    for (int byte = 0; byte < 8; ++byte) {
        for (int v = 0; v < 256; ++v) {
            const std::uint64_t in = std::uint64_t(v) << (56 - 8 * byte);
            t.initial[byte][v] = Permute(in, 64, kInitialPermutation, 64);
            t.final[byte][v] = Permute(in, 64, inverse, 64);
        }
    }
    for (int box = 0; box < 8; ++box) {
        for (int v = 0; v < 64; ++v) {
            const int row = ((v >> 4) & 2) | (v & 1);
            const int column = (v >> 1) & 15;
            const std::uint32_t placed = std::uint32_t(SboxValue(box, row, column))
                                         << (28 - 4 * box);
            t.sp[box][v] = static_cast<std::uint32_t>(Permute(placed, 32, kRoundPermutation, 32));
        }
    }
    return t;
}

constexpr DesTables kTables = MakeTables();

std::uint64_t ApplyByteTables(const std::uint64_t (&tables)[8][256], std::uint64_t in) {
    std::uint64_t out = 0;
    for (int byte = 0; byte < 8; ++byte)
        out |= tables[byte][(in >> (56 - 8 * byte)) & 0xff];
    return out;
}

inline std::uint32_t Rotl(std::uint32_t v, int n) {
    return n == 0 ? v : (v << n) | (v >> (32 - n));
}

// The expansion is folded in: group i reads bits 4i .. 4i+5 of R (bit 0 meaning bit 32).
inline std::uint32_t RoundFunction(std::uint32_t r, const std::uint8_t* subkey) {
    std::uint32_t out = 0;
    for (int box = 0; box < 8; ++box) {
        const std::uint32_t group = (Rotl(r, (4 * box + 31) & 31) >> 26) & 63;
        out |= kTables.sp[box][group ^ subkey[box]];
    }
    return out;
}

// reverse selects decryption (subkeys in reverse order).
Block64 DesCrypt(const DesKey& key, Block64 block, bool reverse) {
    const std::uint64_t permuted =
        ApplyByteTables(kTables.initial, (std::uint64_t(block.left) << 32) | block.right);
    std::uint32_t left = std::uint32_t(permuted >> 32), right = std::uint32_t(permuted);
    for (int round = 0; round < 16; ++round) {
        const std::uint8_t* subkey = key.subkeys[reverse ? 15 - round : round];
        const std::uint32_t next = left ^ RoundFunction(right, subkey);
        left = right;
        right = next;
    }
    // The halves are swapped once more before the final permutation.
    const std::uint64_t out = ApplyByteTables(kTables.final, (std::uint64_t(right) << 32) | left);
    return {std::uint32_t(out >> 32), std::uint32_t(out)};
}

std::uint32_t Rotl28(std::uint32_t v, int n) {
    return ((v << n) | (v >> (28 - n))) & 0x0fffffff;
}

}  // namespace

void DesSetKey(DesKey& key, const std::uint8_t keyBytes[8]) {
    const std::uint64_t raw = (std::uint64_t(LoadBe32(keyBytes)) << 32) | LoadBe32(keyBytes + 4);
    const std::uint64_t chosen = Permute(raw, 64, kKeyChoice1, 56);
    std::uint32_t c = std::uint32_t(chosen >> 28) & 0x0fffffff;
    std::uint32_t d = std::uint32_t(chosen) & 0x0fffffff;
    for (int round = 0; round < 16; ++round) {
        c = Rotl28(c, kKeyShifts[round]);
        d = Rotl28(d, kKeyShifts[round]);
        const std::uint64_t subkey = Permute((std::uint64_t(c) << 28) | d, 56, kKeyChoice2, 48);
        for (int group = 0; group < 8; ++group)
            key.subkeys[round][group] = std::uint8_t((subkey >> (42 - 6 * group)) & 63);
    }
}

Block64 DesEncrypt(const DesKey& key, Block64 block) {
    return DesCrypt(key, block, false);
}
Block64 DesDecrypt(const DesKey& key, Block64 block) {
    return DesCrypt(key, block, true);
}

void TripleDesSetKey(TripleDesKey& key, const std::uint8_t keyBytes[24]) {
    for (int i = 0; i < 3; ++i)
        DesSetKey(key.stage[i], keyBytes + 8 * i);
}

Block64 TripleDesEncrypt(const TripleDesKey& key, Block64 block) {
    return DesEncrypt(key.stage[2], DesDecrypt(key.stage[1], DesEncrypt(key.stage[0], block)));
}

Block64 TripleDesDecrypt(const TripleDesKey& key, Block64 block) {
    return DesDecrypt(key.stage[0], DesEncrypt(key.stage[1], DesDecrypt(key.stage[2], block)));
}

namespace {

// One block function bound to its key, as the chaining modes call it.
template <class Key, Block64 (*Crypt)(const Key&, Block64)>
struct BoundCipher {
    const Key& key;
    Block64 operator()(Block64 b) const { return Crypt(key, b); }
};
using DesEncryptor = BoundCipher<DesKey, DesEncrypt>;
using DesDecryptor = BoundCipher<DesKey, DesDecrypt>;
using TripleDesEncryptor = BoundCipher<TripleDesKey, TripleDesEncrypt>;
using TripleDesDecryptor = BoundCipher<TripleDesKey, TripleDesDecrypt>;

constexpr WordOrder kOrder = WordOrder::BigEndian;

}  // namespace

void DesCbcEncrypt(const DesKey& key, std::uint8_t iv[8], std::uint8_t* data, std::size_t length) {
    Cbc64Encrypt<kOrder>(DesEncryptor{key}, iv, data, length);
}

void DesCbcDecrypt(const DesKey& key, std::uint8_t iv[8], std::uint8_t* data, std::size_t length) {
    Cbc64Decrypt<kOrder>(DesDecryptor{key}, iv, data, length);
}

void TripleDesCbcEncrypt(const TripleDesKey& key, std::uint8_t iv[8], std::uint8_t* data,
                         std::size_t length) {
    Cbc64Encrypt<kOrder>(TripleDesEncryptor{key}, iv, data, length);
}

void TripleDesCbcDecrypt(const TripleDesKey& key, std::uint8_t iv[8], std::uint8_t* data,
                         std::size_t length) {
    Cbc64Decrypt<kOrder>(TripleDesDecryptor{key}, iv, data, length);
}

void TripleDesSdctr(const TripleDesKey& key, std::uint8_t counter[8], std::uint8_t* data,
                    std::size_t length) {
    Sdctr64(TripleDesEncryptor{key}, counter, data, length);
}

void TripleDesInnerCbcEncrypt(TripleDesInnerCbc& state, std::uint8_t* data, std::size_t length) {
    DesCbcEncrypt(state.key.stage[0], state.iv[0], data, length);
    DesCbcDecrypt(state.key.stage[1], state.iv[1], data, length);
    DesCbcEncrypt(state.key.stage[2], state.iv[2], data, length);
}

void TripleDesInnerCbcDecrypt(TripleDesInnerCbc& state, std::uint8_t* data, std::size_t length) {
    DesCbcDecrypt(state.key.stage[2], state.iv[2], data, length);
    DesCbcEncrypt(state.key.stage[1], state.iv[1], data, length);
    DesCbcDecrypt(state.key.stage[0], state.iv[0], data, length);
}
