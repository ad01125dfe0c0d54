// The binary packet protocol: our encoder against our decoder for every cipher and
// MAC (including those current servers no longer offer), and the rejection rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <zlib.h>

#include "ssh/packet.h"

namespace {

std::vector<std::uint8_t> Material(std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(64);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(seed * 31 + i * 7);
    return bytes;
}

SshPacket Message(std::uint8_t type, std::size_t bodyLength) {
    std::string body(bodyLength, '\0');
    for (std::size_t i = 0; i < bodyLength; ++i)
        body[i] = static_cast<char>('a' + i % 26);
    return std::move(SshPacket(type).PutString(body));
}

std::vector<std::uint8_t> Payload(SshPacket& packet) {
    return {packet.payload().begin(), packet.payload().end()};
}

// Feeds the wire bytes in pieces of `chunk`; returns the packets completed.
std::vector<std::vector<std::uint8_t>> Decode(SshPacketDecoder& decoder, const SecureBytes& wire,
                                              std::size_t chunk,
                                              SshPacketDecoder::Status* last = nullptr) {
    std::vector<std::vector<std::uint8_t>> packets;
    std::span<const std::uint8_t> rest(wire);
    while (!rest.empty()) {
        std::span<const std::uint8_t> piece = rest.first(std::min(chunk, rest.size()));
        while (!piece.empty()) {
            std::size_t used = 0;
            const auto status = decoder.Feed(piece, &used);
            if (last) *last = status;
            if (status == SshPacketDecoder::Status::Packet)
                packets.emplace_back(decoder.payload().begin(), decoder.payload().end());
            if (status == SshPacketDecoder::Status::Rejected) return packets;
            piece = piece.subspan(used);
            rest = rest.subspan(used);
        }
    }
    return packets;
}

// One way of protecting packets: a cipher and a MAC (either order), or an
// authenticated cipher.
struct CodecCase {
    const CipherDescriptor* cipher = nullptr;
    const MacDescriptor* mac = nullptr;
    bool etm = false;
    const AeadDescriptor* aead = nullptr;

