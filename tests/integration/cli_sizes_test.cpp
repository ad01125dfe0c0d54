// 64-bit sizes end to end and transfers that must not lose data, through the
// command line and the control against the loopback servers: vsftpd, proftpd,
// OpenSSH's sftp and nginx. Every file is named for the test and the process
// and removed afterwards; HOME is a temporary folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "control/method_call_support.h"
#include "control/session_test_support.h"
#include "support/cli_run.h"
#include "support/cli_servers.h"
#include "support/server_folder.h"
#include "support/server_settings.h"

namespace {

namespace fs = std::filesystem;

constexpr unsigned long long kBigSize = 5368709120ull;  // 5 GiB
constexpr unsigned long long kTailOffset = 5368709000ull;
constexpr std::size_t kTailLength = 120;

using Kind = ServerKind;
using Server = CliServer;

// The bytes of the last kTailLength bytes of the big file: none of them zero.
std::string TailPattern() {
    std::string tail;
    for (std::size_t i = 0; i < kTailLength; ++i)
        tail += static_cast<char>('A' + i % 26);
    return tail;
}

using ServerTest = CliServerTest;

// ---- A sparse 5 GiB file ------------------------------------------------------------

class BigFile : public ServerTest {
  protected:
    void SetUp() override {
        ServerTest::SetUp();
        if (IsSkipped() || HasFailure()) return;
        const fs::path big = remote_ / "big.bin";
        const int fd = ::open(big.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kBigSize)), 0);
        const std::string tail = TailPattern();
        ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(kTailOffset)),
                  static_cast<ssize_t>(tail.size()));
        ::close(fd);
        server_->Own(big);
    }
};

TEST_P(BigFile, SizeListingStatusAndResumeSeeAllFiveGigabytes) {
    const RunResult size = ExpectOk(Run({"size", Url("big.bin")}));
    EXPECT_EQ(size.out, "5368709120\n");

    if (!IsHttp()) {
        const RunResult stat = ExpectOk(Run({"stat", Url("big.bin")}));
        EXPECT_NE(stat.out.find("size: 5368709120\n"), std::string::npos) << stat.out;
        const RunResult json = ExpectOk(Run({"ls", "--json", Url("")}));
        EXPECT_NE(json.out.find("{\"name\":\"big.bin\",\"size\":5368709120,"), std::string::npos)
            << json.out;
    }

    // The local file holds everything before the offset (sparse here too).
    const fs::path local = local_ / "big.part";
    const int fd = ::open(local.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kTailOffset)), 0);
    ::close(fd);
    ExpectOk(
        Run({"get", "--restart", std::to_string(kTailOffset), Url("big.bin"), local.string()}));
    ASSERT_EQ(fs::file_size(local), kBigSize);
    std::ifstream in(local, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(kTailOffset));
    std::string tail(kTailLength, '\0');
    in.read(tail.data(), static_cast<std::streamsize>(tail.size()));
    EXPECT_EQ(tail, TailPattern());
}

const Server kAllServers[] = {
    {"Vsftpd", Kind::Ftp, "FT_TEST_FTP_PORT"},
    {"Proftpd", Kind::Ftp, "FT_TEST_PROFTPD_PORT"},
    {"Sftp", Kind::Sftp, "FT_TEST_SFTP_PORT"},
    {"Nginx", Kind::Http, "FT_TEST_HTTP_PORT"},
};
const auto kServerName = [](const auto& info) { return std::string(info.param.name); };

INSTANTIATE_TEST_SUITE_P(Servers, BigFile, ::testing::ValuesIn(kAllServers), kServerName);

// ---- Transfers that must keep what is there ---------------------------------------------

// Append, folders and transfer types are FTP's and SFTP's; the restart rule holds for
// HTTP too.
class KeepsData : public ServerTest {};
class RestartRefused : public ServerTest {};

