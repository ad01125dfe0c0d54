// The engine against the real servers of scripts/servers.sh: nginx over HTTP
// and HTTPS, and tinyproxy as CERN-style proxy and CONNECT tunnel (with and
// without proxy authentication). Without their settings the tests skip,
// unless CI=true.
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "http/client.h"
#include "support/server_settings.h"
#include "support/test_files.h"
#include "tests/http/http_test_support.h"

namespace {

using namespace httptest;

// Equal texts, or where they part (large bodies are not printed whole).
::testing::AssertionResult SameBytes(const std::string& got, const std::string& wanted) {
    if (got == wanted) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < got.size() && at < wanted.size() && got[at] == wanted[at])
        ++at;
    return ::testing::AssertionFailure()
           << "got " << got.size() << " bytes, wanted " << wanted.size() << ", first difference at "
           << at << ": " << got.substr(0, 80);
}

class HttpServerTest : public HttpTest {
  protected:
    void SetUp() override {
        httpPort_ = Setting("FT_TEST_HTTP_PORT");
        httpsPort_ = Setting("FT_TEST_HTTPS_PORT");
        proxyPort_ = Setting("FT_TEST_PROXY_PORT");
        authProxyPort_ = Setting("FT_TEST_PROXY_AUTH_PORT");
        root_ = Setting("FT_TEST_HTTP_ROOT");
        ca_ = Setting("FT_TEST_CA_FILE");
        if (httpPort_.empty() || httpsPort_.empty() || proxyPort_.empty() || root_.empty() ||
            ca_.empty()) {
            if (InCi()) FAIL() << "test server settings missing; run scripts/servers.sh start";
            GTEST_SKIP() << "no test servers configured (scripts/servers.sh start)";
        }
        TrustTestCa(true);
        HttpTest::SetUp();
    }

    // Only the test CA is trusted, or nothing at all.
    void TrustTestCa(bool trusted) {
        setenv("SSL_CERT_FILE", trusted ? ca_.c_str() : "/nonexistent/ca.pem", 1);
        setenv("SSL_CERT_DIR", "/nonexistent", 1);
    }

    HttpClient Open(const std::string& port, DWORD options = HTTP_OPTION_KEEPALIVE,
                    int proxyType = HTTP_PROXY_NONE, const std::string& proxyPort = "",
                    const char* proxyUser = nullptr, const char* proxyPassword = nullptr) {
        const int proxy = proxyPort.empty() ? 0 : std::stoi(proxyPort);
        HttpClient client =
            HttpConnect(proxyType, "127.0.0.1", proxy, proxyUser, proxyPassword, "127.0.0.1",
                        std::stoi(port), 10, options, HTTP_VERSION_11, nullptr);
        if (client == INVALID_HTTP_CLIENT &&
            HttpGetLastError() == MakeErrorCode(fileErrorConnectionRefused) && !InCi()) {
            skipped_ = true;
        }
        return client;
    }

    std::string Get(HttpClient client, const char* path) {
        const int status = HttpSendRequest(client, "GET", path);
        if (status != 200) {
            return "<status " + std::to_string(status) + " error " +
                   std::to_string(HttpGetLastError() & 0xFFFF) + ">";
        }
        char encoding[32] = {};
        int length = sizeof encoding;
        const bool chunked = HttpGetResponseHeader(client, "Transfer-Encoding", encoding, &length);
        std::string body = chunked ? ReadChunkedBody(client) : ReadBody(client);
        EXPECT_EQ(HttpFinishRequest(client), 0);
        return body;
    }

    unsigned CertificateStatus(HttpClient client) {
        SecurityInfo info{};
        info.size = TLS_SECURITY_INFO_SIZE;
        EXPECT_EQ(HttpGetSecurityInfo(client, &info), 1);
        return info.certificateStatus;
    }

    std::string httpPort_, httpsPort_, proxyPort_, authProxyPort_, root_, ca_;
    bool skipped_ = false;
};

#define OPEN_OR_SKIP(client, ...)                                   \
    HttpClient client = Open(__VA_ARGS__);                          \
    if (skipped_) GTEST_SKIP() << "the test server is not running"; \
    ASSERT_NE(client, INVALID_HTTP_CLIENT) << std::hex << HttpGetLastError()

TEST_F(HttpServerTest, FilesAreReadWholeOverOneKeptConnection) {
    OPEN_OR_SKIP(client, httpPort_);
    const SOCKET first = http::LookupClient(client)->socket;
    for (const char* name : {"hello.txt", "long.txt", "big.bin", "empty.txt"}) {
        SCOPED_TRACE(name);
        const std::string body = Get(client, (std::string("/") + name).c_str());
        EXPECT_TRUE(SameBytes(body, ReadFile(root_ + "/" + name)));
        EXPECT_FALSE(http::LookupClient(client)->closed);
    }
    EXPECT_EQ(http::LookupClient(client)->socket, first);
    HttpTransferStatus status{};
    EXPECT_EQ(HttpGetTransferStatus(client, &status), 1);
    EXPECT_EQ(status.bytesCopied, 0u);  // empty.txt was the last
    EXPECT_TRUE(SameBytes(Get(client, "/with%20space.txt"), ReadFile(root_ + "/with space.txt")));
    EXPECT_EQ(HttpDisconnect(client), 0);
}

