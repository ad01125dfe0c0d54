// The transport and the session against the real OpenSSH servers of
// scripts/servers.sh: the default offer, the host-key fingerprint, re-keying and
// refusals, each proven by requests that only succeed over working keys in both
// directions; the host-key policy's refusals and a stall during the login (through a
// relay); then keyboard-interactive and password logins, a wrong password, and a
// large echo through `cat` that runs
// the flow control through many windows in both directions. (Every algorithm one at
// a time is ssh_algorithms_test's business.) Tests that pin a classic algorithm
// (or need ssh-rsa) use the legacy instance; those that take the default offer use
// the main one, which keeps OpenSSH's defaults.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/pubkey.h"
#include "crypto/sshbuf.h"
#include "resources/errors.h"
#include "ssh/known_hosts.h"
#include "ssh/messages.h"
#include "ssh/session.h"
#include "ssh/transport.h"
#include "support/server_settings.h"
#include "support/stalling_relay.h"
#include "support/test_files.h"

namespace {

constexpr char kMainPort[] = "FT_TEST_SFTP_PORT";
constexpr char kLegacyPort[] = "FT_TEST_SFTP_LEGACY_PORT";

// A configuration for the test server on the port that the setting names; a test
// whose server is not configured fails under CI and is skipped elsewhere.
SshConfig ServerConfig(const char* portSetting) {
    SshConfig config;
    config.host = Setting("FT_TEST_HOST");
    config.port = static_cast<std::uint16_t>(std::stoi(Setting(portSetting)));
    config.timeoutSeconds = 10;
    return config;
}

#define REQUIRE_SERVER(config, portSetting)               \
    REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", portSetting); \
    std::optional<SshConfig> config = ServerConfig(portSetting)

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
    REQUIRE_SERVER_SETTINGS("FT_TEST_SERVERS_DIR");
    const std::string dir = Setting("FT_TEST_SERVERS_DIR");
    const std::string command =
        "timeout 10 ssh-keygen -l -E md5 -f " + dir + "/ssh/ssh_host_rsa_key.pub 2>/dev/null";
    const std::string output = CommandOutput(command);
    // "3072 MD5:aa:bb:... comment (RSA)"
    const std::size_t md5 = output.find(" MD5:");
    ASSERT_NE(md5, std::string::npos) << "ssh-keygen gave no fingerprint: " << output;
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

#define REQUIRE_LOGIN() REQUIRE_SERVER_SETTINGS("FT_TEST_USER", "FT_TEST_PASSWORD")

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
// first, whatever the volume; pings still go out, and with a ping interval an
// idle connection sends one on its own, which the server takes.
TEST(SshdTransportTest, RekeyWorkaroundSuppressesClientExchangesButNotPings) {
    REQUIRE_SERVER(config, kMainPort);
    REQUIRE_LOGIN();
    config->rekeyDataLimit = "1K";
    config->pingIntervalSeconds = 1;
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
    const std::uint32_t before = connection->outgoingSequence();
    // Each wait ends by the time the ping is due.
    for (int i = 0; i < 5 && connection->outgoingSequence() == before; ++i)
        connection->NetworkWait();
    EXPECT_EQ(connection->outgoingSequence(), before + 1);
    ExpectGlobalRequestAnswered(*connection);
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

// ---- Refusals before the login ----------------------------------------------------

// The host-key policy's refusals (what it lets through is cli_host_key_test's): each
// ends the connection before authentication starts, naming the key's fingerprint.
TEST(SshdTransportTest, HostKeyPolicyRefusesBeforeAuthentication) {
    REQUIRE_SERVER(config, kMainPort);
    REQUIRE_LOGIN();
    REQUIRE_SERVER_SETTINGS("FT_TEST_SSH_KEY_DIR");
    // "type base64" of one of the server's public host keys.
    auto hostKey = [](const char* file) {
        std::istringstream fields(ReadFile(Setting("FT_TEST_SSH_KEY_DIR") + "/" + file));
        std::string type, base64;
        fields >> type >> base64;
        return type + " " + base64;
    };
    const std::string name = KnownHostName(config->host, config->port);
    const std::string key = hostKey("ssh_host_ed25519_key.pub");
    const std::string other = hostKey("ssh_host_rsa_key.pub");
    const struct {
        const char* name;
        SshHostKeyPolicy policy;
        std::string file;
        SshHostKeyStatus status;
        const char* textHas;
    } rows[] = {
        {"strict refuses an unknown host", SshHostKeyPolicy::Strict, "", SshHostKeyStatus::Unknown,
         "no host key is known"},
        {"revoked key", SshHostKeyPolicy::AcceptNew, "@revoked " + name + " " + key + "\n",
         SshHostKeyStatus::Revoked, "revoked"},
        {"certificate authority", SshHostKeyPolicy::AcceptNew,
         "@cert-authority " + name + " " + other + "\n", SshHostKeyStatus::NotVerifiable,
         "certificates are not supported"},
    };
    ScratchFolder folder("known-hosts");
    config->hostKeyOverride = "ssh-ed25519";
    config->userName = Setting("FT_TEST_USER");
    config->password = Setting("FT_TEST_PASSWORD");
    config->knownHostsFile = (folder / "known_hosts").string();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        WriteFile(config->knownHostsFile, row.file);
        config->hostKeyPolicy = row.policy;
        SshSession session(*config, Connect(*config));
        EXPECT_EQ(session.WaitUntilReady(), fileErrorSecurityHostKey);
        EXPECT_EQ(session.hostKey().status, row.status);
        EXPECT_NE(session.hostKey().text.find(row.textHas), std::string::npos)
            << session.hostKey().text;
        EXPECT_EQ(session.userAuth(), nullptr) << "no authentication packet may leave";
        const std::string fingerprint =
            PublicKeySha256Fingerprint(session.connection().hostKeyBlob());
        EXPECT_NE(session.errorText().find(fingerprint), std::string::npos) << session.errorText();
        EXPECT_TRUE(session.closed());
    }
}

// A server that falls silent once the login has begun: the wait for the session ends
// by its time-out. The relay passes what the server sends up to its service accept
// (counted on a first connection), then holds back the answer to the login.
TEST(SshdTransportTest, StallDuringAuthenticationTimesOut) {
    REQUIRE_SERVER(config, kMainPort);
    REQUIRE_LOGIN();
    std::size_t handshake = 0;
    {
        testsupport::StallingRelay relay(config->port, SIZE_MAX);
        SshConfig counted = *config;
        counted.port = static_cast<std::uint16_t>(relay.port());
        std::unique_ptr<SshConnection> connection = Connect(counted);
        ASSERT_TRUE(connection);
        ASSERT_NO_FATAL_FAILURE(ExpectServiceAccept(*connection));
        handshake = relay.forwarded();
    }
    testsupport::StallingRelay relay(config->port, handshake);
    config->port = static_cast<std::uint16_t>(relay.port());
    config->timeoutSeconds = 1;
    config->userName = Setting("FT_TEST_USER");
    config->password = Setting("FT_TEST_PASSWORD");
    const auto start = std::chrono::steady_clock::now();
    SshSession session(*config, Connect(*config));
    EXPECT_EQ(session.WaitUntilReady(), fileErrorOperationTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2400));
    EXPECT_TRUE(relay.stalled());
    EXPECT_NE(session.userAuth(), nullptr) << "the stall came before the keys";
    EXPECT_FALSE(session.ready());
}

