#include "crypto/cipher.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "crypto/aes.h"
#include "crypto/arcfour.h"
#include "crypto/blowfish.h"
#include "crypto/des.h"
#include "platform/wipe.h"

namespace {

// Each mode is a context type with SetKey, SetIv, Encrypt and Decrypt; the descriptor
// functions below are generated from it.

// A key schedule and one IV or counter block that the mode functions carry on.
template <class Key, std::size_t IvLength, auto SetKeyOf, auto EncryptIn, auto DecryptIn>
struct ChainedMode {
    Key key;
    std::uint8_t iv[IvLength];
    void SetKey(const std::uint8_t* k) { SetKeyOf(key, k); }
    void SetIv(const std::uint8_t* v) { std::memcpy(iv, v, sizeof iv); }
    void Encrypt(std::uint8_t* d, std::size_t n) { EncryptIn(key, iv, d, n); }
    void Decrypt(std::uint8_t* d, std::size_t n) { DecryptIn(key, iv, d, n); }
};

template <std::size_t KeyLength>
void AesKeyOf(AesKey& key, const std::uint8_t* bytes) {
    static_assert(KeyLength == 16 || KeyLength == 24 || KeyLength == 32);
    AesSetKey(key, bytes, KeyLength);
}
template <std::size_t KeyLength>
void BlowfishKeyOf(BlowfishKey& key, const std::uint8_t* bytes) {
    static_assert(KeyLength >= 1 && KeyLength <= kBlowfishMaxKeyLength);
    BlowfishSetKey(key, bytes, KeyLength);
}
template <WordOrder Order>
void BlowfishCbcEncryptIn(const BlowfishKey& key, std::uint8_t* iv, std::uint8_t* d,
                          std::size_t n) {
    BlowfishCbcEncrypt(key, Order, iv, d, n);
}
template <WordOrder Order>
void BlowfishCbcDecryptIn(const BlowfishKey& key, std::uint8_t* iv, std::uint8_t* d,
                          std::size_t n) {
    BlowfishCbcDecrypt(key, Order, iv, d, n);
}

// Counter mode encrypts and decrypts alike.
template <std::size_t KeyLength>
using AesCtr = ChainedMode<AesKey, kAesBlockLength, AesKeyOf<KeyLength>, AesSdctr, AesSdctr>;
template <std::size_t KeyLength>
using AesCbc =
    ChainedMode<AesKey, kAesBlockLength, AesKeyOf<KeyLength>, AesCbcEncrypt, AesCbcDecrypt>;
template <std::size_t KeyLength>
using BlowfishCtr =
    ChainedMode<BlowfishKey, 8, BlowfishKeyOf<KeyLength>, BlowfishSdctr, BlowfishSdctr>;
template <std::size_t KeyLength, WordOrder Order>
using BlowfishCbc = ChainedMode<BlowfishKey, 8, BlowfishKeyOf<KeyLength>,
                                BlowfishCbcEncryptIn<Order>, BlowfishCbcDecryptIn<Order>>;
using TripleDesCtr = ChainedMode<TripleDesKey, 8, TripleDesSetKey, TripleDesSdctr, TripleDesSdctr>;
using TripleDesCbc =
    ChainedMode<TripleDesKey, 8, TripleDesSetKey, TripleDesCbcEncrypt, TripleDesCbcDecrypt>;
using DesCbc = ChainedMode<DesKey, 8, DesSetKey, DesCbcEncrypt, DesCbcDecrypt>;

struct TripleDesInner {
    TripleDesInnerCbc state;
    void SetKey(const std::uint8_t* k) { TripleDesSetKey(state.key, k); }
    // One IV starts all three chains (SSH-1 uses zeros).
    void SetIv(const std::uint8_t* v) {
        for (auto& iv : state.iv)
            std::memcpy(iv, v, sizeof iv);
    }
    void Encrypt(std::uint8_t* d, std::size_t n) { TripleDesInnerCbcEncrypt(state, d, n); }
    void Decrypt(std::uint8_t* d, std::size_t n) { TripleDesInnerCbcDecrypt(state, d, n); }
};

template <std::size_t KeyLength>
struct Arcfour {
    ArcfourState state;
    void SetKey(const std::uint8_t* k) { ArcfourSetKey(state, k, KeyLength); }
    void SetIv(const std::uint8_t*) {}
    void Encrypt(std::uint8_t* d, std::size_t n) { ArcfourCrypt(state, d, n); }
    void Decrypt(std::uint8_t* d, std::size_t n) { ArcfourCrypt(state, d, n); }
};

template <typename Mode>
struct ModeOps {
    static void* Create() { return new Mode{}; }
    static void Wipe(void* context) { SecureWipeObject(*static_cast<Mode*>(context)); }
    static void Free(void* context) {
        Wipe(context);
        delete static_cast<Mode*>(context);
    }
    static void SetIv(void* c, const std::uint8_t* iv) { static_cast<Mode*>(c)->SetIv(iv); }
    static void SetKey(void* c, const std::uint8_t* key) { static_cast<Mode*>(c)->SetKey(key); }
    static void Encrypt(void* c, std::uint8_t* data, std::size_t length) {
        static_cast<Mode*>(c)->Encrypt(data, length);
    }
    static void Decrypt(void* c, std::uint8_t* data, std::size_t length) {
        static_cast<Mode*>(c)->Decrypt(data, length);
    }
};

struct CipherTraits {
    const char* sshName;
    CipherFamily family;
    std::size_t blockSize;
    int keyBits;
    bool cbc;
    const char* textName;
    std::size_t keyLength;
};

template <typename Mode>
constexpr CipherDescriptor Describe(const CipherTraits& t) {
    using Ops = ModeOps<Mode>;
    return {Ops::Create,  Ops::Free,  Ops::SetIv,  Ops::SetKey, Ops::Encrypt,
            Ops::Decrypt, t.sshName,  t.family,    t.blockSize, t.keyBits,
            t.cbc,        t.textName, t.keyLength, Ops::Wipe,   sizeof(Mode)};
}

constexpr CipherFamily kAes = CipherFamily::Aes;
constexpr CipherFamily kBlowfish = CipherFamily::Blowfish;
constexpr CipherFamily k3des = CipherFamily::TripleDes;
constexpr CipherFamily kDes = CipherFamily::SingleDes;
constexpr CipherFamily kArcfour = CipherFamily::Arcfour;
constexpr WordOrder kBig = WordOrder::BigEndian;

}  // namespace

