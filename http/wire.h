// The HTTP wire formats as pure functions over bytes: the response line
// assembler, status and header lines, chunk-size lines, and the verb and
// status-to-error tables. No sockets here, so all of it is testable with strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/text.h"

namespace http {

// Verb codes (255: any other verb, sent as given).
enum class Verb : int {
    Get = 1,
    Head = 2,
    Post = 3,
    Put = 4,
    Options = 5,
    Copy = 6,
    Move = 7,
    Lock = 8,
    Unlock = 9,
    Delete = 10,
    Mkcol = 11,
    Propfind = 12,
    Bpropfind = 13,
    Proppatch = 14,
    Bproppatch = 15,
    Other = 255,
};

struct VerbEntry {
    std::string_view name;
    Verb code;
};

// The table's entry for a verb (case-insensitive), or null.
const VerbEntry* FindVerb(std::string_view verb);
// POST, PUT and the PROP* verbs carry their form data as a body.
bool VerbSendsBody(Verb verb);

// The error number of a status (0: none), from the status table.
int StatusError(int status);

// The blanks of header values: space, tab, vertical tab and form feed.
inline constexpr std::string_view kHeaderBlanks = " \t\v\f";
bool IsBlank(char c);

// Collects one response line from single bytes: CR is dropped, a double quote
// toggles a quoted state, outside quotes a run of white space becomes one
// blank and white space at the start of a line is dropped. At most
// HTTP_MAX_LINE characters are kept; the rest of a longer line is dropped.
class LineAssembler {
  public:
    static constexpr std::size_t kCapacity = 32767;

    // True when c ended the line (LF); line() then holds it until the next Feed.
    bool Feed(char c);
    std::string_view line() const { return line_; }
    // True when the last line lost characters to the cap.
    bool truncated() const { return truncated_; }

  private:
    void Keep(char c);

    std::string line_;
    bool complete_ = false;
    bool quoted_ = false;
    bool inBlankRun_ = false;
    bool truncated_ = false;
};

struct StatusLine {
    int code = 0;
    std::string reason;  // at most HTTP_MAX_REASON - 1 characters
};
// A line starting with "HTTP/" (any case), or nullopt.
std::optional<StatusLine> ParseStatusLine(std::string_view line);

struct HeaderLine {
    std::string_view name;
    std::string_view value;
};
// "name: value" split at the first ":", or nullopt for a line without one or
// with an empty name.
std::optional<HeaderLine> ParseHeaderLine(std::string_view line);

// Reads one response header block (or a chunked body's trailer) from single
// bytes: the status line first, then header lines up to an empty line.
// Empty lines before the status line are skipped; a block with an interim
// status (1xx but 101) is dropped and reading goes on. Invalid: the first
// line is no status line, or the blocks together have more than kMaxLines
// lines or kMaxBytes bytes (a line that never ends cannot hold the client).
class ResponseHeadReader {
  public:
    enum class Step { NeedMore, Done, Invalid };
    static constexpr std::size_t kMaxLines = 1000;
    static constexpr std::size_t kMaxBytes = 256 * 1024;

    explicit ResponseHeadReader(bool trailerOnly) : trailerOnly_(trailerOnly) {}

    Step Feed(char c);
    Step step() const { return step_; }
    bool sawStatus() const { return sawStatus_; }
    int status() const { return status_; }
    const std::string& reason() const { return reason_; }
    // The final status line as it came (for the transcript).
    const std::string& statusLine() const { return statusLine_; }
    // The header lines of the final block, in order.
    const std::vector<std::pair<std::string, std::string>>& headers() const { return headers_; }

  private:
    Step TakeLine(std::string_view line);

    bool trailerOnly_;
    LineAssembler assembler_;
    Step step_ = Step::NeedMore;
    bool sawStatus_ = false;
    std::size_t lines_ = 0;
    std::size_t bytes_ = 0;
    int status_ = 0;
    std::string reason_;
    std::string statusLine_;
    std::vector<std::pair<std::string, std::string>> headers_;
};

// The leading hexadecimal digits of a chunk-size line (extensions after them
// are ignored), or nullopt when there are none or the value does not fit.
std::optional<std::uint64_t> ParseChunkSize(std::string_view line);

// A decimal Content-Length value (blanks around it allowed), or nullopt.
std::optional<std::uint64_t> ParseContentLength(std::string_view value);

// The content coding of a name (HTTP_ENCODING_*; "x-gzip" and "x-deflate" are
// the old aliases), or -1 for a name the engine cannot decode.
int CodingKind(std::string_view name);

// How a response body is delimited, from every Transfer-Encoding and every
// Content-Length value it came with (RFC 9112 section 6). Transfer codings
// apply in order and chunked must come last, exactly once; any coding the
// engine cannot undo makes the framing invalid. A Content-Length list counts
// only when all its values are equal; it is ignored beside a Transfer-Encoding.
struct BodyFraming {
    bool invalid = false;
    bool chunked = false;
    std::optional<std::uint64_t> length;
    std::vector<int> transferCodings;  // HTTP_ENCODING_* before chunked, identity left out
};
BodyFraming ParseBodyFraming(const std::vector<std::string_view>& transferEncodings,
                             const std::vector<std::string_view>& contentLengths);

}  // namespace http
