// FTP over TLS against the real servers that scripts/servers.sh runs on
// loopback: vsftpd with explicit and implicit TLS (its data connections must
// resume the control connection's session) and proftpd with TLS offered.
// Without their settings the tests skip, unless CI=true.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "ftp/ftp.h"
#include "ftp/tables.h"
#include "resources/errors.h"
#include "support/server_settings.h"
#include "support/test_files.h"

namespace {

struct Server {
    const char* name;
    const char* portVariable;
    DWORD options;
    // A login that may move data in clear text (vsftpd insists on TLS for the
    // test user's data, not for anonymous sessions).
    bool clearDataNeedsAnonymous;
    bool supportsCcc;
};

class FtpsServerTest : public ::testing::TestWithParam<Server> {
  protected:
    void SetUp() override {
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_USER", "FT_TEST_CA_FILE",
                                GetParam().portVariable);
        host_ = Setting("FT_TEST_HOST");
        user_ = Setting("FT_TEST_USER");
        password_ = Setting("FT_TEST_PASSWORD");
        root_ = Setting("FT_TEST_ROOT");
        port_ = std::stoi(Setting(GetParam().portVariable));
        Trust(Setting("FT_TEST_CA_FILE"));
        ASSERT_EQ(FtpInitialize(nullptr), 1);
        initialized_ = true;
    }
    void TearDown() override {
        if (initialized_) FtpUninitialize();
    }

    // Only the test CA is trusted (until the test ends).
    void Trust(const std::string& caFile) {
        certFile_.reset();
        certFile_.emplace("SSL_CERT_FILE", caFile);
        if (!certDir_) certDir_.emplace("SSL_CERT_DIR", "/nonexistent");
    }

    FtpClient Open(const std::string& user, const std::string& password,
                   const std::string& host = "") {
        TlsCredentials* credentials = nullptr;
        EXPECT_EQ(TlsCreateCredentials(TLS_PROTOCOL_DEFAULT, "", "", &credentials), 1);
        FtpClient client =
            FtpConnect((host.empty() ? host_ : host).c_str(), port_, user.c_str(), password.c_str(),
                       10, GetParam().options | FTP_OPTION_PASSIVE, credentials);
        TlsFreeCredentials(&credentials);
        if (client == INVALID_CLIENT &&
            FtpGetLastError() == MakeErrorCode(fileErrorConnectionRefused) && !InCi()) {
            skipped_ = true;
        }
        return client;
    }

    SecurityInfo Info(FtpClient client) {
        SecurityInfo info{};
        info.size = TLS_SECURITY_INFO_SIZE;
        EXPECT_EQ(FtpGetSecurityInfo(client, &info), 1);
        return info;
    }

    std::string LocalPath(const std::string& name) {
        return ::testing::TempDir() + "ftps-" + std::to_string(getpid()) + "-" + name;
    }

    std::string host_, user_, password_, root_;
    int port_ = 0;
    std::optional<ScopedEnv> certFile_, certDir_;
    bool initialized_ = false;
    bool skipped_ = false;
};

#define OPEN_OR_SKIP(client, ...)                                       \
    FtpClient client = Open(__VA_ARGS__);                               \
    if (skipped_) GTEST_SKIP() << GetParam().name << " is not running"; \
    ASSERT_NE(client, INVALID_CLIENT) << std::hex << FtpGetLastError()

TEST_P(FtpsServerTest, LogsInOverTlsAndReportsTheSession) {
    OPEN_OR_SKIP(client, user_, password_);
    EXPECT_EQ(FtpGetChannelMode(client, FTP_CHANNEL_COMMAND), FTP_CHANNEL_SECURE);
    EXPECT_EQ(FtpGetChannelMode(client, FTP_CHANNEL_DATA), FTP_CHANNEL_SECURE);
    SecurityInfo info = Info(client);
    EXPECT_EQ(info.protocol, 8u);
    EXPECT_EQ(info.certificateStatus, 1u);
    EXPECT_EQ(info.cipher, 64u);
    EXPECT_GE(info.cipherStrength, 128u);
    EXPECT_EQ(info.hash, 2u);
    EXPECT_NE(info.keyExchange, 0u);
    ASSERT_NE(info.subject, nullptr);
    EXPECT_STREQ(info.subject, "CN=localhost");
    EXPECT_STREQ(info.issuer, "CN=fttest test CA");
    EXPECT_LT(info.validFrom.wYear, info.validUntil.wYear);
    EXPECT_EQ(FtpDisconnect(client), 0);
}

