// Public-key login from the command line against the loopback OpenSSH server, in
// an empty temporary HOME and without an agent: -i names a key file, OpenSSH's
// default key files are found in ~/.ssh, and with standard input not a terminal a
// missing passphrase or password ends with a clear error instead of a prompt.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "cli_test_support.h"
#include "support/server_settings.h"

namespace {

namespace fs = std::filesystem;

class IdentityCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string host = Setting("FT_TEST_HOST");
        const std::string port = Setting("FT_TEST_SFTP_PORT");
        const std::string user = Setting("FT_TEST_USER");
        keys_ = Setting("FT_TEST_SSH_CLIENT_KEY_DIR");
        if (host.empty() || port.empty() || user.empty() || keys_.empty()) {
            if (InCi()) FAIL() << "SFTP server or client keys missing; run scripts/servers.sh start";
            GTEST_SKIP() << "no SFTP test server with client keys (scripts/servers.sh start)";
        }
        url_ = "sftp://" + user + "@" + host + ":" + port + "/";
        char pattern[] = "/tmp/ft-home-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home_ = pattern;
        Save("HOME", home_.c_str(), oldHome_);
        Save("SSH_AUTH_SOCK", nullptr, oldAgent_);
        // Standard input is not a terminal, whatever ran the tests.
        savedStdin_ = dup(STDIN_FILENO);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        close(null);
    }
    void TearDown() override {
        if (home_.empty()) return;
        dup2(savedStdin_, STDIN_FILENO);
        close(savedStdin_);
        Restore("HOME", oldHome_);
        Restore("SSH_AUTH_SOCK", oldAgent_);
        fs::remove_all(home_);
    }
    static void Save(const char* name, const char* value, std::optional<std::string>& old) {
        if (const char* current = std::getenv(name)) old = current;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    static void Restore(const char* name, const std::optional<std::string>& old) {
        if (old)
            setenv(name, old->c_str(), 1);
        else
            unsetenv(name);
    }
    void InstallDefaultKey(const std::string& file, const std::string& as) {
        fs::create_directories(home_ / ".ssh");
        fs::copy_file(fs::path(keys_) / file, home_ / ".ssh" / as);
        fs::permissions(home_ / ".ssh" / as, fs::perms::owner_read | fs::perms::owner_write);
    }

    std::string keys_, url_;
    fs::path home_;
    std::optional<std::string> oldHome_, oldAgent_;
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
