// HMAC (RFC 2104) over any hash descriptor, with the keyed inner and outer states saved so
// that each message costs two hash finishes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/hash.h"

struct HmacKeyState {
    const HashDescriptor* hash;
    alignas(8) std::uint8_t inner[kMaxHashStateSize];
    alignas(8) std::uint8_t outer[kMaxHashStateSize];
};

// One message in progress; starts as a copy of the saved inner state.
struct HmacMessage {
    const HmacKeyState* key;
    alignas(8) std::uint8_t state[kMaxHashStateSize];
};

// Keys longer than the hash block are hashed first, as RFC 2104 says.
void HmacSetKey(HmacKeyState& key, const HashDescriptor& hash, const std::uint8_t* keyBytes,
                std::size_t keyLength);
void HmacWipe(HmacKeyState& key);

void HmacBegin(const HmacKeyState& key, HmacMessage& message);
void HmacAdd(HmacMessage& message, const void* data, std::size_t length);
// Writes hash->digestLength bytes and wipes the message state.
void HmacEnd(HmacMessage& message, std::uint8_t* mac);

void Hmac(const HashDescriptor& hash, const std::uint8_t* keyBytes, std::size_t keyLength,
          const void* data, std::size_t length, std::uint8_t* mac);
