// Elliptic-curve Diffie-Hellman and ECDSA over the NIST prime curves P-256,
// P-384 and P-521 (FIPS 186-4, SEC 1), for the "ecdh-sha2-nistp*" key
// exchanges and "ecdsa-sha2-nistp*" keys of SSH (RFC 5656).
//
// Points travel in the uncompressed form 0x04 || X || Y, each coordinate
// big-endian and EcFieldBytes long. Whatever involves a private scalar or a
// nonce runs in constant time; verification works on public data only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "crypto/bignum.h"

struct EcCurve;

// "nistp256", "nistp384", "nistp521"; null when unknown.
const EcCurve* FindEcCurve(std::string_view sshName);

std::size_t EcFieldBytes(const EcCurve& curve);  // 32, 48, 66
std::string_view EcCurveName(const EcCurve& curve);
// The hash SSH pairs with the curve: "sha256", "sha384", "sha512".
std::string_view EcHashName(const EcCurve& curve);
std::size_t EcOrderBits(const EcCurve& curve);
// 1 + 2 * EcFieldBytes.
std::size_t EcPointBytes(const EcCurve& curve);

// True when the point is an uncompressed encoding of a point on the curve,
// with coordinates below p (so not the point at infinity).
bool EcPointIsValid(const EcCurve& curve, std::span<const std::uint8_t> point);

class EcdhPrivateKey {
  public:
    // A scalar drawn uniformly from [1, n - 1] with the random pool.
    static std::unique_ptr<EcdhPrivateKey> Generate(const EcCurve& curve);
    ~EcdhPrivateKey();
    EcdhPrivateKey(const EcdhPrivateKey&) = delete;
    EcdhPrivateKey& operator=(const EcdhPrivateKey&) = delete;

    const EcCurve& curve() const { return *curve_; }
    std::span<const std::uint8_t> publicPoint() const { return publicPoint_; }
    // Checks the peer's point, then writes the X coordinate of d * Q,
    // EcFieldBytes long; false when the point is invalid.
    bool SharedSecret(std::span<const std::uint8_t> peerPoint, SecureBytes* x) const;

  private:
    EcdhPrivateKey(const EcCurve& curve, SecureBytes scalar, std::vector<std::uint8_t> point);

    const EcCurve* curve_;
    SecureBytes scalar_;  // big-endian, EcFieldBytes long
    std::vector<std::uint8_t> publicPoint_;
};

// A private scalar (here and in signing) is big-endian; it may be shorter
// than EcFieldBytes, or longer with leading zero bytes (an mpint), and must
// lie in [1, n - 1]; false otherwise.
bool EcPublicFromPrivate(const EcCurve& curve, std::span<const std::uint8_t> privateScalar,
                         std::vector<std::uint8_t>* point);

// ECDSA over a digest made with the curve's hash (a longer digest is cut to
// the order's bit length; a shorter one is used whole).
bool EcdsaVerify(const EcCurve& curve, std::span<const std::uint8_t> point, const BigNum& r,
                 const BigNum& s, std::span<const std::uint8_t> digest);
// Deterministic signing: the nonce is the RFC 6979 one for the curve's hash.
// r and s come out in [1, n - 1].
bool EcdsaSign(const EcCurve& curve, std::span<const std::uint8_t> privateScalar,
               std::span<const std::uint8_t> digest, BigNum* r, BigNum* s);
// The RFC 6979 nonce for the key and digest (big-endian, EcFieldBytes long):
// the first candidate in [1, n - 1], which EcdsaSign uses unless r or s comes
// out zero. False when the scalar or the curve's hash is unusable.
bool EcdsaNonce(const EcCurve& curve, std::span<const std::uint8_t> privateScalar,
                std::span<const std::uint8_t> digest, SecureBytes* nonce);
