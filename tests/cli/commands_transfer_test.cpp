// get and put through the in-process command line, against the real servers
// of scripts/servers.sh (skipped without them, unless CI=true), and the
// progress line's format.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/command_line.h"
#include "cli/progress_line.h"
#include "cli_test_support.h"
#include "support/server_settings.h"
#include "support/test_files.h"

namespace {

// ---- The progress line ----------------------------------------------------------

TEST(ProgressLineFormat, ShowsBytesPercentRateAndTimeLeft) {
    EXPECT_EQ(FormatBytes(512), "512 B");
    EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
    EXPECT_EQ(FormatBytes(uint64_t{3} << 30), "3.0 GiB");
    EXPECT_EQ(FormatProgress(1 << 20, 4 << 20, 25, 2.0),
              "1.0 MiB / 4.0 MiB  25%  512.0 KiB/s  0:06 left");
    EXPECT_EQ(FormatProgress(4 << 20, 4 << 20, 100, 4.0),
              "4.0 MiB / 4.0 MiB  100%  1.0 MiB/s  0:04 total");
    // Too early for a rate.
    EXPECT_EQ(FormatProgress(10, 100, 10, 0.01), "10 B / 100 B  10%  -- /s  -- left");
    EXPECT_EQ(FormatProgress(1, 7200, 0, 1.0), "1 B / 7.0 KiB  0%  1 B/s  1:59:59 left");
}

// Files beyond 4 GiB: the counts stay whole (no wrap at 2^32, no clamp).
TEST(ProgressLineFormat, CountsAbove4GiBStayWhole) {
    constexpr uint64_t kGiB = uint64_t{1} << 30;
    struct Case {
        uint64_t copied;
        uint64_t total;
        long percent;
        double seconds;
        const char* line;
    };
    const Case cases[] = {
        {5 * kGiB, 8 * kGiB, 62, 2.0, "5.0 GiB / 8.0 GiB  62%  2.5 GiB/s  0:01 left"},
        {(uint64_t{1} << 32) + 1, 12 * kGiB, 33, 4.0,
         "4.0 GiB / 12.0 GiB  33%  1.0 GiB/s  0:08 left"},
        {6 * kGiB, 6 * kGiB, 100, 3.0, "6.0 GiB / 6.0 GiB  100%  2.0 GiB/s  0:03 total"},
        {1024 * kGiB, 2048 * kGiB, 50, 1024.0,
         "1024.0 GiB / 2048.0 GiB  50%  1.0 GiB/s  17:04 left"},
        {kGiB / 2, 5 * kGiB, 10, 0.1, "512.0 MiB / 5.0 GiB  10%  -- /s  -- left"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatProgress(c.copied, c.total, c.percent, c.seconds), c.line) << c.line;
    }
    // The line itself takes the 64-bit counts the control's members give.
    std::ostringstream stream;
    ProgressLine line(stream);
    line.Update(9 * kGiB, 5 * kGiB, 55);
    line.Finish();
    EXPECT_EQ(stream.str().rfind("\r5.0 GiB / 9.0 GiB  55%  ", 0), 0u) << stream.str();
}

TEST(ProgressLineFormat, NothingIsDrawnWhenNotATerminal) {
    std::ostringstream stream;
    EXPECT_FALSE(IsTerminalStream(stream));
}

// ---- Against the servers ------------------------------------------------------------

struct Server {
    const char* name;
    const char* portVariable;
};

class TransferCommandTest : public ::testing::TestWithParam<Server> {
  protected:
    void SetUp() override {
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_USER", "FT_TEST_ROOT",
                                GetParam().portVariable);
        const std::string host = Setting("FT_TEST_HOST");
        const std::string user = Setting("FT_TEST_USER");
        const std::string password = Setting("FT_TEST_PASSWORD");
        const std::string port = Setting(GetParam().portVariable);
        root_ = Setting("FT_TEST_ROOT");
        base_ = "ftp://" + user + ":" + password + "@" + host + ":" + port + "/" + root_ + "/";
        name_ = "cli-transfer-" + std::string(GetParam().name) + "-" + std::to_string(getpid());
        local_ = testing::TempDir() + name_ + ".local";
        const RunResult probe = RunCli({"info", base_});
        SKIP_IF_NOT_RUNNING(probe.err.find("error 10061") != std::string::npos, GetParam().name);
    }
    void TearDown() override {
        std::remove(local_.c_str());
        std::remove(ServerPath().c_str());
    }
    std::string ServerPath() const { return root_ + "/" + name_; }
    std::string Url() const { return base_ + name_; }

    std::string root_, base_, name_, local_;
};

