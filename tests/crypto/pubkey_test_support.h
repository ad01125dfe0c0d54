// Host keys made and signatures signed by libcrypto, wrapped in the SSH blob
// formats, for checking our verification against an independent signer.
#pragma once

#include <openssl/core_names.h>
#include <openssl/dsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "bignum_test_support.h"
#include "crypto/sshbuf.h"

using Bytes = std::vector<std::uint8_t>;

struct EvpKeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using EvpKey = std::unique_ptr<EVP_PKEY, EvpKeyFree>;

struct EvpCtxFree {
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
using EvpCtx = std::unique_ptr<EVP_PKEY_CTX, EvpCtxFree>;

// SSH wire pieces written with libcrypto's MPI form, which is the SSH mpint.
inline void AppendUint32(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

inline void AppendString(Bytes& out, std::string_view text) {
    AppendUint32(out, static_cast<std::uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

inline void AppendString(Bytes& out, const Bytes& bytes) {
    AppendUint32(out, static_cast<std::uint32_t>(bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
}

inline void AppendMpint(Bytes& out, const BIGNUM* bn) {
    Bytes mpi(BN_bn2mpi(bn, nullptr));
    BN_bn2mpi(bn, mpi.data());
    out.insert(out.end(), mpi.begin(), mpi.end());
}

inline Bn KeyNumber(const EVP_PKEY* key, const char* name) {
    BIGNUM* bn = nullptr;
    EVP_PKEY_get_bn_param(key, name, &bn);
    return Bn(bn);
}

inline EvpKey GenerateRsa(unsigned bits) {
    return EvpKey(EVP_RSA_gen(bits));
}

inline EvpKey GenerateDsa(unsigned bits, unsigned qBits) {
    EvpCtx paramCtx(EVP_PKEY_CTX_new_from_name(nullptr, "DSA", nullptr));
    EVP_PKEY* params = nullptr;
    if (EVP_PKEY_paramgen_init(paramCtx.get()) <= 0 ||
        EVP_PKEY_CTX_set_dsa_paramgen_bits(paramCtx.get(), static_cast<int>(bits)) <= 0 ||
        EVP_PKEY_CTX_set_dsa_paramgen_q_bits(paramCtx.get(), static_cast<int>(qBits)) <= 0 ||
        EVP_PKEY_paramgen(paramCtx.get(), &params) <= 0) {
        return nullptr;
    }
    EvpKey owner(params);
    EvpCtx keyCtx(EVP_PKEY_CTX_new_from_pkey(nullptr, params, nullptr));
    EVP_PKEY* key = nullptr;
    if (EVP_PKEY_keygen_init(keyCtx.get()) <= 0 || EVP_PKEY_keygen(keyCtx.get(), &key) <= 0) {
        return nullptr;
    }
    return EvpKey(key);
}

// A signature by libcrypto over data hashed with md (none for Ed25519).
inline Bytes SignWith(EVP_PKEY* key, const EVP_MD* md, const Bytes& data) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    std::size_t length = 0;
    Bytes signature;
    if (EVP_DigestSignInit(ctx, nullptr, md, nullptr, key) > 0 &&
        EVP_DigestSign(ctx, nullptr, &length, data.data(), data.size()) > 0) {
        signature.resize(length);
        if (EVP_DigestSign(ctx, signature.data(), &length, data.data(), data.size()) <= 0)
            length = 0;
        signature.resize(length);
    }
    EVP_MD_CTX_free(ctx);
    return signature;
}

inline bool LibcryptoVerifies(EVP_PKEY* key, const EVP_MD* md, const Bytes& signature,
                              const Bytes& data) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const bool ok =
        key && EVP_DigestVerifyInit(ctx, nullptr, md, nullptr, key) > 0 &&
        EVP_DigestVerify(ctx, signature.data(), signature.size(), data.data(), data.size()) == 1;
    EVP_MD_CTX_free(ctx);
    return ok;
}

inline Bytes SignSha1(EVP_PKEY* key, const Bytes& data) {
    return SignWith(key, EVP_sha1(), data);
}

inline Bytes RsaKeyBlob(EVP_PKEY* key) {
    Bytes blob;
    AppendString(blob, "ssh-rsa");
    AppendMpint(blob, KeyNumber(key, OSSL_PKEY_PARAM_RSA_E).get());
    AppendMpint(blob, KeyNumber(key, OSSL_PKEY_PARAM_RSA_N).get());
    return blob;
}

inline Bytes DsaKeyBlob(EVP_PKEY* key) {
    Bytes blob;
    AppendString(blob, "ssh-dss");
    for (const char* name : {OSSL_PKEY_PARAM_FFC_P, OSSL_PKEY_PARAM_FFC_Q, OSSL_PKEY_PARAM_FFC_G,
                             OSSL_PKEY_PARAM_PUB_KEY}) {
        AppendMpint(blob, KeyNumber(key, name).get());
    }
    return blob;
}

// The bare signature of "ssh-rsa" is the k-byte PKCS #1 block.
inline Bytes RsaSignature(EVP_PKEY* key, const Bytes& data) {
    return SignSha1(key, data);
}

// "ssh-dss" wants r and s as 20 bytes each instead of libcrypto's DER.
inline Bytes DsaSignature(EVP_PKEY* key, const Bytes& data) {
    Bytes der = SignSha1(key, data);
    const unsigned char* cursor = der.data();
    DSA_SIG* sig = d2i_DSA_SIG(nullptr, &cursor, static_cast<long>(der.size()));
    if (!sig) return {};
    const BIGNUM *r, *s;
    DSA_SIG_get0(sig, &r, &s);
    Bytes raw(40);
    BN_bn2binpad(r, raw.data(), 20);
    BN_bn2binpad(s, raw.data() + 20, 20);
    DSA_SIG_free(sig);
    return raw;
}

inline Bytes SignatureBlob(std::string_view name, const Bytes& signature) {
    Bytes blob;
    AppendString(blob, name);
    AppendString(blob, signature);
    return blob;
}

inline EvpKey GenerateEd25519() {
    return EvpKey(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
}

inline Bytes Ed25519RawPublic(EVP_PKEY* key) {
    Bytes raw(32);
    std::size_t length = raw.size();
    if (EVP_PKEY_get_raw_public_key(key, raw.data(), &length) <= 0 || length != 32) return {};
    return raw;
}

inline Bytes Ed25519KeyBlob(EVP_PKEY* key) {
    Bytes blob;
    AppendString(blob, "ssh-ed25519");
    AppendString(blob, Ed25519RawPublic(key));
    return blob;
}

// Ed25519 signs the message itself (no separate digest): the 64 bytes R || S.
inline Bytes Ed25519Signature(EVP_PKEY* key, const Bytes& data) {
    return SignWith(key, nullptr, data);
}

inline EvpKey EvpFromParams(const char* type, OSSL_PARAM_BLD* build) {
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(build);
    EvpCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
    EVP_PKEY* key = nullptr;
    if (EVP_PKEY_fromdata_init(ctx.get()) <= 0 ||
        EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params) <= 0) {
        key = nullptr;
    }
    OSSL_PARAM_free(params);
    return EvpKey(key);
}

// A libcrypto public key built from the numbers of an SSH key blob.
inline EvpKey EvpFromBlob(const Bytes& blob) {
    SshReader reader(blob);
    std::string_view type;
    if (!reader.ReadString(&type)) return nullptr;
    if (type == "ssh-ed25519") {
        std::span<const std::uint8_t> key;
        if (!reader.ReadString(&key)) return nullptr;
        return EvpKey(
            EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()));
    }
    OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
    EvpKey key;
    if (type == "ssh-rsa") {
        BigNum e, n;
        EXPECT_TRUE(reader.ReadMpint(&e));
        EXPECT_TRUE(reader.ReadMpint(&n));
        Bn bnE = ToBn(e), bnN = ToBn(n);
        OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_N, bnN.get());
        OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_E, bnE.get());
        key = EvpFromParams("RSA", build);
    } else {
        static const std::map<std::string_view, const char*> groups = {
            {"nistp256", "P-256"}, {"nistp384", "P-384"}, {"nistp521", "P-521"}};
        std::string_view curve;
        std::span<const std::uint8_t> point;
        EXPECT_TRUE(reader.ReadString(&curve));
        EXPECT_TRUE(reader.ReadString(&point));
        if (groups.contains(curve)) {
            OSSL_PARAM_BLD_push_utf8_string(build, OSSL_PKEY_PARAM_GROUP_NAME, groups.at(curve), 0);
            OSSL_PARAM_BLD_push_octet_string(build, OSSL_PKEY_PARAM_PUB_KEY, point.data(),
                                             point.size());
            key = EvpFromParams("EC", build);
        }
    }
    OSSL_PARAM_BLD_free(build);
    return key;
}