// ---- Login and the session channel ------------------------------------------------

// The legacy server with the test user, asking for the "sftp" subsystem; the SHA-1
// group exchange keeps the run short.
#define REQUIRE_SESSION_SERVER(config)                             \
    REQUIRE_SERVER(config, kLegacyPort);                           \
    REQUIRE_SERVER_SETTINGS("FT_TEST_USER", "FT_TEST_PASSWORD");   \
    config->userName = Setting("FT_TEST_USER");                    \
    config->password = Setting("FT_TEST_PASSWORD");                \
    config->remoteCommand = "sftp";                                \
    config->remoteCommandIsSubsystem = true;                       \
    config->fallbackCommand = "exec /usr/lib/openssh/sftp-server"; \
    config->kexOverride = "diffie-hellman-group14-sha1"

std::span<const std::uint8_t> Bytes(const std::vector<std::uint8_t>& bytes) {
    return bytes;
}

struct LoginCase {
    const char* name;
    bool keyboardInteractive;
    const char* expectedMethod;
};

class SshdLoginTest : public ::testing::TestWithParam<LoginCase> {};

// Each method logs in with the password sent once (that the subsystem then answers
// is every SftpServerTest's), and the close ends the connection.
TEST_P(SshdLoginTest, LogsInAndClosesAndAWrongPasswordGoesOutOnce) {
    REQUIRE_SESSION_SERVER(config);
    config->allowKeyboardInteractive = GetParam().keyboardInteractive;
    std::unique_ptr<SshSession> session;
    ASSERT_EQ(SshSession::Connect(*config, &session), 0);
    ASSERT_TRUE(session->ready());
    EXPECT_EQ(session->userAuth()->method(), GetParam().expectedMethod);
    EXPECT_EQ(session->userAuth()->passwordsSent(), 1);
    session->Close();
    EXPECT_TRUE(session->closed());
    EXPECT_EQ(session->connection().closeMessage(), "All channels closed");

    // A wrong password goes out once; the refusal after it ends the login at once.
    config->password = "not-the-password";
    session.reset();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SshSession::Connect(*config, &session), fileErrorAuthenticationFailed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    EXPECT_FALSE(session);
}

INSTANTIATE_TEST_SUITE_P(Methods, SshdLoginTest,
                         ::testing::Values(LoginCase{"KeyboardInteractive", true,
                                                     "keyboard-interactive"},
                                           LoginCase{"Password", false, "password"}),
                         [](const auto& info) { return std::string(info.param.name); });

// 256 KiB through `cat`: sixteen of our windows in, many of the server's out,
// byte for byte; then end-of-file ends the command, whose status is recorded.
TEST(SshdSessionTest, LargeEchoThroughCatKeepsEveryByte) {
    REQUIRE_SESSION_SERVER(config);
    config->remoteCommand = "cat; exit 3";
    config->remoteCommandIsSubsystem = false;
    config->fallbackCommand.clear();
    std::unique_ptr<SshSession> session;
    ASSERT_EQ(SshSession::Connect(*config, &session), 0);

    std::vector<std::uint8_t> data(256 * 1024);
    std::uint32_t x = 12345;
    for (std::uint8_t& byte : data) {
        x = x * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(x >> 16);
    }
    ASSERT_TRUE(session->Send(Bytes(data)));
    session->SendEof();
    std::vector<std::uint8_t> echoed;
    std::uint8_t buffer[5000];
    for (int rounds = 0; rounds < 100000; ++rounds) {
        const long count = session->Read(buffer);
        ASSERT_GE(count, 0) << session->errorText();
        if (count == 0) break;
        echoed.insert(echoed.end(), buffer, buffer + count);
    }
    EXPECT_EQ(echoed.size(), data.size());
    EXPECT_TRUE(echoed == data);
    session->Close();
    EXPECT_TRUE(session->closed());
    EXPECT_EQ(session->exit().status.value_or(999), 3u);
}

}  // namespace
