// SSH-1: the packet format with its CRC and attack screen, the cipher choice, and a
// whole session-key exchange against a server played by the test over a socket pair
// (RSA keys and decryption from libcrypto).
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "crypto/sshbuf.h"
#include "resources/errors.h"
#include "ssh/ssh1_kex.h"
#include "ssh/ssh1_packet.h"
#include "ssh/transport.h"

namespace {

std::vector<std::uint8_t> Key32() {
    std::vector<std::uint8_t> key(32);
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<std::uint8_t>(i * 13 + 5);
    return key;
}

std::vector<std::uint8_t> Payload(std::uint8_t type, std::size_t length) {
    std::vector<std::uint8_t> payload{type};
    for (std::size_t i = 0; i < length; ++i)
        payload.push_back(static_cast<std::uint8_t>(i));
    return payload;
}

Ssh1PacketDecoder::Status DecodeAll(Ssh1PacketDecoder& decoder, const SecureBytes& wire,
                                    std::vector<std::vector<std::uint8_t>>* packets) {
    std::span<const std::uint8_t> rest(wire);
    Ssh1PacketDecoder::Status status = Ssh1PacketDecoder::Status::NeedMore;
    while (!rest.empty()) {
        std::size_t used = 0;
        status = decoder.Feed(rest.first(std::min<std::size_t>(5, rest.size())), &used);
        rest = rest.subspan(used);
        if (status == Ssh1PacketDecoder::Status::Packet)
            packets->emplace_back(decoder.payload().begin(), decoder.payload().end());
        if (status == Ssh1PacketDecoder::Status::Rejected) break;
    }
    return status;
}

TEST(Ssh1PacketTest, RoundTripsWithEveryCipher) {
    for (const CipherDescriptor* cipher :
         {static_cast<const CipherDescriptor*>(nullptr), &kCipherSsh1TripleDes,
          &kCipherSsh1Blowfish, &kCipherSsh1Des}) {
        SCOPED_TRACE(cipher ? cipher->sshName : "none");
        Ssh1PacketEncoder encoder;
        Ssh1PacketDecoder decoder;
        if (cipher) {
            encoder.SetCipher(std::make_unique<Ssh1CipherState>(*cipher, Key32()));
            decoder.SetCipher(std::make_unique<Ssh1CipherState>(*cipher, Key32()));
        }
        SecureBytes wire;
        std::vector<std::vector<std::uint8_t>> sent;
        for (std::size_t length : {0, 3, 4, 11, 500}) {
            sent.push_back(Payload(static_cast<std::uint8_t>(40 + length % 9), length));
            const SecureBytes bytes = encoder.Encode(sent.back());
            EXPECT_EQ((bytes.size() - 4) % 8, 0u);
            const std::size_t padding = bytes.size() - 4 - sent.back().size() - 4;
            EXPECT_GE(padding, 1u);
            EXPECT_LE(padding, 8u);
            wire.insert(wire.end(), bytes.begin(), bytes.end());
        }
        std::vector<std::vector<std::uint8_t>> received;
        EXPECT_EQ(DecodeAll(decoder, wire, &received), Ssh1PacketDecoder::Status::Packet);
        EXPECT_EQ(received, sent);
    }
}

TEST(Ssh1PacketTest, RejectsBadLengthCrcAndRepeatedBlocks) {
    Ssh1PacketEncoder plain;
    SecureBytes wire = plain.Encode(Payload(40, 20));
    wire[10] ^= 1;
    Ssh1PacketDecoder decoder;
    std::vector<std::vector<std::uint8_t>> received;
    EXPECT_EQ(DecodeAll(decoder, wire, &received), Ssh1PacketDecoder::Status::Rejected);
    EXPECT_EQ(decoder.rejection(), Ssh1PacketDecoder::Rejection::Crc);

    for (std::uint32_t length : {0u, 4u, kSsh1MaxPacketLength + 1}) {
        SecureBytes bad = plain.Encode(Payload(40, 3));
        for (int i = 0; i < 4; ++i)
            bad[i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
        Ssh1PacketDecoder fresh;
        EXPECT_EQ(DecodeAll(fresh, bad, &received), Ssh1PacketDecoder::Status::Rejected) << length;
        EXPECT_EQ(fresh.rejection(), Ssh1PacketDecoder::Rejection::Length);
    }

    // A spliced copy of a ciphertext block is caught before decryption.
    Ssh1PacketEncoder encoder;
    encoder.SetCipher(std::make_unique<Ssh1CipherState>(kCipherSsh1TripleDes, Key32()));
    SecureBytes spliced = encoder.Encode(Payload(40, 40));
    std::copy(spliced.begin() + 4, spliced.begin() + 12, spliced.begin() + 20);
    Ssh1PacketDecoder keyed;
    keyed.SetCipher(std::make_unique<Ssh1CipherState>(kCipherSsh1TripleDes, Key32()));
    EXPECT_EQ(DecodeAll(keyed, spliced, &received), Ssh1PacketDecoder::Status::Rejected);
    EXPECT_EQ(keyed.rejection(), Ssh1PacketDecoder::Rejection::Attack);
}

TEST(Ssh1CipherChoiceTest, FirstConfiguredFamilyTheServerAllows) {
    SshConfig config;  // AES, Blowfish, triple DES, Arcfour, single DES
    const std::uint32_t des = 1u << 2, tripleDes = 1u << 3, blowfish = 1u << 6;
    EXPECT_EQ(ChooseSsh1Cipher(config, des | tripleDes | blowfish).value_or(0), 6);
    EXPECT_EQ(ChooseSsh1Cipher(config, des | tripleDes).value_or(0), 3);
    EXPECT_EQ(ChooseSsh1Cipher(config, des).value_or(0), 2);
    EXPECT_FALSE(ChooseSsh1Cipher(config, 1u << 1));  // IDEA is not ours
    config.cipherPreference = {SshCipherChoice::Aes,       SshCipherChoice::Arcfour,
                               SshCipherChoice::EndOfList, SshCipherChoice::EndOfList,
                               SshCipherChoice::EndOfList, SshCipherChoice::EndOfList};
    EXPECT_FALSE(ChooseSsh1Cipher(config, des | tripleDes | blowfish));
}

// ---- A session-key exchange against a test-played server -------------------------

struct RsaKey {
    EVP_PKEY* key = nullptr;
    BigNum e, n;
    explicit RsaKey(unsigned bits) {
        key = EVP_RSA_gen(bits);
        e = Param(OSSL_PKEY_PARAM_RSA_E);
        n = Param(OSSL_PKEY_PARAM_RSA_N);
    }
    ~RsaKey() { EVP_PKEY_free(key); }
    BigNum Param(const char* name) const {
        BIGNUM* bn = nullptr;
        EVP_PKEY_get_bn_param(key, name, &bn);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(BN_num_bytes(bn)));
        BN_bn2bin(bn, bytes.data());
        BN_free(bn);
        return BigNum::FromBytes(bytes);
    }
    std::vector<std::uint8_t> Decrypt(std::span<const std::uint8_t> data) const {
        EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key, nullptr);
        EVP_PKEY_decrypt_init(context);
        EVP_PKEY_CTX_set_rsa_padding(context, RSA_PKCS1_PADDING);
        std::size_t length = 0;
        EVP_PKEY_decrypt(context, nullptr, &length, data.data(), data.size());
        std::vector<std::uint8_t> out(length);
        if (EVP_PKEY_decrypt(context, out.data(), &length, data.data(), data.size()) <= 0)
            length = 0;
        out.resize(length);
        EVP_PKEY_CTX_free(context);
        return out;
    }
};

