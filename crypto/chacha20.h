// ChaCha20 (RFC 8439) with its two input layouts: the 32-bit counter with a 96-bit nonce,
// and the original 64-bit counter with a 64-bit nonce that the SSH construction uses.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kChaCha20KeyLength = 32;
constexpr std::size_t kChaCha20BlockLength = 64;

struct ChaCha20 {
    std::uint32_t state[16];
    bool wideCounter;  // words 12 and 13 are one 64-bit counter
    bool avx2;         // eight blocks at a time; chosen when the state is set up
    bool avx512;       // sixteen blocks at a time; chosen likewise, preferred over avx2
};

// RFC 8439 layout: counter in word 12, nonce in words 13 to 15.
void ChaCha20Init(ChaCha20& cipher, const std::uint8_t key[32], std::uint32_t counter,
                  const std::uint8_t nonce[12]);
// Original layout: counter in words 12 and 13, nonce in words 14 and 15.
void ChaCha20InitOriginal(ChaCha20& cipher, const std::uint8_t key[32], std::uint64_t counter,
                          const std::uint8_t nonce[8]);

// The keystream block at the current counter; advances the counter by one.
void ChaCha20Block(ChaCha20& cipher, std::uint8_t out[64]);
// XORs the keystream into data. Every call starts on a block boundary: a trailing partial
// block uses up its whole keystream block.
void ChaCha20Xor(ChaCha20& cipher, std::uint8_t* data, std::size_t length);
void ChaCha20Wipe(ChaCha20& cipher);
