// bcrypt_pbkdf: the passphrase-to-key function of OpenSSH's private key files
// (from OpenBSD): a PBKDF2-like construction whose pseudo-random function is
// bcrypt's expensive Blowfish key schedule over SHA-512 digests.
#pragma once

#include <cstdint>
#include <span>

// Fills key (1 to 1024 bytes) from the passphrase and salt (both non-empty) with
// the given number of rounds (at least 1). False, with key untouched, when an
// argument is out of range. Every intermediate is wiped. Each round costs about
// as much as 130 Blowfish key schedules, per 32 bytes of key.
bool BcryptPbkdf(std::span<const std::uint8_t> passphrase, std::span<const std::uint8_t> salt,
                 std::uint32_t rounds, std::span<std::uint8_t> key);
