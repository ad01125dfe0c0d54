// Signers over private keys held in this process (read from key files). Each
// factory derives the public half from the private one, so a signer's blob is
// always the blob of the key it signs with.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "crypto/ecc.h"
#include "crypto/rsa.h"
#include "ssh/signer.h"

// seed: the 32-byte Ed25519 private seed.
std::unique_ptr<SshSigner> MakeEd25519Signer(std::span<const std::uint8_t> seed,
                                             std::string origin);
// scalar: big-endian, in [1, n - 1]; nullptr otherwise.
std::unique_ptr<SshSigner> MakeEcdsaSigner(const EcCurve& curve,
                                           std::span<const std::uint8_t> scalar,
                                           std::string origin);
// Needs the modulus, both exponents, both primes and the coefficient (q^-1 mod p);
// derives the CRT exponents. nullptr unless n = p * q, the coefficient is right, the
// size is within the RSA limits and d undoes e.
std::unique_ptr<SshSigner> MakeRsaSigner(RsaPrivateKey key, std::string origin);
