#include "http/url.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "http/url_test_helpers.h"

namespace {

struct FreeHttpUrl {
    void operator()(HttpUrlRecord* record) const { HttpFreeUrl(record); }
};
using HttpUrl = std::unique_ptr<HttpUrlRecord, FreeHttpUrl>;

HttpUrl Parse(const char* text) {
    HttpUrlRecord* record = nullptr;
    int result = HttpParseUrl(text, &record);
    EXPECT_EQ(result == 1, record != nullptr) << text;
    return HttpUrl(record);
}

std::string Text(const char* text) {
    return text == nullptr ? "(null)" : text;
}

HttpUrlRecord MakeRecord(int scheme, int port, const char* host, const char* path = nullptr,
                         const char* query = nullptr, const char* user = nullptr,
                         const char* password = nullptr) {
    return HttpUrlRecord{scheme,
                         port,
                         const_cast<char*>(host),
                         const_cast<char*>(path),
                         const_cast<char*>(query),
                         const_cast<char*>(user),
                         const_cast<char*>(password)};
}

std::string Compose(const HttpUrlRecord& record) {
    return ComposeExactly(HttpComposeUrl, record);
}

std::string Normalized(const char* path) {
    ExactText text(path);
    EXPECT_EQ(HttpNormalizePath(text.get()), text.get());
    return text.get();
}

}  // namespace

// A known scheme's name, or a prefix of it, followed by a colon.
TEST(HttpIsUrl, KnownSchemesFollowedByAColon) {
    EXPECT_EQ(HttpIsUrl("http://example.com/"), HTTP_SCHEME_HTTP);
    EXPECT_EQ(HttpIsUrl("  \tHTTPS://h"), HTTP_SCHEME_HTTPS);
    EXPECT_EQ(HttpIsUrl("Ht:x"), HTTP_SCHEME_HTTP);
    EXPECT_EQ(HttpIsUrl(":"), HTTP_SCHEME_HTTP);
    for (const char* text : {"", "   ", "ftp://h/", "httpx://h", "https//h", "http", "hx:", "/path",
                             "example.com", "h ttp://x", static_cast<const char*>(nullptr)})
        EXPECT_EQ(HttpIsUrl(text), HTTP_SCHEME_NONE) << (text ? text : "null");
}

// "scheme port host user:password path ?query" of a parsed record, null parts
// shown as (null).
std::string Parts(const HttpUrlRecord& url) {
    return std::to_string(url.scheme) + " " + std::to_string(url.port) + " " + Text(url.host) +
           " " + Text(url.user) + ":" + Text(url.password) + " " + Text(url.path) + " ?" +
           Text(url.query);
}

TEST(HttpParseUrl, SplitsTheParts) {
    struct Case {
        const char* text;
        const char* parts;
    } cases[] = {
        {"https://user:secret@[::1]:8443/a/../b?x=1", "2 8443 ::1 user:secret /b ?x=1"},
        // Without a scheme a text is plain HTTP.
        {"example/path", "1 80 example (null):(null) /path ?(null)"},
        {"u@example/x", "1 80 example u:(null) /x ?(null)"},
        {"  example.com", "1 80 example.com (null):(null) / ?(null)"},
        // Absent parts are null, but the path defaults to the root.
        {"http://h", "1 80 h (null):(null) / ?(null)"},
        {"http://h/p?", "1 80 h (null):(null) /p ?(null)"},
        {"http:///p", "1 80 (null) (null):(null) /p ?(null)"},
        // User information splits at its first colon and at the last "@".
        {"http://u:p:q@h/", "1 80 h u:p:q / ?(null)"},
        {"http://:pw@h/", "1 80 h (null):pw / ?(null)"},
        {"http://me@mail.example:p@ss@h/", "1 80 h me@mail.example:p@ss / ?(null)"},
        // The query is not normalised.
        {"http://h/a/./b?next=/x/../y", "1 80 h (null):(null) /a/b ?next=/x/../y"},
    };
    for (const Case& c : cases) {
        HttpUrl url = Parse(c.text);
        ASSERT_TRUE(url) << c.text;
        EXPECT_EQ(Parts(*url), c.parts) << c.text;
    }
}

TEST(HttpParseUrl, PortOutsideRangeKeepsSchemeDefault) {
    struct Case {
        const char* text;
        int port;
    } cases[] = {
        {"http://h/", 80},       {"https://h/", 443},        {"http://h:8080/", 8080},
        {"https://h:1/", 1},     {"http://h:65535/", 65535}, {"http://h:65536/", 80},
        {"https://h:0/", 443},   {"http://h:/", 80},         {"http://h:99999999999999999999/", 80},
        {"http://[::1]:81", 81}, {"HtTp://h:00081", 81},
    };
    for (const Case& c : cases) {
        HttpUrl url = Parse(c.text);
        ASSERT_TRUE(url) << c.text;
        EXPECT_EQ(url->port, c.port) << c.text;
        EXPECT_NE(url->host, nullptr) << c.text;
    }
}

