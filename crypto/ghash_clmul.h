// GHASH with the carry-less multiply instruction; callers check UsePclmul() first.
#pragma once

#include <cstddef>
#include <cstdint>

// Blocks folded per reduction on this path, and the powers of H it keeps for them.
constexpr std::size_t kGhashClmulPowers = 8;

// powers receives H^1 .. H^8, 16 bytes each, in the instruction path's own layout.
void GhashClmulInit(const std::uint8_t h[16], std::uint8_t* powers);
// y = (...((y ^ X1) * H ^ X2) * H ...) * H over whole blocks; y as the 16 bytes of GCM.
void GhashClmulBlocks(const std::uint8_t* powers, std::uint8_t y[16], const std::uint8_t* data,
                      std::size_t blocks);
