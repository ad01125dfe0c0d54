// Every SSH algorithm the client knows, one at a time, against real servers: a
// private sshd pinned to that one algorithm through its own options (the stock
// configuration for the modern names, the legacy one for the classic names). Each
// row moves a small file through the sftp subsystem and checks the negotiated name.
// dropbear's names are all among these; a login to it is cli_host_key_test's.
// Needs root (sshd and the test user), like the other server tests.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "ssh/algorithms.h"
#include "ssh/session.h"
#include "ssh/sftp.h"
#include "ssh/sftp_link.h"
#include "support/child_process.h"
#include "support/loopback_socket.h"
#include "support/server_settings.h"

namespace {

enum class Server { Stock, Legacy };
enum class Pin { Kex, HostKey, Cipher, Mac, Compression };

struct Row {
    Server server;
    Pin pin;
    std::string name;
};

// The sshd option and the client's name list for each kind of pin.
struct PinInfo {
    const char* sshdOption;
    SshNameListIndex list;
    std::string SshConfig::*override;
};
constexpr PinInfo kPins[] = {
    {"KexAlgorithms", kListKex, &SshConfig::kexOverride},
    {"HostKeyAlgorithms", kListHostKey, &SshConfig::hostKeyOverride},
    {"Ciphers", kListCipherCs, &SshConfig::cipherOverride},
    {"MACs", kListMacCs, &SshConfig::macOverride},
    // The client has no list of its own here: it prefers compression when asked.
    {"Compression", kListCompressionCs, nullptr},
};
const PinInfo& InfoOf(Pin pin) {
    return kPins[static_cast<int>(pin)];
}

// An authenticated cipher takes no MAC, so a MAC row runs over this one.
constexpr char kMacRowCipher[] = "aes128-ctr";

struct Group {
    Server server;
    Pin pin;
    const char* names;  // comma-separated
};
const Group kGroups[] = {
    {Server::Stock, Pin::Kex,
     "curve25519-sha256,ecdh-sha2-nistp256,ecdh-sha2-nistp384,ecdh-sha2-nistp521,"
     "diffie-hellman-group16-sha512,diffie-hellman-group18-sha512,diffie-hellman-group14-sha256"},
    {Server::Stock, Pin::HostKey,
     "ssh-ed25519,ecdsa-sha2-nistp256,ecdsa-sha2-nistp384,ecdsa-sha2-nistp521,"
     "rsa-sha2-256,rsa-sha2-512"},
    {Server::Stock, Pin::Cipher,
     "chacha20-poly1305@openssh.com,aes128-gcm@openssh.com,aes256-gcm@openssh.com"},
    {Server::Stock, Pin::Mac,
     "hmac-sha2-256,hmac-sha2-512,hmac-sha2-256-etm@openssh.com,hmac-sha2-512-etm@openssh.com"},
    {Server::Stock, Pin::Compression, "zlib@openssh.com"},
    {Server::Legacy, Pin::Kex,
     "diffie-hellman-group-exchange-sha256,diffie-hellman-group-exchange-sha1,"
     "diffie-hellman-group14-sha1,diffie-hellman-group1-sha1"},
    {Server::Legacy, Pin::HostKey, "ssh-rsa,ssh-dss"},
    {Server::Legacy, Pin::Cipher,
     "aes128-ctr,aes192-ctr,aes256-ctr,aes128-cbc,aes192-cbc,aes256-cbc,3des-cbc"},
    {Server::Legacy, Pin::Mac, "hmac-sha1,hmac-sha1-96,hmac-md5"},
};

std::vector<Row> Rows() {
    std::vector<Row> rows;
    for (const Group& group : kGroups) {
        for (const char* at = group.names; *at;) {
            const char* end = std::strchr(at, ',');
            const std::size_t length = end ? std::size_t(end - at) : std::strlen(at);
            rows.push_back({group.server, group.pin, std::string(at, length)});
            at += length + (end ? 1 : 0);
        }
    }
    return rows;
}

std::string RowName(const ::testing::TestParamInfo<Row>& info) {
    static constexpr const char* kServers[] = {"Stock", "Legacy"};
    static constexpr const char* kKinds[] = {"Kex", "HostKey", "Cipher", "Mac", "Compression"};
    std::string name = std::string(kServers[static_cast<int>(info.param.server)]) +
                       kKinds[static_cast<int>(info.param.pin)] + "_" + info.param.name;
    std::replace_if(
        name.begin(), name.end(),
        [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}

// An sshd of its own session on a free loopback port, pinned through -o
// options, stopped (with the sessions it forked) when the object goes.
class PinnedSshd {
  public:
    PinnedSshd(const std::string& config, const std::vector<std::string>& options)
        : port_(FreePort()),
          log_("/tmp/ft-sshd-" + std::to_string(getpid()) + "-" + std::to_string(port_) + ".log"),
          process_(Arguments(config, options), -1, -1, log_, true) {}
    ~PinnedSshd() { unlink(log_.c_str()); }

    // Waits (at most 10 seconds) until it accepts connections; false when it
    // exited or never listened.
    bool WaitUntilListening() {
        for (int i = 0; i < 100 && process_.running(); ++i) {
            const int probe = testsupport::ConnectToLoopback(port_);
            if (probe >= 0) return close(probe) == 0;
            if (process_.Exited(std::chrono::milliseconds(100))) return false;
        }
        return false;
    }
    int port() const { return port_; }
    std::string log() const { return ReadFile(log_); }

  private:
    static int FreePort() {
        int port = 0;
        close(testsupport::ListenOnLoopback(&port));
        return port;
    }
    std::vector<std::string> Arguments(const std::string& config,
                                       const std::vector<std::string>& options) const {
        std::vector<std::string> args = {
            "/usr/sbin/sshd",      "-D", "-e",          "-f", config, "-p",
            std::to_string(port_), "-o", "PidFile=none"};
        for (const std::string& option : options)
            args.insert(args.end(), {"-o", option});
        return args;
    }

    int port_;
    std::string log_;
    BackgroundProcess process_;
};

std::string JoinNames(const SshNameList& names) {
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ",") + name;
    return text;
}

// The client keeps its default offer against a pinned server, with the pinned
// name added where the default leaves it out (a name it knows but does not offer).
void Offer(SshConfig& config, const PinInfo& pin, const std::string& name) {
    if (!pin.override) {
        config.compression = true;
        return;
    }
    SshNameList names = SshClientOffer(config, 0).lists[pin.list];
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    config.*pin.override = JoinNames(names);
}

class SshAlgorithmTest : public ::testing::TestWithParam<Row> {};

TEST_P(SshAlgorithmTest, PinnedAlgorithmIsNegotiatedAndCarriesAFile) {
    const Row& row = GetParam();
    const PinInfo& pin = InfoOf(row.pin);
    const std::string host = Setting("FT_TEST_HOST");
    const std::string root = Setting("FT_TEST_ROOT");
    const char* serverSetting =
        row.server == Server::Stock ? "FT_TEST_SSHD_CONFIG" : "FT_TEST_SSHD_LEGACY_CONFIG";
    const std::string server = Setting(serverSetting);
    if (host.empty() || root.empty() || server.empty() || Setting("FT_TEST_USER").empty() ||
        geteuid() != 0) {
        const std::string why =
            std::string(serverSetting) + " or root missing (scripts/servers.sh start, as root)";
        if (InCi()) FAIL() << why;
        GTEST_SKIP() << why;
    }

    SshConfig config;
    config.host = host;
    config.timeoutSeconds = 20;
    config.userName = Setting("FT_TEST_USER");
    config.password = Setting("FT_TEST_PASSWORD");
    config.remoteCommand = "sftp";
    config.remoteCommandIsSubsystem = true;

    // sshd's "Compression=yes" is its delayed zlib@openssh.com.
    const std::string value = row.pin == Pin::Compression ? "yes" : row.name;
    std::vector<std::string> options = {std::string(pin.sshdOption) + "=" + value};
    if (row.pin == Pin::Mac) options.push_back(std::string("Ciphers=") + kMacRowCipher);
    // Another program may take the free port first; a few tries settle that.
    std::unique_ptr<PinnedSshd> sshd;
    bool listening = false;
    for (int attempt = 0; attempt < 3 && !listening; ++attempt) {
        sshd = std::make_unique<PinnedSshd>(server, options);
        listening = sshd->WaitUntilListening();
    }
    ASSERT_TRUE(listening) << sshd->log();
    config.port = static_cast<std::uint16_t>(sshd->port());
    Offer(config, pin, row.name);
    std::unique_ptr<SshSession> ssh;
    ASSERT_EQ(SshSession::Connect(config, &ssh), 0) << sshd->log();
    ASSERT_TRUE(ssh->connection().negotiated());
    const SshNegotiatedNames names = NamesOf(*ssh->connection().negotiated());
    switch (row.pin) {
        case Pin::Kex:
            EXPECT_EQ(names.kex, row.name);
            break;
        case Pin::HostKey:
            EXPECT_EQ(names.hostKey, row.name);
            break;
        case Pin::Cipher:
            EXPECT_EQ(names.cipherCs, row.name);
            EXPECT_EQ(names.cipherSc, row.name);
            break;
        case Pin::Mac:
            EXPECT_EQ(names.macCs, row.name);
            EXPECT_EQ(names.macSc, row.name);
            break;
        case Pin::Compression:
            EXPECT_EQ(names.compressionCs, row.name);
            EXPECT_EQ(names.compressionSc, row.name);
            break;
    }

    DWORD error = 0;
    SftpSession* sftp = SftpConnectOver(MakeSshChannelLink(std::move(ssh)), &error);
    ASSERT_NE(sftp, nullptr) << "error " << error;
    // Larger than one packet, so that more than one goes each way.
    const std::string bytes = Pattern(40000);
    const std::string remote = root + "/algorithm-" + std::to_string(getpid()) + ".bin";
    EXPECT_EQ(SftpPutMemory(sftp, remote.c_str(), bytes.data(), bytes.size()), 1);
    HGLOBAL memory = nullptr;
    std::uint64_t length = 0;
    if (SftpGetFileToMemory(sftp, remote.c_str(), &memory, &length, 0) == 1) {
        EXPECT_TRUE(std::string(static_cast<const char*>(GlobalLock(memory)), length) == bytes);
        GlobalUnlock(memory);
        GlobalFree(memory);
    } else {
        ADD_FAILURE() << "download failed: " << SftpGetLastError(sftp);
    }
    EXPECT_EQ(SftpDeleteFile(sftp, remote.c_str()), 1);
    SftpDisconnect(sftp);
}

INSTANTIATE_TEST_SUITE_P(Matrix, SshAlgorithmTest, ::testing::ValuesIn(Rows()), RowName);

}  // namespace
