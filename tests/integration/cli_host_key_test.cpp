// sftp:// URLs through the command line against the loopback OpenSSH server,
// with an empty temporary HOME and without an agent. Host-key trust: a new host
// is recorded where ssh-keygen finds it, a known one is silent, a changed key is
// refused (revoked ones, and that nothing of the login is sent, are sshd_login_test's),
// -k skips the check, and hashed entries match. Public-key login: -i names
// a key file, OpenSSH's default key files are found in ~/.ssh, and with standard input not a
// terminal (the program's is a pipe) a missing passphrase or password ends with a clear error
// instead of a prompt. And info against each SSH server, dropbear included.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>

#include "cli/command_line.h"
#include "support/cli_run.h"
#include "support/server_settings.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;

// ssh-keygen's -t argument for a host-key type.
std::string KeygenType(const std::string& sshType) {
    if (sshType == "ssh-rsa") return "rsa -b 2048";
    if (sshType == "ssh-dss") return "dsa";
    if (sshType == "ssh-ed25519") return "ed25519";
    if (sshType.starts_with("ecdsa-sha2-nistp")) return "ecdsa -b " + sshType.substr(16);
    return sshType;
}

int Shell(const std::string& command) {
    return std::system(("timeout 30 " + command + " >/dev/null 2>&1").c_str());
}

class SftpCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_SFTP_PORT", "FT_TEST_USER",
                                "FT_TEST_SSH_CLIENT_KEY_DIR");
        const std::string host = Setting("FT_TEST_HOST");
        port_ = Setting("FT_TEST_SFTP_PORT");
        url_ = "sftp://" + Setting("FT_TEST_USER") + ":" + Setting("FT_TEST_PASSWORD") + "@" +
               host + ":" + port_ + "/";
        name_ = "[" + host + "]:" + port_;
        folder_.emplace("ft-home");
        home_ = folder_->path();
        homeVariable_.emplace("HOME", home_.string());
        file_ = home_ / ".ssh" / "known_hosts";
        agentVariable_.emplace("SSH_AUTH_SOCK", nullptr);
        keys_ = Setting("FT_TEST_SSH_CLIENT_KEY_DIR");
        login_ = "sftp://" + Setting("FT_TEST_USER") + "@" + host + ":" + port_ + "/";
    }
    void InstallDefaultKey(const std::string& file, const std::string& as) {
        fs::create_directories(home_ / ".ssh");
        fs::copy_file(fs::path(keys_) / file, home_ / ".ssh" / as);
        fs::permissions(home_ / ".ssh" / as, fs::perms::owner_read | fs::perms::owner_write);
    }

    RunResult List(std::vector<std::string> options = {}) {
        std::vector<std::string> args{"ls"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(url_);
        return RunCli(args);
    }

    std::string port_, url_, name_, keys_, login_;
    std::optional<ScratchFolder> folder_;
    std::optional<ScopedEnv> homeVariable_, agentVariable_;
    fs::path home_, file_;
};

TEST_F(SftpCommands, RecordsRefusesAndMatchesHashedEntries) {
    // First contact: recorded, in OpenSSH's plain form.
    RunResult run = ExpectOk(List());
    ASSERT_EQ(run.err.rfind("added host key for " + name_ + " (", 0), 0u) << run.err;
    const std::string fingerprint = run.err.substr(run.err.find("SHA256:"));
    ASSERT_EQ(Shell("ssh-keygen -F '" + name_ + "' -f " + file_.string()), 0);
    const std::string entry = ReadFile(file_);
    EXPECT_EQ(entry.rfind(name_ + " ", 0), 0u) << entry;

    run = ExpectOk(List());
    EXPECT_EQ(run.err, "");
    run = RunCli({"info", url_});
    EXPECT_NE(run.out.find("HostKeyStatus = fileHostKeyKnown"), std::string::npos) << run.out;

    // Another key of the same type in its place: refused before authentication.
    std::istringstream fields(entry);
    std::string host, type;
    fields >> host >> type;
    const fs::path other = home_ / "other";
    ASSERT_EQ(Shell("ssh-keygen -q -N '' -t " + KeygenType(type) + " -f " + other.string()), 0);
    std::istringstream otherFields(ReadFile(other.string() + ".pub"));
    std::string otherType, otherKey;
    otherFields >> otherType >> otherKey;
    WriteFile(file_, "# replaced\n" + name_ + " " + otherType + " " + otherKey + "\n");
    run = List();
    EXPECT_EQ(run.exitCode, 60);  // a host key not trusted
    EXPECT_NE(run.err.find("error 12107"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(fingerprint.substr(0, fingerprint.find(')'))), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find(file_.string() + ":2"), std::string::npos) << run.err;

    run = ExpectOk(List({"-k"}));
    EXPECT_EQ(run.err, "");

    // Hashed by ssh-keygen -H: still known.
    WriteFile(file_, entry);
    ASSERT_EQ(Shell("ssh-keygen -H -f " + file_.string()), 0);
    ASSERT_EQ(ReadFile(file_).rfind("|1|", 0), 0u);
    run = ExpectOk(List());
    EXPECT_EQ(run.err, "");

    // --known-hosts: recorded there, HOME's file left alone.
    const fs::path chosen = home_ / "chosen" / "hosts";
    run = ExpectOk(List({"--known-hosts", chosen.string()}));
    EXPECT_EQ(run.err.rfind("added host key for ", 0), 0u) << run.err;
    EXPECT_EQ(ReadFile(chosen), entry);
}

// -i names a key file; without it the default keys of HOME are tried, a locked
// one skipped without a prompt.
TEST_F(SftpCommands, KeyFileGivenWithDashIOrTheDefaultKeysOfHome) {
    for (const char* option : {"-i", "--identity"}) {
        const RunResult result = RunCli({"ls", "-k", option, keys_ + "/id_ecdsa", login_});
        EXPECT_EQ(result.exitCode, 0) << option << ": " << result.err;
    }
    InstallDefaultKey("id_rsa", "id_rsa");
    InstallDefaultKey("id_ecdsa_pass", "id_ecdsa");
    ExpectOk(RunCli({"ls", "-k", login_}));
}

TEST_F(SftpCommands, WithoutATerminalNothingIsAskedFor) {
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
        args.push_back(login_);
        const RunResult result = RunCli(args);
        EXPECT_NE(result.exitCode, 0);
        EXPECT_NE(result.err.find(row.error), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(std::string("cannot ask for the ") + row.missing),
                  std::string::npos)
            << result.err;
    }
}

