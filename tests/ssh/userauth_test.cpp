// Authentication fed with hand-made server messages: which method comes next for
// each server offer, how prompts are answered, the one-password rule, and the
// password camouflage measured on real encrypted packets.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "crypto/cipher.h"
#include "crypto/mac.h"
#include "recording_link.h"
#include "resources/errors.h"
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
        {"keyboard-interactive first", true, "password,keyboard-interactive",
         "none,keyboard-interactive", 0, 0},
        {"keyboard-interactive not allowed", false, "password,keyboard-interactive",
         "none,password", 0, 0},
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

}  // namespace
