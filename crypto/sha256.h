// SHA-256 (FIPS 180-2).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kSha256DigestLength = 32;
constexpr std::size_t kSha256BlockLength = 64;

struct Sha256State {
    std::uint32_t h[8];
    std::uint8_t block[kSha256BlockLength];
    std::size_t blockUsed;
    std::uint64_t totalBytes;
};

void Sha256Init(Sha256State& state);
void Sha256Update(Sha256State& state, const void* data, std::size_t length);
// Writes the digest and wipes the state.
void Sha256Final(Sha256State& state, std::uint8_t digest[kSha256DigestLength]);
void Sha256(const void* data, std::size_t length, std::uint8_t digest[kSha256DigestLength]);

void Sha256CompressBlocks(std::uint32_t h[8], const std::uint8_t* blocks, std::size_t count);
