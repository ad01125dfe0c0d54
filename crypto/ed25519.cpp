#include "crypto/ed25519.h"

#include <string>
#include <vector>

#include "crypto/edwards25519.h"
#include "crypto/pubkey.h"
#include "crypto/sha512.h"
#include "crypto/sshbuf.h"
#include "platform/wipe.h"

namespace {

// Scalars modulo the group order L = 2^252 + 27742317777372353535851937790883648493, in
// 64-bit limbs, least significant first. Everything here runs in time independent of the
// values, since the signing nonce and key pass through it.
using U128 = unsigned __int128;

constexpr std::uint64_t kOrder[4] = {0x5812631a5cf5d3ed, 0x14def9dea2f79cd6, 0, 0x1000000000000000};
// floor(2^512 / L) for Barrett reduction.
constexpr std::uint64_t kBarrettFactor[5] = {0xed9ce5a30a2c131b, 0x2106215d086329a7,
                                             0xffffffffffffffeb, 0xffffffffffffffff, 0xf};

// out[0..na+nb) = a * b.
void MulLimbs(std::uint64_t* out, const std::uint64_t* a, int na, const std::uint64_t* b, int nb) {
    for (int i = 0; i < na + nb; ++i)
        out[i] = 0;
    for (int i = 0; i < na; ++i) {
        std::uint64_t carry = 0;
        for (int j = 0; j < nb; ++j) {
            const U128 t = U128(a[i]) * b[j] + out[i + j] + carry;
            out[i + j] = static_cast<std::uint64_t>(t);
            carry = static_cast<std::uint64_t>(t >> 64);
        }
        out[i + nb] = carry;
    }
}

// r -= L when r >= L, r of five limbs.
void SubtractOrderIfAbove(std::uint64_t r[5]) {
    std::uint64_t difference[5];
    std::uint64_t borrow = 0;
    for (int i = 0; i < 5; ++i) {
        const std::uint64_t order = i < 4 ? kOrder[i] : 0;
        const U128 t = U128(r[i]) - order - borrow;
        difference[i] = static_cast<std::uint64_t>(t);
        borrow = static_cast<std::uint64_t>(t >> 64) & 1;
    }
    const std::uint64_t keep = 0 - borrow;  // all ones when r < L
    for (int i = 0; i < 5; ++i)
        r[i] = (r[i] & keep) | (difference[i] & ~keep);
}

// out = x mod L for a 512-bit x (HAC 14.42 with base 2^64 and k = 4).
void ReduceWide(std::uint64_t out[4], const std::uint64_t x[8]) {
    std::uint64_t q2[10], q3L[9], r[5];
    MulLimbs(q2, x + 3, 5, kBarrettFactor, 5);  // floor(x / 2^192) * mu
    MulLimbs(q3L, q2 + 5, 5, kOrder, 4);        // floor(q2 / 2^320) * L
    std::uint64_t borrow = 0;
    for (int i = 0; i < 5; ++i) {
        const U128 t = U128(x[i]) - q3L[i] - borrow;
        r[i] = static_cast<std::uint64_t>(t);
        borrow = static_cast<std::uint64_t>(t >> 64) & 1;
    }
    // r < 3L now.
    SubtractOrderIfAbove(r);
    SubtractOrderIfAbove(r);
    for (int i = 0; i < 4; ++i)
        out[i] = r[i];
    SecureWipeObject(q2);
    SecureWipeObject(q3L);
    SecureWipeObject(r);
}

void LoadLimbs(std::uint64_t* out, const std::uint8_t* bytes, int limbs) {
    for (int i = 0; i < limbs; ++i) {
        out[i] = 0;
        for (int j = 7; j >= 0; --j)
            out[i] = out[i] << 8 | bytes[8 * i + j];
    }
}

void StoreLimbs(std::uint8_t out[32], const std::uint64_t limbs[4]) {
    for (int i = 0; i < 32; ++i)
        out[i] = static_cast<std::uint8_t>(limbs[i / 8] >> (8 * (i % 8)));
}

// A SHA-512 digest read as a little-endian number, reduced mod L.
void ReduceDigest(std::uint8_t out[32], const std::uint8_t digest[64]) {
    std::uint64_t wide[8], reduced[4];
    LoadLimbs(wide, digest, 8);
    ReduceWide(reduced, wide);
    StoreLimbs(out, reduced);
    SecureWipeObject(wide);
    SecureWipeObject(reduced);
}

// out = (r + k * a) mod L, with r and k below L and a (a clamped secret scalar) below 2^255.
void MultiplyAdd(std::uint8_t out[32], const std::uint8_t r[32], const std::uint8_t k[32],
                 const std::uint8_t a[32]) {
    std::uint64_t kl[4], al[4], rl[4], wide[8], reduced[4];
    LoadLimbs(kl, k, 4);
    LoadLimbs(al, a, 4);
    LoadLimbs(rl, r, 4);
    MulLimbs(wide, kl, 4, al, 4);
    // k a < 2^253 * 2^255, so adding r cannot carry out of 512 bits.
    std::uint64_t carry = 0;
    for (int i = 0; i < 8; ++i) {
        const U128 t = U128(wide[i]) + (i < 4 ? rl[i] : 0) + carry;
        wide[i] = static_cast<std::uint64_t>(t);
        carry = static_cast<std::uint64_t>(t >> 64);
    }
    ReduceWide(reduced, wide);
    StoreLimbs(out, reduced);
    SecureWipeObject(kl);
    SecureWipeObject(al);
    SecureWipeObject(rl);
    SecureWipeObject(wide);
    SecureWipeObject(reduced);
}

// S < L, compared as little-endian numbers (public data, so an early exit is fine).
bool BelowOrder(const std::uint8_t s[32]) {
    std::uint8_t order[32];
    StoreLimbs(order, kOrder);
    for (int i = 31; i >= 0; --i) {
        if (s[i] != order[i]) return s[i] < order[i];
    }
    return false;
}

// SHA-512 of the concatenated pieces, reduced mod L.
void HashToScalar(std::uint8_t out[32], std::span<const std::uint8_t> first,
                  std::span<const std::uint8_t> second, std::span<const std::uint8_t> message) {
    Sha512State state;
    Sha512Init(state);
    Sha512Update(state, first.data(), first.size());
    Sha512Update(state, second.data(), second.size());
    Sha512Update(state, message.data(), message.size());
    std::uint8_t digest[64];
    Sha512Final(state, digest);
    ReduceDigest(out, digest);
    SecureWipeObject(digest);
}

// The secret scalar (clamped first half) and the nonce prefix (second half) of SHA-512(seed).
struct ExpandedSeed {
    std::uint8_t digest[64];
    std::uint8_t* Scalar() { return digest; }
    std::span<const std::uint8_t> Prefix() const { return {digest + 32, 32}; }
};

void ExpandSeed(ExpandedSeed& expanded, const std::uint8_t seed[32]) {
    Sha512(seed, 32, expanded.digest);
    expanded.digest[0] &= 248;
    expanded.digest[31] &= 127;
    expanded.digest[31] |= 64;
}

}  // namespace

