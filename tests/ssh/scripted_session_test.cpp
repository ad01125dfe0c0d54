// Authentication and the session channel over the wire, against a scripted SSH-2
// server that really exchanges keys: protocol errors, refused channel opens and a
// server that stalls. Method choice, prompts, the hidden password length and the
// fallback command are covered message by message in userauth_test and channel_test.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "fake_ssh2_server.h"
#include "recording_link.h"
#include "resources/errors.h"
#include "ssh/channel.h"
#include "ssh/messages.h"
#include "ssh/session.h"
#include "ssh/userauth.h"

using testssh::FakeSsh2Server;
using testssh::ReadText;

namespace {

// ---- Server-side steps ------------------------------------------------------------

using Out = testssh::Message;

// Reads a packet of the type and returns a reader past its type byte (an empty
// reader, and a recorded problem, when something else came).
struct Message {
    SecureBytes bytes;
    SshReader reader;
};

Message Expect(FakeSsh2Server& s, std::uint8_t type) {
    Message m;
    std::optional<SecureBytes> packet = s.Receive();
    if (!packet || packet->empty() || (*packet)[0] != type) {
        s.Fail("expected message " + std::to_string(type) + ", got " +
               (packet && !packet->empty() ? std::to_string((*packet)[0]) : "nothing"));
        return m;
    }
    m.bytes = std::move(*packet);
    m.reader = SshReader(std::span<const std::uint8_t>(m.bytes).subspan(1));
    return m;
}

// Reads a user-authentication request for the test user; returns its method.
std::string AuthRequest(FakeSsh2Server& s) {
    Message m = Expect(s, kSshMsgUserauthRequest);
    const std::string user = ReadText(m.reader);
    if (user != "tester" || ReadText(m.reader) != "ssh-connection") s.Fail("bad request " + user);
    return ReadText(m.reader);
}

void ServiceAccepted(FakeSsh2Server& s) {
    Message m = Expect(s, kSshMsgServiceRequest);
    if (ReadText(m.reader) != "ssh-userauth") s.Fail("wrong service");
    s.Send(Out(kSshMsgServiceAccept).Str("ssh-userauth"));
}

constexpr std::uint32_t kServerChannel = 7;

// Service, none, password: logged in; then the session open with the large window
// and the "sftp" subsystem granted.
void RunningSession(FakeSsh2Server& s) {
    ServiceAccepted(s);
    if (AuthRequest(s) != "none") s.Fail("none expected first");
    s.Send(Out(kSshMsgUserauthFailure).Str("password").Bool(false));
    if (AuthRequest(s) != "password") s.Fail("password expected");
    s.Send(Out(kSshMsgUserauthSuccess));

    Message open = Expect(s, kSshMsgChannelOpen);
    std::uint32_t id = 0, window = 0, maxPacket = 0;
    if (ReadText(open.reader) != "session" || !open.reader.ReadUint32(&id) ||
        !open.reader.ReadUint32(&window) || !open.reader.ReadUint32(&maxPacket) ||
        window != kSshLargeWindow || maxPacket != kSshLargeMaxPacket)
        s.Fail("bad session open");
    s.Send(Out(kSshMsgChannelOpenConfirmation).U32(id).U32(kServerChannel).U32(32768).U32(32768));
    Message request = Expect(s, kSshMsgChannelRequest);
    std::uint32_t recipient = 0;
    if (!request.reader.ReadUint32(&recipient) || recipient != kServerChannel ||
        ReadText(request.reader) != "subsystem")
        s.Fail("subsystem request expected");
    s.Send(Out(kSshMsgChannelSuccess).U32(id));
}

// Reads the client's disconnect: reason and text.
std::pair<std::uint32_t, std::string> Disconnect(FakeSsh2Server& s) {
    std::optional<SecureBytes> packet = s.ReceiveType(kSshMsgDisconnect);
    if (!packet) return {0, "<no disconnect>"};
    SshReader reader(std::span<const std::uint8_t>(*packet).subspan(1));
    std::uint32_t reason = 0;
    EXPECT_TRUE(reader.ReadUint32(&reason));
    return {reason, ReadText(reader)};
}

// ---- Client side ------------------------------------------------------------------

struct Client {
    std::unique_ptr<SshSession> session;
    int result = -1;
    std::chrono::milliseconds elapsed{0};
};

Client Connect(FakeSsh2Server& server, const SshConfig& config) {
    Client client;
    const auto start = std::chrono::steady_clock::now();
    client.session = std::make_unique<SshSession>(
        config, std::make_unique<SshConnection>(config, server.TakeClientSocket()));
    client.result = client.session->WaitUntilReady();
    client.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    return client;
}

// ---- Authentication ---------------------------------------------------------------

TEST(SshScriptedAuthTest, StallDuringAuthenticationTimesOut) {
    FakeSsh2Server server([](FakeSsh2Server& s) {
        ServiceAccepted(s);
        AuthRequest(s);
        s.Stall(2500);
    });
    Client client = Connect(server, FakeSsh2Server::ClientConfig(1));
    EXPECT_EQ(client.result, fileErrorOperationTimeout);
    EXPECT_LT(client.elapsed.count(), 2400);
    EXPECT_FALSE(client.session->ready());
    client.session.reset();
    EXPECT_EQ(server.Finish(), "");
}

// ---- The session channel ------------------------------------------------------------

TEST(SshScriptedChannelTest, RequestForAnInvalidChannelIsAProtocolError) {
    std::pair<std::uint32_t, std::string> disconnect;
    FakeSsh2Server server([&](FakeSsh2Server& s) {
        RunningSession(s);
        s.Send(Out(kSshMsgChannelRequest).U32(99).Str("exit-status").Bool(false).U32(0));
        disconnect = Disconnect(s);
    });
    Client client = Connect(server, FakeSsh2Server::ClientConfig());
    ASSERT_EQ(client.result, 0) << client.session->errorText();
    std::uint8_t buffer[4];
    EXPECT_EQ(client.session->Read(buffer), -1);
    EXPECT_EQ(server.Finish(), "");
    EXPECT_EQ(disconnect.first, 2u);
    EXPECT_EQ(disconnect.second, "Received channel request for invalid channel 99");
    EXPECT_EQ(client.session->error(), fileErrorInvalidServerResponse);
    EXPECT_EQ(client.session->errorText(), "Received channel request for invalid channel 99");
}

TEST(SshScriptedChannelTest, ChannelsOpenedByTheServerAreRefused) {
    struct Row {
        const char* type;
        std::uint32_t reason;
        const char* text;
    };
    const Row rows[] = {
        {"x11", 1, "X11 forwarding is not enabled"},
        {"forwarded-tcpip", 1, "Remote port is not recognised"},
        {"auth-agent@openssh.com", 1, "Agent forwarding is not enabled"},
        {"direct-tcpip", 3, "Unsupported channel type requested"},
        {"session", 3, "Unsupported channel type requested"},
    };
    std::vector<std::string> refusals;
    FakeSsh2Server server([&](FakeSsh2Server& s) {
        RunningSession(s);
        std::uint32_t sender = 40;
        for (const Row& row : rows) {
            s.Send(Out(kSshMsgChannelOpen).Str(row.type).U32(++sender).U32(1000).U32(1000));
            Message m = Expect(s, kSshMsgChannelOpenFailure);
            std::uint32_t recipient = 0, reason = 0;
            EXPECT_TRUE(m.reader.ReadUint32(&recipient));
            EXPECT_TRUE(m.reader.ReadUint32(&reason));
            refusals.push_back(std::to_string(recipient) + " " + std::to_string(reason) + " " +
                               ReadText(m.reader));
        }
        // Something to read, so the client pumps until here.
        s.Send(Out(kSshMsgChannelData).U32(256).Str("x"));
    });
    Client client = Connect(server, FakeSsh2Server::ClientConfig());
    ASSERT_EQ(client.result, 0) << client.session->errorText();
    std::uint8_t buffer[4];
    EXPECT_EQ(client.session->Read(buffer), 1);
    EXPECT_EQ(server.Finish(), "");
    ASSERT_EQ(refusals.size(), std::size(rows));
    std::uint32_t sender = 40;
    for (std::size_t i = 0; i < refusals.size(); ++i)
        EXPECT_EQ(refusals[i], std::to_string(++sender) + " " + std::to_string(rows[i].reason) +
                                   " " + rows[i].text);
}

}  // namespace