TEST_P(KeepsData, AppendAutomaticTypeAndAFolderKeepWhatIsThere) {
    server_->Put("get.txt", "remote-tail");
    WriteFile(local_ / "get.txt", "local-head:");
    ExpectOk(Run(
        {"get", "--append", "--type", "binary", Url("get.txt"), (local_ / "get.txt").string()}));
    EXPECT_EQ(ReadFile(local_ / "get.txt"), "local-head:remote-tail");

    server_->Put("put.txt", "remote-head:");
    WriteFile(local_ / "put.txt", "local-tail");
    ExpectOk(Run(
        {"put", "--append", "--type", "binary", (local_ / "put.txt").string(), Url("put.txt")}));
    EXPECT_EQ(ReadFile(remote_ / "put.txt"), "remote-head:local-tail");

    // The automatic type ignores the local name: bytes a text transfer would
    // change keep their value under a name that says text.
    const std::string binary("line\nnext\r\n\0\xff\x80 end\n", 20);
    WriteFile(local_ / "looks.txt", binary);
    ExpectOk(Run({"put", "--type", "auto", (local_ / "looks.txt").string(), Url("data.bin")}));
    EXPECT_EQ(ReadFile(remote_ / "data.bin"), binary);

    // A get of a folder leaves the local file alone and creates none.
    fs::create_directories(remote_ / "inner");
    server_->Own(remote_ / "inner");
    WriteFile(local_ / "keep.txt", "precious");
    EXPECT_NE(Run({"get", Url("inner"), (local_ / "keep.txt").string()}).exitCode, 0);
    EXPECT_EQ(ReadFile(local_ / "keep.txt"), "precious");
    EXPECT_NE(Run({"get", Url("inner"), (local_ / "new.txt").string()}).exitCode, 0);
    EXPECT_FALSE(fs::exists(local_ / "new.txt"));
}

TEST_P(RestartRefused, BeyondTheLocalEndBeforeSending) {
    server_->Put("data.bin", std::string(64, 'r'));
    WriteFile(local_ / "data.bin", "0123456789");
    const RunResult get =
        Run({"get", "--restart", "32", Url("data.bin"), (local_ / "data.bin").string()});
    EXPECT_NE(get.exitCode, 0);
    EXPECT_NE(get.err.find("12241"), std::string::npos) << get.err;
    EXPECT_EQ(ReadFile(local_ / "data.bin"), "0123456789") << "no hole of zeros";
}

INSTANTIATE_TEST_SUITE_P(Servers, KeepsData,
                         ::testing::ValuesIn(std::begin(kAllServers), std::end(kAllServers) - 1),
                         kServerName);
INSTANTIATE_TEST_SUITE_P(Servers, RestartRefused, ::testing::ValuesIn(kAllServers), kServerName);

// ---- Times ---------------------------------------------------------------------

// Times in UTC unless Localize is set, in a zone nine hours east of UTC.
class Times : public ServerTest {
  protected:
    ScopedEnv zone_{"TZ", "JST-9"};
    time_t ModifiedAt(const std::string& name) const {
        struct stat info {};
        EXPECT_EQ(::stat((remote_ / name).c_str(), &info), 0);
        return info.st_mtime;
    }
};

TEST_P(Times, TouchMtimeAndStatAgree) {
    server_->Put("t.txt", "x");
    constexpr time_t kUtc = 1577934245;  // 2020-01-02 03:04:05 UTC, 12:04:05 in the zone
    struct Case {
        std::vector<std::string> set;
        const char* written;
    };
    const Case cases[] = {{{}, "2020-01-02 03:04:05"},
                          {{"--set", "Localize=True"}, "2020-01-02 12:04:05"}};
    for (const Case& c : cases) {
        auto with = [&](std::vector<std::string> args) {
            args.insert(args.begin(), c.set.begin(), c.set.end());
            return Run(args);
        };
        ASSERT_EQ(::truncate((remote_ / "t.txt").c_str(), 1), 0);
        struct timespec old[2] = {{86400, 0}, {86400, 0}};
        ::utimensat(AT_FDCWD, (remote_ / "t.txt").c_str(), old, 0);
        ExpectOk(with({"touch", Url("t.txt"), c.written}));
        EXPECT_EQ(ModifiedAt("t.txt"), kUtc) << c.written;
        const RunResult mtime = with({"mtime", Url("t.txt")});
        EXPECT_EQ(mtime.out, std::string(c.written) + "\n") << mtime.err;
        const RunResult stat = with({"stat", Url("t.txt")});
        EXPECT_NE(stat.out.find(std::string("date: ") + c.written + "\n"), std::string::npos)
            << stat.out << stat.err;
    }
}

