// AES-GCM (NIST SP 800-38D) with a 12-byte IV and a 16-byte tag.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/aes.h"
#include "crypto/ghash_clmul.h"

constexpr std::size_t kGcmIvLength = 12;
constexpr std::size_t kGcmTagLength = 16;

struct GcmKey {
    AesKey aes;
    std::uint64_t h[2];  // the hash key as two big-endian halves, first half first
    alignas(16) std::uint8_t hPowers[16 * kGhashClmulPowers];  // for the instruction path
    bool pclmul;                                               // chosen when the key is set
};

// keyLength must be 16, 24 or 32; any other is refused (false).
bool GcmSetKey(GcmKey& key, const std::uint8_t* keyBytes, std::size_t keyLength);
void GcmWipe(GcmKey& key);

// Encrypts data in place and writes the tag over aad and the ciphertext.
void GcmEncrypt(const GcmKey& key, const std::uint8_t iv[12], const std::uint8_t* aad,
                std::size_t aadLength, std::uint8_t* data, std::size_t length,
                std::uint8_t tag[16]);
// Checks the tag first (in constant time); only when it matches decrypts in place and
// returns true. On a mismatch data is left as it was.
bool GcmDecrypt(const GcmKey& key, const std::uint8_t iv[12], const std::uint8_t* aad,
                std::size_t aadLength, std::uint8_t* data, std::size_t length,
                const std::uint8_t tag[16]);