const std::uint8_t kCookie[8] = {1, 2, 3, 4, 5, 6, 7, 8};

SecureBytes PublicKeyMessage(const RsaKey& server, const RsaKey& host, std::uint32_t cipherMask) {
    SshWriter w;
    w.PutByte(kSsh1SmsgPublicKey);
    w.PutBytes(kCookie);
    for (const RsaKey* key : {&server, &host}) {
        w.PutUint32(static_cast<std::uint32_t>(key->n.BitCount()));
        w.PutSsh1Mpint(key->e);
        w.PutSsh1Mpint(key->n);
    }
    w.PutUint32(2);           // protocol flags
    w.PutUint32(cipherMask);  // supported ciphers
    w.PutUint32(1u << 3);     // supported authentications: password
    return w.Take();
}

// Everything the client wrote within the wait.
std::string ReadAvailable(int fd, int waitMs) {
    std::string bytes;
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, waitMs) > 0) {
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
        waitMs = 50;
    }
    return bytes;
}

void WriteAll(int fd, std::span<const std::uint8_t> bytes) {
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

std::vector<std::vector<std::uint8_t>> DecodeString(Ssh1PacketDecoder& decoder,
                                                    const std::string& text) {
    SecureBytes wire(text.begin(), text.end());
    std::vector<std::vector<std::uint8_t>> packets;
    DecodeAll(decoder, wire, &packets);
    return packets;
}

class Ssh1SessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0);
        SshConfig config;
        config.timeoutSeconds = 3;
        connection_ = std::make_unique<SshConnection>(config, fds_[0]);
        const std::string line = "SSH-1.5-Test_1.0\n";
        WriteAll(fds_[1],
                 std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()));
    }
    void TearDown() override {
        connection_.reset();
        ::close(fds_[1]);
    }
    void Pump() {
        for (int i = 0; i < 10 && !connection_->ssh1Session() && !connection_->closed(); ++i)
            connection_->NetworkWait();
    }

    int fds_[2] = {-1, -1};
    std::unique_ptr<SshConnection> connection_;
};

