#include "ssh/key_signers.h"

#include <algorithm>
#include <array>
#include <utility>

#include "crypto/ed25519.h"
#include "crypto/hash.h"
#include "crypto/sshbuf.h"
#include "platform/wipe.h"

namespace {

std::vector<std::uint8_t> ToVector(std::span<const std::uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
}

// The digest of data, wiped with the buffer.
SecureBytes Digest(const HashDescriptor& hash, std::span<const std::uint8_t> data) {
    SecureBytes digest(hash.digestLength);
    void* context = hash.create();
    hash.add(context, data.data(), data.size());
    hash.finish(context, digest.data());
    return digest;
}

std::vector<std::uint8_t> SignatureBlob(std::string_view algorithm,
                                        std::span<const std::uint8_t> signature) {
    SshWriter writer;
    writer.PutString(algorithm);
    writer.PutString(signature);
    return ToVector(writer.data());
}

class KeySigner : public SshSigner {
  public:
    KeySigner(std::string type, std::vector<std::uint8_t> blob, std::string origin)
        : type_(std::move(type)), blob_(std::move(blob)), origin_(std::move(origin)) {}
    std::string_view keyType() const override { return type_; }
    std::span<const std::uint8_t> publicKeyBlob() const override { return blob_; }
    std::string_view origin() const override { return origin_; }

  private:
    std::string type_;
    std::vector<std::uint8_t> blob_;
    std::string origin_;
};

class Ed25519Signer final : public KeySigner {
  public:
    Ed25519Signer(std::vector<std::uint8_t> blob, std::string origin,
                  std::span<const std::uint8_t> seed,
                  const std::uint8_t publicKey[kEd25519PublicKeyLength])
        : KeySigner("ssh-ed25519", std::move(blob), std::move(origin)),
          seed_(seed.begin(), seed.end()) {
        std::copy_n(publicKey, kEd25519PublicKeyLength, public_.begin());
    }

    std::vector<std::uint8_t> Sign(std::string_view algorithm,
                                   std::span<const std::uint8_t> data) override {
        if (algorithm != "ssh-ed25519") return {};
        std::array<std::uint8_t, kEd25519SignatureLength> signature;
        Ed25519Sign(seed_.data(), public_.data(), data, signature.data());
        return SignatureBlob(algorithm, signature);
    }

  private:
    SecureBytes seed_;
    std::array<std::uint8_t, kEd25519PublicKeyLength> public_{};
};

class EcdsaSigner final : public KeySigner {
  public:
    EcdsaSigner(std::string type, std::vector<std::uint8_t> blob, std::string origin,
                const EcCurve& curve, SecureBytes scalar)
        : KeySigner(std::move(type), std::move(blob), std::move(origin)),
          curve_(curve),
          scalar_(std::move(scalar)) {}

    std::vector<std::uint8_t> Sign(std::string_view algorithm,
                                   std::span<const std::uint8_t> data) override {
        const HashDescriptor* hash = FindHash(EcHashName(curve_));
        if (algorithm != keyType() || !hash) return {};
        BigNum r, s;
        if (!EcdsaSign(curve_, scalar_, Digest(*hash, data), &r, &s)) return {};
        SshWriter signature;
        signature.PutMpint(r);
        signature.PutMpint(s);
        return SignatureBlob(algorithm, signature.data());
    }

  private:
    const EcCurve& curve_;
    SecureBytes scalar_;
};

// The signature algorithms of an "ssh-rsa" key, with their hashes.
struct RsaSignatureRow {
    std::string_view name;
    const HashDescriptor& hash;
};
constexpr RsaSignatureRow kRsaSignatures[] = {
    {"rsa-sha2-512", kHashSha512},
    {"rsa-sha2-256", kHashSha256},
    {"ssh-rsa", kHashSha1},
};

class RsaSigner final : public KeySigner {
  public:
    RsaSigner(std::vector<std::uint8_t> blob, std::string origin, RsaPrivateKey key)
        : KeySigner("ssh-rsa", std::move(blob), std::move(origin)), key_(std::move(key)) {}

    std::vector<std::uint8_t> Sign(std::string_view algorithm,
                                   std::span<const std::uint8_t> data) override {
        for (const RsaSignatureRow& row : kRsaSignatures) {
            if (row.name != algorithm) continue;
            const std::vector<std::uint8_t> signature = RsaSignPkcs1(key_, row.hash, data);
            if (signature.empty()) return {};
            return SignatureBlob(algorithm, signature);
        }
        return {};
    }

  private:
    RsaPrivateKey key_;
};

}  // namespace

std::unique_ptr<SshSigner> MakeEd25519Signer(std::span<const std::uint8_t> seed,
                                             std::string origin) {
    if (seed.size() != kEd25519SeedLength) return nullptr;
    std::uint8_t publicKey[kEd25519PublicKeyLength];
    Ed25519PublicKey(seed.data(), publicKey);
    SshWriter writer;
    writer.PutString("ssh-ed25519");
    writer.PutString(std::span<const std::uint8_t>(publicKey));
    return std::make_unique<Ed25519Signer>(ToVector(writer.data()), std::move(origin), seed,
                                           publicKey);
}

std::unique_ptr<SshSigner> MakeEcdsaSigner(const EcCurve& curve,
                                           std::span<const std::uint8_t> scalar,
                                           std::string origin) {
    std::vector<std::uint8_t> point;
    if (!EcPublicFromPrivate(curve, scalar, &point)) return nullptr;
    std::string type = "ecdsa-sha2-" + std::string(EcCurveName(curve));
    SshWriter writer;
    writer.PutString(type);
    writer.PutString(EcCurveName(curve));
    writer.PutString(point);
    return std::make_unique<EcdsaSigner>(std::move(type), ToVector(writer.data()),
                                         std::move(origin), curve,
                                         SecureBytes(scalar.begin(), scalar.end()));
}

std::unique_ptr<SshSigner> MakeRsaSigner(RsaPrivateKey key, std::string origin) {
    const BigNum one(1);
    const BigNum& n = key.modulus;
    const BigNum& e = key.publicExponent;
    const BigNum& p = key.prime1;
    const BigNum& q = key.prime2;
    const std::size_t bits = n.BitCount();
    if (bits < kRsaMinBits || bits > kRsaMaxBits || !n.IsOdd() || !e.IsOdd() || e < BigNum(3) ||
        e >= n || key.privateExponent.IsZero() || key.privateExponent >= n || !p.IsOdd() ||
        !q.IsOdd() || p <= one || q <= one || Multiply(p, q) != n || key.coefficient >= p ||
        ModMul(key.coefficient, q, p) != one) {
        return nullptr;
    }
    key.exponent1 = Mod(key.privateExponent, Subtract(p, one));
    key.exponent2 = Mod(key.privateExponent, Subtract(q, one));
    // One private operation proves that d undoes e, so a damaged exponent shows
    // at load time rather than as a refused signature later.
    const BigNum probe(2);
    if (ModExp(ModExpSecret(probe, key.privateExponent, n), e, n) != probe) return nullptr;

    SshWriter writer;
    writer.PutString("ssh-rsa");
    writer.PutMpint(e);
    writer.PutMpint(n);
    return std::make_unique<RsaSigner>(ToVector(writer.data()), std::move(origin), std::move(key));
}
