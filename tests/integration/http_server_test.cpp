// The HTTP engine against the loopback servers: nginx over HTTP and HTTPS
// (files over one kept connection, HEAD, chunked answers, form and multipart
// posts, basic authentication, redirects, certificate checks, a 64 MiB file up
// and down by SHA-256 with a restart, gzip bodies) and tinyproxy as CERN-style
// proxy and CONNECT tunnel for both schemes, with and without proxy
// authentication, and as the proxy of the system settings.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "http/client.h"
#include "http/proxy_config.h"
#include "support/server_settings.h"
#include "support/test_files.h"
#include "tests/http/transfer_test_support.h"

namespace {

using namespace httptest;

constexpr std::size_t kLargeSize = 64u << 20;

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
        REQUIRE_SERVER_SETTINGS("FT_TEST_HTTP_PORT", "FT_TEST_HTTPS_PORT", "FT_TEST_PROXY_PORT",
                                "FT_TEST_HTTP_ROOT", "FT_TEST_DAV_PATH", "FT_TEST_CA_FILE");
        httpPort_ = Setting("FT_TEST_HTTP_PORT");
        httpsPort_ = Setting("FT_TEST_HTTPS_PORT");
        proxyPort_ = Setting("FT_TEST_PROXY_PORT");
        authProxyPort_ = Setting("FT_TEST_PROXY_AUTH_PORT");
        root_ = Setting("FT_TEST_HTTP_ROOT");
        dav_ = Setting("FT_TEST_DAV_PATH");
        ca_ = Setting("FT_TEST_CA_FILE");
        TrustTestCa(true);
        HttpTest::SetUp();
    }

    // Only the test CA is trusted, or nothing at all (until the test ends).
    void TrustTestCa(bool trusted) {
        certFile_.reset();
        certFile_.emplace("SSL_CERT_FILE", trusted ? ca_ : std::string("/nonexistent/ca.pem"));
        if (!certDir_) certDir_.emplace("SSL_CERT_DIR", "/nonexistent");
    }
    static DWORD Secure(bool secure) {
        return HTTP_OPTION_KEEPALIVE | (secure ? HTTP_OPTION_SECURE : 0);
    }

    HttpClient Open(const std::string& port, DWORD options = HTTP_OPTION_KEEPALIVE,
                    int proxyType = HTTP_PROXY_NONE, const std::string& proxyPort = "",
                    const char* proxyUser = nullptr, const char* proxyPassword = nullptr) {
        const int proxy = proxyPort.empty() ? 0 : std::stoi(proxyPort);
        HttpClient client =
            HttpConnect(proxyType, "127.0.0.1", proxy, proxyUser, proxyPassword, "127.0.0.1",
                        std::stoi(port), 20, options, HTTP_VERSION_11, nullptr);
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

    // A name in the writable area, private to this process.
    std::string DavName(const std::string& name) const {
        return dav_ + "httpx-" + std::to_string(getpid()) + "-" + name;
    }

    std::string httpPort_, httpsPort_, proxyPort_, authProxyPort_, root_, dav_, ca_;
    std::optional<ScopedEnv> certFile_, certDir_;
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
    }
    EXPECT_EQ(http::LookupClient(client)->socket, first);
    HttpTransferStatus status{};
    EXPECT_EQ(HttpGetTransferStatus(client, &status), 1);
    EXPECT_EQ(status.bytesCopied, 0u);  // empty.txt was the last
    EXPECT_TRUE(SameBytes(Get(client, "/with%20space.txt"), ReadFile(root_ + "/with space.txt")));
    EXPECT_EQ(HttpDisconnect(client), 0);
}

