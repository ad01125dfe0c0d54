// Downloads: the body of a GET into memory (HttpGetData) or into a local file
// (HttpGetFile), with restart and transparent decoding.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "http/transfer_common.h"
#include "http/transfers.h"
#include "platform/file.h"
#include "resources/errors.h"

namespace http {
namespace {

constexpr std::string_view kAcceptEncoding = "gzip, deflate";
// An announced length reserves memory up front only up to this much.
constexpr std::uint64_t kMaxReserve = 256ull << 20;

// LF to CR LF for a whole text body, unless its first line already ends in
// CR LF; a last line without LF gets CR LF.
void ConvertTextBody(std::vector<char>& body) {
    if (body.empty()) return;
    const auto firstLf = std::find(body.begin(), body.end(), '\n');
    if (firstLf != body.end() && firstLf != body.begin() && *(firstLf - 1) == '\r') return;
    const auto lfCount = static_cast<std::size_t>(std::count(body.begin(), body.end(), '\n'));
    std::vector<char> converted;
    converted.reserve(body.size() + 2 * lfCount + 2);
    for (char c : body) {
        if (c == '\n') converted.push_back('\r');
        converted.push_back(c);
    }
    if (body.back() != '\n') {
        converted.push_back('\r');
        converted.push_back('\n');
    }
    body.swap(converted);
}

// Gives the body to the caller: a new block (*length 0) or a copy into the
// caller's buffer. 0 or -1.
int HandOver(const std::vector<char>& body, void* buffer, DWORD* length) {
    if (*length != 0) {
        const std::size_t count = std::min<std::size_t>(*length, body.size());
        if (count > 0) std::memcpy(buffer, body.data(), count);
        *length = static_cast<DWORD>(count);
        return 0;
    }
    // An empty body comes as no block at all.
    HGLOBAL block = nullptr;
    if (!body.empty()) {
        block = GlobalAlloc(GHND, body.size());
        void* address = block ? GlobalLock(block) : nullptr;
        if (!address) {
            GlobalFree(block);
            return Fail(fileErrorOutOfMemory);
        }
        std::memcpy(address, body.data(), body.size());
        GlobalUnlock(block);
    }
    *static_cast<HGLOBAL*>(buffer) = block;
    *length = static_cast<DWORD>(body.size());
    return 0;
}

// Decoding and text conversion after a download to memory. 0 or -1.
int FinishBody(const HttpClientRecord& client, bool compress, DWORD flags,
               std::vector<char>& body) {
    const int kind = EncodingKind(client);
    // A transfer coding is the connection's business: undone whether asked or not.
    if ((compress || TransferCoded(client)) && kind != HTTP_ENCODING_IDENTITY) {
        if (kind == HTTP_ENCODING_COMPRESS) return Fail(fileErrorInvalidEncodingType);
        std::vector<char> decoded;
        if (const int error = DecodeBytes(body.data(), body.size(), decoded, client.decodeLimits)) {
            return Fail(error);
        }
        body.swap(decoded);
        return 0;
    }
    const bool text = (flags & HTTP_GETDATA_CONVERT) != 0 && kind == HTTP_ENCODING_IDENTITY &&
                      MediaClass(client) == HTTP_MEDIA_TEXT;
    if (text) ConvertTextBody(body);
    return 0;
}

// A server whose body decoded past a limit gets no further request on this
// connection: the next one opens a new connection (keep-alive) or fails.
void DropAfterLimit(HttpClientRecord& client) {
    if (LastErrorNumber() != fileErrorDecodedSizeExceeded || client.closed) return;
    CloseConnection(client);
    client.closed = true;
}

int GetData(const ClientRef& ref, std::string_view resource, void* buffer, DWORD* length,
            DWORD flags) {
    HttpClientRecord& client = *ref;
    if (client.memoryDownload) return Fail(fileErrorOperationInProgress);
    const bool compress = ((flags & HTTP_GETDATA_COMPRESS) != 0 || client.compression) &&
                          client.version != HTTP_VERSION_09;
    MemoryDownloadScope running(client);
    RequestHeaderScope accept(client, "Accept-Encoding");
    if (compress) accept.Set(kAcceptEncoding);
    if (SendRequest(ref, "GET", resource, false) < 0) {
        FinishKeepingError(ref);
        return -1;
    }
    std::vector<char> body;
    if (client.lengthAnnounced) body.reserve(std::min(client.contentLength, kMaxReserve));
    BeginBody(client, ConnectionState::Downloading, client.contentLength);
    TransferPacer pacer(client);
    const int received = ReceiveBody(client, pacer, [&body](const char* data, std::size_t size) {
        body.insert(body.end(), data, data + size);
        return true;
    });
    if (received == 0) RaiseEvent(client, HTTP_EVENT_PROGRESS, 0);
    FinishKeepingError(ref);
    if (received != 0) return -1;
    if (FinishBody(client, compress, flags, body) != 0) {
        DropAfterLimit(client);
        return -1;
    }
    return HandOver(body, buffer, length);
}

// The start of a "bytes first-last/total" Content-Range, if it has one.
std::optional<std::uint64_t> ContentRangeStart(const HttpClientRecord& client) {
    const std::string* value = client.responseHeaders.Find("Content-Range");
    if (!value) return std::nullopt;
    std::string_view text(*value);
    if (!StartsWithIgnoringCase(text, "bytes")) return std::nullopt;
    text.remove_prefix(5);
    while (!text.empty() && (IsBlank(text.front()) || text.front() == '='))
        text.remove_prefix(1);
    std::uint64_t first = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), first);
    if (error != std::errc() || end == text.data()) return std::nullopt;
    return first;
}

