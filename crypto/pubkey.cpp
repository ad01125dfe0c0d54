#include "crypto/pubkey.h"

#include <array>
#include <cstdio>

#include "crypto/md5.h"
#include "crypto/sshbuf.h"

namespace {

constexpr std::array<const PublicKeyAlgorithm*, 2> kAlgorithms = {&kSshRsa, &kSshDss};

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

std::string PublicKeyFingerprint(const PublicKey& key) {
    const PublicKeyAlgorithm& algorithm = *key.algorithm;
    std::vector<std::uint8_t> blob = algorithm.keyBlob(key);
    std::uint8_t digest[kMd5DigestLength];
    Md5(blob.data(), blob.size(), digest);

    std::string text(algorithm.sshName);
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

bool ReadSignatureBlob(std::span<const std::uint8_t> signatureBlob, std::string_view sshName,
                       std::span<const std::uint8_t>* signature) {
    SshReader reader(signatureBlob);
    std::string_view name;
    return reader.ReadString(&name) && name == sshName && reader.ReadString(signature) &&
           reader.AtEnd();
}
