// Reading responses: the header block through the line assembler, the status
// mapping, redirects, the end of a request, and the body primitives.
#include <algorithm>
#include <cstring>
#include <string>

#include "http/client.h"
#include "http/url.h"
#include "platform/system.h"
#include "resources/errors.h"

namespace http {
namespace {

constexpr int kMaxRedirects = 4;
constexpr std::size_t kMaxChunkLine = 256;
constexpr int kMaxEmptyChunkLines = 2;

void StoreResponseHeader(HttpClientRecord& client, const std::string& name,
                         const std::string& value) {
    client.responseHeaders.Append(name, value);
    if (EqualsIgnoringCase(name, "Transfer-Encoding")) {
        client.chunked = EqualsIgnoringCase(value, "chunked");
    }
}

// Reads a header block (or a chunked body's trailer) from the connection.
// 0, or -1 with the error set.
int ReadHeaderBlock(HttpClientRecord& client, bool trailerOnly) {
    ResponseHeadReader reader(client.AtLeast(1, 1), trailerOnly);
    while (reader.step() == ResponseHeadReader::Step::NeedMore) {
        char c = 0;
        const int got = ReadByte(client, c);
        if (got < 0) return -1;
        if (got == 0) {
            return Fail(reader.sawStatus() || trailerOnly ? fileErrorConnectionClosed
                                                          : fileErrorNoServerResponse);
        }
        reader.Feed(c);
    }
    if (reader.step() == ResponseHeadReader::Step::Invalid) {
        return Fail(fileErrorInvalidServerResponse);
    }
    if (!trailerOnly) {
        client.statusCode = reader.status();
        client.reason = reader.reason();
    }
    for (const auto& [name, value] : reader.headers())
        StoreResponseHeader(client, name, value);
    return 0;
}

// What the status line and headers say about the body to come.
void NoteBodyFraming(HttpClientRecord& client) {
    const int status = client.statusCode;
    if (const std::string* connection = client.responseHeaders.Find("Connection")) {
        if (EqualsIgnoringCase(*connection, "close")) client.keepAlive = false;
    }
    if (status < 200 || status == 204 || status == 304) {
        client.lengthAnnounced = true;
        client.contentLength = 0;
        return;
    }
    const std::string* length = client.responseHeaders.Find("Content-Length");
    if (!length || client.chunked) return;
    if (auto value = ParseContentLength(*length)) {
        client.contentLength = *value;
        client.lengthAnnounced = true;
    }
}

int HandleRedirect(const ClientRef& client, bool mayFollow) {
    if (client->redirectCount >= kMaxRedirects) {
        Fail(fileErrorResourceRedirected);
        RaiseEvent(*client, HTTP_EVENT_COMMAND, fileErrorResourceRedirected);
        return -1;
    }
    RaiseEvent(*client, HTTP_EVENT_COMMAND, 0);
    RaiseEvent(*client, HTTP_EVENT_REDIRECT, 0);
    const std::string* location = client->responseHeaders.Find("Location");
    if (!mayFollow || !client->HasOption(HTTP_OPTION_REDIRECT) || !location) return 1;
    const std::string target = *location;
    return FollowRedirect(client, target) < 0 ? -1 : 0;
}

bool BodyComplete(const HttpClientRecord& client) {
    if (!client.bodyPending || client.verb == Verb::Head) return true;
    if (client.closed || client.lastChunkRead) return true;
    if (client.chunked) return false;
    if (client.lengthAnnounced) return client.bytesTransferred >= client.contentLength;
    // A body without length or chunks ends only with the connection.
    return false;
}

// One line of a chunked body, without CR: 1, 0 at the end of the stream
// before any character, -1 with the error set.
int ReadChunkLine(HttpClientRecord& client, std::string& line) {
    line.clear();
    bool any = false;
    for (;;) {
        char c = 0;
        const int got = ReadByte(client, c);
        if (got < 0) return -1;
        if (got == 0) return any ? Fail(fileErrorConnectionClosed) : 0;
        any = true;
        if (c == '\n') return 1;
        if (c == '\r') continue;
        if (line.size() >= kMaxChunkLine) return Fail(fileErrorInvalidServerResponse);
        line.push_back(c);
    }
}

}  // namespace

int ReadResponse(const ClientRef& client, bool mayFollow) {
    if (!client->responsePending && !client->chunked) return 0;
    const bool trailerOnly = !client->responsePending;
    {
        BlockingScope blocking(*client);
        EventSuppression suppressed(*client);
        client->readingHeader = true;
        const int result = ReadHeaderBlock(*client, trailerOnly);
        client->readingHeader = false;
        if (result != 0) return -1;
    }
    if (trailerOnly) {
        client->chunked = false;
        return 0;
    }
    client->responsePending = false;
    client->errorResponse = client->statusCode >= 400;
    const int error = client->HasOption(HTTP_OPTION_NOERRORS) ? 0 : StatusError(client->statusCode);
    if (error == fileErrorResourceRedirected) {
        const int redirect = HandleRedirect(client, mayFollow);
        if (redirect <= 0) return redirect;
    } else if (error != 0) {
        Fail(error);
        RaiseEvent(*client, HTTP_EVENT_COMMAND, error);
        return -1;
    } else {
        RaiseEvent(*client, HTTP_EVENT_COMMAND, 0);
    }
    client->redirectCount = 0;
    if (client->verb == Verb::Head || client->verb == Verb::Put) return 0;
    NoteBodyFraming(*client);
    return 0;
}

int FollowRedirect(const ClientRef& client, std::string_view location) {
    if (location.empty()) return Fail(fileErrorInvalidResource);
    if (client->blockingCall) return Fail(fileErrorOperationInProgress);
    const std::size_t blank = client->requestLine.find(' ');
    if (blank == std::string::npos) return Fail(fileErrorInvalidCommand);
    const std::string verb = client->requestLine.substr(0, blank);
    std::string resource(location);
    if (location.front() != '/') {
        HttpUrlRecord* url = nullptr;
        if (!HttpIsUrl(resource.c_str()) || !HttpParseUrl(resource.c_str(), &url) || !url->host) {
            HttpFreeUrl(url);
            return Fail(fileErrorInvalidResource);
        }
        client->host = url->host;
        client->serverPort = url->port;
        resource = url->path ? url->path : "/";
        if (url->query) resource += std::string("?") + url->query;
        const bool https = url->scheme == HTTP_SCHEME_HTTPS;
        HttpFreeUrl(url);
        const int family = client->HasOption(HTTP_OPTION_IPV6ONLY) ? NET_FAMILY_IPV6 : 0;
        if (!client->viaProxy() &&
            NetResolveHost(client->host.c_str(), family, &client->serverAddress) < 0) {
            Fail(fileErrorInvalidHostName);
            ReleaseClient(client);
            return -1;
        }
        if (https && !client->credentials && !PrepareTls(*client, nullptr)) {
            ReleaseClient(client);
            return -1;
        }
        client->options = https ? client->options | HTTP_OPTION_SECURE
                                : client->options & ~static_cast<std::uint32_t>(HTTP_OPTION_SECURE);
    }
    if (ReopenConnection(client) != 0) return -1;
    client->requestHeaders.Remove("Host");
    client->responseHeaders.Clear();
    ++client->redirectCount;
    return SendRequest(client, verb, resource, true);
}

int FinishRequest(const ClientRef& ref) {
    HttpClientRecord& client = *ref;
    if (client.blockingCall) return Fail(fileErrorOperationInProgress);
    int result = 0;
    if (client.verb == Verb::Put && client.responsePending) result = ReadResponse(ref, false);
    if (!BodyComplete(client) || !client.keepAlive) {
        CloseConnection(client);
        client.closed = true;
    } else {
        client.reused = true;
    }
    client.bodyPending = false;
    client.responsePending = false;
    client.chunked = false;
    SetState(client, ConnectionState::Idle);
    client.endTick = GetTickCount();
    return result;
}

}  // namespace http

