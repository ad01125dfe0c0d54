// DES (FIPS 46-3), triple DES in EDE form, and their CBC and SDCTR modes, including the
// inner-CBC triple DES of SSH-1 where each of the three stages keeps its own chain.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/block_modes.h"

struct DesKey {
    std::uint8_t subkeys[16][8];  // per round, eight 6-bit groups
};

struct TripleDesKey {
    DesKey stage[3];
};

// Parity bits of the key are ignored.
void DesSetKey(DesKey& key, const std::uint8_t keyBytes[8]);
Block64 DesEncrypt(const DesKey& key, Block64 block);
Block64 DesDecrypt(const DesKey& key, Block64 block);

// 24 key bytes: K1, K2, K3; encryption is E(K3, D(K2, E(K1, x))).
void TripleDesSetKey(TripleDesKey& key, const std::uint8_t keyBytes[24]);
Block64 TripleDesEncrypt(const TripleDesKey& key, Block64 block);
Block64 TripleDesDecrypt(const TripleDesKey& key, Block64 block);

void DesCbcEncrypt(const DesKey& key, std::uint8_t iv[8], std::uint8_t* data, std::size_t length);
void DesCbcDecrypt(const DesKey& key, std::uint8_t iv[8], std::uint8_t* data, std::size_t length);
void TripleDesCbcEncrypt(const TripleDesKey& key, std::uint8_t iv[8], std::uint8_t* data,
                         std::size_t length);
void TripleDesCbcDecrypt(const TripleDesKey& key, std::uint8_t iv[8], std::uint8_t* data,
                         std::size_t length);
void TripleDesSdctr(const TripleDesKey& key, std::uint8_t counter[8], std::uint8_t* data,
                    std::size_t length);

// SSH-1: encryption is CBC-encrypt(K1), CBC-decrypt(K2), CBC-encrypt(K3), each with its IV.
struct TripleDesInnerCbc {
    TripleDesKey key;
    std::uint8_t iv[3][8];
};
void TripleDesInnerCbcEncrypt(TripleDesInnerCbc& state, std::uint8_t* data, std::size_t length);
void TripleDesInnerCbcDecrypt(TripleDesInnerCbc& state, std::uint8_t* data, std::size_t length);
