// Public-key login through the control against the loopback OpenSSH server with
// the test user's generated keys: each key file with no login password, a key that
// cannot be opened failing before any TCP connection, and the keys of a real
// ssh-agent (the RSA key proves the SHA-2 sign flags). sshd's log must show the
// public-key acceptance.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "control/method_call_support.h"
#include "control/session_test_support.h"
#include "resources/errors.h"
#include "support/child_process.h"
#include "support/loopback_socket.h"
#include "support/server_settings.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;

// The part of sshd's log written after construction.
class SshdLog {
  public:
    SshdLog() : path_(Setting("FT_TEST_SERVERS_DIR") + "/logs/sshd.out") {
        std::error_code error;
        start_ = fs::exists(path_, error) ? fs::file_size(path_, error) : 0;
    }
    bool Shows(const std::string& text) const {
        // sshd writes its lines a moment after the login.
        for (int attempt = 0; attempt < 20; ++attempt) {
            std::ifstream in(path_);
            in.seekg(static_cast<std::streamoff>(start_));
            std::stringstream added;
            added << in.rdbuf();
            if (added.str().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
    bool readable() const { return fs::exists(path_); }

  private:
    std::string path_;
    std::uintmax_t start_ = 0;
};

class PublicKeyLoginTest : public ControlTest {
  protected:
    void SetUp() override {
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_SFTP_PORT", "FT_TEST_USER",
                                "FT_TEST_SSH_CLIENT_KEY_DIR");
        ControlTest::SetUp();
        user_ = Setting("FT_TEST_USER");
        keys_ = Setting("FT_TEST_SSH_CLIENT_KEY_DIR");
    }
    void TearDown() override {
        if (control_) control_->Disconnect(nullptr);
        ControlTest::TearDown();
    }

    // Connects to sftp://USER@HOST:PORT/ (no password in the URL, which clears
    // Password) with the password argument; the Error result.
    LONG Connect(const std::string& hostPort, const std::string& password = "") {
        return CallWithError(control_, &CFileTransfer::Connect,
                             TextVariant("sftp://" + user_ + "@" + hostPort + "/"), nullptr,
                             nullptr, TextVariant(password), nullptr, nullptr);
    }
    LONG Connect() { return Connect(Setting("FT_TEST_HOST") + ":" + Setting("FT_TEST_SFTP_PORT")); }
    std::string LastErrorText() { return Text(&CFileTransfer::get_LastErrorString); }

    std::string user_, keys_;
};

// One key of each type the server takes, and one locked by a passphrase (every file
// format, locked or not, is private_key_test.cpp's).
struct KeyFileRow {
    const char* file;
    bool encrypted;
    const char* logged;  // sshd's name of the key type
};

class KeyFileLoginTest : public PublicKeyLoginTest,
                         public ::testing::WithParamInterface<KeyFileRow> {};

TEST_P(KeyFileLoginTest, LogsInWithTheKeyAlone) {
    const KeyFileRow& row = GetParam();
    ScopedEnv noAgent("SSH_AUTH_SOCK", nullptr);
    SshdLog log;
    SetText(&CFileTransfer::put_PrivateKey, keys_ + "/" + row.file);
    ASSERT_EQ(Connect(Setting("FT_TEST_HOST") + ":" + Setting("FT_TEST_SFTP_PORT"),
                      row.encrypted ? Setting("FT_TEST_SSH_KEY_PASSPHRASE") : ""),
              0)
        << LastErrorText();
    if (log.readable()) {
        EXPECT_TRUE(log.Shows("Accepted publickey for " + user_ + " from 127.0.0.1"));
        EXPECT_TRUE(log.Shows(row.logged));
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, KeyFileLoginTest,
                         ::testing::Values(KeyFileRow{"id_ed25519", false, "ED25519"},
                                           KeyFileRow{"id_ecdsa", false, "ECDSA"},
                                           KeyFileRow{"id_rsa", false, "RSA"},
                                           KeyFileRow{"id_rsa_pass", true, "RSA"}),
                         [](const auto& info) { return std::string(info.param.file); });

// A loopback listener that only counts the connections made to it.
class CountingListener {
  public:
    CountingListener() : socket_(testsupport::ListenOnLoopback(&port_)) {
        fcntl(socket_, F_SETFL, O_NONBLOCK);
    }
    ~CountingListener() { close(socket_); }
    int port() const { return port_; }
    // The connections waiting in the backlog (none is ever answered).
    int Accepted() {
        int count = 0;
        for (int fd; (fd = accept(socket_, nullptr, nullptr)) >= 0; ++count)
            close(fd);
        return count;
    }

  private:
    int port_ = 0;
    int socket_ = -1;
};

TEST_F(PublicKeyLoginTest, UnusableKeyFailsBeforeAnyConnection) {
    struct Row {
        const char* name;
        std::string file;
        const char* password;
        int error;
    } rows[] = {
        {"WrongPassphrase", keys_ + "/id_ed25519_pass", "not-the-passphrase",
         fileErrorPrivateKeyPassphrase},
        {"MissingPassphrase", keys_ + "/id_rsa_pass", "", fileErrorPrivateKeyPassphrase},
        {"MissingFile", keys_ + "/id_none", "", fileErrorPrivateKeyLoad},
        {"NotAKey", keys_ + "/id_ed25519.pub", "", fileErrorPrivateKeyLoad},
    };
    ScopedEnv noAgent("SSH_AUTH_SOCK", nullptr);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CountingListener listener;
        SetText(&CFileTransfer::put_PrivateKey, row.file);
        EXPECT_EQ(Connect("127.0.0.1:" + std::to_string(listener.port()), row.password), row.error);
        EXPECT_NE(LastErrorText().find(row.file), std::string::npos) << LastErrorText();
        EXPECT_EQ(listener.Accepted(), 0);
    }
}

// ssh-agent -D on a socket of its own, killed at the end.
class Agent {
  public:
    Agent() {
        char pattern[] = "/tmp/ft-agent-XXXXXX";
        if (!mkdtemp(pattern)) return;
        directory_ = pattern;
        socket_ = directory_ + "/agent.sock";
        process_.emplace(std::vector<std::string>{"ssh-agent", "-D", "-a", socket_});
        for (int attempt = 0; attempt < 50 && process_->running() && !fs::exists(socket_);
             ++attempt)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ~Agent() {
        process_.reset();
        if (!directory_.empty()) fs::remove_all(directory_);
    }
    bool running() const { return process_ && process_->running() && fs::exists(socket_); }
    const std::string& socket() const { return socket_; }
    bool Add(const std::string& keyFile) const {
        const std::string command = "SSH_AUTH_SOCK=" + socket_ + " timeout 20 ssh-add -q " +
                                    keyFile + " </dev/null >/dev/null 2>&1";
        return std::system(command.c_str()) == 0;
    }

  private:
    std::string directory_, socket_;
    std::optional<BackgroundProcess> process_;
};

TEST_F(PublicKeyLoginTest, AgentKeysLogInWithoutPasswordOrKeyFile) {
    struct Row {
        const char* file;
        const char* logged;
    } rows[] = {{"id_ed25519", "ED25519"}, {"id_rsa", "RSA"}, {"id_ecdsa", "ECDSA"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        Agent agent;
        SKIP_IF_NOT_RUNNING(!agent.running(), "ssh-agent");
        ASSERT_TRUE(agent.running());
        ASSERT_TRUE(agent.Add(keys_ + "/" + row.file));
        ScopedEnv agentSocket("SSH_AUTH_SOCK", agent.socket().c_str());
        SshdLog log;
        ASSERT_EQ(Connect(), 0) << LastErrorText();
        if (log.readable()) {
            EXPECT_TRUE(log.Shows(row.logged));
        }
        control_->Disconnect(nullptr);
    }
}

TEST_F(PublicKeyLoginTest, DeadAgentIsSkippedAndUseAgentOffIgnoresIt) {
    const std::string password = Setting("FT_TEST_PASSWORD");
    {
        ScopedEnv deadAgent("SSH_AUTH_SOCK", "/tmp/ft-no-such-agent.sock");
        EXPECT_EQ(Connect(Setting("FT_TEST_HOST") + ":" + Setting("FT_TEST_SFTP_PORT"), password),
                  0)
            << LastErrorText();
        control_->Disconnect(nullptr);
    }
    Agent agent;
    SKIP_IF_NOT_RUNNING(!agent.running(), "ssh-agent");
    ASSERT_TRUE(agent.running());
    ASSERT_TRUE(agent.Add(keys_ + "/id_ed25519"));
    ScopedEnv agentSocket("SSH_AUTH_SOCK", agent.socket().c_str());
    EXPECT_EQ(control_->put_UseAgent(VARIANT_FALSE), S_OK);
    EXPECT_NE(Connect(), 0);  // neither key nor password
}

}  // namespace
