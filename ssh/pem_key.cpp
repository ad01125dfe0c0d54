// PEM private keys: PKCS #1 RSA (plain or with the classic Proc-Type/DEK-Info
// encryption), PKCS #8 (plain) and SEC 1 EC keys.
#include <algorithm>
#include <cstring>

#include "crypto/aes.h"
#include "crypto/des.h"
#include "crypto/ecc.h"
#include "crypto/ed25519.h"
#include "crypto/md5.h"
#include "platform/wipe.h"
#include "ssh/der_reader.h"
#include "ssh/key_signers.h"
#include "ssh/private_key.h"

namespace {

using Bytes = std::span<const std::uint8_t>;

SshKeyLoadResult Failure(SshKeyLoadStatus status, std::string detail) {
    return {status, nullptr, std::move(detail)};
}

SshKeyLoadResult Loaded(std::unique_ptr<SshSigner> signer, std::string_view what) {
    if (!signer) {
        return Failure(SshKeyLoadStatus::BadFormat,
                       "the " + std::string(what) + " key's numbers do not form a usable key");
    }
    return {SshKeyLoadStatus::Ok, std::move(signer), {}};
}

bool SameBytes(Bytes a, Bytes b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

// ---- PKCS #1 -------------------------------------------------------------

// RSAPrivateKey ::= SEQUENCE { version 0, n, e, d, p, q, dP, dQ, qInv }. The CRT
// exponents are derived again from d rather than trusted.
bool ReadRsaPrivateKey(Bytes der, RsaPrivateKey* key) {
    DerReader outer(der), fields;
    std::uint32_t version;
    BigNum exponent1, exponent2;
    return outer.ReadChild(kDerSequence, &fields) && outer.AtEnd() &&
           fields.ReadSmallInteger(&version) && version == 0 && fields.ReadInteger(&key->modulus) &&
           fields.ReadInteger(&key->publicExponent) && fields.ReadInteger(&key->privateExponent) &&
           fields.ReadInteger(&key->prime1) && fields.ReadInteger(&key->prime2) &&
           fields.ReadInteger(&exponent1) && fields.ReadInteger(&exponent2) &&
           fields.ReadInteger(&key->coefficient) && fields.AtEnd();
}

// The classic OpenSSL encryption of PEM bodies: CBC under a key made from the
// passphrase and the first 8 bytes of the IV by MD5 (EVP_BytesToKey, one round).
struct PemCipher {
    std::string_view name;
    std::size_t keyLength;
    std::size_t blockLength;  // also the IV length
    void (*decrypt)(Bytes key, std::uint8_t* iv, std::uint8_t* data, std::size_t length);
};

void AesCbcDecryptWith(Bytes keyBytes, std::uint8_t* iv, std::uint8_t* data, std::size_t length) {
    AesKey key;
    AesSetKey(key, keyBytes.data(), keyBytes.size());
    AesCbcDecrypt(key, iv, data, length);
    AesWipe(key);
}

void TripleDesCbcDecryptWith(Bytes keyBytes, std::uint8_t* iv, std::uint8_t* data,
                             std::size_t length) {
    TripleDesKey key;
    TripleDesSetKey(key, keyBytes.data());
    TripleDesCbcDecrypt(key, iv, data, length);
    SecureWipeObject(key);
}

constexpr PemCipher kPemCiphers[] = {
    {"AES-128-CBC", 16, 16, AesCbcDecryptWith},
    {"AES-192-CBC", 24, 16, AesCbcDecryptWith},
    {"AES-256-CBC", 32, 16, AesCbcDecryptWith},
    {"DES-EDE3-CBC", 24, 8, TripleDesCbcDecryptWith},
};

SecureBytes BytesToKey(Bytes passphrase, Bytes salt, std::size_t length) {
    SecureBytes key;
    std::uint8_t digest[kMd5DigestLength];
    while (key.size() < length) {
        Md5State state;
        Md5Init(state);
        if (!key.empty()) Md5Update(state, digest, sizeof digest);
        Md5Update(state, passphrase.data(), passphrase.size());
        Md5Update(state, salt.data(), salt.size());
        Md5Final(state, digest);
        key.insert(key.end(), digest, digest + std::min(sizeof digest, length - key.size()));
    }
    SecureWipe(digest, sizeof digest);
    return key;
}

bool ParseHex(std::string_view hex, std::uint8_t* out, std::size_t length) {
    if (hex.size() != 2 * length) return false;
    for (std::size_t i = 0; i < hex.size(); ++i) {
        const char c = hex[i];
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            return false;
        out[i / 2] = static_cast<std::uint8_t>((i % 2) ? (out[i / 2] | v) : (v << 4));
    }
    return true;
}

const std::string* FindHeader(const PemArmor& armor, std::string_view name) {
    for (const auto& [key, value] : armor.headers)
        if (key == name) return &value;
    return nullptr;
}

// Decrypts the body when the headers say it is encrypted; *der is the plain DER.
// failure is set when this fails.
bool OpenPemBody(const PemArmor& armor, Bytes passphrase, SecureBytes* der, bool* wasEncrypted,
                 SshKeyLoadResult* failure) {
    const std::string* procType = FindHeader(armor, "Proc-Type");
    *wasEncrypted = procType != nullptr;
    if (!procType) {
        der->assign(armor.body.begin(), armor.body.end());
        return true;
    }
    const std::string* dekInfo = FindHeader(armor, "DEK-Info");
    if (*procType != "4,ENCRYPTED" || !dekInfo) {
        *failure =
            Failure(SshKeyLoadStatus::BadFormat, "the PEM key's encryption headers are damaged");
        return false;
    }
    const std::size_t comma = dekInfo->find(',');
    const std::string_view cipherName = std::string_view(*dekInfo).substr(0, comma);
    const PemCipher* cipher = nullptr;
    for (const PemCipher& row : kPemCiphers)
        if (row.name == cipherName) cipher = &row;
    if (!cipher) {
        *failure = Failure(SshKeyLoadStatus::Unsupported,
                           "the PEM key is encrypted with \"" + std::string(cipherName) +
                               "\", which this client does not read");
        return false;
    }
    std::uint8_t iv[16];
    if (comma == std::string::npos ||
        !ParseHex(std::string_view(*dekInfo).substr(comma + 1), iv, cipher->blockLength) ||
        armor.body.size() % cipher->blockLength != 0) {
        *failure =
            Failure(SshKeyLoadStatus::BadFormat, "the PEM key's encryption headers are damaged");
        return false;
    }
    if (passphrase.empty()) {
        *failure = Failure(SshKeyLoadStatus::PassphraseNeeded, "the key file is encrypted");
        return false;
    }
    const SecureBytes key = BytesToKey(passphrase, Bytes(iv, 8), cipher->keyLength);
    der->assign(armor.body.begin(), armor.body.end());
    cipher->decrypt(key, iv, der->data(), der->size());
    SecureWipe(iv, sizeof iv);
    // PKCS #7 padding; a wrong key shows here nearly always, else in the DER.
    const std::size_t pad = der->back();
    if (pad == 0 || pad > cipher->blockLength || pad > der->size() ||
        !std::all_of(der->end() - static_cast<std::ptrdiff_t>(pad), der->end(),
                     [pad](std::uint8_t b) { return b == pad; })) {
        *failure =
            Failure(SshKeyLoadStatus::WrongPassphrase, "the passphrase does not open the key file");
        return false;
    }
    der->resize(der->size() - pad);
    return true;
}

// ---- PKCS #8 and SEC 1 ---------------------------------------------------

// DER contents of the object identifiers.
constexpr std::uint8_t kOidRsa[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x01};
constexpr std::uint8_t kOidEd25519[] = {0x2b, 0x65, 0x70};
constexpr std::uint8_t kOidEcPublicKey[] = {0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01};

struct NamedCurve {
    Bytes oid;
    std::string_view sshName;
};
constexpr std::uint8_t kOidP256[] = {0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07};
constexpr std::uint8_t kOidP384[] = {0x2b, 0x81, 0x04, 0x00, 0x22};
constexpr std::uint8_t kOidP521[] = {0x2b, 0x81, 0x04, 0x00, 0x23};
constexpr NamedCurve kNamedCurves[] = {
    {kOidP256, "nistp256"},
    {kOidP384, "nistp384"},
    {kOidP521, "nistp521"},
};

const EcCurve* CurveOfOid(Bytes oid) {
    for (const NamedCurve& row : kNamedCurves)
        if (SameBytes(row.oid, oid)) return FindEcCurve(row.sshName);
    return nullptr;
}

// ECPrivateKey ::= SEQUENCE { version 1, privateKey OCTET STRING,
//   [0] named curve OPTIONAL, [1] BIT STRING public point OPTIONAL }.
// The curve comes from the outer algorithm identifier (PKCS #8) or from [0]
// (SEC 1), and must agree when both are present; a stated point must be the
// one the scalar gives.
std::unique_ptr<SshSigner> ReadEcPrivateKey(Bytes der, const EcCurve* curve,
                                            std::string_view origin) {
    DerReader outer(der), fields;
    std::uint32_t version;
    Bytes scalar, point;
    std::uint8_t tag;
    if (!outer.ReadChild(kDerSequence, &fields) || !outer.AtEnd() ||
        !fields.ReadSmallInteger(&version) || version != 1 ||
        !fields.Read(kDerOctetString, &scalar)) {
        return nullptr;
    }
    if (fields.PeekTag(&tag) && tag == kDerContext0) {
        DerReader parameters;
        Bytes oid;
        if (!fields.ReadChild(kDerContext0, &parameters) || !parameters.Read(kDerOid, &oid) ||
            !parameters.AtEnd()) {
            return nullptr;
        }
        const EcCurve* named = CurveOfOid(oid);
        if (!named || (curve && curve != named)) return nullptr;
        curve = named;
    }
    if (fields.PeekTag(&tag) && tag == kDerContext1) {
        DerReader publicKey;
        if (!fields.ReadChild(kDerContext1, &publicKey) || !publicKey.Read(kDerBitString, &point) ||
            !publicKey.AtEnd() || point.empty() || point[0] != 0) {
            return nullptr;
        }
        point = point.subspan(1);  // no unused bits
    }
    if (!curve || !fields.AtEnd()) return nullptr;
    auto signer = MakeEcdsaSigner(*curve, scalar, std::string(origin));
    if (signer && !point.empty()) {
        // The blob ends with the point: string name, string curve, string point.
        const Bytes blob = signer->publicKeyBlob();
        if (blob.size() < point.size() || !SameBytes(blob.last(point.size()), point))
            return nullptr;
    }
    return signer;
}

}  // namespace

SshKeyLoadResult LoadPkcs1RsaKey(const PemArmor& armor, std::string_view origin,
                                 std::span<const std::uint8_t> passphrase) {
    SecureBytes der;
    bool encrypted;
    SshKeyLoadResult failure;
    if (!OpenPemBody(armor, passphrase, &der, &encrypted, &failure)) return failure;
    RsaPrivateKey key;
    if (!ReadRsaPrivateKey(der, &key)) {
        if (encrypted)
            return Failure(SshKeyLoadStatus::WrongPassphrase,
                           "the passphrase does not open the key file");
        return Failure(SshKeyLoadStatus::BadFormat, "the PEM RSA key is damaged");
    }
    return Loaded(MakeRsaSigner(std::move(key), std::string(origin)), "PEM RSA");
}

SshKeyLoadResult LoadPkcs8Key(const PemArmor& armor, std::string_view origin,
                              std::span<const std::uint8_t>) {
    const auto damaged = [] {
        return Failure(SshKeyLoadStatus::BadFormat, "the PKCS #8 key is damaged");
    };
    // PrivateKeyInfo ::= SEQUENCE { version, AlgorithmIdentifier, privateKey
    //   OCTET STRING, [0] attributes OPTIONAL, [1] public key OPTIONAL }
    DerReader outer(armor.body), info, algorithm;
    std::uint32_t version;
    Bytes oid, privateKey;
    if (!outer.ReadChild(kDerSequence, &info) || !outer.AtEnd() ||
        !info.ReadSmallInteger(&version) || version > 1 ||
        !info.ReadChild(kDerSequence, &algorithm) || !algorithm.Read(kDerOid, &oid) ||
        !info.Read(kDerOctetString, &privateKey)) {
        return damaged();
    }
    if (SameBytes(oid, kOidRsa)) {
        RsaPrivateKey key;
        if (!ReadRsaPrivateKey(privateKey, &key)) return damaged();
        return Loaded(MakeRsaSigner(std::move(key), std::string(origin)), "PKCS #8 RSA");
    }
    if (SameBytes(oid, kOidEd25519)) {
        DerReader inner(privateKey);
        Bytes seed;
        if (!inner.Read(kDerOctetString, &seed) || !inner.AtEnd() ||
            seed.size() != kEd25519SeedLength) {
            return damaged();
        }
        return Loaded(MakeEd25519Signer(seed, std::string(origin)), "PKCS #8 Ed25519");
    }
    if (SameBytes(oid, kOidEcPublicKey)) {
        Bytes curveOid;
        if (!algorithm.Read(kDerOid, &curveOid) || !algorithm.AtEnd()) return damaged();
        const EcCurve* curve = CurveOfOid(curveOid);
        if (!curve) {
            return Failure(SshKeyLoadStatus::Unsupported,
                           "the PKCS #8 key is on an elliptic curve this client does not have");
        }
        return Loaded(ReadEcPrivateKey(privateKey, curve, origin), "PKCS #8 ECDSA");
    }
    return Failure(SshKeyLoadStatus::Unsupported,
                   "the PKCS #8 key is of a type this client cannot use");
}

SshKeyLoadResult LoadSec1EcKey(const PemArmor& armor, std::string_view origin,
                               std::span<const std::uint8_t> passphrase) {
    SecureBytes der;
    bool encrypted;
    SshKeyLoadResult failure;
    if (!OpenPemBody(armor, passphrase, &der, &encrypted, &failure)) return failure;
    auto signer = ReadEcPrivateKey(der, nullptr, origin);
    if (!signer && encrypted)
        return Failure(SshKeyLoadStatus::WrongPassphrase,
                       "the passphrase does not open the key file");
    return Loaded(std::move(signer), "PEM EC");
}