bool Ed25519Verify(const std::uint8_t publicKey[kEd25519PublicKeyLength],
                   const std::uint8_t signature[kEd25519SignatureLength],
                   std::span<const std::uint8_t> message) {
    const std::uint8_t* encodedR = signature;
    const std::uint8_t* s = signature + 32;
    EdPoint a;
    if (!BelowOrder(s) || !EdDecode(a, publicKey)) return false;
    std::uint8_t k[32];
    HashToScalar(k, {encodedR, 32}, {publicKey, 32}, message);
    // [S]B - [k]A must encode to R; comparing encodings also refuses a non-canonical R.
    EdPoint minusA, check;
    EdNegate(minusA, a);
    EdDoubleScalarMultiply(check, k, minusA, s);
    std::uint8_t encodedCheck[32];
    EdEncode(encodedCheck, check);
    std::uint8_t difference = 0;
    for (int i = 0; i < 32; ++i)
        difference |= encodedCheck[i] ^ encodedR[i];
    return difference == 0;
}

void Ed25519PublicKey(const std::uint8_t seed[kEd25519SeedLength],
                      std::uint8_t publicKey[kEd25519PublicKeyLength]) {
    ExpandedSeed expanded;
    ExpandSeed(expanded, seed);
    EdPoint a;
    EdBaseMultiply(a, expanded.Scalar());
    EdEncode(publicKey, a);
    SecureWipeObject(expanded);
    SecureWipeObject(a);
}

