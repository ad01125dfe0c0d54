#include "crypto/hmac.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "crypto/mac.h"
#include "tests/crypto/crypto_test_support.h"

namespace {

std::string HmacHex(const HashDescriptor& hash, const Bytes& key, const Bytes& data) {
    std::uint8_t mac[kMaxHashDigestLength];
    Hmac(hash, key.data(), key.size(), data.data(), data.size(), mac);
    return ToHex(mac, hash.digestLength);
}

class HmacPaths : public BothPaths {};

// RFC 2202 (SHA-1, MD5) and RFC 4231 cases 1, 2 and 6 (SHA-256, SHA-512): a short key,
// a key shorter than the digest and a key longer than the block, which is hashed first.
TEST_P(HmacPaths, PublishedVectors) {
    const Bytes hiThere = Text("Hi There"), jefe = Text("Jefe"),
                what = Text("what do ya want for nothing?"),
                large = Text("Test Using Larger Than Block-Size Key - Hash Key First");
    const struct {
        const HashDescriptor* hash;
        Bytes key;
        const Bytes* data;
        const char* mac;
    } vectors[] = {
        {&kHashSha1, Bytes(20, 0x0b), &hiThere, "b617318655057264e28bc0b6fb378c8ef146be00"},
        {&kHashSha1, jefe, &what, "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {&kHashSha1, Bytes(80, 0xaa), &large, "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {&kHashMd5, Bytes(16, 0x0b), &hiThere, "9294727a3638bb1c13f48ef8158bfc9d"},
        {&kHashMd5, jefe, &what, "750c783e6ab0b503eaa86e310a5db738"},
        {&kHashMd5, Bytes(80, 0xaa), &large, "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {&kHashSha256, Bytes(20, 0x0b), &hiThere,
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {&kHashSha256, jefe, &what,
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {&kHashSha256, Bytes(131, 0xaa), &large,
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {&kHashSha512, Bytes(20, 0x0b), &hiThere,
         "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274ea"
         "ea3f4e4be9d914eeb61f1702e696c203a126854"},
        {&kHashSha512, jefe, &what,
         "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f"
         "8f0e6fdcaeab1a34d4a6b4b636e070a38bce737"},
        {&kHashSha512, Bytes(131, 0xaa), &large,
         "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2215"
         "d6a1e5295e64f73f63f0aec8b915a985d786598"},
    };
    for (const auto& v : vectors)
        EXPECT_EQ(HmacHex(*v.hash, v.key, *v.data), v.mac)
            << v.hash->name << " key of " << v.key.size();
}

Bytes SequencedPacket(std::uint32_t sequence, const Bytes& packet) {
    Bytes out(4 + packet.size());
    for (int i = 0; i < 4; ++i)
        out[i] = std::uint8_t(sequence >> (24 - 8 * i));
    for (std::size_t i = 0; i < packet.size(); ++i)
        out[4 + i] = packet[i];
    return out;
}

// Tag from a MAC descriptor, with the tag room after the packet checked for overruns.
Bytes Tag(const MacDescriptor& mac, void* context, std::uint32_t sequence, const Bytes& packet) {
    Bytes buffer = packet;
    buffer.resize(packet.size() + mac.tagLength);
    mac.generate(context, sequence, buffer.data(), packet.size());
    return Bytes(buffer.begin() + packet.size(), buffer.end());
}

struct MacReference {
    const MacDescriptor* mac;
    const EVP_MD* (*md)();
    std::size_t usedKeyBytes;
};

// Tags over sequence number and packet equal libcrypto's HMAC, with the key context reused
// across many packets as the transport does: each packet hashes on from copies of the
// keyed states, so a hash state that cannot be copied mid-message fails here.
TEST_P(HmacPaths, MacDescriptorsAgreeWithLibcrypto) {
    const MacReference references[] = {
        {&kMacHmacSha1, EVP_sha1, 20},
        {&kMacHmacSha1_96, EVP_sha1, 20},
        {&kMacHmacMd5, EVP_md5, 16},
        {&kMacHmacSha256, EVP_sha256, 32},
        {&kMacHmacSha512, EVP_sha512, 64},
        {&kMacHmacSha1BugCompatible, EVP_sha1, 16},
        {&kMacHmacSha1_96BugCompatible, EVP_sha1, 16},
    };
    TestRandom random(3);
    for (const MacReference& reference : references) {
        const MacDescriptor& mac = *reference.mac;
        for (int keyRound = 0; keyRound < kDifferentialRounds / 50; ++keyRound) {
            const Bytes key = random.Fill(mac.keyLength);
            void* context = mac.createContext();
            mac.setKey(context, key.data());
            for (int packetRound = 0; packetRound < 50; ++packetRound) {
                const auto sequence = static_cast<std::uint32_t>(random.Below(1u << 31) * 2 + 1);
                const Bytes packet = random.Fill(random.Below(600));
                const Bytes input = SequencedPacket(sequence, packet);
                std::uint8_t theirs[EVP_MAX_MD_SIZE];
                unsigned int theirLength = 0;
                HMAC(reference.md(), key.data(), static_cast<int>(reference.usedKeyBytes),
                     input.data(), input.size(), theirs, &theirLength);
                ASSERT_EQ(ToHex(Tag(mac, context, sequence, packet)), ToHex(theirs, mac.tagLength))
                    << mac.textName;
            }
            mac.freeContext(context);
        }
    }
}

INSTANTIATE_BOTH_PATHS(HmacPaths);

// Wiping a key leaves neither the saved inner and outer states nor a keyed
// descriptor context behind.
TEST(MacDescriptors, WipeLeavesNoKeyedState) {
    HmacKeyState key;
    const Bytes secret(20, 0x5a);
    HmacSetKey(key, kHashSha1, secret.data(), secret.size());
    HmacWipe(key);
    EXPECT_TRUE(AllZero(&key, sizeof key));
    for (const MacDescriptor* mac : {&kMacHmacSha1, &kMacHmacMd5, &kMacHmacSha256}) {
        void* context = mac->createContext();
        const Bytes macKey(mac->keyLength, 0x77);
        mac->setKey(context, macKey.data());
        mac->wipeContext(context);
        EXPECT_TRUE(AllZero(context, mac->contextSize)) << mac->textName;
        mac->freeContext(context);
    }
}

}  // namespace
