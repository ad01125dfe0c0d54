// The session layer against the real FTP servers that scripts/servers.sh runs
// on loopback (a wrong password against them is cli_ftp_test.cpp's). Without
// their settings the tests skip, unless CI=true.
#include <gtest/gtest.h>

#include <string>

#include "ftp/ftp.h"
#include "ftp/tables.h"
#include "resources/errors.h"
#include "support/server_settings.h"

namespace {

struct Server {
    const char* name;
    const char* portVariable;
    bool offersMlst;
};

class FtpServerTest : public ::testing::TestWithParam<Server> {
  protected:
    void SetUp() override {
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_USER", GetParam().portVariable);
        host_ = Setting("FT_TEST_HOST");
        user_ = Setting("FT_TEST_USER");
        password_ = Setting("FT_TEST_PASSWORD");
        root_ = Setting("FT_TEST_ROOT");
        port_ = std::stoi(Setting(GetParam().portVariable));
        ASSERT_EQ(FtpInitialize(nullptr), 1);
        initialized_ = true;
    }
    void TearDown() override {
        if (initialized_) FtpUninitialize();
    }

    // Connects and logs in; skips when the server is down outside CI.
    FtpClient Open(const std::string& user, const std::string& password,
                   const std::string& host = "") {
        FtpClient client = FtpConnect((host.empty() ? host_ : host).c_str(), port_, user.c_str(),
                                      password.c_str(), 10, 0, nullptr);
        if (client == INVALID_CLIENT &&
            FtpGetLastError() == MakeErrorCode(fileErrorConnectionRefused) && !InCi()) {
            skipped_ = true;
        }
        return client;
    }

    std::string host_, user_, password_, root_;
    int port_ = 0;
    bool initialized_ = false;
    bool skipped_ = false;
};

#define OPEN_OR_SKIP(client, ...)                                       \
    FtpClient client = Open(__VA_ARGS__);                               \
    if (skipped_) GTEST_SKIP() << GetParam().name << " is not running"; \
    ASSERT_NE(client, INVALID_CLIENT) << std::hex << FtpGetLastError()

TEST_P(FtpServerTest, TestUserLogsInAndLearnsTheServer) {
    OPEN_OR_SKIP(client, user_, password_);
    EXPECT_EQ(FtpGetSystemType(client), FTP_SYSTEM_UNIX);
    DWORD features = FtpGetFeatures(client);
    EXPECT_TRUE(features & ftp::kFeatureSize);
    EXPECT_TRUE(features & ftp::kFeatureMdtm);
    EXPECT_TRUE(features & ftp::kFeatureEpsv);
    if (GetParam().offersMlst) {
        EXPECT_TRUE(features & ftp::kFeatureMlst);
        EXPECT_TRUE(features & ftp::kFeatureMfmt);
    }
    char name[128] = {};
    EXPECT_EQ(FtpGetSystemName(client, name), 215);
    EXPECT_NE(std::string(name).find("UNIX"), std::string::npos) << name;
    EXPECT_EQ(FtpDisconnect(client), 0);
    EXPECT_EQ(FtpGetResultCode(client), -1);
    EXPECT_EQ(FtpGetLastError(), MakeErrorCode(fileErrorInvalidHandle));
}

TEST_P(FtpServerTest, WorkingDirectoryFollowsChanges) {
    OPEN_OR_SKIP(client, user_, password_);
    char path[FTP_MAX_PATH] = {};
    ASSERT_EQ(FtpGetCurrentDirectory(client, path, sizeof path), 257);
    if (!root_.empty()) {
        EXPECT_EQ(std::string(path), root_);
    }
    EXPECT_EQ(FtpChangeDirectory(client, "sub/"), 250);
    ASSERT_EQ(FtpGetCurrentDirectory(client, path, sizeof path), 257);
    EXPECT_EQ(std::string(path), root_ + "/sub");
    EXPECT_EQ(FtpChangeDirectory(client, "no-such-directory"), -1);
    EXPECT_EQ(FtpGetLastError(), MakeErrorCode(fileErrorAccessDenied));
    EXPECT_EQ(FtpGetResultCode(client), 550);
    FtpDisconnect(client);
}

TEST_P(FtpServerTest, RawCommandsAndTheirReplies) {
    OPEN_OR_SKIP(client, user_, password_);
    EXPECT_EQ(FtpCommand(client, "NOOP", nullptr), 200);
    ASSERT_EQ(FtpCommand(client, "SIZE", "hello.txt"), 213);
    char text[64] = {};
    FtpGetResultString(client, text, sizeof text);
    EXPECT_STREQ(text, "14");
    EXPECT_EQ(FtpCommand(client, "XYZZY", nullptr), -1);
    EXPECT_EQ(FtpGetLastError(), MakeErrorCode(fileErrorInvalidCommand));
    EXPECT_EQ(FtpGetResultCode(client), 500);
    EXPECT_EQ(FtpSetFileType(client, FTP_FILE_TYPE_ASCII), 200);
    FtpDisconnect(client);
}

TEST_P(FtpServerTest, AnonymousLoginLandsInItsOwnRoot) {
    OPEN_OR_SKIP(client, "anonymous", Setting("FT_TEST_ANON_PASSWORD"));
    char path[FTP_MAX_PATH] = {};
    ASSERT_EQ(FtpGetCurrentDirectory(client, path, sizeof path), 257);
    EXPECT_STREQ(path, "/");
    FtpDisconnect(client);
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpServerTest,
                         ::testing::Values(Server{"vsftpd", "FT_TEST_FTP_PORT", false},
                                           Server{"proftpd", "FT_TEST_PROFTPD_PORT", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
