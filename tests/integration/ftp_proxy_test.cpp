// Every kind of FTP proxy logs in and moves a file both ways to the real
// vsftpd: the user@host kind through the real ftp-proxy of scripts/servers.sh,
// the kinds with a login or a command of their own through a scripted proxy in
// front of the same server. The server listens on a port of its own, so every
// kind also shows that the control names it as "host:port".
#include <unistd.h>

#include <cstdio>
#include <string>

#include "control/method_call_support.h"
#include "control/session_test_support.h"
#include "support/ftp_proxy_front.h"
#include "support/server_settings.h"
#include "support/test_files.h"

namespace {

using testsupport::FtpProxyFront;

struct ProxyKind {
    const char* name;
    LONG type;
    bool scripted;  // else the real ftp-proxy
    FtpProxyFront::Target target;
    bool proxyLogin;
    const char* proxyCommands;  // what the scripted proxy answered itself, "" for none
};

class FtpProxyTest : public SessionTest, public ::testing::WithParamInterface<ProxyKind> {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_USER", "FT_TEST_ROOT", "FT_TEST_FTP_PORT",
                                "FT_TEST_FTP_PROXY_PORT");
        const std::string tag = std::string(GetParam().name) + "-" + std::to_string(getpid());
        remote_ = "proxy-" + tag + ".bin";
        local_ = testing::TempDir() + "proxy-" + tag + ".local";
    }
    void TearDown() override {
        SessionTest::TearDown();
        std::remove(local_.c_str());
        std::remove((Setting("FT_TEST_ROOT") + "/" + remote_).c_str());
    }

    void UseProxy(LONG type, int port, bool login) {
        ASSERT_EQ(control_->put_ServerType(fileServerFTP), S_OK);
        ASSERT_EQ(control_->put_ProxyType(type), S_OK);
        ASSERT_EQ(SetText(&CFileTransfer::put_ProxyServer, "127.0.0.1"), S_OK);
        ASSERT_EQ(control_->put_ProxyPort(port), S_OK);
        if (login) {
            ASSERT_EQ(SetText(&CFileTransfer::put_ProxyUser, FtpProxyFront::kUser), S_OK);
            ASSERT_EQ(SetText(&CFileTransfer::put_ProxyPassword, FtpProxyFront::kPassword), S_OK);
        }
    }

    // Connect to vsftpd through the proxy; with `user` false, no login is asked for.
    LONG Connect(bool user) {
        TextVariant host(Setting("FT_TEST_HOST"));
        VARIANT port = I4(std::stoi(Setting("FT_TEST_FTP_PORT")));
        TextVariant name(Setting("FT_TEST_USER"));
        TextVariant password(Setting("FT_TEST_PASSWORD"));
        VARIANT timeout = I4(10);
        return CallWithError(control_, &CFileTransfer::Connect, host, &port,
                             user ? static_cast<const VARIANT*>(name) : nullptr,
                             user ? static_cast<const VARIANT*>(password) : nullptr, &timeout,
                             nullptr);
    }

    // Up and back down again, byte for byte.
    void RoundTrip() {
        const std::string bytes = Pattern(300000);
        WriteFile(local_, bytes);
        EXPECT_EQ(CallWithError(control_, &CFileTransfer::PutFile, TextVariant(local_),
                                TextVariant(remote_), nullptr),
                  0)
            << Text(&CFileTransfer::get_LastErrorString);
        std::remove(local_.c_str());
        EXPECT_EQ(CallWithError(control_, &CFileTransfer::GetFile, TextVariant(local_),
                                TextVariant(remote_), nullptr),
                  0)
            << Text(&CFileTransfer::get_LastErrorString);
        EXPECT_EQ(ReadFile(local_), bytes);
        EXPECT_EQ(CallWithError(control_, &CFileTransfer::Disconnect), 0);
    }

    std::string remote_, local_;
};

TEST_P(FtpProxyTest, LogsInAndTransfers) {
    const ProxyKind& kind = GetParam();
    const std::string server = "127.0.0.1:" + Setting("FT_TEST_FTP_PORT");
    if (!kind.scripted) {
        UseProxy(kind.type, std::stoi(Setting("FT_TEST_FTP_PROXY_PORT")), false);
        const LONG error = Connect(true);
        SKIP_IF_NOT_RUNNING(error == fileErrorConnectionRefused, "ftp-proxy");
        ASSERT_EQ(error, 0) << Text(&CFileTransfer::get_LastErrorString);
        RoundTrip();
        // The proxy took the server, port included, from the user name.
        const std::string log =
            ReadFile(Setting("FT_TEST_SERVERS_DIR") + "/logs/ftp-proxy/ftp-proxy.log");
        EXPECT_NE(log.find("'USER " + Setting("FT_TEST_USER") + "' dest " + server),
                  std::string::npos);
        return;
    }
    FtpProxyFront proxy(kind.target, kind.proxyLogin);
    UseProxy(kind.type, proxy.port(), kind.proxyLogin);
    ASSERT_EQ(Connect(true), 0) << Text(&CFileTransfer::get_LastErrorString);
    EXPECT_EQ(proxy.Transcript(), std::string(kind.proxyCommands) + server);
    RoundTrip();
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FtpProxyTest,
    ::testing::Values(
        ProxyKind{"user", fileProxyFtpUser, false, FtpProxyFront::Target::UserAtHost, false, ""},
        ProxyKind{"login", fileProxyLogin, true, FtpProxyFront::Target::UserAtHost, true,
                  "USER puser|PASS ppass|USER fttest@"},
        ProxyKind{"open", fileProxyOpen, true, FtpProxyFront::Target::Open, false, "OPEN "},
        ProxyKind{"site", fileProxySite, true, FtpProxyFront::Target::Site, true,
                  "USER puser|PASS ppass|SITE "}),
    [](const auto& info) { return std::string(info.param.name); });

// With a proxy of its own kind the caller speaks to the proxy itself.
TEST_F(SessionTest, OtherProxyLeavesTheLoginToTheCaller) {
    REQUIRE_SERVER_SETTINGS("FT_TEST_USER", "FT_TEST_FTP_PORT");
    FtpProxyFront proxy(FtpProxyFront::Target::Open, false);
    ASSERT_EQ(control_->put_ServerType(fileServerFTP), S_OK);
    ASSERT_EQ(control_->put_ProxyType(fileProxyOther), S_OK);
    ASSERT_EQ(SetText(&CFileTransfer::put_ProxyServer, "127.0.0.1"), S_OK);
    ASSERT_EQ(control_->put_ProxyPort(proxy.port()), S_OK);
    TextVariant host("127.0.0.1");
    ASSERT_EQ(ConnectWith(host), 0) << Text(&CFileTransfer::get_LastErrorString);
    for (const std::string& command :
         {"OPEN 127.0.0.1:" + Setting("FT_TEST_FTP_PORT"), "USER " + Setting("FT_TEST_USER"),
          "PASS " + Setting("FT_TEST_PASSWORD")}) {
        EXPECT_EQ(CallWithError(control_, &CFileTransfer::Command, TextVariant(command)), 0)
            << command;
    }
    EXPECT_EQ(Long(&CFileTransfer::get_ResultCode), 230);
    VariantOutputs<1> size;
    EXPECT_EQ(
        CallWithError(control_, &CFileTransfer::GetFileSize, TextVariant("hello.txt"), size[0]), 0);
    EXPECT_EQ(size[0]->lVal, 14);
}

}  // namespace
