// Times and folders through the command line against the loopback vsftpd,
// proftpd, OpenSSH's sftp and nginx: get and put with -R, get --create-dirs,
// mkdir -p, and mirror both ways with --only-newer and --delete. Every change
// is checked on the disk.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/cli_run.h"
#include "support/cli_servers.h"
#include "support/server_folder.h"
#include "support/server_settings.h"

namespace {

namespace fs = std::filesystem;

constexpr time_t kServerTime = 1577934245;  // 2020-01-02 03:04:05 UTC
constexpr time_t kLocalTime = 1262401445;   // 2010-01-02 03:04:05 UTC

using Kind = ServerKind;
using Server = CliServer;

time_t ModifiedAt(const fs::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mtim.tv_sec : -1;
}

class TreeCommands : public CliServerTest {
  protected:
    fs::path Local(const std::string& name) const { return local_ / name; }
};

TEST_P(TreeCommands, PreserveTimesAndMakeMissingFolders) {
    server_->Put("t.txt", "remote bytes\n", 0644, kServerTime);
    const fs::path local = Local("n/e/w/t.txt");
    RunResult run =
        ExpectOk(Run({"get", "-R", "--create-dirs", Url("t.txt"), "-o", local.string()}));
    EXPECT_EQ(ReadFile(local), "remote bytes\n");
    EXPECT_EQ(ModifiedAt(local), kServerTime);
    if (IsHttp()) {
        EXPECT_EQ(Run({"mkdir", "-p", Url("p/q")}).exitCode, 1);  // 12201
        return;
    }
    const struct timespec times[2] = {{kLocalTime, 0}, {kLocalTime, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, local.c_str(), times, 0), 0);
    run = ExpectOk(Run({"put", "-R", local.string(), Url("up.txt")}));
    EXPECT_EQ(ModifiedAt(remote_ / "up.txt"), kLocalTime);
    // The second time every folder exists already: still no failure.
    for (int i = 0; i < 2; ++i) {
        run = ExpectOk(Run({"mkdir", "-p", Url("p/q/r")}));
    }
    EXPECT_TRUE(fs::is_directory(remote_ / "p/q/r"));
    EXPECT_NE(Run({"mkdir", "-p", Url("t.txt/x")}).exitCode, 0);  // a file in the way
}

// Down, again with nothing newer, with a file to delete; then up likewise.
// A link out of the tree is not followed; a folder of folders is copied.
TEST_P(TreeCommands, MirrorCopiesTheTreeBothWays) {
    if (IsHttp()) {
        EXPECT_EQ(Run({"mirror", Url(""), Local("down").string()}).exitCode, 1);  // 12201
        return;
    }
    const std::string deep = Pattern(70000, 3);
    server_->Put("top.txt", "top\n", 0644, kServerTime);
    server_->MakeFolder("a");
    server_->MakeFolder("a/b");
    server_->Put("a/b/deep.bin", deep, 0644, kServerTime);
    server_->MakeFolder("dirs");
    server_->MakeFolder("dirs/x");
    server_->Put("dirs/x/f.txt", "f\n", 0644, kServerTime);
    fs::create_directory_symlink("/etc", remote_ / "escape");  // root's link: never chown'd
    const std::string down = Local("down/tree").string();
    struct Step {
        std::vector<std::string> args;
        std::function<void()> before;
        std::string files, rest;  // the summary's start and end
    };
    const Step steps[] = {
        {{"mirror", Url(""), down}, nullptr, "3 files, 70006 bytes in ", ", 0 skipped, 0 removed"},
        {{"mirror", "--only-newer", Url(""), down},
         nullptr,
         "0 files, 0 bytes in ",
         ", 3 skipped, 0 removed"},
        {{"mirror", "--only-newer", "--delete", Url(""), down},
         [&] { WriteFile(down + "/a/extra.txt", "x"); },
         "0 files, 0 bytes in ",
         ", 3 skipped, 1 removed"},
        {{"mirror", "-R", down, Url("up/to")},
         nullptr,
         "3 files, 70006 bytes in ",
         ", 0 skipped, 0 removed"},
        {{"mirror", "-R", "--only-newer", "--delete", down, Url("up/to")},
         [&] {
             server_->MakeFolder("up/to/old");
             server_->Put("up/to/old/gone.txt", "gone");
         },
         "0 files, 0 bytes in ",
         ", 3 skipped, 1 removed"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.args[1] + " " + step.args[2]);
        if (step.before) step.before();
        const RunResult run = ExpectOk(Run(step.args));
        const std::size_t last = run.out.rfind('\n', run.out.size() - 2) + 1;
        const std::string summary = run.out.substr(last);
        EXPECT_EQ(summary.rfind(step.files, 0), 0u) << run.out;
        EXPECT_NE(summary.find(step.rest + "\n"), std::string::npos) << run.out;
    }
    for (const fs::path& top : {fs::path(down), remote_ / "up/to"}) {
        SCOPED_TRACE(top.string());
        EXPECT_TRUE(ReadFile(top / "a/b/deep.bin") == deep);
        EXPECT_EQ(ReadFile(top / "dirs/x/f.txt"), "f\n");
        EXPECT_EQ(ReadFile(top / "top.txt"), "top\n");
        EXPECT_EQ(ModifiedAt(top / "top.txt"), kServerTime);
        EXPECT_FALSE(fs::exists(fs::symlink_status(top / "escape")));
        EXPECT_FALSE(fs::exists(top / "a/extra.txt"));
        EXPECT_FALSE(fs::exists(top / "old"));
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, TreeCommands,
                         ::testing::Values(Server{"vsftpd", Kind::Ftp, "FT_TEST_FTP_PORT"},
                                           Server{"proftpd", Kind::Ftp, "FT_TEST_PROFTPD_PORT"},
                                           Server{"sftp", Kind::Sftp, "FT_TEST_SFTP_PORT"},
                                           Server{"nginx", Kind::Http, "FT_TEST_HTTP_PORT"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