TEST_P(TransferCommandTest, PutThenGetIsByteExact) {
    const std::string bytes = Pattern(200000);
    WriteFile(local_, bytes);
    RunResult run = RunCli({"put", local_, Url()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");  // not a terminal: no progress line
    EXPECT_TRUE(ReadFile(ServerPath()) == bytes);
    std::remove(local_.c_str());
    run = RunCli({"get", "--active", Url(), local_});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(ReadFile(local_) == bytes);
}

TEST_P(TransferCommandTest, UrlEndingInASlashTakesTheLocalName) {
    WriteFile(local_, "named after the local file");
    const RunResult run = RunCli({"put", "-q", local_, base_});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string stored = root_ + "/" + name_ + ".local";
    EXPECT_EQ(ReadFile(stored), "named after the local file");
    std::remove(stored.c_str());
}

TEST_P(TransferCommandTest, AsciiTypeTurnsLineEnds) {
    // Uploaded as text the lines reach the server; back as text they end in LF.
    WriteFile(local_, "one\ntwo\n");
    RunResult run = RunCli({"put", "--type", "ascii", local_, Url()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string stored = ReadFile(ServerPath());
    EXPECT_TRUE(stored == "one\ntwo\n" || stored == "one\r\ntwo\r\n") << stored;
    WriteFile(ServerPath(), "a\r\nb\r\n", 0666);
    run = RunCli({"get", "--type", "ascii", Url(), local_});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFile(local_), "a\nb\n");
    run = RunCli({"get", "--type", "binary", Url(), local_});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFile(local_), "a\r\nb\r\n");
}

TEST_P(TransferCommandTest, RefusedRetrExitsOneWithItsError) {
    const RunResult run = RunCli({"get", base_ + "no-such-file.bin", local_});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "filetransfer: error 10013: Access denied\n");
    EXPECT_FALSE(std::ifstream(local_).good());
}

TEST_P(TransferCommandTest, InterruptCancelsTheTransfer) {
    // The lowest priority makes the transfer take seconds. The signal comes
    // from another thread, as a terminal's would, once the download has
    // created its local file: the command's handler is in place by then.
    WriteFile(ServerPath(), Pattern(1 << 20), 0666);
    std::thread interrupter([this] {
        for (int i = 0; i < 200; ++i) {
            if (access(local_.c_str(), F_OK) == 0) {
                kill(getpid(), SIGINT);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    const RunResult run = RunCli({"--set", "Priority=0", "get", Url(), local_});
    interrupter.join();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "filetransfer: error 10004: The blocking operation has been canceled\n");
}

INSTANTIATE_TEST_SUITE_P(Servers, TransferCommandTest,
                         ::testing::Values(Server{"vsftpd", "FT_TEST_FTP_PORT"},
                                           Server{"proftpd", "FT_TEST_PROFTPD_PORT"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- FTPS ---------------------------------------------------------------------------

class SecureCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_FTPS_PORT", "FT_TEST_FTPS_IMPLICIT_PORT",
                                "FT_TEST_CA_FILE");
        host_ = Setting("FT_TEST_HOST");
        credentials_ = Setting("FT_TEST_USER") + ":" + Setting("FT_TEST_PASSWORD");
        explicitPort_ = Setting("FT_TEST_FTPS_PORT");
        implicitPort_ = Setting("FT_TEST_FTPS_IMPLICIT_PORT");
        trust_.emplace("SSL_CERT_FILE", Setting("FT_TEST_CA_FILE"));
    }
    std::string Url(const std::string& port) const {
        return "ftps://" + credentials_ + "@" + host_ + ":" + port + "/";
    }

    std::string host_, credentials_, explicitPort_, implicitPort_;
    std::optional<ScopedEnv> trust_;
};

TEST_F(SecureCommandTest, InfoShowsTheSecureSession) {
    for (const bool implicit : {false, true}) {
        const RunResult run = implicit ? RunCli({"info", "--implicit", Url(implicitPort_)})
                                       : RunCli({"info", Url(explicitPort_)});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        for (const char* line :
             {"\nSecureProtocol = fileProtocol", "\nSecureCipher = fileCipherAES\n",
              "\nCipherStrength = ", "\nCertificateSubject = CN=localhost\n",
              "\nCertificateExpires = "})
            EXPECT_NE(run.out.find(line), std::string::npos) << line << " in " << run.out;
    }
    // Without --implicit a non-990 port means explicit TLS, which the implicit
    // server does not speak: the connect fails. (Protected transfers are
    // tests/integration/ftps_test.cpp's.)
    EXPECT_EQ(RunCli({"--set", "Timeout=3", "info", Url(implicitPort_)}).exitCode, 1);
}

TEST_F(SecureCommandTest, AnUntrustedCertificateIsRefusedUnlessInsecure) {
    unsetenv("SSL_CERT_FILE");
    RunResult run = RunCli({"info", Url(explicitPort_)});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "filetransfer: certificate not valid: fileCertificateUntrusted (5)\n");
    run = RunCli({"info", "-k", Url(explicitPort_)});
    EXPECT_EQ(run.exitCode, 0) << run.err;
}

}  // namespace
