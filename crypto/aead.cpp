#include "crypto/aead.h"

#include <array>
#include <cstring>

#include "crypto/byte_order.h"
#include "crypto/chacha20.h"
#include "crypto/gcm.h"
#include "crypto/poly1305.h"
#include "platform/wipe.h"

namespace {

constexpr std::size_t kLengthField = 4;
constexpr std::size_t kTagLength = 16;

// chacha20-poly1305@openssh.com: two ChaCha20 keys from the 64 key bytes, the main one
// (payload and Poly1305 key) first, the header one (length field only) second. The nonce
// is the sequence number, 64 bits big-endian, in the original ChaCha20 layout.
struct ChaChaPoly {
    std::uint8_t mainKey[32];
    std::uint8_t headerKey[32];

    void SetKey(const std::uint8_t* key, const std::uint8_t*) {
        std::memcpy(mainKey, key, 32);
        std::memcpy(headerKey, key + 32, 32);
    }

    void CryptLength(std::uint32_t sequence, std::uint8_t* first4) const {
        std::uint8_t nonce[8];
        StoreBe64(nonce, sequence);
        ChaCha20 header;
        ChaCha20InitOriginal(header, headerKey, 0, nonce);
        ChaCha20Xor(header, first4, kLengthField);
        ChaCha20Wipe(header);
    }

    // The main instance after its first block, whose first 32 bytes key Poly1305.
    void StartMain(std::uint32_t sequence, ChaCha20& main, std::uint8_t polyKey[64]) const {
        std::uint8_t nonce[8];
        StoreBe64(nonce, sequence);
        ChaCha20InitOriginal(main, mainKey, 0, nonce);
        ChaCha20Block(main, polyKey);
    }

    std::uint32_t PacketLength(std::uint32_t sequence, const std::uint8_t* first4) const {
        std::uint8_t length[kLengthField];
        std::memcpy(length, first4, kLengthField);
        CryptLength(sequence, length);
        return LoadBe32(length);
    }

    void Seal(std::uint32_t sequence, std::uint8_t* packet, std::size_t length) const {
        ChaCha20 main;
        std::uint8_t polyKey[64];
        StartMain(sequence, main, polyKey);
        CryptLength(sequence, packet);
        ChaCha20Xor(main, packet + kLengthField, length - kLengthField);
        Poly1305Mac(polyKey, packet, length, packet + length);
        ChaCha20Wipe(main);
        SecureWipeObject(polyKey);
    }

    bool Open(std::uint32_t sequence, std::uint8_t* packet, std::size_t length) const {
        ChaCha20 main;
        std::uint8_t polyKey[64], tag[kTagLength];
        StartMain(sequence, main, polyKey);
        Poly1305Mac(polyKey, packet, length, tag);
        const bool match = ConstantTimeEqual(tag, packet + length, kTagLength);
        if (match) {
            CryptLength(sequence, packet);
            ChaCha20Xor(main, packet + kLengthField, length - kLengthField);
        }
        ChaCha20Wipe(main);
        SecureWipeObject(polyKey);
        return match;
    }
};

// aesN-gcm@openssh.com: the IV is a fixed 4-byte field and a 64-bit big-endian invocation
// counter that steps after every packet; the length field is additional data, sent plain.
template <std::size_t KeyLength>
struct AesGcm {
    GcmKey key;
    std::uint8_t iv[kGcmIvLength];

    void SetKey(const std::uint8_t* k, const std::uint8_t* v) {
        GcmSetKey(key, k, KeyLength);
        std::memcpy(iv, v, sizeof iv);
    }

    void Step() {
        for (std::size_t i = kGcmIvLength; i-- > 4;) {
            if (++iv[i] != 0) break;
        }
    }

    std::uint32_t PacketLength(std::uint32_t, const std::uint8_t* first4) const {
        return LoadBe32(first4);
    }

    void Seal(std::uint32_t, std::uint8_t* packet, std::size_t length) {
        GcmEncrypt(key, iv, packet, kLengthField, packet + kLengthField, length - kLengthField,
                   packet + length);
        Step();
    }

    bool Open(std::uint32_t, std::uint8_t* packet, std::size_t length) {
        if (!GcmDecrypt(key, iv, packet, kLengthField, packet + kLengthField, length - kLengthField,
                        packet + length)) {
            return false;
        }
        Step();
        return true;
    }
};

template <typename Mode>
struct AeadOps {
    static Mode& Of(void* context) { return *static_cast<Mode*>(context); }
    static void* Create() { return new Mode{}; }
    static void Wipe(void* context) { SecureWipeObject(Of(context)); }
    static void Free(void* context) {
        Wipe(context);
        delete static_cast<Mode*>(context);
    }
    static void SetKey(void* c, const std::uint8_t* key, const std::uint8_t* iv) {
        Of(c).SetKey(key, iv);
    }
    static std::uint32_t PacketLength(void* c, std::uint32_t sequence, const std::uint8_t* first4) {
        return Of(c).PacketLength(sequence, first4);
    }
    static void Seal(void* c, std::uint32_t sequence, std::uint8_t* packet, std::size_t length) {
        Of(c).Seal(sequence, packet, length);
    }
    static bool Open(void* c, std::uint32_t sequence, std::uint8_t* packet, std::size_t length) {
        return Of(c).Open(sequence, packet, length);
    }
};

struct AeadTraits {
    const char* sshName;
    std::size_t keyLength;
    std::size_t ivLength;
    std::size_t blockSize;
    int keyBits;
    const char* textName;
};

template <typename Mode>
constexpr AeadDescriptor Describe(const AeadTraits& t) {
    using Ops = AeadOps<Mode>;
    return {t.sshName,         t.keyLength, t.ivLength,  t.blockSize, kTagLength,
            t.keyBits,         t.textName,  Ops::Create, Ops::Free,   Ops::SetKey,
            Ops::PacketLength, Ops::Seal,   Ops::Open,   Ops::Wipe,   sizeof(Mode)};
}

}  // namespace

const AeadDescriptor kAeadChaCha20Poly1305 =
    Describe<ChaChaPoly>({"chacha20-poly1305@openssh.com", 64, 0, 8, 256, "ChaCha20-Poly1305"});
const AeadDescriptor kAeadAes128Gcm =
    Describe<AesGcm<16>>({"aes128-gcm@openssh.com", 16, 12, 16, 128, "AES-128-GCM"});
const AeadDescriptor kAeadAes256Gcm =
    Describe<AesGcm<32>>({"aes256-gcm@openssh.com", 32, 12, 16, 256, "AES-256-GCM"});

namespace {

const std::array<const AeadDescriptor*, 3> kAllAeads = {&kAeadChaCha20Poly1305, &kAeadAes128Gcm,
                                                        &kAeadAes256Gcm};

}  // namespace

std::span<const AeadDescriptor* const> AeadList() {
    return kAllAeads;
}

const AeadDescriptor* FindAead(std::string_view sshName) {
    for (const AeadDescriptor* aead : kAllAeads) {
        if (sshName == aead->sshName) return aead;
    }
    return nullptr;
}
