// RSA public-key operations: "ssh-rsa" host keys (PKCS #1 v1.5 signatures over
// SHA-1), their "rsa-sha2-256" and "rsa-sha2-512" signatures, and the encryption of the
// SSH-1 session key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "crypto/bignum.h"
#include "crypto/hash.h"
#include "crypto/pubkey.h"

// Moduli outside this range are refused when a key is made.
constexpr std::size_t kRsaMinBits = 512;
constexpr std::size_t kRsaMaxBits = 16384;

struct RsaPublicKey : PublicKey {
    BigNum exponent;
    BigNum modulus;
};

// A key from its numbers (the SSH-1 path, which carries no blob); nullptr
// when the numbers are not a usable key: the modulus odd and within the size
// limits, the exponent odd, at least 3 and below the modulus.
PublicKey* RsaNewKey(BigNum exponent, BigNum modulus);

// m^e mod n.
BigNum RsaPublicOperation(const RsaPublicKey& key, const BigNum& message);

// Checks a bare signature (the signature string of an "ssh-rsa" blob) over data.
bool RsaVerifySha1(const RsaPublicKey& key, std::span<const std::uint8_t> signature,
                   std::span<const std::uint8_t> data);

// RSASSA-PKCS1-v1_5 (RFC 8017) with SHA-1, SHA-256 or SHA-512 (any other hash fails): the
// signature exactly as long as the modulus and below it, the recovered block equal to the
// whole encoding, DigestInfo with its NULL parameters included.
bool RsaVerifyPkcs1(const RsaPublicKey& key, const HashDescriptor& hash,
                    std::span<const std::uint8_t> signature, std::span<const std::uint8_t> data);

// The numbers of a private key as PKCS #1 lists them; BigNum wipes them when released.
struct RsaPrivateKey {
    BigNum modulus;
    BigNum publicExponent;
    BigNum privateExponent;
    BigNum prime1, prime2;        // p, q
    BigNum exponent1, exponent2;  // d mod (p - 1), d mod (q - 1)
    BigNum coefficient;           // q^-1 mod p
};

// RSASSA-PKCS1-v1_5 signature over data, as long as the modulus, with the CRT, the message
// blinded by a random r^e and the result checked with the public key; empty when the hash
// has no DigestInfo here, the modulus is too short for it or the check fails.
std::vector<std::uint8_t> RsaSignPkcs1(const RsaPrivateKey& key, const HashDescriptor& hash,
                                       std::span<const std::uint8_t> data);

// The SHA-2 host-key rows (RFC 8332) refuse moduli below this size.
constexpr std::size_t kRsaSha2MinBits = 1024;

// PKCS #1 type 2 padding with non-zero random bytes from the random pool,
// then the public operation; false when the modulus is too short for the data
// (the padding needs 11 bytes).
bool RsaSsh1Encrypt(const RsaPublicKey& key, std::span<const std::uint8_t> data, BigNum* result);
