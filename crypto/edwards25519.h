// The group of edwards25519 (-x^2 + y^2 = 1 + d x^2 y^2 over GF(2^255 - 19)), shared by
// Ed25519 and the fixed-base half of X25519.
#pragma once

#include <cstdint>

#include "crypto/field25519.h"

// Extended coordinates: x = X/Z, y = Y/Z, x*y = T/Z.
struct EdPoint {
    Fe25519 X, Y, Z, T;
};

// scalar * B for a 32-byte little-endian scalar below 2^255, in time independent of the
// scalar: signed 4-bit digits and a masked scan over a table of multiples of B built on
// first use.
void EdBaseMultiply(EdPoint& out, const std::uint8_t scalar[32]);

// a * A + b * B in variable time (for verification, where everything is public).
// a and b are below 2^253.
void EdDoubleScalarMultiply(EdPoint& out, const std::uint8_t a[32], const EdPoint& A,
                            const std::uint8_t b[32]);

// The 32-byte encoding: y, with the low bit of x in the top bit.
void EdEncode(std::uint8_t out[32], const EdPoint& point);

// Refuses y >= p, a y without a matching x on the curve, and "-0" (x = 0 with the sign bit
// set). Variable time: encodings decoded here are public.
bool EdDecode(EdPoint& out, const std::uint8_t encoding[32]);

void EdNegate(EdPoint& out, const EdPoint& point);

// The u coordinate of the birationally equivalent Curve25519 point, (1 + y) / (1 - y).
void EdMontgomeryU(std::uint8_t out[32], const EdPoint& point);
