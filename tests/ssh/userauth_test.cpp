// Authentication fed with hand-made server messages: which method comes next for
// each server offer, how prompts are answered, the one-password rule, and the
// password camouflage measured on real encrypted packets; public-key login (which
// signature algorithm each key type gets, the query, the signed request, the detail of
// a refusal; what is signed is proven by sshd in pubkey_login_test), and the ssh-agent
// client against a scripted peer on a socket pair (good answers, truncated and
// oversized ones, refusals): no hang, no crash.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "crypto/cipher.h"
#include "crypto/mac.h"
#include "crypto/sshbuf.h"
#include "platform/lasterror.h"
#include "platform/text.h"
#include "recording_link.h"
#include "resources/errors.h"
#include "ssh/agent.h"
#include "ssh/messages.h"
#include "ssh/packet.h"
#include "ssh/userauth.h"

using testssh::Message;
using testssh::ReadText;
using testssh::RecordingLink;

namespace {

TEST(SshPromptTest, AnswersFollowThePromptText) {
    struct Row {
        const char* prompt;
        std::size_t count;
        SshPromptAnswer answer;
    } rows[] = {
        {"Verification code:", 1, SshPromptAnswer::Password},  // a single prompt: the password
        {"", 1, SshPromptAnswer::Password},
        {"Password:", 2, SshPromptAnswer::Password},
        {"PASSWORD: for fttest", 2, SshPromptAnswer::Password},
        {"Username:", 2, SshPromptAnswer::UserName},
        {"login: ", 2, SshPromptAnswer::UserName},
        {"LOGIN:", 3, SshPromptAnswer::UserName},
        {"", 2, SshPromptAnswer::Empty},
        {"Password", 2, SshPromptAnswer::Unknown},  // the colon is part of the match
        {"login", 2, SshPromptAnswer::Unknown},
        {"Token:", 2, SshPromptAnswer::Unknown},
        {" Password:", 2, SshPromptAnswer::Unknown},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ClassifySshPrompt(row.prompt, row.count), row.answer)
            << '"' << row.prompt << "\" of " << row.count;
}

SshConfig AuthConfig() {
    SshConfig config;
    config.userName = "tester";
    config.password = "secret";
    return config;
}

// The method names of the user-authentication requests sent so far.
std::vector<std::string> Methods(const RecordingLink& link) {
    std::vector<std::string> methods;
    for (std::size_t i = 0; i < link.sent.size(); ++i) {
        if (link.sent[i].payload[0] != kSshMsgUserauthRequest) continue;
        SshReader reader = link.Reader(i);
        ReadText(reader);
        ReadText(reader);
        methods.push_back(ReadText(reader));
    }
    return methods;
}

Message Failure(std::string_view methods) {
    return std::move(Message(kSshMsgUserauthFailure).Str(methods).Bool(false));
}

// The prompts; `announced` stands in for their count when it is given.
Message InfoRequest(std::vector<std::string> prompts, std::uint32_t announced = 0) {
    Message m(kSshMsgUserauthInfoRequest);
    m.Str("").Str("").Str("").U32(announced ? announced
                                            : static_cast<std::uint32_t>(prompts.size()));
    for (const std::string& prompt : prompts)
        m.Str(prompt).Bool(false);
    return m;
}

// The failure messages in turn (separated by ';') and the methods tried.
TEST(SshAuthFlowTest, MethodsFollowTheOffers) {
    const struct {
        const char* name;
        bool keyboardInteractive;
        std::string offers, methods;
        int error;  // 0: still waiting
        std::uint32_t reason;
    } cases[] = {
        {"only publickey", true, "publickey", "none", 12226, 14},
        {"nothing at all", true, "", "none", 12226, 14},
        {"password, then refused", true, "publickey,password;publickey,password", "none,password",
         12230, 13},
        {"keyboard-interactive fails without prompts, then password", true,
         "keyboard-interactive,password;keyboard-interactive,password",
         "none,keyboard-interactive,password", 0, 0},
        {"keyboard-interactive only tried once", true, "keyboard-interactive;keyboard-interactive",
         "none,keyboard-interactive", 12226, 14},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SshConfig config = AuthConfig();
        config.allowKeyboardInteractive = c.keyboardInteractive;
        RecordingLink link;
        SshUserAuth auth(config, link);
        auth.Start();
        ASSERT_EQ(link.Types(), std::vector<int>{kSshMsgServiceRequest});
        ASSERT_TRUE(auth.Handle(Message(kSshMsgServiceAccept).Str("ssh-userauth")));
        for (std::size_t at = 0; at <= c.offers.size() && !link.failed;) {
            const std::size_t end = std::min(c.offers.find(';', at), c.offers.size());
            ASSERT_TRUE(auth.Handle(Failure(c.offers.substr(at, end - at))));
            at = end + 1;
        }
        std::string methods;
        for (const std::string& method : Methods(link))
            methods += (methods.empty() ? "" : ",") + method;
        EXPECT_EQ(methods, c.methods);
        // A password leaves with its camouflage in one write.
        EXPECT_EQ(link.togetherCalls, c.methods.ends_with("password") ? 1 : 0);
        EXPECT_EQ(link.failError, c.error);
        EXPECT_EQ(link.failReason, c.reason);
        const char* text = c.error == fileErrorAuthenticationFailed ? "User authentication failed"
                           : c.reason == 14 ? "No supported authentication methods available"
                                            : "";
        EXPECT_EQ(link.failText, text);
        EXPECT_EQ(auth.state() == SshAuthState::Failed, c.error != 0);
    }
}

// Started and offered keyboard-interactive (with whatever else the offer names).
void OfferedKeyboardInteractive(SshUserAuth& auth, std::string_view offer) {
    auth.Start();
    auth.Handle(Message(kSshMsgServiceAccept).Str("ssh-userauth"));
    auth.Handle(Failure(offer));
}

// What goes back for one round of prompts: the answers in order, or, for a prompt
// that cannot be answered, the end of the login.
TEST(SshAuthTest, PromptsAreAnsweredFromTheConfiguration) {
    const struct {
        std::vector<std::string> prompts, answers;  // no answers: the login fails
    } cases[] = {
        {{"Username:", "Password:"}, {"tester", "secret"}},
        {{"LOGIN: ", "PASSWORD: ", ""}, {"tester", "secret", ""}},
        {{"Enter PIN for token"}, {"secret"}},
        {{"Password:", "Token:"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.prompts.front());
        SshConfig config = AuthConfig();
        RecordingLink link;
        SshUserAuth auth(config, link);
        OfferedKeyboardInteractive(auth, "password,keyboard-interactive");
        link.Clear();
        auth.Handle(InfoRequest(c.prompts));
        if (c.answers.empty()) {
            EXPECT_EQ(link.failError, 12226);
            EXPECT_EQ(link.failReason, 13u);
            EXPECT_EQ(link.failText, "User authentication failed");
            continue;
        }
        ASSERT_FALSE(link.failed);
        SshReader reader = link.Reader(link.sent.size() - 1);  // after any camouflage
        std::uint32_t count = 0;
        ASSERT_TRUE(reader.ReadUint32(&count));
        std::vector<std::string> answers;
        for (std::uint32_t i = 0; i < count; ++i)
            answers.push_back(ReadText(reader));
        EXPECT_EQ(answers, c.answers);
    }
}

TEST(SshAuthTest, PasswordGivenAsAnAnswerIsNotSentAgain) {
    SshConfig config = AuthConfig();
    RecordingLink link;
    SshUserAuth auth(config, link);
    OfferedKeyboardInteractive(auth, "keyboard-interactive,password");
    link.Clear();
    ASSERT_TRUE(auth.Handle(InfoRequest({"Password: "})));
    ASSERT_FALSE(link.failed);
    // The answer and its camouflage go out in one write.
    EXPECT_EQ(link.togetherCalls, 1);
    ASSERT_EQ(link.Types(), (std::vector<int>{kSshMsgIgnore, kSshMsgUserauthInfoResponse}));
    SshReader answer = link.Reader(1);
    std::uint32_t count = 0;
    ASSERT_TRUE(answer.ReadUint32(&count));
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(ReadText(answer), "secret");
    EXPECT_EQ(auth.passwordsSent(), 1);

    // A second password prompt in the same round of questions ends it.
    RecordingLink again;
    SshUserAuth second(config, again);
    OfferedKeyboardInteractive(second, "keyboard-interactive");
    second.Handle(InfoRequest({"Password:"}));
    second.Handle(InfoRequest({"Password:"}));
    EXPECT_EQ(again.failError, fileErrorAuthenticationFailed);
    EXPECT_EQ(again.failReason, 13u);

    // The refusal after the answer: no password request follows.
    auth.Handle(Failure("keyboard-interactive,password"));
    EXPECT_EQ(link.failError, fileErrorAuthenticationFailed);
    EXPECT_EQ(link.failReason, 13u);
    EXPECT_EQ(Methods(link), std::vector<std::string>{});
}

TEST(SshAuthTest, ZeroPromptsAreAnsweredWithAnEmptyResponseAndSuccessEnds) {
    SshConfig config = AuthConfig();
    RecordingLink link;
    SshUserAuth auth(config, link);
    OfferedKeyboardInteractive(auth, "keyboard-interactive");
    link.Clear();
    auth.Handle(InfoRequest({}));
    ASSERT_EQ(link.Types(), std::vector<int>{kSshMsgUserauthInfoResponse});
    EXPECT_EQ(link.togetherCalls, 0);
    EXPECT_EQ(auth.passwordsSent(), 0);
    EXPECT_TRUE(auth.Handle(Message(kSshMsgUserauthBanner).Str("welcome").Str("")));
    EXPECT_TRUE(auth.Handle(Message(kSshMsgUserauthSuccess)));
    EXPECT_TRUE(auth.succeeded());
    EXPECT_FALSE(auth.Handle(Message(94)));  // not authentication's
}

TEST(SshAuthTest, SkippedServiceRequestStartsWithNone) {
    SshConfig config = AuthConfig();
    config.skipServiceRequest = true;
    config.userName = std::string(150, 'u');
    RecordingLink link;
    SshUserAuth auth(config, link);
    auth.Start();
    ASSERT_EQ(link.Types(), std::vector<int>{kSshMsgUserauthRequest});
    SshReader reader = link.Reader(0);
    EXPECT_EQ(ReadText(reader), std::string(100, 'u'));  // cut to 100 characters
    EXPECT_EQ(ReadText(reader), "ssh-connection");
    EXPECT_EQ(ReadText(reader), "none");
}

TEST(SshAuthTest, MalformedOrMisplacedMessagesAreProtocolErrors) {
    const struct {
        const char* name;
        const char* offer;  // keyboard-interactive offered first, or nullptr
        Message message;
    } cases[] = {
        {"truncated failure", nullptr, std::move(Message(kSshMsgUserauthFailure).U32(9).Str("x"))},
        // Keyboard-interactive was not asked for: the password must not leave.
        {"unasked prompts", nullptr, InfoRequest({"Password:"})},
        {"three prompts announced, one present", "keyboard-interactive",
         InfoRequest({"Password:"}, 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SshConfig config = AuthConfig();
        RecordingLink link;
        SshUserAuth auth(config, link);
        if (c.offer) {
            OfferedKeyboardInteractive(auth, c.offer);
        } else {
            auth.Start();
        }
        const std::size_t sent = link.sent.size();
        auth.Handle(c.message);
        EXPECT_EQ(link.failError, fileErrorInvalidServerResponse);
        EXPECT_EQ(link.failReason, 2u);
        EXPECT_EQ(link.sent.size(), sent);
        EXPECT_EQ(auth.passwordsSent(), 0);
    }
}

// Encoded with a real cipher and MAC, the secret and its ignore message take the
// same room on the wire whatever the password's length.
TEST(SshCamouflageTest, WireLengthIsTheSameForEveryPasswordLength) {
    const std::uint8_t key[32] = {1, 2, 3}, iv[16] = {4, 5, 6}, macKey[20] = {7, 8, 9};
    for (const CipherDescriptor* cipher :
         {&kCipherAes128Cbc, &kCipherTripleDesCbc, &kCipherAes256Ctr}) {
        SCOPED_TRACE(cipher->sshName);
        std::set<std::size_t> lengths;
        for (std::size_t length = 0; length <= kSshMaxPasswordLength; ++length) {
            SshPacketEncoder encoder;
            encoder.SetKeys(
                std::make_unique<SshDirectionKeys>(cipher, key, iv, &kMacHmacSha1, macKey));
            SshPacket secret(kSshMsgUserauthRequest);
            secret.PutString("tester")
                .PutString("ssh-connection")
                .PutString("password")
                .PutBool(false)
                .PutString(std::string(length, 'p'));
            std::size_t wire = 0;
            const std::size_t block = std::max<std::size_t>(cipher->blockSize, 8);
            std::vector<SshPacket> packets = CamouflageSecret(std::move(secret), block);
            ASSERT_EQ(packets.size(), 2u);
            EXPECT_EQ(packets[0].type(), kSshMsgIgnore);
            for (SshPacket& packet : packets)
                wire += encoder.Encode(std::move(packet)).size();
            lengths.insert(wire);
        }
        ASSERT_EQ(lengths.size(), 1u);
        EXPECT_GE(*lengths.begin() - 2 * kMacHmacSha1.tagLength, kSshCamouflageMinimum);
    }
}

TEST(SshCamouflageTest, WithoutACipherTheSecretGoesAlone) {
    SshPacket secret(kSshMsgUserauthInfoResponse);
    secret.PutUint32(1).PutString("pw");
    EXPECT_EQ(CamouflageSecret(std::move(secret), 0).size(), 1u);
}

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
        signedData.assign(data.begin(), data.end());
        if (fail) return {};
        SshWriter writer;
        writer.PutString(algorithm);
        writer.PutString("signature");
        const SecureBytes bytes = writer.Take();
        return {bytes.begin(), bytes.end()};
    }

    std::vector<std::uint8_t> signedData;
    bool fail = false;

  private:
    std::string type_, origin_;
    std::vector<std::uint8_t> blob_;
};

class KeyLink final : public RecordingLink {
  public:
    const std::vector<std::string>& ServerSignatureAlgorithms() const override { return sigAlgs; }
    std::vector<std::string> sigAlgs{"ssh-ed25519", "rsa-sha2-256", "rsa-sha2-512"};
};

struct PublicKeyRequest {
    std::string method, algorithm;
    bool signature = false;
};

// The test user, authenticating without a service request first.
SshConfig KeyConfig() {
    SshConfig config;
    config.userName = "tester";
    config.skipServiceRequest = true;
    return config;
}

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

// The accepted query, the signed request and the success after it are every key
// login's against sshd (pubkey_login_test).
TEST(SshPublicKeyAuthTest, RefusedKeyGivesWayToTheNextWithoutSigning) {
    SshConfig config = KeyConfig();
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

    ASSERT_TRUE(auth.Handle(Failure("publickey,password")));  // the first key is not wanted
    request = LastRequest(link);
    EXPECT_EQ(request.algorithm, "rsa-sha2-512");
    EXPECT_FALSE(request.signature);
    EXPECT_TRUE(first->signedData.empty());  // a refused key never signs
    EXPECT_EQ(auth.passwordsSent(), 0);
}

TEST(SshPublicKeyAuthTest, EveryKeyRefusedNamesTheKeysTried) {
    const std::string both = "publickey (ssh-ed25519 first, rsa-sha2-512 second)";
    struct Row {
        const char* name;
        bool withPassword;
        bool signingFails;
        const char* offers;
        std::string detail, moreDetail;  // parts of the error's detail
    } rows[] = {
        {"KeysOnly", false, false, "publickey", both, "offers publickey"},
        {"SigningFails", false, true, "publickey", "signing failed", ""},
        {"NoPasswordToSend", false, false, "publickey,password,keyboard-interactive", "publickey (",
         ""},
        {"ThenPassword", true, false, "publickey,password", both + ", password", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SshConfig config = KeyConfig();
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
        EXPECT_EQ(link.failError, fileErrorAuthenticationFailed);
        const std::string detail =
            TakeLastErrorDetail(MakeErrorCode(fileErrorAuthenticationFailed));
        EXPECT_NE(detail.find(row.detail), std::string::npos) << detail;
        EXPECT_NE(detail.find(row.moreDetail), std::string::npos) << detail;
    }
}

TEST(SshPublicKeyAuthTest, AcceptanceOfAnotherKeyIsAProtocolError) {
    SshConfig config = KeyConfig();
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
    constexpr std::size_t kFails = std::string::npos;  // the request fails
    struct Row {
        const char* name;
        std::vector<std::uint8_t> answer;
        bool hangup;
        std::size_t identities;  // expected, or kFails
    } rows[] = {
        {"TwoKeys", Framed(IdentitiesAnswer({"ssh-ed25519", "ssh-rsa"})), false, 2},
        {"NoKeys", Framed(IdentitiesAnswer({})), false, 0},
        {"Refused", Framed({kSshAgentFailure}), false, kFails},
        {"LeftOverBytes", Framed(IdentitiesAnswer({"ssh-ed25519"}, 3)), false, kFails},
        {"TruncatedThenClosed", {0, 0, 0, 100, kSshAgentIdentitiesAnswer, 0}, true, kFails},
        {"TruncatedAndSilent", {0, 0, 0, 100, kSshAgentIdentitiesAnswer, 0}, false, kFails},
        {"Oversized", {0x7F, 0xFF, 0xFF, 0xFF, kSshAgentIdentitiesAnswer}, false, kFails},
        {"ZeroLength", {0, 0, 0, 0}, false, kFails},
        {"TooManyIdentities", Framed({kSshAgentIdentitiesAnswer, 0, 0, 0x10, 0}), false, kFails},
        {"ClosedAtOnce", {}, true, kFails},
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
        EXPECT_EQ(ok, row.identities != kFails) << peer.agent().why();
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
        {"rsa-sha2-256", "rsa-sha2-256", kSshAgentRsaSha2_256, true},
        {"rsa-sha2-512", "ssh-rsa", kSshAgentRsaSha2_512, false},  // an agent without SHA-2
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
