// The AES-instruction paths; callers check UseAesNi() first.
#pragma once

#include <cstddef>
#include <cstdint>

// Round keys for the instructions from the FIPS-197 key schedule words.
void AesNiPrepareKeys(const std::uint32_t* encryptWords, int rounds, std::uint8_t* niEncrypt,
                      std::uint8_t* niDecrypt);

void AesNiEncryptBlock(const std::uint8_t* roundKeys, int rounds, const std::uint8_t* in,
                       std::uint8_t* out);
void AesNiDecryptBlock(const std::uint8_t* roundKeys, int rounds, const std::uint8_t* in,
                       std::uint8_t* out);
void AesNiCbcEncrypt(const std::uint8_t* roundKeys, int rounds, std::uint8_t* iv,
                     std::uint8_t* data, std::size_t blocks);
void AesNiCbcDecrypt(const std::uint8_t* roundKeys, int rounds, std::uint8_t* iv,
                     std::uint8_t* data, std::size_t blocks);
void AesNiSdctr(const std::uint8_t* roundKeys, int rounds, std::uint8_t* counter,
                std::uint8_t* data, std::size_t blocks);