TEST_F(HttpServerTest, HeadSizeTimeNotFoundAndEvents) {
    OPEN_OR_SKIP(client, httpPort_);
    // HEAD by the time call (the size call is control_http_test.cpp's): the
    // fixtures are dated FT_TEST_FIXTURE_MTIME (UTC), YYYYMMDDhhmmss.
    SYSTEMTIME time{};
    EXPECT_EQ(HttpGetFileTime(client, "/hello.txt", &time, FALSE), 200);
    const std::string stamp = Setting("FT_TEST_FIXTURE_MTIME");
    ASSERT_EQ(stamp.size(), 14u);
    EXPECT_EQ(TimeText(time).substr(0, 19),
              stamp.substr(0, 4) + "-" + stamp.substr(4, 2) + "-" + stamp.substr(6, 2) + " " +
                  stamp.substr(8, 2) + ":" + stamp.substr(10, 2) + ":" + stamp.substr(12, 2));
    EXPECT_TRUE(FailsWith(fileErrorResourceNotFound, HttpGetFileTime(client, "/no", &time, 0)));
    EXPECT_EQ(time.wYear, 0);
    // Verify compares the local size with the one HEAD announces.
    ScratchFolder folder{"httpx"};
    const std::string local = (folder / "short").string();
    WriteFile(local, "short");
    EXPECT_TRUE(FailsWith(fileErrorFileSizeMismatch,
                          HttpVerifyFile(client, local.c_str(), "/hello.txt", 0)));
    EXPECT_TRUE(FailsWith(fileErrorFileNotFound,
                          HttpVerifyFile(client, (folder / "absent").string().c_str(), "/x", 0)));
    EXPECT_EQ(HttpVerifyFile(client, local.c_str(), "/hello.txt", 1), -1);
    EventWindow events;
    ASSERT_EQ(HttpRegisterNotify(client, events.handle(), kEventMessage, 240), 0);
    EXPECT_EQ(HttpSendRequest(client, "HEAD", "/hello.txt"), 200);
    char length[16] = {};
    int size = sizeof length;
    EXPECT_EQ(HttpGetResponseHeader(client, "content-length", length, &size), 1);
    EXPECT_STREQ(length, "14");
    // The length alone; no room for the value and its end; a header not there.
    EXPECT_EQ(HttpGetResponseHeader(client, "Content-Length", nullptr, &size), 1);
    EXPECT_EQ(size, 2);
    EXPECT_TRUE(FailsWith(fileErrorInvalidParameter,
                          HttpGetResponseHeader(client, "Content-Length", length, &size)));
    EXPECT_EQ(HttpGetResponseHeader(client, "Content-Length", nullptr, nullptr), 1);
    EXPECT_TRUE(FailsWith(fileErrorInvalidMessageHeader,
                          HttpGetResponseHeader(client, "X-Missing", nullptr, nullptr)));
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

TEST_F(HttpServerTest, FormPostsGetAChunkedAnswer) {
    OPEN_OR_SKIP(client, httpPort_);
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
    // A loop is followed four times; the fifth redirect fails the request.
    EventWindow events;
    ASSERT_EQ(HttpRegisterNotify(client, events.handle(), kEventMessage, kCallEvents), 0);
    EXPECT_TRUE(
        FailsWith(fileErrorResourceRedirected, HttpSendRequest(client, "GET", "/redirect-loop")));
    EXPECT_EQ(EventWindow::Of(HTTP_EVENT_REDIRECT).size(), 4u);
    EXPECT_EQ(EventWindow::Of(HTTP_EVENT_COMMAND).back(),
              EventWindow::Word(fileErrorResourceRedirected, HTTP_EVENT_COMMAND));
    EXPECT_EQ(HttpDisconnect(client), 0);

    // Without keep-alive a connection serves one request, read to its end.
    OPEN_OR_SKIP(plain, httpPort_, 0);
    EXPECT_EQ(HttpSendRequest(plain, "GET", "/redirect"), 302);
    EXPECT_EQ(HttpGetLastError(), 0u);
    EXPECT_TRUE(FailsWith(fileErrorRequestNotCompleted, HttpSendRequest(plain, "GET", "/x")));
    ReadBody(plain);
    EXPECT_EQ(HttpFinishRequest(plain), 0);
    EXPECT_TRUE(FailsWith(fileErrorConnectionClosed, HttpSendRequest(plain, "GET", "/x")));
    EXPECT_EQ(HttpDisconnect(plain), 0);
}

TEST_F(HttpServerTest, SecureConnectionsValidateAgainstTheTestCa) {
    OPEN_OR_SKIP(client, httpsPort_, HTTP_OPTION_KEEPALIVE | HTTP_OPTION_SECURE);
    EXPECT_EQ(CertificateStatus(client), 1u);
    EXPECT_EQ(Get(client, "/hello.txt"), "Hello, world!\n");
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

// The asynchronous mode: the call returns before the connection stands, and
// the window learns of the connect, of the room to write, of the response and
// each piece of the body, and of the server's close, while the caller only
// pumps messages. One read per event: bytes that wait in the client's inbox or
// its TLS channel are announced again, and a read never waits for the socket.
TEST_F(HttpServerTest, AsynchronousModeDrivesADownloadByEvents) {
    EventWindow events;
    // Pumps until an event of the mask has come (bounded).
    auto await = [&](DWORD mask) {
        for (int round = 0; round < 500; ++round) {
            for (DWORD word : EventWindow::Words())
                if (word & mask) return true;
            NetPumpAsyncEvents();
            MSG message{};
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&message);
            usleep(10000);
        }
        return false;
    };
    for (const bool secure : {false, true}) {
        SCOPED_TRACE(secure ? "https" : "http");
        EventWindow::Words().clear();
        const HttpClient client = HttpConnectNotify(
            HTTP_PROXY_NONE, nullptr, 0, nullptr, nullptr, "127.0.0.1",
            std::stoi(secure ? httpsPort_ : httpPort_), 10, secure ? HTTP_OPTION_SECURE : 0,
            HTTP_VERSION_11, nullptr, events.handle(), kEventMessage, 0x1FF);
        ASSERT_NE(client, INVALID_HTTP_CLIENT) << std::hex << HttpGetLastError();
        ASSERT_TRUE(await(HTTP_EVENT_CONNECT));
        EXPECT_EQ(EventWindow::Of(HTTP_EVENT_CONNECT), std::vector<DWORD>{HTTP_EVENT_CONNECT});
        ASSERT_TRUE(await(HTTP_EVENT_WRITE));
        ASSERT_EQ(HttpSendRequest(client, "GET", "/long.txt"), 0);  // the answer comes by event
        std::string body;
        char buffer[4096];
        int got = -1;
        bool closed = false;  // the server's close may come while the body is read
        auto forget = [&] {
            for (DWORD word : EventWindow::Words())
                closed = closed || (word & HTTP_EVENT_DISCONNECT) != 0;
            EventWindow::Words().clear();
        };
        for (int readEvents = 0; got != 0 && readEvents < 1000; ++readEvents) {
            forget();
            ASSERT_TRUE(await(HTTP_EVENT_READ)) << body.size();
            got = HttpRecv(client, buffer, sizeof buffer);
            if (got > 0) body.append(buffer, static_cast<std::size_t>(got));
            if (got < 0) {
                ASSERT_EQ(HttpGetLastError(), MakeErrorCode(fileErrorOperationWouldBlock));
            }
        }
        EXPECT_EQ(HttpGetResultCode(client), 200);
        EXPECT_TRUE(SameBytes(body, ReadFile(root_ + "/long.txt")));
        // Without keep-alive the server closes after the answer.
        EXPECT_TRUE(closed || await(HTTP_EVENT_DISCONNECT));
        EXPECT_EQ(HttpDisconnect(client), 0);
    }

    // A connect that fails ends with its error in event 1, and the handle goes.
    EventWindow::Words().clear();
    const HttpClient refused = HttpConnectNotify(
        HTTP_PROXY_NONE, nullptr, 0, nullptr, nullptr, "127.0.0.1", 1, 10, 0, HTTP_VERSION_11,
        nullptr, events.handle(), kEventMessage, HTTP_EVENT_CONNECT);
    ASSERT_NE(refused, INVALID_HTTP_CLIENT);
    ASSERT_TRUE(await(HTTP_EVENT_CONNECT));
    EXPECT_EQ(
        EventWindow::Of(HTTP_EVENT_CONNECT),
        std::vector<DWORD>{EventWindow::Word(fileErrorConnectionRefused, HTTP_EVENT_CONNECT)});
    EXPECT_TRUE(FailsWith(fileErrorInvalidHandle, HttpDisconnect(refused)));
}

// What tinyproxy has logged since a point: the requests it was given.
class ProxyLog {
  public:
    ProxyLog() : path_(Setting("FT_TEST_SERVERS_DIR") + "/logs/tinyproxy.out") {
        start_ = ReadFile(path_).size();
    }
    std::string Since() const {
        const std::string text = ReadFile(path_);
        return text.size() > start_ ? text.substr(start_) : std::string();
    }

  private:
    std::string path_;
    std::size_t start_ = 0;
};

// Through tinyproxy as either kind of proxy, with and without its login: a
// CERN-style proxy takes http:// requests itself and tunnels https:// by
// CONNECT (TLS to the origin server); a tunnel proxy tunnels both. The
// authenticating proxy refuses a tunnel at the connect and a CERN-style
// request at the request.
TEST_F(HttpServerTest, EverySchemeGoesThroughEitherKindOfProxyWithItsLogin) {
    enum Outcome { kServed, kRefusedAtConnect, kRefusedAtRequest };
    struct Case {
        bool secure;
        int type;
        bool authenticating;
        bool login;
        Outcome outcome;
    };
    const Case cases[] = {
        {false, HTTP_PROXY_CERN, false, false, kServed},
        {true, HTTP_PROXY_CERN, false, false, kServed},
        {true, HTTP_PROXY_TUNNEL, false, false, kServed},
        {false, HTTP_PROXY_TUNNEL, false, false, kServed},
        {false, HTTP_PROXY_CERN, true, false, kRefusedAtRequest},
        {false, HTTP_PROXY_CERN, true, true, kServed},
        {true, HTTP_PROXY_CERN, true, false, kRefusedAtConnect},
        {true, HTTP_PROXY_CERN, true, true, kServed},
        {true, HTTP_PROXY_TUNNEL, true, false, kRefusedAtConnect},
        {true, HTTP_PROXY_TUNNEL, true, true, kServed},
    };
    const std::string user = Setting("FT_TEST_PROXY_USER");
    const std::string password = Setting("FT_TEST_PROXY_PASSWORD");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.secure ? "https" : "http") +
                     (c.type == HTTP_PROXY_CERN ? " CERN" : " tunnel") +
                     (c.authenticating ? " authenticating" : "") + (c.login ? " login" : ""));
        if (c.authenticating && authProxyPort_.empty()) continue;
        const ProxyLog log;
        const std::string& port = c.secure ? httpsPort_ : httpPort_;
        const HttpClient client =
            Open(port, Secure(c.secure), c.type, c.authenticating ? authProxyPort_ : proxyPort_,
                 c.login ? user.c_str() : nullptr, c.login ? password.c_str() : nullptr);
        if (skipped_) GTEST_SKIP() << "the proxy is not running";
        if (c.outcome == kRefusedAtConnect) {
            EXPECT_EQ(client, INVALID_HTTP_CLIENT);
            EXPECT_EQ(HttpGetLastError(), MakeErrorCode(fileErrorProxyAuthenticationRequired));
            continue;
        }
        if (client == INVALID_HTTP_CLIENT && !InCi() &&
            HttpGetLastError() == MakeErrorCode(fileErrorAccessDenied)) {
            continue;  // a tinyproxy started before its configuration allowed CONNECT to HTTP
        }
        ASSERT_NE(client, INVALID_HTTP_CLIENT) << std::hex << HttpGetLastError();
        if (c.outcome == kRefusedAtRequest) {
            EXPECT_TRUE(FailsWith(fileErrorProxyAuthenticationRequired,
                                  HttpSendRequest(client, "GET", "/hello.txt")));
        } else {
            if (c.secure) {
                EXPECT_EQ(CertificateStatus(client), 1u);
            }
            EXPECT_EQ(Get(client, "/hello.txt"), "Hello, world!\n");
            EXPECT_TRUE(SameBytes(Get(client, "/long.txt"), ReadFile(root_ + "/long.txt")));
        }
        EXPECT_EQ(HttpDisconnect(client), 0);
        if (!c.authenticating) {
            EXPECT_EQ(log.Since().find("CONNECT 127.0.0.1:" + port) != std::string::npos,
                      c.secure || c.type == HTTP_PROXY_TUNNEL)
                << log.Since();
        }
    }
}