const CipherDescriptor kCipherAes256Ctr =
    Describe<AesCtr<32>>({"aes256-ctr", kAes, 16, 256, false, "AES-256 SDCTR", 32});
const CipherDescriptor kCipherAes256Cbc =
    Describe<AesCbc<32>>({"aes256-cbc", kAes, 16, 256, true, "AES-256 CBC", 32});
const CipherDescriptor kCipherAes256CbcRijndaelAlias =
    Describe<AesCbc<32>>({"rijndael-cbc@lysator.liu.se", kAes, 16, 256, true, "AES-256 CBC", 32});
const CipherDescriptor kCipherAes192Ctr =
    Describe<AesCtr<24>>({"aes192-ctr", kAes, 16, 192, false, "AES-192 SDCTR", 24});
const CipherDescriptor kCipherAes192Cbc =
    Describe<AesCbc<24>>({"aes192-cbc", kAes, 16, 192, true, "AES-192 CBC", 24});
const CipherDescriptor kCipherAes128Ctr =
    Describe<AesCtr<16>>({"aes128-ctr", kAes, 16, 128, false, "AES-128 SDCTR", 16});
const CipherDescriptor kCipherAes128Cbc =
    Describe<AesCbc<16>>({"aes128-cbc", kAes, 16, 128, true, "AES-128 CBC", 16});
const CipherDescriptor kCipherBlowfishCtr =
    Describe<BlowfishCtr<32>>({"blowfish-ctr", kBlowfish, 8, 256, false, "Blowfish-256 SDCTR", 32});
