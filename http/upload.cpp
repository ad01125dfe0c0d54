// PUT uploads from memory or from a local file: the request with its length,
// the body under the transfer loop's rules, the response at the end.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "http/transfer_common.h"
#include "http/transfers.h"
#include "platform/file.h"
#include "resources/errors.h"

namespace http {
namespace {

constexpr std::size_t kMaxContentType = 127;

int BeginPut(const ClientRef& ref, std::string_view resource, std::uint64_t length,
             std::uint64_t offset) {
    HttpClientRecord& client = *ref;
    RequestHeaderScope range(client, "Range");
    if (offset != 0) range.Set("bytes=" + std::to_string(offset) + "-");
    if (offset == 0) range.Remove();
    RequestHeaderScope type(client, "Content-Type");
    if (!type.callerSet()) type.Set(ContentTypeOf(resource).substr(0, kMaxContentType));
    RequestHeaderScope contentLength(client, "Content-Length");
    contentLength.Set(std::to_string(length));
    SetRequestBody(client, nullptr, 0);
    const int status = SendRequest(ref, "PUT", resource, false);
    if (status < 0) return -1;
    client.contentLength = length;
    return status;
}

// Source of the body: fills the buffer, gives the count (0 at the end) or -1
// with the error set.
using PieceSource = std::function<std::int64_t(char* buffer, std::size_t size)>;

// Sends the body and reads the response. 0 or -1.
int SendPutBody(const ClientRef& ref, std::uint64_t length, const PieceSource& source) {
    HttpClientRecord& client = *ref;
    BeginBody(client, ConnectionState::Uploading, length);
    TransferPacer pacer(client);
    std::vector<char> piece(BodyPieceSize(client));
    int result = 0;
    for (std::uint64_t sent = 0; sent < length && result == 0;) {
        const std::size_t want = std::min<std::uint64_t>(piece.size(), length - sent);
        const std::int64_t got = source(piece.data(), want);
        if (got <= 0) {
            result = got < 0 ? -1 : Fail(fileErrorFileReadFailed);
            break;
        }
        const auto size = static_cast<std::size_t>(got);
        if (SendAll(client, piece.data(), size, piece.size()) != 0) {
            result = -1;
            break;
        }
        sent += size;
        client.bytesTransferred = sent;
        result = pacer.AfterPiece();
    }
    if (result != 0) {
        // No answer can come for a body that was cut short.
        SetState(client, ExchangeState::BodyCut);
        FinishKeepingError(ref);
        return -1;
    }
    RaiseEvent(client, HTTP_EVENT_PROGRESS, 0);
    // The response (its status decides) comes after the whole body.
    return FinishRequest(ref);
}

int PutData(const ClientRef& ref, std::string_view resource, const char* data, DWORD length) {
    if (BeginPut(ref, resource, length, 0) < 0) return -1;
    std::size_t at = 0;
    return SendPutBody(ref, length, [&](char* buffer, std::size_t size) {
        const std::size_t count = std::min<std::size_t>(size, length - at);
        std::copy_n(data + at, count, buffer);
        at += count;
        return static_cast<std::int64_t>(count);
    });
}

// Opens the file to upload: 0 or the error number.
int OpenSource(platform::LocalFile& file, const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (error || !std::filesystem::exists(status)) return fileErrorFileNotFound;
    if (!std::filesystem::is_regular_file(status)) return fileErrorInvalidFileType;
    const int opened =
        file.Open(path, platform::FileAccess::Read, platform::FileDisposition::OpenExisting);
    return opened == 0 ? 0 : fileErrorAccessDenied;
}

int PutFile(const ClientRef& ref, const std::string& path, std::string_view resource) {
    platform::LocalFile file;
    if (const int error = OpenSource(file, path)) return Fail(error);
    const std::int64_t size = file.Size();
    if (size < 0) return Fail(fileErrorFileReadFailed);
    const auto length = static_cast<std::uint64_t>(size);
    if (BeginPut(ref, resource, length, 0) < 0) return -1;
    return SendPutBody(ref, length, [&file](char* buffer, std::size_t want) {
        const std::int64_t got = file.Read(buffer, want);
        return got < 0 ? static_cast<std::int64_t>(Fail(fileErrorFileReadFailed)) : got;
    });
}

}  // namespace
}  // namespace http

using namespace http;

extern "C" {

int HttpBeginPut(HttpClient handle, const char* resource, uint64_t length, uint64_t restartOffset) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    if (IsEmptyText(resource)) return Fail(fileErrorInvalidResource);
    return BeginPut(client, resource, length, restartOffset);
}

int HttpPutData(HttpClient handle, const char* resource, const void* data, DWORD length) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    if (IsEmptyText(resource)) return Fail(fileErrorInvalidResource);
    if (!data || length == 0) return Fail(fileErrorInvalidParameter);
    return PutData(client, resource, static_cast<const char*>(data), length);
}

int HttpPutFile(HttpClient handle, const char* localFile, const char* resource) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    if (IsEmptyText(resource)) return Fail(fileErrorInvalidResource);
    if (IsEmptyText(localFile)) return Fail(fileErrorInvalidFileName);
    return PutFile(client, localFile, resource);
}

}  // extern "C"
