#include "crypto/hmac.h"

#include <cstring>

#include "platform/wipe.h"

namespace {

void KeyedPadState(const HashDescriptor& hash, const std::uint8_t* key, std::size_t keyLength,
                   std::uint8_t pad, std::uint8_t* state) {
    std::uint8_t block[kMaxHashBlockLength];
    std::memset(block, pad, hash.blockLength);
    for (std::size_t i = 0; i < keyLength; ++i)
        block[i] ^= key[i];
    hash.init(state);
    hash.update(state, block, hash.blockLength);
    SecureWipeObject(block);
}

}  // namespace

void HmacSetKey(HmacKeyState& key, const HashDescriptor& hash, const std::uint8_t* keyBytes,
                std::size_t keyLength) {
    std::uint8_t hashedKey[kMaxHashDigestLength];
    if (keyLength > hash.blockLength) {
        alignas(8) std::uint8_t state[kMaxHashStateSize];
        hash.init(state);
        hash.update(state, keyBytes, keyLength);
        hash.final(state, hashedKey);
        keyBytes = hashedKey;
        keyLength = hash.digestLength;
    }
    key.hash = &hash;
    KeyedPadState(hash, keyBytes, keyLength, 0x36, key.inner);
    KeyedPadState(hash, keyBytes, keyLength, 0x5C, key.outer);
    SecureWipeObject(hashedKey);
}

void HmacWipe(HmacKeyState& key) {
    SecureWipeObject(key);
}

void HmacBegin(const HmacKeyState& key, HmacMessage& message) {
    message.key = &key;
    std::memcpy(message.state, key.inner, key.hash->stateSize);
}

void HmacAdd(HmacMessage& message, const void* data, std::size_t length) {
    message.key->hash->update(message.state, data, length);
}

void HmacEnd(HmacMessage& message, std::uint8_t* mac) {
    const HashDescriptor& hash = *message.key->hash;
    std::uint8_t innerDigest[kMaxHashDigestLength];
    hash.final(message.state, innerDigest);
    std::memcpy(message.state, message.key->outer, hash.stateSize);
    hash.update(message.state, innerDigest, hash.digestLength);
    hash.final(message.state, mac);
    SecureWipeObject(innerDigest);
    SecureWipeObject(message);
}

void Hmac(const HashDescriptor& hash, const std::uint8_t* keyBytes, std::size_t keyLength,
          const void* data, std::size_t length, std::uint8_t* mac) {
    HmacKeyState key;
    HmacSetKey(key, hash, keyBytes, keyLength);
    HmacMessage message;
    HmacBegin(key, message);
    HmacAdd(message, data, length);
    HmacEnd(message, mac);
    HmacWipe(key);
}
