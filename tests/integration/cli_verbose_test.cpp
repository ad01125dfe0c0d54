// -v and the proxies of the environment through the command line against the
// loopback servers: what the transcript shows, that no secret is in it, and
// which proxy (if any) each URL went through.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/cli_run.h"
#include "support/server_settings.h"
#include "support/test_files.h"

namespace {

struct VerboseCase {
    const char* name;
    const char* scheme;  // ftp, http, https, sftp
    const char* portSetting;
    const char* path;
    const char* httpProxy;  // http_proxy and https_proxy: "" unset, "auth" the proxy with a login
    const char* noProxy;    // NO_PROXY
    std::vector<std::string> options;
    std::vector<std::string> expected;  // lines (or line starts) of the transcript, in order
    std::vector<std::string> absent;    // texts that must not be in it
};

std::string ProxyUrl(const std::string& kind) {
    if (kind.empty()) return {};
    if (kind == "plain") return "http://127.0.0.1:" + Setting("FT_TEST_PROXY_PORT");
    return "http://" + Setting("FT_TEST_PROXY_USER") + ":" + Setting("FT_TEST_PROXY_PASSWORD") +
           "@127.0.0.1:" + Setting("FT_TEST_PROXY_AUTH_PORT");
}

// The first of expected that does not start a line of text after the line
// the one before it started ("" when all do, in order).
std::string MissingLine(const std::string& text, const std::vector<std::string>& expected) {
    const std::string lines = "\n" + text;
    std::size_t from = 0;
    for (const std::string& line : expected) {
        const std::size_t at = lines.find("\n" + line, from);
        if (at == std::string::npos) return line;
        from = at + 1;
    }
    return {};
}

void PrintTo(const VerboseCase& c, std::ostream* out) {
    *out << c.name;
}

class VerboseTest : public ::testing::TestWithParam<VerboseCase> {};

TEST_P(VerboseTest, ShowsTheExchangeWithoutSecrets) {
    const VerboseCase& c = GetParam();
    REQUIRE_SERVER_SETTINGS("FT_TEST_USER", "FT_TEST_PASSWORD", c.portSetting, "FT_TEST_PROXY_PORT",
                            "FT_TEST_PROXY_AUTH_PORT", "FT_TEST_CA_FILE",
                            "FT_TEST_SSH_KNOWN_HOSTS");
    const std::string password = Setting("FT_TEST_PASSWORD");
    const std::string proxy = ProxyUrl(c.httpProxy);
    ScopedEnv http("http_proxy", proxy.empty() ? nullptr : proxy.c_str());
    ScopedEnv https("https_proxy", proxy.empty() ? nullptr : proxy.c_str());
    ScopedEnv all("ALL_PROXY", nullptr), allLower("all_proxy", nullptr);
    ScopedEnv upper("HTTPS_PROXY", nullptr), noLower("no_proxy", nullptr);
    ScopedEnv noProxy("NO_PROXY", *c.noProxy ? c.noProxy : nullptr);
    ScopedEnv trust("SSL_CERT_FILE", Setting("FT_TEST_CA_FILE"));
    std::vector<std::string> words = {"--set",
                                      "Timeout=10",
                                      "size",
                                      "-v",
                                      "-q",
                                      "--known-hosts",
                                      Setting("FT_TEST_SSH_KNOWN_HOSTS")};
    for (const std::string& option : c.options)
        words.push_back(option == "plain" ? ProxyUrl(option) : option);
    words.push_back(std::string(c.scheme) + "://" + Setting("FT_TEST_USER") + ":" + password +
                    "@127.0.0.1:" + Setting(c.portSetting) + c.path);
    const RunResult run = RunCli(words);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(MissingLine(run.err, c.expected), "") << run.err;
    std::vector<std::string> secrets = c.absent;
    secrets.push_back(password);
    secrets.push_back(Setting("FT_TEST_PROXY_PASSWORD"));
    secrets.push_back("Basic ");
    for (const std::string& secret : secrets)
        EXPECT_EQ(run.err.find(secret), std::string::npos) << secret << " in\n" << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Servers, VerboseTest,
    ::testing::Values(
        // FTP goes direct whatever http_proxy says.
        VerboseCase{"Ftp",
                    "ftp",
                    "FT_TEST_FTP_PORT",
                    "/hello.txt",
                    "auth",
                    "",
                    {},
                    {"< 220", "> USER ", "< 331", "> PASS ****", "< 230", "> SIZE ", "< 213 "},
                    {"* proxy"}},
        VerboseCase{
            "HttpThroughTheProxysLogin",
            "http",
            "FT_TEST_HTTP_PORT",
            "/hello.txt",
            "auth",
            "",
            {},
            {"* proxy 127.0.0.1:", "> HEAD http://127.0.0.1:", "> Proxy-Authorization: ****",
             "> Authorization: ****", "< HTTP/1.1 200", "< Content-Length: 14"},
            {}},
        VerboseCase{"HttpsThroughATunnel",
                    "https",
                    "FT_TEST_HTTPS_PORT",
                    "/hello.txt",
                    "plain",
                    "",
                    {},
                    {"* proxy 127.0.0.1:", "> CONNECT 127.0.0.1:", "< HTTP/1.",
                     "* TLS session: TLS", "* server certificate subject: ",
                     "* server certificate issuer: ", "> HEAD ", "< HTTP/1.1 200"},
                    {}},
        VerboseCase{"NoProxyExemptsTheHost",
                    "http",
                    "FT_TEST_HTTP_PORT",
                    "/hello.txt",
                    "auth",
                    "example.test, 127.0.0.1",
                    {},
                    {"> HEAD /hello.txt HTTP/1.1"},
                    {"* proxy"}},
        VerboseCase{"AnEmptyProxyOptionGoesDirect",
                    "http",
                    "FT_TEST_HTTP_PORT",
                    "/hello.txt",
                    "auth",
                    "",
                    {"--proxy", ""},
                    {"> HEAD /hello.txt HTTP/1.1"},
                    {"* proxy"}},
        VerboseCase{"TheProxyOptionWins",
                    "http",
                    "FT_TEST_HTTP_PORT",
                    "/hello.txt",
                    "auth",
                    "",
                    {"--proxy", "plain"},
                    {"* proxy 127.0.0.1:", "> HEAD http://127.0.0.1:"},
                    {"Proxy-Authorization", "(http_proxy)"}},
        VerboseCase{"Sftp",
                    "sftp",
                    "FT_TEST_SFTP_PORT",
                    "/hello.txt",
                    "",
                    "",
                    {},
                    {"* SSH server: SSH-2.0-", "* SSH algorithms: ", "* SSH host key: SHA256:"},
                    {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
