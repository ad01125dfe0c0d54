// The SSH-1 session-key exchange: from the server's public-key message to the
// session-key message and the cipher both directions then use.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "crypto/bignum.h"
#include "crypto/cipher.h"
#include "ssh/config.h"
#include "ssh/kex.h"

struct Ssh1SessionSetup {
    SecureBytes sessionKeyMessage;  // type byte and fields, ready to send
    const CipherDescriptor* cipher = nullptr;
    int cipherNumber = 0;
    SecureBytes sessionKey;  // 32 bytes, keys both directions
    std::array<std::uint8_t, 16> sessionId{};
    std::size_t hostKeyBits = 0;
    // "rsa1 <bits> <md5 of the host key's modulus and exponent bytes>"
    std::string fingerprint;
    std::uint32_t protocolFlags = 0;
    std::uint32_t supportedAuthentications = 0;
};

// The SSH-1 cipher for each configured family, in the configured order; AES and
// Arcfour have none.
std::optional<int> ChooseSsh1Cipher(const SshConfig& config, std::uint32_t serverCipherMask);

// Handles SMSG_PUBLIC_KEY (payload with its type byte).
std::optional<SshKexFailure> SetUpSsh1Session(const SshConfig& config,
                                              std::span<const std::uint8_t> message,
                                              Ssh1SessionSetup* setup);
