// A local file as a multipart/form-data POST: boundary, part header, the file
// in small pieces, the closing line, then the response (read and dropped).
#include <cstdio>
#include <string>
#include <vector>

#include "http/transfer_common.h"
#include "http/transfers.h"
#include "platform/file.h"
#include "platform/system.h"
#include "resources/errors.h"

namespace http {
namespace {

constexpr int kBuildNumber = 7210;
constexpr std::size_t kPostPiece = 512;
constexpr std::string_view kDefaultField = "File1";
// CR LF, the two pairs of hyphens and the CR LF of the closing line.
constexpr std::uint64_t kClosingExtra = 8;

std::string MakeBoundary(const HttpClientRecord& client) {
    const DWORD before = GetTickCount();
    const DWORD now = GetTickCount();
    char text[64];
    std::snprintf(text, sizeof text, "----=_TL%04d_%04d_%08lX_%08lX", kBuildNumber,
                  static_cast<int>(client.handle & 0xFFFF), static_cast<unsigned long>(now),
                  static_cast<unsigned long>(static_cast<DWORD>(before * 2)));
    return text;
}

std::string PartHeader(std::string_view boundary, std::string_view field,
                       std::string_view fileName) {
    std::string header = "--";
    header.append(boundary);
    header += "\r\nContent-Disposition: form-data; name=\"";
    header.append(field);
    header += "\"; filename=\"";
    header.append(fileName);
    header +=
        "\"\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: "
        "8bit\r\n\r\n";
    return header;
}

// Sends the file in pieces of 512 bytes. 0 or -1.
int SendFileBody(HttpClientRecord& client, platform::LocalFile& file, std::uint64_t size) {
    TransferPacer pacer(client);
    std::vector<char> piece(kPostPiece);
    for (std::uint64_t sent = 0; sent < size;) {
        const std::int64_t got = file.Read(piece.data(), piece.size());
        if (got <= 0) return Fail(fileErrorFileReadFailed);
        const auto count = static_cast<std::size_t>(
            std::min<std::uint64_t>(static_cast<std::uint64_t>(got), size - sent));
        if (SendAll(client, piece.data(), count) != 0) return -1;
        sent += count;
        client.bytesTransferred = sent;
        if (pacer.AfterPiece() != 0) return -1;
    }
    return 0;
}

// Reads the response to the upload and drops its body; a close during the
// body is no error. 0 or -1.
int ReadPostResponse(const ClientRef& ref) {
    HttpClientRecord& client = *ref;
    if (ReadResponse(ref) != 0) return -1;
    client.bytesTransferred = 0;
    TransferPacer pacer(client);
    EventSuppression quiet(client);
    const int received = ReceiveBody(client, pacer, [](const char*, std::size_t) { return true; });
    if (received != 0 && LastErrorNumber() != fileErrorConnectionClosed) return -1;
    return 0;
}

int PostFile(const ClientRef& ref, const std::string& path, std::string_view resource,
             std::string_view field) {
    HttpClientRecord& client = *ref;
    if (client.memoryDownload) return Fail(fileErrorOperationInProgress);
    platform::LocalFile file;
    if (file.Open(path, platform::FileAccess::Read, platform::FileDisposition::OpenExisting)) {
        return Fail(fileErrorFileNotFound);
    }
    const std::int64_t fileSize = file.Size();
    if (fileSize < 0) return Fail(fileErrorInvalidFileType);
    const auto size = static_cast<std::uint64_t>(fileSize);
    const std::string boundary = MakeBoundary(client);
    const std::string header = PartHeader(boundary, field, path);
    RequestHeaderScope type(client, "Content-Type");
    type.Set("multipart/form-data; boundary=" + boundary);
    RequestHeaderScope length(client, "Content-Length");
    length.Set(std::to_string(header.size() + boundary.size() + size + kClosingExtra));
    SetRequestBody(client, nullptr, 0);
    if (SendRequest(ref, "POST", resource, false) < 0) return -1;
    int result = SendAll(client, header.data(), header.size());
    BeginBody(client, ConnectionState::Posting, size);
    const DWORD startTick = client.startTick;
    if (result == 0) result = SendFileBody(client, file, size);
    if (result != 0) {
        SetState(client, ExchangeState::BodyCut);
        FinishKeepingError(ref);
        return -1;
    }
    client.endTick = GetTickCount();
    RaiseEvent(client, HTTP_EVENT_PROGRESS, 0);
    const DWORD endTick = client.endTick;
    SetState(client, ConnectionState::Idle);
    const std::string closing = "\r\n--" + boundary + "--\r\n";
    result = SendAll(client, closing.data(), closing.size());
    if (result == 0) result = ReadPostResponse(ref);
    if (client.released) return -1;
    FinishKeepingError(ref);
    // The counters show the upload, not the response.
    client.contentLength = client.bytesTransferred = size;
    client.restartOffset = 0;
    client.transferStarted = true;
    client.startTick = startTick;
    client.endTick = endTick;
    return result;
}

}  // namespace
}  // namespace http

using namespace http;

extern "C" {

int HttpPostFile(HttpClient handle, const char* localFile, const char* resource,
                 const char* fieldName, DWORD flags) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    if (IsEmptyText(resource)) return Fail(fileErrorInvalidResource);
    if (IsEmptyText(localFile)) return Fail(fileErrorInvalidFileName);
    if (flags != 0) return Fail(fileErrorOptionNotSupported);
    return PostFile(client, localFile, resource,
                    IsEmptyText(fieldName) ? kDefaultField : fieldName);
}

}  // extern "C"
