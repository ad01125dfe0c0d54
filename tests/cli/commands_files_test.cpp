// The listing and file-management commands run in-process against the
// loopback vsftpd and proftpd; every change is checked on the files under
// FT_TEST_ROOT (their usage errors are in command_line_test.cpp).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli_test_support.h"
#include "support/server_folder.h"
#include "support/server_settings.h"

namespace {

namespace fs = std::filesystem;

struct Server {
    const char* name;
    const char* portVariable;
    bool offersDigests;  // XCRC and XMD5
};

void PrintTo(const Server& server, std::ostream* out) {
    *out << server.name;
}

class FileCommands : public ::testing::TestWithParam<Server> {
  protected:
    void SetUp() override {
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_USER", "FT_TEST_ROOT",
                                GetParam().portVariable);
        server_.emplace(Setting("FT_TEST_ROOT"), std::string("cli-files-") + GetParam().name);
        folder_ = server_->name();
        work_ = server_->path();
        base_ = "ftp://" + Setting("FT_TEST_USER") + ":" + Setting("FT_TEST_PASSWORD") + "@" +
                Setting("FT_TEST_HOST") + ":" + Setting(GetParam().portVariable) + "/" + folder_ +
                "/";
        const RunResult probe = RunCli({"ls", "--names", base_});
        SKIP_IF_NOT_RUNNING(probe.err.find("error 10061") != std::string::npos, GetParam().name);
    }

    void Own(const fs::path& path) const { server_->Own(path); }
    void Write(const std::string& name, const std::string& content, mode_t mode = 0644) {
        server_->Put(name, content, mode);
    }
    std::string Url(const std::string& name) const { return base_ + name; }

    std::optional<ServerFolder> server_;
    std::string folder_, base_;
    fs::path work_;
};

TEST_P(FileCommands, ListShowsModeSizeDateAndName) {
    Write("two words.txt", "hello", 0640);
    ASSERT_EQ(::mkdir((work_ / "inner").c_str(), 0755), 0);
    Own(work_ / "inner");
    struct timespec times[2] = {{1577934245, 0}, {1577934245, 0}};  // 2020-01-02 03:04:05 UTC
    ::utimensat(AT_FDCWD, (work_ / "two words.txt").c_str(), times, 0);

    // LIST's layout (proftpd's MLSD listing is tested in mlsd_test.cpp).
    const RunResult plain = RunCli({"ls", "--no-mlsd", base_});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_NE(plain.out.find("drwxr-xr-x 4096 "), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find(" inner\n"), std::string::npos);
    // The listing's date is the server's local time; the day is certain.
    EXPECT_NE(plain.out.find("-rw-r----- 5 2020-01-0"), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find(" two words.txt\n"), std::string::npos);

    const RunResult json = RunCli({"ls", "--json", "--no-mlsd", base_});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(json.out.front(), '[');
    EXPECT_NE(
        json.out.find("{\"name\":\"two words.txt\",\"size\":5,\"is_dir\":false,"
                      "\"is_link\":false,\"permissions\":\"-rw-r-----\",\"date\":\"2020-01-0"),
        std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"name\":\"inner\",\"size\":4096,\"is_dir\":true"), std::string::npos);

    const RunResult names = RunCli({"ls", "--names", base_});
    ASSERT_EQ(names.exitCode, 0) << names.err;
    EXPECT_NE(names.out.find("two words.txt\n"), std::string::npos) << names.out;
    EXPECT_NE(names.out.find("inner\n"), std::string::npos);

    const RunResult raw = RunCli({"ls", "--raw", base_});
    ASSERT_EQ(raw.exitCode, 0) << raw.err;
    EXPECT_NE(raw.out.find("-rw-r-----"), std::string::npos);
    EXPECT_NE(raw.out.find("two words.txt\n"), std::string::npos);
}

TEST_P(FileCommands, InformationCommandsPrintWhatTheDiskHolds) {
    Write("info.txt", "0123456789", 0604);
    struct timespec times[2] = {{1577934245, 0}, {1577934245, 0}};
    ::utimensat(AT_FDCWD, (work_ / "info.txt").c_str(), times, 0);

    RunResult run = RunCli({"size", Url("info.txt")});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "10\n");
    run = RunCli({"mtime", Url("info.txt")});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "2020-01-02 03:04:05\n");
    run = RunCli({"stat", Url("info.txt")});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("size: 10\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("permissions: -rw----r-- 0604\n"), std::string::npos) << run.out;

    run = RunCli({"size", Url("missing.txt")});
    EXPECT_EQ(run.exitCode, kExitFailure);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("filetransfer: error ", 0), 0u) << run.err;
}

TEST_P(FileCommands, ManagementCommandsChangeTheFiles) {
    Write("old.txt", "content\n");
    RunResult run = RunCli({"mkdir", Url("made")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::is_directory(work_ / "made"));
    run = RunCli({"mkdir", Url("made")});
    EXPECT_EQ(run.exitCode, kExitFailure);

    run = RunCli({"mv", Url("old.txt"), "new.txt"});  // stays in its folder
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::exists(work_ / "new.txt"));
    EXPECT_FALSE(fs::exists(work_ / "old.txt"));
    run = RunCli({"mv", Url("new.txt"), folder_ + "/made/moved.txt"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::exists(work_ / "made" / "moved.txt"));

    run = RunCli({"chmod", "600", Url("made/moved.txt")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    struct stat info {};
    ASSERT_EQ(::stat((work_ / "made" / "moved.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    run = RunCli({"touch", Url("made/moved.txt"), "2021-03-04 05:06:07"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(::stat((work_ / "made" / "moved.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 1614834367);  // UTC

    const fs::path local = fs::temp_directory_path() / (folder_ + "-local.txt");
    std::ofstream(local) << "content\n";
    run = RunCli({"verify", local.string(), Url("made/moved.txt"), "--size"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    for (const char* method : {"--crc32", "--md5"}) {
        run = RunCli({"verify", local.string(), Url("made/moved.txt"), method});
        if (GetParam().offersDigests) {
            EXPECT_EQ(run.exitCode, 0) << method << " " << run.err;
        } else {
            EXPECT_EQ(run.err,
                      "filetransfer: error 12201: The specified operation is not supported\n");
        }
    }
    std::ofstream(local) << "CONTENT\n";  // same size, other bytes
    run = RunCli({"verify", local.string(), Url("made/moved.txt")});
    EXPECT_EQ(run.exitCode, GetParam().offersDigests ? kExitFailure : kExitSuccess) << run.err;
    fs::remove(local);

    run = RunCli({"rm", Url("made/moved.txt")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_FALSE(fs::exists(work_ / "made" / "moved.txt"));
    run = RunCli({"rmdir", Url("made")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_FALSE(fs::exists(work_ / "made"));
    run = RunCli({"rm", Url("made")});
    EXPECT_EQ(run.exitCode, kExitFailure);
    EXPECT_EQ(run.err.rfind("filetransfer: error ", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Servers, FileCommands,
                         ::testing::Values(Server{"vsftpd", "FT_TEST_FTP_PORT", false},
                                           Server{"proftpd", "FT_TEST_PROFTPD_PORT", true}));

}  // namespace
