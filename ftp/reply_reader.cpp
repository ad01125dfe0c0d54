#include "ftp/reply_reader.h"

namespace ftp {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// CR and LF have rules of their own; NUL counts as white space so that it can
// never cut the text short.
bool IsBlankLike(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\0';
}

}  // namespace

void ReplyReader::Reset() {
    *this = ReplyReader();
}

ReplyReader::Step ReplyReader::Feed(char c) {
    if (phase_ != Phase::Done) {
        lineBytes_ = c == '\n' ? 0 : lineBytes_ + 1;
        if (++replyBytes_ > kReplyLimit || lineBytes_ > kReplyLineLimit) {
            phase_ = Phase::Done;
            step_ = Step::Invalid;
            return step_;
        }
    }
    switch (phase_) {
        case Phase::Code:
            return FeedCode(c);
        case Phase::Separator:
            return FeedSeparator(c);
        case Phase::Text:
            return FeedText(c);
        case Phase::LineHead:
            return FeedLineHead(c);
        case Phase::Done:
            break;
    }
    return step_;
}

ReplyReader::Step ReplyReader::FeedCode(char c) {
    // A non-digit is refused at once, so garbage never makes the reader wait
    // for bytes that may not come.
    // RFC 959 codes start with 1 to 5, RFC 2228's protected replies with 6.
    const bool first = lineHeadLength_ == 0;
    if (!IsDigit(c) || (first && (c < '1' || c > '6'))) {
        phase_ = Phase::Done;
        step_ = Step::Invalid;
        return step_;
    }
    digits_ = digits_ * 10 + (c - '0');
    if (++lineHeadLength_ == 3) {
        code_ = digits_;
        lineHeadLength_ = 0;
        phase_ = Phase::Separator;
    }
    return step_;
}

ReplyReader::Step ReplyReader::FeedSeparator(char c) {
    // The byte after the code is consumed whatever it is; a bare LF there ends
    // a reply that has no text at all.
    if (c == '\n') return Finish();
    multiLine_ = (c == '-');
    phase_ = Phase::Text;
    return step_;
}

ReplyReader::Step ReplyReader::FeedText(char c) {
    if (c == '\r') return step_;
    if (c == '\n') {
        char last = LastStored();
        if (length_ != 0 && last != ' ' && last != '\n') StoreChar('\n');
        return FinishLine();
    }
    StoreTextByte(c);
    return step_;
}

void ReplyReader::StoreTextByte(char c) {
    if (!IsBlankLike(c)) {
        StoreChar(c);
        return;
    }
    if (length_ != 0 && LastStored() != ' ') StoreChar(' ');
}

void ReplyReader::StoreChar(char c) {
    // Characters beyond the capacity are read and dropped.
    if (length_ + 1 < text_.size()) text_[length_++] = c;
}

ReplyReader::Step ReplyReader::FinishLine() {
    if (!multiLine_ || lastLine_) return Finish();
    phase_ = Phase::LineHead;
    lineHeadLength_ = 0;
    return step_;
}

ReplyReader::Step ReplyReader::FeedLineHead(char c) {
    lineHead_[lineHeadLength_++] = c;
    if (lineHeadLength_ <= 3) {
        if (IsDigit(c)) return step_;
    } else {
        int number = (lineHead_[0] - '0') * 100 + (lineHead_[1] - '0') * 10 + (lineHead_[2] - '0');
        phase_ = Phase::Text;
        if (number == code_ && (c == ' ' || c == '\r' || c == '\n')) {
            // The last line: its code is dropped, its text follows a blank.
            lastLine_ = true;
            return FeedText(c);
        }
        if (number > 0 && c == '-') return FeedText(' ');
    }
    // Any other start is ordinary text, digits included.
    phase_ = Phase::Text;
    std::size_t count = lineHeadLength_;
    lineHeadLength_ = 0;
    for (std::size_t i = 0; i < count && phase_ == Phase::Text; ++i)
        FeedText(lineHead_[i]);
    return step_;
}

ReplyReader::Step ReplyReader::Finish() {
    while (length_ != 0 && (text_[length_ - 1] == ' ' || text_[length_ - 1] == '\n'))
        --length_;
    text_[length_] = '\0';
    phase_ = Phase::Done;
    step_ = Step::Complete;
    return step_;
}

ParsedReply ParseReply(std::string_view bytes) {
    ReplyReader reader;
    ParsedReply result;
    for (char c : bytes) {
        ++result.consumed;
        if (reader.Feed(c) != ReplyReader::Step::NeedMore) break;
    }
    result.step = reader.step();
    result.code = reader.code();
    result.text = std::string(reader.text());
    return result;
}

}  // namespace ftp
