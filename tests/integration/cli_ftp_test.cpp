// The command line in-process against the loopback vsftpd and proftpd (and
// vsftpd's FTPS): listings by LIST and by MLSD, information and management
// commands, get and put with their types, mget and mput, an interrupt. Every
// change is checked on the disk under FT_TEST_ROOT; the usage errors are
// tests/cli/command_line_test.cpp's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/command_line.h"
#include "support/cli_run.h"
#include "support/server_folder.h"
#include "support/server_settings.h"

namespace {

namespace fs = std::filesystem;

constexpr time_t kFixtureTime = 1577934245;  // 2020-01-02 03:04:05 UTC

struct Server {
    const char* name;
    const char* portVariable;
    bool proftpd;  // offers MLST, XCRC and XMD5, converts ASCII line ends itself
};

void PrintTo(const Server& server, std::ostream* out) {
    *out << server.name;
}

// A folder of the test's own in the login folder, and the URL of that folder.
class FtpCommands : public ::testing::TestWithParam<Server> {
  protected:
    void SetUp() override {
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_USER", "FT_TEST_ROOT",
                                GetParam().portVariable);
        server_.emplace(Setting("FT_TEST_ROOT"), std::string("cli-ftp-") + GetParam().name);
        folder_ = server_->name();
        work_ = server_->path();
        base_ = "ftp://" + Setting("FT_TEST_USER") + ":" + Setting("FT_TEST_PASSWORD") + "@" +
                Setting("FT_TEST_HOST") + ":" + Setting(GetParam().portVariable) + "/" + folder_ +
                "/";
        const RunResult probe = RunCli({"ls", "--names", base_});
        SKIP_IF_NOT_RUNNING(probe.err.find("error 10061") != std::string::npos, GetParam().name);
    }

    // lchown: a link is given away itself, not its target.
    void Own(const fs::path& path) const {
        if (::geteuid() == 0) {
            ASSERT_EQ(::lchown(path.c_str(), server_->owner(), server_->group()), 0);
        }
    }
    void Write(const std::string& name, const std::string& content, mode_t mode = 0644) {
        server_->Put(name, content, mode, kFixtureTime);
    }
    std::string Url(const std::string& name) const { return base_ + name; }
    fs::path Local(const std::string& name) const { return scratch_ / name; }

    std::optional<ServerFolder> server_;
    ScratchFolder scratch_{"cli-ftp-local"};
    std::string folder_, base_;
    fs::path work_;
};

TEST_P(FtpCommands, ListShowsModeSizeDateAndName) {
    Write("two words.txt", "hello", 0640);
    server_->MakeFolder("inner");
    server_->MakeFolder("empty");

    // LIST's layout (MLSD's is the next test's).
    const RunResult plain = ExpectOk(RunCli({"ls", "--no-mlsd", base_}));
    EXPECT_NE(plain.out.find("drwxr-xr-x 4096 "), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find(" inner\n"), std::string::npos);
    // The listing's date is the server's local time; the day is certain.
    EXPECT_NE(plain.out.find("-rw-r----- 5 2020-01-0"), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find(" two words.txt\n"), std::string::npos);

    const RunResult json = ExpectOk(RunCli({"ls", "--json", "--no-mlsd", base_}));
    EXPECT_EQ(json.out.front(), '[');
    EXPECT_NE(
        json.out.find("{\"name\":\"two words.txt\",\"size\":5,\"is_dir\":false,"
                      "\"is_link\":false,\"permissions\":\"-rw-r-----\",\"date\":\"2020-01-0"),
        std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"name\":\"inner\",\"size\":4096,\"is_dir\":true"), std::string::npos);

    const RunResult names = ExpectOk(RunCli({"ls", "--names", base_}));
    EXPECT_NE(names.out.find("two words.txt\n"), std::string::npos) << names.out;
    EXPECT_NE(names.out.find("inner\n"), std::string::npos);

    const RunResult raw = ExpectOk(RunCli({"ls", "--raw", base_}));
    EXPECT_NE(raw.out.find("-rw-r-----"), std::string::npos);
    EXPECT_NE(raw.out.find("two words.txt\n"), std::string::npos);

    // An empty folder prints nothing; a missing one still fails.
    EXPECT_EQ(RunCli({"ls", Url("empty")}).out, "");
    EXPECT_EQ(RunCli({"ls", "--json", Url("empty")}).out, "[]\n");
    EXPECT_NE(RunCli({"ls", Url("missing")}).exitCode, 0);
}