const CipherDescriptor kCipherBlowfishCbc = Describe<BlowfishCbc<16, kBig>>(
    {"blowfish-cbc", kBlowfish, 8, 128, true, "Blowfish-128 CBC", 16});
const CipherDescriptor kCipherTripleDesCtr =
    Describe<TripleDesCtr>({"3des-ctr", k3des, 8, 168, false, "triple-DES SDCTR", 24});
const CipherDescriptor kCipherTripleDesCbc =
    Describe<TripleDesCbc>({"3des-cbc", k3des, 8, 168, true, "triple-DES CBC", 24});
const CipherDescriptor kCipherArcfour256 =
    Describe<Arcfour<32>>({"arcfour256", kArcfour, 1, 256, false, "Arcfour-256", 32});
const CipherDescriptor kCipherArcfour128 =
    Describe<Arcfour<16>>({"arcfour128", kArcfour, 1, 128, false, "Arcfour-128", 16});
const CipherDescriptor kCipherDesCbc =
    Describe<DesCbc>({"des-cbc", kDes, 8, 56, true, "single-DES CBC", 8});
const CipherDescriptor kCipherDesCbcAlias =
    Describe<DesCbc>({"des-cbc@ssh.com", kDes, 8, 56, true, "single-DES CBC", 8});
const CipherDescriptor kCipherSsh1TripleDes =
    Describe<TripleDesInner>({"3des", k3des, 8, 168, true, "triple-DES inner-CBC", 24});
// SSH-1 keys Blowfish with the whole 32-byte session key and reads blocks little-endian;
// its strength is shown as 128 bits.
const CipherDescriptor kCipherSsh1Blowfish = Describe<BlowfishCbc<32, WordOrder::LittleEndian>>(
    {"blowfish", kBlowfish, 8, 128, true, "Blowfish-128 CBC", 32});
const CipherDescriptor kCipherSsh1Des =
    Describe<DesCbc>({"des", kDes, 8, 56, true, "single-DES CBC", 8});

namespace {

const std::array<const CipherDescriptor*, 15> kAllCiphers = {
    &kCipherAes256Ctr,    &kCipherAes256Cbc,    &kCipherAes256CbcRijndaelAlias,
    &kCipherAes192Ctr,    &kCipherAes192Cbc,    &kCipherAes128Ctr,
    &kCipherAes128Cbc,    &kCipherBlowfishCtr,  &kCipherBlowfishCbc,
    &kCipherTripleDesCtr, &kCipherTripleDesCbc, &kCipherArcfour256,
    &kCipherArcfour128,   &kCipherDesCbc,       &kCipherDesCbcAlias};

struct Ssh1Cipher {
    int number;
    const CipherDescriptor* cipher;
};
const Ssh1Cipher kSsh1Ciphers[] = {
    {3, &kCipherSsh1TripleDes}, {6, &kCipherSsh1Blowfish}, {2, &kCipherSsh1Des}};

}  // namespace

std::span<const CipherDescriptor* const> CipherList() {
    return kAllCiphers;
}

// The families stand in kAllCiphers one after the other, each in its own order.
std::span<const CipherDescriptor* const> CipherFamilyList(CipherFamily family) {
    auto inFamily = [family](const CipherDescriptor* c) { return c->family == family; };
    const auto first = std::find_if(kAllCiphers.begin(), kAllCiphers.end(), inFamily);
    const auto end = std::find_if_not(first, kAllCiphers.end(), inFamily);
    return {first, end};
}

const CipherDescriptor* FindCipher(std::string_view sshName) {
    for (const CipherDescriptor* cipher : kAllCiphers) {
        if (sshName == cipher->sshName) return cipher;
    }
    return nullptr;
}

const CipherDescriptor* FindSsh1Cipher(int number) {
    for (const Ssh1Cipher& entry : kSsh1Ciphers) {
        if (entry.number == number) return entry.cipher;
    }
    return nullptr;
}
