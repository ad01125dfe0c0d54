// AES (FIPS-197) with 128-, 192- and 256-bit keys, and its CBC and SDCTR modes.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kAesBlockLength = 16;

struct AesKey {
    std::uint32_t encrypt[60];                // round keys, one big-endian word per column
    std::uint32_t decrypt[60];                // round keys of the equivalent inverse cipher
    alignas(16) std::uint8_t niEncrypt[240];  // the same for the AES instructions
    alignas(16) std::uint8_t niDecrypt[240];
    int rounds;
    bool aesNi;  // chosen when the key is set
};

// keyLength must be 16, 24 or 32; any other is refused (false, key untouched).
bool AesSetKey(AesKey& key, const std::uint8_t* keyBytes, std::size_t keyLength);
void AesWipe(AesKey& key);

void AesEncryptBlock(const AesKey& key, const std::uint8_t in[16], std::uint8_t out[16]);
void AesDecryptBlock(const AesKey& key, const std::uint8_t in[16], std::uint8_t out[16]);

// In place over whole blocks (a trailing partial block is left alone). The IV or counter is
// updated so that the next call continues the stream.
void AesCbcEncrypt(const AesKey& key, std::uint8_t iv[16], std::uint8_t* data, std::size_t length);
void AesCbcDecrypt(const AesKey& key, std::uint8_t iv[16], std::uint8_t* data, std::size_t length);
// The counter is one big-endian 128-bit number, incremented per block with full carry.
void AesSdctr(const AesKey& key, std::uint8_t counter[16], std::uint8_t* data, std::size_t length);
