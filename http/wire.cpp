#include "http/wire.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <limits>

#include "http/http.h"
#include "http/transfers.h"
#include "platform/text.h"
#include "resources/errors.h"

namespace http {
namespace {

// Searched in this order.
constexpr std::array<VerbEntry, 15> kVerbs{{
    {"GET", Verb::Get},
    {"HEAD", Verb::Head},
    {"POST", Verb::Post},
    {"PUT", Verb::Put},
    {"COPY", Verb::Copy},
    {"OPTIONS", Verb::Options},
    {"MOVE", Verb::Move},
    {"LOCK", Verb::Lock},
    {"UNLOCK", Verb::Unlock},
    {"DELETE", Verb::Delete},
    {"MKCOL", Verb::Mkcol},
    {"PROPFIND", Verb::Propfind},
    {"BPROPFIND", Verb::Bpropfind},
    {"PROPPATCH", Verb::Proppatch},
    {"BPROPPATCH", Verb::Bproppatch},
}};

struct StatusRow {
    int status;
    int error;
};

// Searched in this order; a status not listed is no error below 400.
constexpr StatusRow kStatusErrors[] = {
    {200, 0},
    {201, 0},
    {202, 0},
    {203, 0},
    {204, 0},
    {300, 0},
    {301, fileErrorResourceRedirected},
    {302, fileErrorResourceRedirected},
    {303, fileErrorResourceRedirected},
    {307, fileErrorResourceRedirected},
    {308, fileErrorResourceRedirected},
    {101, fileErrorUnexpectedServerResponse},
    {304, fileErrorResourceNotModified},
    {305, fileErrorProxyRequired},
    {400, fileErrorInvalidCommand},
    {401, fileErrorCommandNotAuthorized},
    {402, fileErrorResourceRestricted},
    {403, fileErrorAccessDenied},
    {404, fileErrorResourceNotFound},
    {405, fileErrorInvalidCommand},
    {406, fileErrorInvalidResource},
    {407, fileErrorProxyAuthenticationRequired},
    {408, fileErrorOperationTimeout},
    {409, fileErrorResourceConflict},
    {410, fileErrorResourceRemoved},
    {411, fileErrorContentLengthRequired},
    {412, fileErrorRequestPrecondition},
    {415, fileErrorUnsupportedMediaType},
    {416, fileErrorInvalidContentRange},
    {500, fileErrorInvalidServerResponse},
    {502, fileErrorInvalidServerResponse},
    {501, fileErrorInvalidCommand},
    {503, fileErrorServiceUnavailable},
    {504, fileErrorOperationTimeout},
    {505, fileErrorInvalidProtocolVersion},
};

struct CodingRow {
    std::string_view name;
    int kind;
};

constexpr CodingRow kCodings[] = {
    {"identity", HTTP_ENCODING_IDENTITY}, {"gzip", HTTP_ENCODING_GZIP},
    {"x-gzip", HTTP_ENCODING_GZIP},       {"deflate", HTTP_ENCODING_DEFLATE},
    {"x-deflate", HTTP_ENCODING_DEFLATE}, {"zlib", HTTP_ENCODING_ZLIB},
    {"compress", HTTP_ENCODING_COMPRESS}, {"x-compress", HTTP_ENCODING_COMPRESS},
};

constexpr std::string_view kChunked = "chunked";

constexpr std::uint64_t kMaxChunkSize = std::numeric_limits<std::uint64_t>::max() >> 4;

std::string_view SkipBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    return text;
}

std::string_view TrimBlanks(std::string_view text) {
    return TrimmedOf(text, kHeaderBlanks);
}

}  // namespace

const VerbEntry* FindVerb(std::string_view verb) {
    auto it = std::find_if(kVerbs.begin(), kVerbs.end(),
                           [verb](const VerbEntry& e) { return EqualsIgnoringCase(e.name, verb); });
    return it == kVerbs.end() ? nullptr : &*it;
}

bool VerbSendsBody(Verb verb) {
    switch (verb) {
        case Verb::Post:
        case Verb::Put:
        case Verb::Propfind:
        case Verb::Bpropfind:
        case Verb::Proppatch:
        case Verb::Bproppatch:
            return true;
        default:
            return false;
    }
}

int StatusError(int status) {
    const auto* it = std::find_if(std::begin(kStatusErrors), std::end(kStatusErrors),
                                  [status](const StatusRow& row) { return row.status == status; });
    if (it != std::end(kStatusErrors)) return it->error;
    return status >= 400 ? fileErrorUnexpectedServerResponse : 0;
}

bool IsBlank(char c) {
    return kHeaderBlanks.find(c) != std::string_view::npos;
}

bool LineAssembler::Feed(char c) {
    if (complete_) {
        line_.clear();
        complete_ = quoted_ = inBlankRun_ = truncated_ = false;
    }
    if (c == '\r') return false;
    if (c == '\n') {
        complete_ = true;
        if (!line_.empty() && line_.back() == ' ' && !quoted_) line_.pop_back();
        return true;
    }
    if (c == '"') quoted_ = !quoted_;
    if (!quoted_ && c != '"' && IsBlank(c)) {
        if (line_.empty() || inBlankRun_) return false;
        inBlankRun_ = true;
        Keep(' ');
        return false;
    }
    inBlankRun_ = false;
    Keep(c);
    return false;
}

