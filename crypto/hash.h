// Hash descriptors for key exchange, key derivation and HMAC.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "crypto/sha256.h"
#include "crypto/sha512.h"

// Room for the largest hash state; HMAC keeps its saved states in buffers of this size.
constexpr std::size_t kMaxHashStateSize = sizeof(Sha512State);
constexpr std::size_t kMaxHashDigestLength = 64;
constexpr std::size_t kMaxHashBlockLength = 128;

struct HashDescriptor {
    // On a heap context: create, add bytes, finish (writes the digest, wipes and frees it).
    void* (*create)();
    void (*add)(void* context, const void* data, std::size_t length);
    void (*finish)(void* context, std::uint8_t* digest);
    // Wipes and frees a context that is abandoned without a digest.
    void (*freeContext)(void* context);
    // The same on caller-owned storage of stateSize bytes, so states can be saved and copied.
    void (*init)(void* state);
    void (*update)(void* state, const void* data, std::size_t length);
    void (*final)(void* state, std::uint8_t* digest);  // also wipes the state
    std::size_t digestLength;
    std::size_t blockLength;
    std::size_t stateSize;
    const char* name;
};

extern const HashDescriptor kHashMd5;
extern const HashDescriptor kHashSha1;
extern const HashDescriptor kHashSha256;
extern const HashDescriptor kHashSha384;
extern const HashDescriptor kHashSha512;

// By name: "md5", "sha1", "sha256", "sha384", "sha512"; null when unknown.
const HashDescriptor* FindHash(std::string_view name);
