// Helpers shared by the crypto tests: hex, deterministic random data, fast/portable paths.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/cpu_features.h"

using Bytes = std::vector<std::uint8_t>;

inline Bytes FromHex(std::string_view hex) {
    Bytes out;
    int high = -1;
    for (char c : hex) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            continue;  // spaces and separators in vectors
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

inline std::string ToHex(const std::uint8_t* data, std::size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}
inline std::string ToHex(const Bytes& b) {
    return ToHex(b.data(), b.size());
}

inline bool AllZero(const void* p, std::size_t n) {
    const auto* bytes = static_cast<const std::uint8_t*>(p);
    for (std::size_t i = 0; i < n; ++i)
        if (bytes[i] != 0) return false;
    return true;
}

inline Bytes Text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

// Differential loops run fewer rounds under the sanitizers.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kDifferentialRounds = 200;
#else
constexpr int kDifferentialRounds = 2000;
#endif

class TestRandom {
  public:
    explicit TestRandom(std::uint32_t seed) : engine_(seed) {}
    Bytes Fill(std::size_t length) {
        Bytes out(length);
        for (auto& b : out)
            b = static_cast<std::uint8_t>(engine_());
        return out;
    }
    std::size_t Below(std::size_t limit) { return engine_() % limit; }

  private:
    std::mt19937 engine_;
};

// Runs a test body with the fast paths forced on and off, restoring the default after.
enum class CryptoPath { Fast, Portable };

class BothPaths : public ::testing::TestWithParam<CryptoPath> {
  protected:
    void SetUp() override { CryptoSetFastPaths(GetParam() == CryptoPath::Fast); }
    void TearDown() override { CryptoSetFastPaths(true); }
};

inline std::string PathName(const ::testing::TestParamInfo<CryptoPath>& info) {
    return info.param == CryptoPath::Fast ? "Fast" : "Portable";
}

#define INSTANTIATE_BOTH_PATHS(suite)      \
    INSTANTIATE_TEST_SUITE_P(Paths, suite, \
                             ::testing::Values(CryptoPath::Fast, CryptoPath::Portable), PathName)

// Poly1305 of libcrypto, the reference for ours.
inline Bytes LibcryptoPoly1305(const Bytes& key, const Bytes& message) {
    EVP_MAC* mac = EVP_MAC_fetch(nullptr, "POLY1305", nullptr);
    EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(mac);
    Bytes tag(16);
    std::size_t length = 0;
    EXPECT_EQ(EVP_MAC_init(ctx, key.data(), key.size(), nullptr), 1);
    EXPECT_EQ(EVP_MAC_update(ctx, message.data(), message.size()), 1);
    EXPECT_EQ(EVP_MAC_final(ctx, tag.data(), &length, tag.size()), 1);
    EVP_MAC_CTX_free(ctx);
    EVP_MAC_free(mac);
    return tag;
}

// One pass of a libcrypto cipher (a stream or counter mode) over the input.
inline Bytes LibcryptoCipher(const EVP_CIPHER* type, const Bytes& key, const Bytes& iv,
                             const Bytes& input) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(input.size() + 16);
    int n = 0;
    EXPECT_EQ(EVP_EncryptInit_ex(ctx, type, nullptr, key.data(), iv.data()), 1);
    EXPECT_EQ(EVP_EncryptUpdate(ctx, out.data(), &n, input.data(), int(input.size())), 1);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(input.size());
    return out;
}

// AES-GCM of libcrypto: the ciphertext, then the 16-byte tag.
inline Bytes LibcryptoGcm(const Bytes& key, const Bytes& iv, const Bytes& aad, const Bytes& plain) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(plain.size() + 16);
    int n = 0;
    EXPECT_EQ(EVP_EncryptInit_ex(ctx, key.size() == 32 ? EVP_aes_256_gcm() : EVP_aes_128_gcm(),
                                 nullptr, key.data(), iv.data()),
              1);
    if (!aad.empty()) {
        EXPECT_EQ(EVP_EncryptUpdate(ctx, nullptr, &n, aad.data(), int(aad.size())), 1);
    }
    if (!plain.empty()) {
        EXPECT_EQ(EVP_EncryptUpdate(ctx, out.data(), &n, plain.data(), int(plain.size())), 1);
    }
    EXPECT_EQ(EVP_EncryptFinal_ex(ctx, out.data() + plain.size(), &n), 1);
    EXPECT_EQ(EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, 16, out.data() + plain.size()), 1);
    EVP_CIPHER_CTX_free(ctx);
    return out;
}