TEST_F(HttpServerTest, HeadNotFoundAndEvents) {
    OPEN_OR_SKIP(client, httpPort_);
    EventWindow events;
    ASSERT_EQ(HttpRegisterNotify(client, events.handle(), kEventMessage, 240), 0);
    EXPECT_EQ(HttpSendRequest(client, "HEAD", "/hello.txt"), 200);
    char length[16] = {};
    int size = sizeof length;
    EXPECT_EQ(HttpGetResponseHeader(client, "content-length", length, &size), 1);
    EXPECT_STREQ(length, "14");
    EXPECT_EQ(HttpFinishRequest(client), 0);
    EXPECT_TRUE(
        FailsWith(fileErrorResourceNotFound, HttpSendRequest(client, "GET", "/missing.txt")));
    EXPECT_EQ(HttpGetResultCode(client), 404);
    EXPECT_EQ(
        EventWindow::Of(HTTP_EVENT_COMMAND),
        (std::vector<DWORD>{EventWindow::Word(0, HTTP_EVENT_COMMAND),
                            EventWindow::Word(fileErrorResourceNotFound, HTTP_EVENT_COMMAND)}));
    // After an error status the next request opens the connection again.
    EXPECT_EQ(Get(client, "/hello.txt"), "Hello, world!\n");
    EXPECT_EQ(HttpDisconnect(client), 0);
}

TEST_F(HttpServerTest, ChunkedAnswersAndFormPosts) {
    OPEN_OR_SKIP(client, httpPort_);
    ASSERT_EQ(HttpSetRequestHeader(client, "Accept-Encoding", "gzip"), 0);
    const std::string zipped = Get(client, "/long.txt");
    ASSERT_GT(zipped.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(zipped[0]), 0x1Fu);
    EXPECT_EQ(static_cast<unsigned char>(zipped[1]), 0x8Bu);
    EXPECT_LT(zipped.size(), 16000u);
    ASSERT_EQ(HttpSetRequestHeader(client, "Accept-Encoding", nullptr), 0);
    const std::string form = "name=value&x=1";
    http::SetRequestBody(*http::LookupClient(client), form.data(),
                         static_cast<std::uint32_t>(form.size()));
    EXPECT_EQ(HttpSendRequest(client, "POST", "/echo"), 200);
    const std::string echoed = ReadChunkedBody(client);
    EXPECT_NE(echoed.find("method: POST"), std::string::npos) << echoed;
    EXPECT_NE(echoed.find("content-type: application/x-www-form-urlencoded"), std::string::npos);
    EXPECT_NE(echoed.find("content-length: 14"), std::string::npos);
    EXPECT_EQ(echoed.substr(echoed.size() - form.size()), form);
    EXPECT_EQ(HttpDisconnect(client), 0);
}

TEST_F(HttpServerTest, BasicAuthenticationAndRedirects) {
    OPEN_OR_SKIP(client, httpPort_, HTTP_OPTION_KEEPALIVE | HTTP_OPTION_REDIRECT);
    EXPECT_TRUE(FailsWith(fileErrorCommandNotAuthorized,
                          HttpSendRequest(client, "GET", "/private/secret.txt")));
    ASSERT_EQ(HttpSetCredentials(client, Setting("FT_TEST_USER").c_str(),
                                 Setting("FT_TEST_PASSWORD").c_str()),
              0);
    EXPECT_TRUE(
        SameBytes(Get(client, "/private/secret.txt"), ReadFile(root_ + "/private/secret.txt")));
    EXPECT_EQ(Get(client, "/redirect"), "Hello, world!\n");
    EXPECT_EQ(Get(client, "/redirect-permanent"), "Hello, world!\n");
    EXPECT_TRUE(
        FailsWith(fileErrorResourceRedirected, HttpSendRequest(client, "GET", "/redirect-loop")));
    EXPECT_EQ(HttpDisconnect(client), 0);

    OPEN_OR_SKIP(plain, httpPort_);
    EXPECT_EQ(HttpSendRequest(plain, "GET", "/redirect"), 302);
    EXPECT_EQ(HttpGetLastError(), 0u);
    EXPECT_EQ(HttpDisconnect(plain), 0);
}