void LineAssembler::Keep(char c) {
    if (line_.size() >= kCapacity) {
        truncated_ = true;
        return;
    }
    line_.push_back(c);
}

std::optional<StatusLine> ParseStatusLine(std::string_view line) {
    if (!StartsWithIgnoringCase(line, "HTTP/")) return std::nullopt;
    StatusLine status;
    std::size_t blank = line.find_first_of(" \t");
    std::string_view rest =
        blank == std::string_view::npos ? std::string_view() : line.substr(blank);
    rest = SkipBlanks(rest);
    while (!rest.empty() && rest.front() >= '0' && rest.front() <= '9') {
        if (status.code < 100000) status.code = status.code * 10 + (rest.front() - '0');
        rest.remove_prefix(1);
    }
    rest = SkipBlanks(rest);
    status.reason.assign(rest.substr(0, std::min<std::size_t>(rest.size(), HTTP_MAX_REASON - 1)));
    return status;
}

std::optional<HeaderLine> ParseHeaderLine(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    return HeaderLine{TrimBlanks(line.substr(0, colon)), SkipBlanks(line.substr(colon + 1))};
}

ResponseHeadReader::Step ResponseHeadReader::Feed(char c) {
    if (step_ != Step::NeedMore) return step_;
    if (++bytes_ > kMaxBytes) return step_ = Step::Invalid;
    if (assembler_.Feed(c)) step_ = TakeLine(assembler_.line());
    return step_;
}

ResponseHeadReader::Step ResponseHeadReader::TakeLine(std::string_view line) {
    if (++lines_ > kMaxLines) return Step::Invalid;
    const bool expectStatus = !trailerOnly_ && !sawStatus_;
    if (line.empty()) {
        if (expectStatus) return Step::NeedMore;
        // Every interim answer but 101 (which switches protocols) is skipped.
        const bool interim = status_ >= 100 && status_ < 200 && status_ != 101;
        if (interim && !trailerOnly_) {
            sawStatus_ = false;
            headers_.clear();
            return Step::NeedMore;
        }
        return Step::Done;
    }
    if (expectStatus) {
        auto status = ParseStatusLine(line);
        if (!status) return Step::Invalid;
        status_ = status->code;
        reason_ = std::move(status->reason);
        statusLine_.assign(line);
        sawStatus_ = true;
        return Step::NeedMore;
    }
    if (auto header = ParseHeaderLine(line)) headers_.emplace_back(header->name, header->value);
    return Step::NeedMore;
}

std::optional<std::uint64_t> ParseChunkSize(std::string_view line) {
    line = SkipBlanks(line);
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (char c : line) {
        const int digit = HexDigitValue(c);
        if (digit < 0) break;
        if (value > kMaxChunkSize) return std::nullopt;
        value = value * 16 + static_cast<std::uint64_t>(digit);
        ++digits;
    }
    if (digits == 0) return std::nullopt;
    return value;
}

std::optional<std::uint64_t> ParseContentLength(std::string_view value) {
    value = TrimBlanks(value);
    if (value.empty()) return std::nullopt;
    std::uint64_t length = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return std::nullopt;
        if (length > (std::numeric_limits<std::uint64_t>::max() - 9) / 10) return std::nullopt;
        length = length * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return length;
}

int CodingKind(std::string_view name) {
    const auto* it =
        std::find_if(std::begin(kCodings), std::end(kCodings),
                     [name](const CodingRow& row) { return EqualsIgnoringCase(row.name, name); });
    return it == std::end(kCodings) ? -1 : it->kind;
}

namespace {

// The comma-separated elements of header values, trimmed, empty ones dropped.
std::vector<std::string_view> ListElements(const std::vector<std::string_view>& values) {
    std::vector<std::string_view> elements;
    for (std::string_view value : values) {
        while (!value.empty()) {
            const std::size_t comma = value.find(',');
            const std::string_view element = TrimBlanks(value.substr(0, comma));
            if (!element.empty()) elements.push_back(element);
            if (comma == std::string_view::npos) break;
            value.remove_prefix(comma + 1);
        }
    }
    return elements;
}

}  // namespace

BodyFraming ParseBodyFraming(const std::vector<std::string_view>& transferEncodings,
                             const std::vector<std::string_view>& contentLengths) {
    BodyFraming framing;
    const std::vector<std::string_view> codings = ListElements(transferEncodings);
    if (!codings.empty()) {
        for (std::size_t i = 0; i < codings.size(); ++i) {
            if (EqualsIgnoringCase(codings[i], kChunked)) {
                if (i + 1 != codings.size()) framing.invalid = true;
                framing.chunked = true;
                continue;
            }
            const int kind = CodingKind(codings[i]);
            if (kind < 0 || kind == HTTP_ENCODING_COMPRESS) framing.invalid = true;
            if (kind > 0) framing.transferCodings.push_back(kind);
        }
        // A coded body without chunks would end only with the connection, which
        // cannot tell a whole body from a cut-off one.
        if (!framing.chunked && !framing.transferCodings.empty()) framing.invalid = true;
        if (framing.chunked || framing.invalid) return framing;
    }
    for (std::string_view element : ListElements(contentLengths)) {
        const auto value = ParseContentLength(element);
        if (!value || (framing.length && *framing.length != *value)) {
            framing.invalid = true;
            framing.length.reset();
            return framing;
        }
        framing.length = value;
    }
    if (!contentLengths.empty() && !framing.length) framing.invalid = true;
    return framing;
}

}  // namespace http
