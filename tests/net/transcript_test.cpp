// What the transcript hands on: secrets of sent lines masked, received lines
// made printable, one callback per thread.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/transcript.h"

namespace {

void Collect(void* user, int kind, const char* text, size_t length) {
    static_cast<std::vector<std::string>*>(user)->push_back(std::to_string(kind) + "|" +
                                                            std::string(text, length));
}

TEST(TranscriptTest, MasksSecretsOfSentLinesAndCleansReceivedOnes) {
    struct Case {
        int kind;
        const char* block;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {NET_TRANSCRIPT_SENT, "PASS s3cret\r\n", {"1|PASS ****"}},
        {NET_TRANSCRIPT_SENT, "  pass s3cret\r\n", {"1|  pass ****"}},
        {NET_TRANSCRIPT_SENT, "ACCT s3cret", {"1|ACCT ****"}},
        {NET_TRANSCRIPT_SENT, "PASSIVE x\r\nUSER u\r\n", {"1|PASSIVE x", "1|USER u"}},
        {NET_TRANSCRIPT_SENT,
         "GET / HTTP/1.1\r\nauthorization: Basic czNjcmV0\r\n"
         "Proxy-Authorization : Basic czNjcmV0\r\n\r\n",
         {"1|GET / HTTP/1.1", "1|authorization: ****", "1|Proxy-Authorization : ****"}},
        {NET_TRANSCRIPT_RECEIVED, "230 ok\x1b[2J\n\n230 end", {"2|230 ok?[2J", "2|230 end"}},
        {NET_TRANSCRIPT_RECEIVED, "PASS s3cret", {"2|PASS s3cret"}},
    };
    std::vector<std::string> seen;
    NetSetTranscript(Collect, &seen);
    for (const Case& c : cases) {
        seen.clear();
        NetTranscriptLines(c.kind, c.block, std::string(c.block).size());
        EXPECT_EQ(seen, c.lines) << c.block;
    }
    NetSetTranscript(nullptr, nullptr);
}

}  // namespace
