// ls, stat and mget by MLSD/MLST against proftpd (which offers MLST), and by
// LIST against vsftpd (which does not) or with --no-mlsd. The facts are what
// the disk holds: names with leading, inner and trailing blanks, a sparse file
// above 4 GiB, UTC times, numeric owners, links.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "cli_test_support.h"
#include "support/server_folder.h"
#include "support/server_settings.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kBigSize = (5ull << 30) + 3;  // above 4 GiB, sparse
constexpr time_t kFixtureTime = 1577934245;           // 2020-01-02 03:04:05 UTC

struct Server {
    const char* name;
    const char* portVariable;
    bool offersMlst;
};

void PrintTo(const Server& server, std::ostream* out) {
    *out << server.name;
}

class MlsdCommands : public ::testing::TestWithParam<Server> {
  protected:
    void SetUp() override {
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_USER", "FT_TEST_ROOT",
                                GetParam().portVariable);
        server_.emplace(Setting("FT_TEST_ROOT"), std::string("cli-mlsd-") + GetParam().name);
        work_ = server_->path();
        owner_ = server_->owner();
        group_ = server_->group();
        server_->MakeFolder("sub");
        base_ = "ftp://" + Setting("FT_TEST_USER") + ":" + Setting("FT_TEST_PASSWORD") + "@" +
                Setting("FT_TEST_HOST") + ":" + Setting(GetParam().portVariable) + "/" +
                server_->name() + "/";
        const RunResult probe = RunCli({"ls", "--names", base_});
        SKIP_IF_NOT_RUNNING(probe.err.find("error 10061") != std::string::npos, GetParam().name);
    }

    // lchown: a link is given away itself, not its target.
    void Own(const fs::path& path) const {
        if (::geteuid() == 0) {
            ASSERT_EQ(::lchown(path.c_str(), owner_, group_), 0);
        }
    }
    void Write(const fs::path& path, const std::string& content) {
        server_->Put(fs::relative(path, work_).string(), content, 0644, kFixtureTime);
    }

    std::optional<ServerFolder> server_;
    ScratchFolder scratch_{"ft-mlsd"};
    fs::path work_, local_ = scratch_.path();
    std::string base_;
    uid_t owner_ = 0;
    gid_t group_ = 0;
};

TEST_P(MlsdCommands, ListingKeepsBlanksBigSizesAndLinks) {
    for (const char* name : {" lead", "in ner", "trail "})
        Write(work_ / name, "abc");
    { std::ofstream big(work_ / "big.bin", std::ios::binary); }
    fs::resize_file(work_ / "big.bin", kBigSize);
    Own(work_ / "big.bin");
    struct timespec times[2] = {{kFixtureTime, 0}, {kFixtureTime, 0}};
    ::utimensat(AT_FDCWD, (work_ / "big.bin").c_str(), times, 0);
    fs::create_symlink("in ner", work_ / "ln");
    Own(work_ / "ln");

    const RunResult json = RunCli({"ls", "--json", base_});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_NE(json.out.find("{\"name\":\"big.bin\",\"size\":" + std::to_string(kBigSize)),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("{\"name\":\"in ner\",\"size\":3,"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"name\":\"ln\""), std::string::npos);
    EXPECT_EQ(json.out.find("\"name\":\".\""), std::string::npos);  // cdir and pdir left out
    EXPECT_EQ(json.out.find("\"name\":\"..\""), std::string::npos);

    const RunResult plain = RunCli({"ls", base_});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_NE(plain.out.find(" " + std::to_string(kBigSize) + " 2020-01-02 "), std::string::npos)
        << plain.out;
    if (GetParam().offersMlst) {
        // Only MLSD says where a name begins and ends, and names owners by number.
        EXPECT_NE(json.out.find("{\"name\":\" lead\",\"size\":3,"), std::string::npos) << json.out;
        EXPECT_NE(json.out.find("{\"name\":\"trail \",\"size\":3,"), std::string::npos);
        EXPECT_NE(json.out.find("\"owner\":\"" + std::to_string(owner_) + "\""), std::string::npos);
        EXPECT_NE(json.out.find("{\"name\":\"ln\",\"size\":"), std::string::npos);
        EXPECT_NE(json.out.find("\"is_link\":true"), std::string::npos) << json.out;
        // UTC, as the facts give it.
        EXPECT_NE(plain.out.find("-rw-r--r-- 3 2020-01-02 03:04  lead\n"), std::string::npos)
            << plain.out;

        const RunResult list = RunCli({"ls", "--json", "--no-mlsd", base_});
        ASSERT_EQ(list.exitCode, 0) << list.err;
        // LIST names the owner.
        EXPECT_EQ(list.out.find("\"owner\":\"" + std::to_string(owner_) + "\""), std::string::npos)
            << list.out;
    }

    const RunResult stat = RunCli({"stat", base_ + "big.bin"});
    ASSERT_EQ(stat.exitCode, 0) << stat.err;
    EXPECT_NE(stat.out.find("size: " + std::to_string(kBigSize) + "\n"), std::string::npos)
        << stat.out;
    if (GetParam().offersMlst) {
        EXPECT_NE(stat.out.find("date: 2020-01-02 03:04:05\n"), std::string::npos) << stat.out;
    }
}

TEST_P(MlsdCommands, MgetFetchesNamesWithBlanksExactly) {
    const std::vector<std::string> names =
        GetParam().offersMlst ? std::vector<std::string>{" lead", "in ner", "trail "}
                              : std::vector<std::string>{"in ner"};
    for (const std::string& name : names)
        Write(work_ / "sub" / name, "content of " + name);

    const RunResult run = RunCli({"mget", "-q", base_ + "sub/", local_.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const std::string& name : names) {
        std::ifstream in(local_ / name, std::ios::binary);
        std::string content((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(content, "content of " + name) << "[" << name << "]";
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, MlsdCommands,
                         ::testing::Values(Server{"vsftpd", "FT_TEST_FTP_PORT", false},
                                           Server{"proftpd", "FT_TEST_PROFTPD_PORT", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
