// DSA signature verification for "ssh-dss" host keys (FIPS 186-2, SHA-1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "crypto/bignum.h"
#include "crypto/pubkey.h"

// "ssh-dss" signatures carry r and s as 20 bytes each, so q has 160 bits.
constexpr std::size_t kDsaSubgroupBits = 160;
constexpr std::size_t kDsaMinBits = 512;
constexpr std::size_t kDsaMaxBits = 8192;

struct DsaPublicKey : PublicKey {
    BigNum p, q, g, y;
};

// Checks the 40-byte signature string of an "ssh-dss" blob over data.
bool DsaVerifySha1(const DsaPublicKey& key, std::span<const std::uint8_t> signature,
                   std::span<const std::uint8_t> data);
