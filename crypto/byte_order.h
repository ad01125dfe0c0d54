// Loads, stores and rotations shared by the primitives.
#pragma once

#include <cstdint>

inline std::uint32_t LoadBe32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}

inline std::uint16_t LoadBe16(const std::uint8_t* p) {
    return std::uint16_t((p[0] << 8) | p[1]);
}

inline std::uint64_t LoadBe64(const std::uint8_t* p) {
    return (std::uint64_t(LoadBe32(p)) << 32) | LoadBe32(p + 4);
}

inline void StoreBe16(std::uint8_t* p, std::uint16_t v) {
    p[0] = std::uint8_t(v >> 8);
    p[1] = std::uint8_t(v);
}

inline void StoreBe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v >> 24);
    p[1] = std::uint8_t(v >> 16);
    p[2] = std::uint8_t(v >> 8);
    p[3] = std::uint8_t(v);
}

inline std::uint32_t LoadLe32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

inline void StoreLe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}

inline void StoreBe64(std::uint8_t* p, std::uint64_t v) {
    StoreBe32(p, std::uint32_t(v >> 32));
    StoreBe32(p + 4, std::uint32_t(v));
}

inline void StoreLe64(std::uint8_t* p, std::uint64_t v) {
    StoreLe32(p, std::uint32_t(v));
    StoreLe32(p + 4, std::uint32_t(v >> 32));
}

inline std::uint32_t Rotl32(std::uint32_t v, int n) {
    return (v << n) | (v >> (32 - n));
}
inline std::uint32_t Rotr32(std::uint32_t v, int n) {
    return (v >> n) | (v << (32 - n));
}
