// Login and the session channel against the legacy OpenSSH server of
// scripts/servers.sh (it accepts the SHA-1 key exchange pinned below):
// keyboard-interactive and password logins, a wrong password, the "sftp" subsystem
// answering SSH_FXP_INIT, and a large echo through `cat` that runs the flow control
// through many windows in both directions.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "resources/errors.h"
#include "ssh/session.h"
#include "support/server_settings.h"

namespace {

std::optional<SshConfig> SessionConfig(std::string* why) {
    const std::string host = Setting("FT_TEST_HOST");
    const std::string port = Setting("FT_TEST_SFTP_LEGACY_PORT");
    const std::string user = Setting("FT_TEST_USER");
    const std::string password = Setting("FT_TEST_PASSWORD");
    if (host.empty() || port.empty() || user.empty() || password.empty()) {
        *why = "FT_TEST_SFTP_LEGACY_PORT or the test user not set (scripts/servers.sh start)";
        return std::nullopt;
    }
    SshConfig config;
    config.host = host;
    config.port = static_cast<std::uint16_t>(std::stoi(port));
    config.timeoutSeconds = 10;
    config.userName = user;
    config.password = password;
    config.remoteCommand = "sftp";
    config.remoteCommandIsSubsystem = true;
    config.fallbackCommand = "exec /usr/lib/openssh/sftp-server";
    // One cipher of each kind keeps the run short; the transport tests cover the rest.
    config.kexOverride = "diffie-hellman-group14-sha1";
    return config;
}

#define REQUIRE_SESSION_SERVER(config)                      \
    std::string why_;                                       \
    std::optional<SshConfig> config = SessionConfig(&why_); \
    if (!config) {                                          \
        if (InCi()) FAIL() << why_;                         \
        GTEST_SKIP() << why_;                               \
    }

std::span<const std::uint8_t> Bytes(const std::vector<std::uint8_t>& bytes) {
    return bytes;
}

struct LoginCase {
    const char* name;
    bool keyboardInteractive;
    const char* expectedMethod;
};

class SshdLoginTest : public ::testing::TestWithParam<LoginCase> {};

// SSH_FXP_INIT (type 1, version 3) as channel data must come back as
// SSH_FXP_VERSION: the subsystem runs and the channel works both ways.
TEST_P(SshdLoginTest, LogsInAndTheSftpSubsystemAnswersInit) {
    REQUIRE_SESSION_SERVER(config);
    config->allowKeyboardInteractive = GetParam().keyboardInteractive;
    std::unique_ptr<SshSession> session;
    ASSERT_EQ(SshSession::Connect(*config, &session), 0);
    ASSERT_TRUE(session->ready());
    EXPECT_EQ(session->userAuth()->method(), GetParam().expectedMethod);
    EXPECT_EQ(session->userAuth()->passwordsSent(), 1);

    const std::vector<std::uint8_t> init = {0, 0, 0, 5, 1, 0, 0, 0, 3};
    ASSERT_TRUE(session->Send(Bytes(init)));
    std::uint8_t header[4];
    ASSERT_TRUE(session->ReadExactly(header)) << session->errorText();
    const std::uint32_t length = (std::uint32_t{header[0]} << 24) |
                                 (std::uint32_t{header[1]} << 16) |
                                 (std::uint32_t{header[2]} << 8) | header[3];
    ASSERT_GE(length, 5u);
    ASSERT_LT(length, 65536u);
    std::vector<std::uint8_t> reply(length);
    ASSERT_TRUE(session->ReadExactly(reply));
    EXPECT_EQ(reply[0], 2);  // SSH_FXP_VERSION
    EXPECT_EQ(reply[4], 3);  // version 3

    session->Close();
    EXPECT_TRUE(session->closed());
    EXPECT_EQ(session->connection().closeMessage(), "All channels closed");
}

INSTANTIATE_TEST_SUITE_P(Methods, SshdLoginTest,
                         ::testing::Values(LoginCase{"KeyboardInteractive", true,
                                                     "keyboard-interactive"},
                                           LoginCase{"Password", false, "password"}),
                         [](const auto& info) { return std::string(info.param.name); });

// The password goes out once; the refusal after it ends the login at once.
TEST(SshdSessionTest, WrongPasswordFailsOnceForEachMethod) {
    REQUIRE_SESSION_SERVER(config);
    config->password = "not-the-password";
    for (bool keyboardInteractive : {true, false}) {
        SCOPED_TRACE(keyboardInteractive ? "keyboard-interactive" : "password");
        config->allowKeyboardInteractive = keyboardInteractive;
        std::unique_ptr<SshSession> session;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(SshSession::Connect(*config, &session), fileErrorAuthenticationFailed);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
        EXPECT_FALSE(session);
    }
}

// 256 KiB through `cat`: sixteen of our windows in, many of the server's out,
// byte for byte; then end-of-file ends the command with its status.
TEST(SshdSessionTest, LargeEchoThroughCatKeepsEveryByte) {
    REQUIRE_SESSION_SERVER(config);
    config->remoteCommand = "cat";
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
    EXPECT_EQ(session->exit().status.value_or(999), 0u);
}

TEST(SshdSessionTest, ExitStatusOfTheCommandIsRecorded) {
    REQUIRE_SESSION_SERVER(config);
    config->remoteCommand = "echo done; exit 3";
    config->remoteCommandIsSubsystem = false;
    std::unique_ptr<SshSession> session;
    ASSERT_EQ(SshSession::Connect(*config, &session), 0);
    std::uint8_t buffer[16];
    ASSERT_TRUE(session->ReadExactly(std::span(buffer, 5)));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "done\n");
    EXPECT_EQ(session->Read(buffer), 0);
    session->Close();
    EXPECT_EQ(session->exit().status.value_or(999), 3u);
}

}  // namespace