// Where the body goes in the file: a partial answer continues at the restart
// offset; a whole answer (the server ignored the range) rewrites the file
// from its start. 0 or the error number.
int WritePosition(const HttpClientRecord& client, std::uint64_t offset, std::uint64_t& position) {
    position = 0;
    if (offset == 0) return 0;
    if (client.statusCode != 206) return 0;
    const auto start = ContentRangeStart(client);
    if (start && *start != offset) return fileErrorInvalidContentRange;
    position = offset;
    return 0;
}

// A restart needs the file it continues, whatever the server answers; a
// download from the start leaves an existing file alone until it completes.
int OpenTarget(platform::ReplacingFile& target, const std::string& path, std::uint64_t offset,
               std::uint64_t position) {
    using platform::FileAccess;
    using platform::FileDisposition;
    if (offset == 0) return target.Open(path) == 0 ? 0 : fileErrorFileNotCreated;
    platform::LocalFile& file = target.file();
    if (const int error = file.Open(path, FileAccess::ReadWrite, FileDisposition::OpenExisting)) {
        return LocalFileError(error);
    }
    const bool placed = position == 0 ? file.Truncate(0) : file.Seek(position);
    return placed ? 0 : fileErrorAccessDenied;
}

// Failures after which a restart can continue what arrived.
constexpr int kResumableErrors[] = {fileErrorConnectionClosed, fileErrorConnectionReset,
                                    fileErrorConnectionAborted, fileErrorOperationTimeout,
                                    fileErrorOperationCanceled};

// A failed download removes the file it created, unless it holds the
// beginning of the resource as sent (no coding undone) and the failure is one
// a restart continues from. A restart's file was the caller's: it stays, and
// so does a file the download was to replace.
void DropFailedFile(platform::ReplacingFile& target, const std::string& path, std::uint64_t offset,
                    bool resumable) {
    const bool replacing = target.replacing();
    target.Discard();
    if (offset != 0 || replacing) return;
    const int error = LastErrorNumber();
    const bool keep =
        resumable && std::find(std::begin(kResumableErrors), std::end(kResumableErrors), error) !=
                         std::end(kResumableErrors);
    if (!keep) std::remove(path.c_str());
}

