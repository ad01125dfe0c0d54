// Multiple-file transfers and keep-alive against the real FTP servers of
// scripts/servers.sh: a folder of files up and down by mask, byte-exact, and an
// idle session that gets NOOPs and stays usable. Without the servers' settings
// the tests skip, unless CI=true.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "ftp/ftp.h"
#include "ftp/keepalive.h"
#include "resources/errors.h"
#include "support/server_settings.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string Binary(std::size_t size, unsigned salt) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + salt + i / 509) & 0xFF);
    return bytes;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

struct Server {
    const char* name;
    const char* portVariable;
};

class MultipleFilesServerTest : public ::testing::TestWithParam<Server> {
  protected:
    void SetUp() override {
        const std::string host = Setting("FT_TEST_HOST"), user = Setting("FT_TEST_USER");
        const std::string root = Setting("FT_TEST_ROOT"), port = Setting(GetParam().portVariable);
        if (host.empty() || user.empty() || root.empty() || port.empty()) {
            if (InCi()) FAIL() << "test server settings missing; run scripts/servers.sh start";
            GTEST_SKIP() << "no test servers configured (scripts/servers.sh start)";
        }
        struct stat home {};
        ASSERT_EQ(::stat(root.c_str(), &home), 0) << root;
        const std::string name = std::string("multi-") + GetParam().name + "-" +
                                 std::to_string(::getpid()) + "-" +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        remoteFolder_ = name;
        for (char& c : remoteFolder_)
            if (c == '/') c = '_';
        work_ = fs::path(root) / remoteFolder_;
        fs::create_directories(work_);
        // The server writes as the test user.
        if (::geteuid() == 0) {
            ASSERT_EQ(::chown(work_.c_str(), home.st_uid, home.st_gid), 0);
        }
        local_ = fs::temp_directory_path() / (remoteFolder_ + "-local");
        fs::create_directories(local_);

        ASSERT_EQ(FtpInitialize(nullptr), 1);
        initialized_ = true;
        client_ = Connect(host, std::stoi(port), user, FTP_OPTION_PASSIVE);
        if (client_ == INVALID_CLIENT &&
            FtpGetLastError() == MakeErrorCode(fileErrorConnectionRefused) && !InCi()) {
            GTEST_SKIP() << GetParam().name << " is not running";
        }
        ASSERT_NE(client_, INVALID_CLIENT) << std::hex << FtpGetLastError();
    }
    void TearDown() override {
        if (client_ != INVALID_CLIENT) FtpDisconnect(client_);
        if (initialized_) FtpUninitialize();
        ftp::SetKeepAliveTimings(ftp::KeepAliveTimings{});
        std::error_code ignored;
        fs::remove_all(local_, ignored);
        fs::remove_all(work_, ignored);
    }
    static FtpClient Connect(const std::string& host, int port, const std::string& user,
                             DWORD options) {
        return FtpConnect(host.c_str(), port, user.c_str(), Setting("FT_TEST_PASSWORD").c_str(), 10,
                          options, nullptr);
    }

    FtpClient client_ = INVALID_CLIENT;
    bool initialized_ = false;
    std::string remoteFolder_;
    fs::path work_;
    fs::path local_;
};

TEST_P(MultipleFilesServerTest, AFolderGoesUpAndComesBackByMaskByteForByte) {
    const fs::path up = local_ / "up";
    fs::create_directories(up / "nested.bin");
    const std::string first = Binary(300000, 1), second = Binary(1, 2);
    WriteFile(up / "first.bin", first);
    WriteFile(up / "second file.bin", second);
    WriteFile(up / "notes.txt", "left out\n");

    ASSERT_EQ(FtpPutMultipleFiles(client_, up.c_str(), remoteFolder_.c_str(), "*.bin"), 0)
        << std::hex << FtpGetLastError();
    EXPECT_TRUE(ReadFile(work_ / "first.bin") == first);
    EXPECT_TRUE(ReadFile(work_ / "second file.bin") == second);
    EXPECT_FALSE(fs::exists(work_ / "notes.txt"));
    EXPECT_FALSE(fs::exists(work_ / "nested.bin"));

    // The server's own files join them; its folders are skipped on the way down.
    WriteFile(work_ / "server.dat", "not matched");
    fs::create_directories(work_ / "folder.bin");
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

TEST_P(MultipleFilesServerTest, AnIdleSessionGetsNoopsAndStaysUsableUntilUninitialize) {
    ftp::SetKeepAliveTimings(
        {.passInterval = 50, .idleTime = 200, .firstAnswerWait = 2000, .moreAnswerWait = 50});
    const FtpClient idle =
        Connect(Setting("FT_TEST_HOST"), std::stoi(Setting(GetParam().portVariable)),
                Setting("FT_TEST_USER"), FTP_OPTION_PASSIVE | FTP_OPTION_KEEPALIVE);
    ASSERT_NE(idle, INVALID_CLIENT) << std::hex << FtpGetLastError();
    EXPECT_EQ(ftp::KeepAliveSessionCount(), 1);
    const int before = ftp::KeepAliveAnsweredCount();
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (ftp::KeepAliveAnsweredCount() < before + 3 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_GE(ftp::KeepAliveAnsweredCount(), before + 3);
    EXPECT_EQ(ftp::KeepAliveSessionCount(), 1);  // every NOOP was answered

    // The answers never reach the session: its next command reads its own reply.
    char directory[FTP_MAX_PATH] = {};
    EXPECT_EQ(FtpGetCurrentDirectory(idle, directory, sizeof directory), 257);
    EXPECT_EQ(FtpCommand(idle, "SYST", nullptr), 215);

    FtpUninitialize();
    initialized_ = false;
    client_ = INVALID_CLIENT;
    EXPECT_FALSE(ftp::KeepAliveThreadRunning());
    EXPECT_EQ(ftp::KeepAliveSessionCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Servers, MultipleFilesServerTest,
                         ::testing::Values(Server{"vsftpd", "FT_TEST_FTP_PORT"},
                                           Server{"proftpd", "FT_TEST_PROFTPD_PORT"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
