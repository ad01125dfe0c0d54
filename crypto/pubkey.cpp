#include "crypto/pubkey.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "crypto/md5.h"
#include "crypto/sha256.h"
#include "crypto/sshbuf.h"

namespace {

// Modern signatures first; the classic SHA-1 ones last.
constexpr std::array<const PublicKeyAlgorithm*, 8> kAlgorithms = {
    &kSshEd25519,   &kSshEcdsaNistp256, &kSshEcdsaNistp384, &kSshEcdsaNistp521,
    &kSshRsaSha512, &kSshRsaSha256,     &kSshRsa,           &kSshDss};

}  // namespace

std::span<const PublicKeyAlgorithm* const> PublicKeyAlgorithms() {
    return kAlgorithms;
}

const PublicKeyAlgorithm* FindPublicKeyAlgorithm(std::string_view sshName) {
    for (const PublicKeyAlgorithm* algorithm : kAlgorithms) {
        if (algorithm->sshName == sshName) return algorithm;
    }
    return nullptr;
}

PublicKeyPtr PublicKeyFromBlob(std::span<const std::uint8_t> blob) {
    SshReader reader(blob);
    std::string_view name;
    if (!reader.ReadString(&name)) return nullptr;
    const PublicKeyAlgorithm* algorithm = FindPublicKeyAlgorithm(name);
    if (!algorithm) return nullptr;
    return PublicKeyPtr(algorithm->newKey(blob));
}

std::string PublicKeyFingerprint(const PublicKey& key, std::span<const std::uint8_t> blob) {
    return PublicKeyFingerprintAs(key, key.algorithm->sshName, blob);
}

std::string PublicKeyFingerprintAs(const PublicKey& key, std::string_view keyType,
                                   std::span<const std::uint8_t> blob) {
    const PublicKeyAlgorithm& algorithm = *key.algorithm;
    std::vector<std::uint8_t> encoded;
    if (blob.empty()) {
        encoded = algorithm.keyBlob(key);
        blob = encoded;
    }
    std::uint8_t digest[kMd5DigestLength];
    Md5(blob.data(), blob.size(), digest);

    std::string text(keyType);
    text += ' ';
    text += std::to_string(algorithm.keyBits(key));
    text += ' ';
    for (std::size_t i = 0; i < kMd5DigestLength; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, i ? ":%02x" : "%02x", digest[i]);
        text += hex;
    }
    return text;
}

std::string PublicKeySha256Fingerprint(std::span<const std::uint8_t> blob) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::uint8_t digest[kSha256DigestLength];
    Sha256(blob.data(), blob.size(), digest);
    std::string text = "SHA256:";
    for (std::size_t i = 0; i < kSha256DigestLength; i += 3) {
        const std::size_t count = std::min<std::size_t>(3, kSha256DigestLength - i);
        std::uint32_t group = std::uint32_t{digest[i]} << 16;
        if (count > 1) group |= std::uint32_t{digest[i + 1]} << 8;
        if (count > 2) group |= digest[i + 2];
        for (std::size_t j = 0; j <= count; ++j)
            text += kAlphabet[(group >> (18 - 6 * j)) & 0x3F];
    }
    return text;
}

bool ReadSignatureBlob(std::span<const std::uint8_t> signatureBlob, std::string_view sshName,
                       std::span<const std::uint8_t>* signature) {
    SshReader reader(signatureBlob);
    std::string_view name;
    return reader.ReadString(&name) && name == sshName && reader.ReadString(signature) &&
           reader.Finish();
}
