// Poly1305 over four blocks at a time in the 256-bit registers; callers check UseAvx2().
#pragma once

#include <cstddef>
#include <cstdint>

// h (two 64-bit limbs and a small third) absorbs the full blocks (a multiple of four) with
// the clamped key half r, exactly as the one-block-at-a-time loop would.
void Poly1305Avx2Blocks(std::uint64_t h[3], const std::uint64_t r[2], const std::uint8_t* data,
                        std::size_t blocks);
