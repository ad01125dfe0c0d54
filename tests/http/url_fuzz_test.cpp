#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "http/url.h"
#include "http/url_test_helpers.h"

namespace {

const std::vector<std::string> kSeeds = {
    "http://example.com/",
    "https://user:secret@[::1]:8443/a/../b?x=1",
    "http://h:8080/a/./b/c/../d?q=/./x",
    "example/path",
    "  HTTP://u@[::1%lo]:81",
    "http://h\\a\\..\\b",
    "https://a:b:c@x@y:65535/..././.../x?",
};

std::string ComposeExactly(const HttpUrlRecord& record) {
    return ComposeExactly(HttpComposeUrl, record);
}

}  // namespace

// Damaged texts never crash or read past their end, and whatever parses composes
// to a text that reads back to the same composition.
TEST(HttpUrlFuzz, DamagedTextsParseSafelyAndComposeStably) {
    UrlMutator mutator(0x5eed, kSeeds);
    int parsed = 0;
    for (int i = 0; i < 4000; ++i) {
        std::string text = mutator.Next();
        ExactText input(text);
        HttpIsUrl(input.get());
        ExactText path(text);
        std::size_t before = std::strlen(path.get());
        ASSERT_LE(std::strlen(HttpNormalizePath(path.get())), before);

        HttpUrlRecord* record = nullptr;
        if (HttpParseUrl(input.get(), &record) == 0) {
            ASSERT_EQ(record, nullptr);
            continue;
        }
        ++parsed;
        std::string composed = ComposeExactly(*record);
        HttpFreeUrl(record);
        if (composed.empty()) continue;

        HttpUrlRecord* again = nullptr;
        ASSERT_EQ(HttpParseUrl(composed.c_str(), &again), 1) << text << " -> " << composed;
        EXPECT_EQ(ComposeExactly(*again), composed) << text;
        HttpFreeUrl(again);
    }
    EXPECT_GT(parsed, 400);  // the mutations still reach the composer
}

TEST(HttpUrlFuzz, RandomRecordsComposeWithinTheirBuffers) {
    UrlMutator mutator(99, kSeeds);
    const int ports[] = {0, 80, 443, 8080, -1, 70000};
    for (int i = 0; i < 3000; ++i) {
        ExactText host(mutator.RandomText()), path(mutator.RandomText()),
            query(mutator.RandomText()), user(mutator.RandomText()), password(mutator.RandomText());
        HttpUrlRecord record{static_cast<int>(mutator.Pick(4)),
                             ports[mutator.Pick(std::size(ports))],
                             host.get(),
                             mutator.Pick(4) == 0 ? nullptr : path.get(),
                             query.get(),
                             user.get(),
                             password.get()};
        ComposeExactly(record);
    }
}