// An untrusted certificate keeps the connection and says so; the name
// connected to is what the certificate is checked against.
TEST_P(FtpsServerTest, TheCertificatesStatusFollowsTheTrustAndTheName) {
    const struct {
        const char* caFile;  // "" for the test CA
        const char* host;
        unsigned status;
    } cases[] = {{"/nonexistent/ca.pem", "", 5}, {"", "localhost", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        Trust(*c.caFile ? c.caFile : Setting("FT_TEST_CA_FILE"));
        OPEN_OR_SKIP(client, user_, password_, c.host);
        EXPECT_EQ(Info(client).certificateStatus, c.status);
        EXPECT_EQ(FtpCommand(client, "NOOP", nullptr), 200);
        FtpDisconnect(client);
    }
}

TEST_P(FtpsServerTest, ProtectedTransfersAreByteExactBothWays) {
    OPEN_OR_SKIP(client, user_, password_);
    // Several data connections in a row, each resuming the control session.
    for (const char* file : {"hello.txt", "big.bin", "empty.txt", "hello.txt"}) {
        std::string local = LocalPath(file);
        ASSERT_EQ(FtpGetFile(client, local.c_str(), file, 0, 0), 0)
            << file << " " << std::hex << FtpGetLastError();
        EXPECT_EQ(ReadFile(local), ReadFile(root_ + "/" + file)) << file;
        std::remove(local.c_str());
    }
    std::string upload = LocalPath("upload.bin");
    const std::string content = Pattern(300000);
    WriteFile(upload, content);
    std::string remote = "ftps-upload-" + std::to_string(getpid()) + ".bin";
    ASSERT_EQ(FtpPutFile(client, upload.c_str(), remote.c_str(), 0, 0), 0)
        << std::hex << FtpGetLastError();
    EXPECT_EQ(ReadFile(root_ + "/" + remote), content);
    std::string back = LocalPath("back.bin");
    ASSERT_EQ(FtpGetFile(client, back.c_str(), remote.c_str(), 0, 0), 0);
    EXPECT_EQ(ReadFile(back), content);
    EXPECT_EQ(FtpCommand(client, "DELE", remote.c_str()), 250);
    std::remove(upload.c_str());

    // A reconnect secures the new control connection as the first connect did
    // (implicit TLS before the greeting, explicit after it) and protects its
    // data connections again, PBSZ first.
    ASSERT_EQ(FtpReconnect(client), 200) << std::hex << FtpGetLastError();
    EXPECT_EQ(FtpGetChannelMode(client, FTP_CHANNEL_COMMAND), FTP_CHANNEL_SECURE);
    ASSERT_EQ(FtpGetFile(client, back.c_str(), "hello.txt", 0, 0), 0)
        << std::hex << FtpGetLastError();
    EXPECT_EQ(ReadFile(back), ReadFile(root_ + "/hello.txt"));
    std::remove(back.c_str());
    FtpDisconnect(client);
}

TEST_P(FtpsServerTest, AClearDataChannelSendsProtC) {
    bool anonymous = GetParam().clearDataNeedsAnonymous;
    std::string user = anonymous ? Setting("FT_TEST_ANON_USER") : user_;
    std::string password = anonymous ? Setting("FT_TEST_ANON_PASSWORD") : password_;
    std::string root = anonymous ? Setting("FT_TEST_ANON_ROOT") : root_;
    OPEN_OR_SKIP(client, user, password);
    ASSERT_EQ(FtpSetChannelMode(client, FTP_CHANNEL_DATA, FTP_CHANNEL_CLEAR), 0);
    EXPECT_EQ(FtpGetChannelMode(client, FTP_CHANNEL_DATA), FTP_CHANNEL_CLEAR);
    std::string local = LocalPath("clear.txt");
    ASSERT_EQ(FtpGetFile(client, local.c_str(), "hello.txt", 0, 0), 0)
        << std::hex << FtpGetLastError();
    EXPECT_EQ(ReadFile(local), ReadFile(root + "/hello.txt"));
    std::remove(local.c_str());
    // Back to protected data on the same connection.
    ASSERT_EQ(FtpSetChannelMode(client, FTP_CHANNEL_DATA, FTP_CHANNEL_SECURE), 0);
    ASSERT_EQ(FtpGetFile(client, local.c_str(), "hello.txt", 0, 0), 0);
    EXPECT_EQ(ReadFile(local), ReadFile(root + "/hello.txt"));
    std::remove(local.c_str());
    FtpDisconnect(client);
}

TEST_P(FtpsServerTest, ClearingTheCommandChannelNeedsCcc) {
    OPEN_OR_SKIP(client, user_, password_);
    // Without FEAT's word the engine tries CCC; a server without it answers 500.
    int result = FtpSetChannelMode(client, FTP_CHANNEL_COMMAND, FTP_CHANNEL_CLEAR);
    if (!GetParam().supportsCcc) {
        EXPECT_EQ(result, -1);
        EXPECT_EQ(FtpGetLastError(), MakeErrorCode(fileErrorFeatureNotSupported));
        EXPECT_EQ(FtpGetChannelMode(client, FTP_CHANNEL_COMMAND), FTP_CHANNEL_SECURE);
        EXPECT_EQ(FtpCommand(client, "NOOP", nullptr), 200);
        // The failure cleared the feature: the next try is refused at once.
        EXPECT_EQ(FtpSetChannelMode(client, FTP_CHANNEL_COMMAND, FTP_CHANNEL_CLEAR), -1);
        EXPECT_EQ(FtpGetLastError(), MakeErrorCode(fileErrorFeatureNotSupported));
    } else {
        ASSERT_EQ(result, 0) << std::hex << FtpGetLastError();
        EXPECT_EQ(FtpGetChannelMode(client, FTP_CHANNEL_COMMAND), FTP_CHANNEL_CLEAR);
        char path[FTP_MAX_PATH] = {};
        EXPECT_EQ(FtpChangeDirectory(client, "sub"), 250);
        EXPECT_EQ(FtpGetCurrentDirectory(client, path, sizeof path), 257);
        EXPECT_EQ(std::string(path), root_ + "/sub");
    }
    FtpDisconnect(client);
}

// name, port variable, options, clear data only for anonymous, CCC.
const Server kServers[] = {
    {"VsftpdExplicit", "FT_TEST_FTPS_PORT", FTP_OPTION_SECURE_EXPLICIT, true, false},
    {"VsftpdImplicit", "FT_TEST_FTPS_IMPLICIT_PORT", FTP_OPTION_SECURE, true, false},
    {"Proftpd", "FT_TEST_PROFTPD_PORT", FTP_OPTION_SECURE_EXPLICIT, false, true},
};

INSTANTIATE_TEST_SUITE_P(Servers, FtpsServerTest, ::testing::ValuesIn(kServers),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
