#include "crypto/rsa.h"

#include <algorithm>

#include "crypto/random.h"
#include "crypto/sha1.h"
#include "crypto/sshbuf.h"

namespace {

// DER of DigestInfo { AlgorithmIdentifier { id-sha1, NULL }, OCTET STRING (20) }.
constexpr std::uint8_t kSha1DigestInfo[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                                            0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
// The same for SHA-256 and SHA-512 (id-sha256, id-sha512 under 2.16.840.1.101.3.4.2).
constexpr std::uint8_t kSha256DigestInfo[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60,
                                              0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02,
                                              0x01, 0x05, 0x00, 0x04, 0x20};
constexpr std::uint8_t kSha512DigestInfo[] = {0x30, 0x51, 0x30, 0x0d, 0x06, 0x09, 0x60,
                                              0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02,
                                              0x03, 0x05, 0x00, 0x04, 0x40};

struct DigestInfoRow {
    std::string_view hashName;
    std::size_t digestLength;
    std::span<const std::uint8_t> prefix;
};
constexpr DigestInfoRow kDigestInfos[] = {
    {"sha1", 20, kSha1DigestInfo},
    {"sha256", 32, kSha256DigestInfo},
    {"sha512", 64, kSha512DigestInfo},
};

constexpr std::size_t kPkcs1Overhead = 11;  // 00 0T, eight padding bytes at least, 00

const RsaPublicKey& AsRsa(const PublicKey& key) {
    return static_cast<const RsaPublicKey&>(key);
}

PublicKey* NewKeyFromBlob(std::span<const std::uint8_t> blob) {
    SshReader reader(blob);
    std::string_view name;
    BigNum exponent, modulus;
    if (!reader.ReadString(&name) || name != kSshRsa.sshName || !reader.ReadMpint(&exponent) ||
        !reader.ReadMpint(&modulus) || !reader.Finish()) {
        return nullptr;
    }
    return RsaNewKey(std::move(exponent), std::move(modulus));
}

// The SHA-2 rows: an "ssh-rsa" blob, a key of at least 1024 bits, owned by the row.
template <const PublicKeyAlgorithm& Row>
PublicKey* NewSha2KeyFromBlob(std::span<const std::uint8_t> blob) {
    PublicKey* key = NewKeyFromBlob(blob);
    if (key && AsRsa(*key).modulus.BitCount() < kRsaSha2MinBits) {
        delete static_cast<RsaPublicKey*>(key);
        return nullptr;
    }
    if (key) key->algorithm = &Row;
    return key;
}

// Fingerprints show the key type, which is "ssh-rsa" whatever signature the row checks.
std::string Sha2Fingerprint(const PublicKey& key, std::span<const std::uint8_t> blob) {
    return PublicKeyFingerprintAs(key, kSshRsa.sshName, blob);
}

template <const PublicKeyAlgorithm& Row, const HashDescriptor& Hash>
bool VerifySha2(const PublicKey& key, std::span<const std::uint8_t> signatureBlob,
                std::span<const std::uint8_t> data) {
    std::span<const std::uint8_t> signature;
    return ReadSignatureBlob(signatureBlob, Row.sshName, &signature) &&
           RsaVerifyPkcs1(AsRsa(key), Hash, signature, data);
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

const PublicKeyAlgorithm kSshRsaSha256 = {
    "rsa-sha2-256", NewSha2KeyFromBlob<kSshRsaSha256>,
    FreeKey,        KeyBlob,
    KeyText,        Sha2Fingerprint,
    KeyBits,        VerifySha2<kSshRsaSha256, kHashSha256>,
};

const PublicKeyAlgorithm kSshRsaSha512 = {
    "rsa-sha2-512", NewSha2KeyFromBlob<kSshRsaSha512>,
    FreeKey,        KeyBlob,
    KeyText,        Sha2Fingerprint,
    KeyBits,        VerifySha2<kSshRsaSha512, kHashSha512>,
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

namespace {

// EMSA-PKCS1-v1_5 (RFC 8017 section 9.2): 00 01 FF..FF 00 DigestInfo digest, k bytes;
// false for a hash without a DigestInfo here or a modulus too short for it.
bool EncodePkcs1(const HashDescriptor& hash, std::span<const std::uint8_t> data, std::size_t k,
                 SecureBytes* encoded) {
    const DigestInfoRow* row = nullptr;
    for (const DigestInfoRow& candidate : kDigestInfos) {
        if (candidate.hashName == hash.name && candidate.digestLength == hash.digestLength)
            row = &candidate;
    }
    if (!row || k < kPkcs1Overhead + row->prefix.size() + row->digestLength) return false;
    encoded->assign(k, 0xFF);
    (*encoded)[0] = 0x00;
    (*encoded)[1] = 0x01;
    const std::size_t tail = row->prefix.size() + row->digestLength;
    (*encoded)[k - tail - 1] = 0x00;
    std::copy(row->prefix.begin(), row->prefix.end(), encoded->end() - tail);
    std::uint8_t digest[kMaxHashDigestLength];
    void* context = hash.create();
    hash.add(context, data.data(), data.size());
    hash.finish(context, digest);
    std::copy(digest, digest + row->digestLength, encoded->end() - row->digestLength);
    return true;
}

// A random r in [2, n) with an inverse modulo n, from the random pool.
bool BlindingFactor(const BigNum& n, BigNum* r, BigNum* inverse) {
    SecureBytes bytes(n.ByteCount() + 8);
    for (int attempt = 0; attempt < 64; ++attempt) {
        RandomBytes(bytes);
        *r = Mod(BigNum::FromBytes(bytes), n);
        if (*r > BigNum(1) && ModInverse(*r, n, inverse)) return true;
    }
    return false;
}

// (a - b) mod m for a, b already below m.
BigNum SubtractMod(const BigNum& a, const BigNum& b, const BigNum& m) {
    return a >= b ? Subtract(a, b) : Subtract(Add(a, m), b);
}

}  // namespace

bool RsaVerifyPkcs1(const RsaPublicKey& key, const HashDescriptor& hash,
                    std::span<const std::uint8_t> signature, std::span<const std::uint8_t> data) {
    const std::size_t k = key.modulus.ByteCount();
    SecureBytes expected;
    if (signature.size() != k || !EncodePkcs1(hash, data, k, &expected)) return false;
    const BigNum s = BigNum::FromBytes(signature);
    if (s >= key.modulus) return false;
    SecureBytes recovered(k);
    RsaPublicOperation(key, s).ToBytes(recovered);
    return recovered == expected;
}

// The message is blinded by r^e before the private operation, so the values the CRT
// halves work on are unrelated to the message; the halves use the constant-time
// exponentiation for the secret exponents. A result that does not verify (a fault in the
// key or the computation) is never returned, since it would give away a factor.
std::vector<std::uint8_t> RsaSignPkcs1(const RsaPrivateKey& key, const HashDescriptor& hash,
                                       std::span<const std::uint8_t> data) {
    const BigNum& n = key.modulus;
    const std::size_t k = n.ByteCount();
    SecureBytes encoded;
    if (!n.IsOdd() || !key.prime1.IsOdd() || !key.prime2.IsOdd() ||
        !EncodePkcs1(hash, data, k, &encoded)) {
        return {};
    }
    const BigNum m = BigNum::FromBytes(encoded);
    BigNum r, rInverse;
    if (!BlindingFactor(n, &r, &rInverse)) return {};
    const BigNum blinded = ModMul(m, ModExp(r, key.publicExponent, n), n);

    const BigNum& p = key.prime1;
    const BigNum& q = key.prime2;
    const BigNum m1 = ModExpSecret(Mod(blinded, p), key.exponent1, p);
    const BigNum m2 = ModExpSecret(Mod(blinded, q), key.exponent2, q);
    const BigNum h = ModMul(key.coefficient, SubtractMod(m1, Mod(m2, p), p), p);
    const BigNum s = ModMul(Add(m2, Multiply(h, q)), rInverse, n);

    if (ModExp(s, key.publicExponent, n) != m) return {};
    std::vector<std::uint8_t> signature(k);
    s.ToBytes(signature);
    return signature;
}
