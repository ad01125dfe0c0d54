// SSH MAC descriptors: HMAC over the 32-bit sequence number followed by the packet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

struct MacDescriptor {
    void* (*createContext)();
    void (*freeContext)(void* context);                      // wipes before freeing
    void (*setKey)(void* context, const std::uint8_t* key);  // keyLength bytes
    // The tag is written to packet + length (the caller leaves tagLength bytes of room).
    void (*generate)(void* context, std::uint32_t sequence, std::uint8_t* packet,
                     std::size_t length);
    // Compares the tag found at packet + length, in time independent of where it differs.
    bool (*verify)(void* context, std::uint32_t sequence, const std::uint8_t* packet,
                   std::size_t length);
    const char* sshName;
    std::size_t tagLength;
    std::size_t keyLength;
    const char* textName;
    // Zeroes all contextSize bytes of a context (the keyed states); freeContext does this.
    void (*wipeContext)(void* context);
    std::size_t contextSize;
};

extern const MacDescriptor kMacHmacSha256;
extern const MacDescriptor kMacHmacSha512;
extern const MacDescriptor kMacHmacSha1;
extern const MacDescriptor kMacHmacSha1_96;
extern const MacDescriptor kMacHmacMd5;
// For servers that derive the SHA-1 HMAC key with 16 bytes only: same names, 16 key bytes.
extern const MacDescriptor kMacHmacSha1BugCompatible;
extern const MacDescriptor kMacHmacSha1_96BugCompatible;

// Standard MACs in preference order, and the list offered under the HMAC workaround.
std::span<const MacDescriptor* const> MacList();
std::span<const MacDescriptor* const> BugCompatibleMacList();

// Searches MacList() (or the bug-compatible list) by SSH name; null when unknown.
const MacDescriptor* FindMac(std::string_view sshName, bool bugCompatible = false);
