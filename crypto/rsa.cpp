#include "crypto/rsa.h"

#include <algorithm>

#include "crypto/random.h"
#include "crypto/sha1.h"
#include "crypto/sshbuf.h"

namespace {

// DER of DigestInfo { AlgorithmIdentifier { id-sha1, NULL }, OCTET STRING (20) }.
constexpr std::uint8_t kSha1DigestInfo[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                                            0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
constexpr std::size_t kPkcs1Overhead = 11;  // 00 0T, eight padding bytes at least, 00

const RsaPublicKey& AsRsa(const PublicKey& key) {
    return static_cast<const RsaPublicKey&>(key);
}

PublicKey* NewKeyFromBlob(std::span<const std::uint8_t> blob) {
    SshReader reader(blob);
    std::string_view name;
    BigNum exponent, modulus;
    if (!reader.ReadString(&name) || name != kSshRsa.sshName || !reader.ReadMpint(&exponent) ||
        !reader.ReadMpint(&modulus) || !reader.AtEnd()) {
        return nullptr;
    }
    return RsaNewKey(std::move(exponent), std::move(modulus));
}

void FreeKey(PublicKey* key) {
    delete static_cast<RsaPublicKey*>(key);
}

std::vector<std::uint8_t> KeyBlob(const PublicKey& key) {
    SshWriter writer;
    writer.PutString(kSshRsa.sshName);
    writer.PutMpint(AsRsa(key).exponent);
    writer.PutMpint(AsRsa(key).modulus);
    return {writer.data().begin(), writer.data().end()};
}

std::string KeyText(const PublicKey& key) {
    return AsRsa(key).exponent.ToHex() + "," + AsRsa(key).modulus.ToHex();
}

std::size_t KeyBits(const PublicKey& key) {
    return AsRsa(key).modulus.BitCount();
}

bool Verify(const PublicKey& key, std::span<const std::uint8_t> signatureBlob,
            std::span<const std::uint8_t> data) {
    std::span<const std::uint8_t> signature;
    return ReadSignatureBlob(signatureBlob, kSshRsa.sshName, &signature) &&
           RsaVerifySha1(AsRsa(key), signature, data);
}

// EMSA-PKCS1-v1_5 for SHA-1: 00 01 FF..FF 00 DigestInfo digest, k bytes long.
SecureBytes EncodeSha1(std::span<const std::uint8_t> data, std::size_t k) {
    SecureBytes encoded(k, 0xFF);
    encoded[0] = 0x00;
    encoded[1] = 0x01;
    std::size_t tail = sizeof kSha1DigestInfo + kSha1DigestLength;
    encoded[k - tail - 1] = 0x00;
    std::copy(std::begin(kSha1DigestInfo), std::end(kSha1DigestInfo), encoded.end() - tail);
    Sha1(data.data(), data.size(), &encoded[k - kSha1DigestLength]);
    return encoded;
}

}  // namespace

const PublicKeyAlgorithm kSshRsa = {
    "ssh-rsa", NewKeyFromBlob, FreeKey, KeyBlob, KeyText, PublicKeyFingerprint, KeyBits, Verify,
};

PublicKey* RsaNewKey(BigNum exponent, BigNum modulus) {
    std::size_t bits = modulus.BitCount();
    if (bits < kRsaMinBits || bits > kRsaMaxBits || !modulus.IsOdd() || !exponent.IsOdd() ||
        exponent < BigNum(3) || exponent >= modulus) {
        return nullptr;
    }
    auto* key = new RsaPublicKey{{&kSshRsa}, std::move(exponent), std::move(modulus)};
    return key;
}

BigNum RsaPublicOperation(const RsaPublicKey& key, const BigNum& message) {
    return ModExp(message, key.exponent, key.modulus);
}

// The signature may come without leading zero bytes, as some signers strip
// them, but never longer than the modulus and never as large as it.
bool RsaVerifySha1(const RsaPublicKey& key, std::span<const std::uint8_t> signature,
                   std::span<const std::uint8_t> data) {
    std::size_t k = key.modulus.ByteCount();
    if (signature.size() > k || k < kPkcs1Overhead + sizeof kSha1DigestInfo + kSha1DigestLength) {
        return false;
    }
    BigNum s = BigNum::FromBytes(signature);
    if (s >= key.modulus) return false;
    SecureBytes recovered(k);
    RsaPublicOperation(key, s).ToBytes(recovered);
    return recovered == EncodeSha1(data, k);
}

bool RsaSsh1Encrypt(const RsaPublicKey& key, std::span<const std::uint8_t> data, BigNum* result) {
    std::size_t k = key.modulus.ByteCount();
    if (data.size() + kPkcs1Overhead > k) return false;
    SecureBytes padded(k);
    padded[0] = 0x00;
    padded[1] = 0x02;
    std::size_t padEnd = k - data.size() - 1;
    for (std::size_t i = 2; i < padEnd; ++i) {
        do {
            padded[i] = RandomByte();
        } while (padded[i] == 0);
    }
    padded[padEnd] = 0x00;
    std::copy(data.begin(), data.end(), padded.begin() + padEnd + 1);
    *result = RsaPublicOperation(key, BigNum::FromBytes(padded));
    return true;
}
