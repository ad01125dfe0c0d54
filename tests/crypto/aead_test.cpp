// ChaCha20, Poly1305 and AES-GCM: published vectors on both paths; and the SSH
// authenticated ciphers against outputs built independently from libcrypto's raw ChaCha20,
// Poly1305 and AES-GCM, with the packet layouts of the transport (tampered packets are
// tests/ssh/packet_test's).
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "crypto/aead.h"
#include "crypto/byte_order.h"
#include "crypto/chacha20.h"
#include "crypto/gcm.h"
#include "crypto/poly1305.h"
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

INSTANTIATE_BOTH_PATHS(Aead);

const char kSunscreen[] =
    "Ladies and Gentlemen of the class of '99: If I could offer you only one tip for the "
    "future, sunscreen would be it.";

Bytes Sequence(std::uint8_t first, std::size_t length) {
    Bytes out(length);
    for (std::size_t i = 0; i < length; ++i)
        out[i] = static_cast<std::uint8_t>(first + i);
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

class ChaCha20Paths : public BothPaths {};

// RFC 8439 sections 2.3.2 and 2.4.2, on the four- and eight-lane paths.
TEST_P(ChaCha20Paths, Rfc8439Vectors) {
    const Bytes key = Sequence(0, 32);
    ChaCha20 cipher;
    ChaCha20Init(cipher, key.data(), 1, FromHex("000000090000004a00000000").data());
    Bytes block(64);
    ChaCha20Block(cipher, block.data());
    EXPECT_EQ(ToHex(block),
              "10f1e7e4d13b5915500fdd1fa32071c4c7d1f4c733c068030422aa9ac3d46c4e"
              "d2826446079faa0914c2d705d98b02a2b5129cd1de164eb9cbd083e8a2503c4e");

    Bytes text = Text(kSunscreen);
    ChaCha20Init(cipher, key.data(), 1, FromHex("000000000000004a00000000").data());
    ChaCha20Xor(cipher, text.data(), text.size());
    EXPECT_EQ(ToHex(text),
              "6e2e359a2568f98041ba0728dd0d6981e97e7aec1d4360c20a27afccfd9fae0b"
              "f91b65c5524733ab8f593dabcd62b3571639d624e65152ab8f530c359f0861d8"
              "07ca0dbf500d6a6156a38e088a22b65e52bc514d16ccf806818ce91ab7793736"
              "5af90bbf74a35be6b40b8eedf2785e42874d");
}

// A long stream in pieces of whole blocks against libcrypto's ChaCha20, crossing the
// four-, eight- and sixteen-lane strides.
TEST_P(ChaCha20Paths, StreamMatchesLibcrypto) {
    TestRandom random(20);
    const Bytes key = random.Fill(32), nonce = random.Fill(12), plain = random.Fill(3000);
    Bytes iv(16);
    StoreLe32(iv.data(), 1);
    std::copy(nonce.begin(), nonce.end(), iv.begin() + 4);
    const Bytes expected = LibcryptoCipher(EVP_chacha20(), key, iv, plain);

    // As chosen, and with the widest path withheld, so the eight-lane one runs too on
    // processors that would pick sixteen.
    for (bool withhold : {false, true}) {
        ChaCha20 cipher;
        ChaCha20Init(cipher, key.data(), 1, nonce.data());
        EXPECT_EQ(cipher.avx2, GetParam() == CryptoPath::Fast && CpuHasAvx2());
        EXPECT_EQ(cipher.avx512, GetParam() == CryptoPath::Fast && CpuHasAvx512());
        if (withhold) cipher.avx512 = false;
        Bytes ours = plain;
        std::size_t at = 0;
        for (std::size_t piece : {64, 576, 1024, 128}) {
            ChaCha20Xor(cipher, ours.data() + at, piece);
            at += piece;
        }
        ChaCha20Xor(cipher, ours.data() + at, ours.size() - at);
        EXPECT_EQ(ours, expected) << "widest path withheld: " << withhold;
    }
}

INSTANTIATE_BOTH_PATHS(ChaCha20Paths);

TEST(Poly1305, Rfc8439Vector) {
    const Bytes key = FromHex("85d6be7857556d337f4452fe42d506a80103808afb0db2fd4abff6af4149f51b");
    const Bytes message = Text("Cryptographic Forum Research Group");
    Bytes tag(16);
    Poly1305Mac(key.data(), message.data(), message.size(), tag.data());
    EXPECT_EQ(ToHex(tag), "a8061dc1305136c6c22b8baf0c0127a9");

    // The same through updates of every split, which exercises the buffering.
    for (std::size_t split = 0; split <= message.size(); ++split) {
        Poly1305 mac;
        Poly1305Init(mac, key.data());
        Poly1305Update(mac, message.data(), split);
        Poly1305Update(mac, message.data() + split, message.size() - split);
        Bytes piecewise(16);
        Poly1305Final(mac, piecewise.data());
        EXPECT_EQ(piecewise, tag) << split;
    }
}

// Accumulator values next to 2^130 - 5, where the final reduction must subtract p once
// (RFC 8439 appendix A.3 vectors 6 and 10's shapes): checked against libcrypto.
class Poly1305Paths : public BothPaths {};

// On both paths: the four-lane one takes runs of 16 blocks and more.
TEST_P(Poly1305Paths, EdgeValuesMatchLibcrypto) {
    const Bytes ones(16, 0xFF), zeros(16, 0);
    const struct {
        Bytes key, message;
    } cases[] = {
        {Cat({FromHex("02"), Bytes(31, 0)}), ones},
        {Cat({FromHex("02"), Bytes(15, 0), ones}), ones},
        {Cat({FromHex("01"), Bytes(31, 0)}),
         Cat({ones, FromHex("fbfefefefefefefefefefefefefefefe"), FromHex("01"), Bytes(15, 0)})},
        {Cat({FromHex("01"), Bytes(31, 0)}), FromHex("fdffffffffffffffffffffffffffffff")},
        {Cat({FromHex("02"), Bytes(31, 0)}),
         Cat({FromHex("fdffffffffffffffffffffffffffffff"), zeros})},
    };
    for (const auto& c : cases) {
        Bytes tag(16);
        Poly1305Mac(c.key.data(), c.message.data(), c.message.size(), tag.data());
        EXPECT_EQ(tag, LibcryptoPoly1305(c.key, c.message)) << ToHex(c.message);
    }
    // Every limb at its largest, over lengths around the four-lane strides.
    for (std::size_t length : {255, 256, 257, 320, 1024, 1040, 4099}) {
        const Bytes key(32, 0xFF), message(length, 0xFF);
        Bytes tag(16);
        Poly1305Mac(key.data(), message.data(), message.size(), tag.data());
        EXPECT_EQ(tag, LibcryptoPoly1305(key, message)) << length;
    }
}

INSTANTIATE_BOTH_PATHS(Poly1305Paths);

class Gcm : public BothPaths {};

// The test cases of the original GCM paper: 2 and 4 (AES-128), 16 (AES-256, with
// additional data and a partial last block).
TEST_P(Gcm, PublishedVectors) {
    const char* p4 =
        "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a72"
        "1c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39";
    const char* k3 = "feffe9928665731c6d6a8f9467308308";
    const char* k15 = "feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308";
    const char* iv3 = "cafebabefacedbaddecaf888";
    const char* a4 = "feedfacedeadbeeffeedfacedeadbeefabaddad2";
    const struct {
        int number;
        const char *key, *iv, *aad, *plain, *cipher, *tag;
    } cases[] = {
        {2, "00000000000000000000000000000000", "000000000000000000000000", "",
         "00000000000000000000000000000000", "0388dace60b6a392f328c2b971b2fe78",
         "ab6e47d42cec13bdf53a67b21257bddf"},
        {4, k3, iv3, a4, p4,
         "42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e"
         "21d514b25466931c7d8f6a5aac84aa051ba30b396a0aac973d58e091",
         "5bc94fbc3221a5db94fae95ae7121a47"},
        {16, k15, iv3, a4, p4,
         "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa"
         "8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a0abcc9f662",
         "76fc6ece0f4e1768cddf8853bb2d551b"},
    };
    for (const auto& c : cases) {
        const Bytes key = FromHex(c.key), iv = FromHex(c.iv), aad = FromHex(c.aad);
        GcmKey gcm;
        GcmSetKey(gcm, key.data(), key.size());
        EXPECT_EQ(gcm.pclmul, GetParam() == CryptoPath::Fast && CpuHasPclmul());
        Bytes data = FromHex(c.plain);
        Bytes tag(16);
        GcmEncrypt(gcm, iv.data(), aad.data(), aad.size(), data.data(), data.size(), tag.data());
        EXPECT_EQ(ToHex(data), c.cipher) << c.number;
        EXPECT_EQ(ToHex(tag), c.tag) << c.number;

        EXPECT_TRUE(GcmDecrypt(gcm, iv.data(), aad.data(), aad.size(), data.data(), data.size(),
                               tag.data()));
        EXPECT_EQ(ToHex(data), c.plain) << c.number;
        tag[15] ^= 1;
        const Bytes before = data;
        EXPECT_FALSE(GcmDecrypt(gcm, iv.data(), aad.data(), aad.size(), data.data(), data.size(),
                                tag.data()));
        EXPECT_EQ(data, before) << "a refused message is left alone";
        GcmWipe(gcm);
    }
}

INSTANTIATE_BOTH_PATHS(Gcm);

}  // namespace