// Proxy type 3 takes the route from the user's settings file: through the
// proxy it names (CERN-style for http://, a tunnel for https://), or direct
// for a host of the bypass list (then the proxy named is one that refuses
// every connection, so only the direct route can work). An automatic
// configuration script that nginx serves chooses the route per host; one that
// throws, one that never returns and one that cannot be fetched each leave the
// route direct, within the script's five seconds and the fetch's time-out.
TEST_F(HttpServerTest, TheSettingsFileOrItsScriptChoosesTheProxyOrTheDirectRoute) {
    ScratchFolder folder{"proxy-settings"};
    std::filesystem::create_directories(folder / "tollane");
    ScopedEnv config("XDG_CONFIG_HOME", folder.path().string());
    http::SetMachineSettingsFile((folder / "machine").string());
    const std::string tag = std::to_string(getpid());
    const std::string scripts[][2] = {
        {"route",
         "function FindProxyForURL(url, host) {\n"
         "  if (host == 'localhost') return 'PROXY 127.0.0.1:" +
             proxyPort_ + "; DIRECT';\n  return 'DIRECT';\n}\n"},
        {"throws", "function FindProxyForURL(url, host) { throw new Error('no'); }\n"},
        {"loops", "function FindProxyForURL(url, host) { for (;;) {} }\n"},
    };
    for (const auto& [name, text] : scripts)
        WriteFile(root_ + "/pac-" + name + "-" + tag + ".pac", text);
    auto proxies = [&](const std::string& port, const char* bypass) {
        const std::string proxy = "127.0.0.1:" + port;
        return "ProxyEnable=1\nProxyServer=http=" + proxy + ";https=" + proxy +
               "\nProxyOverride=" + bypass + "\n";
    };
    auto script = [&](const std::string& url) {
        return "ProxyEnable=0\nAutoConfigURL=" + url + "\n";
    };
    const std::string base = "http://127.0.0.1:" + httpPort_ + "/pac-";
    struct Case {
        std::string settings;
        const char* host;
        bool secure;
        bool viaProxy;
    };
    const Case cases[] = {
        {proxies(proxyPort_, ""), "127.0.0.1", false, true},
        {proxies(proxyPort_, ""), "127.0.0.1", true, true},
        {proxies("1", "127.0.0.1"), "127.0.0.1", false, false},
        {proxies("1", "*.test;<local>"), "127.0.0.1", true, false},
        {script(base + "route-" + tag + ".pac"), "localhost", false, true},
        {script(base + "route-" + tag + ".pac"), "127.0.0.1", false, false},
        {script(base + "throws-" + tag + ".pac"), "localhost", false, false},
        {script(base + "loops-" + tag + ".pac"), "localhost", false, false},
        {script("http://127.0.0.1:1/unreachable.pac"), "localhost", false, false},
    };
    int row = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings + "for " + c.host + (c.secure ? " over https" : ""));
        WriteFile((folder / "tollane" / "internet-settings").string(), c.settings);
        const std::string mark = "/hello.txt?route-" + tag + "-" + std::to_string(++row);
        const ProxyLog log;
        const auto start = std::chrono::steady_clock::now();
        const std::string& port = c.secure ? httpsPort_ : httpPort_;
        const HttpClient client =
            HttpConnect(HTTP_PROXY_WINDOWS, nullptr, 0, nullptr, nullptr, c.host, std::stoi(port),
                        20, Secure(c.secure), HTTP_VERSION_11, nullptr);
        ASSERT_NE(client, INVALID_HTTP_CLIENT) << std::hex << HttpGetLastError();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
        EXPECT_EQ(Get(client, mark.c_str()), "Hello, world!\n");
        EXPECT_EQ(HttpDisconnect(client), 0);
        const std::string seen = c.secure ? "CONNECT 127.0.0.1:" + port : mark;
        EXPECT_EQ(log.Since().find(seen) != std::string::npos, c.viaProxy) << log.Since();
    }
    for (const auto& [name, text] : scripts)
        std::remove((root_ + "/pac-" + name + "-" + tag + ".pac").c_str());
    http::SetMachineSettingsFile("");
}

