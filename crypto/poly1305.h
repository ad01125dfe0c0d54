// Poly1305 one-time authenticator (RFC 8439 section 2.5).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kPoly1305KeyLength = 32;
constexpr std::size_t kPoly1305TagLength = 16;

struct Poly1305 {
    std::uint64_t r[2], s[2];  // r clamped; s is the second key half
    std::uint64_t h[3];        // the accumulator, 64 + 64 + a few bits
    std::uint8_t buffer[16];
    std::size_t buffered;
    bool avx2;  // four blocks at a time; chosen when the key is set
};

void Poly1305Init(Poly1305& mac, const std::uint8_t key[32]);
void Poly1305Update(Poly1305& mac, const std::uint8_t* data, std::size_t length);
// Writes the tag and wipes the state.
void Poly1305Final(Poly1305& mac, std::uint8_t tag[16]);

void Poly1305Mac(const std::uint8_t key[32], const std::uint8_t* data, std::size_t length,
                 std::uint8_t tag[16]);

// Equality of two byte strings whose time depends on the length only.
bool ConstantTimeEqual(const std::uint8_t* a, const std::uint8_t* b, std::size_t length);
