// Content types by extension and HTTP dates in their three layouts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "http/content_type.h"
#include "http/dates.h"
#include "http/transfer_common.h"
#include "platform/lasterror.h"
#include "resources/errors.h"
#include "tests/http/transfer_test_support.h"

namespace {

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
        {"run.cmd", "text/plain"},
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
    ExpectDates({{"Sun, 06 Nov 1994 08:49:37 GMT", "1994-11-06 08:49:37/0"},
                 {"Sunday, 06-Nov-94 08:49:37 GMT", "1994-11-06 08:49:37/0"},
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

}  // namespace
