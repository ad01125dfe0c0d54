// SHA-512 and SHA-384 (FIPS 180-4), which share one state and compression function.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kSha512DigestLength = 64;
constexpr std::size_t kSha384DigestLength = 48;
constexpr std::size_t kSha512BlockLength = 128;

struct Sha512State {
    std::uint64_t h[8];
    std::uint8_t block[kSha512BlockLength];
    std::size_t blockUsed;
    std::uint64_t totalBytes;
};

void Sha512Init(Sha512State& state);
void Sha384Init(Sha512State& state);
void Sha512Update(Sha512State& state, const void* data, std::size_t length);
// Write the digest and wipe the state.
void Sha512Final(Sha512State& state, std::uint8_t digest[kSha512DigestLength]);
void Sha384Final(Sha512State& state, std::uint8_t digest[kSha384DigestLength]);

void Sha512(const void* data, std::size_t length, std::uint8_t digest[kSha512DigestLength]);
void Sha384(const void* data, std::size_t length, std::uint8_t digest[kSha384DigestLength]);

void Sha512CompressBlocks(std::uint64_t h[8], const std::uint8_t* blocks, std::size_t count);
