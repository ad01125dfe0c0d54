#include "crypto/ecdsa.h"

#include "crypto/hash.h"
#include "crypto/sshbuf.h"

namespace {

const EcdsaPublicKey& AsEcdsa(const PublicKey& key) {
    return static_cast<const EcdsaPublicKey&>(key);
}

// Key blob: string name, string curve, string Q. The curve must be the one
// the name promises and Q a point on it.
PublicKey* NewKey(const PublicKeyAlgorithm& algorithm, std::string_view curveName,
                  std::span<const std::uint8_t> blob) {
    SshReader reader(blob);
    std::string_view name, curve;
    std::span<const std::uint8_t> point;
    if (!reader.ReadString(&name) || name != algorithm.sshName || !reader.ReadString(&curve) ||
        curve != curveName || !reader.ReadString(&point) || !reader.Finish()) {
        return nullptr;
    }
    auto key = std::make_unique<EcdsaPublicKey>();
    key->algorithm = &algorithm;
    key->curve = FindEcCurve(curveName);
    if (!key->curve || !EcPointIsValid(*key->curve, point)) return nullptr;
    key->point.assign(point.begin(), point.end());
    return key.release();
}

template <const PublicKeyAlgorithm& kAlgorithm, const char* kCurveName>
PublicKey* NewKeyFromBlob(std::span<const std::uint8_t> blob) {
    return NewKey(kAlgorithm, kCurveName, blob);
}

void FreeKey(PublicKey* key) {
    delete static_cast<EcdsaPublicKey*>(key);
}

std::vector<std::uint8_t> KeyBlob(const PublicKey& key) {
    const EcdsaPublicKey& ecdsa = AsEcdsa(key);
    SshWriter writer;
    writer.PutString(key.algorithm->sshName);
    writer.PutString(EcCurveName(*ecdsa.curve));
    writer.PutString(ecdsa.point);
    return {writer.data().begin(), writer.data().end()};
}

// The affine coordinates.
std::string KeyText(const PublicKey& key) {
    const EcdsaPublicKey& ecdsa = AsEcdsa(key);
    const std::size_t length = EcFieldBytes(*ecdsa.curve);
    const std::span<const std::uint8_t> point(ecdsa.point);
    return BigNum::FromBytes(point.subspan(1, length)).ToHex() + "," +
           BigNum::FromBytes(point.subspan(1 + length)).ToHex();
}

std::size_t KeyBits(const PublicKey& key) {
    return EcOrderBits(*AsEcdsa(key).curve);
}

// Signature blob: string name, string (mpint r, mpint s), over the curve's
// hash of the data.
bool Verify(const PublicKey& key, std::span<const std::uint8_t> signatureBlob,
            std::span<const std::uint8_t> data) {
    const EcdsaPublicKey& ecdsa = AsEcdsa(key);
    std::span<const std::uint8_t> signature;
    if (!ReadSignatureBlob(signatureBlob, key.algorithm->sshName, &signature)) return false;
    SshReader reader(signature);
    BigNum r, s;
    if (!reader.ReadMpint(&r) || !reader.ReadMpint(&s) || !reader.Finish()) return false;
    const HashDescriptor* hash = FindHash(EcHashName(*ecdsa.curve));
    if (!hash) return false;
    std::uint8_t digest[kMaxHashDigestLength];
    void* context = hash->create();
    hash->add(context, data.data(), data.size());
    hash->finish(context, digest);
    return EcdsaVerify(*ecdsa.curve, ecdsa.point, r, s, std::span(digest, hash->digestLength));
}

constexpr char kNistp256[] = "nistp256";
constexpr char kNistp384[] = "nistp384";
constexpr char kNistp521[] = "nistp521";

// The three curves differ only in their name and in how a blob becomes a key.
constexpr PublicKeyAlgorithm Row(std::string_view name,
                                 PublicKey* (*newKey)(std::span<const std::uint8_t>)) {
    return {name, newKey, FreeKey, KeyBlob, KeyText, PublicKeyFingerprint, KeyBits, Verify};
}

}  // namespace

constinit const PublicKeyAlgorithm kSshEcdsaNistp256 =
    Row("ecdsa-sha2-nistp256", NewKeyFromBlob<kSshEcdsaNistp256, kNistp256>);
constinit const PublicKeyAlgorithm kSshEcdsaNistp384 =
    Row("ecdsa-sha2-nistp384", NewKeyFromBlob<kSshEcdsaNistp384, kNistp384>);
constinit const PublicKeyAlgorithm kSshEcdsaNistp521 =
    Row("ecdsa-sha2-nistp521", NewKeyFromBlob<kSshEcdsaNistp521, kNistp521>);
