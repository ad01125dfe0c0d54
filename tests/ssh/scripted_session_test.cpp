// Authentication and the session channel over the wire, against a scripted SSH-2
// server that really exchanges keys: prompts, protocol errors, refused channel opens
// and a server that stalls. Method choice, the hidden password length and the
// fallback command are covered message by message in userauth_test and channel_test.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "fake_ssh2_server.h"
#include "resources/errors.h"
#include "ssh/channel.h"
#include "ssh/messages.h"
#include "ssh/session.h"
#include "ssh/userauth.h"

using testssh::FakeSsh2Server;

namespace {

// ---- Server-side steps ------------------------------------------------------------

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

std::string ReadText(SshReader& reader) {
    std::string_view text;
    return reader.ReadString(&text) ? std::string(text) : std::string("<missing>");
}

void ServiceAccepted(FakeSsh2Server& s) {
    Message m = Expect(s, kSshMsgServiceRequest);
    if (ReadText(m.reader) != "ssh-userauth") s.Fail("wrong service");
    SshWriter w;
    w.PutByte(kSshMsgServiceAccept);
    w.PutString(std::string_view("ssh-userauth"));
    s.Send(w);
}

// Reads a user-authentication request; returns its method, the reader after it.
std::string AuthRequest(FakeSsh2Server& s, Message* out = nullptr) {
    Message m = Expect(s, kSshMsgUserauthRequest);
    const std::string user = ReadText(m.reader);
    const std::string service = ReadText(m.reader);
    if (user != "tester" || service != "ssh-connection") s.Fail("bad request header " + user);
    const std::string method = ReadText(m.reader);
    if (out) *out = std::move(m);
    return method;
}

void AuthFailure(FakeSsh2Server& s, std::string_view methods) {
    SshWriter w;
    w.PutByte(kSshMsgUserauthFailure);
    w.PutString(methods);
    w.PutBool(false);
    s.Send(w);
}

void AuthSuccess(FakeSsh2Server& s) {
    const std::uint8_t success[] = {kSshMsgUserauthSuccess};
    s.Send(success);
}

// Service, none, password: logged in.
void LogInWithPassword(FakeSsh2Server& s) {
    ServiceAccepted(s);
    if (AuthRequest(s) != "none") s.Fail("none expected first");
    AuthFailure(s, "password");
    if (AuthRequest(s) != "password") s.Fail("password expected");
    AuthSuccess(s);
}

constexpr std::uint32_t kServerChannel = 7;

// Confirms the session channel; returns the client's channel number.
std::uint32_t ConfirmSession(FakeSsh2Server& s, std::uint32_t window = 32768,
                             std::uint32_t maxPacket = 32768) {
    Message m = Expect(s, kSshMsgChannelOpen);
    std::uint32_t id = 0, clientWindow = 0, clientMax = 0;
    if (ReadText(m.reader) != "session" || !m.reader.ReadUint32(&id) ||
        !m.reader.ReadUint32(&clientWindow) || !m.reader.ReadUint32(&clientMax) ||
        clientWindow != kSshLargeWindow || clientMax != kSshLargeMaxPacket)
        s.Fail("bad session open");
    SshWriter w;
    w.PutByte(kSshMsgChannelOpenConfirmation);
    w.PutUint32(id);
    w.PutUint32(kServerChannel);
    w.PutUint32(window);
    w.PutUint32(maxPacket);
    s.Send(w);
    return id;
}

// Reads a channel request for our channel; returns its type and want-reply.
std::string ChannelRequest(FakeSsh2Server& s, bool* wantReply, Message* out) {
    Message m = Expect(s, kSshMsgChannelRequest);
    std::uint32_t recipient = 0;
    if (!m.reader.ReadUint32(&recipient) || recipient != kServerChannel)
        s.Fail("request for the wrong channel");
    const std::string type = ReadText(m.reader);
    EXPECT_TRUE(m.reader.ReadBool(wantReply));
    *out = std::move(m);
    return type;
}

void ChannelReply(FakeSsh2Server& s, std::uint32_t clientChannel, bool success) {
    SshWriter w;
    w.PutByte(success ? kSshMsgChannelSuccess : kSshMsgChannelFailure);
    w.PutUint32(clientChannel);
    s.Send(w);
}

// Logged in, session open, "sftp" granted.
std::uint32_t RunningSession(FakeSsh2Server& s) {
    LogInWithPassword(s);
    const std::uint32_t channel = ConfirmSession(s);
    bool wantReply = false;
    Message m;
    if (ChannelRequest(s, &wantReply, &m) != "subsystem") s.Fail("subsystem expected");
    ChannelReply(s, channel, true);
    return channel;
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

struct PromptCase {
    const char* name;
    std::vector<std::string> prompts;
    std::vector<std::string> answers;  // empty: the client must give up
    int result;
};

class SshScriptedPromptTest : public ::testing::TestWithParam<PromptCase> {};

TEST_P(SshScriptedPromptTest, PromptsAreAnsweredOrRefused) {
    const PromptCase& c = GetParam();
    std::vector<std::string> answers;
    std::pair<std::uint32_t, std::string> disconnect;
    FakeSsh2Server server([&](FakeSsh2Server& s) {
        ServiceAccepted(s);
        AuthRequest(s);
        AuthFailure(s, "password,keyboard-interactive");
        if (AuthRequest(s) != "keyboard-interactive") s.Fail("keyboard-interactive expected");
        SshWriter w;
        w.PutByte(kSshMsgUserauthInfoRequest);
        w.PutString(std::string_view("name"));
        w.PutString(std::string_view("instruction"));
        w.PutString(std::string_view(""));
        w.PutUint32(static_cast<std::uint32_t>(c.prompts.size()));
        for (const std::string& prompt : c.prompts) {
            w.PutString(std::string_view(prompt));
            w.PutBool(false);
        }
        s.Send(w);
        if (c.answers.empty()) {
            disconnect = Disconnect(s);
            return;
        }
        Message m = Expect(s, kSshMsgUserauthInfoResponse);
        std::uint32_t count = 0;
        EXPECT_TRUE(m.reader.ReadUint32(&count));
        for (std::uint32_t i = 0; i < count; ++i)
            answers.push_back(ReadText(m.reader));
        AuthSuccess(s);
        ConfirmSession(s);
        bool wantReply = false;
        Message request;
        ChannelRequest(s, &wantReply, &request);
        ChannelReply(s, 256, true);
    });
    Client client = Connect(server, FakeSsh2Server::ClientConfig());
    EXPECT_EQ(server.Finish(), "");
    EXPECT_EQ(client.result, c.result);
    EXPECT_EQ(answers, c.answers);
    if (c.answers.empty()) {
        EXPECT_EQ(disconnect.first, 13u);
        EXPECT_EQ(disconnect.second, "User authentication failed");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Prompts, SshScriptedPromptTest,
    ::testing::Values(
        PromptCase{"UserNameAndPassword", {"Username:", "Password:"}, {"tester", "secret"}, 0},
        PromptCase{"CaseIgnored", {"LOGIN: ", "PASSWORD: ", ""}, {"tester", "secret", ""}, 0},
        PromptCase{"SinglePromptGetsThePassword", {"Enter PIN for token"}, {"secret"}, 0},
        PromptCase{"UnknownSecondPrompt", {"Password:", "Token:"}, {}, 12226}),
    [](const auto& info) { return std::string(info.param.name); });

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
        SshWriter w;
        w.PutByte(kSshMsgChannelRequest);
        w.PutUint32(99);
        w.PutString(std::string_view("exit-status"));
        w.PutBool(false);
        w.PutUint32(0);
        s.Send(w);
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
            SshWriter w;
            w.PutByte(kSshMsgChannelOpen);
            w.PutString(std::string_view(row.type));
            w.PutUint32(++sender);
            w.PutUint32(1000);
            w.PutUint32(1000);
            s.Send(w);
            Message m = Expect(s, kSshMsgChannelOpenFailure);
            std::uint32_t recipient = 0, reason = 0;
            EXPECT_TRUE(m.reader.ReadUint32(&recipient));
            EXPECT_TRUE(m.reader.ReadUint32(&reason));
            refusals.push_back(std::to_string(recipient) + " " + std::to_string(reason) + " " +
                               ReadText(m.reader));
        }
        SshWriter w;  // something to read, so the client pumps until here
        w.PutByte(kSshMsgChannelData);
        w.PutUint32(256);
        w.PutString(std::string_view("x"));
        s.Send(w);
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
