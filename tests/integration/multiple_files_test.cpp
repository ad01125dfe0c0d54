// Multiple-file transfers against the real FTP servers of scripts/servers.sh:
// a folder of files up and down by mask, byte-exact (keep-alive is
// tests/ftp/keepalive_test.cpp's, against scripted servers). Without the
// servers' settings the tests skip, unless CI=true.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "ftp/ftp.h"
#include "resources/errors.h"
#include "support/server_folder.h"
#include "support/server_settings.h"

namespace {

namespace fs = std::filesystem;

struct Server {
    const char* name;
    const char* portVariable;
};

class MultipleFilesServerTest : public ::testing::TestWithParam<Server> {
  protected:
    void SetUp() override {
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_USER", "FT_TEST_ROOT",
                                GetParam().portVariable);
        work_ = std::make_unique<ServerFolder>(Setting("FT_TEST_ROOT"),
                                               std::string("multi-") + GetParam().name);
        remoteFolder_ = work_->name();
        ASSERT_EQ(FtpInitialize(nullptr), 1);
        initialized_ = true;
        client_ = Connect(FTP_OPTION_PASSIVE);
        SKIP_IF_NOT_RUNNING(client_ == INVALID_CLIENT &&
                                FtpGetLastError() == MakeErrorCode(fileErrorConnectionRefused),
                            GetParam().name);
        ASSERT_NE(client_, INVALID_CLIENT) << std::hex << FtpGetLastError();
    }
    void TearDown() override {
        if (client_ != INVALID_CLIENT) FtpDisconnect(client_);
        if (initialized_) FtpUninitialize();
    }
    FtpClient Connect(DWORD options) const {
        return FtpConnect(Setting("FT_TEST_HOST").c_str(),
                          std::stoi(Setting(GetParam().portVariable)),
                          Setting("FT_TEST_USER").c_str(), Setting("FT_TEST_PASSWORD").c_str(), 10,
                          options, nullptr);
    }

    FtpClient client_ = INVALID_CLIENT;
    bool initialized_ = false;
    std::unique_ptr<ServerFolder> work_;
    std::string remoteFolder_;
    ScratchFolder local_{"multi-local"};
};

TEST_P(MultipleFilesServerTest, AFolderGoesUpAndComesBackByMaskByteForByte) {
    const fs::path up = local_ / "up";
    fs::create_directories(up / "nested.bin");
    const std::string first = Pattern(300000, 1), second = Pattern(1, 2);
    WriteFile(up / "first.bin", first);
    WriteFile(up / "second file.bin", second);
    WriteFile(up / "notes.txt", "left out\n");

    ASSERT_EQ(FtpPutMultipleFiles(client_, up.c_str(), remoteFolder_.c_str(), "*.bin"), 0)
        << std::hex << FtpGetLastError();
    EXPECT_TRUE(ReadFile(*work_ / "first.bin") == first);
    EXPECT_TRUE(ReadFile(*work_ / "second file.bin") == second);
    EXPECT_FALSE(fs::exists(*work_ / "notes.txt"));
    EXPECT_FALSE(fs::exists(*work_ / "nested.bin"));

    // The server's own files join them; its folders are skipped on the way down.
    WriteFile(*work_ / "server.dat", "not matched");
    fs::create_directories(*work_ / "folder.bin");
    const fs::path down = local_ / "down";
    fs::create_directories(down);
    ASSERT_EQ(
        FtpGetMultipleFiles(client_, (down.string() + "/").c_str(), remoteFolder_.c_str(), "*.bin"),
        0)
        << std::hex << FtpGetLastError();
    EXPECT_TRUE(ReadFile(down / "first.bin") == first);
    EXPECT_TRUE(ReadFile(down / "second file.bin") == second);
    EXPECT_FALSE(fs::exists(down / "server.dat"));
    EXPECT_FALSE(fs::exists(down / "folder.bin"));

    // Both calls changed back to the login folder.
    char directory[FTP_MAX_PATH] = {};
    EXPECT_EQ(FtpGetCurrentDirectory(client_, directory, sizeof directory), 257);
    EXPECT_EQ(fs::path(directory).filename(), fs::path(Setting("FT_TEST_ROOT")).filename());
}

INSTANTIATE_TEST_SUITE_P(Servers, MultipleFilesServerTest,
                         ::testing::Values(Server{"vsftpd", "FT_TEST_FTP_PORT"},
                                           Server{"proftpd", "FT_TEST_PROFTPD_PORT"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