TEST_F(HttpServerTest, A64MiBFileGoesUpAndComesBackByteExactOverHttpAndHttps) {
    ScratchFolder folder{"httpx"};
    const std::string source = (folder / "source.bin").string();
    const std::string noise = NoiseBytes(kLargeSize);
    const std::string expected = Sha256Hex(noise);
    WriteFile(source, noise);
    for (const bool secure : {false, true}) {
        SCOPED_TRACE(secure ? "https" : "http");
        OPEN_OR_SKIP(client, secure ? httpsPort_ : httpPort_, Secure(secure));
        const std::string remote = DavName(secure ? "large-s.bin" : "large.bin");
        const std::string back = (folder / "back.bin").string();
        ASSERT_EQ(HttpPutFile(client, source.c_str(), remote.c_str()), 0)
            << (HttpGetLastError() & 0xFFFF);
        EXPECT_EQ(HttpGetResultCode(client), 201);
        EXPECT_EQ(Sha256Hex(ReadFile(root_ + remote)), expected);
        ASSERT_EQ(HttpGetFile(client, back.c_str(), remote.c_str(), 0), 0)
            << (HttpGetLastError() & 0xFFFF);
        EXPECT_EQ(Sha256Hex(ReadFile(back)), expected);
        HttpTransferStatus status{};
        ASSERT_EQ(HttpGetTransferStatus(client, &status), 1);
        EXPECT_EQ(status.bytesCopied, kLargeSize);

        // A restart fetches only the rest.
        WriteFile(back, noise.substr(0, 1000003));
        ASSERT_EQ(HttpGetFile(client, back.c_str(), remote.c_str(), 1000003), 0)
            << (HttpGetLastError() & 0xFFFF);
        EXPECT_EQ(HttpGetResultCode(client), 206);
        EXPECT_EQ(Sha256Hex(ReadFile(back)), expected);
        ASSERT_EQ(HttpGetTransferStatus(client, &status), 1);
        EXPECT_EQ(status.bytesCopied, kLargeSize);  // the part that was there counts
        // Size, verify and delete are control_http_test.cpp's, on both schemes.
        std::remove((root_ + remote).c_str());
        HttpDisconnect(client);
    }
}

