// Conversions between our big integers and libcrypto's, the reference the
// public-key tests compare against.
#pragma once

#include <openssl/bn.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <random>
#include <vector>

#include "crypto/bignum.h"

struct BnFree {
    void operator()(BIGNUM* bn) const { BN_clear_free(bn); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

struct BnCtxFree {
    void operator()(BN_CTX* ctx) const { BN_CTX_free(ctx); }
};
using BnCtx = std::unique_ptr<BN_CTX, BnCtxFree>;

// Readable failure messages.
inline void PrintTo(const BigNum& value, std::ostream* out) {
    *out << value.ToHex();
}

inline Bn ToBn(const BigNum& value) {
    SecureBytes bytes = value.ToBytes();
    return Bn(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr));
}

inline BigNum FromBn(const BIGNUM* bn) {
    std::vector<std::uint8_t> bytes(BN_num_bytes(bn));
    BN_bn2bin(bn, bytes.data());
    return BigNum::FromBytes(bytes);
}

inline std::vector<std::uint8_t> RandomBytesOf(std::mt19937_64& rng, std::size_t length) {
    std::vector<std::uint8_t> bytes(length);
    for (auto& byte : bytes)
        byte = static_cast<std::uint8_t>(rng());
    return bytes;
}

// A random number of exactly the given byte length (top byte non-zero).
inline BigNum RandomNumber(std::mt19937_64& rng, std::size_t length) {
    std::vector<std::uint8_t> bytes = RandomBytesOf(rng, length);
    if (!bytes.empty() && bytes[0] == 0) bytes[0] = 1;
    return BigNum::FromBytes(bytes);
}
