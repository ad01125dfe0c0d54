// The key exchange state machine driven with hand-made server messages, and key
// derivation against libcrypto's hashes.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <memory>
#include <vector>

#include "crypto/sshbuf.h"
#include "resources/errors.h"
#include "ssh/kex.h"
#include "ssh/messages.h"

namespace {

std::vector<std::uint8_t> Digest(const EVP_MD* md,
                                 const std::vector<std::vector<std::uint8_t>>& parts) {
    std::vector<std::uint8_t> out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    EVP_DigestInit_ex(context, md, nullptr);
    for (const auto& part : parts)
        EVP_DigestUpdate(context, part.data(), part.size());
    EVP_DigestFinal_ex(context, out.data(), &length);
    EVP_MD_CTX_free(context);
    out.resize(length);
    return out;
}

std::vector<std::uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

TEST(SshKeyDerivationTest, MatchesTheHashChainForBothHashes) {
    const auto k = Bytes(std::string("\x00\x00\x00\x03\x01\x02\x03", 7));
    const auto h = Bytes("exchange-hash-exchange-hash-1234");
    const auto sid = Bytes("session-identifier-xxxxxxxxxxxxx");
    struct Row {
        const HashDescriptor* ours;
        const EVP_MD* reference;
    } rows[] = {{&kHashSha1, EVP_sha1()}, {&kHashSha256, EVP_sha256()}};
    for (const Row& row : rows) {
        for (bool omit : {false, true}) {
            const auto secret = omit ? std::vector<std::uint8_t>() : k;
            const auto k1 = Digest(row.reference, {secret, h, {'C'}, sid});
            const auto k2 = Digest(row.reference, {secret, h, k1});
            std::vector<std::uint8_t> expected = k1;
            expected.insert(expected.end(), k2.begin(), k2.end());
            const SecureBytes ours = DeriveSshKey(*row.ours, k, h, 'C', sid, 16, omit);
            EXPECT_EQ(std::vector<std::uint8_t>(ours.begin(), ours.end()), expected)
                << row.ours->name << (omit ? " without K" : "");
        }
    }
    // More than two hash lengths when a key needs it.
    EXPECT_GE(DeriveSshKey(kHashSha1, k, h, 'C', sid, 64, false).size(), 64u);
}

class RecordingHost : public SshKexHost {
  public:
    void SendKexPacket(SshPacket packet) override {
        sent.emplace_back(packet.payload().begin(), packet.payload().end());
    }
    void SwitchOutgoingKeys(std::unique_ptr<SshDirectionKeys>, bool) override {
        ++outgoingSwitches;
    }
    void SwitchIncomingKeys(std::unique_ptr<SshDirectionKeys>, bool) override {
        ++incomingSwitches;
    }
    std::vector<std::vector<std::uint8_t>> sent;
    int outgoingSwitches = 0;
    int incomingSwitches = 0;
};

SecureBytes ServerKexinit(const char* kex, bool guess = false) {
    SshKexinit server;
    server.lists[kListKex] = {kex};
    server.lists[kListHostKey] = {"ssh-rsa"};
    for (std::size_t i : {kListCipherCs, kListCipherSc})
        server.lists[i] = {"aes128-ctr"};
    for (std::size_t i : {kListMacCs, kListMacSc})
        server.lists[i] = {"hmac-sha1"};
    for (std::size_t i : {kListCompressionCs, kListCompressionSc})
        server.lists[i] = {"none"};
    server.firstPacketFollows = guess;
    return BuildSshKexinit(server);
}

// An RSA key blob that parses (odd 1024-bit modulus) but signed nothing.
SecureBytes FakeRsaBlob() {
    SshWriter blob;
    blob.PutString(std::string_view("ssh-rsa"));
    blob.PutMpint(BigNum(65537));
    std::vector<std::uint8_t> modulus(128, 0xC5);
    modulus.back() |= 1;
    blob.PutMpint(BigNum::FromBytes(modulus));
    return blob.Take();
}

SecureBytes Reply(std::uint8_t type, const BigNum& f) {
    SshWriter signature;
    signature.PutString(std::string_view("ssh-rsa"));
    signature.PutString(std::vector<std::uint8_t>(128, 0x01));
    SshWriter reply;
    reply.PutByte(type);
    reply.PutString(FakeRsaBlob());
    reply.PutMpint(f);
    reply.PutString(signature.data());
    return reply.Take();
}

std::uint8_t TypeOf(const std::vector<std::uint8_t>& payload) {
    return payload.at(0);
}

struct Fixture {
    SshConfig config;
    RecordingHost host;
    std::unique_ptr<SshKeyExchange> kex;
    void Begin() {
        kex = std::make_unique<SshKeyExchange>(config, host);
        kex->SetVersions("SSH-2.0-Tollane_7.2", "SSH-2.0-Test", 0);
        kex->Start();
    }
};

TEST(SshKeyExchangeTest, FixedGroupSendsEAndRefusesAForgedSignature) {
    Fixture f;
    f.Begin();
    ASSERT_EQ(f.host.sent.size(), 1u);
    EXPECT_EQ(TypeOf(f.host.sent[0]), kSshMsgKexinit);
    EXPECT_EQ(f.kex->state(), SshKexState::AwaitKexinit);

    EXPECT_FALSE(f.kex->Handle(ServerKexinit("diffie-hellman-group14-sha1")));
    ASSERT_EQ(f.host.sent.size(), 2u);
    EXPECT_EQ(TypeOf(f.host.sent[1]), kSshMsgKexdhInit);
    EXPECT_EQ(f.kex->state(), SshKexState::AwaitReply);
    // e is a 2048-bit group element.
    SshReader reader(std::span<const std::uint8_t>(f.host.sent[1]).subspan(1));
    BigNum e;
    ASSERT_TRUE(reader.ReadMpint(&e));
    EXPECT_GT(e.BitCount(), 1900u);

    const std::optional<SshKexFailure> failure =
        f.kex->Handle(Reply(kSshMsgKexdhReply, BigNum(12345)));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->error, fileErrorSecurityCertificate);
    EXPECT_EQ(f.host.outgoingSwitches, 0);
    EXPECT_TRUE(f.kex->sessionId().empty());
}

