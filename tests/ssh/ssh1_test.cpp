// SSH-1: the packet format with its CRC and attack screen, the cipher choice, and a
// whole session-key exchange against a server played by the test over a socket pair
// (RSA keys and decryption from libcrypto), then login, the command and its data.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "crypto/sshbuf.h"
#include "resources/errors.h"
#include "ssh/session.h"
#include "ssh/ssh1_kex.h"
#include "ssh/ssh1_packet.h"
#include "ssh/ssh1_session.h"
#include "ssh/transport.h"
#include "ssh/version.h"
#include "tests/crypto/pubkey_test_support.h"

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

// Blowfish before triple DES, both offered, is what Ssh1SessionTest negotiates.
TEST(Ssh1CipherChoiceTest, FirstConfiguredFamilyTheServerAllows) {
    SshConfig config;  // AES, Blowfish, triple DES, Arcfour, single DES
    const std::uint32_t des = 1u << 2, tripleDes = 1u << 3, blowfish = 1u << 6;
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
    EvpKey key;
    BigNum e, n;
    explicit RsaKey(unsigned bits)
        : key(GenerateRsa(bits)),
          e(FromBn(KeyNumber(key.get(), OSSL_PKEY_PARAM_RSA_E).get())),
          n(FromBn(KeyNumber(key.get(), OSSL_PKEY_PARAM_RSA_N).get())) {}
    std::vector<std::uint8_t> Decrypt(std::span<const std::uint8_t> data) const {
        EVP_PKEY_CTX* context = EVP_PKEY_CTX_new(key.get(), nullptr);
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

    // Offers Blowfish and triple DES, checks the client's session-key message and
    // keys both server directions with the key it carries; then queues replies.
    void Keyed(std::initializer_list<std::uint8_t> replies);

    int fds_[2] = {-1, -1};
    std::unique_ptr<SshConnection> connection_;
    Ssh1PacketEncoder server_;
    Ssh1PacketDecoder serverIn_;
};

// No cipher in common, or keys too short for the double encryption (both of 512
// bits leave the outer layer no room for the inner one).
TEST_F(Ssh1SessionTest, UnusableOffersEndTheConnection) {
    const struct {
        unsigned serverBits, hostBits;
        std::uint32_t ciphers;
        const char* message;
    } rows[] = {{768, 1024, 1u << 1, "No common cipher algorithm"}, {512, 512, 1u << 3, nullptr}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.ciphers);
        if (&row != rows) {
            TearDown();
            SetUp();
        }
        const RsaKey serverKey(row.serverBits), hostKey(row.hostBits);
        Ssh1PacketEncoder server;
        WriteAll(fds_[1], server.Encode(PublicKeyMessage(serverKey, hostKey, row.ciphers)));
        Pump();
        EXPECT_TRUE(connection_->closed());
        EXPECT_EQ(connection_->error(), fileErrorSecurityContext);
        if (row.message) {
            EXPECT_EQ(connection_->closeMessage(), row.message);
        }
    }
}

// ---- Login and the session over SSH-1 ------------------------------------------------

SecureBytes Ssh1Message(std::uint8_t type, std::string_view text = {}, bool withText = false) {
    SshWriter w;
    w.PutByte(type);
    if (withText) w.PutString(text);
    return w.Take();
}

