// The session layer against the real FTP servers that scripts/servers.sh runs
// on loopback (a wrong password against them is cli_ftp_test.cpp's), and what
// the engine reads about files there, checked against the files themselves on
// the local disk (FT_TEST_ROOT). Sizes, times and the status of a file, setting
// times and modes, renames, deletes, folders and verification go through every
// layer in cli_ftp_test.cpp and cli_sizes_test.cpp. Without the servers'
// settings the tests skip, unless CI=true.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "ftp/fileops.h"
#include "ftp/ftp.h"
#include "ftp/tables.h"
#include "resources/errors.h"
#include "support/server_folder.h"
#include "support/server_settings.h"

namespace {

DWORD Code(int number) {
    return MakeErrorCode(number);
}

struct Server {
    const char* name;
    const char* portVariable;
    bool proftpd;  // offers MLST, MFMT, XCRC and XMD5
};

void PrintTo(const Server& server, std::ostream* out) {
    *out << server.name;
}

class FtpServerTest : public ::testing::TestWithParam<Server> {
  protected:
    void SetUp() override {
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_USER", "FT_TEST_ROOT",
                                GetParam().portVariable);
        root_ = Setting("FT_TEST_ROOT");
        ASSERT_EQ(FtpInitialize(nullptr), 1);
        initialized_ = true;
    }
    void TearDown() override {
        if (initialized_) FtpUninitialize();
    }

    // Connects and logs in; skips when the server is down outside CI.
    FtpClient Open(const std::string& user, const std::string& password) {
        FtpClient client =
            FtpConnect(Setting("FT_TEST_HOST").c_str(), std::stoi(Setting(GetParam().portVariable)),
                       user.c_str(), password.c_str(), 10, 0, nullptr);
        skipped_ = client == INVALID_CLIENT &&
                   FtpGetLastError() == Code(fileErrorConnectionRefused) && !InCi();
        return client;
    }

    std::string root_;
    bool initialized_ = false;
    bool skipped_ = false;
};

#define OPEN_OR_SKIP(client, ...)                                       \
    FtpClient client = Open(__VA_ARGS__);                               \
    if (skipped_) GTEST_SKIP() << GetParam().name << " is not running"; \
    ASSERT_NE(client, INVALID_CLIENT) << std::hex << FtpGetLastError()

TEST_P(FtpServerTest, LoginLearnsTheServerAndFollowsTheWorkingDirectory) {
    OPEN_OR_SKIP(client, Setting("FT_TEST_USER"), Setting("FT_TEST_PASSWORD"));
    EXPECT_EQ(FtpGetSystemType(client), FTP_SYSTEM_UNIX);
    const DWORD features = FtpGetFeatures(client);
    const DWORD expected = ftp::kFeatureSize | ftp::kFeatureMdtm | ftp::kFeatureEpsv |
                           (GetParam().proftpd ? ftp::kFeatureMlst | ftp::kFeatureMfmt |
                                                     ftp::kFeatureXcrc | ftp::kFeatureXmd5
                                               : 0);
    EXPECT_EQ(features & expected, expected);
    char path[FTP_MAX_PATH] = {};
    ASSERT_EQ(FtpGetCurrentDirectory(client, path, sizeof path), 257);
    EXPECT_EQ(std::string(path), root_);
    EXPECT_EQ(FtpChangeDirectory(client, "sub/"), 250);
    ASSERT_EQ(FtpGetCurrentDirectory(client, path, sizeof path), 257);
    EXPECT_EQ(std::string(path), root_ + "/sub");
    EXPECT_EQ(FtpChangeDirectory(client, "no-such-directory"), -1);
    EXPECT_EQ(FtpGetLastError(), Code(fileErrorAccessDenied));
    EXPECT_EQ(FtpGetResultCode(client), 550);

    // Raw commands and their replies.
    EXPECT_EQ(FtpCommand(client, "NOOP", nullptr), 200);
    ASSERT_EQ(FtpCommand(client, "SIZE", (root_ + "/hello.txt").c_str()), 213);
    char text[64] = {};
    FtpGetResultString(client, text, sizeof text);
    EXPECT_STREQ(text, "14");
    EXPECT_EQ(FtpCommand(client, "XYZZY", nullptr), -1);
    EXPECT_EQ(FtpGetLastError(), Code(fileErrorInvalidCommand));
    EXPECT_EQ(FtpGetResultCode(client), 500);
    EXPECT_EQ(FtpSetFileType(client, FTP_FILE_TYPE_ASCII), 200);

    EXPECT_EQ(FtpDisconnect(client), 0);
    EXPECT_EQ(FtpGetResultCode(client), -1);
    EXPECT_EQ(FtpGetLastError(), Code(fileErrorInvalidHandle));

    // The anonymous login lands in a root of its own.
    OPEN_OR_SKIP(anonymous, "anonymous", Setting("FT_TEST_ANON_PASSWORD"));
    ASSERT_EQ(FtpGetCurrentDirectory(anonymous, path, sizeof path), 257);
    EXPECT_STREQ(path, "/");
    FtpDisconnect(anonymous);
}

TEST_P(FtpServerTest, ReadsPermissionsFoldersAndMissingFiles) {
    const ServerFolder work(root_, std::string("fileops-") + GetParam().name);
    const std::string file = work.Put("hello.txt", "Hello, world!\n", 0640, 1577934245);
    const std::string folder = work.MakeFolder("folder");
    const std::string missing = work.Remote("missing.txt");
    OPEN_OR_SKIP(client, Setting("FT_TEST_USER"), Setting("FT_TEST_PASSWORD"));
    const DWORD features = FtpGetFeatures(client);

    DWORD permissions = 0;
    EXPECT_GT(FtpGetFilePermissions(client, file.c_str(), &permissions), 0);
    EXPECT_EQ(permissions, 0640u);

    FtpDirectoryEntry entry{};
    ASSERT_EQ(FtpGetFileInfo(client, folder.c_str(), &entry), 1) << std::hex << FtpGetLastError();
    EXPECT_EQ(entry.directory, 1);

    EXPECT_EQ(FtpGetFileInfo(client, missing.c_str(), &entry), 0);
    const DWORD error = FtpGetLastError();
    EXPECT_TRUE(error == Code(fileErrorFileNotFound) || error == Code(fileErrorAccessDenied))
        << std::hex << error;
    SYSTEMTIME time{};
    EXPECT_EQ(FtpGetFileTime(client, missing.c_str(), &time, FALSE), -1);
    EXPECT_EQ(FtpGetLastError(), Code(fileErrorFileNotFound));
    // None of these is a refusal of a command: the mask learned nothing.
    EXPECT_EQ(FtpGetFeatures(client), features);
    FtpDisconnect(client);
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpServerTest,
                         ::testing::Values(Server{"vsftpd", "FT_TEST_FTP_PORT", false},
                                           Server{"proftpd", "FT_TEST_PROFTPD_PORT", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
