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

#include "control/FileTransfer.h"
#include "platform/text.h"
#include "resources/errors.h"
#include "support/child_process.h"
#include "support/loopback_socket.h"
#include "support/server_settings.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;

VARIANT TextArg(const std::string& text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = BstrFromUtf8(text);
    return v;
}

void PutText(CFileTransfer* control, HRESULT (CFileTransfer::*put)(BSTR), const std::string& text) {
    BSTR value = BstrFromUtf8(text);
    EXPECT_EQ((control->*put)(value), S_OK);
    SysFreeString(value);
}

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

class PublicKeyLoginTest : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_SFTP_PORT", "FT_TEST_USER",
                                "FT_TEST_SSH_CLIENT_KEY_DIR");
        host_ = Setting("FT_TEST_HOST");
        port_ = Setting("FT_TEST_SFTP_PORT");
        user_ = Setting("FT_TEST_USER");
        keys_ = Setting("FT_TEST_SSH_CLIENT_KEY_DIR");
        passphrase_ = Setting("FT_TEST_SSH_KEY_PASSPHRASE");
        control_ = CFileTransfer::Create();
        ASSERT_NE(control_, nullptr);
    }
    void TearDown() override {
        if (control_) {
            control_->Disconnect(nullptr);
            control_->Release();
        }
    }

    // Connects to sftp://USER@HOST:PORT/ (no password in the URL, which clears
    // Password) with the password argument; the Error result.
    LONG Connect(const std::string& hostPort, const std::string& password = "") {
        VARIANT name = TextArg("sftp://" + user_ + "@" + hostPort + "/");
        VARIANT secret = TextArg(password);
        VARIANT error;
        VariantInit(&error);
        EXPECT_EQ(control_->Connect(&name, nullptr, nullptr, &secret, nullptr, nullptr, &error),
                  S_OK);
        VariantClear(&name);
        VariantClear(&secret);
        return error.lVal;
    }
    LONG Connect() { return Connect(host_ + ":" + port_); }
    std::string LastErrorText() {
        BSTR text = nullptr;
        control_->get_LastErrorString(&text);
        std::string result = Utf16ToUtf8(BstrView(text));
        SysFreeString(text);
        return result;
    }

    std::string host_, port_, user_, keys_, passphrase_;
    CFileTransfer* control_ = nullptr;
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
    PutText(control_, &CFileTransfer::put_PrivateKey, keys_ + "/" + row.file);
    ASSERT_EQ(Connect(host_ + ":" + port_, row.encrypted ? passphrase_ : ""), 0) << LastErrorText();
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
        PutText(control_, &CFileTransfer::put_PrivateKey, row.file);
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
        EXPECT_EQ(Connect(host_ + ":" + port_, password), 0) << LastErrorText();
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
