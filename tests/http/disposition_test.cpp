// Content-Disposition file names: the forms servers send and the names that
// must never reach the local disk as given.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "http/disposition.h"

namespace {

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
        // RFC 8187 extended value wins over the plain one.
        {"attachment; filename=\"plain.txt\"; filename*=UTF-8''na%C3%AFve.txt", "na\xC3\xAFve.txt"},
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
