#include "pac/pac.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <string>

namespace {

// What the test scripts share: the day and month names, and the time now.
constexpr const char* kPrelude = R"js(
var days = ['SUN', 'MON', 'TUE', 'WED', 'THU', 'FRI', 'SAT'];
var months = ['JAN', 'FEB', 'MAR', 'APR', 'MAY', 'JUN', 'JUL', 'AUG', 'SEP', 'OCT', 'NOV', 'DEC'];
var now = new Date();
)js";

struct Row {
    const char* expression;  // the value FindProxyForURL returns, as a string
    const char* expected;
    const char* host = "svc.localhost";
};

// One script per row: FindProxyForURL returns String(expression).
pac::Evaluation Ask(const Row& row, int timeoutMs = 5000) {
    std::string script = std::string(kPrelude) +
                         "function FindProxyForURL(url, host) { return String(" + row.expression +
                         "); }";
    std::string url = std::string("http://") + row.host + "/path/file.txt";
    return pac::FindProxyForUrl(script, url, row.host, timeoutMs);
}

const Row kHelperRows[] = {
    // Patterns: * and ? match anything, every other character only itself.
    {"shExpMatch(url, 'http://*.localhost/*')", "true"},
    {"shExpMatch(host, 'svc?.localhost')", "true", "svc1.localhost"},
    {"shExpMatch(host, 'svc?.localhost')", "false", "svc12.localhost"},
    {"shExpMatch('axb', 'a.b')", "false"},
    {"shExpMatch('a+b(c)', 'a+b(*)')", "true"},
    // Domains and host names.
    {"dnsDomainIs(host, '.localhost')", "true", "svc.build.localhost"},
    {"dnsDomainIs(host, '.localhost')", "false", "localhost"},
    {"dnsDomainIs('SVC.LocalHost', '.localhost')", "true"},
    {"dnsDomainLevels(host)", "2", "svc.build.localhost"},
    {"dnsDomainLevels(host)", "0", "localhost"},
    {"isPlainHostName(host)", "true", "svc"},
    {"isPlainHostName(host)", "false"},
    {"localHostOrDomainIs('svc', 'svc.localhost')", "true"},
    {"localHostOrDomainIs('svc.localhost', 'svc.localhost')", "true"},
    {"localHostOrDomainIs('svc.other.localhost', 'svc.localhost')", "false"},
    {"localHostOrDomainIs('sv', 'svc.localhost')", "false"},
    // Names and addresses.
    {"dnsResolve('localhost')", "127.0.0.1"},
    {"dnsResolve('127.0.0.2')", "127.0.0.2"},
    {"dnsResolve('')", "null"},
    {"isResolvable('localhost') && !isResolvable('')", "true"},
    {"dnsResolveEx('::1') + ',' + dnsResolveEx('127.0.0.2')", "::1,127.0.0.2"},
    {"isResolvableEx('::1') && !isResolvableEx('')", "true"},
    {"isInNet(host, '127.1.0.0', '255.255.0.0')", "true", "127.1.2.3"},
    {"isInNet(host, '127.1.0.0', '255.255.0.0')", "false", "127.2.0.1"},
    {"isInNet(host, '127.0.0.1', '255.255.255.255')", "true", "127.0.0.1"},
    {"isInNet(host, '127.0.0.0', '255.0.0.0')", "true", "localhost"},
    {"isInNet(host, '127.0.0.0', '255.0.0.0')", "false", ""},
    {"isInNetEx(host, '127.0.0.0/24')", "true", "127.0.0.5"},
    {"isInNetEx(host, '127.0.0.0/24')", "false", "127.0.1.5"},
    {"isInNetEx(host, '::/127')", "true", "::1"},
    {"isInNetEx(host, '::/128')", "false", "::1"},
    {"isInNetEx(host, '::ffff:127.0.0.0/120')", "true", "::ffff:127.0.0.9"},
    {"sortIpAddressList('127.0.0.10;::1;127.0.0.2')", "::1;127.0.0.2;127.0.0.10"},
    {"sortIpAddressList('127.0.0.1;localhost')", ""},
    {"/^\\d+(\\.\\d+){3}$/.test(myIpAddress())", "true"},
    {"/^[0-9a-f.:]+(;[0-9a-f.:]+)*$/i.test(myIpAddressEx())", "true"},
    {"getClientVersion()", "1.0"},
    {"alert('note') === undefined", "true"},
    // Days, dates and times: full ranges always match, today's value matches
    // alone, the next one alone does not, and a range wraps around to today.
    {"weekdayRange('SUN', 'SAT') && weekdayRange('SAT', 'FRI', 'GMT')", "true"},
    {"weekdayRange(days[now.getDay()])", "true"},
    {"weekdayRange(days[now.getUTCDay()], 'GMT')", "true"},
    {"weekdayRange(days[(now.getDay() + 1) % 7])", "false"},
    {"weekdayRange(days[(now.getDay() + 1) % 7], days[now.getDay()])", "true"},
    {"dateRange(1, 31) && dateRange('JAN', 'DEC') && dateRange(1000, 9999)", "true"},
    {"dateRange(1, 'JAN', 31, 'DEC') && dateRange('JAN', 1000, 'DEC', 9999, 'GMT')", "true"},
    {"dateRange(1, 'JAN', 1000, 31, 'DEC', 9999)", "true"},
    {"dateRange(now.getDate()) && dateRange(months[now.getMonth()])", "true"},
    {"dateRange(now.getFullYear()) && dateRange(months[now.getUTCMonth()], 'GMT')", "true"},
    {"dateRange(months[(now.getMonth() + 1) % 12])", "false"},
    {"dateRange(months[(now.getMonth() + 1) % 12], months[now.getMonth()])", "true"},
    {"dateRange(9999, 1000) || dateRange(1, 2, 3, 4) || dateRange('JAN', 1)", "false"},
    {"timeRange(0, 23) && timeRange(0, 0, 0, 23, 59, 59) && timeRange(0, 0, 23, 59, 'GMT')",
     "true"},
    {"timeRange(now.getHours()) && timeRange(now.getUTCHours(), 'GMT')", "true"},
    {"timeRange((now.getHours() + 1) % 24)", "false"},
    {"timeRange((now.getHours() + 1) % 24, now.getHours())", "true"},
    {"'PROXY 127.0.0.2:3128; DIRECT'", "PROXY 127.0.0.2:3128; DIRECT"},
};