// Asked for by the caller's own header, gzip comes as it is (in chunks); asked
// for by the engine, it arrives decoded in memory and on disk.
TEST_F(HttpServerTest, GzipBodiesArriveAsAskedFor) {
    OPEN_OR_SKIP(client, httpPort_);
    ScratchFolder folder{"httpx"};
    const std::string original = ReadFile(root_ + "/long.txt");
    ASSERT_EQ(HttpSetRequestHeader(client, "Accept-Encoding", "gzip"), 0);
    const std::string zipped = Get(client, "/long.txt");
    ASSERT_GT(zipped.size(), 2u);
    EXPECT_EQ(zipped.substr(0, 2), "\x1F\x8B");
    EXPECT_LT(zipped.size(), original.size());
    ASSERT_EQ(HttpSetRequestHeader(client, "Accept-Encoding", nullptr), 0);
    HGLOBAL block = nullptr;
    DWORD length = 0;
    ASSERT_EQ(HttpGetData(client, "/long.txt", &block, &length, HTTP_GETDATA_COMPRESS), 0)
        << (HttpGetLastError() & 0xFFFF);
    char encoding[16] = {};
    int size = sizeof encoding;
    ASSERT_EQ(HttpGetResponseHeader(client, "Content-Encoding", encoding, &size), 1);
    EXPECT_STREQ(encoding, "gzip");
    EXPECT_EQ(TakeBlock(block, length), original);
    ASSERT_EQ(HttpEnableCompression(client, TRUE), 0);
    const std::string path = (folder / "long.txt").string();
    ASSERT_EQ(HttpGetFile(client, path.c_str(), "/long.txt", 0), 0)
        << (HttpGetLastError() & 0xFFFF);
    EXPECT_EQ(ReadFile(path), original);
    HttpDisconnect(client);
}

