// Throughput of our ciphers, hashes and MACs over 32 KiB packets next to libcrypto (EVP).
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/provider.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench/crypto/bench.h"
#include "crypto/aead.h"
#include "crypto/cipher.h"
#include "crypto/cpu_features.h"
#include "crypto/mac.h"
#include "crypto/md5.h"
#include "crypto/sha1.h"
#include "crypto/sha256.h"
#include "crypto/sha512.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Operation = std::function<void()>;

constexpr std::size_t kPacketLength = 32 * 1024;
constexpr double kSliceSeconds = 0.06;
constexpr int kSlices = 3;

// Best of a few slices, ours and theirs interleaved so both see the same machine load.
void Measure(const std::string& name, const std::string& path, const Operation& ours,
             const Operation& theirs) {
    ours();
    if (theirs) theirs();
    double best = 1e9, bestTheirs = 1e9;
    for (int slice = 0; slice < kSlices; ++slice) {
        best = std::min(best, SecondsPerCall(ours, kSliceSeconds));
        if (theirs) bestTheirs = std::min(bestTheirs, SecondsPerCall(theirs, kSliceSeconds));
    }
    PrintThroughputRow(name, path, kPacketLength, best, theirs ? bestTheirs : 0);
}

Bytes Filled(std::size_t length, std::uint8_t seed) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = std::uint8_t(seed + i * 131);
    return bytes;
}

struct EvpCipher {
    EVP_CIPHER_CTX* ctx = nullptr;
    EvpCipher(const EVP_CIPHER* type, const Bytes& key, const Bytes& iv, bool encrypt) {
        if (type == nullptr) return;
        ctx = EVP_CIPHER_CTX_new();
        EVP_CipherInit_ex(ctx, type, nullptr, nullptr, nullptr, encrypt ? 1 : 0);
        EVP_CIPHER_CTX_set_key_length(ctx, static_cast<int>(key.size()));
        EVP_CipherInit_ex(ctx, nullptr, nullptr, key.data(), iv.empty() ? nullptr : iv.data(), -1);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
    }
    ~EvpCipher() { EVP_CIPHER_CTX_free(ctx); }
    void Run(Bytes& data) {
        int n = 0;
        EVP_CipherUpdate(ctx, data.data(), &n, data.data(), static_cast<int>(data.size()));
    }
};

struct CipherRow {
    const CipherDescriptor* ours;
    const char* evpName;  // null: no libcrypto counterpart
    const char* note;     // appended to the row name, e.g. what libcrypto runs instead
    bool decrypt;
};

void BenchCipher(const CipherRow& row, const std::string& path) {
    const CipherDescriptor& cipher = *row.ours;
    const Bytes key = Filled(cipher.keyLength, 1);
    const Bytes iv = Filled(cipher.blockSize < 8 ? 8 : cipher.blockSize, 2);
    void* context = cipher.createContext();
    cipher.setKey(context, key.data());
    cipher.setIv(context, iv.data());
    Bytes ours = Filled(kPacketLength, 3), theirs = ours;
    EVP_CIPHER* type = row.evpName ? EVP_CIPHER_fetch(nullptr, row.evpName, nullptr) : nullptr;
    const bool ecb = type != nullptr && EVP_CIPHER_get_mode(type) == EVP_CIPH_ECB_MODE;
    EvpCipher reference(type, key, ecb || cipher.blockSize == 1 ? Bytes() : iv, !row.decrypt);
    auto run = row.decrypt ? cipher.decrypt : cipher.encrypt;
    std::string name = std::string(cipher.textName) + (row.decrypt ? " decrypt" : " encrypt");
    if (row.note) name += row.note;
    Measure(
        name, path, [&] { run(context, ours.data(), ours.size()); },
        type ? Operation([&] { reference.Run(theirs); }) : Operation());
    EVP_CIPHER_free(type);
    cipher.freeContext(context);
}

