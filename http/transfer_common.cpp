// The pieces every transfer operation uses: see transfer_common.h.
#include "http/transfer_common.h"

#include <algorithm>
#include <array>

#include "http/transfers.h"
#include "platform/file.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/text.h"
#include "resources/errors.h"

namespace http {
namespace {

constexpr DWORD kProgressIntervalMs = 250;
constexpr std::size_t kInflateWindow = 8192;
constexpr int kRawWindowBits = -15;
constexpr int kAutoHeaderWindowBits = 15 + 32;

struct NamedKind {
    std::string_view name;
    int kind;
};

constexpr NamedKind kMediaClasses[] = {
    {"application", HTTP_MEDIA_APPLICATION},
    {"text", HTTP_MEDIA_TEXT},
    {"audio", HTTP_MEDIA_AUDIO},
    {"image", HTTP_MEDIA_IMAGE},
    {"message", HTTP_MEDIA_MESSAGE},
    {"multipart", HTTP_MEDIA_MULTIPART},
    {"video", HTTP_MEDIA_VIDEO},
};

template <std::size_t N>
int KindOf(const NamedKind (&table)[N], std::string_view value, int otherwise) {
    for (const NamedKind& row : table) {
        if (EqualsIgnoringCase(row.name, value)) return row.kind;
    }
    return otherwise;
}

std::string_view Trimmed(std::string_view text) {
    return TrimmedOf(text, kHeaderBlanks);
}

// The pause of the loop for a priority: background and low only.
DWORD PauseFor(int priority) {
    switch (priority) {
        case HTTP_PRIORITY_BACKGROUND:
            return 100;
        case HTTP_PRIORITY_LOW:
            return 20;
        default:
            return 0;
    }
}

void DispatchOneMessage() {
    MSG message{};
    if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

int ReceiveLengthOrClose(HttpClientRecord& client, TransferPacer& pacer, const BodySink& sink,
                         std::vector<char>& buffer) {
    for (;;) {
        const int got = ReadBodyBytes(client, buffer.data(), buffer.size());
        if (got < 0) {
            if (LastErrorNumber() == fileErrorConnectionClosed) break;
            return -1;
        }
        if (got == 0) break;
        if (!sink(buffer.data(), static_cast<std::size_t>(got))) return -1;
        if (pacer.AfterPiece() != 0) return -1;
    }
    if (client.lengthAnnounced && client.bytesTransferred < client.contentLength) {
        return Fail(fileErrorConnectionClosed);
    }
    return 0;
}

int ReceiveChunks(HttpClientRecord& client, TransferPacer& pacer, const BodySink& sink,
                  std::vector<char>& buffer) {
    for (;;) {
        const int64_t size = HttpReadChunkSize(client.handle);
        if (size < 0) return -1;
        if (size == 0) break;
        auto left = static_cast<std::uint64_t>(size);
        while (left > 0) {
            const auto want = static_cast<int>(std::min<std::uint64_t>(left, buffer.size()));
            const int got = ReadBodyBytes(client, buffer.data(), static_cast<std::size_t>(want));
            if (got < 0) return -1;
            if (got == 0) return Fail(fileErrorConnectionClosed);
            if (!sink(buffer.data(), static_cast<std::size_t>(got))) return -1;
            left -= static_cast<std::uint64_t>(got);
            if (pacer.AfterPiece() != 0) return -1;
        }
    }
    // The end of the stream before the last chunk is a cut-off body.
    return client.exchange == ExchangeState::BodyDone ? 0 : Fail(fileErrorConnectionClosed);
}

}  // namespace

int LocalFileError(int systemError) {
    const bool missing = systemError == platform::kFileErrorNotFound ||
                         systemError == platform::kFileErrorPathNotFound;
    return missing ? fileErrorFileNotFound : fileErrorAccessDenied;
}

namespace {

// The codings of a response, content codings first, identity left out.
std::vector<int> CodingsOf(const HttpClientRecord& client, std::string_view header) {
    std::vector<int> kinds;
    client.responseHeaders.ForEach([&](const std::string& name, const std::string& value) {
        if (!EqualsIgnoringCase(name, header)) return;
        std::string_view rest(value);
        while (!rest.empty()) {
            const std::size_t comma = rest.find(',');
            const std::string_view element = Trimmed(rest.substr(0, comma));
            if (!element.empty() && !EqualsIgnoringCase(element, "chunked")) {
                const int kind = CodingKind(element);
                if (kind != HTTP_ENCODING_IDENTITY) kinds.push_back(kind);
            }
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
    });
    return kinds;
}

}  // namespace

int EncodingKind(const HttpClientRecord& client) {
    std::vector<int> kinds = CodingsOf(client, "Content-Encoding");
    // An unknown content coding is handed over as it came.
    std::erase(kinds, -1);
    const std::vector<int> transfer = CodingsOf(client, "Transfer-Encoding");
    kinds.insert(kinds.end(), transfer.begin(), transfer.end());
    if (kinds.empty()) return HTTP_ENCODING_IDENTITY;
    return kinds.size() == 1 ? kinds.front() : HTTP_ENCODING_COMPRESS;
}

bool TransferCoded(const HttpClientRecord& client) {
    return !CodingsOf(client, "Transfer-Encoding").empty();
}

int MediaClass(const HttpClientRecord& client) {
    const std::string* value = client.responseHeaders.Find("Content-Type");
    const std::string guessed = value ? std::string() : ContentTypeOf(client.resource);
    std::string_view type = value ? std::string_view(*value) : std::string_view(guessed);
    type = Trimmed(type.substr(0, type.find('/')));
    return KindOf(kMediaClasses, type, HTTP_MEDIA_OTHER);
}

RequestHeaderScope::RequestHeaderScope(HttpClientRecord& client, std::string name)
    : client_(client), name_(std::move(name)) {
    if (const std::string* value = client_.requestHeaders.Find(name_)) saved_ = *value;
}

RequestHeaderScope::~RequestHeaderScope() {
    if (client_.released) return;
    if (saved_) {
        client_.requestHeaders.Set(name_, *saved_);
    } else {
        client_.requestHeaders.Remove(name_);
    }
}

void RequestHeaderScope::Set(std::string_view value) {
    client_.requestHeaders.Set(name_, value);
}

void RequestHeaderScope::Remove() {
    client_.requestHeaders.Remove(name_);
}

void BeginBody(HttpClientRecord& client, ConnectionState state, std::uint64_t length) {
    SetState(client, state);
    client.contentLength = length;
    client.bytesTransferred = 0;
    client.transferStarted = true;
    client.startTick = GetTickCount();
    client.endTick = 0;
    RaiseEvent(client, HTTP_EVENT_PROGRESS, 0);
}

TransferPacer::TransferPacer(HttpClientRecord& client)
    : client_(client), lastProgress_(GetTickCount()) {}

int TransferPacer::AfterPiece() {
    if (const DWORD pause = PauseFor(client_.priority)) {
        Sleep(pause);
        DispatchOneMessage();
    }
    if (client_.priority < HTTP_PRIORITY_CRITICAL &&
        GetTickCount() - lastProgress_ > kProgressIntervalMs) {
        lastProgress_ = GetTickCount();
        RaiseEvent(client_, HTTP_EVENT_PROGRESS, 0);
    }
    if (client_.cancelRequested) {
        client_.cancelRequested = false;
        RaiseEvent(client_, HTTP_EVENT_CANCEL, fileErrorOperationCanceled);
        return Fail(fileErrorOperationCanceled);
    }
    if (client_.released) return Fail(fileErrorNotConnected);
    return 0;
}

int ReceiveBody(HttpClientRecord& client, TransferPacer& pacer, const BodySink& sink) {
    std::vector<char> buffer(BodyPieceSize(client));
    return client.chunked ? ReceiveChunks(client, pacer, sink, buffer)
                          : ReceiveLengthOrClose(client, pacer, sink, buffer);
}

void FinishKeepingError(const ClientRef& client) {
    if (client->released) return;
    HttpErrorGuard keepError;
    FinishRequest(client);
}

Inflater::Inflater(const DecodeLimits& limits) : limits_(limits), window_(kInflateWindow) {
    ready_ = inflateInit2(&stream_, kAutoHeaderWindowBits) == Z_OK;
}

Inflater::~Inflater() {
    if (ready_) inflateEnd(&stream_);
}

int Inflater::Feed(const char* data, std::size_t size, bool finish, const BodySink& sink) {
    if (!ready_) return Z_MEM_ERROR;
    if (ended_) return Z_STREAM_END;
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    stream_.avail_in = static_cast<uInt>(size);
    const bool first = !fed_;
    fed_ = true;
    int result = Run(finish, sink);
    // Some servers send "deflate" bodies without the zlib header.
    if (result == Z_DATA_ERROR && first && !raw_ && stream_.total_out == 0 &&
        inflateReset2(&stream_, kRawWindowBits) == Z_OK) {
        raw_ = true;
        stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        stream_.avail_in = static_cast<uInt>(size);
        result = Run(finish, sink);
    }
    return result;
}

int Inflater::Run(bool finish, const BodySink& sink) {
    for (;;) {
        stream_.next_out = reinterpret_cast<Bytef*>(window_.data());
        stream_.avail_out = static_cast<uInt>(window_.size());
        int result = inflate(&stream_, finish ? Z_FINISH : Z_NO_FLUSH);
        if (result == Z_NEED_DICT) result = Z_DATA_ERROR;
        if (result < 0 && result != Z_BUF_ERROR) return result;
        const std::size_t produced = window_.size() - stream_.avail_out;
        if (!WithinLimits(produced)) return kLimitExceeded;
        decoded_ += produced;
        if (produced > 0 && !sink(window_.data(), produced)) return kSinkFailed;
        if (result == Z_STREAM_END) {
            ended_ = true;
            return Z_STREAM_END;
        }
        // A full window may have more behind it; otherwise the input is used up.
        if (stream_.avail_out != 0) break;
    }
    // With the last input given and no stream end, the stream was cut off.
    return finish ? Z_DATA_ERROR : Z_OK;
}

// Whether the output may grow by produced bytes: the size bound, and past
// the floor the ratio to the input read so far (a raw-deflate retry counts
// from its own start, which is the same input).
bool Inflater::WithinLimits(std::size_t produced) const {
    const std::uint64_t total = decoded_ + produced;
    if (limits_.maxSize != 0 && total > limits_.maxSize) return false;
    if (limits_.maxRatio == 0 || total <= DecodeLimits::kRatioFloor) return true;
    const std::uint64_t consumed = stream_.total_in;
    // consumed * ratio < total, without overflow.
    return consumed > UINT64_MAX / limits_.maxRatio || consumed * limits_.maxRatio >= total;
}

void LineEndConverter::Convert(const char* data, std::size_t size, std::string& out) {
    out.clear();
    out.reserve(size + size / 8 + 1);
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '\n' && last_ != '\r') out.push_back('\r');
        out.push_back(c);
        last_ = c;
    }
}

}  // namespace http

const char* HttpZlibVersion(void) {
    return zlibVersion();
}
