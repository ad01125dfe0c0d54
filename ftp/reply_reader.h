// Reads one FTP reply from the bytes of the command channel, one byte at a time.
// The socket loop feeds every byte it receives; the reader says when the reply
// is complete, so the same rules run on plain strings in the tests.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace ftp {

// Reply text capacity including the terminator.
inline constexpr std::size_t kReplyTextCapacity = 8192;
// A reply line, or a whole reply, longer than these is refused as invalid: a
// server that never ends a line or a multi-line reply cannot hold the client.
inline constexpr std::size_t kReplyLineLimit = 64 * 1024;
inline constexpr std::size_t kReplyLimit = 256 * 1024;

class ReplyReader {
  public:
    enum class Step { NeedMore, Complete, Invalid };

    // Consumes one byte. After Complete or Invalid further bytes are ignored
    // until Reset. A code that does not start with 1 to 6 is invalid at once.
    Step Feed(char c);
    void Reset();

    Step step() const { return step_; }
    // The three-digit code, known as soon as its digits were read (-1 before).
    int code() const { return code_; }
    bool multiLine() const { return multiLine_; }
    // The collected text; trailing white space is removed once Complete.
    std::string_view text() const { return {text_.data(), length_}; }

  private:
    enum class Phase { Code, Separator, Text, LineHead, Done };

    Step FeedCode(char c);
    Step FeedSeparator(char c);
    Step FeedText(char c);
    Step FeedLineHead(char c);
    void StoreTextByte(char c);
    void StoreChar(char c);
    Step FinishLine();
    Step Finish();
    char LastStored() const { return length_ == 0 ? '\0' : text_[length_ - 1]; }

    Phase phase_ = Phase::Code;
    Step step_ = Step::NeedMore;
    int code_ = -1;
    int digits_ = 0;
    bool multiLine_ = false;
    bool lastLine_ = false;
    std::array<char, 4> lineHead_{};
    std::size_t lineHeadLength_ = 0;
    std::array<char, kReplyTextCapacity> text_{};
    std::size_t length_ = 0;
    std::size_t lineBytes_ = 0;
    std::size_t replyBytes_ = 0;
};

// Runs the reader over a whole string: the outcome, the code, the text and how
// many bytes belonged to the reply.
struct ParsedReply {
    ReplyReader::Step step = ReplyReader::Step::NeedMore;
    int code = -1;
    std::string text;
    std::size_t consumed = 0;
};
ParsedReply ParseReply(std::string_view bytes);

}  // namespace ftp
