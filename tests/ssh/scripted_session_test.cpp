// Authentication over the wire, against a scripted SSH-2 server that really exchanges
// keys and then stalls. Method choice, prompts, the hidden password length, channels
// and the fallback command are covered message by message in userauth_test,
// channel_test and forwarding_test.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "fake_ssh2_server.h"
#include "recording_link.h"
#include "resources/errors.h"
#include "ssh/messages.h"
#include "ssh/session.h"

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

}  // namespace
