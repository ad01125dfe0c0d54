// Ed25519 signatures (RFC 8032) and the "ssh-ed25519" host-key row (kSshEd25519 in
// crypto/pubkey.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

constexpr std::size_t kEd25519SeedLength = 32;
constexpr std::size_t kEd25519PublicKeyLength = 32;
constexpr std::size_t kEd25519SignatureLength = 64;

// Refuses S >= L, encodings of A or R with y >= p, and A off the curve. The equation is
// checked without the cofactor: [S]B must equal R + [k]A exactly. Variable time (all
// inputs are public).
bool Ed25519Verify(const std::uint8_t publicKey[kEd25519PublicKeyLength],
                   const std::uint8_t signature[kEd25519SignatureLength],
                   std::span<const std::uint8_t> message);

void Ed25519PublicKey(const std::uint8_t seed[kEd25519SeedLength],
                      std::uint8_t publicKey[kEd25519PublicKeyLength]);

// publicKey must be the one Ed25519PublicKey gives for seed. Time independent of the seed
// (it depends on the message length only); secrets are wiped.
void Ed25519Sign(const std::uint8_t seed[kEd25519SeedLength],
                 const std::uint8_t publicKey[kEd25519PublicKeyLength],
                 std::span<const std::uint8_t> message,
                 std::uint8_t signature[kEd25519SignatureLength]);
