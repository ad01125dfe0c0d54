// What the client offers (the order rules, not the table), how the key-exchange init message
// travels, and how the two offers are matched.
#include <gtest/gtest.h>

#include <string>

#include "crypto/sshbuf.h"
#include "ssh/algorithms.h"
#include "ssh/version.h"

namespace {

// The first offer asks for the extension message and the strict exchange after
// the real methods; a re-key asks for neither. Both directions get one list.
TEST(SshOfferTest, FirstOfferAloneCarriesTheExtensionMarkers) {
    const SshKexinit offer = SshClientOffer(SshConfig(), 0);
    const SshNameList& kex = offer.lists[kListKex];
    ASSERT_GE(kex.size(), 3u);
    EXPECT_EQ(kex.front(), "curve25519-sha256");
    EXPECT_EQ(kex.end()[-2], "ext-info-c");
    EXPECT_EQ(kex.back(), "kex-strict-c-v00@openssh.com");
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

TEST(SshKexinitTest, RoundTripsAndRefusesTruncation) {
    SshKexinit offer = SshClientOffer(SshConfig(), 0);
    offer.firstPacketFollows = true;
    const SecureBytes message = BuildSshKexinit(offer);
    const std::optional<SshKexinit> parsed = ParseSshKexinit(message);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->lists, offer.lists);
    EXPECT_TRUE(parsed->firstPacketFollows);
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

    const std::optional<SshNegotiated> etm = NegotiateSsh(
        client,
        ServerOffer("diffie-hellman-group14-sha256,kex-strict-s-v00@openssh.com", "rsa-sha2-256",
                    "aes128-ctr", "hmac-sha1,hmac-sha2-512-etm@openssh.com"),
        0);
    ASSERT_TRUE(etm);
    EXPECT_TRUE(etm->strictKex);
    EXPECT_STREQ(etm->cipherCs->sshName, "aes128-ctr");
    EXPECT_EQ(etm->macCs, &kMacHmacSha512);
    EXPECT_TRUE(etm->etmSc);
    const SshNegotiatedNames names = NamesOf(*etm);
    EXPECT_EQ(names.macSc, "hmac-sha2-512-etm@openssh.com");
    EXPECT_EQ(names.hostKey, "rsa-sha2-256");
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
    // The client prefers group 14; the server guessed group 1.
    EXPECT_TRUE(NegotiateSsh(client, server, 0)->ignoreGuessedPacket);
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