using namespace http;

extern "C" {

int HttpReadResponse(HttpClient handle) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    return ReadResponse(client);
}

int HttpFollowRedirect(HttpClient handle, const char* location) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    return FollowRedirect(client, location ? std::string_view(location) : std::string_view());
}

int HttpFinishRequest(HttpClient handle) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    return FinishRequest(client);
}

int HttpGetResultCode(HttpClient handle) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    if (client->responsePending) ReadResponse(client);
    return client->statusCode;
}

int HttpGetResultString(HttpClient handle, char* buffer) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    if (!buffer) return Fail(fileErrorInvalidParameter);
    if (client->responsePending) ReadResponse(client);
    const std::size_t length = std::min<std::size_t>(client->reason.size(), HTTP_MAX_REASON - 1);
    std::memcpy(buffer, client->reason.data(), length);
    buffer[length] = '\0';
    return static_cast<int>(length);
}

int HttpSend(HttpClient handle, const void* data, int length) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    if (!data || length < 0) return Fail(fileErrorInvalidParameter);
    if (client->closed) return Fail(fileErrorConnectionClosed);
    BlockingScope blocking(*client);
    if (SendAll(*client, static_cast<const char*>(data), static_cast<std::size_t>(length)) != 0) {
        return -1;
    }
    client->bytesTransferred += static_cast<std::uint64_t>(length);
    return length;
}

int HttpRecv(HttpClient handle, void* buffer, int length) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    if (!buffer || length < 0) return Fail(fileErrorInvalidParameter);
    if (client->closed) return Fail(fileErrorConnectionClosed);
    std::size_t wanted = static_cast<std::size_t>(length);
    if (!client->responsePending && client->lengthAnnounced && !client->chunked) {
        if (client->bytesTransferred >= client->contentLength) return 0;
        wanted = static_cast<std::size_t>(
            std::min<std::uint64_t>(wanted, client->contentLength - client->bytesTransferred));
    }
    BlockingScope blocking(*client);
    if (!client->transferStarted) {
        client->transferStarted = true;
        client->startTick = GetTickCount();
    }
    const int got = ReceiveSome(*client, static_cast<char*>(buffer), wanted);
    if (got > 0 && !client->readingHeader) {
        client->bytesTransferred += static_cast<std::uint64_t>(got);
    }
    return got;
}

int64_t HttpReadChunkSize(HttpClient handle) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    if (client->closed) return 0;
    std::string line;
    int got = 0;
    {
        BlockingScope blocking(*client);
        for (int empty = 0; empty <= kMaxEmptyChunkLines; ++empty) {
            got = ReadChunkLine(*client, line);
            if (got <= 0 || !line.empty()) break;
        }
    }
    if (got < 0) return -1;
    if (got == 0) return 0;
    const auto size = ParseChunkSize(line);
    if (!size) return Fail(fileErrorInvalidServerResponse);
    if (*size == 0) {
        if (ReadResponse(client) != 0) return -1;
        client->lastChunkRead = true;
    }
    return static_cast<int64_t>(*size);
}

}  // extern "C"