// vsftpd's status of a file is a listing line without the time of day.
const Server kExactTimeServers[] = {
    {"Proftpd", Kind::Ftp, "FT_TEST_PROFTPD_PORT"},
    {"Sftp", Kind::Sftp, "FT_TEST_SFTP_PORT"},
};
INSTANTIATE_TEST_SUITE_P(Servers, Times, ::testing::ValuesIn(kExactTimeServers), kServerName);

// ---- Switching engines -------------------------------------------------------------------

class EngineSwitch : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_USER", "FT_TEST_FTP_PORT",
                                "FT_TEST_HTTP_PORT");
        const std::string host = Setting("FT_TEST_HOST");
        ftpUrl_ = "ftp://" + Setting("FT_TEST_USER") + ":" + Setting("FT_TEST_PASSWORD") + "@" +
                  host + ":" + Setting("FT_TEST_FTP_PORT") + "/";
        httpUrl_ = "http://" + host + ":" + Setting("FT_TEST_HTTP_PORT") + "/";
        for (CFileTransfer*& control : controls_) {
            control = CFileTransfer::Create();
            ASSERT_NE(control, nullptr);
        }
    }
    void TearDown() override {
        for (CFileTransfer* control : controls_) {
            if (!control) continue;
            control->Disconnect(nullptr);
            control->Release();
        }
    }
    static LONG ConnectTo(CFileTransfer* control, const std::string& url) {
        BSTR text = BstrFromUtf8(url);
        EXPECT_EQ(control->put_URL(text), S_OK);
        SysFreeString(text);
        VARIANT timeout = I4(20);
        return CallWithError(control, &CFileTransfer::Connect, nullptr, nullptr, nullptr, nullptr,
                             &timeout, nullptr);
    }
    std::string ftpUrl_, httpUrl_;
    CFileTransfer* controls_[2] = {nullptr, nullptr};
};

TEST_F(EngineSwitch, SessionsOfTwoEnginesStandApartAndAnotherEnginesUrlClosesTheConnection) {
    ASSERT_EQ(ConnectTo(controls_[0], ftpUrl_), 0);
    ASSERT_EQ(ConnectTo(controls_[1], httpUrl_), 0);
    const std::string hello = "/hello.txt";
    // The size, or minus the last error.
    auto size = [](CFileTransfer* control, const std::string& name) {
        VariantOutputs<1> out;
        LONG error = 0;
        if (CallWithError(control, &CFileTransfer::GetFileSize, TextVariant(name), out[0]) == 0)
            return out.v[0].lVal;
        control->get_LastError(&error);
        return -error;
    };
    EXPECT_EQ(size(controls_[0], "hello.txt"), 14);
    EXPECT_EQ(size(controls_[1], hello), 14);

    // The HTTP URL closes the FTP session first: the other control's
    // connection goes on, and the first one's next call opens nothing.
    BSTR text = BstrFromUtf8(httpUrl_);
    ASSERT_EQ(controls_[0]->put_URL(text), S_OK);
    SysFreeString(text);
    EXPECT_EQ(size(controls_[1], hello), 14);
    EXPECT_EQ(size(controls_[0], hello), -fileErrorNotConnected);
}

}  // namespace
