// Blowfish with its CBC and SDCTR modes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "crypto/block_modes.h"

struct BlowfishKey {
    std::uint32_t p[18];
    std::uint32_t s[4][256];
};

// keyLength from 1 to 56 bytes.
void BlowfishSetKey(BlowfishKey& key, const std::uint8_t* keyBytes, std::size_t keyLength);
// The key schedule in pieces, for bcrypt's expensive key schedule: the initial state
// (the digits of pi), then an expansion that XORs keyBytes (cycled) into the subkeys
// and re-derives all subkeys and S-boxes by encrypting a running block; when salt is
// not empty, salt (cycled, continuing across the whole expansion) is XORed into the
// block before each encryption. Both lengths are at least 1 where used.
void BlowfishInitState(BlowfishKey& key);
void BlowfishExpandState(BlowfishKey& key, std::span<const std::uint8_t> salt,
                         std::span<const std::uint8_t> keyBytes);
Block64 BlowfishEncrypt(const BlowfishKey& key, Block64 block);
Block64 BlowfishDecrypt(const BlowfishKey& key, Block64 block);

// SSH-2 reads the two halves of a block big-endian; SSH-1 reads them little-endian.
void BlowfishCbcEncrypt(const BlowfishKey& key, WordOrder order, std::uint8_t iv[8],
                        std::uint8_t* data, std::size_t length);
void BlowfishCbcDecrypt(const BlowfishKey& key, WordOrder order, std::uint8_t iv[8],
                        std::uint8_t* data, std::size_t length);
void BlowfishSdctr(const BlowfishKey& key, std::uint8_t counter[8], std::uint8_t* data,
                   std::size_t length);
