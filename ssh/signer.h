// What public-key authentication needs of a key, wherever the private half lives:
// in a key file read by this process (ssh/private_key.h) or in an ssh-agent.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class SshSigner {
  public:
    virtual ~SshSigner() = default;

    // The key's type as SSH names it: "ssh-ed25519", "ecdsa-sha2-nistp256",
    // "ecdsa-sha2-nistp384", "ecdsa-sha2-nistp521" or "ssh-rsa".
    virtual std::string_view keyType() const = 0;
    // The public key blob (RFC 4253 section 6.6) sent in the userauth request.
    virtual std::span<const std::uint8_t> publicKeyBlob() const = 0;
    // Where the key came from, for messages: the file name or the agent's comment.
    virtual std::string_view origin() const = 0;
    // Signs data with a signature algorithm this key supports (keyType(), or for
    // RSA "rsa-sha2-512", "rsa-sha2-256" or "ssh-rsa"). Returns the signature blob
    // (string algorithm, string signature); empty when signing failed.
    virtual std::vector<std::uint8_t> Sign(std::string_view algorithm,
                                           std::span<const std::uint8_t> data) = 0;
};

// Why a private key file could not be used.
enum class SshKeyLoadStatus {
    Ok,
    NotFound,          // no such file
    Unreadable,        // exists but cannot be read, or is too large
    BadFormat,         // not a key file this client reads, or damaged
    Unsupported,       // a key type, cipher or KDF this client does not have
    PassphraseNeeded,  // encrypted, and no passphrase was given
    WrongPassphrase,   // encrypted, and the passphrase does not open it
};

struct SshKeyLoadResult {
    SshKeyLoadStatus status = SshKeyLoadStatus::BadFormat;
    std::unique_ptr<SshSigner> key;  // set when status is Ok
    std::string detail;              // what was wrong, for the error text
};

// Reads an OpenSSH private key file ("openssh-key-v1", unencrypted or bcrypt +
// aes256-ctr) or a PEM RSA key; also PKCS #8 and SEC 1 EC keys (docs/ssh-keys.md).
// The passphrase is only read, never kept. The returned key wipes its private
// material when destroyed.
SshKeyLoadResult LoadSshPrivateKey(std::string_view fileText, std::string_view origin,
                                   std::span<const std::uint8_t> passphrase);
SshKeyLoadResult LoadSshPrivateKeyFile(const std::string& path,
                                       std::span<const std::uint8_t> passphrase);