template <std::size_t DigestLength>
void BenchHash(const char* name, const char* evpName,
               void (*ours)(const void*, std::size_t, std::uint8_t*), const std::string& path) {
    const Bytes data = Filled(kPacketLength, 4);
    std::uint8_t digest[DigestLength], theirDigest[EVP_MAX_MD_SIZE];
    EVP_MD* md = EVP_MD_fetch(nullptr, evpName, nullptr);
    Measure(
        name, path, [&] { ours(data.data(), data.size(), digest); },
        [&] { EVP_Digest(data.data(), data.size(), theirDigest, nullptr, md, nullptr); });
    if (std::memcmp(digest, theirDigest, DigestLength) != 0) std::printf("  (digest MISMATCH)\n");
    EVP_MD_free(md);
}

void BenchMac(const MacDescriptor& mac, const EVP_MD* md, const std::string& path) {
    const Bytes key = Filled(mac.keyLength, 5);
    Bytes packet = Filled(kPacketLength + mac.tagLength, 6);
    void* context = mac.createContext();
    mac.setKey(context, key.data());
    HMAC_CTX* reference = HMAC_CTX_new();
    HMAC_Init_ex(reference, key.data(), static_cast<int>(key.size()), md, nullptr);
    std::uint32_t sequence = 0;
    std::uint8_t tag[EVP_MAX_MD_SIZE];
    unsigned int tagLength = 0;
    Measure(
        mac.textName, path,
        [&] { mac.generate(context, sequence++, packet.data(), kPacketLength); },
        [&] {
            const std::uint8_t sequenceBytes[4] = {0, 0, 0, 7};
            HMAC_Init_ex(reference, nullptr, 0, nullptr, nullptr);  // reuses the keyed states
            HMAC_Update(reference, sequenceBytes, 4);
            HMAC_Update(reference, packet.data(), kPacketLength);
            HMAC_Final(reference, tag, &tagLength);
        });
    HMAC_CTX_free(reference);
    mac.freeContext(context);
}

// The SSH authenticated ciphers sealing one packet (length field, 32 KiB body, tag), next
// to libcrypto's AEAD over the same bytes: AES-GCM with the length as additional data,
// and for ChaCha20-Poly1305 the RFC 8439 AEAD, which does the same ChaCha20 and Poly1305
// work (OpenSSH's construction adds a 4-byte header encryption).
void BenchAead(const AeadDescriptor& aead, const char* evpName, const std::string& path) {
    const Bytes key = Filled(aead.keyLength, 7), iv = Filled(12, 8);
    const std::size_t length = kPacketLength + 4;
    Bytes ours = Filled(length + aead.tagLength, 9), theirs = ours;
    void* context = aead.createContext();
    aead.setKey(context, key.data(), iv.data());
    EVP_CIPHER* type = EVP_CIPHER_fetch(nullptr, evpName, nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, type, nullptr, key.data(), nullptr);
    std::uint32_t sequence = 0;
    std::string name = std::string(aead.textName) + " seal";
    if (aead.ivLength == 0) name += " (lib: RFC 8439)";
    Measure(
        name, path, [&] { aead.seal(context, sequence++, ours.data(), length); },
        [&] {
            int n = 0;
            EVP_EncryptInit_ex(ctx, nullptr, nullptr, nullptr, iv.data());
            EVP_EncryptUpdate(ctx, nullptr, &n, theirs.data(), 4);
            EVP_EncryptUpdate(ctx, theirs.data() + 4, &n, theirs.data() + 4,
                              static_cast<int>(length - 4));
            EVP_EncryptFinal_ex(ctx, theirs.data() + length, &n);
            EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_GET_TAG, 16, theirs.data() + length);
        });
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(type);
    aead.freeContext(context);
}

void AeadRows(const std::string& gcmPath, bool withChaCha) {
    BenchAead(kAeadAes128Gcm, "AES-128-GCM", gcmPath);
    BenchAead(kAeadAes256Gcm, "AES-256-GCM", gcmPath);
    if (withChaCha) BenchAead(kAeadChaCha20Poly1305, "ChaCha20-Poly1305", "-");
}

