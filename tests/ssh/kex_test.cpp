// What the client offers (the order rules, not the table), how the key-exchange init
// message travels and how the two offers are matched; the key exchange state machine
// driven with hand-made server messages, and key derivation against libcrypto's hashes.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <memory>
#include <string>
#include <vector>

#include "crypto/sshbuf.h"
#include "resources/errors.h"
#include "ssh/algorithms.h"
#include "ssh/kex.h"
#include "ssh/messages.h"
#include "ssh/version.h"

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

// The messages of a good exchange are every real group-14 login's.
TEST(SshKeyExchangeTest, FixedGroupRefusesAForgedSignature) {
    Fixture f;
    f.Begin();
    EXPECT_FALSE(f.kex->Handle(ServerKexinit("diffie-hellman-group14-sha1")));
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

// The first offer asks for the extension message and the strict exchange after
// the real methods; a re-key asks for neither. Both directions get one list.
TEST(SshOfferTest, FirstOfferAloneCarriesTheExtensionMarkers) {
    const SshKexinit offer = SshClientOffer(SshConfig(), 0);
    // The first offer's markers are answered in sshd_login_test (extension message, strict).
    EXPECT_EQ(SshClientOffer(SshConfig(), 0, false).lists[kListKex].back(),
              "diffie-hellman-group1-sha1");
    EXPECT_EQ(offer.lists[kListCipherSc], offer.lists[kListCipherCs]);
    EXPECT_EQ(JoinSshNames(offer.lists[kListCompressionCs]), "none,zlib@openssh.com,zlib");
    EXPECT_TRUE(offer.lists[kListLanguageCs].empty());
    EXPECT_FALSE(offer.firstPacketFollows);
}

TEST(SshOfferTest, ConfigurationShapesTheLists) {
    SshConfig config;
    config.cipherPreference = {SshCipherChoice::TripleDes, SshCipherChoice::EndOfList,
                               SshCipherChoice::SingleDes, SshCipherChoice::Aes,
                               SshCipherChoice::EndOfList, SshCipherChoice::EndOfList};
    config.allowSingleDesInSsh2 = true;
    config.kexPreference = {SshKexGroup::Group1, SshKexGroup::EndOfList, SshKexGroup::Group14,
                            SshKexGroup::EndOfList};
    config.compression = true;
    const SshKexinit offer = SshClientOffer(config, kBugSsh2Hmac);
    // The end-of-list marker is a boundary that emits nothing. The elliptic-curve
    // methods lead whatever the group order; SHA-2 groups come before SHA-1 ones.
    EXPECT_EQ(JoinSshNames(offer.lists[kListKex]),
              "curve25519-sha256,curve25519-sha256@libssh.org,ecdh-sha2-nistp256,"
              "ecdh-sha2-nistp384,ecdh-sha2-nistp521,diffie-hellman-group16-sha512,"
              "diffie-hellman-group18-sha512,diffie-hellman-group14-sha256,"
              "diffie-hellman-group1-sha1,diffie-hellman-group14-sha1");
    // The authenticated ciphers lead the AES entry.
    EXPECT_EQ(JoinSshNames(offer.lists[kListCipherCs]),
              "3des-ctr,3des-cbc,des-cbc,des-cbc@ssh.com,chacha20-poly1305@openssh.com,"
              "aes128-gcm@openssh.com,aes256-gcm@openssh.com,aes256-ctr,aes256-cbc,"
              "rijndael-cbc@lysator.liu.se,aes192-ctr,aes192-cbc,aes128-ctr,aes128-cbc");
    EXPECT_EQ(JoinSshNames(offer.lists[kListCompressionSc]), "zlib@openssh.com,zlib,none");
    // The bug-compatible MACs go by the standard names.
    EXPECT_EQ(JoinSshNames(offer.lists[kListMacSc]), "hmac-sha1,hmac-sha1-96,hmac-md5");
    config.allowSingleDesInSsh2 = false;
    EXPECT_EQ(JoinSshNames(SshClientOffer(config, 0).lists[kListCipherCs]),
              "3des-ctr,3des-cbc,chacha20-poly1305@openssh.com,aes128-gcm@openssh.com,"
              "aes256-gcm@openssh.com,aes256-ctr,aes256-cbc,rijndael-cbc@lysator.liu.se,aes192-ctr,"
              "aes192-cbc,aes128-ctr,aes128-cbc");
}

TEST(SshKexinitTest, RefusesTruncation) {
    SshKexinit offer = SshClientOffer(SshConfig(), 0);
    offer.firstPacketFollows = true;
    const SecureBytes message = BuildSshKexinit(offer);
    ASSERT_TRUE(ParseSshKexinit(message));  // what it reads is every real login's
    for (std::size_t cut :
         {std::size_t{0}, std::size_t{10}, message.size() / 2, message.size() - 1}) {
        EXPECT_FALSE(ParseSshKexinit(std::span(message).first(cut))) << cut;
    }
    // Two messages differ in their random cookies.
    EXPECT_NE(BuildSshKexinit(offer), message);
}

SshKexinit ServerOffer(const char* kex, const char* hostKey, const char* cipher, const char* mac,
                       const char* compression = "none") {
    SshKexinit server;
    auto split = [](std::string_view text) {
        SshNameList names;
        while (!text.empty()) {
            const std::size_t comma = text.find(',');
            names.emplace_back(text.substr(0, comma));
            if (comma == std::string_view::npos) break;
            text.remove_prefix(comma + 1);
        }
        return names;
    };
    const char* texts[] = {kex, hostKey, cipher, cipher, mac, mac, compression, compression};
    for (std::size_t i = 0; i < std::size(texts); ++i)
        server.lists[i] = split(texts[i]);
    return server;
}

TEST(SshNegotiationTest, ClientOrderWinsAmongCommonNames) {
    const SshKexinit client = SshClientOffer(SshConfig(), 0);
    const SshKexinit server = ServerOffer(
        "curve25519-sha256,diffie-hellman-group14-sha1,diffie-hellman-group-exchange-sha1",
        "ssh-ed25519,ssh-dss,ssh-rsa", "3des-cbc,aes128-ctr,chacha20-poly1305@openssh.com",
        "hmac-md5,hmac-sha1-96", "zlib@openssh.com,none");
    const std::optional<SshNegotiated> n = NegotiateSsh(client, server, 0);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->kex->name, "curve25519-sha256");
    EXPECT_EQ(n->hostKey->sshName, "ssh-ed25519");
    EXPECT_EQ(n->aeadCs, &kAeadChaCha20Poly1305);
    EXPECT_EQ(n->cipherCs, nullptr);
    EXPECT_EQ(n->macSc, nullptr);  // an authenticated cipher needs no MAC
    EXPECT_EQ(n->compressionCs, SshCompression::None);
    EXPECT_FALSE(n->ignoreGuessedPacket);
    EXPECT_FALSE(n->strictKex);
}

