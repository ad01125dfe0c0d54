// MD5 (RFC 1321).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kMd5DigestLength = 16;
constexpr std::size_t kMd5BlockLength = 64;

struct Md5State {
    std::uint32_t h[4];
    std::uint8_t block[kMd5BlockLength];
    std::size_t blockUsed;
    std::uint64_t totalBytes;
};

void Md5Init(Md5State& state);
void Md5Update(Md5State& state, const void* data, std::size_t length);
// Writes the digest and wipes the state.
void Md5Final(Md5State& state, std::uint8_t digest[kMd5DigestLength]);
void Md5(const void* data, std::size_t length, std::uint8_t digest[kMd5DigestLength]);
