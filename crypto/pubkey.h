// Public-key algorithm descriptors for host keys ("ssh-ed25519", "ecdsa-sha2-nistp*",
// "rsa-sha2-*", "ssh-rsa", "ssh-dss"): a table the SSH transport searches by name, each
// row with the operations on a key made from its SSH blob.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct PublicKeyAlgorithm;

// The part every algorithm's key starts with.
struct PublicKey {
    const PublicKeyAlgorithm* algorithm;
};

struct PublicKeyAlgorithm {
    std::string_view sshName;
    // nullptr when the blob is malformed or the key is unusable.
    PublicKey* (*newKey)(std::span<const std::uint8_t> blob);
    // Wipes and releases the key.
    void (*freeKey)(PublicKey* key);
    std::vector<std::uint8_t> (*keyBlob)(const PublicKey& key);
    // The numbers in hexadecimal with "0x" prefixes, separated by ",".
    std::string (*keyText)(const PublicKey& key);
    // "<name> <bits> <md5 of the blob as colon-separated hex>": of the blob as
    // the server sent it, or of the key's own encoding when that is empty.
    std::string (*fingerprint)(const PublicKey& key, std::span<const std::uint8_t> blob);
    // Size of the modulus (RSA), of p (DSA) or of the group order (ECDSA); 256 for Ed25519.
    std::size_t (*keyBits)(const PublicKey& key);
    // Checks a signature blob (string name, string signature) over the data.
    bool (*verify)(const PublicKey& key, std::span<const std::uint8_t> signatureBlob,
                   std::span<const std::uint8_t> data);
};

extern const PublicKeyAlgorithm kSshRsa;
// "ssh-rsa" keys with SHA-2 signatures (RFC 8332): the key blob stays "ssh-rsa", the
// signature blob carries the row's name.
extern const PublicKeyAlgorithm kSshRsaSha256;
extern const PublicKeyAlgorithm kSshRsaSha512;
extern const PublicKeyAlgorithm kSshDss;
extern const PublicKeyAlgorithm kSshEcdsaNistp256;
extern const PublicKeyAlgorithm kSshEcdsaNistp384;
extern const PublicKeyAlgorithm kSshEcdsaNistp521;
extern const PublicKeyAlgorithm kSshEd25519;  // crypto/ed25519.cpp

// In the order the client offers them.
std::span<const PublicKeyAlgorithm* const> PublicKeyAlgorithms();
const PublicKeyAlgorithm* FindPublicKeyAlgorithm(std::string_view sshName);

struct PublicKeyDeleter {
    void operator()(PublicKey* key) const { key->algorithm->freeKey(key); }
};
using PublicKeyPtr = std::unique_ptr<PublicKey, PublicKeyDeleter>;

// Makes a key of whichever known algorithm the blob names.
PublicKeyPtr PublicKeyFromBlob(std::span<const std::uint8_t> blob);

// The fingerprint format shared by the descriptors.
std::string PublicKeyFingerprint(const PublicKey& key, std::span<const std::uint8_t> blob = {});
// The same with another key type name in front (rows whose name is a signature type).
std::string PublicKeyFingerprintAs(const PublicKey& key, std::string_view keyType,
                                   std::span<const std::uint8_t> blob = {});

// OpenSSH's form: "SHA256:" and the unpadded Base64 of the blob's SHA-256.
std::string PublicKeySha256Fingerprint(std::span<const std::uint8_t> blob);

// Reads "string name, string signature" and checks the name; the helper the
// algorithms' verify operations share.
bool ReadSignatureBlob(std::span<const std::uint8_t> signatureBlob, std::string_view sshName,
                       std::span<const std::uint8_t>* signature);
