// How Connect chooses the engine and reports a failed connect, without any
// network traffic: each case fails before a host is looked up.
#include "session_test_support.h"

namespace {

class ConnectChoice : public SessionTest {
  protected:
    // Port 1 of the loopback address: nothing listens there.
    void UseClosedProxy() {
        ASSERT_EQ(control_->put_ProxyType(fileProxyCern), S_OK);
        ASSERT_EQ(SetText(&CFileTransfer::put_ProxyServer, "127.0.0.1"), S_OK);
        ASSERT_EQ(control_->put_ProxyPort(1), S_OK);
    }
};

TEST_F(ConnectChoice, NoArgumentsPickTheFtpEngineAndReportTheEmptyHostOnce) {
    EXPECT_EQ(ConnectWith(nullptr), fileErrorInvalidHostName);
    EXPECT_EQ(Long(&CFileTransfer::get_ServerType), fileServerFTP);
    EXPECT_EQ(Long(&CFileTransfer::get_LastError), fileErrorInvalidHostName);
    EXPECT_EQ(sink_->Trace(), "OnError 11001");
    EXPECT_EQ(sink_->events[0].arguments[1],
              "The specified hostname is invalid or could not be resolved");
}

// The name's prefix decides, then the port; unlike a write of ServerPort (21
// would pick FTP), the port argument is stored as it is and does not infer.
// With the secure-shell option the FTP engine refuses at once (no user name):
// 12222 shows the FTP engine was chosen. The HTTP engine is sent to a proxy on
// a closed loopback port, so no name is looked up: 10061 shows it was chosen.
struct Choice {
    const char* serverName;
    LONG port;
    LONG serverType;
    int error;
};

class ConnectInference : public ConnectChoice, public ::testing::WithParamInterface<Choice> {};

TEST_P(ConnectInference, PrefixThenPortDecide) {
    const Choice& choice = GetParam();
    TextVariant name(choice.serverName);
    VARIANT port = I4(choice.port);
    VARIANT options = I4(fileOptionSecureShell);
    if (choice.serverType == fileServerHTTP) UseClosedProxy();
    EXPECT_EQ(ConnectWith(name, &port, &options), choice.error);
    EXPECT_EQ(Long(&CFileTransfer::get_ServerType), choice.serverType);
    EXPECT_EQ(Long(&CFileTransfer::get_ServerPort), choice.port);
    EXPECT_EQ(sink_->Count(kOnError), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ConnectInference,
    ::testing::Values(Choice{"ftp.example.com", 443, fileServerFTP, fileErrorInvalidUserName},
                      Choice{"FTPhost", 80, fileServerFTP, fileErrorInvalidUserName},
                      Choice{"www.example.com", 21, fileServerHTTP, fileErrorConnectionRefused},
                      Choice{"WWW.example.com", 0, fileServerHTTP, fileErrorConnectionRefused},
                      Choice{"example.com", 443, fileServerHTTP, fileErrorConnectionRefused},
                      Choice{"example.com", 80, fileServerHTTP, fileErrorConnectionRefused},
                      Choice{"example.com", 8080, fileServerFTP, fileErrorInvalidUserName},
                      Choice{"example.com", 0, fileServerFTP, fileErrorInvalidUserName}));

TEST_F(ConnectChoice, AChosenServerTypeIsKept) {
    ASSERT_EQ(control_->put_ServerType(fileServerHTTP), S_OK);
    UseClosedProxy();
    TextVariant name("ftp.example.com");
    EXPECT_EQ(ConnectWith(name), fileErrorConnectionRefused);
    EXPECT_EQ(Long(&CFileTransfer::get_ServerType), fileServerHTTP);
}

TEST_F(ConnectChoice, AnUnusableUrlEndsConnectWithTheWriteFailure) {
    TextVariant url("ftp://h/a;type=x");
    EXPECT_EQ(ConnectWith(url, nullptr, nullptr, CTL_E_INVALIDPROPERTYVALUE), 0);
    EXPECT_TRUE(sink_->events.empty());
}

TEST_F(ConnectChoice, ExplicitSecurityOptionAlsoSetsSecure) {
    UseClosedProxy();
    TextVariant name("www.example.com");
    VARIANT options = I4(fileOptionSecureExplicit);
    ConnectWith(name, nullptr, &options);
    EXPECT_EQ(Long(&CFileTransfer::get_Options),
              fileOptionSecureExplicit | fileOptionSecureImplicit);
    EXPECT_TRUE(Bool(&CFileTransfer::get_Secure));
}

TEST_F(ConnectChoice, ConversionFailureEndsConnectBeforeAnyEffect) {
    TextVariant name("first.example.com");
    TextVariant port("not a number");
    EXPECT_EQ(ConnectWith(name, port, nullptr, DISP_E_TYPEMISMATCH), 0);
    EXPECT_EQ(Text(&CFileTransfer::get_ServerName), "first.example.com");
    EXPECT_EQ(Long(&CFileTransfer::get_ServerPort), 0);
    EXPECT_EQ(Long(&CFileTransfer::get_ServerType), fileServerUndefined);
    EXPECT_TRUE(sink_->events.empty());
}

}  // namespace
