// The transport against the real OpenSSH servers of scripts/servers.sh: every
// classic key exchange, cipher, MAC and host key the legacy instance accepts, proven
// by a service request that only succeeds over working keys in both directions.
// Tests that pin a classic algorithm (or need ssh-rsa) use the legacy instance;
// those that take the default offer use the main one, which keeps OpenSSH's defaults.
#include <gtest/gtest.h>

#include <algorithm>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "crypto/sshbuf.h"
#include "resources/errors.h"
#include "ssh/messages.h"
#include "ssh/transport.h"
#include "support/server_settings.h"

namespace {

constexpr char kMainPort[] = "FT_TEST_SFTP_PORT";
constexpr char kLegacyPort[] = "FT_TEST_SFTP_LEGACY_PORT";

// A configuration for the test server on the port that the setting names, or
// nullopt (and the reason) when it is absent.
std::optional<SshConfig> ServerConfig(const char* portSetting, std::string* why) {
    const std::string host = Setting("FT_TEST_HOST");
    const std::string port = Setting(portSetting);
    if (host.empty() || port.empty()) {
        *why = std::string(portSetting) + " not set (scripts/servers.sh start)";
        return std::nullopt;
    }
    SshConfig config;
    config.host = host;
    config.port = static_cast<std::uint16_t>(std::stoi(port));
    config.timeoutSeconds = 10;
    return config;
}

#define REQUIRE_SERVER(config, portSetting)                             \
    std::string why_;                                                   \
    std::optional<SshConfig> config = ServerConfig(portSetting, &why_); \
    if (!config) {                                                      \
        if (InCi()) FAIL() << why_;                                     \
        GTEST_SKIP() << why_;                                           \
    }

// Connects, completes the key exchange and asks for the authentication service.
void ExpectServiceAccept(SshConnection& connection) {
    ASSERT_TRUE(connection.WaitForKeys()) << connection.closeMessage();
    ASSERT_TRUE(connection.SendPacket(
        std::move(SshPacket(kSshMsgServiceRequest).PutString("ssh-userauth"))));
    SecureBytes reply;
    ASSERT_TRUE(connection.ReceivePacket(&reply)) << connection.closeMessage();
    SshReader reader(reply);
    std::uint8_t type = 0;
    std::string_view service;
    ASSERT_TRUE(reader.ReadByte(&type) && reader.ReadString(&service));
    EXPECT_EQ(type, kSshMsgServiceAccept);
    EXPECT_EQ(service, "ssh-userauth");
}

std::unique_ptr<SshConnection> Connect(const SshConfig& config) {
    std::unique_ptr<SshConnection> connection;
    const int error = SshConnection::Start(config, &connection);
    EXPECT_EQ(error, 0);
    return connection;
}

struct Pinned {
    const char* kex;
    const char* hostKey;
    const char* cipher;
    const char* mac;
};

class SshdAlgorithmTest : public ::testing::TestWithParam<Pinned> {};

TEST_P(SshdAlgorithmTest, KeyExchangeAndServiceAccept) {
    REQUIRE_SERVER(config, kLegacyPort);
    const Pinned& p = GetParam();
    config->kexOverride = p.kex;
    config->hostKeyOverride = p.hostKey;
    config->cipherOverride = p.cipher;
    config->macOverride = p.mac;
    std::unique_ptr<SshConnection> connection = Connect(*config);
    ASSERT_TRUE(connection);
    ExpectServiceAccept(*connection);
    const SshNegotiated& n = *connection->negotiated();
    EXPECT_EQ(n.kex->name, p.kex);
    EXPECT_EQ(n.hostKey->sshName, p.hostKey);
    EXPECT_STREQ(n.cipherCs->sshName, p.cipher);
    EXPECT_STREQ(n.macSc->sshName, p.mac);
    EXPECT_EQ(connection->protocol(), 2);
    EXPECT_EQ(connection->sessionId().size(), n.kex->hash->digestLength);
    connection->Disconnect(kSshDisconnectByApplication, "done");
    EXPECT_EQ(connection->error(), 0);
    EXPECT_EQ(connection->closeMessage(), "Disconnected: done");
}

// Each key exchange, host key, cipher family and MAC at least once; aes128-cbc runs
// in the re-key test below.
INSTANTIATE_TEST_SUITE_P(
    Algorithms, SshdAlgorithmTest,
    ::testing::Values(
        Pinned{"diffie-hellman-group-exchange-sha256", "ssh-rsa", "aes256-ctr", "hmac-sha1"},
        Pinned{"diffie-hellman-group-exchange-sha1", "ssh-dss", "aes128-ctr", "hmac-sha1-96"},
        Pinned{"diffie-hellman-group14-sha1", "ssh-rsa", "aes192-ctr", "hmac-md5"},
        Pinned{"diffie-hellman-group1-sha1", "ssh-rsa", "3des-cbc", "hmac-sha1"},
        Pinned{"diffie-hellman-group14-sha1", "ssh-dss", "aes256-cbc", "hmac-md5"}));

// A stock server: the modern algorithms, the strict key exchange and the
// extension message with the signature algorithms it accepts.
TEST(SshdTransportTest, DefaultOfferNegotiatesTheModernAlgorithms) {
    REQUIRE_SERVER(config, kMainPort);
    std::unique_ptr<SshConnection> connection = Connect(*config);
    ASSERT_TRUE(connection);
    ASSERT_NO_FATAL_FAILURE(ExpectServiceAccept(*connection));
    const SshNegotiated& n = *connection->negotiated();
    EXPECT_EQ(n.kex->name, "curve25519-sha256");
    EXPECT_EQ(n.hostKey->sshName, "ssh-ed25519");
    EXPECT_EQ(n.aeadCs, &kAeadChaCha20Poly1305);
    EXPECT_EQ(n.aeadSc, &kAeadChaCha20Poly1305);
    EXPECT_TRUE(connection->keyExchange().strict());
    const auto& sigAlgs = connection->serverSignatureAlgorithms();
    EXPECT_NE(std::find(sigAlgs.begin(), sigAlgs.end(), "rsa-sha2-512"), sigAlgs.end());
    EXPECT_EQ(connection->serverVersion().rfind("SSH-2.0-OpenSSH_", 0), 0u);
    EXPECT_EQ(connection->clientVersion(), "SSH-2.0-Tollane_7.2");
}

// The fingerprint text against ssh-keygen's MD5 form of the server's RSA key.
TEST(SshdTransportTest, FingerprintMatchesSshKeygen) {
    REQUIRE_SERVER(config, kLegacyPort);
    const std::string dir = Setting("FT_TEST_SERVERS_DIR");
    if (dir.empty()) GTEST_SKIP() << "FT_TEST_SERVERS_DIR not set";
    const std::string command =
        "timeout 10 ssh-keygen -l -E md5 -f " + dir + "/ssh/ssh_host_rsa_key.pub 2>/dev/null";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        pclose(pipe);
    }
    // "3072 MD5:aa:bb:... comment (RSA)"
    const std::size_t md5 = output.find(" MD5:");
    if (md5 == std::string::npos) GTEST_SKIP() << "ssh-keygen gave no fingerprint";
    const std::string bits = output.substr(0, md5);
    const std::string hex = output.substr(md5 + 5, output.find(' ', md5 + 5) - md5 - 5);

