// The wire formats and tables of the HTTP engine as pure functions: the response line
// assembler, odd status, header and chunk-size lines, the encodings, content types by
// extension, HTTP dates in their three layouts, and Content-Disposition file
// names (the forms servers send and the names that must never reach the local disk as
// given). The status mapping shows in response_test.cpp.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "http/content_type.h"
#include "http/dates.h"
#include "http/disposition.h"
#include "http/encoding.h"
#include "http/http.h"
#include "http/transfer_common.h"
#include "http/wire.h"
#include "platform/lasterror.h"
#include "resources/errors.h"
#include "tests/http/transfer_test_support.h"

namespace {

using namespace http;

// Feeds text and gives the lines it completes.
std::vector<std::string> Lines(const std::string& text) {
    LineAssembler assembler;
    std::vector<std::string> lines;
    for (char c : text) {
        if (assembler.Feed(c)) lines.emplace_back(assembler.line());
    }
    return lines;
}

struct LineCase {
    const char* input;
    const char* line;
};

class LineAssemblerTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineAssemblerTest, ShapesOneLine) {
    const std::vector<std::string> lines = Lines(GetParam().input);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(WhiteSpaceAndQuotes, LineAssemblerTest,
                         ::testing::Values(LineCase{"Server:   a \t  b\r\n", "Server: a b"},
                                           LineCase{"   \t X-Lead: v\r\n", "X-Lead: v"},
                                           LineCase{"X-Q: \"a   b\"   c\r\n", "X-Q: \"a   b\" c"},
                                           LineCase{"X-Open: \"a    b\n", "X-Open: \"a    b"},
                                           LineCase{"no-cr\n", "no-cr"}, LineCase{"a\rb\r\n", "ab"},
                                           LineCase{"\r\n", ""}));

TEST(LineAssembler, AQuoteDoesNotCarryIntoTheNextLine) {
    EXPECT_EQ(Lines("A: \"x\n B:  y\n"), (std::vector<std::string>{"A: \"x", "B: y"}));
}

TEST(LineAssembler, CutsAnOverlongLineAtItsCapacity) {
    std::string text = "X-Long: " + std::string(40000, 'a') + "\r\nNext: 1\r\n";
    LineAssembler assembler;
    std::vector<std::string> lines;
    bool truncated = false;
    for (char c : text) {
        if (assembler.Feed(c)) {
            lines.emplace_back(assembler.line());
            truncated = truncated || assembler.truncated();
        }
    }
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), LineAssembler::kCapacity);
    EXPECT_TRUE(truncated);
    EXPECT_EQ(lines[1], "Next: 1");
}

// What servers commonly send is every response test's; here the odd lines.
TEST(StatusLine, AnOverlongReasonIsCutAndAHugeCodeStaysHuge) {
    auto status = ParseStatusLine("HTTP/1.1 200 " + std::string(500, 'r'));
    ASSERT_TRUE(status);
    EXPECT_EQ(status->reason.size(), static_cast<std::size_t>(HTTP_MAX_REASON - 1));
    status = ParseStatusLine("HTTP/1.1 99999999999999999999 big");
    ASSERT_TRUE(status);
    EXPECT_GT(status->code, 99999);
}

// The split at the first colon is every redirect test's (a Location with a port).
TEST(HeaderLine, EmptyValuesAndLinesWithoutANameOrColon) {
    auto header = ParseHeaderLine("Empty:");
    ASSERT_TRUE(header);
    EXPECT_EQ(header->value, "");
    EXPECT_FALSE(ParseHeaderLine("no colon here"));
    EXPECT_FALSE(ParseHeaderLine(": no name"));
}

struct ChunkCase {
    const char* line;
    std::optional<std::uint64_t> size;
};