TEST_F(Ssh1SessionTest, SessionKeyReachesTheServerAndBothDirectionsWork) {
    const RsaKey serverKey(768), hostKey(1024);
    Ssh1PacketEncoder server;
    WriteAll(fds_[1], server.Encode(PublicKeyMessage(serverKey, hostKey, (1u << 3) | (1u << 6))));
    Pump();
    ASSERT_TRUE(connection_->ssh1Session()) << connection_->closeMessage();

    // The client's line, then its session-key message in the clear.
    const std::string written = ReadAvailable(fds_[1], 2000);
    ASSERT_EQ(written.rfind("SSH-1.5-Tollane_7.2\n", 0), 0u);
    Ssh1PacketDecoder serverIn;
    const auto packets = DecodeString(serverIn, written.substr(20));
    ASSERT_EQ(packets.size(), 1u);
    SshReader reader(packets[0]);
    std::uint8_t type = 0, cipher = 0;
    std::span<const std::uint8_t> cookie;
    BigNum encrypted;
    std::uint32_t flags = 0;
    ASSERT_TRUE(reader.ReadByte(&type) && reader.ReadByte(&cipher) &&
                reader.ReadBytes(8, &cookie) && reader.ReadSsh1Mpint(&encrypted) &&
                reader.ReadUint32(&flags) && reader.AtEnd());
    EXPECT_EQ(type, kSsh1CmsgSessionKey);
    EXPECT_EQ(cipher, 6);  // Blowfish comes before triple DES in the default order
    EXPECT_TRUE(std::equal(cookie.begin(), cookie.end(), kCookie));
    EXPECT_EQ(flags, 1u);

    // Outer layer under the larger (host) key, inner under the server key.
    const SecureBytes outerBytes = encrypted.ToBytes();
    std::vector<std::uint8_t> middle = hostKey.Decrypt(outerBytes);
    ASSERT_FALSE(middle.empty());
    std::vector<std::uint8_t> sessionKey = serverKey.Decrypt(middle);
    ASSERT_EQ(sessionKey.size(), 32u);

    // Session id: MD5 of host modulus, server modulus and cookie.
    std::vector<std::uint8_t> md5Input;
    for (const BigNum* n : {&hostKey.n, &serverKey.n}) {
        const SecureBytes bytes = n->ToBytes();
        md5Input.insert(md5Input.end(), bytes.begin(), bytes.end());
    }
    md5Input.insert(md5Input.end(), std::begin(kCookie), std::end(kCookie));
    std::uint8_t sessionId[16];
    unsigned int idLength = 0;
    EVP_Digest(md5Input.data(), md5Input.size(), sessionId, &idLength, EVP_md5(), nullptr);
    ASSERT_EQ(connection_->sessionId().size(), 16u);
    EXPECT_TRUE(std::equal(sessionId, sessionId + 16, connection_->sessionId().begin()));
    for (int i = 0; i < 16; ++i)
        sessionKey[i] ^= sessionId[i];

    // A packet queued before the keys waits for the server's success.
    ASSERT_TRUE(connection_->SendPacket(std::move(SshPacket(4).PutString("fttest"))));
    EXPECT_EQ(ReadAvailable(fds_[1], 100), "");

    server.SetCipher(std::make_unique<Ssh1CipherState>(kCipherSsh1Blowfish, sessionKey));
    serverIn.SetCipher(std::make_unique<Ssh1CipherState>(kCipherSsh1Blowfish, sessionKey));
    WriteAll(fds_[1], server.Encode(std::vector<std::uint8_t>{kSsh1SmsgSuccess}));
    ASSERT_TRUE(connection_->WaitForKeys()) << connection_->closeMessage();
    EXPECT_TRUE(connection_->Ping());

    const auto userPackets = DecodeString(serverIn, ReadAvailable(fds_[1], 2000));
    ASSERT_EQ(userPackets.size(), 2u);
    SshReader user(userPackets[0]);
    std::string_view name;
    ASSERT_TRUE(user.ReadByte(&type) && user.ReadString(&name));
    EXPECT_EQ(type, 4);
    EXPECT_EQ(name, "fttest");
    EXPECT_EQ(userPackets[1].at(0), kSsh1MsgIgnore);

    // An answer from the server arrives decrypted; its disconnect ends the session.
    WriteAll(fds_[1], server.Encode(std::vector<std::uint8_t>{15}));
    SshWriter bye;
    bye.PutByte(kSsh1MsgDisconnect);
    bye.PutString(std::string_view("bye"));
    WriteAll(fds_[1], server.Encode(bye.data()));
    SecureBytes reply;
    ASSERT_TRUE(connection_->ReceivePacket(&reply));
    EXPECT_EQ(reply, SecureBytes{15});
    EXPECT_FALSE(connection_->ReceivePacket(&reply));
    EXPECT_EQ(connection_->closeMessage(), "Disconnected: bye");
}

TEST_F(Ssh1SessionTest, NoUsableCipherEndsTheConnection) {
    const RsaKey serverKey(768), hostKey(1024);
    Ssh1PacketEncoder server;
    WriteAll(fds_[1], server.Encode(PublicKeyMessage(serverKey, hostKey, 1u << 1)));
    Pump();
    EXPECT_TRUE(connection_->closed());
    EXPECT_EQ(connection_->error(), fileErrorSecurityContext);
    EXPECT_EQ(connection_->closeMessage(), "No common cipher algorithm");
}

TEST_F(Ssh1SessionTest, KeysTooShortForTheDoubleEncryptionEndTheConnection) {
    // Both keys of 512 bits: the outer layer has no room for the inner one.
    const RsaKey serverKey(512), hostKey(512);
    Ssh1PacketEncoder server;
    WriteAll(fds_[1], server.Encode(PublicKeyMessage(serverKey, hostKey, 1u << 3)));
    Pump();
    EXPECT_TRUE(connection_->closed());
    EXPECT_EQ(connection_->error(), fileErrorSecurityContext);
}

}  // namespace