    config->hostKeyOverride = "ssh-rsa";
    std::unique_ptr<SshConnection> connection = Connect(*config);
    ASSERT_TRUE(connection);
    ASSERT_TRUE(connection->WaitForKeys()) << connection->closeMessage();
    EXPECT_EQ(connection->fingerprint(), "ssh-rsa " + bits + " " + hex);
}

// OpenSSH accepts re-keying only once the user is logged in, so the re-key tests
// log in with a bare password request first (authentication proper is not the
// transport's business).
void LogIn(SshConnection& connection) {
    ExpectServiceAccept(connection);
    // The password goes out together with an ignore message, as the camouflage does.
    std::vector<SshPacket> packets;
    packets.push_back(std::move(SshPacket(50)
                                    .PutString(Setting("FT_TEST_USER"))
                                    .PutString("ssh-connection")
                                    .PutString("password")
                                    .PutBool(false)
                                    .PutString(Setting("FT_TEST_PASSWORD"))));
    packets.push_back(std::move(SshPacket(kSshMsgIgnore).PutString(std::string(100, 'z'))));
    ASSERT_TRUE(connection.SendPacketsTogether(std::move(packets)));
    SecureBytes reply;
    ASSERT_TRUE(connection.ReceivePacket(&reply)) << connection.closeMessage();
    ASSERT_EQ(reply.at(0), 52) << "password login refused";
}

// A global request that the server must answer (with a failure): proof that both
// directions work after a re-key.
void ExpectGlobalRequestAnswered(SshConnection& connection) {
    ASSERT_TRUE(connection.SendPacket(
        std::move(SshPacket(80).PutString("no-such-request@tollane").PutBool(true))));
    // The server may send requests of its own first (its host keys, for example).
    SecureBytes reply;
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(connection.ReceivePacket(&reply)) << connection.closeMessage();
        if (reply.at(0) != 80) break;
    }
    EXPECT_EQ(reply.at(0), 82);
}

