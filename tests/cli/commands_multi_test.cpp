// mget and mput through the in-process command line: a folder up and down
// against the real servers of scripts/servers.sh (skipped without them, unless
// CI=true).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "cli_test_support.h"
#include "support/server_settings.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Binary(std::size_t size, unsigned salt) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 31 + salt + i / 251) & 0xFF);
    return bytes;
}

struct Server {
    const char* name;
    const char* portVariable;
};

class MultipleCommandTest : public ::testing::TestWithParam<Server> {
  protected:
    void SetUp() override {
        const std::string host = Setting("FT_TEST_HOST"), user = Setting("FT_TEST_USER");
        const std::string password = Setting("FT_TEST_PASSWORD");
        const std::string port = Setting(GetParam().portVariable);
        const std::string root = Setting("FT_TEST_ROOT");
        if (host.empty() || user.empty() || port.empty() || root.empty()) {
            if (InCi()) FAIL() << "test server settings missing; run scripts/servers.sh start";
            GTEST_SKIP() << "no test servers configured (scripts/servers.sh start)";
        }
        const std::string name =
            "cli-multi-" + std::string(GetParam().name) + "-" + std::to_string(getpid());
        server_ = fs::path(root) / name;
        local_ = fs::path(testing::TempDir()) / (name + ".local");
        fs::create_directories(server_);
        fs::create_directories(local_);
        struct stat home {};
        if (::geteuid() == 0 && ::stat(root.c_str(), &home) == 0) {
            ASSERT_EQ(::chown(server_.c_str(), home.st_uid, home.st_gid), 0);
        }
        // Without a closing slash: the command adds it.
        url_ = "ftp://" + user + ":" + password + "@" + host + ":" + port + "/" + root + "/" + name;
        const RunResult probe = RunCli({"info", url_ + "/"});
        if (probe.err.find("error 10061") != std::string::npos && !InCi()) {
            GTEST_SKIP() << GetParam().name << " is not running";
        }
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(server_, ignored);
        fs::remove_all(local_, ignored);
    }

    fs::path server_, local_;
    std::string url_;
};

TEST_P(MultipleCommandTest, MputByMaskThenMgetOfEverythingIsByteExact) {
    const fs::path up = local_ / "up";
    fs::create_directories(up);
    const std::string one = Binary(150000, 1), two = Binary(10, 2);
    WriteFile(up / "one.bin", one);
    WriteFile(up / "two.bin", two);
    WriteFile(up / "skip.txt", "not sent\n");

    RunResult run = RunCli({"mput", "-q", up.string(), url_, "*.bin"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_TRUE(ReadFile(server_ / "one.bin") == one);
    EXPECT_TRUE(ReadFile(server_ / "two.bin") == two);
    EXPECT_FALSE(fs::exists(server_ / "skip.txt"));

    const fs::path down = local_ / "down";
    fs::create_directories(down);
    run = RunCli({"mget", url_ + "/", down.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(ReadFile(down / "one.bin") == one);
    EXPECT_TRUE(ReadFile(down / "two.bin") == two);
    EXPECT_EQ(std::distance(fs::directory_iterator(down), fs::directory_iterator()), 2);

    run = RunCli({"mget", url_, (local_ / "missing").string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("error 10021"), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Servers, MultipleCommandTest,
                         ::testing::Values(Server{"vsftpd", "FT_TEST_FTP_PORT"},
                                           Server{"proftpd", "FT_TEST_PROFTPD_PORT"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
