// Public-key login from the command line against the loopback OpenSSH server, in
// an empty temporary HOME and without an agent: -i names a key file, OpenSSH's
// default key files are found in ~/.ssh, and with standard input not a terminal a
// missing passphrase or password ends with a clear error instead of a prompt.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "support/cli_run.h"
#include "support/server_settings.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;

class IdentityCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_SFTP_PORT", "FT_TEST_USER",
                                "FT_TEST_SSH_CLIENT_KEY_DIR");
        keys_ = Setting("FT_TEST_SSH_CLIENT_KEY_DIR");
        url_ = "sftp://" + Setting("FT_TEST_USER") + "@" + Setting("FT_TEST_HOST") + ":" +
               Setting("FT_TEST_SFTP_PORT") + "/";
        home_.emplace("ft-home");
        homeVariable_.emplace("HOME", home_->path().string());
        agentVariable_.emplace("SSH_AUTH_SOCK", nullptr);
        // Standard input is not a terminal, whatever ran the tests.
        savedStdin_ = dup(STDIN_FILENO);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        close(null);
    }
    void TearDown() override {
        if (savedStdin_ < 0) return;
        dup2(savedStdin_, STDIN_FILENO);
        close(savedStdin_);
    }
    void InstallDefaultKey(const std::string& file, const std::string& as) {
        const fs::path ssh = home_->path() / ".ssh";
        fs::create_directories(ssh);
        fs::copy_file(fs::path(keys_) / file, ssh / as);
        fs::permissions(ssh / as, fs::perms::owner_read | fs::perms::owner_write);
    }

    std::string keys_, url_;
    std::optional<ScratchFolder> home_;
    std::optional<ScopedEnv> homeVariable_, agentVariable_;
    int savedStdin_ = -1;
};

TEST_F(IdentityCommands, KeyFileGivenWithDashI) {
    for (const char* option : {"-i", "--identity"}) {
        const RunResult result = RunCli({"ls", "-k", option, keys_ + "/id_ecdsa", url_});
        EXPECT_EQ(result.exitCode, 0) << option << ": " << result.err;
    }
}

TEST_F(IdentityCommands, DefaultKeysOfHomeAreTried) {
    InstallDefaultKey("id_rsa", "id_rsa");
    InstallDefaultKey("id_ecdsa_pass", "id_ecdsa");  // locked: skipped without a prompt
    const RunResult result = RunCli({"ls", "-k", url_});
    EXPECT_EQ(result.exitCode, 0) << result.err;
}

TEST_F(IdentityCommands, WithoutATerminalNothingIsAskedFor) {
    struct Row {
        const char* name;
        std::vector<std::string> options;
        const char* error;
        const char* missing;
    } rows[] = {
        {"Passphrase", {"-i", keys_ + "/id_ed25519_pass"}, "error 12109", "passphrase"},
        {"Password", {}, "error 122", "password"},  // no key anywhere, no password
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> args{"ls", "-k"};
        args.insert(args.end(), row.options.begin(), row.options.end());
        args.push_back(url_);
        const RunResult result = RunCli(args);
        EXPECT_NE(result.exitCode, 0);
        EXPECT_NE(result.err.find(row.error), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(std::string("cannot ask for the ") + row.missing),
                  std::string::npos)
            << result.err;
    }
}

}  // namespace
