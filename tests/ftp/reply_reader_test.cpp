#include "ftp/reply_reader.h"

#include <gtest/gtest.h>

#include <string>

using ftp::ParseReply;
using Step = ftp::ReplyReader::Step;

namespace {

TEST(ReplyReaderSingleLine, CodeAndTextWithoutTheSeparator) {
    auto reply = ParseReply("220 Service ready\r\n");
    EXPECT_EQ(reply.step, Step::Complete);
    EXPECT_EQ(reply.code, 220);
    EXPECT_EQ(reply.text, "Service ready");
}

TEST(ReplyReaderSingleLine, EndsAtTheFirstLineFeedAndLeavesTheRest) {
    std::string bytes = "200 OK\r\n331 next\r\n";
    auto reply = ParseReply(bytes);
    EXPECT_EQ(reply.step, Step::Complete);
    EXPECT_EQ(reply.text, "OK");
    EXPECT_EQ(reply.consumed, std::string("200 OK\r\n").size());
}

TEST(ReplyReaderSingleLine, WhiteSpaceRunsBecomeOneBlankAndTrailingSpaceGoes) {
    auto reply = ParseReply("200   a\t\tb  \t \r\n");
    EXPECT_EQ(reply.text, "a b");
}

TEST(ReplyReaderSingleLine, ReplyWithoutTextEndsAtItsLineEnd) {
    EXPECT_EQ(ParseReply("200\r\n").step, Step::Complete);
    auto bare = ParseReply("200\n");
    EXPECT_EQ(bare.step, Step::Complete);
    EXPECT_EQ(bare.text, "");
    EXPECT_EQ(bare.consumed, 4u);
}

TEST(ReplyReaderSingleLine, IncompleteInputNeedsMore) {
    EXPECT_EQ(ParseReply("220 Hello").step, Step::NeedMore);
    EXPECT_EQ(ParseReply("22").step, Step::NeedMore);
    EXPECT_EQ(ParseReply("22").code, -1);
}

TEST(ReplyReaderMultiLine, FeatureListKeepsItsLinesJoinedByLineFeeds) {
    auto reply = ParseReply("211-Features:\r\n MDTM\r\n SIZE\r\n211 End\r\n");
    EXPECT_EQ(reply.step, Step::Complete);
    EXPECT_EQ(reply.code, 211);
    EXPECT_EQ(reply.text, "Features:\n MDTM\n SIZE\n End");
}

TEST(ReplyReaderMultiLine, CodeWithHyphenInsideDoesNotEndTheReply) {
    auto reply = ParseReply("230-Welcome\r\n230-Second line\r\n230 Done\r\n");
    EXPECT_EQ(reply.step, Step::Complete);
    EXPECT_EQ(reply.text, "Welcome\n Second line\n Done");
}

TEST(ReplyReaderMultiLine, OtherCodeFollowedByBlankIsText) {
    auto reply = ParseReply("211-Status\r\n200 not the end\r\n211 End\r\n");
    EXPECT_EQ(reply.step, Step::Complete);
    EXPECT_EQ(reply.text, "Status\n200 not the end\n End");
}

TEST(ReplyReaderMultiLine, ContinuationLinesMayBeginWithDigits) {
    auto reply = ParseReply("250-Listing\r\n12 files\r\n2110 bytes\r\n250 End\r\n");
    EXPECT_EQ(reply.step, Step::Complete);
    EXPECT_EQ(reply.text, "Listing\n12 files\n2110 bytes\n End");
}

TEST(ReplyReaderMultiLine, ZeroCodeWithHyphenStaysText) {
    auto reply = ParseReply("211-a\r\n000-x\r\n211 b\r\n");
    EXPECT_EQ(reply.text, "a\n000-x\n b");
}

TEST(ReplyReaderMultiLine, OtherCodeWithHyphenIsReplacedByABlank) {
    auto reply = ParseReply("211-a\r\n213-x\r\n211 b\r\n");
    EXPECT_EQ(reply.text, "a\n x\n b");
}

TEST(ReplyReaderMultiLine, WaitsForTheFinalLine) {
    EXPECT_EQ(ParseReply("211-Features:\r\n SIZE\r\n").step, Step::NeedMore);
    EXPECT_EQ(ParseReply("211-Features:\r\n SIZE\r\n211-more\r\n").step, Step::NeedMore);
}

TEST(ReplyReaderMultiLine, FinalLineWithoutTextEndsTheReply) {
    auto reply = ParseReply("211-Features:\r\n SIZE\r\n211\r\n");
    EXPECT_EQ(reply.step, Step::Complete);
    EXPECT_EQ(reply.text, "Features:\n SIZE");
}

TEST(ReplyReaderMultiLine, PositiveIntermediateReplyIsReadAlone) {
    std::string bytes = "120 Ready in 5 minutes\r\n220 Ready\r\n";
    auto first = ParseReply(bytes);
    EXPECT_EQ(first.code, 120);
    EXPECT_EQ(first.text, "Ready in 5 minutes");
    auto second = ParseReply(std::string_view(bytes).substr(first.consumed));
    EXPECT_EQ(second.code, 220);
}

TEST(ReplyReaderLimits, OverlongTextIsCappedButReadToItsEnd) {
    std::string longText(20000, 'x');
    std::string bytes = "200 " + longText + "\r\n200 next\r\n";
    auto reply = ParseReply(bytes);
    EXPECT_EQ(reply.step, Step::Complete);
    EXPECT_EQ(reply.text.size(), ftp::kReplyTextCapacity - 1);
    EXPECT_EQ(reply.consumed, 4 + longText.size() + 2);
}

TEST(ReplyReaderLimits, OverlongMultiLineReplyStillFindsItsEnd) {
    std::string bytes = "211-start\r\n";
    for (int i = 0; i < 1000; ++i)
        bytes += " line with some text " + std::to_string(i) + "\r\n";
    bytes += "211 End\r\n";
    auto reply = ParseReply(bytes);
    EXPECT_EQ(reply.step, Step::Complete);
    EXPECT_EQ(reply.consumed, bytes.size());
    EXPECT_EQ(reply.text.size(), ftp::kReplyTextCapacity - 1);
}

TEST(ReplyReaderGarbage, NonDigitCodeIsRefusedAtOnce) {
    auto reply = ParseReply("HTTP/1.1 400 Bad Request\r\n");
    EXPECT_EQ(reply.step, Step::Invalid);
    EXPECT_EQ(reply.consumed, 1u);
    EXPECT_EQ(ParseReply("22x ok\r\n").step, Step::Invalid);
    EXPECT_EQ(ParseReply("\r\n").step, Step::Invalid);
    EXPECT_EQ(ParseReply("004 ok\r\n").step, Step::Invalid);
    EXPECT_EQ(ParseReply("700 ok\r\n").step, Step::Invalid);
    EXPECT_EQ(ParseReply("631 protected\r\n").step, Step::Complete);
}

// A line or a multi-line reply that never ends is refused once past its
// bound, not read for ever.
TEST(ReplyReaderGarbage, EndlessLinesAndRepliesAreRefused) {
    const std::string endlessLine = "220 " + std::string(ftp::kReplyLineLimit, 'a');
    EXPECT_EQ(ParseReply(endlessLine).step, Step::Invalid);
    std::string endlessReply = "220-start\r\n";
    while (endlessReply.size() <= ftp::kReplyLimit) endlessReply += " more text\r\n";
    const auto reply = ParseReply(endlessReply);
    EXPECT_EQ(reply.step, Step::Invalid);
    EXPECT_EQ(reply.consumed, ftp::kReplyLimit + 1);
}

TEST(ReplyReaderGarbage, EmbeddedNulCannotCutTheText) {
    std::string bytes("200 a\0b\r\n", 9);
    auto reply = ParseReply(bytes);
    EXPECT_EQ(reply.text, "a b");
}

TEST(ReplyReaderReuse, ResetStartsAFreshReply) {
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

}  // namespace
