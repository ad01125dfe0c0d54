#include "crypto/mac.h"

#include <array>

#include "crypto/byte_order.h"
#include "crypto/hmac.h"
#include "platform/wipe.h"

namespace {

struct HmacVariant {
    const HashDescriptor* hash;
    std::size_t keyLength;  // bytes of derived key material that reach the HMAC key setup
};

struct MacContext {
    const HmacVariant* variant;
    HmacKeyState key;
};

void TagOf(MacContext& context, std::uint32_t sequence, const std::uint8_t* packet,
           std::size_t length, std::uint8_t* tag) {
    std::uint8_t sequenceBytes[4];
    StoreBe32(sequenceBytes, sequence);
    HmacMessage message;
    HmacBegin(context.key, message);
    HmacAdd(message, sequenceBytes, sizeof sequenceBytes);
    HmacAdd(message, packet, length);
    HmacEnd(message, tag);
}

template <const HmacVariant& Variant>
void* CreateMac() {
    auto* context = new MacContext{};
    context->variant = &Variant;
    return context;
}

void WipeMac(void* context) {
    SecureWipeObject(*static_cast<MacContext*>(context));
}

void FreeMac(void* context) {
    WipeMac(context);
    delete static_cast<MacContext*>(context);
}

void SetMacKey(void* context, const std::uint8_t* key) {
    auto* mac = static_cast<MacContext*>(context);
    HmacSetKey(mac->key, *mac->variant->hash, key, mac->variant->keyLength);
}

template <std::size_t TagLength>
void GenerateMac(void* context, std::uint32_t sequence, std::uint8_t* packet, std::size_t length) {
    std::uint8_t tag[kMaxHashDigestLength];
    TagOf(*static_cast<MacContext*>(context), sequence, packet, length, tag);
    for (std::size_t i = 0; i < TagLength; ++i)
        packet[length + i] = tag[i];
    SecureWipeObject(tag);
}

template <std::size_t TagLength>
bool VerifyMac(void* context, std::uint32_t sequence, const std::uint8_t* packet,
               std::size_t length) {
    std::uint8_t tag[kMaxHashDigestLength];
    TagOf(*static_cast<MacContext*>(context), sequence, packet, length, tag);
    std::uint8_t difference = 0;
    for (std::size_t i = 0; i < TagLength; ++i)
        difference |= tag[i] ^ packet[length + i];
    SecureWipeObject(tag);
    return difference == 0;
}

template <const HmacVariant& Variant, std::size_t TagLength>
constexpr MacDescriptor DescribeMac(const char* sshName, const char* textName,
                                    std::size_t derivedKeyLength = Variant.keyLength) {
    return {CreateMac<Variant>,
            FreeMac,
            SetMacKey,
            GenerateMac<TagLength>,
            VerifyMac<TagLength>,
            sshName,
            TagLength,
            derivedKeyLength,
            textName,
            WipeMac,
            sizeof(MacContext)};
}

constexpr HmacVariant kSha256Key32{&kHashSha256, 32};
constexpr HmacVariant kSha512Key64{&kHashSha512, 64};
constexpr HmacVariant kSha1Key20{&kHashSha1, 20};
constexpr HmacVariant kSha1Key16{&kHashSha1, 16};
constexpr HmacVariant kMd5Key16{&kHashMd5, 16};

}  // namespace

const MacDescriptor kMacHmacSha256 = DescribeMac<kSha256Key32, 32>("hmac-sha2-256", "HMAC-SHA-256");
const MacDescriptor kMacHmacSha512 = DescribeMac<kSha512Key64, 64>("hmac-sha2-512", "HMAC-SHA-512");
const MacDescriptor kMacHmacSha1 = DescribeMac<kSha1Key20, 20>("hmac-sha1", "HMAC-SHA1");
const MacDescriptor kMacHmacSha1_96 = DescribeMac<kSha1Key20, 12>("hmac-sha1-96", "HMAC-SHA1-96");
const MacDescriptor kMacHmacMd5 = DescribeMac<kMd5Key16, 16>("hmac-md5", "HMAC-MD5");
// The transport still derives 20 key bytes; only their first 16 reach the HMAC key setup.
const MacDescriptor kMacHmacSha1BugCompatible =
    DescribeMac<kSha1Key16, 20>("hmac-sha1", "bug-compatible HMAC-SHA1", 20);
const MacDescriptor kMacHmacSha1_96BugCompatible =
    DescribeMac<kSha1Key16, 12>("hmac-sha1-96", "bug-compatible HMAC-SHA1-96", 20);

namespace {

const std::array<const MacDescriptor*, 4> kStandardMacs = {&kMacHmacSha1, &kMacHmacSha1_96,
                                                           &kMacHmacMd5, &kMacHmacSha512};
const std::array<const MacDescriptor*, 3> kBugCompatibleMacs = {
    &kMacHmacSha1BugCompatible, &kMacHmacSha1_96BugCompatible, &kMacHmacMd5};
// Known by name but not offered by default.
const std::array<const MacDescriptor*, 1> kExtraMacs = {&kMacHmacSha256};

}  // namespace

std::span<const MacDescriptor* const> MacList() {
    return kStandardMacs;
}
std::span<const MacDescriptor* const> BugCompatibleMacList() {
    return kBugCompatibleMacs;
}

const MacDescriptor* FindMac(std::string_view sshName, bool bugCompatible) {
    for (const MacDescriptor* mac : bugCompatible ? BugCompatibleMacList() : MacList()) {
        if (sshName == mac->sshName) return mac;
    }
    for (const MacDescriptor* mac : kExtraMacs) {
        if (sshName == mac->sshName) return mac;
    }
    return nullptr;
}
