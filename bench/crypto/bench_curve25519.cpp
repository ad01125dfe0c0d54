// X25519 and Ed25519 next to libcrypto's EVP_PKEY: the two halves of a curve25519-sha256
// key exchange, and signing and verifying a 64-byte message (an exchange hash's size).
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bench/crypto/bench.h"
#include "crypto/ed25519.h"
#include "crypto/x25519.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr double kSliceSeconds = 0.1;
constexpr int kSlices = 3;

// Best of a few slices, ours and theirs interleaved so both see the same machine load.
template <typename Ours, typename Theirs>
void Measure(const char* name, Ours ours, Theirs theirs) {
    ours();
    theirs();
    double best = 1e9, bestTheirs = 1e9;
    for (int slice = 0; slice < kSlices; ++slice) {
        best = std::min(best, SecondsPerCall(ours, kSliceSeconds));
        bestTheirs = std::min(bestTheirs, SecondsPerCall(theirs, kSliceSeconds));
    }
    PrintRow(name, best, bestTheirs);
}

Bytes Filled(std::size_t length, std::uint8_t seed) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + 31 * i + (i >> 3));
    return bytes;
}

void Check(bool same, const char* what) {
    if (!same) std::printf("  (%s MISMATCH)\n", what);
}

void BenchX25519() {
    const Bytes ourScalar = Filled(32, 1), theirScalar = Filled(32, 2);
    EVP_PKEY* mine = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, ourScalar.data(), 32);
    EVP_PKEY* peer = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, theirScalar.data(), 32);
    Bytes peerPublic(32), ours(32), theirs(32);
    std::size_t length = 32;
    EVP_PKEY_get_raw_public_key(peer, peerPublic.data(), &length);

    Measure(
        "X25519 public value (fixed base)", [&] { X25519Base(ours.data(), ourScalar.data()); },
        [&] {
            EVP_PKEY* key =
                EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, ourScalar.data(), 32);
            std::size_t publicLength = 32;
            EVP_PKEY_get_raw_public_key(key, theirs.data(), &publicLength);
            EVP_PKEY_free(key);
        });
    Check(ours == theirs, "X25519 public value");

    EVP_PKEY_CTX* derive = EVP_PKEY_CTX_new(mine, nullptr);
    EVP_PKEY_derive_init(derive);
    EVP_PKEY_derive_set_peer(derive, peer);
    Measure(
        "X25519 shared secret", [&] { X25519(ours.data(), ourScalar.data(), peerPublic.data()); },
        [&] {
            std::size_t secretLength = 32;
            EVP_PKEY_derive(derive, theirs.data(), &secretLength);
        });
    Check(ours == theirs, "X25519 shared secret");
    EVP_PKEY_CTX_free(derive);
    EVP_PKEY_free(mine);
    EVP_PKEY_free(peer);
}

void BenchEd25519() {
    const Bytes seed = Filled(32, 3), message = Filled(64, 4);
    Bytes publicKey(32), ours(64), theirs(64);
    Ed25519PublicKey(seed.data(), publicKey.data());
    EVP_PKEY* key = EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), 32);
    EVP_PKEY* verifyKey =
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey.data(), 32);
    EVP_MD_CTX* md = EVP_MD_CTX_new();

    Measure(
        "Ed25519 sign, 64 bytes",
        [&] { Ed25519Sign(seed.data(), publicKey.data(), message, ours.data()); },
        [&] {
            std::size_t length = 64;
            EVP_DigestSignInit(md, nullptr, nullptr, nullptr, key);
            EVP_DigestSign(md, theirs.data(), &length, message.data(), message.size());
        });
    Check(ours == theirs, "Ed25519 signature");

    bool ourResult = false, theirResult = false;
    Measure(
        "Ed25519 verify, 64 bytes",
        [&] { ourResult = Ed25519Verify(publicKey.data(), ours.data(), message); },
        [&] {
            EVP_DigestVerifyInit(md, nullptr, nullptr, nullptr, verifyKey);
            theirResult =
                EVP_DigestVerify(md, theirs.data(), 64, message.data(), message.size()) == 1;
        });
    Check(ourResult && theirResult, "Ed25519 verification");
    EVP_MD_CTX_free(md);
    EVP_PKEY_free(key);
    EVP_PKEY_free(verifyKey);
}

}  // namespace

void RunCurve25519Benchmarks() {
    BenchX25519();
    BenchEd25519();
}
