// The connection against scripted servers on loopback: version-line edge cases,
// servers that stall, close or send garbage, and what each leaves behind. (A stall
// during authentication is sshd_login_test's, through a relay in front of sshd.)
// (Method choice, prompts, channels and the fallback command are covered message by
// message in userauth_test and channel_test.)
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "platform/lasterror.h"
#include "platform/messages.h"
#include "resources/errors.h"
#include "ssh/messages.h"
#include "ssh/transport.h"
#include "ssh/version.h"
#include "support/scripted_peer.h"

using testsupport::PeerScript;
using testsupport::ScriptedPeer;

namespace {

SshConfig PeerConfig(const ScriptedPeer& peer, int timeoutSeconds = 5) {
    SshConfig config;
    config.host = "127.0.0.1";
    config.port = peer.port();
    config.timeoutSeconds = timeoutSeconds;
    return config;
}

// A packet as an unkeyed server would frame it.
std::string Plain(SshPacket packet) {
    SshPacketEncoder encoder;
    const SecureBytes wire = encoder.Encode(std::move(packet));
    return {wire.begin(), wire.end()};
}

struct Outcome {
    std::unique_ptr<SshConnection> connection;
    bool keys = false;
    std::chrono::milliseconds elapsed{0};
    int closedEvents = 0;
};

Outcome RunClient(const SshConfig& config) {
    Outcome outcome;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SshConnection::Start(config, &outcome.connection), 0);
    if (!outcome.connection) return outcome;
    outcome.connection->SetClosedHandler([&outcome] { ++outcome.closedEvents; });
    outcome.keys = outcome.connection->WaitForKeys();
    outcome.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    return outcome;
}

TEST(SshScriptedVersionTest, OldOpenSshGetsSsh2AndTheRsaPaddingWorkaround) {
    ScriptedPeer peer(
        PeerScript().Send("SSH-1.99-OpenSSH_3.1p1\r\n").Expect("SSH-2.0-Tollane_7.2").Close());
    Outcome o = RunClient(PeerConfig(peer));
    EXPECT_EQ(peer.Finish(), "");
    ASSERT_TRUE(o.connection);
    EXPECT_EQ(o.connection->protocol(), 2);
    EXPECT_EQ(o.connection->workarounds().mask, kBugSsh2RsaPadding);
    EXPECT_EQ(o.connection->clientVersion(), "SSH-2.0-Tollane_7.2");
    EXPECT_EQ(o.connection->serverVersion(), "SSH-1.99-OpenSSH_3.1p1");
    EXPECT_EQ(peer.received().at(0), "SSH-2.0-Tollane_7.2");
}

TEST(SshScriptedVersionTest, CiscoSsh15GetsSsh1LineAndItsWorkarounds) {
    ScriptedPeer peer(
        PeerScript().Send("SSH-1.5-Cisco-1.25\n").Expect("SSH-1.5-Tollane_7.2").Close());
    Outcome o = RunClient(PeerConfig(peer));
    ASSERT_TRUE(o.connection);
    EXPECT_FALSE(o.keys);
    EXPECT_EQ(o.connection->protocol(), 1);
    EXPECT_EQ(o.connection->clientVersion(), "SSH-1.5-Tollane_7.2");
    EXPECT_EQ(o.connection->workarounds().mask,
              kBugSsh1Ignore | kBugSsh1PlainPassword | kBugSsh1Rsa);
    EXPECT_TRUE(o.connection->closed());
    EXPECT_EQ(o.connection->error(), fileErrorRemoteShutdown);
    EXPECT_EQ(peer.Finish(), "");
}

TEST(SshScriptedVersionTest, Ssh2OnlyRefusesAnSsh15ServerWithoutAnswering) {
    ScriptedPeer peer(PeerScript().Send("SSH-1.5-Old_1.0\r\n"));
    SshConfig config = PeerConfig(peer);
    config.protocolChoice = SshProtocolChoice::Ssh2Only;
    Outcome o = RunClient(config);
    ASSERT_TRUE(o.connection);
    EXPECT_FALSE(o.keys);
    EXPECT_TRUE(o.connection->closed());
    EXPECT_EQ(o.connection->error(), fileErrorInvalidProtocolVersion);
    EXPECT_EQ(GetLastError(), MakeErrorCode(fileErrorInvalidProtocolVersion));
    EXPECT_EQ(o.closedEvents, 1);
    EXPECT_EQ(peer.Finish(), "");
    EXPECT_TRUE(peer.received().empty());
}

// Silence ends within the time-out with the connection kept; an endless banner
// ends at once with the connection closed.
TEST(SshScriptedFaultTest, SilenceAndEndlessBannersEndWithinTheTimeout) {
    std::string banner;
    while (banner.size() <= SshVersionReader::kMaxPreamble)
        banner += "Welcome to nowhere\r\n";
    const struct {
        const char* name;
        PeerScript script;
        bool closed;
        int error;
        long minimumMs;
        long maximumMs;
    } rows[] = {
        {"no greeting", PeerScript().Stall(1500), false, fileErrorOperationTimeout, 900, 2500},
        {"silence after the version",
         PeerScript().Send("SSH-2.0-Staller\r\n").Expect("SSH-2.0-Tollane").Stall(1500), false,
         fileErrorOperationTimeout, 900, 2500},
        {"endless banner", PeerScript().Send(banner).Stall(1500), true,
         fileErrorInvalidServerResponse, 0, 900},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedPeer peer(row.script);
        Outcome o = RunClient(PeerConfig(peer, 1));
        ASSERT_TRUE(o.connection);
        EXPECT_FALSE(o.keys);
        EXPECT_EQ(o.connection->closed(), row.closed);
        EXPECT_EQ(row.closed ? MakeErrorCode(o.connection->error()) : GetLastError(),
                  MakeErrorCode(row.error));
        EXPECT_GE(o.elapsed.count(), row.minimumMs);
        EXPECT_LT(o.elapsed.count(), row.maximumMs);
        o.connection.reset();
        const std::string finish = peer.Finish();
        if (!row.closed) {
            EXPECT_EQ(finish, "");  // a closed peer may be cut short
        }
    }
}

