#include "ftp/ftpurl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "http/url_test_helpers.h"

namespace {

struct FreeFtpUrl {
    void operator()(FtpUrlRecord* record) const { FtpFreeUrl(record); }
};
using FtpUrl = std::unique_ptr<FtpUrlRecord, FreeFtpUrl>;

FtpUrl Parse(const char* text) {
    FtpUrlRecord* record = nullptr;
    int result = FtpParseUrl(text, &record);
    EXPECT_EQ(result == 1, record != nullptr) << text;
    return FtpUrl(record);
}

std::string Text(const char* text) {
    return text == nullptr ? "(null)" : text;
}

FtpUrlRecord MakeRecord(int scheme, int port, const char* host, const char* directory = nullptr,
                        const char* fileName = nullptr, const char* user = nullptr,
                        const char* password = nullptr) {
    return FtpUrlRecord{scheme,
                        port,
                        FTP_URL_TYPE_IMAGE,
                        const_cast<char*>(host),
                        const_cast<char*>(directory),
                        const_cast<char*>(fileName),
                        const_cast<char*>(user),
                        const_cast<char*>(password)};
}

std::string Compose(const FtpUrlRecord& record) {
    return ComposeExactly(FtpComposeUrl, record);
}

}  // namespace

// "scheme port type host user:password directory|fileName" of a parsed record,
// null parts shown as (null).
std::string Parts(const FtpUrlRecord& url) {
    return std::to_string(url.scheme) + " " + std::to_string(url.port) + " " +
           std::to_string(url.transferType) + " " + Text(url.host) + " " + Text(url.user) + ":" +
           Text(url.password) + " " + Text(url.directory) + "|" + Text(url.fileName);
}

TEST(FtpParseUrl, SplitsTheParts) {
    const std::pair<const char*, const char*> cases[] = {
        // The scheme gives the number and the default port (the port rules
        // shared with HTTP URLs are in tests/http/url_test.cpp).
        {"ftp://h/", "1 21 3 h (null):(null) |(null)"},
        {"ftps://h/", "2 21 3 h (null):(null) |(null)"},
        {"FtPs://h:990/", "2 990 3 h (null):(null) |(null)"},
        {"sftp://h/", "3 22 3 h (null):(null) |(null)"},
        {"ftp://[::1]:2121", "1 2121 3 ::1 (null):(null) |(null)"},
        // The path splits into directory and file name; the directory is never null.
        {"ftp://host", "1 21 3 host (null):(null) |(null)"},
        {"ftp://host/d/s/a.txt", "1 21 3 host (null):(null) d/s|a.txt"},
        {"ftp://host/d/", "1 21 3 host (null):(null) d/|(null)"},
        {"ftp://host//a", "1 21 3 host (null):(null) |a"},
        {"ftp://host/a/b/../c/./f.txt", "1 21 3 host (null):(null) a/c|f.txt"},
        {"ftp://host/x/../../y/z", "1 21 3 host (null):(null) y|z"},
        {"ftp://host/a\\.\\b/f", "1 21 3 host (null):(null) a\\b|f"},
        {"ftp://host/d/..", "1 21 3 host (null):(null) d|.."},
        // Dots that end a name count too: each removes one segment back.
        {"ftp://host/v1./a../b/c./f.", "1 21 3 host (null):(null) b|f."},
        {"host", "1 21 3 host (null):(null) |(null)"},
        {"  host/pub/a.txt", "1 21 3 host (null):(null) pub|a.txt"},
        // A type suffix selects the transfer type.
        {"ftp://h/a;TYPE=A", "1 21 1 h (null):(null) |a"},
        {"ftp://h/a;Type=I", "1 21 3 h (null):(null) |a"},
        {"ftp://h/d/;type=a", "1 21 1 h (null):(null) d/|(null)"},
        {"ftp://h/a;b", "1 21 3 h (null):(null) |a;b"},
        // User information splits at the first colon; an anonymous user is kept as written.
        {"ftps://u:p:q@[::1]:990/x", "2 990 3 ::1 u:p:q |x"},
        {"ftp://Anonymous@h/", "1 21 3 h Anonymous:(null) |(null)"},
        {"ftp://:pw@h/", "1 21 3 h (null):pw |(null)"},
        {"sftp://u@[::1%lo]:22/x/../y/", "3 22 3 ::1%lo u:(null) y/|(null)"},
        {"ftp:///a", "1 21 3 (null) (null):(null) |a"},
    };
    for (const auto& [text, parts] : cases) {
        FtpUrl url = Parse(text);
        ASSERT_TRUE(url) << text;
        EXPECT_EQ(Parts(*url), parts) << text;
    }
    for (const char* text : {"ftp://h/a;type=x", "ftp://h/a;type=", "ftp://h/a;type=ai",
                             "ftp://h/a;type=d", "ftp://h/d;type=a/f"})
        EXPECT_FALSE(Parse(text)) << text;
}

