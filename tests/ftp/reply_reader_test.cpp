// Replies of the command channel: the reader over bytes, and replies as the channel
// receives them from the socket: however the bytes are cut into segments, each command
// gets exactly its own reply, and bytes that follow a reply stay for the reader after it.
#include "ftp/reply_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/ftp/ftp_test_support.h"

using ftp::ParseReply;
using Step = ftp::ReplyReader::Step;

namespace {

using namespace ftptest;

struct ReplyCase {
    const char* label;
    std::string bytes;
    Step step;
    int code;                  // -2: not checked
    const char* text;          // null: not checked
    std::size_t consumed = 0;  // 0: not checked
};

const std::string kLongText(20000, 'x');

std::string LongMultiLine() {
    std::string bytes = "211-start\r\n";
    for (int i = 0; i < 1000; ++i)
        bytes += " line with some text " + std::to_string(i) + "\r\n";
    return bytes + "211 End\r\n";
}

std::string EndlessMultiLine() {
    std::string bytes = "220-start\r\n";
    while (bytes.size() <= ftp::kReplyLimit)
        bytes += " more text\r\n";
    return bytes;
}

TEST(ReplyReader, ReadsOneReplyOfTheBytes) {
    const ReplyCase cases[] = {
        {"EndsAtTheFirstLineFeed", "200 OK\r\n331 next\r\n", Step::Complete, 200, "OK", 8},
        {"BlankRunsBecomeOneBlank", "200   a\t\tb  \t \r\n", Step::Complete, 200, "a b"},
        {"NoText", "200\r\n", Step::Complete, 200, ""},
        {"BareLineFeed", "200\n", Step::Complete, 200, "", 4},
        {"TextUnfinished", "220 Hello", Step::NeedMore, -2, nullptr},
        {"CodeUnfinished", "22", Step::NeedMore, -1, nullptr},
        {"SameCodeWithHyphenGoesOn", "230-Welcome\r\n230-Second line\r\n230 Done\r\n",
         Step::Complete, 230, "Welcome\n Second line\n Done"},
        {"OtherCodeAndBlankIsText", "211-Status\r\n200 not the end\r\n211 End\r\n", Step::Complete,
         211, "Status\n200 not the end\n End"},
        {"ContinuationBeginsWithDigits", "250-Listing\r\n12 files\r\n2110 bytes\r\n250 End\r\n",
         Step::Complete, 250, "Listing\n12 files\n2110 bytes\n End"},
        {"ZeroCodeWithHyphenStaysText", "211-a\r\n000-x\r\n211 b\r\n", Step::Complete, 211,
         "a\n000-x\n b"},
        {"OtherCodeWithHyphenBecomesABlank", "211-a\r\n213-x\r\n211 b\r\n", Step::Complete, 211,
         "a\n x\n b"},
        {"WaitsForTheFinalLine", "211-Features:\r\n SIZE\r\n", Step::NeedMore, -2, nullptr},
        {"HyphenLineIsNotFinal", "211-Features:\r\n SIZE\r\n211-more\r\n", Step::NeedMore, -2,
         nullptr},
        {"FinalLineWithoutText", "211-Features:\r\n SIZE\r\n211\r\n", Step::Complete, 211,
         "Features:\n SIZE"},
        {"IntermediateReplyAlone", "120 Ready in 5 minutes\r\n220 Ready\r\n", Step::Complete, 120,
         "Ready in 5 minutes", 24},
        {"OverlongTextCappedButReadToItsEnd", "200 " + kLongText + "\r\n200 next\r\n",
         Step::Complete, 200, nullptr, 4 + kLongText.size() + 2},
        {"OverlongMultiLineFindsItsEnd", LongMultiLine(), Step::Complete, 211, nullptr,
         LongMultiLine().size()},
        {"NonDigitCodeRefusedAtOnce", "HTTP/1.1 400 Bad Request\r\n", Step::Invalid, -2, nullptr,
         1},
        {"LetterInTheCode", "22x ok\r\n", Step::Invalid, -2, nullptr},
        {"EmptyLine", "\r\n", Step::Invalid, -2, nullptr},
        {"CodeStartsWithZero", "004 ok\r\n", Step::Invalid, -2, nullptr, 1},
        {"CodeStartsWithSeven", "700 ok\r\n", Step::Invalid, -2, nullptr, 1},
        {"ProtectedReply", "631 protected\r\n", Step::Complete, 631, "protected"},
        // A line or a multi-line reply that never ends is refused past its bound.
        {"EndlessLine", "220 " + std::string(ftp::kReplyLineLimit, 'a'), Step::Invalid, -2, nullptr,
         ftp::kReplyLineLimit + 1},
        {"EndlessReply", EndlessMultiLine(), Step::Invalid, -2, nullptr, ftp::kReplyLimit + 1},
        {"EmbeddedNulCannotCutTheText", std::string("200 a\0b\r\n", 9), Step::Complete, 200, "a b"},
    };
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.label);
        const auto reply = ParseReply(c.bytes);
        EXPECT_EQ(reply.step, c.step);
        if (c.code != -2) {
            EXPECT_EQ(reply.code, c.code);
        }
        if (c.text) {
            EXPECT_EQ(reply.text, c.text);
        }
        if (c.consumed) {
            EXPECT_EQ(reply.consumed, c.consumed);
        }
        if (c.code != -2 && !c.text && c.step == Step::Complete) {
            EXPECT_EQ(reply.text.size(), ftp::kReplyTextCapacity - 1);
        }
    }
}

TEST(ReplyReader, ResetStartsAFreshReply) {
    ftp::ReplyReader reader;
    for (char c : std::string("500 bad\r\n"))
        reader.Feed(c);
    ASSERT_EQ(reader.step(), Step::Complete);
    EXPECT_EQ(reader.Feed('2'), Step::Complete);  // ignored until reset
    reader.Reset();
    for (char c : std::string("226 ok\r\n"))
        reader.Feed(c);
    EXPECT_EQ(reader.code(), 226);
    EXPECT_EQ(reader.text(), "ok");
}

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
