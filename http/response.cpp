// Reading responses: the header block through the line assembler, the status
// mapping, redirects, the end of a request, and the body primitives.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "http/client.h"
#include "http/proxy_config.h"
#include "http/reference.h"
#include "http/url.h"
#include "net/transcript.h"
#include "platform/system.h"
#include "platform/wipe.h"
#include "resources/errors.h"
#include "url/urlparts.h"

namespace http {
namespace {

constexpr int kMaxRedirects = 4;
constexpr std::size_t kMaxChunkLine = 256;
constexpr int kMaxEmptyChunkLines = 2;

void StoreResponseHeader(HttpClientRecord& client, const std::string& name,
                         const std::string& value) {
    client.responseHeaders.Append(name, value);
}

// Every value of a response header, in order.
std::vector<std::string_view> ValuesOf(const HeaderList& headers, std::string_view name) {
    std::vector<std::string_view> values;
    headers.ForEach([&](const std::string& key, const std::string& value) {
        if (EqualsIgnoringCase(key, name)) values.emplace_back(value);
    });
    return values;
}

// Reads a header block (or a chunked body's trailer) from the connection.
// 0, or -1 with the error set.
int ReadHeaderBlock(HttpClientRecord& client, bool trailerOnly) {
    ResponseHeadReader reader(trailerOnly);
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
        NetTranscriptLines(NET_TRANSCRIPT_RECEIVED, reader.statusLine().data(),
                           reader.statusLine().size());
    }
    if (NetTranscriptActive()) {
        for (const auto& [name, value] : reader.headers()) {
            const std::string line = name + ": " + value;
            NetTranscriptLines(NET_TRANSCRIPT_RECEIVED, line.data(), line.size());
        }
    }
    for (const auto& [name, value] : reader.headers())
        StoreResponseHeader(client, name, value);
    return 0;
}

// What the status line and headers say about the body to come. 0, or -1
// with the error set for a framing the engine cannot read safely.
int NoteBodyFraming(HttpClientRecord& client) {
    const int status = client.statusCode;
    if (const std::string* connection = client.responseHeaders.Find("Connection")) {
        if (EqualsIgnoringCase(*connection, "close")) client.keepAlive = false;
    }
    client.chunked = false;
    if (status < 200 || status == 204 || status == 304) {
        client.lengthAnnounced = true;
        client.contentLength = 0;
        return 0;
    }
    const BodyFraming framing =
        ParseBodyFraming(ValuesOf(client.responseHeaders, "Transfer-Encoding"),
                         ValuesOf(client.responseHeaders, "Content-Length"));
    if (framing.invalid) {
        client.keepAlive = false;
        return Fail(fileErrorInvalidServerResponse);
    }
    client.chunked = framing.chunked;
    if (framing.length) {
        client.contentLength = *framing.length;
        client.lengthAnnounced = true;
    }
    return 0;
}

bool HandsRedirectsBack(Verb verb) {
    return verb == Verb::Get || verb == Verb::Head;
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
    if (!mayFollow || !client->HasOption(HTTP_OPTION_REDIRECT) || !location) {
        // A GET or HEAD hands the answer back; any other method did not do
        // what was asked (nothing stored, posted or deleted).
        return HandsRedirectsBack(client->verb) ? 1 : Fail(fileErrorResourceRedirected);
    }
    const std::string target = *location;
    return FollowRedirect(client, target) < 0 ? -1 : 0;
}

bool BodyComplete(const HttpClientRecord& client) {
    if (!client.bodyPending() || client.verb == Verb::Head) return true;
    if (client.closed || client.exchange == ExchangeState::BodyDone) return true;
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

// What a followed redirect sends (RFC 9110 section 15.4): 307 and 308 repeat
// the method and its body, 301 and 302 turn a POST into a GET, 303 turns
// every method but HEAD into a GET.
enum class MethodRule { Repeat, PostBecomesGet, AllBecomeGet };

struct RedirectRow {
    int status;
    MethodRule rule;
};

constexpr RedirectRow kRedirectRules[] = {
    {301, MethodRule::PostBecomesGet}, {302, MethodRule::PostBecomesGet},
    {303, MethodRule::AllBecomeGet},   {307, MethodRule::Repeat},
    {308, MethodRule::Repeat},
};

struct RedirectMethod {
    std::string verb;
    bool dropsBody = false;
    bool followable = true;
};

RedirectMethod MethodAfterRedirect(const HttpClientRecord& client, const std::string& verb) {
    const auto* row =
        std::find_if(std::begin(kRedirectRules), std::end(kRedirectRules),
                     [&](const RedirectRow& r) { return r.status == client.statusCode; });
    const MethodRule rule = row == std::end(kRedirectRules) ? MethodRule::Repeat : row->rule;
    const bool toGet = (rule == MethodRule::PostBecomesGet && client.verb == Verb::Post) ||
                       (rule == MethodRule::AllBecomeGet && client.verb != Verb::Head);
    if (toGet) return {"GET", true, true};
    // A body the caller streams after the request cannot be sent again.
    const bool streamed = VerbSendsBody(client.verb) && client.formData == nullptr;
    return {verb, false, !streamed};
}

// The URL of the request just sent, fragment included.
std::string RequestUrl(const HttpClientRecord& client) {
    if (HttpIsUrl(client.resource.c_str())) return client.resource + client.fragment;
    const bool v6 = NetAddressFamilyOf(client.host.c_str()) == NET_FAMILY_IPV6;
    std::string url = client.HasOption(HTTP_OPTION_SECURE) ? "https://" : "http://";
    url += v6 ? "[" + client.host + "]" : client.host;
    url += ":" + std::to_string(client.serverPort);
    if (client.resource.empty() || client.resource.front() != '/') url += '/';
    return url + client.resource + client.fragment;
}

// Scheme, host and port: the origin that credentials were given for.
bool SameOrigin(const HttpClientRecord& client, bool https, const std::string& host, int port) {
    return https == client.HasOption(HTTP_OPTION_SECURE) && EqualsIgnoringCase(host, client.host) &&
           port == client.serverPort;
}

// A route the system settings chose is chosen again for the new host and
// scheme. The proxy login goes on only to the same proxy. False with the error set.
bool DecideSystemRoute(HttpClientRecord& client, bool https, const std::string& host) {
    HttpProxyLookup found{};
    if (SystemProxyFor(host, https, found) != 1) {
        client.proxyType = HTTP_PROXY_NONE;
        return true;
    }
    if (!EqualsIgnoringCase(found.host, client.proxyHost) || found.port != client.proxyPort) {
        client.proxyAuth = false;
        WipeString(client.proxyUser);
        WipeString(client.proxyPassword);
        client.proxyUser.clear();
        client.proxyPassword.clear();
    }
    client.proxyType = found.kind;
    client.proxyHost = found.host;
    client.proxyPort = found.port;
    const int family = client.HasOption(HTTP_OPTION_IPV6ONLY) ? NET_FAMILY_IPV6 : 0;
    if (NetResolveHost(client.proxyHost.c_str(), family, &client.proxyAddress) <= 0) {
        return Fail(fileErrorInvalidHostName), false;
    }
    return true;
}

// Points the client at another origin. Its credentials stay behind: they were
// given for the first origin only. 0, or -1 (the client may be gone).
int MoveToOrigin(const ClientRef& client, bool https, const std::string& host, int port) {
    client->basicAuth = false;
    WipeString(client->user);
    WipeString(client->password);
    client->user.clear();
    client->password.clear();
    client->requestHeaders.Remove("Authorization");
    client->host = host;
    client->serverPort = port;
    if (client->systemProxy && !DecideSystemRoute(*client, https, host)) {
        ReleaseClient(client);
        return -1;
    }
    const int family = client->HasOption(HTTP_OPTION_IPV6ONLY) ? NET_FAMILY_IPV6 : 0;
    if (!client->viaProxy() &&
        NetResolveHost(client->host.c_str(), family, &client->serverAddress) <= 0) {
        Fail(fileErrorInvalidHostName);
        ReleaseClient(client);
        return -1;
    }
    // The first connection's credentials (protocols, client certificate) go on.
    if (https && !client->credentials && !PrepareTls(*client, nullptr)) {
        ReleaseClient(client);
        return -1;
    }
    client->options = https ? client->options | HTTP_OPTION_SECURE
                            : client->options & ~static_cast<std::uint32_t>(HTTP_OPTION_SECURE);
    return 0;
}

}  // namespace

int ReadResponse(const ClientRef& client, bool mayFollow) {
    if (!client->responsePending() && !client->chunked) return 0;
    const bool trailerOnly = !client->responsePending();
    const ExchangeState before = client->exchange;
    {
        BlockingScope blocking(*client);
        EventSuppression suppressed(*client);
        SetState(*client,
                 trailerOnly ? ExchangeState::ReadingTrailer : ExchangeState::ReadingHeader);
        const int result = ReadHeaderBlock(*client, trailerOnly);
        if (result != 0 || trailerOnly) SetState(*client, before);
        if (result != 0) return -1;
    }
    if (trailerOnly) {
        client->chunked = false;
        return 0;
    }
    // After the caller's body the response's body is left; otherwise the
    // request decides what follows.
    SetState(*client, before == ExchangeState::SendingBody ? ExchangeState::ReadingBody
                                                           : ExchangeState::HeaderRead);
    client->errorResponse = client->statusCode >= 400;
    const bool hasBody = client->verb != Verb::Head && client->verb != Verb::Put;
    if (hasBody && NoteBodyFraming(*client) != 0) return -1;
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
    return 0;
}

int ReadBodyBytes(HttpClientRecord& client, char* buffer, std::size_t length) {
    if (client.closed) return Fail(fileErrorConnectionClosed);
    std::size_t wanted = length;
    if (!client.responsePending() && client.lengthAnnounced && !client.chunked) {
        if (client.bytesTransferred >= client.contentLength) return 0;
        wanted = static_cast<std::size_t>(
            std::min<std::uint64_t>(wanted, client.contentLength - client.bytesTransferred));
    }
    BlockingScope blocking(client);
    if (!client.transferStarted) {
        client.transferStarted = true;
        client.startTick = GetTickCount();
    }
    const int got = ReceiveSome(client, buffer, wanted);
    if (got > 0 && !client.readingHeader()) {
        client.bytesTransferred += static_cast<std::uint64_t>(got);
    }
    return got;
}

int FollowRedirect(const ClientRef& client, std::string_view location) {
    if (location.empty()) return Fail(fileErrorInvalidResource);
    if (client->blockingCall) return Fail(fileErrorOperationInProgress);
    const std::size_t blank = client->requestLine.find(' ');
    if (blank == std::string::npos) return Fail(fileErrorInvalidCommand);
    const RedirectMethod method =
        MethodAfterRedirect(*client, client->requestLine.substr(0, blank));
    if (!method.followable) return Fail(fileErrorResourceRedirected);
    const std::string target = RedirectTarget(RequestUrl(*client), location);
    const std::size_t hash = target.find('#');
    HttpUrlRecord* url = nullptr;
    if (!HttpIsUrl(target.c_str()) || !HttpParseUrl(target.substr(0, hash).c_str(), &url) ||
        !url->host) {
        HttpFreeUrl(url);
        return Fail(fileErrorInvalidResource);
    }
    std::string resource = url->path ? url->path : "/";
    if (url->query) resource += std::string("?") + url->query;
    if (hash != std::string::npos) resource += target.substr(hash);
    const bool https = url->scheme == HTTP_SCHEME_HTTPS;
    const std::string host = url->host;
    const int port = url->port;
    HttpFreeUrl(url);
    if (!SameOrigin(*client, https, host, port)) {
        if (MoveToOrigin(client, https, host, port) != 0) return -1;
    }
    if (method.dropsBody) SetRequestBody(*client, nullptr, 0);
    client->redirecting = true;
    const int reopened = ReopenConnection(client);
    if (reopened != 0) return -1;
    client->redirecting = false;
    client->requestHeaders.Remove("Host");
    client->responseHeaders.Clear();
    ++client->redirectCount;
    return SendRequest(client, method.verb, resource, true);
}

int FinishRequest(const ClientRef& ref) {
    HttpClientRecord& client = *ref;
    if (client.blockingCall) return Fail(fileErrorOperationInProgress);
    int result = 0;
    if (client.verb == Verb::Put && client.responsePending()) result = ReadResponse(ref, false);
    if (!BodyComplete(client) || !client.keepAlive) {
        CloseConnection(client);
        client.closed = true;
    } else {
        client.reused = true;
    }
    SetState(client, ExchangeState::Idle);
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
    if (client->responsePending()) ReadResponse(client);
    return client->statusCode;
}

int HttpGetResultString(HttpClient handle, char* buffer) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    if (!buffer) return Fail(fileErrorInvalidParameter);
    if (client->responsePending()) ReadResponse(client);
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
    // In the asynchronous mode the caller waits for event 4, not the call.
    client->byEvents = client->asyncWindow != nullptr;
    const int got =
        ReadBodyBytes(*client, static_cast<char*>(buffer), static_cast<std::size_t>(length));
    client->byEvents = false;
    // Bytes left in the inbox or the TLS channel never make the socket ready
    // again, and a read served from them re-arms nothing: the window hears of
    // what can still be read at once, as after a recv on the socket itself.
    if (got > 0 && client->asyncWindow && ReadableNow(*client)) {
        client->heldSocketEvents |= FD_READ;
        ReleaseHeldSocketEvents(*client);
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
        if (client->exchange == ExchangeState::ReadingBody) {
            SetState(*client, ExchangeState::BodyDone);
        }
    }
    return static_cast<int64_t>(*size);
}

}  // extern "C"
