// Per-client settings: credentials, request and response headers, restart
// offset, priority, compression, and the transfer figures.
#include <algorithm>
#include <cstring>
#include <string>

#include "http/client.h"
#include "platform/system.h"
#include "platform/wipe.h"
#include "resources/errors.h"
#include "url/urlparts.h"

namespace http {
namespace {

constexpr std::size_t kMaxUser = HTTP_MAX_USERNAME - 1;
constexpr std::size_t kMaxPassword = HTTP_MAX_PASSWORD - 1;
constexpr std::uint32_t kUnknownEstimate = 3600;

std::string Truncated(const char* text, std::size_t capacity) {
    return text ? std::string(text, strnlen(text, capacity)) : std::string();
}

int GetHeader(const HeaderList& headers, const char* name, char* buffer, int* length) {
    if (!name || name[0] == '\0') return Fail(fileErrorInvalidParameter), 0;
    const std::string* value = headers.Find(name);
    if (!value) return Fail(fileErrorInvalidMessageHeader), 0;
    if (!length) return 1;
    if (!buffer) {
        *length = static_cast<int>(value->size());
        return 1;
    }
    if (*length < 0 || static_cast<std::size_t>(*length) <= value->size()) {
        return Fail(fileErrorInvalidParameter), 0;
    }
    std::memcpy(buffer, value->data(), value->size());
    buffer[value->size()] = '\0';
    *length = static_cast<int>(value->size());
    return 1;
}

std::uint32_t Clamp32(std::uint64_t value) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, 0xFFFFFFFFu));
}

HttpTransferStatus TransferFigures(const HttpClientRecord& client) {
    HttpTransferStatus status{};
    if (!client.transferStarted) return status;
    const std::uint64_t copied = client.bytesTransferred + client.restartOffset;
    const std::uint64_t total = std::max(client.contentLength + client.restartOffset, copied);
    const DWORD end = client.endTick != 0 ? client.endTick : GetTickCount();
    status.totalBytes = Clamp32(total);
    status.bytesCopied = Clamp32(copied);
    status.elapsedSeconds = (end - client.startTick) / 1000;
    if (status.elapsedSeconds == 0) return status;
    status.bytesPerSecond = Clamp32(copied / status.elapsedSeconds);
    status.secondsLeft = copied == 0 || status.bytesPerSecond == 0
                             ? kUnknownEstimate
                             : Clamp32((total - copied) / status.bytesPerSecond);
    return status;
}

}  // namespace
}  // namespace http

using namespace http;

extern "C" {

int HttpSetCredentials(HttpClient handle, const char* user, const char* password) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    WipeString(client->password);
    client->user = Truncated(user, kMaxUser);
    client->password = Truncated(password, kMaxPassword);
    client->basicAuth = !client->user.empty() || !client->password.empty();
    return 0;
}

int HttpSetRequestHeader(HttpClient handle, const char* name, const char* value) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    if (!name || name[0] == '\0') return Fail(fileErrorInvalidParameter);
    if (!value || value[0] == '\0') {
        client->requestHeaders.Remove(name);
    } else {
        client->requestHeaders.Set(name, value);
    }
    return 0;
}

int HttpGetRequestHeader(HttpClient handle, const char* name, char* buffer, int* length) {
    ClientRef client = LookupClient(handle);
    if (!client) return 0;
    return GetHeader(client->requestHeaders, name, buffer, length);
}

int HttpGetResponseHeader(HttpClient handle, const char* name, char* buffer, int* length) {
    ClientRef client = LookupClient(handle);
    if (!client) return 0;
    return GetHeader(client->responseHeaders, name, buffer, length);
}

int HttpClearHeaders(HttpClient handle, int which) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    switch (which) {
        case 0:
            client->requestHeaders.Clear();
            return 0;
        case 1:
            client->responseHeaders.Clear();
            return 0;
        default:
            return Fail(fileErrorInvalidParameter);
    }
}

int HttpSetRestartOffset(HttpClient handle, uint64_t offset) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    if (offset == UINT64_MAX) return Fail(fileErrorInvalidContentRange);
    if (offset == 0) {
        client->requestHeaders.Remove("Range");
    } else {
        client->requestHeaders.Set("Range", "bytes=" + std::to_string(offset) + "-");
    }
    client->restartOffset = offset;
    return 0;
}

int HttpGetPriority(HttpClient handle) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    return client->priority;
}

int HttpSetPriority(HttpClient handle, int priority) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    if (priority < HTTP_PRIORITY_BACKGROUND || priority > HTTP_PRIORITY_CRITICAL) {
        return Fail(fileErrorInvalidParameter);
    }
    return std::exchange(client->priority, priority);
}

int HttpEnableCompression(HttpClient handle, BOOL enable) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    client->compression = enable != 0;
    return 0;
}

int HttpSetDecodeLimits(HttpClient handle, uint64_t maxSize, uint32_t maxRatio) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    client->decodeLimits.maxSize = maxSize;
    client->decodeLimits.maxRatio = maxRatio;
    return 0;
}

int HttpGetTransferTotals64(HttpClient handle, uint64_t* totalBytes, uint64_t* bytesCopied) {
    ClientRef client = LookupClientAnyThread(handle);
    if (!client) return 0;
    if (!totalBytes || !bytesCopied) return Fail(fileErrorInvalidParameter), 0;
    *totalBytes = *bytesCopied = 0;
    if (!client->transferStarted) return 1;
    *bytesCopied = client->bytesTransferred + client->restartOffset;
    *totalBytes = std::max(client->contentLength + client->restartOffset, *bytesCopied);
    return 1;
}

int HttpGetTransferStatus(HttpClient handle, HttpTransferStatus* status) {
    ClientRef client = LookupClient(handle);
    if (!client) return 0;
    if (!status) return Fail(fileErrorInvalidParameter), 0;
    *status = TransferFigures(*client);
    return 1;
}

}  // extern "C"
