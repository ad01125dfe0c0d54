// http:// and https:// URLs and the post command through the command line
// against the loopback nginx (the scripted cases and the usage errors are in
// tests/cli/).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/cli_run.h"
#include "support/scripted_peer.h"
#include "support/server_settings.h"
#include "support/test_files.h"

namespace {

class HttpCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SERVER_SETTINGS("FT_TEST_HTTP_PORT", "FT_TEST_HTTPS_PORT", "FT_TEST_HTTP_ROOT",
                                "FT_TEST_DAV_PATH", "FT_TEST_CA_FILE");
        http_ = Setting("FT_TEST_HTTP_PORT");
        https_ = Setting("FT_TEST_HTTPS_PORT");
        root_ = Setting("FT_TEST_HTTP_ROOT");
        dav_ = Setting("FT_TEST_DAV_PATH");
        trust_.emplace("SSL_CERT_FILE", Setting("FT_TEST_CA_FILE"));
        name_ = "cli-http-" + std::to_string(getpid()) + ".bin";
        local_ = testing::TempDir() + name_;
        SKIP_IF_NOT_RUNNING(
            RunCli({"--set", "Timeout=3", "size", Url(http_, "/hello.txt")}).exitCode != 0,
            "the HTTP test server");
    }
    void TearDown() override {
        std::remove(local_.c_str());
        std::remove((root_ + dav_ + name_).c_str());
    }
    static std::string Url(const std::string& port, const std::string& path, bool secure = false) {
        return std::string(secure ? "https" : "http") + "://127.0.0.1:" + port + path;
    }

    std::string http_, https_, root_, dav_, name_, local_;
    std::optional<ScopedEnv> trust_;
};

TEST_F(HttpCommandTest, PostSendsTheFileUnderTheNamedField) {
    WriteFile(local_, "posted bytes");
    const RunResult run =
        ExpectOk(RunCli({"post", local_, Url(http_, "/post-sink"), "--field", "doc"}));
    EXPECT_EQ(run.out, "");
}

// Redirects on the real server: a method other than GET that is redirected
// did nothing and fails; a GET follows. (A loop is control_http_test.cpp's.)
TEST_F(HttpCommandTest, RedirectedPutAndRmFailAndGetFollows) {
    WriteFile(local_, "data");
    RunResult run = RunCli({"put", "-q", local_, Url(http_, "/redirect")});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    run = RunCli({"rm", Url(http_, "/redirect")});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    run = ExpectOk(RunCli({"get", "-q", Url(http_, "/redirect"), local_}));
    EXPECT_EQ(ReadFile(local_), ReadFile(root_ + "/hello.txt"));
}

// nginx names the file of /named itself (tests/servers/nginx-site.conf).
TEST_F(HttpCommandTest, TheServersNameIsTaken) {
    if (RunCli({"size", Url(http_, "/named")}).exitCode != 0 && !InCi()) {
        GTEST_SKIP() << "the running nginx has no /named location yet";
    }
    const std::filesystem::path folder =
        testing::TempDir() + "cli-http-named-" + std::to_string(getpid());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directory(folder);
    ExpectOk(RunCli({"get", "-q", Url(http_, "/named"), folder.string()}));
    EXPECT_EQ(ReadFile((folder / "named hello.txt").string()), ReadFile(root_ + "/hello.txt"));
    std::filesystem::remove(folder / "named hello.txt");
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    std::filesystem::remove_all(folder);
}

// A redirect keeps the command's certificate decision: without -k a server
// that does not validate is refused after a redirect exactly as a first
// connection is (same line, nothing written, no part file); with -k it is
// accepted as the first server would be.
TEST_F(HttpCommandTest, ARedirectKeepsTheCertificateDecision) {
    // A first connection refused, and taken with -k, is cli_ftp_test.cpp's.
    const std::string refusal =
        "filetransfer: certificate not valid: fileCertificateUntrusted (5)\n";
    const std::string folder = testing::TempDir() + "cli-http-dir-" + std::to_string(getpid());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directory(folder);
    const std::string hello = ReadFile(root_ + "/hello.txt");
    struct Case {
        bool insecure;
        bool trusted;
        const char* target;  // on the HTTPS server; /redirect goes on to /hello.txt
        bool intoFolder;     // named after the requested URL: "start"
        int exitCode;
    };
    const Case cases[] = {
        {false, false, "/hello.txt", false, 1}, {false, false, "/hello.txt", true, 1},
        {true, false, "/hello.txt", false, 0},  {true, false, "/redirect", true, 0},
        {false, true, "/redirect", true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.target) + (c.insecure ? " -k" : "") +
                     (c.trusted ? " trusted" : "") + (c.intoFolder ? " folder" : ""));
        c.trusted ? setenv("SSL_CERT_FILE", Setting("FT_TEST_CA_FILE").c_str(), 1)
                  : unsetenv("SSL_CERT_FILE");
        std::remove(local_.c_str());
        std::filesystem::remove(std::filesystem::path(folder) / "start");
        testsupport::PeerScript script;
        script.Expect("GET /start ")
            .Send("HTTP/1.1 302 Found\r\nLocation: " + Url(https_, c.target, true) +
                  "\r\nContent-Length: 0\r\n\r\n")
            .ReadToEnd();
        testsupport::ScriptedPeer peer(script);
        std::vector<std::string> args = {"get", "-q"};
        if (c.insecure) args.push_back("-k");
        args.push_back("http://127.0.0.1:" + std::to_string(peer.port()) + "/start");
        args.push_back(c.intoFolder ? folder : local_);
        const RunResult run = RunCli(args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_EQ(peer.Finish(), "");
        const std::string written =
            c.intoFolder ? (std::filesystem::path(folder) / "start").string() : local_;
        if (c.exitCode == 0) {
            EXPECT_EQ(run.err, "");
            EXPECT_EQ(ReadFile(written), hello);
        } else {
            EXPECT_EQ(run.err, refusal);
            EXPECT_FALSE(std::ifstream(written).good());
        }
        // Nothing else is left in the folder (no part file).
        std::size_t files = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
            ++files;
        EXPECT_EQ(files, c.exitCode == 0 && c.intoFolder ? 1u : 0u);
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
