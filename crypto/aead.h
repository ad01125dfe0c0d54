// Authenticated SSH ciphers: the packet is encrypted and authenticated in one step, with
// the tag in place of a separate MAC. The transport chooses them by name from this table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// clang-format off
struct AeadDescriptor {
    const char* sshName;     // "chacha20-poly1305@openssh.com", "aes128-gcm@openssh.com", "aes256-gcm@openssh.com"
    std::size_t keyLength;   // 64, 16, 32 bytes of derived key material
    std::size_t ivLength;    // 0, 12, 12 bytes of derived IV material
    std::size_t blockSize;   // 8, 16, 16: what the packet length must be a multiple of (length field excluded for these modes)
    std::size_t tagLength;   // 16
    int keyBits;             // 256, 128, 256: the strength shown to users
    const char* textName;    // "ChaCha20-Poly1305", "AES-128-GCM", "AES-256-GCM"
    void* (*createContext)();
    void (*freeContext)(void* context);  // wipes
    void (*setKey)(void* context, const std::uint8_t* key, const std::uint8_t* iv);
    // The packet length from the first four bytes as received (decrypted for ChaCha20, plain for GCM); changes neither the bytes nor the state.
    std::uint32_t (*packetLength)(void* context, std::uint32_t sequence, const std::uint8_t* first4);
    // packet: the 4-byte length field, then length - 4 bytes (padding length, payload, padding), all plain. Encrypts in place (the length field too for ChaCha20; as additional data for GCM), writes tagLength bytes at packet + length, advances the GCM invocation counter.
    void (*seal)(void* context, std::uint32_t sequence, std::uint8_t* packet, std::size_t length);
    // The bytes as received (length field as on the wire) with the tag at packet + length. Checks the tag in constant time first; only when it matches decrypts in place (writing the plain length into bytes 0..3), advances the counter and returns true. On a mismatch nothing is changed and it returns false.
    bool (*open)(void* context, std::uint32_t sequence, std::uint8_t* packet, std::size_t length);
    void (*wipeContext)(void* context);
    std::size_t contextSize;
};

extern const AeadDescriptor kAeadChaCha20Poly1305, kAeadAes128Gcm, kAeadAes256Gcm;

std::span<const AeadDescriptor* const> AeadList();          // that preference order
const AeadDescriptor* FindAead(std::string_view sshName);   // null when unknown
// clang-format on
