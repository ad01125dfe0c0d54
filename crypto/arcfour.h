// Arcfour (RC4) as SSH uses it: the first 1536 keystream bytes are discarded (RFC 4345).
#pragma once

#include <cstddef>
#include <cstdint>

struct ArcfourState {
    std::uint8_t s[256];
    std::uint8_t i;
    std::uint8_t j;
};

constexpr std::size_t kArcfourDiscard = 1536;
constexpr std::size_t kArcfourMaxKeyLength = 256;

// The plain RC4 key schedule, without the discard. A key of 0 or more than 256
// bytes is refused (false).
bool ArcfourSetKeyRaw(ArcfourState& state, const std::uint8_t* key, std::size_t keyLength);
// The key schedule followed by the discard of kArcfourDiscard keystream bytes.
bool ArcfourSetKey(ArcfourState& state, const std::uint8_t* key, std::size_t keyLength);
// Encryption and decryption are the same: XOR with the keystream, in place, any length.
void ArcfourCrypt(ArcfourState& state, std::uint8_t* data, std::size_t length);
