// mget and mput through the in-process command line: a folder up and down
// against the real servers of scripts/servers.sh (skipped without them, unless
// CI=true).
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "cli_test_support.h"
#include "support/server_folder.h"
#include "support/server_settings.h"

namespace {

namespace fs = std::filesystem;

struct Server {
    const char* name;
    const char* portVariable;
};

class MultipleCommandTest : public ::testing::TestWithParam<Server> {
  protected:
    void SetUp() override {
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_USER", "FT_TEST_ROOT",
                                GetParam().portVariable);
        const std::string root = Setting("FT_TEST_ROOT");
        folder_.emplace(root, std::string("cli-multi-") + GetParam().name);
        server_ = folder_->path();
        // Without a closing slash: the command adds it.
        url_ = "ftp://" + Setting("FT_TEST_USER") + ":" + Setting("FT_TEST_PASSWORD") + "@" +
               Setting("FT_TEST_HOST") + ":" + Setting(GetParam().portVariable) + "/" + root + "/" +
               folder_->name();
        const RunResult probe = RunCli({"info", url_ + "/"});
        SKIP_IF_NOT_RUNNING(probe.err.find("error 10061") != std::string::npos, GetParam().name);
    }

    std::optional<ServerFolder> folder_;
    ScratchFolder scratch_{"cli-multi-local"};
    fs::path server_, local_ = scratch_.path();
    std::string url_;
};

TEST_P(MultipleCommandTest, MputByMaskThenMgetOfEverythingIsByteExact) {
    const fs::path up = local_ / "up";
    fs::create_directories(up);
    const std::string one = Pattern(150000, 1), two = Pattern(10, 2);
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
