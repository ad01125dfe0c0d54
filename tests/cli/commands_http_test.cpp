// http:// and https:// URLs on the command line and the post command: usage
// checks, then the commands against the real nginx of scripts/servers.sh
// (skipped without it unless CI=true).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "cli_test_support.h"
#include "support/server_settings.h"
#include "support/test_files.h"

namespace {

TEST(PostUsage, MalformedInvocationsExitWithTwo) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"post", "a.txt"}, "filetransfer: post takes LOCAL URL [--field NAME]"},
        {{"post", "a.txt", "ftp://h/x"}, "filetransfer: post needs an http:// or https:// URL"},
        {{"post", "a.txt", "http://h/x", "--field", ""}, "filetransfer: --field needs a name"},
    };
    for (const Case& c : cases) {
        const RunResult run = RunCli(c.args);
        EXPECT_EQ(run.exitCode, 2) << c.args[2 % c.args.size()];
        EXPECT_EQ(run.err.rfind(c.message, 0), 0u) << run.err;
    }
    EXPECT_NE(RunCli({"nonsense"}).err.find("filetransfer post LOCAL URL [--field NAME]"),
              std::string::npos);
}

class HttpCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        http_ = Setting("FT_TEST_HTTP_PORT");
        https_ = Setting("FT_TEST_HTTPS_PORT");
        root_ = Setting("FT_TEST_HTTP_ROOT");
        dav_ = Setting("FT_TEST_DAV_PATH");
        ca_ = Setting("FT_TEST_CA_FILE");
        if (http_.empty() || https_.empty() || root_.empty() || dav_.empty() || ca_.empty()) {
            if (InCi()) FAIL() << "test server settings missing; run scripts/servers.sh start";
            GTEST_SKIP() << "no test servers configured (scripts/servers.sh start)";
        }
        if (const char* previous = std::getenv("SSL_CERT_FILE")) previousCa_ = previous;
        setenv("SSL_CERT_FILE", ca_.c_str(), 1);
        name_ = "cli-http-" + std::to_string(getpid()) + ".bin";
        local_ = testing::TempDir() + name_;
        if (RunCli({"--set", "Timeout=3", "size", Url(http_, "/hello.txt")}).exitCode != 0 &&
            !InCi()) {
            GTEST_SKIP() << "the HTTP test server is not running";
        }
    }
    void TearDown() override {
        previousCa_ ? setenv("SSL_CERT_FILE", previousCa_->c_str(), 1) : unsetenv("SSL_CERT_FILE");
        std::remove(local_.c_str());
        std::remove((root_ + dav_ + name_).c_str());
    }
    static std::string Url(const std::string& port, const std::string& path, bool secure = false) {
        return std::string(secure ? "https" : "http") + "://127.0.0.1:" + port + path;
    }

    std::string http_, https_, root_, dav_, ca_, name_, local_;
    std::optional<std::string> previousCa_;
};

TEST_F(HttpCommandTest, PutGetSizeVerifyAndRmOverHttpAndHttps) {
    for (const bool secure : {false, true}) {
        SCOPED_TRACE(secure ? "https" : "http");
        const std::string url = Url(secure ? https_ : http_, dav_ + name_, secure);
        std::string bytes(70000, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 13 + i / 256);
        std::ofstream(local_, std::ios::binary | std::ios::trunc) << bytes;
        RunResult run = RunCli({"put", "-q", local_, url});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(ReadFile(root_ + dav_ + name_) == bytes);
        std::remove(local_.c_str());
        run = RunCli({"get", "-q", url, local_});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(ReadFile(local_) == bytes);
        run = RunCli({"size", url});
        EXPECT_EQ(run.out, "70000\n") << run.err;
        run = RunCli({"verify", local_, url});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        run = RunCli({"rm", url});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        run = RunCli({"size", url});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err, "filetransfer: error 12275: The specified resource cannot be found\n");
    }
}

TEST_F(HttpCommandTest, PostSendsTheFileUnderTheNamedField) {
    std::ofstream(local_, std::ios::binary | std::ios::trunc) << "posted bytes";
    const RunResult run = RunCli({"post", local_, Url(http_, "/post-sink"), "--field", "doc"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
}

TEST_F(HttpCommandTest, AnUntrustedCertificateIsRefusedUnlessInsecure) {
    unsetenv("SSL_CERT_FILE");
    const std::string url = Url(https_, "/hello.txt", true);
    RunResult run = RunCli({"size", url});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "filetransfer: certificate not valid: fileCertificateUntrusted (5)\n");
    run = RunCli({"size", "-k", url});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "14\n");
}

}  // namespace