class ChunkSizeTest : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(ChunkSizeTest, LeadingHexDigits) {
    EXPECT_EQ(ParseChunkSize(GetParam().line), GetParam().size) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(Lines, ChunkSizeTest,
                         ::testing::Values(ChunkCase{"1A", 26}, ChunkCase{"ff ; name", 255},
                                           ChunkCase{"10000000", 0x10000000},
                                           ChunkCase{"", std::nullopt},
                                           ChunkCase{"fffffffffffffffff", std::nullopt}));

TEST(ContentLength, DecimalOnly) {
    EXPECT_EQ(ParseContentLength(" 16000 "), 16000u);
    EXPECT_FALSE(ParseContentLength(""));
    EXPECT_FALSE(ParseContentLength("99999999999999999999999"));
}

std::string Encode(int mode, const std::string& text, int size = 256) {
    std::string out(static_cast<std::size_t>(size), '\0');
    const int length =
        HttpEncode(mode, text.data(), static_cast<int>(text.size()), out.data(), size);
    if (length < 0) return "<error>";
    return out.substr(0, static_cast<std::size_t>(length));
}

TEST(Encoding, PathQueryFormAndBase64) {
    EXPECT_EQ(Encode(HTTP_ENCODE_PATH, "/a b/c&d=e"), "/a%20b/c%26d%3De");
    EXPECT_EQ(Encode(HTTP_ENCODE_QUERY, "a=b/c&d"), "a=b%2Fc&d");
    EXPECT_EQ(Encode(HTTP_ENCODE_FORM, "a b"), "a b");
    EXPECT_EQ(Encode(HTTP_ENCODE_PATH, "%41%zz"), "%41%25zz");
    EXPECT_EQ(Encode(HTTP_ENCODE_BASE64, "abc"), "YWJj");
    EXPECT_EQ(Encode(HTTP_ENCODE_BASE64, "ab"), "YWI=");
    EXPECT_EQ(Encode(HTTP_ENCODE_PATH, "\xC3\xA9"), "%C3%A9");
}

TEST(Encoding, NeverWritesPastTheOutput) {
    // Room for the size rule but not for three escapes.
    EXPECT_EQ(Encode(HTTP_ENCODE_PATH, "   ", 6), "<error>");
    EXPECT_EQ(HttpGetLastError(), MakeErrorCode(fileErrorBufferTooSmall));
    EXPECT_EQ(Encode(HTTP_ENCODE_BASE64, "abcd", 7), "<error>");
    EXPECT_EQ(Encode(0, "x"), "<error>");
    EXPECT_EQ(HttpGetLastError(), MakeErrorCode(fileErrorInvalidParameter));
    EXPECT_EQ(HttpNeedsEncoding("/plain/path-1.txt", -1), 0);
    EXPECT_EQ(HttpNeedsEncoding("with space", -1), 1);
    EXPECT_EQ(HttpNeedsEncoding("100%", -1), 1);
    EXPECT_EQ(HttpNeedsEncoding("a%2F", -1), 0);
}

using http::ResponseHeadReader;
using Step = ResponseHeadReader::Step;

// Feeds text until the reader stops; the step and the bytes left unread.
std::pair<Step, std::size_t> FeedAll(ResponseHeadReader& reader, const std::string& text) {
    std::size_t used = 0;
    while (used < text.size() && reader.Feed(text[used]) == Step::NeedMore)
        ++used;
    if (used < text.size()) ++used;
    return {reader.step(), text.size() - used};
}

TEST(ResponseHeadReaderTest, RefusesWhatIsNoResponse) {
    // Another protocol's greeting is TruncationTest's NotHttp.
    std::string many = "HTTP/1.1 200 OK\r\n";
    for (std::size_t i = 0; i < ResponseHeadReader::kMaxLines; ++i)
        many += "X: y\r\n";
    ResponseHeadReader flood(false);
    EXPECT_EQ(FeedAll(flood, many + "\r\n").first, Step::Invalid);
    // Feeding after the end changes nothing.
    EXPECT_EQ(flood.Feed('x'), Step::Invalid);
    // A header line that never ends is refused once the block passes its bound.
    ResponseHeadReader endless(false);
    const std::string line =
        "HTTP/1.1 200 OK\r\nX: " + std::string(ResponseHeadReader::kMaxBytes, 'a');
    EXPECT_EQ(FeedAll(endless, line),
              std::make_pair(Step::Invalid, line.size() - ResponseHeadReader::kMaxBytes - 1));
}

// The extension of the last path element, in any case, finds its type in the
// mapping files (the first that has it), then in the built-in table.
TEST(HttpContentTypeTest, ExtensionsMapThroughTheFilesThenTheTable) {
    const std::string user = testing::TempDir() + "user.mime.types";
    const std::string system = testing::TempDir() + "system.mime.types";
    std::ofstream(user) << "# the user's\napplication/x-mine  ZIP mine\n\nnot-a-type qqq\n";
    std::ofstream(system) << "application/zip zip\ntext/x-c c h # C\n"
                          << "application/x-long " << std::string(5000, 'x') << "\n";
    http::SetContentTypeFiles({user, "/nonexistent/mime.types", system});
    struct Case {
        const char* name;
        const char* type;
    };
    const std::vector<Case> cases = {
        {"archive.zip", "application/x-mine"},  // the first file wins
        {"a.Mine", "application/x-mine"},
        {"main.h", "text/x-c"},
        {"/files/report.PDF", "application/pdf"},
        {"/files/noext", "application/octet-stream"},
        {"C:\\dir.with.dots\\page.HTM", "text/html"},
        {"dir.txt/file", "application/octet-stream"},
        {"unknown.qqq", "application/octet-stream"},  // its line has no type
        {"trailing.", "application/octet-stream"},
    };
    for (const Case& c : cases) {
        char type[128] = {};
        EXPECT_EQ(HttpGetContentType(c.name, type, sizeof type),
                  static_cast<int>(std::string(c.type).size()))
            << c.name;
        EXPECT_STREQ(type, c.type) << c.name;
    }
    http::SetContentTypeFiles({});
    std::remove(user.c_str());
    std::remove(system.c_str());
}

TEST(HttpContentTypeTest, OutputIsCutToItsSizeAndBadArgumentsFail) {
    char small[5] = {};
    EXPECT_EQ(HttpGetContentType("a.pdf", small, sizeof small), 4);
    EXPECT_STREQ(small, "appl");
    EXPECT_EQ(HttpGetContentType("", small, sizeof small), -1);
    EXPECT_EQ(HttpGetContentType(nullptr, small, sizeof small), -1);
    EXPECT_EQ(HttpGetContentType("a.pdf", nullptr, 10), -1);
}

// The parts of a parsed date as TimeText gives them, or "" when it fails.
std::string Parsed(const char* text, BOOL local) {
    int64_t time = 0;
    long zone = 0;
    SYSTEMTIME parts{};
    if (HttpParseDate(text, local, &time, &zone) != 1) return "";
    if (HttpTimeToSystemTime(time, &parts) != 1) return "";
    return httptest::TimeText(parts);
}

struct DateCase {
    const char* text;
    std::string parts;  // without "/w" where the day of the week is not checked
};

void ExpectDates(const std::vector<DateCase>& cases, BOOL local) {
    for (const DateCase& c : cases)
        EXPECT_EQ(Parsed(c.text, local).substr(0, c.parts.size()), c.parts) << c.text;
}

TEST(HttpDateTest, TheUsualLayoutsKeepTheirPartsAsWritten) {
    // The RFC 1123 layout is nginx's (tests/integration/http_server_test.cpp).
    ExpectDates({{"Sunday, 06-Nov-94 08:49:37 GMT", "1994-11-06 08:49:37/0"},
                 {"Sun Nov  6 08:49:37 1994", "1994-11-06 08:49:37/0"},
                 {"Thu, 02 Jan 2020 03:04:05 +0100", "2020-01-02 03:04:05/4"},
                 {"11/06/1994 8:49 pm", "1994-11-06 20:49:00"},
                 {"6 nov 05 12:00 am", "2005-11-06 00:00:00"}},
                FALSE);
}

TEST(HttpDateTest, TheLocalFlagMovesTheMomentIntoTheLocalZone) {
    ScopedEnv zone("TZ", "UTC-2");  // two hours east, no daylight saving
    ExpectDates({{"Sun, 06 Nov 1994 08:49:37 GMT", "1994-11-06 10:49:37/0"},
                 {"Sun, 06 Nov 1994 08:49:37 +0100", "1994-11-06 09:49:37/0"},
                 {"Sun, 06 Nov 1994 23:30:00 -0130", "1994-11-07 03:00:00/1"}},
                TRUE);
    int64_t time = 0;
    long offset = 0;
    EXPECT_EQ(HttpParseDate("Sun, 06 Nov 1994 08:49:37 GMT", FALSE, &time, &offset), 1);
    EXPECT_EQ(offset, -7200);
}

TEST(HttpDateTest, EmptyAndUnreadableTextsGiveNoTime) {
    int64_t time = 0;
    long zone = 0;
    for (const char* text : {"", "garbage", "99:99:99 1 Jan 2000", "25:00:00 1 Jan 2000"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(HttpParseDate(text, FALSE, &time, &zone), 0);
    }
    EXPECT_EQ(HttpParseDate(nullptr, FALSE, &time, &zone), 0);
}

TEST(HttpDispositionTest, FileNamesAreFoundAndMadeSafe) {
    struct Case {
        const char* value;
        std::optional<std::string> name;
    };
    const Case cases[] = {
        {"attachment; filename=report.pdf", "report.pdf"},
        {"attachment; filename=\"two words.txt\"", "two words.txt"},
        {"attachment;filename=\"q\\\"uote.txt\"", "q\"uote.txt"},
        {"inline; FILENAME = spaced.txt ; size=3", "spaced.txt"},
        // An extended value winning over the plain one is the real server's
        // (TheServersNameIsTaken in tests/integration/cli_http_test.cpp).
        {"attachment; filename*=iso-8859-1'en'%E9t%E9.txt", "\xC3\xA9t\xC3\xA9.txt"},
        {"attachment; filename*=UTF-8''bad%G1; filename=fallback.txt", "fallback.txt"},
        {"attachment; filename*=KOI8-R''x.txt; filename=fallback.txt", "fallback.txt"},
        // Path parts and control characters never get through.
        {"attachment; filename=\"../../etc/passwd\"", "passwd"},
        {"attachment; filename=\"C:\\\\temp\\\\evil.bat\"", "evil.bat"},
        {"attachment; filename*=UTF-8''..%2F..%2Fx.txt", "x.txt"},
        {"attachment; filename*=UTF-8''a%0Ab%00c.txt", "abc.txt"},
        {"attachment; filename=\"..\"", std::nullopt},
        {"attachment; filename=\"...\"; filename*=UTF-8''.", std::nullopt},
        // Leading dots would hide the file.
        {"attachment; filename=.bashrc", "bashrc"},
        {"attachment; filename*=UTF-8''..%2F.profile", "profile"},
        {"attachment; filename=\"..a..b\"", "a..b"},
        {"attachment; filename=\"dir/\"", std::nullopt},
        {"attachment", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(http::DispositionFileName(c.value), c.name) << c.value;
    }
    // A long name is cut to 255 bytes, never inside a character.
    std::string many;
    for (int i = 0; i < 200; ++i)
        many += "%C3%A9";
    const auto cut = http::DispositionFileName("attachment; filename*=UTF-8''" + many);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->size(), 254u);
}

}  // namespace
