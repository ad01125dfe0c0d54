// What the engine reads about files on the real FTP servers that
// scripts/servers.sh runs on loopback, checked against the files themselves on
// the local disk (FT_TEST_ROOT). Setting times and modes, renames, deletes,
// folders and verification go through every layer in cli_ftp_test.cpp.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "ftp/fileops.h"
#include "ftp/ftp.h"
#include "ftp/tables.h"
#include "resources/errors.h"
#include "support/server_folder.h"
#include "support/server_settings.h"

namespace {

namespace fs = std::filesystem;

DWORD Code(int number) {
    return MakeErrorCode(number);
}

constexpr const char* kContent = "Hello, world!\n";

struct Server {
    const char* name;
    const char* portVariable;
    bool offersDigests;  // XCRC, XMD5, MLST and MFMT
};

void PrintTo(const Server& server, std::ostream* out) {
    *out << server.name;
}

std::string Stamp(const SYSTEMTIME& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond);
    return text;
}

class FtpFileOpsTest : public ::testing::TestWithParam<Server> {
  protected:
    void SetUp() override {
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_USER", "FT_TEST_ROOT",
                                GetParam().portVariable);
        work_ = std::make_unique<ServerFolder>(Setting("FT_TEST_ROOT"),
                                               std::string("fileops-") + GetParam().name);
        ASSERT_EQ(FtpInitialize(nullptr), 1);
        initialized_ = true;
        client_ = FtpConnect(
            Setting("FT_TEST_HOST").c_str(), std::stoi(Setting(GetParam().portVariable)),
            Setting("FT_TEST_USER").c_str(), Setting("FT_TEST_PASSWORD").c_str(), 10, 0, nullptr);
        SKIP_IF_NOT_RUNNING(
            client_ == INVALID_CLIENT && FtpGetLastError() == Code(fileErrorConnectionRefused),
            GetParam().name);
        ASSERT_NE(client_, INVALID_CLIENT) << std::hex << FtpGetLastError();
    }
    void TearDown() override {
        if (client_ != INVALID_CLIENT) FtpDisconnect(client_);
        if (initialized_) FtpUninitialize();
    }

    std::string ServerFile(const std::string& name, const std::string& content, mode_t mode = 0644,
                           time_t modified = 0) {
        return work_->Put(name, content, mode, modified);
    }
    std::string Remote(const std::string& name) const { return work_->Remote(name); }
    fs::path OnDisk(const std::string& name) const { return *work_ / name; }
    struct stat Stat(const std::string& name) const {
        struct stat info {};
        EXPECT_EQ(::stat(OnDisk(name).c_str(), &info), 0) << name;
        return info;
    }

    std::unique_ptr<ServerFolder> work_;
    bool initialized_ = false;
    FtpClient client_ = INVALID_CLIENT;
};

TEST_P(FtpFileOpsTest, ReadsSizeTimePermissionsAndStatus) {
    const time_t modified = 1577934245;  // 2020-01-02 03:04:05 UTC
    std::string file = ServerFile("hello.txt", kContent, 0640, modified);
    work_->MakeFolder("folder");
    DWORD features = FtpGetFeatures(client_);
    const DWORD facts =
        ftp::kFeatureMlst | ftp::kFeatureMfmt | ftp::kFeatureXcrc | ftp::kFeatureXmd5;
    if (GetParam().offersDigests) {
        EXPECT_EQ(features & facts, facts);
    }

    int64_t size = 0;
    EXPECT_GT(FtpGetFileSize64(client_, file.c_str(), &size), 0) << std::hex << FtpGetLastError();
    EXPECT_EQ(size, static_cast<int64_t>(Stat("hello.txt").st_size));

    SYSTEMTIME time{};
    EXPECT_EQ(FtpGetFileTime(client_, file.c_str(), &time, FALSE), 213);
    EXPECT_EQ(Stamp(time), "2020-01-02 03:04:05");

    DWORD permissions = 0;
    EXPECT_GT(FtpGetFilePermissions(client_, file.c_str(), &permissions), 0);
    EXPECT_EQ(permissions, Stat("hello.txt").st_mode & 0777);
    EXPECT_EQ(permissions, 0640u);

    FtpDirectoryEntry entry{};
    ASSERT_EQ(FtpGetFileInfo(client_, file.c_str(), &entry), 1) << std::hex << FtpGetLastError();
    EXPECT_EQ(entry.name, file);
    EXPECT_EQ(entry.size, 14u);
    EXPECT_EQ(entry.directory, 0);
    EXPECT_EQ(entry.permissions, 0640u);
    EXPECT_EQ(Stamp(entry.date).substr(0, 10), "2020-01-02");

    std::string folder = Remote("folder");
    ASSERT_EQ(FtpGetFileInfo(client_, folder.c_str(), &entry), 1) << std::hex << FtpGetLastError();
    EXPECT_EQ(entry.directory, 1);

    std::string missing = Remote("missing.txt");
    EXPECT_EQ(FtpGetFileInfo(client_, missing.c_str(), &entry), 0);
    DWORD error = FtpGetLastError();
    EXPECT_TRUE(error == Code(fileErrorFileNotFound) || error == Code(fileErrorAccessDenied))
        << std::hex << error;
    EXPECT_EQ(FtpGetFileTime(client_, missing.c_str(), &time, FALSE), -1);
    EXPECT_EQ(FtpGetLastError(), Code(fileErrorFileNotFound));
    // None of these is a refusal of a command: the mask learned nothing.
    EXPECT_EQ(FtpGetFeatures(client_), features);
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpFileOpsTest,
                         ::testing::Values(Server{"vsftpd", "FT_TEST_FTP_PORT", false},
                                           Server{"proftpd", "FT_TEST_PROFTPD_PORT", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
