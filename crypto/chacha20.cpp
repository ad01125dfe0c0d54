#include "crypto/chacha20.h"

#include <cstring>

#include "crypto/byte_order.h"
#include "crypto/wipe.h"

namespace {

// "expand 32-byte k"
constexpr std::uint32_t kSigma[4] = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};

// Blocks computed side by side: the lane loops are plain C++ that the compiler turns into
// vector instructions on any target, with no processor check needed.
constexpr int kLanes = 4;

inline void QuarterRound(std::uint32_t (&x)[16][kLanes], int a, int b, int c, int d) {
    for (int l = 0; l < kLanes; ++l) {
        x[a][l] += x[b][l];
        x[d][l] = Rotl32(x[d][l] ^ x[a][l], 16);
        x[c][l] += x[d][l];
        x[b][l] = Rotl32(x[b][l] ^ x[c][l], 12);
        x[a][l] += x[b][l];
        x[d][l] = Rotl32(x[d][l] ^ x[a][l], 8);
        x[c][l] += x[d][l];
        x[b][l] = Rotl32(x[b][l] ^ x[c][l], 7);
    }
}

void Advance(ChaCha20& cipher, std::uint32_t blocks) {
    const std::uint32_t low = cipher.state[12] + blocks;
    if (cipher.wideCounter && low < cipher.state[12]) ++cipher.state[13];
    cipher.state[12] = low;
}

// kLanes consecutive keystream blocks, lane-major in out (block l at out + 64 * l).
void Blocks(ChaCha20& cipher, std::uint8_t* out) {
    std::uint32_t x[16][kLanes], input[16][kLanes];
    for (int w = 0; w < 16; ++w) {
        for (int l = 0; l < kLanes; ++l)
            input[w][l] = cipher.state[w];
    }
    for (int l = 1; l < kLanes; ++l) {
        const std::uint32_t low = cipher.state[12] + std::uint32_t(l);
        input[12][l] = low;
        if (cipher.wideCounter && low < cipher.state[12]) ++input[13][l];
    }
    std::memcpy(x, input, sizeof x);
    for (int round = 0; round < 10; ++round) {
        QuarterRound(x, 0, 4, 8, 12);
        QuarterRound(x, 1, 5, 9, 13);
        QuarterRound(x, 2, 6, 10, 14);
        QuarterRound(x, 3, 7, 11, 15);
        QuarterRound(x, 0, 5, 10, 15);
        QuarterRound(x, 1, 6, 11, 12);
        QuarterRound(x, 2, 7, 8, 13);
        QuarterRound(x, 3, 4, 9, 14);
    }
    for (int w = 0; w < 16; ++w) {
        for (int l = 0; l < kLanes; ++l)
            StoreLe32(out + 64 * l + 4 * w, x[w][l] + input[w][l]);
    }
    SecureWipeObject(x);
    SecureWipeObject(input);
}

void SetKey(ChaCha20& cipher, const std::uint8_t* key) {
    for (int i = 0; i < 4; ++i)
        cipher.state[i] = kSigma[i];
    for (int i = 0; i < 8; ++i)
        cipher.state[4 + i] = LoadLe32(key + 4 * i);
}

}  // namespace

void ChaCha20Init(ChaCha20& cipher, const std::uint8_t key[32], std::uint32_t counter,
                  const std::uint8_t nonce[12]) {
    SetKey(cipher, key);
    cipher.state[12] = counter;
    for (int i = 0; i < 3; ++i)
        cipher.state[13 + i] = LoadLe32(nonce + 4 * i);
    cipher.wideCounter = false;
}

void ChaCha20InitOriginal(ChaCha20& cipher, const std::uint8_t key[32], std::uint64_t counter,
                          const std::uint8_t nonce[8]) {
    SetKey(cipher, key);
    cipher.state[12] = std::uint32_t(counter);
    cipher.state[13] = std::uint32_t(counter >> 32);
    cipher.state[14] = LoadLe32(nonce);
    cipher.state[15] = LoadLe32(nonce + 4);
    cipher.wideCounter = true;
}

void ChaCha20Block(ChaCha20& cipher, std::uint8_t out[64]) {
    std::uint8_t blocks[kLanes * kChaCha20BlockLength];
    Blocks(cipher, blocks);
    std::memcpy(out, blocks, kChaCha20BlockLength);
    Advance(cipher, 1);
    SecureWipeObject(blocks);
}

void ChaCha20Xor(ChaCha20& cipher, std::uint8_t* data, std::size_t length) {
    std::uint8_t keystream[kLanes * kChaCha20BlockLength];
    while (length > 0) {
        Blocks(cipher, keystream);
        const std::size_t chunk = length < sizeof keystream ? length : sizeof keystream;
        for (std::size_t i = 0; i < chunk; ++i)
            data[i] ^= keystream[i];
        Advance(cipher, std::uint32_t((chunk + kChaCha20BlockLength - 1) / kChaCha20BlockLength));
        data += chunk;
        length -= chunk;
    }
    SecureWipeObject(keystream);
}

void ChaCha20Wipe(ChaCha20& cipher) {
    SecureWipeObject(cipher);
}