#define REQUIRE_LOGIN()                                                         \
    if (Setting("FT_TEST_USER").empty() || Setting("FT_TEST_PASSWORD").empty()) \
    GTEST_SKIP() << "no test user"

// A tiny data limit forces client-initiated re-keys; the session id stays and the
// connection keeps working across them.
TEST(SshdTransportTest, RekeyByVolumeKeepsSessionAndConnection) {
    REQUIRE_SERVER(config, kLegacyPort);
    REQUIRE_LOGIN();
    config->rekeyDataLimit = "2K";
    config->kexOverride = "diffie-hellman-group14-sha1";
    std::unique_ptr<SshConnection> connection = Connect(*config);
    ASSERT_TRUE(connection);
    LogIn(*connection);
    ASSERT_EQ(connection->completedKeyExchanges(), 1);
    const std::vector<std::uint8_t> sessionId(connection->sessionId().begin(),
                                              connection->sessionId().end());
    const std::string filler(700, 'x');
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(connection->SendPacket(std::move(SshPacket(kSshMsgIgnore).PutString(filler))));
    }
    EXPECT_EQ(connection->lastRekeyReason(), "too much data sent");
    ExpectGlobalRequestAnswered(*connection);
    EXPECT_GE(connection->completedKeyExchanges(), 2);
    EXPECT_EQ(
        std::vector<std::uint8_t>(connection->sessionId().begin(), connection->sessionId().end()),
        sessionId);
}

// A packet sent while a re-key runs is held back, then delivered under the new keys.
TEST(SshdTransportTest, PacketsHeldDuringRekeyAreDeliveredAfterIt) {
    REQUIRE_SERVER(config, kLegacyPort);
    REQUIRE_LOGIN();
    config->cipherOverride = "aes128-cbc";  // also exercises the ignore messages before CBC packets
    // The re-key's host key is compared with the first one (no file is read here).
    config->hostKeyPolicy = SshHostKeyPolicy::Strict;
    std::unique_ptr<SshConnection> connection = Connect(*config);
    ASSERT_TRUE(connection);
    LogIn(*connection);
    connection->Rekey("test");
    ASSERT_TRUE(connection->keyExchange().running());
    ExpectGlobalRequestAnswered(*connection);
    EXPECT_EQ(connection->completedKeyExchanges(), 2);
}

// With the re-key workaround the client starts no exchange of its own after the
// first, whatever the volume; pings still go out.
TEST(SshdTransportTest, RekeyWorkaroundSuppressesClientExchanges) {
    REQUIRE_SERVER(config, kMainPort);
    REQUIRE_LOGIN();
    config->rekeyDataLimit = "1K";
    config->workaround(SshWorkaround::Ssh2Rekey) = SshWorkaroundSetting::AlwaysOn;
    std::unique_ptr<SshConnection> connection = Connect(*config);
    ASSERT_TRUE(connection);
    ASSERT_NO_FATAL_FAILURE(LogIn(*connection));
    const std::string filler(700, 'y');
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(connection->SendPacket(std::move(SshPacket(kSshMsgIgnore).PutString(filler))));
        ASSERT_TRUE(connection->Ping());
    }
    connection->Rekey("test");
    EXPECT_FALSE(connection->keyExchange().running());
    ExpectGlobalRequestAnswered(*connection);
    EXPECT_EQ(connection->completedKeyExchanges(), 1);
}

// Current OpenSSH no longer knows the old group-exchange request (message 30 with
// pbits alone), which is why the newer request is the default. Under the strict
// key exchange it disconnects (without, it would answer "unimplemented", which
// ends the exchange as well). The exchange must fail at once, not by time-out.
TEST(SshdTransportTest, OldGroupExchangeRequestIsRefusedByCurrentServer) {
    REQUIRE_SERVER(config, kLegacyPort);
    config->groupExchangeOldRequest = true;
    config->kexOverride = "diffie-hellman-group-exchange-sha1";
    config->timeoutSeconds = 5;
    std::unique_ptr<SshConnection> connection = Connect(*config);
    ASSERT_TRUE(connection);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(connection->WaitForKeys());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_TRUE(connection->closed());
    EXPECT_EQ(connection->error(), fileErrorRemoteShutdown) << connection->closeMessage();
}

TEST(SshdTransportTest, RefusedPortIsANetworkError) {
    REQUIRE_SERVER(config, kMainPort);
    config->port = 1;  // nothing listens on loopback port 1
    std::unique_ptr<SshConnection> connection;
    EXPECT_EQ(SshConnection::Start(*config, &connection), 10061);
    EXPECT_FALSE(connection);
}

}  // namespace