// The host's window messages are served during the wait; a handler that cancels
// the blocking call ends the pending operation at once, with the connection kept.
TEST(SshScriptedFaultTest, CancelFromAMessageHandlerEndsTheWait) {
    ScriptedPeer peer(
        PeerScript().Send("SSH-2.0-Staller\r\n").Expect("SSH-2.0-Tollane").Stall(1500));
    std::unique_ptr<SshConnection> connection;
    ASSERT_EQ(SshConnection::Start(PeerConfig(peer, 5), &connection), 0);
    ASSERT_EQ(connection->NetworkWait(), 1);  // the version line
    HWND window = CreateMessageWindow(
        [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return NetCancelBlockingCall(); }, nullptr);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(PostMessageA(window, WM_USER + 1, 0, 0));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(connection->WaitForKeys());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_EQ(GetLastError(), MakeErrorCode(fileErrorOperationCanceled));
    EXPECT_FALSE(connection->closed());
    DestroyWindow(window);
    connection.reset();
    EXPECT_EQ(peer.Finish(), "");
}

// What a server sends after its version line ends the connection with its error
// and text, promptly and once; afterwards nothing can be sent or received.
TEST(SshScriptedFaultTest, BadServerBytesEndTheConnection) {
    SshKexinit modern;
    modern.lists[kListKex] = {"sntrup761x25519-sha512@openssh.com"};
    modern.lists[kListHostKey] = {"ssh-ed25519"};
    for (std::size_t i = kListCipherCs; i <= kListCompressionSc; ++i)
        modern.lists[i] = {"x"};
    const SecureBytes kexinit = BuildSshKexinit(modern);
    const struct {
        const char* name;
        std::string bytes;
        bool thenClose;
        int error;
        const char* message;  // its beginning
        std::uint32_t sequence;
    } rows[] = {
        {"closed inside a packet", std::string("\x00\x00\x01\x0c\x05\x14", 6), true,
         fileErrorRemoteShutdown, "Server closed the connection in a packet", 0},
        {"impossible length", std::string("\xff\xff\xff\xf0\x04xyz", 8), false,
         fileErrorSecurityDecryption, "Incoming packet length out of range", 0},
        {"disconnect",
         Plain(std::move(
             SshPacket(kSshMsgDisconnect).PutUint32(2).PutString("go away").PutString(""))),
         false, fileErrorRemoteShutdown, "Disconnected: go away", 1},
        {"no common algorithm",
         Plain(std::move(SshPacket(kSshMsgKexinit).PutBytes(std::span(kexinit).subspan(1)))), false,
         fileErrorSecurityContext,
         "No common key-exchange algorithm; server offers sntrup761x25519-sha512@openssh.com; "
         "client offers curve25519-sha256,",
         1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        PeerScript script =
            PeerScript().Send("SSH-2.0-Bad\r\n").Expect("SSH-2.0-Tollane").Send(row.bytes);
        if (row.thenClose) script.Close();
        ScriptedPeer peer(std::move(script));
        Outcome o = RunClient(PeerConfig(peer));
        ASSERT_TRUE(o.connection);
        EXPECT_FALSE(o.keys);
        EXPECT_TRUE(o.connection->closed());
        EXPECT_EQ(o.connection->error(), row.error);
        EXPECT_TRUE(o.connection->closeMessage().starts_with(row.message))
            << o.connection->closeMessage();
        EXPECT_EQ(o.connection->incomingSequence(), row.sequence);
        EXPECT_LT(o.elapsed.count(), 2000);
        EXPECT_EQ(o.closedEvents, 1);
        SecureBytes payload;
        EXPECT_FALSE(o.connection->ReceivePacket(&payload));
        EXPECT_FALSE(o.connection->SendPacket(SshPacket(kSshMsgIgnore)));
        EXPECT_EQ(o.connection->NetworkWait(), -1);
        EXPECT_EQ(peer.Finish(), "");
    }
}

TEST(SshScriptedFaultTest, ServicePacketsWaitForTheFirstKeys) {
    ScriptedPeer peer(PeerScript().Send("SSH-2.0-Slow\r\n").Expect("SSH-2.0-Tollane").Stall(300));
    SshConfig config = PeerConfig(peer, 1);
    std::unique_ptr<SshConnection> connection;
    ASSERT_EQ(SshConnection::Start(config, &connection), 0);
    const std::uint32_t before = connection->outgoingSequence();
    ASSERT_TRUE(connection->SendPacket(std::move(SshPacket(kSshMsgServiceRequest).PutString("x"))));
    EXPECT_EQ(connection->outgoingSequence(), before);  // held, not framed
    EXPECT_EQ(connection->NetworkWait(), 1);
    connection.reset();
    EXPECT_EQ(peer.Finish(), "");
}

}  // namespace