// Receives the body into the open file: pieces smaller than a work buffer are
// gathered into one large write, a piece of a work buffer or more is written as
// it is when nothing waits before it. 0 or -1.
int ReceiveIntoFile(HttpClientRecord& client, platform::LocalFile& file) {
    std::vector<char> work;
    work.reserve(kGatherBufferSize);
    const auto write = [&](const char* data, std::size_t size) {
        return size == 0 || file.Write(data, size) ? true : (Fail(fileErrorFileWriteFailed), false);
    };
    const auto flush = [&]() {
        const bool written = write(work.data(), work.size());
        work.clear();
        return written;
    };
    TransferPacer pacer(client);
    const int received = ReceiveBody(client, pacer, [&](const char* data, std::size_t size) {
        if (work.empty() && size >= kWorkBufferSize) return write(data, size);
        work.insert(work.end(), data, data + size);
        return work.size() + kWorkBufferSize <= kGatherBufferSize || flush();
    });
    // What arrived before a failure is kept in the file as well.
    if (!flush()) return -1;
    return received;
}

int GetFile(const ClientRef& ref, const std::string& path, std::string_view resource,
            std::uint64_t offset) {
    HttpClientRecord& client = *ref;
    if (client.memoryDownload) return Fail(fileErrorOperationInProgress);
    if (offset != 0 && client.version == HTTP_VERSION_09) {
        return Fail(fileErrorOperationNotSupported);
    }
    const bool compress = client.compression && client.version != HTTP_VERSION_09 && offset == 0;
    RequestHeaderScope accept(client, "Accept-Encoding");
    if (compress) accept.Set(kAcceptEncoding);
    RequestHeaderScope range(client, "Range");
    if (offset != 0) range.Set("bytes=" + std::to_string(offset) + "-");
    if (offset == 0) range.Remove();
    if (SendRequest(ref, "GET", resource, false) < 0) {
        FinishKeepingError(ref);
        return -1;
    }
    // A redirect handed back is not the resource: nothing is written.
    if (StatusError(client.statusCode) == fileErrorResourceRedirected) {
        Fail(fileErrorResourceRedirected);
        FinishKeepingError(ref);
        return -1;
    }
    std::uint64_t position = 0;
    platform::ReplacingFile target;
    int error = WritePosition(client, offset, position);
    if (error == 0) error = OpenTarget(target, path, offset, position);
    if (error != 0) {
        Fail(error);
        FinishKeepingError(ref);
        return -1;
    }
    BeginBody(client, ConnectionState::Downloading, client.contentLength);
    client.restartOffset = position;
    const int received = ReceiveIntoFile(client, target.file());
    target.file().Close();
    FinishKeepingError(ref);
    const bool coded = EncodingKind(client) != HTTP_ENCODING_IDENTITY;
    if (received != 0) {
        DropFailedFile(target, path, offset, !coded && client.bytesTransferred > 0);
        return -1;
    }
    RaiseEvent(client, HTTP_EVENT_PROGRESS, 0);
    error = coded ? DecodeFileInPlace(target.writtenPath(), false, client.decodeLimits) : 0;
    // A commit that fails has removed the new file and left the old one.
    if (error == 0) return target.Commit() == 0 ? 0 : Fail(fileErrorFileWriteFailed);
    Fail(error);
    DropAfterLimit(client);
    DropFailedFile(target, path, offset, false);
    return -1;
}

}  // namespace
}  // namespace http

using namespace http;

extern "C" {

int HttpGetData(HttpClient handle, const char* resource, void* buffer, DWORD* length, DWORD flags) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    if (IsEmptyText(resource)) return Fail(fileErrorInvalidResource);
    if (!buffer || !length) return Fail(fileErrorInvalidParameter);
    return GetData(client, resource, buffer, length, flags);
}

int HttpGetFile(HttpClient handle, const char* localFile, const char* resource,
                uint64_t restartOffset) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    if (IsEmptyText(resource)) return Fail(fileErrorInvalidResource);
    if (IsEmptyText(localFile)) return Fail(fileErrorInvalidFileName);
    return GetFile(client, localFile, resource, restartOffset);
}

}  // extern "C"