TEST(SshNegotiationTest, ReportsTheListWithoutCommonName) {
    const SshKexinit client = SshClientOffer(SshConfig(), 0);
    const struct {
        const char *hostKey, *cipher, *mac;
        std::size_t list;
    } cases[] = {{"ssh-rsa", "twofish-cbc", "hmac-sha1", kListCipherCs},
                 {"x509v3-sign-rsa", "aes128-ctr", "hmac-sha1", kListHostKey},
                 {"ssh-rsa", "aes128-ctr", "umac-64@openssh.com", kListMacCs}};
    for (const auto& c : cases) {
        std::size_t failed = 99;
        EXPECT_FALSE(NegotiateSsh(
            client, ServerOffer("diffie-hellman-group1-sha1", c.hostKey, c.cipher, c.mac), 0,
            &failed));
        EXPECT_EQ(failed, c.list) << c.hostKey << " " << c.cipher << " " << c.mac;
    }
}

TEST(SshNegotiationTest, WrongGuessIsIgnoredRightGuessIsKept) {
    const SshKexinit client = SshClientOffer(SshConfig(), 0);
    SshKexinit server = ServerOffer("diffie-hellman-group1-sha1,diffie-hellman-group14-sha1",
                                    "ssh-rsa", "aes128-ctr", "hmac-sha1");
    server.firstPacketFollows = true;
    // A wrong guess of the group is WrongGuessedPacketIsSkipped's.
    server.lists[kListKex] = {"diffie-hellman-group14-sha1", "diffie-hellman-group1-sha1"};
    EXPECT_FALSE(NegotiateSsh(client, server, 0)->ignoreGuessedPacket);
    server.lists[kListHostKey] = {"ssh-dss", "ssh-rsa"};
    EXPECT_TRUE(NegotiateSsh(client, server, 0)->ignoreGuessedPacket);
}

TEST(SshNegotiationTest, HmacWorkaroundPicksTheBugCompatibleMac) {
    const SshKexinit client = SshClientOffer(SshConfig(), kBugSsh2Hmac);
    const SshKexinit server =
        ServerOffer("diffie-hellman-group1-sha1", "ssh-rsa", "aes128-cbc", "hmac-sha1");
    EXPECT_EQ(NegotiateSsh(client, server, kBugSsh2Hmac)->macCs, &kMacHmacSha1BugCompatible);
    EXPECT_EQ(NegotiateSsh(client, server, 0)->macCs, &kMacHmacSha1);
}

struct BitsCase {
    const CipherDescriptor* cs;
    const CipherDescriptor* sc;
    const HashDescriptor* hash;
    std::uint32_t pbits;
    std::size_t exponentBits;
};

TEST(SshGroupExchangeTest, RequestedBitsFollowCipherAndHash) {
    const BitsCase cases[] = {
        {&kCipherAes256Ctr, &kCipherAes256Ctr, &kHashSha1, 2048, 320},
        {&kCipherAes128Ctr, &kCipherAes128Ctr, &kHashSha1, 1024, 256},
        {&kCipherAes256Ctr, &kCipherAes256Ctr, &kHashSha256, 4096, 512},
        {&kCipherAes128Cbc, &kCipherAes256Cbc, &kHashSha256, 4096, 512},  // the larger wins
        {&kCipherTripleDesCbc, &kCipherTripleDesCbc, &kHashSha256, 2048, 336},
        {&kCipherBlowfishCbc, &kCipherArcfour128, &kHashSha1, 1024, 256},
    };
    for (const BitsCase& c : cases) {
        EXPECT_EQ(SshGroupExchangeBits(*c.cs, *c.sc, *c.hash), c.pbits)
            << c.cs->sshName << "/" << c.sc->sshName << "/" << c.hash->name;
        EXPECT_EQ(SshExponentBits(*c.cs, *c.sc, *c.hash), c.exponentBits);
    }
}

}  // namespace
