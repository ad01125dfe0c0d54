// Transfers against the real FTP servers of scripts/servers.sh: byte-exact
// downloads and uploads (passive and active, IPv4 and IPv6) and unique names.
// ASCII line ends, refused downloads and restarts go through every layer in
// cli_ftp_test.cpp, appends and 64-bit sizes in cli_sizes_test.cpp.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ftp/ftp.h"
#include "resources/errors.h"
#include "support/server_settings.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kLargeSize = 8u << 20;
#else
constexpr std::size_t kLargeSize = 64u << 20;
#endif

struct Case {
    const char* server;
    const char* portVariable;
    bool ipv6;
    bool passive;
};

std::string CaseName(const Case& c) {
    return std::string(c.server) + (c.ipv6 ? "_ipv6" : "_ipv4") +
           (c.passive ? "_passive" : "_active");
}

class FtpTransferServerTest : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        const char* hostVariable = GetParam().ipv6 ? "FT_TEST_HOST6" : "FT_TEST_HOST";
        REQUIRE_SERVER_SETTINGS(hostVariable, "FT_TEST_USER", "FT_TEST_ROOT",
                                GetParam().portVariable);
        root_ = Setting("FT_TEST_ROOT");
        ASSERT_EQ(FtpInitialize(nullptr), 1);
        initialized_ = true;
        client_ =
            FtpConnect(Setting(hostVariable).c_str(), std::stoi(Setting(GetParam().portVariable)),
                       Setting("FT_TEST_USER").c_str(), Setting("FT_TEST_PASSWORD").c_str(), 10,
                       GetParam().passive ? FTP_OPTION_PASSIVE : 0, nullptr);
        SKIP_IF_NOT_RUNNING(client_ == INVALID_CLIENT &&
                                FtpGetLastError() == MakeErrorCode(fileErrorConnectionRefused),
                            GetParam().server);
        ASSERT_NE(client_, INVALID_CLIENT) << std::hex << FtpGetLastError();
        // Other test programs (and other checkouts) use the same home at once.
        prefix_ = "xfer-" + CaseName(GetParam()) + "-" + std::to_string(getpid()) + "-";
    }
    void TearDown() override {
        std::error_code ignored;
        for (const auto& name : remoteFiles_)
            fs::remove(fs::path(root_) / name, ignored);
        if (client_ != INVALID_CLIENT) FtpDisconnect(client_);
        if (initialized_) FtpUninitialize();
    }

    // A name in the test user's home that the test removes afterwards.
    std::string Remote(const std::string& name) {
        remoteFiles_.push_back(prefix_ + name);
        return prefix_ + name;
    }
    fs::path OnServer(const std::string& remote) const { return fs::path(root_) / remote; }

    std::string root_, prefix_;
    ScratchFolder local_{"ft-xfer"};
    std::vector<std::string> remoteFiles_;
    FtpClient client_ = INVALID_CLIENT;
    bool initialized_ = false;
};

TEST_P(FtpTransferServerTest, BinaryRoundTripsAreByteExact) {
    ASSERT_EQ(FtpSetFileType(client_, FTP_FILE_TYPE_IMAGE), 200);
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{8191}, std::size_t{8192},
                             std::size_t{8193}, std::size_t{16385}, kLargeSize}) {
        SCOPED_TRACE(size);
        std::string bytes = Pattern(size, static_cast<unsigned>(size) + 11);
        fs::path source = local_ / "source.bin";
        fs::path back = local_ / "back.bin";
        WriteFile(source, bytes);
        std::string remote = Remote("round-" + std::to_string(size) + ".bin");
        ASSERT_EQ(FtpPutFile(client_, source.c_str(), remote.c_str(), 0, 0), 0)
            << std::hex << FtpGetLastError();
        EXPECT_EQ(fs::file_size(OnServer(remote)), size);
        ASSERT_EQ(FtpGetFile(client_, back.c_str(), remote.c_str(), 0, 0), 0)
            << std::hex << FtpGetLastError();
        EXPECT_TRUE(ReadFile(back) == bytes);
        EXPECT_TRUE(ReadFile(OnServer(remote)) == bytes);
        FtpTransferStatus status{};
        ASSERT_EQ(FtpGetTransferStatus(client_, &status), 0);
        EXPECT_EQ(status.bytesCopied, size);
    }
}

TEST_P(FtpTransferServerTest, AutomaticTypeChoosesAsciiForTextNames) {
    ASSERT_EQ(FtpSetFileType(client_, FTP_FILE_TYPE_AUTO), 200);
    fs::path lines = local_ / "auto.txt";
    ASSERT_EQ(FtpGetFile(client_, lines.c_str(), "lines.txt", 0, 0), 0);
    EXPECT_EQ(ReadFile(lines), "alpha\nbeta\ngamma\ndelta\n");
    fs::path big = local_ / "auto.bin";
    ASSERT_EQ(FtpGetFile(client_, big.c_str(), "big.bin", 0, 0), 0);
    EXPECT_TRUE(ReadFile(big) == ReadFile(OnServer("big.bin")));
}

TEST_P(FtpTransferServerTest, UniqueStoreNeverOverwrites) {
    ASSERT_EQ(FtpSetFileType(client_, FTP_FILE_TYPE_IMAGE), 200);
    fs::path source = local_ / "unique.bin";
    WriteFile(source, "first");
    std::string remote = Remote("unique.bin");
    ASSERT_EQ(FtpPutFile(client_, source.c_str(), remote.c_str(), 0, 0), 0);
    // Content of this run alone: other test programs upload into the same home.
    const std::string second = "second " + std::to_string(getpid()) + " " +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name();
    WriteFile(source, second);
    ASSERT_EQ(FtpPutFile(client_, source.c_str(), remote.c_str(), FTP_TRANSFER_UNIQUE, 0), 0)
        << std::hex << FtpGetLastError();
    EXPECT_EQ(ReadFile(OnServer(remote)), "first");
    std::size_t tracked = remoteFiles_.size();
    for (const auto& entry : fs::directory_iterator(root_)) {
        // Other test programs add and remove files here meanwhile.
        std::error_code gone;
        if (entry.is_regular_file(gone) && entry.file_size(gone) == second.size() && !gone &&
            ReadFile(entry.path()) == second) {
            remoteFiles_.push_back(entry.path().filename().string());
        }
    }
    EXPECT_EQ(remoteFiles_.size(), tracked + 1) << "one new file holds the unique upload";
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpTransferServerTest,
                         ::testing::Values(Case{"vsftpd", "FT_TEST_FTP_PORT", false, true},
                                           Case{"vsftpd", "FT_TEST_FTP_PORT", false, false},
                                           Case{"vsftpd", "FT_TEST_FTP_PORT", true, true},
                                           Case{"vsftpd", "FT_TEST_FTP_PORT", true, false},
                                           Case{"proftpd", "FT_TEST_PROFTPD_PORT", false, true},
                                           Case{"proftpd", "FT_TEST_PROFTPD_PORT", false, false},
                                           Case{"proftpd", "FT_TEST_PROFTPD_PORT", true, true},
                                           Case{"proftpd", "FT_TEST_PROFTPD_PORT", true, false}),
                         [](const auto& info) { return CaseName(info.param); });

}  // namespace
