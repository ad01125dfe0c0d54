// Facts about a remote resource: size and modification time (HEAD), removal
// (DELETE), and a size comparison with a local file.
#include <algorithm>
#include <cstring>
#include <string>

#include "http/dates.h"
#include "http/transfer_common.h"
#include "http/transfers.h"
#include "platform/file.h"
#include "resources/errors.h"

namespace http {
namespace {

constexpr std::size_t kMaxDateText = 127;

// Sends a HEAD request on a usable connection and leaves a fresh one behind
// when keep-alive is off. The status, or -1.
int Head(const ClientRef& ref, std::string_view resource) {
    HttpClientRecord& client = *ref;
    if (client.version == HTTP_VERSION_09) return Fail(fileErrorInvalidProtocolVersion);
    if ((client.closed || client.socket == INVALID_SOCKET) && ReopenConnection(ref) != 0) {
        return -1;
    }
    const int status = SendRequest(ref, "HEAD", resource, false);
    if (status < 0 || client.released) return -1;
    FinishRequest(ref);
    if (!client.HasOption(HTTP_OPTION_KEEPALIVE) && ReopenConnection(ref) != 0) return -1;
    return status;
}

int FileSize(const ClientRef& ref, std::string_view resource, std::uint64_t& size) {
    size = 0;
    const int status = Head(ref, resource);
    if (status < 0) return -1;
    if (const std::string* length = ref->responseHeaders.Find("Content-Length")) {
        size = ParseContentLength(*length).value_or(0);
    }
    return status;
}

// The Last-Modified time of the last response, if it has a readable one.
bool LastModified(const HttpClientRecord& client, bool local, SYSTEMTIME& time) {
    const std::string* value = client.responseHeaders.Find("Last-Modified");
    if (!value) return false;
    const std::string text = value->substr(0, kMaxDateText);
    int64_t parsed = 0;
    long zone = 0;
    return HttpParseDate(text.c_str(), local ? TRUE : FALSE, &parsed, &zone) == 1 &&
           HttpTimeToSystemTime(parsed, &time) == 1;
}

}  // namespace
}  // namespace http

using namespace http;

extern "C" {

int HttpGetFileSize64(HttpClient handle, const char* resource, uint64_t* size) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    if (IsEmptyText(resource)) return Fail(fileErrorInvalidResource);
    if (!size) return Fail(fileErrorInvalidParameter);
    *size = 0;
    std::uint64_t found = 0;
    const int status = FileSize(client, resource, found);
    if (status >= 0) *size = found;
    return status;
}

int HttpGetFileSize(HttpClient handle, const char* resource, DWORD* size) {
    if (!size) return Fail(fileErrorInvalidParameter);
    *size = 0;
    uint64_t size64 = 0;
    const int status = HttpGetFileSize64(handle, resource, &size64);
    if (status >= 0) *size = static_cast<DWORD>(std::min<uint64_t>(size64, 0xFFFFFFFFu));
    return status;
}

int HttpGetFileTime(HttpClient handle, const char* resource, SYSTEMTIME* time, BOOL localTime) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    if (IsEmptyText(resource)) return Fail(fileErrorInvalidResource);
    if (!time) return Fail(fileErrorInvalidParameter);
    *time = SYSTEMTIME{};
    const int status = Head(client, resource);
    if (status < 0) return -1;
    SYSTEMTIME found{};
    if (LastModified(*client, localTime != 0, found)) *time = found;
    return status;
}

int HttpDeleteFile(HttpClient handle, const char* resource) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    if (IsEmptyText(resource)) return Fail(fileErrorInvalidResource);
    const int status = SendRequest(client, "DELETE", resource, false);
    if (status < 0) {
        FinishKeepingError(client);
        return -1;
    }
    FinishKeepingError(client);
    return status;
}

int HttpVerifyFile(HttpClient handle, const char* localFile, const char* resource, DWORD flags) {
    ClientRef client = LookupClient(handle);
    if (!client) return 0;
    if (flags != 0) return Fail(fileErrorInvalidParameter);
    if (IsEmptyText(localFile)) return Fail(fileErrorInvalidFileName), 0;
    if (IsEmptyText(resource)) return Fail(fileErrorInvalidResource), 0;
    int systemError = 0;
    const std::int64_t localSize = platform::FileSizeOf(localFile, &systemError);
    if (localSize < 0) return Fail(LocalFileError(systemError)), 0;
    uint64_t remoteSize = 0;
    if (HttpGetFileSize64(handle, resource, &remoteSize) < 0) return 0;
    if (static_cast<uint64_t>(localSize) != remoteSize) return Fail(fileErrorFileSizeMismatch), 0;
    HttpSetLastError(0);
    return 1;
}

}  // extern "C"
