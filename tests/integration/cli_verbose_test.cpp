// -v and the proxies of the environment through the command line against the
// loopback servers: what the transcript shows, that no secret is in it, and
// which proxy (if any) each URL went through.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "support/cli_run.h"
#include "support/server_settings.h"
#include "support/test_files.h"

namespace {

// "plain" is the proxy without a login, "auth" the one with; "" none.
std::string ProxyUrl(const std::string& kind) {
    if (kind == "plain") return "http://127.0.0.1:" + Setting("FT_TEST_PROXY_PORT");
    if (kind != "auth") return kind;
    return "http://" + Setting("FT_TEST_PROXY_USER") + ":" + Setting("FT_TEST_PROXY_PASSWORD") +
           "@127.0.0.1:" + Setting("FT_TEST_PROXY_AUTH_PORT");
}

// The parts of a text between '|' marks (none in an empty text).
std::vector<std::string> Parts(const std::string& text) {
    std::vector<std::string> parts;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('|', at), text.size());
        parts.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

// The first of the expected lines that does not start a line of text after the
// line the one before it started ("" when all do, in order).
std::string MissingLine(const std::string& text, const std::string& expected) {
    const std::string lines = "\n" + text;
    std::size_t from = 0;
    for (const std::string& line : Parts(expected)) {
        const std::size_t at = lines.find("\n" + line, from);
        if (at == std::string::npos) return line;
        from = at + 1;
    }
    return {};
}

TEST(VerboseTest, ShowsTheExchangeWithoutSecretsThroughTheChosenProxy) {
    REQUIRE_SERVER_SETTINGS("FT_TEST_USER", "FT_TEST_PASSWORD", "FT_TEST_FTP_PORT",
                            "FT_TEST_HTTP_PORT", "FT_TEST_HTTPS_PORT", "FT_TEST_SFTP_PORT",
                            "FT_TEST_PROXY_PORT", "FT_TEST_PROXY_AUTH_PORT", "FT_TEST_CA_FILE",
                            "FT_TEST_SSH_KNOWN_HOSTS");
    struct Case {
        const char* scheme;            // its server's port is FT_TEST_<SCHEME>_PORT
        const char* environmentProxy;  // http_proxy and https_proxy
        const char* noProxy;           // NO_PROXY
        const char* proxyOption;       // --proxy, or nullptr
        const char* expected;          // line starts, in order, between '|'
        const char* absent;            // between '|'
    };
    const Case cases[] = {
        // FTP goes direct whatever http_proxy says.
        {"ftp", "auth", "", nullptr, "< 220|> USER |< 331|> PASS ****|< 230|> SIZE |< 213 ",
         "* proxy"},
        {"http", "auth", "", nullptr,
         "* proxy 127.0.0.1:|> HEAD http://127.0.0.1:|> Proxy-Authorization: ****|"
         "> Authorization: ****|< HTTP/1.1 200|< Content-Length: 14",
         ""},
        {"https", "plain", "", nullptr,
         "* proxy 127.0.0.1:|> CONNECT 127.0.0.1:|< HTTP/1.|* TLS session: TLS|"
         "* server certificate subject: |* server certificate issuer: |> HEAD |< HTTP/1.1 200",
         ""},
        {"http", "auth", "example.test, 127.0.0.1", nullptr, "> HEAD /hello.txt HTTP/1.1",
         "* proxy"},
        {"https", "plain", "127.0.0.1", nullptr, "> HEAD /hello.txt HTTP/1.1", "* proxy"},
        {"http", "auth", "", "", "> HEAD /hello.txt HTTP/1.1", "* proxy"},
        {"http", "auth", "", "plain",
         "* proxy 127.0.0.1:|> HEAD http://127.0.0.1:", "Proxy-Authorization|(http_proxy)"},
        {"sftp", "", "", nullptr,
         "* SSH server: SSH-2.0-|* SSH algorithms: |* SSH host key: SHA256:", ""},
    };
    const std::string password = Setting("FT_TEST_PASSWORD");
    ScopedEnv all("ALL_PROXY", nullptr), allLower("all_proxy", nullptr);
    ScopedEnv upper("HTTPS_PROXY", nullptr), noLower("no_proxy", nullptr);
    ScopedEnv trust("SSL_CERT_FILE", Setting("FT_TEST_CA_FILE"));
    for (const Case& c : cases) {
        const std::string proxy = ProxyUrl(c.environmentProxy);
        SCOPED_TRACE(std::string(c.scheme) + " proxy " + proxy + " no_proxy " + c.noProxy);
        ScopedEnv http("http_proxy", proxy.empty() ? nullptr : proxy.c_str());
        ScopedEnv https("https_proxy", proxy.empty() ? nullptr : proxy.c_str());
        ScopedEnv noProxy("NO_PROXY", *c.noProxy ? c.noProxy : nullptr);
        std::vector<std::string> words = {"--set",
                                          "Timeout=10",
                                          "size",
                                          "-v",
                                          "-q",
                                          "--known-hosts",
                                          Setting("FT_TEST_SSH_KNOWN_HOSTS")};
        if (c.proxyOption) words.insert(words.end(), {"--proxy", ProxyUrl(c.proxyOption)});
        std::string port = std::string("FT_TEST_") + c.scheme + "_PORT";
        for (char& letter : port)
            letter = static_cast<char>(std::toupper(letter));
        words.push_back(std::string(c.scheme) + "://" + Setting("FT_TEST_USER") + ":" + password +
                        "@127.0.0.1:" + Setting(port) + "/hello.txt");
        const RunResult run = ExpectOk(RunCli(words));
        EXPECT_EQ(MissingLine(run.err, c.expected), "") << run.err;
        std::vector<std::string> secrets = Parts(c.absent);
        secrets.insert(secrets.end(), {password, Setting("FT_TEST_PROXY_PASSWORD"), "Basic "});
        for (const std::string& secret : secrets)
            EXPECT_EQ(run.err.find(secret), std::string::npos) << secret << " in\n" << run.err;
    }
}

}  // namespace