TEST(ProxyScript, HelperFunctionsFollowTheirRules) {
    for (const Row& row : kHelperRows) {
        pac::Evaluation evaluation = Ask(row);
        EXPECT_EQ(evaluation.outcome, pac::Outcome::Answer)
            << row.expression << ": " << evaluation.detail;
        EXPECT_EQ(evaluation.answer, row.expected) << row.expression << " for " << row.host;
    }
}

struct FailureRow {
    const char* script;
    pac::Outcome outcome;
    const char* detail;  // a part of the detail
    int timeoutMs = 5000;
};

const FailureRow kFailureRows[] = {
    {"function FindProxyForURL(url, host) { return 'DIRECT'; ", pac::Outcome::ScriptError,
     "SyntaxError"},
    {"function FindProxyForURL(url, host) { throw new Error('no rule'); }",
     pac::Outcome::ScriptError, "no rule"},
    {"throw 'at the top';", pac::Outcome::ScriptError, "at the top"},
    {"function findProxyForUrl(url, host) { return 'DIRECT'; }", pac::Outcome::ScriptError,
     "FindProxyForURL"},
    {"var FindProxyForURL = 'DIRECT';", pac::Outcome::ScriptError, "FindProxyForURL"},
    {"function FindProxyForURL(url, host) { return 42; }", pac::Outcome::ScriptError, "number"},
    {"function FindProxyForURL(url, host) { }", pac::Outcome::ScriptError, "undefined"},
    {"function FindProxyForURL(url, host) { while (true) {} }", pac::Outcome::TimedOut, "500", 500},
    {"while (true) {}", pac::Outcome::TimedOut, "300", 300},
    {"var s = 'x'; while (true) s += s;", pac::Outcome::TooMuchMemory, "MiB"},
    {"var a = []; while (true) a.push({ n: a.length, t: 'item ' + a.length });",
     pac::Outcome::TooMuchMemory, "MiB"},
    {"function FindProxyForURL(url, host) { var s = 'x'; while (s.length < 1e6) s += s; "
     "return s; }",
     pac::Outcome::ScriptError, "longer"},
};

bool UnderSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
    return __has_feature(address_sanitizer);
#else
    return false;
#endif
}

long PeakKilobytes(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_maxrss;
}

TEST(ProxyScript, FailuresComeBackBoundedWithTheirOutcome) {
    for (const FailureRow& row : kFailureRows) {
        auto start = std::chrono::steady_clock::now();
        pac::Evaluation evaluation =
            pac::FindProxyForUrl(row.script, "http://localhost/", "localhost", row.timeoutMs);
        auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(evaluation.outcome, row.outcome) << row.script << ": " << evaluation.detail;
        EXPECT_NE(evaluation.detail.find(row.detail), std::string::npos)
            << row.script << ": " << evaluation.detail;
        EXPECT_TRUE(evaluation.answer.empty()) << row.script;
        EXPECT_LT(elapsed, std::chrono::milliseconds(row.timeoutMs + 1000)) << row.script;
    }
    // The scripts that grew without end were stopped at their heap's bound: no
    // child got far past this process's own size (which it starts with).
    if (!UnderSanitizer()) {
        EXPECT_LT(PeakKilobytes(RUSAGE_CHILDREN), PeakKilobytes(RUSAGE_SELF) + 48 * 1024);
    }
}

}  // namespace
