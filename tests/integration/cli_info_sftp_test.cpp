// `info sftp://` against the SSH servers of scripts/servers.sh: what the key exchange
// settled, and the host key's fingerprints exactly as ssh-keygen prints them for the
// server's public key file of the negotiated type. Skips without the servers (not
// under CI=true).
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "support/cli_run.h"
#include "support/server_settings.h"

namespace {

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
    const RunResult run =
        RunCli({"--set", "Timeout=20", "info", "--compressed-ssh", "--known-hosts", knownHosts,
                "sftp://" + user + ":" + password + "@" + host + ":" + port + "/"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
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