TEST_F(HttpServerTest, AMultipartPostArrivesAsSent) {
    OPEN_OR_SKIP(client, httpPort_);
    ScratchFolder folder{"httpx"};
    const std::string file = (folder / "form data.bin").string();
    const std::string content = NoiseBytes(100000);
    WriteFile(file, content);
    EXPECT_TRUE(FailsWith(fileErrorOptionNotSupported,
                          HttpPostFile(client, file.c_str(), "/post-sink", "upload", 1)));
    ASSERT_EQ(HttpPostFile(client, file.c_str(), "/post-sink", "upload", 0), 0)
        << (HttpGetLastError() & 0xFFFF);
    EXPECT_EQ(HttpGetResultCode(client), 200);
    char stored[512] = {};
    int length = sizeof stored;
    ASSERT_EQ(HttpGetResponseHeader(client, "X-Body-File", stored, &length), 1);
    const std::string body = ReadFile(stored);
    std::remove(stored);
    const std::size_t headerEnd = body.find("\r\n\r\n");
    ASSERT_NE(headerEnd, std::string::npos);
    const std::string boundary = body.substr(2, body.find("\r\n") - 2);
    EXPECT_EQ(boundary.rfind("----=_TL7210_", 0), 0u) << boundary;
    EXPECT_EQ(body.find("\r\nContent-Disposition: form-data; name=\"upload\"; filename=\"" + file +
                        "\"\r\nContent-Type: application/octet-stream\r\n"
                        "Content-Transfer-Encoding: 8bit\r\n\r\n"),
              body.find("\r\n"))
        << body.substr(0, headerEnd);
    EXPECT_TRUE(body.substr(headerEnd + 4, content.size()) == content);
    EXPECT_EQ(body.substr(headerEnd + 4 + content.size()), "\r\n--" + boundary + "--\r\n");
    HttpTransferStatus status{};
    ASSERT_EQ(HttpGetTransferStatus(client, &status), 1);
    EXPECT_EQ(status.bytesCopied, content.size());
    HttpDisconnect(client);
}

}  // namespace