TEST(SshKeyExchangeTest, DegenerateOrMalformedRepliesFail) {
    struct Case {
        SecureBytes reply;
        int error;
    };
    std::vector<Case> cases;
    cases.push_back({Reply(kSshMsgKexdhReply, BigNum(1)), fileErrorSecurityContext});
    SecureBytes truncated = Reply(kSshMsgKexdhReply, BigNum(12345));
    truncated.resize(truncated.size() - 1);
    cases.push_back({truncated, fileErrorInvalidServerResponse});
    cases.push_back({Reply(kSshMsgKexDhGexReply, BigNum(12345)), fileErrorInvalidServerResponse});
    for (const Case& c : cases) {
        Fixture f;
        f.Begin();
        ASSERT_FALSE(f.kex->Handle(ServerKexinit("diffie-hellman-group1-sha1")));
        const std::optional<SshKexFailure> failure = f.kex->Handle(c.reply);
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->error, c.error) << failure->description;
    }
}

TEST(SshKeyExchangeTest, GroupExchangeRequestsCarryTheComputedSize) {
    for (bool old : {false, true}) {
        Fixture f;
        f.config.groupExchangeOldRequest = old;
        f.Begin();
        ASSERT_FALSE(f.kex->Handle(ServerKexinit("diffie-hellman-group-exchange-sha256")));
        ASSERT_EQ(f.host.sent.size(), 2u);
        const auto& request = f.host.sent[1];
        SshReader reader(std::span<const std::uint8_t>(request).subspan(1));
        std::uint32_t a = 0, b = 0, c = 0;
        if (old) {
            EXPECT_EQ(TypeOf(request), kSshMsgKexDhGexRequestOld);
            ASSERT_TRUE(reader.ReadUint32(&a));
            EXPECT_EQ(a, 1024u);  // aes128 with SHA-256
        } else {
            EXPECT_EQ(TypeOf(request), kSshMsgKexDhGexRequest);
            ASSERT_TRUE(reader.ReadUint32(&a) && reader.ReadUint32(&b) && reader.ReadUint32(&c));
            EXPECT_EQ(a, 1024u);
            EXPECT_EQ(b, 1024u);
            EXPECT_EQ(c, 8192u);
        }
        EXPECT_TRUE(reader.Finish());
        EXPECT_EQ(f.kex->state(), SshKexState::AwaitGroup);
        // A group below the accepted size is refused.
        SshWriter group;
        group.PutByte(kSshMsgKexDhGexGroup);
        group.PutMpint(BigNum(0xFFFFFFFBu));
        group.PutMpint(BigNum(2));
        const auto failure = f.kex->Handle(group.data());
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->error, fileErrorSecurityContext);
    }
}

TEST(SshKeyExchangeTest, WrongGuessedPacketIsSkipped) {
    Fixture f;
    f.Begin();
    SshKexinit server;
    server.lists[kListKex] = {"diffie-hellman-group1-sha1", "diffie-hellman-group14-sha1"};
    server.lists[kListHostKey] = {"ssh-rsa"};
    for (std::size_t i = kListCipherCs; i <= kListCompressionSc; ++i)
        server.lists[i] = {i < kListMacCs           ? "aes128-ctr"
                           : i < kListCompressionCs ? "hmac-sha1"
                                                    : "none"};
    server.firstPacketFollows = true;
    ASSERT_FALSE(f.kex->Handle(BuildSshKexinit(server)));
    EXPECT_EQ(f.kex->negotiated()->kex->name, "diffie-hellman-group14-sha1");
    // The server's guessed group-1 packet is dropped without complaint...
    EXPECT_FALSE(f.kex->Handle(Reply(kSshMsgKexdhInit, BigNum(5))));
    // ...and the real reply is examined.
    EXPECT_TRUE(f.kex->Handle(Reply(kSshMsgKexdhReply, BigNum(12345))));
}

TEST(SshKeyExchangeTest, NoCommonCipherAndOutOfOrderMessagesFail) {
    Fixture f;
    f.config.cipherOverride = "blowfish-cbc";
    f.Begin();
    auto failure = f.kex->Handle(ServerKexinit("diffie-hellman-group1-sha1"));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->error, fileErrorSecurityContext);
    EXPECT_EQ(failure->description,
              "No common cipher algorithm; server offers aes128-ctr; client offers blowfish-cbc");

    Fixture g;
    g.Begin();
    failure = g.kex->Handle(std::vector<std::uint8_t>{kSshMsgNewkeys});
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->error, fileErrorInvalidServerResponse);
}

}  // namespace