void Ssh1SessionTest::Keyed(std::initializer_list<std::uint8_t> replies) {
    const RsaKey serverKey(768), hostKey(1024);
    WriteAll(fds_[1], server_.Encode(PublicKeyMessage(serverKey, hostKey, (1u << 3) | (1u << 6))));
    Pump();
    ASSERT_TRUE(connection_->ssh1Session()) << connection_->closeMessage();

    // The client's line, then its session-key message in the clear.
    const std::string written = ReadAvailable(fds_[1], 2000);
    ASSERT_EQ(written.rfind("SSH-1.5-Tollane_7.2\n", 0), 0u);
    const auto packets = DecodeString(serverIn_, written.substr(20));
    ASSERT_EQ(packets.size(), 1u);
    SshReader reader(packets[0]);
    std::uint8_t type = 0, cipher = 0;
    std::span<const std::uint8_t> cookie;
    BigNum encrypted;
    std::uint32_t flags = 0;
    ASSERT_TRUE(reader.ReadByte(&type) && reader.ReadByte(&cipher) &&
                reader.ReadBytes(8, &cookie) && reader.ReadSsh1Mpint(&encrypted) &&
                reader.ReadUint32(&flags) && reader.Finish());
    EXPECT_EQ(type, kSsh1CmsgSessionKey);
    EXPECT_EQ(cipher, 6);  // Blowfish comes before triple DES in the default order
    EXPECT_TRUE(std::equal(cookie.begin(), cookie.end(), kCookie));
    EXPECT_EQ(flags, 1u);

    // Outer layer under the larger (host) key, inner under the server key.
    std::vector<std::uint8_t> key = serverKey.Decrypt(hostKey.Decrypt(encrypted.ToBytes()));
    ASSERT_EQ(key.size(), 32u);
    // Session id: MD5 of host modulus, server modulus and cookie; it masks the key.
    std::vector<std::uint8_t> md5Input;
    for (const BigNum* n : {&hostKey.n, &serverKey.n}) {
        const SecureBytes bytes = n->ToBytes();
        md5Input.insert(md5Input.end(), bytes.begin(), bytes.end());
    }
    md5Input.insert(md5Input.end(), std::begin(kCookie), std::end(kCookie));
    std::uint8_t sessionId[16];
    EVP_Digest(md5Input.data(), md5Input.size(), sessionId, nullptr, EVP_md5(), nullptr);
    ASSERT_EQ(connection_->sessionId().size(), 16u);
    EXPECT_TRUE(std::equal(sessionId, sessionId + 16, connection_->sessionId().begin()));
    for (int i = 0; i < 16; ++i)
        key[i] ^= sessionId[i];
    // The host key's fingerprint: MD5 of its modulus and exponent bytes.
    std::vector<std::uint8_t> keyBytes;
    for (const BigNum* n : {&hostKey.n, &hostKey.e}) {
        const SecureBytes bytes = n->ToBytes();
        keyBytes.insert(keyBytes.end(), bytes.begin(), bytes.end());
    }
    std::uint8_t keyDigest[16];
    EVP_Digest(keyBytes.data(), keyBytes.size(), keyDigest, nullptr, EVP_md5(), nullptr);
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02x", keyDigest[0]);
    EXPECT_EQ(connection_->fingerprint().rfind(std::string("rsa1 1024 ") + hex + ":", 0), 0u)
        << connection_->fingerprint();
    EXPECT_EQ(connection_->fingerprint().size(), 10u + 47u);
    server_.SetCipher(std::make_unique<Ssh1CipherState>(kCipherSsh1Blowfish, key));
    serverIn_.SetCipher(std::make_unique<Ssh1CipherState>(kCipherSsh1Blowfish, key));
    for (std::uint8_t reply : replies)
        WriteAll(fds_[1], server_.Encode(Ssh1Message(reply)));
}

TEST_F(Ssh1SessionTest, SessionKeyReachesTheServerAndBothDirectionsWork) {
    ASSERT_NO_FATAL_FAILURE(Keyed({}));
    // A packet queued before the keys waits for the server's success.
    ASSERT_TRUE(connection_->SendPacket(std::move(SshPacket(4).PutString("fttest"))));
    EXPECT_EQ(ReadAvailable(fds_[1], 100), "");
    WriteAll(fds_[1], server_.Encode(Ssh1Message(kSsh1SmsgSuccess)));
    ASSERT_TRUE(connection_->WaitForKeys()) << connection_->closeMessage();
    EXPECT_TRUE(connection_->Ping());
    const auto userPackets = DecodeString(serverIn_, ReadAvailable(fds_[1], 2000));
    ASSERT_EQ(userPackets.size(), 2u);
    EXPECT_EQ(userPackets[0],
              (std::vector<std::uint8_t>{4, 0, 0, 0, 6, 'f', 't', 't', 'e', 's', 't'}));
    EXPECT_EQ(userPackets[1].at(0), kSsh1MsgIgnore);

    // An answer from the server arrives decrypted; its disconnect ends the session.
    WriteAll(fds_[1], server_.Encode(std::vector<std::uint8_t>{15}));
    WriteAll(fds_[1], server_.Encode(Ssh1Message(kSsh1MsgDisconnect, "bye", true)));
    SecureBytes reply;
    ASSERT_TRUE(connection_->ReceivePacket(&reply));
    EXPECT_EQ(reply, SecureBytes{15});
    EXPECT_FALSE(connection_->ReceivePacket(&reply));
    EXPECT_EQ(connection_->closeMessage(), "Disconnected: bye");
}

