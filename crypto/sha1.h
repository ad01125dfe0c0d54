// SHA-1 (FIPS 180-1) with its bare compression function.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kSha1DigestLength = 20;
constexpr std::size_t kSha1BlockLength = 64;

struct Sha1State {
    std::uint32_t h[5];
    std::uint8_t block[kSha1BlockLength];
    std::size_t blockUsed;
    std::uint64_t totalBytes;
};

void Sha1Init(Sha1State& state);
void Sha1Update(Sha1State& state, const void* data, std::size_t length);
// Writes the digest and wipes the state.
void Sha1Final(Sha1State& state, std::uint8_t digest[kSha1DigestLength]);
void Sha1(const void* data, std::size_t length, std::uint8_t digest[kSha1DigestLength]);

// The compression function alone: folds one 64-byte block into the chaining state.
void Sha1Compress(std::uint32_t h[5], const std::uint8_t block[kSha1BlockLength]);
// The same over consecutive blocks (the bulk path of Sha1Update).
void Sha1CompressBlocks(std::uint32_t h[5], const std::uint8_t* blocks, std::size_t count);
