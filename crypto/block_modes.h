// CBC and SDCTR over 64-bit block ciphers (DES, triple DES, Blowfish), in place over whole
// blocks, with the IV or counter carried from one call to the next.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/byte_order.h"

constexpr std::size_t kBlock64Length = 8;

// How the two 32-bit halves are read from the 8 bytes of a block.
enum class WordOrder { BigEndian, LittleEndian };

struct Block64 {
    std::uint32_t left;
    std::uint32_t right;
};

template <WordOrder Order>
Block64 LoadBlock64(const std::uint8_t* p) {
    if constexpr (Order == WordOrder::BigEndian) return {LoadBe32(p), LoadBe32(p + 4)};
    return {LoadLe32(p), LoadLe32(p + 4)};
}

template <WordOrder Order>
void StoreBlock64(std::uint8_t* p, Block64 b) {
    if constexpr (Order == WordOrder::BigEndian) {
        StoreBe32(p, b.left);
        StoreBe32(p + 4, b.right);
    } else {
        StoreLe32(p, b.left);
        StoreLe32(p + 4, b.right);
    }
}

inline Block64 Xor(Block64 a, Block64 b) {
    return {a.left ^ b.left, a.right ^ b.right};
}

// Adds one to a big-endian counter of any length, carrying across all its bytes.
inline void IncrementBigEndianCounter(std::uint8_t* counter, std::size_t length) {
    for (std::size_t i = length; i-- > 0;) {
        if (++counter[i] != 0) break;
    }
}

// cipher(Block64) -> Block64 encrypts or decrypts one block.
template <WordOrder Order, typename Cipher>
void Cbc64Encrypt(const Cipher& cipher, std::uint8_t* iv, std::uint8_t* data, std::size_t length) {
    Block64 chain = LoadBlock64<Order>(iv);
    for (std::size_t n = length / kBlock64Length; n > 0; --n, data += kBlock64Length) {
        chain = cipher(Xor(LoadBlock64<Order>(data), chain));
        StoreBlock64<Order>(data, chain);
    }
    StoreBlock64<Order>(iv, chain);
}

template <WordOrder Order, typename Cipher>
void Cbc64Decrypt(const Cipher& cipher, std::uint8_t* iv, std::uint8_t* data, std::size_t length) {
    Block64 chain = LoadBlock64<Order>(iv);
    for (std::size_t n = length / kBlock64Length; n > 0; --n, data += kBlock64Length) {
        const Block64 ciphertext = LoadBlock64<Order>(data);
        StoreBlock64<Order>(data, Xor(cipher(ciphertext), chain));
        chain = ciphertext;
    }
    StoreBlock64<Order>(iv, chain);
}

template <typename Cipher>
void Sdctr64(const Cipher& encrypt, std::uint8_t* counter, std::uint8_t* data, std::size_t length) {
    for (std::size_t n = length / kBlock64Length; n > 0; --n, data += kBlock64Length) {
        const Block64 keystream = encrypt(LoadBlock64<WordOrder::BigEndian>(counter));
        StoreBlock64<WordOrder::BigEndian>(data,
                                           Xor(LoadBlock64<WordOrder::BigEndian>(data), keystream));
        IncrementBigEndianCounter(counter, kBlock64Length);
    }
}
