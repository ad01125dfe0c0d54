// The block buffering and length padding that MD5, SHA-1, SHA-256 (64-byte blocks) and
// SHA-512 (128-byte blocks) share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/byte_order.h"

// compress(const uint8_t* blocks, size_t count) folds whole blocks into the chaining state.
template <std::size_t kHashBlockLength, typename Compress>
void BufferedHashUpdate(std::uint8_t (&block)[kHashBlockLength], std::size_t& used,
                        const void* data, std::size_t length, Compress compress) {
    if (length == 0) return;  // data may be null then
    const auto* in = static_cast<const std::uint8_t*>(data);
    if (used > 0) {
        const std::size_t take =
            length < kHashBlockLength - used ? length : kHashBlockLength - used;
        std::memcpy(block + used, in, take);
        used += take;
        in += take;
        length -= take;
        if (used < kHashBlockLength) return;
        compress(block, 1);
        used = 0;
    }
    const std::size_t whole = length / kHashBlockLength;
    if (whole > 0) compress(in, whole);
    in += whole * kHashBlockLength;
    length -= whole * kHashBlockLength;
    if (length > 0) std::memcpy(block, in, length);
    used = length;
}

enum class LengthOrder { BigEndian, LittleEndian };

// Appends 0x80, zeros and the message length in bits, and compresses the last block(s).
// The length field is an eighth of the block (64 or 128 bits); the bit count of any message
// this process can hold fits its low 64 bits.
template <std::size_t kHashBlockLength, typename Compress>
void BufferedHashPad(std::uint8_t (&block)[kHashBlockLength], std::size_t used,
                     std::uint64_t totalBytes, LengthOrder order, Compress compress) {
    constexpr std::size_t kLengthField = kHashBlockLength / 8;
    block[used++] = 0x80;
    if (used > kHashBlockLength - kLengthField) {
        std::memset(block + used, 0, kHashBlockLength - used);
        compress(block, 1);
        used = 0;
    }
    std::memset(block + used, 0, kHashBlockLength - 8 - used);
    const std::uint64_t bits = totalBytes * 8;
    if (order == LengthOrder::BigEndian)
        StoreBe64(block + kHashBlockLength - 8, bits);
    else
        StoreLe64(block + kHashBlockLength - 8, bits);
    compress(block, 1);
}
