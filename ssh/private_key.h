// Private key files: the PEM armor every format here travels in, and the
// readers of what is inside it. LoadSshPrivateKey (ssh/signer.h) picks the
// reader by the armor's label.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "crypto/bignum.h"
#include "ssh/signer.h"

// Largest key file read; real ones are a few KiB (an RSA key of 16384 bits
// encrypted is about 13 KiB).
constexpr std::size_t kSshKeyFileMaxBytes = 64 * 1024;

// "-----BEGIN <label>-----", optional "Name: value" headers and a blank line,
// Base64 lines, "-----END <label>-----".
struct PemArmor {
    std::string label;
    std::vector<std::pair<std::string, std::string>> headers;
    SecureBytes body;  // decoded
};

// False with detail set when there is no complete, well-formed armor.
bool ReadPemArmor(std::string_view text, PemArmor* armor, std::string* detail);

// The readers behind the labels. passphrase may be empty.
SshKeyLoadResult LoadOpensshKey(std::span<const std::uint8_t> body, std::string_view origin,
                                std::span<const std::uint8_t> passphrase);
// "RSA PRIVATE KEY" (PKCS #1), plain or with the classic Proc-Type/DEK-Info encryption.
SshKeyLoadResult LoadPkcs1RsaKey(const PemArmor& armor, std::string_view origin,
                                 std::span<const std::uint8_t> passphrase);
// "PRIVATE KEY" (PKCS #8, unencrypted): RSA, Ed25519 and the NIST curves.
SshKeyLoadResult LoadPkcs8Key(const PemArmor& armor, std::string_view origin,
                              std::span<const std::uint8_t> passphrase);
// "EC PRIVATE KEY" (SEC 1), unencrypted.
SshKeyLoadResult LoadSec1EcKey(const PemArmor& armor, std::string_view origin,
                               std::span<const std::uint8_t> passphrase);
