// X25519 Diffie-Hellman on Curve25519 (RFC 7748), for the curve25519-sha256 key exchange.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kX25519Length = 32;

// out = scalar * u. The scalar is clamped and the top bit of u ignored, as RFC 7748 says.
// False when the result is all zero (u of small order), which the caller must refuse;
// that check takes the same time whatever the result.
bool X25519(std::uint8_t out[kX25519Length], const std::uint8_t scalar[kX25519Length],
            const std::uint8_t u[kX25519Length]);

// out = scalar * 9 (the base point): the public value for a private scalar.
void X25519Base(std::uint8_t out[kX25519Length], const std::uint8_t scalar[kX25519Length]);
