// What the transfer operations share: argument checks, the transfer loop's
// pacing (pause, message pump, progress, cancel), reading a response body to
// its end, request headers that last for one request, the response's
// content-encoding kind and media class, and the inflate stream.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http/client.h"

namespace http {

inline constexpr std::size_t kWorkBufferSize = 32768;
// Downloads gather pieces smaller than a work buffer (TLS records) up to this
// much before each file write.
inline constexpr std::size_t kGatherBufferSize = 256 * 1024;

// A null or empty text (resource, file or field name).
inline bool IsEmptyText(const char* text) {
    return !text || text[0] == '\0';
}

// The error of a local file that could not be opened or measured: missing
// file or path 10002, anything else 10013.
int LocalFileError(int systemError);

// The content type of a name's extension (content_type.cpp).
std::string ContentTypeOf(std::string_view name);
// The mapping files read before the built-in table, first match first (empty:
// ~/.mime.types and /etc/mime.types); read again at the next lookup.
void SetContentTypeFiles(std::vector<std::string> files);

// The response's content-encoding kind (HTTP_ENCODING_*) and media class
// (HTTP_MEDIA_*; from the request path's extension when the response has no
// Content-Type).
// Content and transfer codings count together; a body coded twice over is
// HTTP_ENCODING_COMPRESS (which the engine does not undo).
int EncodingKind(const HttpClientRecord& client);
// The response came with a transfer coding besides chunked.
bool TransferCoded(const HttpClientRecord& client);
int MediaClass(const HttpClientRecord& client);

// Sets a request header for one request; the caller's value (or its absence)
// comes back when the scope ends.
class RequestHeaderScope {
  public:
    RequestHeaderScope(HttpClientRecord& client, std::string name);
    ~RequestHeaderScope();
    RequestHeaderScope(const RequestHeaderScope&) = delete;
    RequestHeaderScope& operator=(const RequestHeaderScope&) = delete;
    void Set(std::string_view value);
    void Remove();
    bool callerSet() const { return saved_.has_value(); }

  private:
    HttpClientRecord& client_;
    std::string name_;
    std::optional<std::string> saved_;
};

// Marks an in-memory download of the client for its duration.
class MemoryDownloadScope {
  public:
    explicit MemoryDownloadScope(HttpClientRecord& client) : client_(client) {
        client_.memoryDownload = true;
    }
    ~MemoryDownloadScope() { client_.memoryDownload = false; }
    MemoryDownloadScope(const MemoryDownloadScope&) = delete;
    MemoryDownloadScope& operator=(const MemoryDownloadScope&) = delete;

  private:
    HttpClientRecord& client_;
};

// The body's transfer state from the start of the body: the connection state,
// start tick and counters; the first progress event is raised.
void BeginBody(HttpClientRecord& client, ConnectionState state, std::uint64_t length);

// Runs after every piece of a body: the pause and one dispatched message for
// background and low priority, progress at most every 250 ms (none at
// critical priority), and the cancel check (event 32, error 10004).
class TransferPacer {
  public:
    explicit TransferPacer(HttpClientRecord& client);
    // 0, or -1 with the error set when the transfer was cancelled.
    int AfterPiece();

  private:
    HttpClientRecord& client_;
    DWORD lastProgress_;
};

// Receives the response body to its end, piece by piece (at most
// BodyPieceSize bytes a receive), handing each piece to the sink (false: the sink set the error).
// A body shorter than its Content-Length, or a chunked body without its last
// chunk, fails with fileErrorConnectionClosed. 0 or -1.
using BodySink = std::function<bool(const char* data, std::size_t size)>;
int ReceiveBody(HttpClientRecord& client, TransferPacer& pacer, const BodySink& sink);

// Ends a request the way HttpFinishRequest does, keeping the error met so far.
void FinishKeepingError(const ClientRef& client);

// One inflate stream: zlib and gzip headers are recognised by themselves; a
// stream without either is taken as raw deflate. The limits bound what it
// hands to the sink.
class Inflater {
  public:
    static constexpr int kSinkFailed = -100;
    static constexpr int kLimitExceeded = -101;
    explicit Inflater(const DecodeLimits& limits = DecodeLimits());
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    bool ready() const { return ready_; }
    // Inflates the input, handing every produced window (up to 8192 bytes) to
    // the sink. finish: this is the last input. Z_STREAM_END when the stream
    // is complete, Z_OK when it wants more input, kSinkFailed, kLimitExceeded
    // (the window that would pass a limit is not handed over), or a negative
    // zlib result for corrupt or (finish) truncated data.
    int Feed(const char* data, std::size_t size, bool finish, const BodySink& sink);

  private:
    int Run(bool finish, const BodySink& sink);
    bool WithinLimits(std::size_t produced) const;
    DecodeLimits limits_;
    std::uint64_t decoded_ = 0;
    z_stream stream_{};
    bool ready_ = false;
    bool raw_ = false;
    bool fed_ = false;
    bool ended_ = false;
    std::vector<char> window_;
};

// Inflates a whole block (decode.cpp): 0, or the error number. A block
// never grows past 4 GiB - 1 (its length travels as a DWORD).
int DecodeBytes(const char* data, std::size_t size, std::vector<char>& decoded,
                const DecodeLimits& limits);
// Inflates a downloaded file in place: 0, or the error number (the file then
// stays as it was).
int DecodeFileInPlace(const std::string& name, bool text, const DecodeLimits& limits);

// LF to CR LF over a stream: a CR goes before every LF that does not follow
// a CR; the last byte is carried from one piece to the next.
class LineEndConverter {
  public:
    void Convert(const char* data, std::size_t size, std::string& out);

  private:
    char last_ = '\0';
};

}  // namespace http