const CipherRow kAesRows[] = {
    {&kCipherAes128Ctr, "AES-128-CTR", nullptr, false},
    {&kCipherAes192Ctr, "AES-192-CTR", nullptr, false},
    {&kCipherAes256Ctr, "AES-256-CTR", nullptr, false},
    {&kCipherAes128Cbc, "AES-128-CBC", nullptr, false},
    {&kCipherAes192Cbc, "AES-192-CBC", nullptr, false},
    {&kCipherAes256Cbc, "AES-256-CBC", nullptr, false},
    {&kCipherAes128Cbc, "AES-128-CBC", nullptr, true},
    {&kCipherAes192Cbc, "AES-192-CBC", nullptr, true},
    {&kCipherAes256Cbc, "AES-256-CBC", nullptr, true},
};

// libcrypto has no counter mode for the 64-bit block ciphers; ECB does the same block work.
const CipherRow kOtherCipherRows[] = {
    {&kCipherTripleDesCbc, "DES-EDE3-CBC", nullptr, false},
    {&kCipherTripleDesCbc, "DES-EDE3-CBC", nullptr, true},
    {&kCipherTripleDesCtr, "DES-EDE3-ECB", " (lib: ECB)", false},
    {&kCipherSsh1TripleDes, nullptr, nullptr, false},
    {&kCipherDesCbc, "DES-CBC", nullptr, false},
    {&kCipherBlowfishCbc, "BF-CBC", nullptr, false},
    {&kCipherBlowfishCtr, "BF-ECB", " (lib: ECB)", false},
    {&kCipherArcfour128, "RC4", nullptr, false},
    {&kCipherArcfour256, "RC4", nullptr, false},
};

// MD5 and SHA-512 have a single path; they are measured with the fast rows only.
void HashAndMacRows(const std::string& path, bool withMd5) {
    if (withMd5) BenchHash<kMd5DigestLength>("MD5", "MD5", Md5, "-");
    BenchHash<kSha1DigestLength>("SHA-1", "SHA1", Sha1, path);
    BenchHash<kSha256DigestLength>("SHA-256", "SHA256", Sha256, path);
    BenchMac(kMacHmacSha1, EVP_sha1(), path);
    BenchMac(kMacHmacSha256, EVP_sha256(), path);
    if (withMd5) BenchMac(kMacHmacMd5, EVP_md5(), "-");
    if (withMd5) BenchHash<kSha512DigestLength>("SHA-512", "SHA512", Sha512, "-");
    if (withMd5) BenchMac(kMacHmacSha512, EVP_sha512(), "-");
}

void LoadProviders() {
    // Single DES, Blowfish and RC4 live in libcrypto's legacy provider.
    OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER_load(nullptr, "default");
}

}  // namespace

void RunSymmetricPortableRows() {
    LoadProviders();
    CryptoSetFastPaths(false);
    for (const CipherRow& row : kAesRows)
        BenchCipher(row, "portable");
    AeadRows("portable", false);
    HashAndMacRows("portable", false);
    CryptoSetFastPaths(true);
}

void RunSymmetricBenchmarks() {
    LoadProviders();
    const std::string fast = CpuHasAesNi() ? "AES-NI" : "none";
    for (const CipherRow& row : kAesRows)
        BenchCipher(row, fast);
    AeadRows(CpuHasAesNi() && CpuHasPclmul() ? "AES-NI+PCLMUL" : "none", true);
    for (const CipherRow& row : kOtherCipherRows)
        BenchCipher(row, "-");
    HashAndMacRows(CpuHasShaNi() ? "SHA-NI" : "none", true);
    std::printf("-- portable paths; libcrypto without its AES and SHA instructions --\n");
    if (!RunPortableRowsInChild("/proc/self/exe")) {
        std::printf("-- (child failed; libcrypto keeps its instructions here) --\n");
        RunSymmetricPortableRows();
    }
}