TEST_F(Ssh1SessionTest, PasswordLoginRunsTheFallbackCommandAndCarriesData) {
    // Key accepted; the user needs a password; the password is right.
    ASSERT_NO_FATAL_FAILURE(Keyed({kSsh1SmsgSuccess, kSsh1SmsgFailure, kSsh1SmsgSuccess}));
    Ssh1PacketEncoder& server = server_;
    Ssh1PacketDecoder& serverIn = serverIn_;

    SshConfig config;
    config.timeoutSeconds = 3;
    config.userName = "fttest";
    config.password = "pw-of-eleven";
    config.remoteCommand = "sftp";
    config.remoteCommandIsSubsystem = true;
    config.fallbackCommand = "exec sftp-server";
    SshSession session(config, std::move(connection_));
    ASSERT_EQ(session.WaitUntilReady(), 0) << session.errorText();

    const auto packets = DecodeString(serverIn, ReadAvailable(fds_[1], 1000));
    std::vector<int> types;
    std::string password, command;
    std::size_t ignoreBytes = 0;
    for (const auto& packet : packets) {
        types.push_back(packet.at(0));
        SshReader reader(std::span<const std::uint8_t>(packet).subspan(1));
        std::string_view text;
        EXPECT_TRUE(reader.ReadString(&text));
        if (packet[0] == kSsh1CmsgAuthPassword) password = text;
        if (packet[0] == kSsh1CmsgExecCmd) command = text;
        if (packet[0] == kSsh1MsgIgnore) {
            ignoreBytes += text.size();
            EXPECT_EQ(text.find('\0'), std::string_view::npos);
        }
    }
    // User, then 16 packets for lengths 0 to 15 with the real one at 12, then the
    // command: a subsystem cannot be asked for, so the fallback runs.
    ASSERT_EQ(types.size(), 18u);
    EXPECT_EQ(types.front(), kSsh1CmsgUser);
    EXPECT_EQ(types[1 + 12], kSsh1CmsgAuthPassword);
    EXPECT_EQ(types.back(), kSsh1CmsgExecCmd);
    EXPECT_EQ(password, "pw-of-eleven");
    EXPECT_EQ(ignoreBytes, 15u * 16u / 2u - 12u);
    EXPECT_EQ(command, "exec sftp-server");

    const std::uint8_t ping[] = {'p', 'i', 'n', 'g'};
    ASSERT_TRUE(session.Send(ping));
    WriteAll(fds_[1], server.Encode(Ssh1Message(kSsh1SmsgStdoutData, "pong", true)));
    WriteAll(fds_[1], server.Encode(Ssh1Message(kSsh1SmsgStderrData, "noise", true)));
    SshWriter status;
    status.PutByte(kSsh1SmsgExitStatus);
    status.PutUint32(0);
    WriteAll(fds_[1], server.Encode(status.data()));
    std::uint8_t buffer[8];
    ASSERT_TRUE(session.ReadExactly(std::span(buffer, 4)));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "pong");
    EXPECT_EQ(session.Read(buffer), 0);
    EXPECT_EQ(session.exit().status.value_or(99), 0u);
    const auto after = DecodeString(serverIn, ReadAvailable(fds_[1], 500));
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0].at(0), kSsh1CmsgStdinData);
    EXPECT_EQ(after[1].at(0), kSsh1CmsgExitConfirmation);
}

TEST_F(Ssh1SessionTest, RefusedPasswordFailsTheLogin) {
    ASSERT_NO_FATAL_FAILURE(Keyed({kSsh1SmsgSuccess, kSsh1SmsgFailure, kSsh1SmsgFailure}));
    SshConfig config;
    config.timeoutSeconds = 3;
    config.userName = "fttest";
    config.password = "wrong";
    SshSession session(config, std::move(connection_));
    EXPECT_EQ(session.WaitUntilReady(), fileErrorAuthenticationFailed);
    EXPECT_TRUE(session.closed());
    const auto packets = DecodeString(serverIn_, ReadAvailable(fds_[1], 1000));
    ASSERT_FALSE(packets.empty());
    SshReader reader(std::span<const std::uint8_t>(packets.back()).subspan(1));
    std::string_view text;
    ASSERT_TRUE(reader.ReadString(&text));
    EXPECT_EQ(packets.back().at(0), kSsh1MsgDisconnect);
    EXPECT_EQ(text, "User authentication failed");
}

TEST(Ssh1PasswordTest, CamouflageFollowsTheWorkarounds) {
    struct Row {
        const char* name;
        std::string password;
        std::uint32_t workarounds;
        std::size_t packets;
        std::size_t realIndex;
        std::size_t sentLength;
    } rows[] = {
        {"short, among 0 to 15", "abc", 0, 16, 3, 3},
        {"20 characters, among 16 to 23", std::string(20, 'x'), 0, 8, 4, 20},
        {"16 characters, among 16 to 23", std::string(16, 'x'), 0, 8, 0, 16},
        {"ignore workaround pads to 64", "abcde", kBugSsh1Ignore, 1, 0, 64},
        {"ignore workaround, long password as it is", std::string(70, 'y'), kBugSsh1Ignore, 1, 0,
         70},
        {"plain password", "abcde", kBugSsh1PlainPassword | kBugSsh1Ignore, 1, 0, 5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<SshPacket> packets = Ssh1PasswordPackets(row.password, row.workarounds);
        ASSERT_EQ(packets.size(), row.packets);
        for (std::size_t i = 0; i < packets.size(); ++i) {
            SshReader reader(packets[i].payload().subspan(1));
            std::span<const std::uint8_t> sent;
            ASSERT_TRUE(reader.ReadString(&sent));
            if (i != row.realIndex) {
                EXPECT_EQ(packets[i].type(), kSsh1MsgIgnore);
                continue;
            }
            EXPECT_EQ(packets[i].type(), kSsh1CmsgAuthPassword);
            ASSERT_EQ(sent.size(), row.sentLength);
            EXPECT_TRUE(std::equal(row.password.begin(), row.password.end(), sent.begin()));
            if (row.sentLength > row.password.size()) {
                EXPECT_EQ(sent[row.password.size()], 0);
            }
        }
        // The lengths run without gaps around the real one.
        for (std::size_t i = 1; i < packets.size(); ++i)
            EXPECT_EQ(packets[i].payload().size(), packets[i - 1].payload().size() + 1);
    }
}

}  // namespace
