// The SSH authenticated ciphers against outputs built independently from libcrypto's raw
// ChaCha20, Poly1305 and AES-GCM, with the packet layouts of the transport.
#include <openssl/evp.h>

#include <cstring>

#include "crypto/aead.h"
#include "tests/crypto/crypto_test_support.h"

namespace {

// EVP_chacha20's IV is the 32-bit little-endian counter and then 12 nonce bytes; the SSH
// layout is a 64-bit little-endian counter and the sequence number big-endian, which is
// the same words for counters below 2^32.
Bytes ChaChaStream(const Bytes& key, std::uint32_t counter, std::uint32_t sequence,
                   const Bytes& input) {
    Bytes iv(16, 0);
    for (int i = 0; i < 4; ++i) {
        iv[i] = std::uint8_t(counter >> (8 * i));
        iv[15 - i] = std::uint8_t(sequence >> (8 * i));
    }
    return LibcryptoCipher(EVP_chacha20(), key, iv, input);
}

// The sealed packet and tag as OpenSSH's construction defines them.
Bytes ReferenceChaChaPoly(const Bytes& key, std::uint32_t sequence, const Bytes& packet) {
    const Bytes mainKey(key.begin(), key.begin() + 32), headerKey(key.begin() + 32, key.end());
    Bytes out = ChaChaStream(headerKey, 0, sequence, Bytes(packet.begin(), packet.begin() + 4));
    const Bytes body = ChaChaStream(mainKey, 1, sequence, Bytes(packet.begin() + 4, packet.end()));
    out.insert(out.end(), body.begin(), body.end());
    const Bytes polyKey = ChaChaStream(mainKey, 0, sequence, Bytes(32, 0));
    const Bytes tag = LibcryptoPoly1305(polyKey, out);
    out.insert(out.end(), tag.begin(), tag.end());
    return out;
}

// RFC 5647: the length field is the additional data, the rest is encrypted.
Bytes ReferenceGcm(const Bytes& key, const Bytes& iv, const Bytes& packet) {
    Bytes out(packet.begin(), packet.begin() + 4);
    const Bytes sealed = LibcryptoGcm(key, iv, out, Bytes(packet.begin() + 4, packet.end()));
    out.insert(out.end(), sealed.begin(), sealed.end());
    return out;
}

void StepInvocationCounter(Bytes& iv) {
    for (std::size_t i = 12; i-- > 4;) {
        if (++iv[i] != 0) break;
    }
}

// A plain packet of the given total length (length field included), as the transport
// builds it: the length field counts the bytes after it.
Bytes PlainPacket(TestRandom& random, std::size_t length) {
    Bytes packet = random.Fill(length);
    const std::uint32_t field = std::uint32_t(length - 4);
    for (int i = 0; i < 4; ++i)
        packet[i] = std::uint8_t(field >> (24 - 8 * i));
    return packet;
}

struct Context {
    const AeadDescriptor* aead;
    void* context;
    explicit Context(const AeadDescriptor* a) : aead(a), context(a->createContext()) {}
    ~Context() { aead->freeContext(context); }
};

class Aead : public BothPaths {};

// Several packets per key, so the GCM counter (started just below a byte carry) and the
// sequence numbers move as on a connection.
TEST_P(Aead, SealMatchesReferenceAndOpens) {
    TestRandom random(0x5eed);
    for (const AeadDescriptor* aead : AeadList()) {
        const bool gcm = aead->ivLength != 0;
        for (int connection = 0; connection < kDifferentialRounds / 100; ++connection) {
            const Bytes key = random.Fill(aead->keyLength);
            Bytes iv = random.Fill(aead->ivLength);
            if (gcm) iv[11] = 0xFE;
            Context sender(aead), receiver(aead);
            aead->setKey(sender.context, key.data(), iv.data());
            aead->setKey(receiver.context, key.data(), iv.data());
            std::uint32_t sequence = connection == 1 ? 0xFFFFFFFE : std::uint32_t(random.Below(9));
            for (int n = 0; n < 6; ++n, ++sequence) {
                const std::size_t length = 4 + aead->blockSize * (1 + random.Below(200));
                const Bytes plain = PlainPacket(random, length);
                Bytes packet = plain;
                packet.resize(length + aead->tagLength);
                aead->seal(sender.context, sequence, packet.data(), length);
                const Bytes expected =
                    gcm ? ReferenceGcm(key, iv, plain) : ReferenceChaChaPoly(key, sequence, plain);
                ASSERT_EQ(ToHex(packet), ToHex(expected)) << aead->sshName << " " << n;

                EXPECT_EQ(aead->packetLength(receiver.context, sequence, packet.data()),
                          length - 4);
                ASSERT_TRUE(aead->open(receiver.context, sequence, packet.data(), length));
                EXPECT_EQ(Bytes(packet.begin(), packet.begin() + long(length)), plain);
                if (gcm) StepInvocationCounter(iv);
            }
        }
    }
}

// A flipped bit anywhere (length field, body, tag) is refused and leaves both the bytes
// and the state as they were: the genuine packet still opens afterwards.
TEST_P(Aead, AnyFlippedBitIsRefused) {
    TestRandom random(0xb17);
    for (const AeadDescriptor* aead : AeadList()) {
        const Bytes key = random.Fill(aead->keyLength), iv = random.Fill(aead->ivLength);
        Context sender(aead), receiver(aead);
        aead->setKey(sender.context, key.data(), iv.data());
        aead->setKey(receiver.context, key.data(), iv.data());
        const std::size_t length = 4 + 3 * aead->blockSize;
        Bytes sealed = PlainPacket(random, length);
        const Bytes plain = sealed;
        sealed.resize(length + aead->tagLength);
        aead->seal(sender.context, 7, sealed.data(), length);

        for (std::size_t bit = 0; bit < 8 * sealed.size(); ++bit) {
            Bytes forged = sealed;
            forged[bit / 8] ^= std::uint8_t(1 << (bit % 8));
            const Bytes before = forged;
            ASSERT_FALSE(aead->open(receiver.context, 7, forged.data(), length))
                << aead->sshName << " bit " << bit;
            ASSERT_EQ(forged, before) << aead->sshName << " bit " << bit;
        }
        if (aead->ivLength == 0) {
            // GCM ignores the sequence number; its invocation counter plays that part.
            EXPECT_FALSE(aead->open(receiver.context, 8, Bytes(sealed).data(), length))
                << "the wrong sequence number";
        }
        ASSERT_TRUE(aead->open(receiver.context, 7, sealed.data(), length)) << aead->sshName;
        EXPECT_EQ(Bytes(sealed.begin(), sealed.begin() + long(length)), plain);
    }
}

INSTANTIATE_BOTH_PATHS(Aead);

}  // namespace
