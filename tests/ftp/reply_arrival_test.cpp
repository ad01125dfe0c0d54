// Replies as the command channel receives them from the socket: however the
// bytes are cut into segments, each command gets exactly its own reply, and
// bytes that follow a reply stay for the reader after it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftp/reply_reader.h"
#include "tests/ftp/ftp_test_support.h"

namespace {

using namespace ftptest;

struct Arrival {
    const char* name;
    // The segments the peer sends after NOOP, a few milliseconds apart.
    std::vector<std::string> segments;
};

std::string LongLines() {
    std::string lines;
    for (int i = 0; i < 120; ++i)
        lines += " line " + std::to_string(i) + " of a long help text\r\n";
    return lines;
}

const std::string kLong = LongLines();

class FtpReplyArrivalTest : public EngineTest, public ::testing::WithParamInterface<Arrival> {};

TEST_P(FtpReplyArrivalTest, CommandReadsItsWholeReplyAndNothingMore) {
    const Arrival& arrival = GetParam();
    std::string whole;
    for (const std::string& segment : arrival.segments)
        whole += segment;
    // The reader over the whole string is the reference.
    const ftp::ParsedReply expected = ftp::ParseReply(whole);
    ASSERT_EQ(expected.consumed, whole.size());
    PeerScript script;
    script.Expect("NOOP");
    for (const std::string& segment : arrival.segments)
        script.SendAfter(5, segment);
    // The next reply is already in the socket before the client sends ALLO:
    // its reader must find it there.
    script.SendAfter(5, "202 second reply\r\n").Expect("ALLO");
    PeerSession session(script);

    EXPECT_EQ(FtpCommand(session.client(), "NOOP", nullptr), expected.code);
    char text[8192] = {};
    FtpGetResultString(session.client(), text, sizeof text);
    EXPECT_EQ(std::string(text).substr(0, 200), expected.text.substr(0, 200));
    EXPECT_EQ(FtpCommand(session.client(), "ALLO", nullptr), 202);
    FtpGetResultString(session.client(), text, sizeof text);
    EXPECT_STREQ(text, "second reply");
    EXPECT_EQ(session.Finish(), "NOOP|ALLO");
}

INSTANTIATE_TEST_SUITE_P(
    Segments, FtpReplyArrivalTest,
    ::testing::Values(Arrival{"Whole", {"200 fine\r\n"}},
                      Arrival{"ByteByByte", {"2", "0", "0", " ", "o", "k", "\r", "\n"}},
                      Arrival{"CutInTheLineEnd", {"200 cut\r", "\n"}},
                      Arrival{"MultiLineInPieces",
                              {"211-first\r\n 211 not yet\r\n", "211", " last\r\n"}},
                      Arrival{"LongerThanOneLook", {"214-help\r\n" + kLong, "214 end\r\n"}}),
    [](const auto& info) { return info.param.name; });

// A reply with the next one behind it in the same segment: the second stays
// for the next command.
TEST_F(EngineTest, TwoRepliesInOneSegmentAnswerTwoCommands) {
    PeerScript script;
    script.Reply("NOOP", "200 one\r\n202 two\r\n").Expect("ALLO");
    PeerSession session(script);
    EXPECT_EQ(FtpCommand(session.client(), "NOOP", nullptr), 200);
    EXPECT_EQ(FtpCommand(session.client(), "ALLO", nullptr), 202);
    EXPECT_EQ(session.Finish(), "NOOP|ALLO");
}

}  // namespace
