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

// S-boxes by row (outer bits of the 6-bit group) and column (inner four bits).
constexpr std::uint8_t kSboxes[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}}};

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
            const std::uint32_t placed = std::uint32_t(kSboxes[box][row][column]) << (28 - 4 * box);
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

struct DesEncryptor {
    const DesKey& key;
    Block64 operator()(Block64 b) const { return DesEncrypt(key, b); }
};
struct DesDecryptor {
    const DesKey& key;
    Block64 operator()(Block64 b) const { return DesDecrypt(key, b); }
};
struct TripleDesEncryptor {
    const TripleDesKey& key;
    Block64 operator()(Block64 b) const { return TripleDesEncrypt(key, b); }
};
struct TripleDesDecryptor {
    const TripleDesKey& key;
    Block64 operator()(Block64 b) const { return TripleDesDecrypt(key, b); }
};

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