TEST(HttpParseUrl, MalformedTextsFailAndClearTheRecord) {
    for (const char* text :
         {"", "   ", "\t\r\n", "host:80/x", "http:/x", "http:x", "gopher://h/", "ftp://h/", "://h/",
          "http://[::1/x", "http://[::1]x/", "http://[not-v6]/", "http://[]/", "http://h:8a/",
          "http://h:-1/", "http://h: 80/", "http://h:+80/", "h/a:b", "[h/x"}) {
        HttpUrlRecord* record = reinterpret_cast<HttpUrlRecord*>(&record);
        EXPECT_EQ(HttpParseUrl(text, &record), 0) << '"' << text << '"';
        EXPECT_EQ(record, nullptr) << text;
    }
    HttpUrlRecord* record = nullptr;
    EXPECT_EQ(HttpParseUrl(nullptr, &record), 0);
    EXPECT_EQ(HttpParseUrl("http://h/", nullptr), 0);
}

TEST(HttpParseUrl, RecordOwnsItsTexts) {
    std::string text = "http://u:p@host/dir/file?q=1";
    HttpUrl url = Parse(text.c_str());
    ASSERT_TRUE(url);
    text.assign(text.size(), 'X');
    EXPECT_EQ(Text(url->host), "host");
    EXPECT_EQ(Text(url->path), "/dir/file");
    EXPECT_EQ(Text(url->query), "q=1");
    EXPECT_EQ(Text(url->user), "u");
    EXPECT_EQ(Text(url->password), "p");
}

TEST(HttpComposeUrl, WritesTheCanonicalText) {
    constexpr int kHttp = HTTP_SCHEME_HTTP;
    const std::pair<HttpUrlRecord, const char*> cases[] = {
        // Default and zero ports are left out.
        {MakeRecord(kHttp, 80, "h", "/x"), "http://h/x"},
        {MakeRecord(kHttp, 8080, "h", "/x"), "http://h:8080/x"},
        {MakeRecord(HTTP_SCHEME_HTTPS, 80, "h", "/"), "https://h:80/"},
        {MakeRecord(kHttp, 0, "h", "/"), "http://h/"},
        // Only IPv6 hosts are bracketed.
        {MakeRecord(kHttp, 8080, "::1", "/"), "http://[::1]:8080/"},
        {MakeRecord(kHttp, 80, "::1%lo", "/"), "http://[::1%lo]/"},
        {MakeRecord(kHttp, 80, "127.0.0.2", "/"), "http://127.0.0.2/"},
        {MakeRecord(kHttp, 80, "[::1]", "/"), "http://[::1]/"},
        // User information only with a user name.
        {MakeRecord(kHttp, 80, "h", "/", nullptr, "u", "p"), "http://u:p@h/"},
        {MakeRecord(kHttp, 80, "h", "/", nullptr, "u", ""), "http://u@h/"},
        {MakeRecord(kHttp, 80, "h", "/", nullptr, nullptr, "p"), "http://h/"},
        {MakeRecord(kHttp, 80, "h", "/", nullptr, "anonymous", "p"), "http://anonymous:p@h/"},
        // The path is rooted and normalised, the query appended.
        {MakeRecord(kHttp, 80, "h"), "http://h/"},
        {MakeRecord(kHttp, 80, "h", "a/b"), "http://h/a/b"},
        {MakeRecord(kHttp, 80, "h", "/a/./b/../c"), "http://h/a/c"},
        {MakeRecord(kHttp, 80, "h", "/s", "q=1&r"), "http://h/s?q=1&r"},
        {MakeRecord(kHttp, 80, "h", "/s", ""), "http://h/s"},
        // Incomplete records compose nothing.
        {MakeRecord(HTTP_SCHEME_NONE, 80, "h", "/"), ""},
        {MakeRecord(kHttp, 80, nullptr, "/"), ""},
    };
    for (const auto& [record, url] : cases)
        EXPECT_EQ(Compose(record), url);
    char buffer[64];
    EXPECT_EQ(HttpComposeUrl(nullptr, buffer, sizeof buffer), 0);
}

TEST(HttpComposeUrl, FailsWithoutRoomForTextAndNul) {
    HttpUrlRecord record = MakeRecord(HTTP_SCHEME_HTTP, 8080, "host", "/p", "q");
    EXPECT_EQ(Compose(record), "http://host:8080/p?q");  // and not into one byte less
    char buffer[64];
    EXPECT_EQ(HttpComposeUrl(&record, buffer, 0), 0);
    EXPECT_EQ(HttpComposeUrl(&record, buffer, -5), 0);
    EXPECT_EQ(HttpComposeUrl(&record, nullptr, 100), 0);
}

TEST(HttpNormalizePath, RemovesDotSegmentsFollowedBySeparator) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"/a/./b", "/a/b"},
        {"/a/b/../c", "/a/c"},
        {"/x/../../y", "/y"},
        {"./a", "/a"},
        {"/a/b/c/.../d", "/a/d"},
        {"/a\\.\\b", "/a\\b"},
        {"/a/b\\..\\c", "/a\\c"},
        {"/a//../b", "/a/b"},
        {"\\x/../y", "\\y"},
        // Trailing dots and dotted names stay.
        {"/a/.", "/a/."},
        {"/a/..", "/a/.."},
        {"..", ".."},
        {"/a.b/c..d/.e/f.", "/a.b/c..d/.e/f."},
        {"/a./b", "/a./b"},
        {"/..a/b", "/..a/b"},
        {"/a../b", "/a../b"},
        {"", ""},
        {"//", "//"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Normalized(c.in), c.out) << c.in;
    EXPECT_EQ(HttpNormalizePath(nullptr), nullptr);
}