void Ed25519Sign(const std::uint8_t seed[kEd25519SeedLength],
                 const std::uint8_t publicKey[kEd25519PublicKeyLength],
                 std::span<const std::uint8_t> message,
                 std::uint8_t signature[kEd25519SignatureLength]) {
    ExpandedSeed expanded;
    ExpandSeed(expanded, seed);
    std::uint8_t r[32], k[32];
    HashToScalar(r, expanded.Prefix(), {}, message);
    EdPoint bigR;
    EdBaseMultiply(bigR, r);
    EdEncode(signature, bigR);
    HashToScalar(k, {signature, 32}, {publicKey, 32}, message);
    MultiplyAdd(signature + 32, r, k, expanded.Scalar());
    SecureWipeObject(expanded);
    SecureWipeObject(r);
    SecureWipeObject(bigR);
}

// The "ssh-ed25519" host-key row: blob = string name, string key (32 bytes).
namespace {

struct Ed25519Key : PublicKey {
    std::uint8_t key[kEd25519PublicKeyLength];
};

const Ed25519Key& AsEd25519(const PublicKey& key) {
    return static_cast<const Ed25519Key&>(key);
}

PublicKey* NewKeyFromBlob(std::span<const std::uint8_t> blob) {
    SshReader reader(blob);
    std::string_view name;
    std::span<const std::uint8_t> key;
    EdPoint point;
    if (!reader.ReadString(&name) || name != kSshEd25519.sshName || !reader.ReadString(&key) ||
        !reader.Finish() || key.size() != kEd25519PublicKeyLength || !EdDecode(point, key.data())) {
        return nullptr;
    }
    auto* result = new Ed25519Key{};
    result->algorithm = &kSshEd25519;
    for (std::size_t i = 0; i < kEd25519PublicKeyLength; ++i)
        result->key[i] = key[i];
    return result;
}

void FreeKey(PublicKey* key) {
    delete static_cast<Ed25519Key*>(key);
}

std::vector<std::uint8_t> KeyBlob(const PublicKey& key) {
    SshWriter writer;
    writer.PutString(kSshEd25519.sshName);
    writer.PutString(std::span<const std::uint8_t>(AsEd25519(key).key));
    return {writer.data().begin(), writer.data().end()};
}

// The key bytes in their wire order.
std::string KeyText(const PublicKey& key) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text = "0x";
    for (std::uint8_t byte : AsEd25519(key).key) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

std::size_t KeyBits(const PublicKey&) {
    return 256;
}

bool Verify(const PublicKey& key, std::span<const std::uint8_t> signatureBlob,
            std::span<const std::uint8_t> data) {
    std::span<const std::uint8_t> signature;
    return ReadSignatureBlob(signatureBlob, kSshEd25519.sshName, &signature) &&
           signature.size() == kEd25519SignatureLength &&
           Ed25519Verify(AsEd25519(key).key, signature.data(), data);
}

}  // namespace

const PublicKeyAlgorithm kSshEd25519 = {
    "ssh-ed25519", NewKeyFromBlob, FreeKey, KeyBlob, KeyText, PublicKeyFingerprint, KeyBits, Verify,
};