TEST_F(HttpServerTest, SecureConnectionsValidateAgainstTheTestCa) {
    OPEN_OR_SKIP(client, httpsPort_, HTTP_OPTION_KEEPALIVE | HTTP_OPTION_SECURE);
    EXPECT_EQ(CertificateStatus(client), 1u);
    EXPECT_EQ(Get(client, "/hello.txt"), "Hello, world!\n");
    EXPECT_TRUE(SameBytes(Get(client, "/big.bin"), ReadFile(root_ + "/big.bin")));
    EXPECT_EQ(HttpDisconnect(client), 0);

    // Without the CA the connection stays up and says why it is not trusted.
    TrustTestCa(false);
    OPEN_OR_SKIP(untrusted, httpsPort_, HTTP_OPTION_SECURE);
    EXPECT_EQ(CertificateStatus(untrusted), 5u);
    EXPECT_EQ(Get(untrusted, "/hello.txt"), "Hello, world!\n");
    EXPECT_EQ(HttpDisconnect(untrusted), 0);

    OPEN_OR_SKIP(unchecked, httpsPort_, HTTP_OPTION_SECURE | HTTP_OPTION_NOVERIFY);
    EXPECT_EQ(CertificateStatus(unchecked), 1u);
    EXPECT_EQ(HttpDisconnect(unchecked), 0);

    // An https URL as the host asks for TLS by itself.
    TrustTestCa(true);
    const std::string url = "https://127.0.0.1:" + httpsPort_;
    HttpClient byUrl = HttpConnect(HTTP_PROXY_NONE, nullptr, 0, nullptr, nullptr, url.c_str(), 0,
                                   10, 0, HTTP_VERSION_11, nullptr);
    ASSERT_NE(byUrl, INVALID_HTTP_CLIENT) << std::hex << HttpGetLastError();
    EXPECT_EQ(CertificateStatus(byUrl), 1u);
    EXPECT_EQ(Get(byUrl, "/one.txt"), "x");
    EXPECT_EQ(HttpDisconnect(byUrl), 0);
}

TEST_F(HttpServerTest, ThroughTheProxyAsCernStyleAndAsTunnel) {
    OPEN_OR_SKIP(cern, httpPort_, HTTP_OPTION_KEEPALIVE, HTTP_PROXY_CERN, proxyPort_);
    EXPECT_EQ(Get(cern, "/hello.txt"), "Hello, world!\n");
    EXPECT_TRUE(SameBytes(Get(cern, "/long.txt"), ReadFile(root_ + "/long.txt")));
    EXPECT_EQ(HttpDisconnect(cern), 0);

    OPEN_OR_SKIP(tunnel, httpsPort_, HTTP_OPTION_KEEPALIVE | HTTP_OPTION_SECURE, HTTP_PROXY_TUNNEL,
                 proxyPort_);
    EXPECT_EQ(CertificateStatus(tunnel), 1u);
    EXPECT_EQ(Get(tunnel, "/hello.txt"), "Hello, world!\n");
    EXPECT_EQ(Get(tunnel, "/hello.txt"), "Hello, world!\n");
    EXPECT_EQ(HttpDisconnect(tunnel), 0);
}

TEST_F(HttpServerTest, TheAuthenticatingProxyWantsCredentials) {
    if (authProxyPort_.empty()) GTEST_SKIP() << "no authenticating proxy configured";
    const std::string user = Setting("FT_TEST_PROXY_USER");
    const std::string password = Setting("FT_TEST_PROXY_PASSWORD");
    const DWORD secure = HTTP_OPTION_KEEPALIVE | HTTP_OPTION_SECURE;
    HttpClient refused = Open(httpsPort_, secure, HTTP_PROXY_TUNNEL, authProxyPort_);
    if (skipped_) GTEST_SKIP() << "the proxy is not running";
    EXPECT_EQ(refused, INVALID_HTTP_CLIENT);
    EXPECT_EQ(HttpGetLastError(), MakeErrorCode(fileErrorProxyAuthenticationRequired));

    OPEN_OR_SKIP(tunnel, httpsPort_, secure, HTTP_PROXY_TUNNEL, authProxyPort_, user.c_str(),
                 password.c_str());
    EXPECT_EQ(Get(tunnel, "/hello.txt"), "Hello, world!\n");
    EXPECT_EQ(HttpDisconnect(tunnel), 0);

    OPEN_OR_SKIP(cern, httpPort_, HTTP_OPTION_KEEPALIVE, HTTP_PROXY_CERN, authProxyPort_);
    EXPECT_TRUE(FailsWith(fileErrorProxyAuthenticationRequired,
                          HttpSendRequest(cern, "GET", "/hello.txt")));
    EXPECT_EQ(HttpDisconnect(cern), 0);
    OPEN_OR_SKIP(cernAuth, httpPort_, HTTP_OPTION_KEEPALIVE, HTTP_PROXY_CERN, authProxyPort_,
                 user.c_str(), password.c_str());
    EXPECT_EQ(Get(cernAuth, "/hello.txt"), "Hello, world!\n");
    EXPECT_EQ(HttpDisconnect(cernAuth), 0);
}

}  // namespace
