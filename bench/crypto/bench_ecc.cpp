// NIST-curve operations of the key exchange and host-key check next to
// libcrypto's: one ECDH exchange (key generation and shared secret), ECDSA
// verification and signing, per curve.
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/crypto/bench.h"
#include "crypto/ecc.h"

namespace {

std::vector<std::uint8_t> PublicPoint(EVP_PKEY* key) {
    std::size_t length = 0;
    EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, nullptr, 0, &length);
    std::vector<std::uint8_t> point(length);
    EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point.data(), length, &length);
    return point;
}

std::vector<std::uint8_t> PrivateScalar(EVP_PKEY* key, std::size_t length) {
    BIGNUM* d = nullptr;
    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &d);
    std::vector<std::uint8_t> scalar(length);
    BN_bn2binpad(d, scalar.data(), static_cast<int>(length));
    BN_clear_free(d);
    return scalar;
}

void BenchCurve(const char* sshName, const char* group) {
    const EcCurve& curve = *FindEcCurve(sshName);
    const std::string label = sshName;
    EVP_PKEY* peer = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", group);
    const std::vector<std::uint8_t> peerPoint = PublicPoint(peer);

    // ECDH: a fresh key and one shared secret, as a key exchange does.
    SecureBytes secret;
    double ours = SecondsPerCall([&] {
        auto key = EcdhPrivateKey::Generate(curve);
        key->SharedSecret(peerPoint, &secret);
    });
    std::vector<std::uint8_t> libSecret(EcFieldBytes(curve));
    double theirs = SecondsPerCall([&] {
        EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", group);
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
        std::size_t length = libSecret.size();
        EVP_PKEY_derive_init(ctx);
        EVP_PKEY_derive_set_peer(ctx, peer);
        EVP_PKEY_derive(ctx, libSecret.data(), &length);
        EVP_PKEY_CTX_free(ctx);
        EVP_PKEY_free(key);
    });
    PrintRow("ecdh " + label + " exchange", ours, theirs);

    // ECDSA over a fixed digest with the peer's key.
    const std::vector<std::uint8_t> digest(EcOrderBits(curve) > 384 ? 64 : EcOrderBits(curve) / 8,
                                           0x5A);
    const std::vector<std::uint8_t> scalar = PrivateScalar(peer, EcFieldBytes(curve));
    BigNum r, s;
    ours = SecondsPerCall([&] { EcdsaSign(curve, scalar, digest, &r, &s); });
    std::vector<std::uint8_t> der(256);
    std::size_t derLength = 0;
    EVP_PKEY_CTX* signCtx = EVP_PKEY_CTX_new(peer, nullptr);
    EVP_PKEY_sign_init(signCtx);
    theirs = SecondsPerCall([&] {
        derLength = der.size();
        EVP_PKEY_sign(signCtx, der.data(), &derLength, digest.data(), digest.size());
    });
    EVP_PKEY_CTX_free(signCtx);
    PrintRow("ecdsa " + label + " sign", ours, theirs);

    bool valid = true;
    ours = SecondsPerCall([&] { valid &= EcdsaVerify(curve, peerPoint, r, s, digest); });
    EVP_PKEY_CTX* verifyCtx = EVP_PKEY_CTX_new(peer, nullptr);
    EVP_PKEY_verify_init(verifyCtx);
    theirs = SecondsPerCall([&] {
        valid &=
            EVP_PKEY_verify(verifyCtx, der.data(), derLength, digest.data(), digest.size()) == 1;
    });
    EVP_PKEY_CTX_free(verifyCtx);
    if (!valid) std::fprintf(stderr, "ecdsa %s: a signature failed to verify!\n", sshName);
    PrintRow("ecdsa " + label + " verify", ours, theirs);
    EVP_PKEY_free(peer);
}

}  // namespace

void RunEccBenchmarks() {
    BenchCurve("nistp256", "P-256");
    BenchCurve("nistp384", "P-384");
    BenchCurve("nistp521", "P-521");
}