    std::string Name() const {
        if (aead) return aead->sshName;
        return std::string(cipher ? cipher->sshName : "none") + "/" +
               (mac ? mac->sshName : "none") + (etm ? "-etm" : "");
    }
    std::unique_ptr<SshDirectionKeys> MakeKeys(std::uint8_t seed = 1) const {
        const auto key = Material(seed), iv = Material(seed + 1), macKey = Material(seed + 2);
        if (aead) return std::make_unique<SshDirectionKeys>(aead, key, iv);
        return std::make_unique<SshDirectionKeys>(cipher, key, iv, mac, macKey, etm);
    }
};

std::unique_ptr<SshDirectionKeys> Keys(const CipherDescriptor* cipher, const MacDescriptor* mac,
                                       std::uint8_t seed = 1) {
    return CodecCase{cipher, mac}.MakeKeys(seed);
}

std::vector<CodecCase> AllCombinations() {
    std::vector<CodecCase> cases{{}};
    std::vector<const MacDescriptor*> macs(MacList().begin(), MacList().end());
    macs.insert(macs.end(), BugCompatibleMacList().begin(), BugCompatibleMacList().end());
    macs.push_back(&kMacHmacSha256);
    for (const CipherDescriptor* cipher : CipherList())
        for (const MacDescriptor* mac : macs)
            for (const bool etm : {false, true})
                cases.push_back({cipher, mac, etm});
    for (const AeadDescriptor* aead : AeadList())
        cases.push_back({nullptr, nullptr, false, aead});
    return cases;
}

TEST(SshPacketCodecTest, EveryCipherAndMacRoundTrips) {
    for (const CodecCase& c : AllCombinations()) {
        SCOPED_TRACE(c.Name());
        SshPacketEncoder encoder;
        SshPacketDecoder decoder;
        encoder.SetKeys(c.MakeKeys());
        decoder.SetKeys(c.MakeKeys());
        const std::size_t block = decoder.keys().blockSize();
        const std::size_t tag = decoder.keys().macLength();
        // The length field stands outside the block multiple in the newer modes.
        const std::size_t apart = decoder.keys().lengthApart() ? 4 : 0;

        SecureBytes wire;
        std::vector<std::vector<std::uint8_t>> sent;
        for (std::size_t length : {0, 1, 11, 100, 1000, 4000}) {
            SshPacket packet = Message(static_cast<std::uint8_t>(90 + length % 7), length);
            sent.push_back(Payload(packet));
            const SecureBytes bytes = encoder.Encode(std::move(packet));
            EXPECT_EQ((bytes.size() - tag - apart) % block, 0u);
            // At least 4 bytes of padding, and less than 4 plus a block.
            const std::size_t padded = bytes.size() - tag - 5 - sent.back().size();
            EXPECT_GE(padded, 4u);
            EXPECT_LT(padded, 4 + block);
            wire.insert(wire.end(), bytes.begin(), bytes.end());
        }
        if (c.cipher || c.aead) {
            const std::string plain = "abcdefghijklmnopqrstuvwxyz";
            EXPECT_EQ(std::search(wire.begin(), wire.end(), plain.begin(), plain.end()), wire.end())
                << "plain text on the wire";
        }
        // Pieces that cut across every boundary, single bytes, and the whole stream at once.
        EXPECT_EQ(Decode(decoder, wire, 7), sent);
        EXPECT_EQ(encoder.sequence(), 6u);
        EXPECT_EQ(decoder.sequence(), 6u);
        for (std::size_t piece : {std::size_t{1}, wire.size()}) {
            SshPacketDecoder other;
            other.SetKeys(c.MakeKeys());
            EXPECT_EQ(Decode(other, wire, piece), sent) << "pieces of " << piece;
        }
    }
}

// Rewrites the plain header of the first packet (no cipher) before decoding.
struct Tamper {
    const char* name;
    void (*apply)(SecureBytes& wire);
    SshPacketDecoder::Rejection expected;
};

void SetLength(SecureBytes& wire, std::uint32_t length) {
    wire[0] = static_cast<std::uint8_t>(length >> 24);
    wire[1] = static_cast<std::uint8_t>(length >> 16);
    wire[2] = static_cast<std::uint8_t>(length >> 8);
    wire[3] = static_cast<std::uint8_t>(length);
}

const Tamper kTampers[] = {
    {"length above the limit", [](SecureBytes& w) { SetLength(w, 35001); },
     SshPacketDecoder::Rejection::Length},
    {"negative length", [](SecureBytes& w) { SetLength(w, 0xFFFFFFF0u); },
     SshPacketDecoder::Rejection::Length},
    {"padding below four", [](SecureBytes& w) { w[4] = 3; }, SshPacketDecoder::Rejection::Padding},
    {"padding not below the length", [](SecureBytes& w) { SetLength(w, 12), w[4] = 12; },
     SshPacketDecoder::Rejection::Padding},
    {"length not a block multiple", [](SecureBytes& w) { SetLength(w, 13); },
     SshPacketDecoder::Rejection::BlockMultiple},
    {"payload changed", [](SecureBytes& w) { w[6] ^= 1; }, SshPacketDecoder::Rejection::Mac},
    {"tag changed", [](SecureBytes& w) { w.back() ^= 0x80; }, SshPacketDecoder::Rejection::Mac},
};

TEST(SshPacketRejectionTest, BadPacketsAreRejectedWithoutCountingThem) {
    for (const Tamper& t : kTampers) {
        SCOPED_TRACE(t.name);
        SshPacketEncoder encoder;
        encoder.SetKeys(Keys(nullptr, &kMacHmacSha1));
        SecureBytes wire = encoder.Encode(Message(94, 20));
        t.apply(wire);

        SshPacketDecoder decoder;
        decoder.SetKeys(Keys(nullptr, &kMacHmacSha1));
        SshPacketDecoder::Status status = SshPacketDecoder::Status::NeedMore;
        EXPECT_TRUE(Decode(decoder, wire, wire.size(), &status).empty());
        EXPECT_EQ(status, SshPacketDecoder::Status::Rejected);
        EXPECT_EQ(decoder.rejection(), t.expected);
        EXPECT_EQ(decoder.sequence(), 0u);

        // The reader starts over: a packet signed for sequence number 0 still passes.
        SshPacketEncoder fresh;
        fresh.SetKeys(Keys(nullptr, &kMacHmacSha1));
        EXPECT_EQ(Decode(decoder, fresh.Encode(Message(94, 3)), 64).size(), 1u);
        EXPECT_EQ(decoder.sequence(), 1u);
    }
}

TEST(SshPacketRejectionTest, WrongKeysAreRejectedBeforeAnyPayloadIsDelivered) {
    for (const CipherDescriptor* cipher :
         {&kCipherAes256Ctr, &kCipherTripleDesCbc, &kCipherArcfour128}) {
        SCOPED_TRACE(cipher->sshName);
        SshPacketEncoder encoder;
        encoder.SetKeys(Keys(cipher, &kMacHmacSha1, 1));
        SshPacketDecoder decoder;
        decoder.SetKeys(Keys(cipher, &kMacHmacSha1, 9));
        SshPacketDecoder::Status status = SshPacketDecoder::Status::NeedMore;
        const SecureBytes wire = encoder.Encode(Message(94, 40));
        EXPECT_TRUE(Decode(decoder, wire, wire.size(), &status).empty());
        // A garbled length may also just ask for more bytes; it never delivers.
        EXPECT_NE(status, SshPacketDecoder::Status::Packet);
        EXPECT_EQ(decoder.sequence(), 0u);
    }
}

// A flipped bit anywhere in a packet (length, body, tag) of every mode is
// rejected, whatever follows it: a lengthened packet must not wait for ever.
TEST(SshPacketRejectionTest, TamperedPacketsAreRejectedInEveryMode) {
    const CodecCase modes[] = {
        {&kCipherAes128Ctr, &kMacHmacSha256, false},
        {&kCipherAes128Ctr, &kMacHmacSha256, true},
        {&kCipherAes128Cbc, &kMacHmacSha1, true},
        {nullptr, nullptr, false, &kAeadChaCha20Poly1305},
        {nullptr, nullptr, false, &kAeadAes128Gcm},
        {nullptr, nullptr, false, &kAeadAes256Gcm},
    };
    for (const CodecCase& mode : modes) {
        SshPacketEncoder encoder;
        encoder.SetKeys(mode.MakeKeys());
        const SecureBytes original = encoder.Encode(Message(94, 60));
        const SecureBytes next = encoder.Encode(Message(94, 60));
        for (const std::size_t at :
             {std::size_t{3}, std::size_t{2}, std::size_t{20}, original.size() - 1}) {
            for (const std::uint8_t bit : {0x01, 0x80}) {
                SCOPED_TRACE(mode.Name() + " byte " + std::to_string(at) + " bit " +
                             std::to_string(bit));
                SecureBytes wire = original;
                wire[at] ^= bit;
                wire.insert(wire.end(), next.begin(), next.end());
                wire.resize(wire.size() + kSshMaxPacketLength + 64);  // whatever may come
                SshPacketDecoder decoder;
                decoder.SetKeys(mode.MakeKeys());
                SshPacketDecoder::Status status = SshPacketDecoder::Status::NeedMore;
                EXPECT_TRUE(Decode(decoder, wire, 4096, &status).empty());
                EXPECT_EQ(status, SshPacketDecoder::Status::Rejected);
            }
        }
    }
}

TEST(SshPacketRejectionTest, SequenceNumbersFeedTheMac) {
    SshPacketEncoder encoder;
    encoder.SetKeys(Keys(nullptr, &kMacHmacSha1));
    encoder.Encode(Message(94, 1));  // sequence 0 is never seen by the decoder
    const SecureBytes second = encoder.Encode(Message(94, 1));
    SshPacketDecoder decoder;
    decoder.SetKeys(Keys(nullptr, &kMacHmacSha1));
    SshPacketDecoder::Status status = SshPacketDecoder::Status::NeedMore;
    Decode(decoder, second, second.size(), &status);
    EXPECT_EQ(status, SshPacketDecoder::Status::Rejected);
    EXPECT_EQ(decoder.rejection(), SshPacketDecoder::Rejection::Mac);
}

std::unique_ptr<SshDirectionKeys> CompressingKeys(SshCompression kind, bool cipher = true) {
    auto keys =
        cipher ? Keys(&kCipherAes128Ctr, &kMacHmacSha1) : std::make_unique<SshDirectionKeys>();
    keys->SetCompression(kind);
    return keys;
}

// A deflate stream, as a server would send it, of these bytes.
SecureBytes Deflated(const std::string& bytes) {
    z_stream z{};
    deflateInit(&z, 9);
    SecureBytes out(bytes.size() + 1024);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_PARTIAL_FLUSH);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    return out;
}

}  // namespace

