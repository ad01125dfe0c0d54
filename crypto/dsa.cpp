#include "crypto/dsa.h"

#include "crypto/sha1.h"
#include "crypto/sshbuf.h"

namespace {

constexpr std::size_t kDsaHalfSignature = kDsaSubgroupBits / 8;

const DsaPublicKey& AsDsa(const PublicKey& key) {
    return static_cast<const DsaPublicKey&>(key);
}

// A key is refused unless p is an odd number of sane size, q a 160-bit odd
// divisor of p - 1, and g and y elements of the order-q subgroup other than 1.
// Without the subgroup checks a key with g = p - 1 and y = 1 "verifies"
// signatures over messages nobody signed.
bool IsUsable(const DsaPublicKey& key) {
    std::size_t bits = key.p.BitCount();
    if (bits < kDsaMinBits || bits > kDsaMaxBits || !key.p.IsOdd()) return false;
    if (key.q.BitCount() != kDsaSubgroupBits || !key.q.IsOdd()) return false;
    if (!Mod(Subtract(key.p, BigNum(1)), key.q).IsZero()) return false;
    const BigNum one(1);
    if (!(key.g > one && key.g < key.p && key.y > one && key.y < key.p)) return false;
    return ModExp(key.g, key.q, key.p) == one && ModExp(key.y, key.q, key.p) == one;
}

PublicKey* NewKeyFromBlob(std::span<const std::uint8_t> blob) {
    SshReader reader(blob);
    std::string_view name;
    auto key = std::make_unique<DsaPublicKey>();
    key->algorithm = &kSshDss;
    if (!reader.ReadString(&name) || name != kSshDss.sshName || !reader.ReadMpint(&key->p) ||
        !reader.ReadMpint(&key->q) || !reader.ReadMpint(&key->g) || !reader.ReadMpint(&key->y) ||
        !reader.Finish() || !IsUsable(*key)) {
        return nullptr;
    }
    return key.release();
}

void FreeKey(PublicKey* key) {
    delete static_cast<DsaPublicKey*>(key);
}

std::vector<std::uint8_t> KeyBlob(const PublicKey& key) {
    const DsaPublicKey& dsa = AsDsa(key);
    SshWriter writer;
    writer.PutString(kSshDss.sshName);
    for (const BigNum* number : {&dsa.p, &dsa.q, &dsa.g, &dsa.y})
        writer.PutMpint(*number);
    return {writer.data().begin(), writer.data().end()};
}

std::string KeyText(const PublicKey& key) {
    const DsaPublicKey& dsa = AsDsa(key);
    return dsa.p.ToHex() + "," + dsa.q.ToHex() + "," + dsa.g.ToHex() + "," + dsa.y.ToHex();
}

std::size_t KeyBits(const PublicKey& key) {
    return AsDsa(key).p.BitCount();
}

bool Verify(const PublicKey& key, std::span<const std::uint8_t> signatureBlob,
            std::span<const std::uint8_t> data) {
    std::span<const std::uint8_t> signature;
    return ReadSignatureBlob(signatureBlob, kSshDss.sshName, &signature) &&
           DsaVerifySha1(AsDsa(key), signature, data);
}

}  // namespace

const PublicKeyAlgorithm kSshDss = {
    "ssh-dss", NewKeyFromBlob, FreeKey, KeyBlob, KeyText, PublicKeyFingerprint, KeyBits, Verify,
};

bool DsaVerifySha1(const DsaPublicKey& key, std::span<const std::uint8_t> signature,
                   std::span<const std::uint8_t> data) {
    if (signature.size() != 2 * kDsaHalfSignature) return false;
    BigNum r = BigNum::FromBytes(signature.first(kDsaHalfSignature));
    BigNum s = BigNum::FromBytes(signature.last(kDsaHalfSignature));
    if (r.IsZero() || r >= key.q || s.IsZero() || s >= key.q) return false;

    std::uint8_t digest[kSha1DigestLength];
    Sha1(data.data(), data.size(), digest);
    BigNum hash = BigNum::FromBytes(digest);

    BigNum w;
    if (!ModInverse(s, key.q, &w)) return false;
    BigNum u1 = ModMul(hash, w, key.q);
    BigNum u2 = ModMul(r, w, key.q);
    BigNum v = ModMul(ModExp(key.g, u1, key.p), ModExp(key.y, u2, key.p), key.p);
    return Mod(v, key.q) == r;
}