// ---- info ----------------------------------------------------------------------

// `info sftp://` against each SSH server: what the key exchange settled, and the
// host key's fingerprints exactly as ssh-keygen prints them for the server's
// public key file of the negotiated type.
struct InfoCase {
    const char* name;
    const char* portSetting;
    const char* keyDirSetting;
    const char* keyFile;  // printf pattern of the public key file by key type
};

// The "Name = value" lines of the output.
std::map<std::string, std::string> Lines(const std::string& text) {
    std::map<std::string, std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t equals = line.find(" = ");
        if (equals != std::string::npos) lines[line.substr(0, equals)] = line.substr(equals + 3);
    }
    return lines;
}

// The key file's type part for a host-key algorithm name.
std::string KeyType(const std::string& algorithm) {
    static const std::map<std::string, std::string> kTypes = {
        {"ssh-ed25519", "ed25519"},
        {"ecdsa-sha2-nistp256", "ecdsa"},
        {"ecdsa-sha2-nistp384", "ecdsa384"},
        {"ecdsa-sha2-nistp521", "ecdsa521"},
        {"rsa-sha2-256", "rsa"},
        {"rsa-sha2-512", "rsa"},
        {"ssh-rsa", "rsa"},
        {"ssh-dss", "dsa"},
    };
    const auto it = kTypes.find(algorithm);
    return it == kTypes.end() ? std::string() : it->second;
}

// The second word of ssh-keygen's one-line answer: the fingerprint.
std::string KeygenFingerprint(const std::string& options, const std::string& file) {
    const std::string command = "timeout 10 ssh-keygen -l " + options + " -f " + file + " 2>&1";
    const std::string output = CommandOutput(command);
    std::istringstream words(output);
    std::string bits, fingerprint;
    words >> bits >> fingerprint;
    return fingerprint;
}

void PrintTo(const InfoCase& c, std::ostream* out) {
    *out << c.name;
}

class InfoSftpTest : public ::testing::TestWithParam<InfoCase> {};

TEST_P(InfoSftpTest, ShowsNegotiationAndFingerprintsAsSshKeygen) {
    const InfoCase& c = GetParam();
    REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_USER", c.portSetting, c.keyDirSetting);
    const std::string host = Setting("FT_TEST_HOST"), port = Setting(c.portSetting);
    const std::string user = Setting("FT_TEST_USER"), password = Setting("FT_TEST_PASSWORD");
    const std::string keyDir = Setting(c.keyDirSetting);
    // The servers' own known_hosts file: the keys are checked, and nothing is
    // recorded in the user's.
    const std::string knownHosts = Setting("FT_TEST_SSH_KNOWN_HOSTS");
    const RunResult run = ExpectOk(
        RunCli({"--set", "Timeout=20", "info", "--compressed-ssh", "--known-hosts", knownHosts,
                "sftp://" + user + ":" + password + "@" + host + ":" + port + "/"}));
    std::map<std::string, std::string> lines = Lines(run.out);
    EXPECT_EQ(lines["ServerVersion"].rfind("SSH-2.0-", 0), 0u) << run.out;
    EXPECT_FALSE(lines["ServerDirectory"].empty());
    EXPECT_EQ(lines["SecureProtocol"], "fileProtocolSSH2");
    for (const char* name : {"KeyExchange", "CipherOut", "CipherIn", "MacOut", "MacIn"})
        EXPECT_FALSE(lines[name].empty()) << name << " in\n" << run.out;
    // Every server here compresses after the login when asked.
    EXPECT_EQ(lines["CompressionOut"], "zlib@openssh.com");
    EXPECT_EQ(lines["CompressionIn"], "zlib@openssh.com");

    const std::string type = KeyType(lines["HostKey"]);
    ASSERT_FALSE(type.empty()) << "host key " << lines["HostKey"];
    char file[512];
    std::snprintf(file, sizeof file, c.keyFile, keyDir.c_str(), type.c_str());
    const std::string md5 = KeygenFingerprint("-E md5", file);
    ASSERT_EQ(md5.rfind("MD5:", 0), 0u) << "ssh-keygen on " << file << ": " << md5;
    EXPECT_EQ(lines["Fingerprint"], md5);
    EXPECT_EQ(lines["FingerprintSHA256"], KeygenFingerprint("", file));
}

INSTANTIATE_TEST_SUITE_P(
    Servers, InfoSftpTest,
    ::testing::Values(InfoCase{"Stock", "FT_TEST_SFTP_PORT", "FT_TEST_SSH_KEY_DIR",
                               "%s/ssh_host_%s_key.pub"},
                      InfoCase{"Legacy", "FT_TEST_SFTP_LEGACY_PORT", "FT_TEST_SSH_KEY_DIR",
                               "%s/ssh_host_%s_key.pub"},
                      InfoCase{"Dropbear", "FT_TEST_DROPBEAR_PORT", "FT_TEST_DROPBEAR_KEY_DIR",
                               "%s/dropbear_%s_host_key.pub"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