// "zlib" compresses from the first packet under its keys, the delayed form only
// after the login; one stream spans the packets and starts afresh with new keys.
TEST(SshPacketCompressionTest, StreamsSpanPacketsAndRestartWithNewKeys) {
    for (const SshCompression kind : {SshCompression::Zlib, SshCompression::Delayed}) {
        SCOPED_TRACE(static_cast<int>(kind));
        SshPacketEncoder encoder;
        SshPacketDecoder decoder;
        encoder.SetKeys(CompressingKeys(kind));
        decoder.SetKeys(CompressingKeys(kind));
        for (const char* stage : {"before login", "after login", "after re-key"}) {
            SCOPED_TRACE(stage);
            const bool compressed = kind == SshCompression::Zlib || stage[0] != 'b';
            SecureBytes wire;
            std::vector<std::vector<std::uint8_t>> sent;
            for (std::size_t length : {0, 30000, 30000}) {
                SshPacket packet = Message(94, length);
                sent.push_back(Payload(packet));
                const SecureBytes bytes = encoder.Encode(std::move(packet));
                EXPECT_EQ(bytes.size() < length, compressed && length > 0);
                wire.insert(wire.end(), bytes.begin(), bytes.end());
            }
            EXPECT_EQ(Decode(decoder, wire, 1000), sent);
            if (stage[0] == 'b') {
                encoder.EnableDelayedCompression();
                decoder.EnableDelayedCompression();
            } else {
                encoder.SetKeys(CompressingKeys(kind));
                decoder.SetKeys(CompressingKeys(kind));
            }
        }
    }
}

// A small packet may not inflate without bound, and corrupt data is refused.
TEST(SshPacketCompressionTest, HostilePayloadsAreRejected) {
    const struct {
        const char* name;
        SecureBytes payload;
    } cases[] = {
        {"bomb", Deflated(std::string(kSshMaxInflatedPayload + 1, '\0'))},
        {"garbage", SecureBytes{0x78, 0x9c, 0xff, 0xff, 0xff, 0x00, 0x11}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_LT(c.payload.size(), kSshMaxPacketLength);
        SshPacketEncoder encoder;  // sends the payload as it is
        SshPacket packet(c.payload[0]);
        packet.PutBytes(std::span(c.payload).subspan(1));
        const SecureBytes wire = encoder.Encode(std::move(packet));
        SshPacketDecoder decoder;
        decoder.SetKeys(CompressingKeys(SshCompression::Zlib, false));
        SshPacketDecoder::Status status = SshPacketDecoder::Status::NeedMore;
        EXPECT_TRUE(Decode(decoder, wire, wire.size(), &status).empty());
        EXPECT_EQ(status, SshPacketDecoder::Status::Rejected);
        EXPECT_EQ(decoder.rejection(), SshPacketDecoder::Rejection::Compression);
    }
}