// By MLSD (proftpd) or by LIST (vsftpd): names with leading, inner and
// trailing blanks, a sparse file above 4 GiB, UTC times, owner names, links.
TEST_P(FtpCommands, ListingKeepsBlanksBigSizesAndLinks) {
    constexpr std::uint64_t kBigSize = (5ull << 30) + 3;
    for (const char* name : {" lead", "in ner", "trail "})
        Write(name, "abc");
    { std::ofstream big(work_ / "big.bin", std::ios::binary); }
    fs::resize_file(work_ / "big.bin", kBigSize);
    Own(work_ / "big.bin");
    struct timespec times[2] = {{kFixtureTime, 0}, {kFixtureTime, 0}};
    ::utimensat(AT_FDCWD, (work_ / "big.bin").c_str(), times, 0);
    fs::create_symlink("in ner", work_ / "ln");
    Own(work_ / "ln");
    const passwd* account = ::getpwuid(server_->owner());
    ASSERT_NE(account, nullptr);
    const std::string owner = std::string("\"owner\":\"") + account->pw_name + "\"";

    const RunResult json = ExpectOk(RunCli({"ls", "--json", base_}));
    EXPECT_NE(json.out.find("{\"name\":\"big.bin\",\"size\":" + std::to_string(kBigSize)),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("{\"name\":\"in ner\",\"size\":3,"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"name\":\"ln\""), std::string::npos);
    EXPECT_EQ(json.out.find("\"name\":\".\""), std::string::npos);  // cdir and pdir left out
    EXPECT_EQ(json.out.find("\"name\":\"..\""), std::string::npos);

    const RunResult plain = ExpectOk(RunCli({"ls", base_}));
    EXPECT_NE(plain.out.find(" " + std::to_string(kBigSize) + " 2020-01-02 "), std::string::npos)
        << plain.out;
    const RunResult stat = ExpectOk(RunCli({"stat", base_ + "big.bin"}));
    EXPECT_NE(stat.out.find("size: " + std::to_string(kBigSize) + "\n"), std::string::npos)
        << stat.out;
    if (!GetParam().proftpd) return;
    // Only MLSD says where a name begins and ends; owners by proftpd's unix.ownername.
    EXPECT_NE(json.out.find("{\"name\":\" lead\",\"size\":3,"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("{\"name\":\"trail \",\"size\":3,"), std::string::npos);
    EXPECT_NE(json.out.find(owner), std::string::npos);
    EXPECT_NE(json.out.find("{\"name\":\"ln\",\"size\":"), std::string::npos);
    EXPECT_NE(json.out.find("\"is_link\":true"), std::string::npos) << json.out;
    // UTC, as the facts give it.
    EXPECT_NE(plain.out.find("-rw-r--r-- 3 2020-01-02 03:04  lead\n"), std::string::npos)
        << plain.out;
    EXPECT_NE(stat.out.find("date: 2020-01-02 03:04:05\n"), std::string::npos) << stat.out;
}

// On this login, which is not locked into its folder, a URL's path is relative
// to the login folder and "%2F" (or an empty first segment) makes it absolute;
// every command decodes the percent escapes.
TEST_P(FtpCommands, UrlPathsAreLoginRelativeAndAnEscapedSlashAbsolute) {
    const std::string host = base_.substr(0, base_.find('/', base_.find('@')));
    const std::string relative = host + "/" + folder_ + "/top%20x.txt";
    const std::string absolute = host + "/%2F" + work_.string().substr(1) + "/top%20x.txt";
    const std::string local = Local("top.txt").string();
    // A dot segment goes; an empty first segment is the root as well.
    for (const std::string& url : {relative, absolute, host + "/./" + folder_ + "/top%20x.txt",
                                   host + "//" + work_.string().substr(1) + "/top%20x.txt"}) {
        SCOPED_TRACE(url);
        WriteFile(local, "put");
        RunResult run = ExpectOk(RunCli({"put", "-q", local, url}));
        EXPECT_EQ(ReadFile((work_ / "top x.txt").string()), "put");
        run = RunCli({"size", url});
        EXPECT_EQ(run.out, "3\n") << run.err;
        fs::remove(local);
        EXPECT_EQ(RunCli({"get", "-q", url, local}).exitCode, 0);
        EXPECT_EQ(ReadFile(local), "put");
        EXPECT_EQ(RunCli({"rm", url}).exitCode, 0);
        EXPECT_FALSE(fs::exists(work_ / "top x.txt"));
    }
}

// The login: the URL's (percent-decoded), -u, a netrc file (refused when
// others may read it), or --set Password for the URL's user.
TEST_P(FtpCommands, LoginComesFromTheUrlTheUserOptionOrNetrc) {
    Write("login.txt", "0123456789", 0644);
    const std::string user = Setting("FT_TEST_USER"), password = Setting("FT_TEST_PASSWORD");
    const std::string hostPort = Setting("FT_TEST_HOST") + ":" + Setting(GetParam().portVariable);
    const std::string bare = "ftp://" + hostPort + "/" + folder_ + "/login.txt";
    const std::string netrc =
        (fs::temp_directory_path() / ("ft-netrc-" + std::to_string(getpid()))).string();
    std::ofstream(netrc) << "machine other.invalid login x password y\n"
                         << "macdef init\nmachine " << Setting("FT_TEST_HOST") << "\n\n"
                         << "machine " << Setting("FT_TEST_HOST") << " login " << user
                         << " password " << password << "\n";
    std::string encoded;  // every character of the user escaped
    for (unsigned char c : user) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", c);
        encoded += hex;
    }
    const std::string file = "@" + hostPort + "/" + folder_ + "/login.txt";
    const struct {
        const char* name;
        std::vector<std::string> args;
        int exitCode = 0;
        std::string err = "";
        int mode = 0600;  // of the netrc file
    } cases[] = {
        {"escaped user", {"size", "ftp://" + encoded + ":" + password + file}},
        {"-u", {"size", "-u", user + ":" + password, bare}},
        {"-u over the URL", {"size", "-u", user + ":" + password, "ftp://x:y" + file}},
        {"--set Password", {"--set", "Password=" + password, "size", "ftp://" + user + file}},
        {"netrc", {"size", "--netrc-file", netrc, bare}},
        {"netrc others read",
         {"size", "--netrc-file", netrc, bare},
         1,
         "may be read by others",
         0644},
        // No session is left to ask: the refusal comes from the transcript.
        {"wrong password",
         {"size", "-u", user + ":wrong", bare},
         67,
         "filetransfer: error 12230: Unable to authenticate the specified user: " + folder_ +
             "/login.txt (530 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(::chmod(netrc.c_str(), static_cast<mode_t>(c.mode)), 0);
        const RunResult run = RunCli(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_EQ(run.out, c.exitCode == 0 ? "10\n" : "");
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    }
    fs::remove(netrc);
}

// info, then mkdir, mv, chmod, touch, verify, rm and rmdir, each checked on the
// disk, with size and mtime reading back what they did.
TEST_P(FtpCommands, ManagementCommandsChangeTheFiles) {
    // info prints the server's state after the login.
    const std::string home = Setting("FT_TEST_ROOT");
    RunResult run = RunCli({"info", base_});
    EXPECT_EQ(
        run.out.rfind("System = UNIX Type: L8\nServerDirectory = " + home + "\nFeatures = ", 0), 0u)
        << run.out;
    EXPECT_NE(run.out.find("\nResultCode = 257\nResultString = \"" + home +
                           "\" is the current directory\n"),
              std::string::npos)
        << run.out;

    Write("old.txt", "content\n");
    run = ExpectOk(RunCli({"mkdir", Url("made")}));
    EXPECT_TRUE(fs::is_directory(work_ / "made"));
    // Refused by the server (FTP's 550 says no more than that).
    EXPECT_EQ(RunCli({"mkdir", Url("made")}).exitCode, 9);

    run = RunCli({"mv", Url("old.txt"), "new.txt"});  // stays in its folder
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::exists(work_ / "new.txt"));
    EXPECT_FALSE(fs::exists(work_ / "old.txt"));
    run = ExpectOk(RunCli({"mv", Url("new.txt"), folder_ + "/made/moved.txt"}));
    EXPECT_TRUE(fs::exists(work_ / "made" / "moved.txt"));

    EXPECT_EQ(RunCli({"mv", Url("old.txt"), "x.txt"}).exitCode, 9);

    run = ExpectOk(RunCli({"chmod", "754", Url("made/moved.txt")}));
    struct stat info {};
    ASSERT_EQ(::stat((work_ / "made" / "moved.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0754u);
    EXPECT_NE(RunCli({"stat", Url("made/moved.txt")}).out.find("permissions: -rwxr-xr-- 0754\n"),
              std::string::npos);

    run = ExpectOk(RunCli({"touch", Url("made/moved.txt"), "2021-03-04 05:06:07"}));
    ASSERT_EQ(::stat((work_ / "made" / "moved.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 1614834367);  // UTC
    run = RunCli({"mtime", Url("made/moved.txt")});
    EXPECT_EQ(run.out, "2021-03-04 05:06:07\n") << run.err;
    EXPECT_EQ(RunCli({"size", Url("made/moved.txt")}).out, "8\n");
    run = RunCli({"size", Url("missing.txt")});
    EXPECT_EQ(run.exitCode, 78);  // not found
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("filetransfer: error ", 0), 0u) << run.err;

    const std::string local = Local("local.txt").string();
    WriteFile(local, "content\n");
    run = ExpectOk(RunCli({"verify", local, Url("made/moved.txt"), "--size"}));
    WriteFile(Local("longer.txt"), "content\nmore");
    run = RunCli({"verify", Local("longer.txt").string(), Url("made/moved.txt"), "--size"});
    EXPECT_EQ(run.exitCode, kExitFailure);
    EXPECT_NE(run.err.find("error 12351"), std::string::npos) << run.err;
    for (const char* method : {"--crc32", "--md5"}) {
        run = RunCli({"verify", local, Url("made/moved.txt"), method});
        if (GetParam().proftpd) {
            EXPECT_EQ(run.exitCode, 0) << method << " " << run.err;
        } else {
            EXPECT_EQ(run.err,
                      "filetransfer: error 12201: The specified operation is not supported: " +
                          folder_ + "/made/moved.txt\n");
        }
    }
    WriteFile(local, "CONTENT\n");  // same size, other bytes
    run = RunCli({"verify", local, Url("made/moved.txt")});
    EXPECT_EQ(run.exitCode, GetParam().proftpd ? kExitFailure : kExitSuccess) << run.err;

    run = ExpectOk(RunCli({"rm", Url("made/moved.txt")}));
    EXPECT_FALSE(fs::exists(work_ / "made" / "moved.txt"));
    // A refusal names the path and quotes the server's reply.
    run = RunCli({"rm", Url("made/moved.txt")});
    EXPECT_TRUE(run.err.starts_with("filetransfer: error 10013: Access denied: " + folder_ +
                                    "/made/moved.txt (550 "))
        << run.err;
    run = ExpectOk(RunCli({"rmdir", Url("made")}));
    EXPECT_FALSE(fs::exists(work_ / "made"));
    EXPECT_EQ(RunCli({"rmdir", Url("made")}).exitCode, 9);
    run = RunCli({"rm", Url("made")});
    EXPECT_EQ(run.exitCode, 9);
    EXPECT_EQ(run.err.rfind("filetransfer: error ", 0), 0u);
}

TEST_P(FtpCommands, GetAndPutKeepEveryByteAndTurnLineEndsOnlyAsText) {
    const std::string local = Local("data.local").string();
    const std::string bytes = Pattern(200000);
    WriteFile(local, bytes);
    RunResult run = ExpectOk(RunCli({"put", local, Url("data.bin")}));
    EXPECT_EQ(run.out + run.err, "");  // not a terminal: no progress line
    EXPECT_TRUE(ReadFile(work_ / "data.bin") == bytes);
    std::remove(local.c_str());
    run = ExpectOk(RunCli({"get", "--active", Url("data.bin"), local}));
    EXPECT_TRUE(ReadFile(local) == bytes);

    // "-" is standard input for put and standard output for get.
    run = ExpectOk(RunCli({"put", "-", Url("piped.bin")}, bytes));
    EXPECT_TRUE(ReadFile(work_ / "piped.bin") == bytes);
    run = ExpectOk(RunCli({"get", Url("piped.bin"), "-"}));
    EXPECT_TRUE(run.out == bytes);

    // A URL ending in a slash takes the local name.
    ASSERT_EQ(RunCli({"put", "-q", local, base_}).exitCode, 0);
    EXPECT_TRUE(ReadFile(work_ / "data.local") == bytes);

    // Up as text the lines reach the server; back as text they end in LF.
    WriteFile(local, "one\ntwo\n");
    run = ExpectOk(RunCli({"put", "--type", "ascii", local, Url("text.txt")}));
    EXPECT_EQ(ReadFile(work_ / "text.txt"), GetParam().proftpd ? "one\ntwo\n" : "one\r\ntwo\r\n");
    Write("text.txt", "a\r\nb\r\n");
    run = ExpectOk(RunCli({"get", "--type", "ascii", Url("text.txt"), local}));
    EXPECT_EQ(ReadFile(local), "a\nb\n");
    run = ExpectOk(RunCli({"get", "--type", "binary", Url("text.txt"), local}));
    EXPECT_EQ(ReadFile(local), "a\r\nb\r\n");

    // A refused RETR exits with its error and writes nothing.
    run = RunCli({"get", Url("no-such-file.bin"), Local("none").string()});
    EXPECT_EQ(run.exitCode, 9);
    EXPECT_TRUE(run.err.starts_with("filetransfer: error 10013: Access denied: " + folder_ +
                                    "/no-such-file.bin (550 "))
        << run.err;
    EXPECT_FALSE(fs::exists(Local("none")));
    // A missing source, or a target in a missing folder, is the local side's.
    run = RunCli({"put", Local("none").string(), Url("x.bin")});
    EXPECT_EQ(run.exitCode, 78);
    EXPECT_EQ(run.err,
              "filetransfer: error 10002: The specified file or directory does not exist: "
              "local file " +
                  Local("none").string() + "\n");
    const std::string nowhere = Local("none/x.bin").string();
    run = RunCli({"get", Url("text.txt"), nowhere});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.err.find(": local file " + nowhere + "\n"), std::string::npos) << run.err;
}

// curl's file options: -o and -O name the local file; -C - continues from
// the sizes of both files, leaves a complete file alone, never cuts one back.
TEST_P(FtpCommands, OutputNamesAndContinueAtFollowTheSizes) {
    // The halves differ from the whole, so only a resume gives half + rest.
    const std::string bytes = Pattern(100000), half = Pattern(50000, 7);
    const std::string resumed = half + bytes.substr(half.size()), whole = Url("whole.bin");
    Write("whole.bin", bytes);
    Write("up.bin", half);  // a put that broke off halfway
    WriteFile(Local("up.bin"), bytes);
    const std::string larger = "(100001 bytes) is larger than the remote one (100000 bytes)";
    const struct {
        const char* file;  // in the scratch folder, "@" in args and err; "" the remote up.bin
        std::optional<std::string> before;
        std::vector<std::string> args;
        int exitCode;
        std::string err;
        std::optional<std::string> after;  // nullopt: no file
    } cases[] = {
        {"o.bin", {}, {"get", "-o", "@", whole}, 0, "", bytes},
        {"whole.bin", {}, {"get", "-O", whole}, 0, "", bytes},
        {"both.bin", {}, {"get", "-o", "@", whole, "@"}, 2, "--output and LOCAL exclude", {}},
        {"half.bin", half, {"get", "-C", "-", whole, "@"}, 0, "", resumed},
        {"done.bin", bytes, {"get", "-C", "-", whole, "@"}, 0, "already complete: @\n", bytes},
        {"big.bin", bytes + "x", {"get", "-C", "-", whole, "@"}, 1, larger, bytes + "x"},
        {"", {}, {"put", "--continue-at", "-", Local("up.bin"), Url("up.bin")}, 0, "", resumed},
    };
    const fs::path home = fs::current_path();
    fs::current_path(scratch_.path());  // where -O puts its file
    for (const auto& c : cases) {
        const std::string file = *c.file ? Local(c.file).string() : (work_ / "up.bin").string();
        SCOPED_TRACE(file);
        std::vector<std::string> args;
        for (const std::string& arg : c.args)
            args.push_back(arg == "@" ? file : arg);
        if (c.before) WriteFile(file, *c.before);
        const RunResult run = RunCli(args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        const std::size_t at = c.err.find('@');
        const std::string err =
            at == std::string::npos ? c.err : std::string(c.err).replace(at, 1, file);
        EXPECT_NE(run.err.find(err), std::string::npos) << run.err;
        EXPECT_EQ(run.err.empty(), c.err.empty()) << run.err;
        EXPECT_EQ(fs::exists(file), c.after.has_value());
        EXPECT_TRUE(!c.after || ReadFile(file) == *c.after);
    }
    fs::current_path(home);
}

TEST_P(FtpCommands, InterruptCancelsTheTransfer) {
    // The lowest priority makes the transfer take seconds. The signal comes
    // from another thread, as a terminal's would, once the download has
    // created its local file: the command's handler is in place by then.
    Write("slow.bin", Pattern(1 << 20));
    const std::string local = Local("slow.bin").string();
    std::thread interrupter;
    const RunResult run =
        RunCli({"--set", "Priority=0", "get", Url("slow.bin"), local}, "",
               [&interrupter, &local](pid_t program) {
                   interrupter = std::thread([&local, program] {
                       for (int i = 0; i < 200; ++i) {
                           if (access(local.c_str(), F_OK) == 0) {
                               kill(program, SIGINT);
                               return;
                           }
                           std::this_thread::sleep_for(std::chrono::milliseconds(50));
                       }
                   });
               });
    interrupter.join();
    EXPECT_EQ(run.exitCode, 130);
    EXPECT_EQ(run.err, "filetransfer: error 10004: The blocking operation has been canceled: " +
                           folder_ + "/slow.bin\n");
}

TEST_P(FtpCommands, MputByMaskAndMgetKeepBytesAndNames) {
    const fs::path up = Local("up");
    fs::create_directories(up);
    const std::string one = Pattern(150000, 1), two = Pattern(10, 2);
    WriteFile(up / "one.bin", one);
    WriteFile(up / "two.bin", two);
    WriteFile(up / "skip.txt", "not sent\n");
    fs::create_directories(up / "nested.bin");
    // Without a closing slash: the command adds it.
    const std::string folder = base_.substr(0, base_.size() - 1);
    RunResult run = ExpectOk(RunCli({"mput", "-q", up.string(), folder, "*.bin"}));
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_TRUE(ReadFile(work_ / "one.bin") == one);
    EXPECT_TRUE(ReadFile(work_ / "two.bin") == two);
    EXPECT_FALSE(fs::exists(work_ / "skip.txt"));
    EXPECT_FALSE(fs::exists(work_ / "nested.bin"));

    // Names with blanks come back exactly (only MLSD tells the outer ones);
    // folders stay behind.
    const std::vector<std::string> names =
        GetParam().proftpd ? std::vector<std::string>{" lead", "in ner", "trail "}
                           : std::vector<std::string>{"in ner"};
    for (const std::string& name : names)
        Write(name, "content of " + name);
    server_->MakeFolder("folder.bin");
    const fs::path down = Local("down");
    fs::create_directories(down);
    run = ExpectOk(RunCli({"mget", "-q", base_, down.string()}));
    EXPECT_TRUE(ReadFile(down / "one.bin") == one);
    EXPECT_TRUE(ReadFile(down / "two.bin") == two);
    for (const std::string& name : names)
        EXPECT_EQ(ReadFile(down / name), "content of " + name) << "[" << name << "]";
    EXPECT_EQ(std::distance(fs::directory_iterator(down), fs::directory_iterator()),
              static_cast<long>(2 + names.size()));

    run = RunCli({"mget", folder, Local("missing").string()});
    EXPECT_EQ(run.exitCode, 78);
    EXPECT_NE(run.err.find("error 10021"), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpCommands,
                         ::testing::Values(Server{"vsftpd", "FT_TEST_FTP_PORT", false},
                                           Server{"proftpd", "FT_TEST_PROFTPD_PORT", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- FTPS ---------------------------------------------------------------------------

class SecureCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_FTPS_PORT", "FT_TEST_FTPS_IMPLICIT_PORT",
                                "FT_TEST_CA_FILE");
        trust_.emplace("SSL_CERT_FILE", Setting("FT_TEST_CA_FILE"));
    }
    static std::string Url(const char* portVariable) {
        return "ftps://" + Setting("FT_TEST_USER") + ":" + Setting("FT_TEST_PASSWORD") + "@" +
               Setting("FT_TEST_HOST") + ":" + Setting(portVariable) + "/";
    }
    std::optional<ScopedEnv> trust_;
};

TEST_F(SecureCommands, InfoShowsTheSecureSessionAndAnUntrustedCertificateNeedsInsecure) {
    for (const bool implicit : {false, true}) {
        const RunResult run =
            implicit ? RunCli({"info", "--implicit", Url("FT_TEST_FTPS_IMPLICIT_PORT")})
                     : RunCli({"info", Url("FT_TEST_FTPS_PORT")});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        for (const char* line :
             {"\nSecureProtocol = fileProtocol", "\nSecureCipher = fileCipherAES\n",
              "\nCipherStrength = ", "\nCertificateSubject = CN=localhost\n",
              "\nCertificateExpires = "})
            EXPECT_NE(run.out.find(line), std::string::npos) << line << " in " << run.out;
    }
    // Without --implicit a non-990 port means explicit TLS, which the implicit
    // server does not speak: the connect fails. (Protected transfers are
    // ftps_test.cpp's.)
    EXPECT_EQ(RunCli({"--set", "Timeout=3", "info", Url("FT_TEST_FTPS_IMPLICIT_PORT")}).exitCode,
              28);  // a time-out

    unsetenv("SSL_CERT_FILE");
    RunResult run = RunCli({"info", Url("FT_TEST_FTPS_PORT")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "filetransfer: certificate not valid: fileCertificateUntrusted (5)\n");
    run = ExpectOk(RunCli({"info", "-k", Url("FT_TEST_FTPS_PORT")}));
}

}  // namespace