TEST(FtpParseUrl, MalformedTextsFailAndClearTheRecord) {
    for (const char* text :
         {"", "  ", "\t\n", "h:21/x", "ftp:/h/", "ftp:h", "http://h/", "gopher://h/", "://h",
          "ftp://[::1/x", "ftp://[::1]2/x", "ftp://[host]/", "ftp://h:2x/", "ftp://h:-1/",
          "ftp://h: 21/", "[::1]/x", "u@[h/x"}) {
        FtpUrlRecord* record = reinterpret_cast<FtpUrlRecord*>(&record);
        EXPECT_EQ(FtpParseUrl(text, &record), 0) << '"' << text << '"';
        EXPECT_EQ(record, nullptr) << text;
    }
    FtpUrlRecord* record = nullptr;
    EXPECT_EQ(FtpParseUrl(nullptr, &record), 0);
    EXPECT_EQ(FtpParseUrl("ftp://h/", nullptr), 0);
}

TEST(FtpComposeUrl, WritesTheCanonicalText) {
    const std::pair<FtpUrlRecord, const char*> cases[] = {
        // An anonymous login is left out.
        {MakeRecord(1, 21, "h", "d", "f", "ANONYMOUS", "x"), "ftp://h/d/f"},
        {MakeRecord(1, 21, "h", "d", "f", "anonymous2", "x"), "ftp://anonymous2:x@h/d/f"},
        {MakeRecord(1, 21, "h", "d", "f", "u", nullptr), "ftp://u@h/d/f"},
        {MakeRecord(1, 21, "h", "d", "f", "u", ""), "ftp://u@h/d/f"},
        {MakeRecord(1, 21, "h", "d", "f", "", "p"), "ftp://h/d/f"},
        // The port only when it is not the scheme's default.
        {MakeRecord(FTP_SCHEME_FTP, 2121, "h"), "ftp://h:2121/"},
        {MakeRecord(FTP_SCHEME_FTP, 0, "h"), "ftp://h/"},
        {MakeRecord(FTP_SCHEME_FTPS, 21, "h"), "ftps://h/"},
        {MakeRecord(FTP_SCHEME_FTPS, 990, "h"), "ftps://h:990/"},
        {MakeRecord(FTP_SCHEME_SFTP, 22, "h"), "sftp://h/"},
        {MakeRecord(FTP_SCHEME_SFTP, 21, "h"), "sftp://h:21/"},
        // The directory is rooted, normalised and joined with the file name.
        {MakeRecord(1, 21, "h", "", "a.txt"), "ftp://h/a.txt"},
        {MakeRecord(1, 21, "h", "pub"), "ftp://h/pub"},
        {MakeRecord(1, 21, "h", "/pub", "f"), "ftp://h/pub/f"},
        {MakeRecord(1, 21, "h", "d/", "f"), "ftp://h/d/f"},
        {MakeRecord(1, 21, "h", "d/s", ""), "ftp://h/d/s"},
        {MakeRecord(1, 21, "h", "a/./b/../c", "f"), "ftp://h/a/c/f"},
        {MakeRecord(1, 21, "h", "a\\..\\b", "f"), "ftp://h/b/f"},
        {MakeRecord(1, 21, "h", "../../x"), "ftp://h/x"},
        {MakeRecord(1, 21, "h", "d/a../b", "f"), "ftp://h/b/f"},
        // IPv6 hosts are bracketed; incomplete records compose nothing.
        {MakeRecord(1, 2121, "::1", "d"), "ftp://[::1]:2121/d"},
        {MakeRecord(1, 21, "::ffff:127.0.0.2"), "ftp://[::ffff:127.0.0.2]/"},
        {MakeRecord(1, 21, "127.0.0.2"), "ftp://127.0.0.2/"},
        {MakeRecord(1, 21, nullptr, "d"), ""},
        {MakeRecord(1, 21, "", "d"), ""},
        {MakeRecord(0, 21, "h"), ""},
        {MakeRecord(4, 21, "h"), ""},
    };
    for (auto [record, url] : cases) {
        record.transferType = FTP_URL_TYPE_ASCII;  // never written
        EXPECT_EQ(Compose(record), url);
    }
    char buffer[32];
    EXPECT_EQ(FtpComposeUrl(nullptr, buffer, sizeof buffer), 0);
}

TEST(FtpComposeUrl, FailsWithoutRoomForTextAndNul) {
    FtpUrlRecord record = MakeRecord(FTP_SCHEME_SFTP, 2222, "host", "d", "f", "u", "p");
    EXPECT_EQ(Compose(record), "sftp://u:p@host:2222/d/f");  // and not into one byte less
    char buffer[64];
    EXPECT_EQ(FtpComposeUrl(&record, buffer, 0), 0);
    EXPECT_EQ(FtpComposeUrl(&record, buffer, -1), 0);
    EXPECT_EQ(FtpComposeUrl(&record, nullptr, 64), 0);
}
