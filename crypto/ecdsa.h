// "ecdsa-sha2-nistp256/384/521" host keys (RFC 5656 section 3).
#pragma once

#include <cstdint>
#include <vector>

#include "crypto/ecc.h"
#include "crypto/pubkey.h"

struct EcdsaPublicKey : PublicKey {
    const EcCurve* curve;
    std::vector<std::uint8_t> point;  // 0x04 || X || Y, validated
};
