// Public-key login fed with hand-made server messages (which signature algorithm
// each key type gets, the query, the signed request and what it signs, the detail
// of a refusal), and the ssh-agent client against a scripted peer on a socket pair
// (good answers, truncated and oversized ones, refusals): no hang, no crash.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "crypto/sshbuf.h"
#include "platform/lasterror.h"
#include "platform/text.h"
#include "recording_link.h"
#include "resources/errors.h"
#include "ssh/agent.h"
#include "ssh/messages.h"
#include "ssh/userauth.h"

using testssh::Message;
using testssh::ReadText;
using testssh::RecordingLink;

namespace {

TEST(SshSignatureAlgorithmTest, RsaFollowsServerSigAlgs) {
    struct Row {
        const char* keyType;
        std::vector<std::string> serverSigAlgs;
        const char* expected;
    } rows[] = {
        {"ssh-rsa", {"ssh-ed25519", "rsa-sha2-256", "rsa-sha2-512"}, "rsa-sha2-512"},
        {"ssh-rsa", {"rsa-sha2-256", "ssh-rsa"}, "rsa-sha2-256"},
        {"ssh-rsa", {}, "ssh-rsa"},                   // no list: the old name
        {"ssh-rsa", {"ssh-rsa", "ssh-ed25519"}, ""},  // a list without SHA-2: skipped
        {"ssh-ed25519", {"rsa-sha2-512"}, "ssh-ed25519"},
        {"ecdsa-sha2-nistp384", {}, "ecdsa-sha2-nistp384"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(SshSignatureAlgorithmFor(row.keyType, row.serverSigAlgs), row.expected)
            << row.keyType << " with " << row.serverSigAlgs.size() << " names";
}

class FakeSigner final : public SshSigner {
  public:
    FakeSigner(std::string type, std::string origin)
        : type_(std::move(type)), origin_(std::move(origin)) {
        SshWriter writer;
        writer.PutString(type_);
        writer.PutString(origin_);  // stands in for the key material
        const SecureBytes bytes = writer.Take();
        blob_.assign(bytes.begin(), bytes.end());
    }
    std::string_view keyType() const override { return type_; }
    std::span<const std::uint8_t> publicKeyBlob() const override { return blob_; }
    std::string_view origin() const override { return origin_; }
    std::vector<std::uint8_t> Sign(std::string_view algorithm,
                                   std::span<const std::uint8_t> data) override {
        signedAlgorithm = algorithm;
        signedData.assign(data.begin(), data.end());
        if (fail) return {};
        SshWriter writer;
        writer.PutString(algorithm);
        writer.PutString("signature");
        const SecureBytes bytes = writer.Take();
        return {bytes.begin(), bytes.end()};
    }

    std::string signedAlgorithm;
    std::vector<std::uint8_t> signedData;
    bool fail = false;

  private:
    std::string type_, origin_;
    std::vector<std::uint8_t> blob_;
};

class KeyLink final : public RecordingLink {
  public:
    std::span<const std::uint8_t> SessionId() const override { return sessionId; }
    const std::vector<std::string>& ServerSignatureAlgorithms() const override { return sigAlgs; }
    std::vector<std::uint8_t> sessionId{1, 2, 3, 4, 5};
    std::vector<std::string> sigAlgs{"ssh-ed25519", "rsa-sha2-256", "rsa-sha2-512"};
};

Message Failure(std::string_view methods) {
    return std::move(Message(kSshMsgUserauthFailure).Str(methods).Bool(false));
}

struct PublicKeyRequest {
    std::string method, algorithm;
    bool signature = false;
};

PublicKeyRequest LastRequest(const RecordingLink& link) {
    SshReader reader = link.Reader(link.sent.size() - 1);
    PublicKeyRequest request;
    ReadText(reader);
    ReadText(reader);
    request.method = ReadText(reader);
    if (request.method != "publickey") return request;
    EXPECT_TRUE(reader.ReadBool(&request.signature));
    request.algorithm = ReadText(reader);
    return request;
}

TEST(SshPublicKeyAuthTest, RefusedKeyThenAcceptedKeySignsTheSessionBoundRequest) {
    SshConfig config;
    config.userName = "tester";
    config.skipServiceRequest = true;
    auto first = std::make_shared<FakeSigner>("ssh-ed25519", "first");
    auto second = std::make_shared<FakeSigner>("ssh-rsa", "second");
    KeyLink link;
    SshUserAuth auth(config, link, {first, second});
    auth.Start();
    ASSERT_TRUE(auth.Handle(Failure("publickey,password")));
    PublicKeyRequest request = LastRequest(link);
    EXPECT_EQ(request.method, "publickey");
    EXPECT_EQ(request.algorithm, "ssh-ed25519");
    EXPECT_FALSE(request.signature);
    EXPECT_EQ(auth.state(), SshAuthState::AwaitPublicKeyOk);

    ASSERT_TRUE(auth.Handle(Failure("publickey,password")));  // the first key is not wanted
    request = LastRequest(link);
    EXPECT_EQ(request.algorithm, "rsa-sha2-512");
    EXPECT_FALSE(request.signature);

    Message ok(kSshMsgUserauthPkOk);
    ok.Str("rsa-sha2-512").Blob(second->publicKeyBlob());
    ASSERT_TRUE(auth.Handle(ok));
    request = LastRequest(link);
    EXPECT_TRUE(request.signature);
    EXPECT_EQ(request.algorithm, "rsa-sha2-512");
    EXPECT_EQ(second->signedAlgorithm, "rsa-sha2-512");
    const SecureBytes expected =
        SshPublicKeySignedData(link.sessionId, "tester", "rsa-sha2-512", second->publicKeyBlob());
    EXPECT_EQ(second->signedData, std::vector<std::uint8_t>(expected.begin(), expected.end()));
    EXPECT_TRUE(first->signedData.empty());  // a refused key never signs

    ASSERT_TRUE(auth.Handle(Message(kSshMsgUserauthSuccess)));
    EXPECT_TRUE(auth.succeeded());
    EXPECT_EQ(auth.passwordsSent(), 0);
}

TEST(SshPublicKeyAuthTest, EveryKeyRefusedNamesTheKeysTried) {
    struct Row {
        const char* name;
        bool withPassword;
        bool signingFails;
        const char* offers;
        int error;
        std::vector<std::string> inDetail;
    } rows[] = {
        {"KeysOnly",
         false,
         false,
         "publickey",
         fileErrorAuthenticationFailed,
         {"publickey (ssh-ed25519 first, rsa-sha2-512 second)", "offers publickey"}},
        {"SigningFails",
         false,
         true,
         "publickey",
         fileErrorAuthenticationFailed,
         {"signing failed"}},
        {"NoPasswordToSend",
         false,
         false,
         "publickey,password,keyboard-interactive",
         fileErrorAuthenticationFailed,
         {"publickey ("}},
        {"ThenPassword",
         true,
         false,
         "publickey,password",
         fileErrorAuthenticationFailed,
         {"publickey (ssh-ed25519 first, rsa-sha2-512 second), password"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SshConfig config;
        config.userName = "tester";
        config.skipServiceRequest = true;
        config.allowKeyboardInteractive = false;
        if (row.withPassword) config.password = "secret";
        auto first = std::make_shared<FakeSigner>("ssh-ed25519", "first");
        auto second = std::make_shared<FakeSigner>("ssh-rsa", "second");
        first->fail = second->fail = row.signingFails;
        KeyLink link;
        SshUserAuth auth(config, link, {first, second});
        auth.Start();
        // Every round is refused; an accepted query is followed by PK_OK.
        for (int round = 0; round < 8 && !link.failed; ++round) {
            if (row.signingFails && auth.state() == SshAuthState::AwaitPublicKeyOk) {
                const std::string algorithm = LastRequest(link).algorithm;
                FakeSigner& key = algorithm == "ssh-ed25519" ? *first : *second;
                Message ok(kSshMsgUserauthPkOk);
                ok.Str(algorithm).Blob(key.publicKeyBlob());
                ASSERT_TRUE(auth.Handle(ok));
                continue;
            }
            ASSERT_TRUE(auth.Handle(Failure(row.offers)));
        }
        ASSERT_TRUE(link.failed);
        EXPECT_EQ(link.failError, row.error);
        const std::string detail = TakeLastErrorDetail(MakeErrorCode(row.error));
        for (const std::string& part : row.inDetail)
            EXPECT_NE(detail.find(part), std::string::npos) << detail;
    }
}

TEST(SshPublicKeyAuthTest, AcceptanceOfAnotherKeyIsAProtocolError) {
    SshConfig config;
    config.userName = "tester";
    config.skipServiceRequest = true;
    auto key = std::make_shared<FakeSigner>("ssh-ed25519", "mine");
    FakeSigner other("ssh-ed25519", "other");
    KeyLink link;
    SshUserAuth auth(config, link, {key});
    auth.Start();
    ASSERT_TRUE(auth.Handle(Failure("publickey")));
    Message ok(kSshMsgUserauthPkOk);
    ok.Str("ssh-ed25519").Blob(other.publicKeyBlob());
    ASSERT_TRUE(auth.Handle(ok));
    EXPECT_EQ(link.failError, fileErrorInvalidServerResponse);
    EXPECT_TRUE(key->signedData.empty());
}

// ---- the agent client against a scripted peer -----------------------------------

std::vector<std::uint8_t> Framed(const std::vector<std::uint8_t>& body) {
    SshWriter writer;
    writer.PutString(body);
    const SecureBytes bytes = writer.Take();
    return {bytes.begin(), bytes.end()};
}

std::vector<std::uint8_t> IdentitiesAnswer(const std::vector<std::string>& types,
                                           std::size_t extra = 0) {
    SshWriter writer;
    writer.PutByte(kSshAgentIdentitiesAnswer);
    writer.PutUint32(static_cast<std::uint32_t>(types.size()));
    for (const std::string& type : types) {
        SshWriter blob;
        blob.PutString(type);
        blob.PutString("key");
        writer.PutString(blob.Take());
        writer.PutString("comment of " + type);
    }
    for (std::size_t i = 0; i < extra; ++i)
        writer.PutByte(0);
    const SecureBytes bytes = writer.Take();
    return {bytes.begin(), bytes.end()};
}

class AgentPeer {
  public:
    AgentPeer() {
        int pair[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        agent_ = std::make_unique<SshAgent>(pair[0], 1);
        peer_ = pair[1];
    }
    ~AgentPeer() {
        agent_.reset();
        if (peer_ >= 0) close(peer_);
    }
    // Queued before the request: the client reads it as the answer.
    void Answer(const std::vector<std::uint8_t>& bytes) {
        ASSERT_EQ(write(peer_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void Hangup() {
        close(peer_);
        peer_ = -1;
    }
    // What the client sent (framed), read without waiting.
    std::vector<std::uint8_t> Request() {
        std::vector<std::uint8_t> bytes(4096);
        const ssize_t count = recv(peer_, bytes.data(), bytes.size(), MSG_DONTWAIT);
        bytes.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
        return bytes;
    }
    SshAgent& agent() { return *agent_; }

  private:
    std::unique_ptr<SshAgent> agent_;
    int peer_ = -1;
};

TEST(SshAgentTest, IdentitiesAnswersGoodAndBadEndPromptly) {
    struct Row {
        const char* name;
        std::vector<std::uint8_t> answer;
        bool hangup;
        std::size_t identities;  // expected; npos: the request fails
    } rows[] = {
        {"TwoKeys", Framed(IdentitiesAnswer({"ssh-ed25519", "ssh-rsa"})), false, 2},
        {"NoKeys", Framed(IdentitiesAnswer({})), false, 0},
        {"Refused", Framed({kSshAgentFailure}), false, std::string::npos},
        {"LeftOverBytes", Framed(IdentitiesAnswer({"ssh-ed25519"}, 3)), false, std::string::npos},
        {"TruncatedThenClosed",
         {0, 0, 0, 100, kSshAgentIdentitiesAnswer, 0},
         true,
         std::string::npos},
        {"TruncatedAndSilent",
         {0, 0, 0, 100, kSshAgentIdentitiesAnswer, 0},
         false,
         std::string::npos},
        {"Oversized",
         {0x7F, 0xFF, 0xFF, 0xFF, kSshAgentIdentitiesAnswer},
         false,
         std::string::npos},
        {"ZeroLength", {0, 0, 0, 0}, false, std::string::npos},
        {"TooManyIdentities", Framed({kSshAgentIdentitiesAnswer, 0, 0, 0x10, 0}), false,
         std::string::npos},
        {"ClosedAtOnce", {}, true, std::string::npos},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        AgentPeer peer;
        if (!row.answer.empty()) peer.Answer(row.answer);
        if (row.hangup) peer.Hangup();
        const auto start = std::chrono::steady_clock::now();
        std::vector<SshAgentIdentity> identities;
        const bool ok = peer.agent().RequestIdentities(&identities);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        EXPECT_EQ(ok, row.identities != std::string::npos) << peer.agent().why();
        if (ok) {
            ASSERT_EQ(identities.size(), row.identities);
            if (!identities.empty()) {
                EXPECT_EQ(identities[0].keyType, "ssh-ed25519");
            }
        }
        // A failed exchange leaves no half-read answer behind: the next one fails too.
        if (!ok) {
            EXPECT_FALSE(peer.agent().RequestIdentities(&identities));
        }
    }
}

TEST(SshAgentTest, SignAsksForSha2AndRefusesAnotherAlgorithm) {
    struct Row {
        const char* algorithm;
        const char* answered;
        std::uint32_t flags;
        bool ok;
    } rows[] = {
        {"rsa-sha2-512", "rsa-sha2-512", kSshAgentRsaSha2_512, true},
        {"rsa-sha2-256", "rsa-sha2-256", kSshAgentRsaSha2_256, true},
        {"rsa-sha2-512", "ssh-rsa", kSshAgentRsaSha2_512, false},  // an agent without SHA-2
        {"ssh-ed25519", "ssh-ed25519", 0, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.algorithm);
        AgentPeer peer;
        SshWriter signature;
        signature.PutString(row.answered);
        signature.PutString("sig");
        SshWriter answer;
        answer.PutByte(kSshAgentSignResponse);
        answer.PutString(signature.Take());
        const SecureBytes body = answer.Take();
        peer.Answer(Framed({body.begin(), body.end()}));
        const std::vector<std::uint8_t> blob{0, 0, 0, 1, 'k'}, data{9, 9};
        const std::vector<std::uint8_t> result = peer.agent().Sign(blob, row.algorithm, data);
        EXPECT_EQ(!result.empty(), row.ok) << peer.agent().why();
        // length, type 13, string blob, string data, flags
        const std::vector<std::uint8_t> request = peer.Request();
        ASSERT_EQ(request.size(), 4u + 1 + 4 + blob.size() + 4 + data.size() + 4);
        EXPECT_EQ(request[4], kSshAgentcSignRequest);
        EXPECT_EQ(request.back(), row.flags);
    }
}

}  // namespace
