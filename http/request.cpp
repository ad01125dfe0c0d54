// Composing and sending a request: the request line with its encoded path and
// query, the default headers, the header block and the form data.
#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>

#include "http/client.h"
#include "http/encoding.h"
#include "http/transfer_common.h"
#include "http/url.h"
#include "net/transcript.h"
#include "platform/system.h"
#include "platform/wipe.h"
#include "resources/errors.h"
#include "resources/version.h"
#include "url/urlparts.h"

namespace http {
namespace {

constexpr std::size_t kMaxPath = HTTP_MAX_PATH - 1;
constexpr std::size_t kMaxPrefix = HTTP_MAX_HOSTNAME - 1;

struct Target {
    std::string path;
    std::string query;
};

std::string HostAndPort(const HttpClientRecord& client) {
    const bool v6 = NetAddressFamilyOf(client.host.c_str()) == NET_FAMILY_IPV6;
    std::string host = v6 ? "[" + client.host + "]" : client.host;
    if (client.serverPort == 80 || client.serverPort == 443) return host;
    return host + ":" + std::to_string(client.serverPort);
}

// An absolute URL to the connected host and port becomes its path and query.
std::string ReduceToConnectedHost(const HttpClientRecord& client, std::string_view resource) {
    std::string text(resource);
    if (!HttpIsUrl(text.c_str())) return text;
    HttpUrlRecord* url = nullptr;
    if (!HttpParseUrl(text.c_str(), &url) || !url) return text;
    if (url->host && EqualsIgnoringCase(url->host, client.host) && url->port == client.serverPort) {
        text = url->path ? url->path : "/";
        if (url->query) text += std::string("?") + url->query;
    }
    HttpFreeUrl(url);
    return text;
}

// With a proxy, "scheme://host/path" keeps "scheme://host" as the prefix.
std::string SplitPrefix(HttpClientRecord& client, std::string resource) {
    const std::size_t scheme = resource.find("://");
    if (scheme == std::string::npos) return resource;
    const std::size_t slash = resource.find('/', scheme + 3);
    const std::size_t end = slash == std::string::npos ? resource.size() : slash;
    client.prefix = resource.substr(0, std::min(end, kMaxPrefix));
    return slash == std::string::npos ? std::string("/") : resource.substr(slash);
}

// Encodes into a buffer of the given size: the text, or nullopt.
std::optional<std::string> Encoded(int mode, std::string_view text, std::size_t size) {
    std::string out(size, '\0');
    const int length = HttpEncode(mode, text.data(), static_cast<int>(text.size()), out.data(),
                                  static_cast<int>(out.size()));
    if (length < 0) return std::nullopt;
    out.resize(static_cast<std::size_t>(length));
    return out;
}

// Splits at the first "?" and encodes both parts. 0 or an error number.
int EncodeTarget(const HttpClientRecord& client, std::string_view resource, Target& target) {
    const std::size_t mark = resource.find('?');
    const std::string_view path = resource.substr(0, mark);
    const std::string_view query =
        mark == std::string_view::npos ? std::string_view() : resource.substr(mark + 1);
    if (path.size() >= kMaxPath) return fileErrorInvalidFileName;
    if (HttpNeedsEncoding(path.data(), static_cast<int>(path.size()))) {
        auto encoded = Encoded(HTTP_ENCODE_PATH, path, HTTP_MAX_PATH);
        if (!encoded) return fileErrorInvalidFileName;
        target.path = *encoded;
    } else {
        target.path.assign(path);
    }
    if (client.queryEncoding && HttpNeedsEncoding(query.data(), static_cast<int>(query.size()))) {
        auto encoded = Encoded(HTTP_ENCODE_QUERY, query, 3 * query.size() + 512);
        if (!encoded) return fileErrorDataNotEncoded;
        target.query = *encoded;
    } else {
        target.query.assign(query);
    }
    return 0;
}

std::string ProxyTarget(const HttpClientRecord& client) {
    std::string url = client.prefix;
    if (url.empty()) {
        const bool https = client.serverPort == 443;
        url = (https ? "https://" : "http://") + client.host + ":" +
              std::to_string(client.serverPort);
    }
    if (client.path.empty() || client.path.front() != '/') url += '/';
    return url + client.path;
}

std::string RequestLine(const HttpClientRecord& client) {
    std::string line = client.verbText + " ";
    if (client.absoluteForm()) {
        line += ProxyTarget(client);
    } else {
        const bool rooted = client.path.find("://") != std::string::npos ||
                            (!client.path.empty() && client.path.front() == '/');
        if (client.verb != Verb::Other && !rooted) line += '/';
        line += client.path;
    }
    if (!client.query.empty()) line += "?" + client.query;
    if (!VerbSendsBody(client.verb) && client.formData && client.formLength > 0) {
        line += client.query.empty() ? "?" : "&";
        line.append(client.formData, client.formLength);
    }
    if (client.version != HTTP_VERSION_09) {
        line += " HTTP/" + std::to_string(client.major()) + "." + std::to_string(client.minor());
    }
    return line + "\r\n";
}

// "Tollane-FileTransfer/major.minor", the product and its version.
const std::string& UserAgent() {
    static const std::string agent = "Tollane-FileTransfer/" + std::to_string(kFileVersion.major) +
                                     "." + std::to_string(kFileVersion.minor);
    return agent;
}

void SetDefault(HeaderList& headers, std::string_view name, std::string_view value) {
    if (!headers.Contains(name)) headers.Set(name, value);
}

// Host (at every version: name-based servers need it even from 1.0 clients)
// and Connection; keep-alive is decided here for the request.
void AddConnectionHeaders(HttpClientRecord& client, HeaderList& headers) {
    const bool v11 = client.AtLeast(1, 1);
    headers.Remove("Connection");
    SetDefault(headers, "Host", HostAndPort(client));
    client.keepAlive = client.HasOption(HTTP_OPTION_KEEPALIVE);
    if (client.keepAlive && !v11) headers.Set("Connection", "Keep-Alive");
    if (!client.keepAlive && v11) headers.Set("Connection", "Close");
}

void AddVerbHeaders(const HttpClientRecord& client, HeaderList& headers) {
    const bool hasBody = client.formData && client.formLength > 0;
    const std::string length = std::to_string(client.formLength);
    switch (client.verb) {
        case Verb::Get:
        case Verb::Head:
            SetDefault(headers, "Accept", "*/*");
            if (!client.HasOption(HTTP_OPTION_NOCACHE)) break;
            if (client.AtLeast(1, 1)) SetDefault(headers, "Cache-Control", "no-cache, no-store");
            if (!client.AtLeast(1, 1)) SetDefault(headers, "Pragma", "no-cache");
            break;
        case Verb::Post:
            if (!hasBody) break;
            if (client.queryEncoding) {
                SetDefault(headers, "Content-Type", "application/x-www-form-urlencoded");
            }
            SetDefault(headers, "Content-Length", length);
            break;
        case Verb::Propfind:
        case Verb::Bpropfind:
            if (!hasBody) break;
            SetDefault(headers, "Content-Type", "text/xml");
            SetDefault(headers, "Depth", "0");
            SetDefault(headers, "Content-Length", length);
            break;
        default:
            break;
    }
}

void AddAuthorization(const HttpClientRecord& client, HeaderList& headers) {
    // Through a tunnel the proxy saw its login with CONNECT; the origin server
    // must not see it.
    if (client.proxyAuth && client.absoluteForm()) {
        SetDefault(headers, "Proxy-Authorization",
                   BasicAuthorization(client.proxyUser, client.proxyPassword));
    }
    if (client.basicAuth) {
        SetDefault(headers, "Authorization", BasicAuthorization(client.user, client.password));
    }
}

// The caller's headers with the defaults added where the caller set none.
HeaderList RequestHeaders(HttpClientRecord& client) {
    HeaderList headers = client.requestHeaders;
    AddConnectionHeaders(client, headers);
    AddVerbHeaders(client, headers);
    AddAuthorization(client, headers);
    SetDefault(headers, "User-Agent", UserAgent());
    return headers;
}

std::string HeaderBlock(const HeaderList& headers) {
    std::string block;
    headers.ForEach([&block](const std::string& name, const std::string& value) {
        if (value.empty()) return;
        block += name;
        block += ": ";
        block += value;
        block += "\r\n";
    });
    return block + "\r\n";
}

void ResetRequestState(HttpClientRecord& client) {
    client.chunked = false;
    client.contentLength = 0;
    client.lengthAnnounced = false;
    client.bytesTransferred = 0;
    client.restartOffset = 0;
    client.statusCode = 0;
    client.reason.clear();
    client.transferStarted = false;
    client.startTick = client.endTick = 0;
    WipeString(client.requestLine);
    client.requestLine.clear();
    client.path.clear();
    client.query.clear();
    client.prefix.clear();
}

// Sends the form data as the body under the transfer loop's rules. 0 or -1.
int SendBody(HttpClientRecord& client) {
    client.contentLength = client.formLength;
    client.bytesTransferred = 0;
    client.transferStarted = true;
    client.startTick = GetTickCount();
    RaiseEvent(client, HTTP_EVENT_PROGRESS, 0);
    TransferPacer pacer(client);
    std::size_t sent = 0;
    while (sent < client.formLength) {
        const std::size_t piece = std::min<std::size_t>(kPieceSize, client.formLength - sent);
        if (SendAll(client, client.formData + sent, piece) != 0) return -1;
        sent += piece;
        client.bytesTransferred = sent;
        if (pacer.AfterPiece() != 0) return -1;
    }
    RaiseEvent(client, HTTP_EVENT_PROGRESS, 0);
    client.endTick = GetTickCount();
    return 0;
}

// Steps before anything is composed: the connection must be ready for a new
// request. 0, or -1 (the client may be gone).
int PrepareConnection(const ClientRef& client) {
    if (client->errorResponse) {
        client->errorResponse = false;
        if (ReopenConnection(client) != 0) return -1;
        HttpSetLastError(0);
    }
    if (client->bodyPending()) return Fail(fileErrorRequestNotCompleted);
    if (client->closed || client->socket == INVALID_SOCKET) {
        if (!client->HasOption(HTTP_OPTION_KEEPALIVE)) return Fail(fileErrorConnectionClosed);
        if (ReopenConnection(client) != 0) return -1;
    }
    return 0;
}

int ComposeTarget(HttpClientRecord& client, std::string_view verb, std::string resource) {
    const VerbEntry* known = FindVerb(verb);
    client.verb = known ? known->code : Verb::Other;
    client.verbText = known ? std::string(known->name) : std::string(verb);
    ResetRequestState(client);
    if (client.absoluteForm()) resource = SplitPrefix(client, std::move(resource));
    Target target;
    if (const int error = EncodeTarget(client, resource, target)) return Fail(error);
    client.path = std::move(target.path);
    client.query = std::move(target.query);
    client.requestLine = RequestLine(client);
    return 0;
}

int ReadResponseAtOnce(const ClientRef& client) {
    const bool bodilessPropfind =
        (client->verb == Verb::Propfind || client->verb == Verb::Bpropfind) &&
        (!client->formData || client->formLength == 0);
    if (client->verb == Verb::Put) {
        // The real answer comes when the upload ends.
        client->keepAlive = false;
        client->statusCode = 200;
        return 0;
    }
    if (client->byEvents) {
        client->statusCode = 0;  // read readiness reads the response
        return 0;
    }
    // A POST without form data leaves the body to the caller (multipart
    // uploads), who reads the response after it.
    const bool bodilessPost =
        client->verb == Verb::Post && (!client->formData || client->formLength == 0);
    if (bodilessPropfind || bodilessPost) return 0;
    return ReadResponse(client);
}

// Sends the composed request and reads the response where the verb wants it
// at once: the status, or -1.
int Transmit(const ClientRef& client) {
    {
        BlockingScope blocking(*client);
        if (client->version == HTTP_VERSION_09) {
            if (SendAll(*client, client->requestLine.data(), client->requestLine.size()) != 0) {
                return -1;
            }
            client->responseHeaders.Clear();
            SetState(*client, ExchangeState::RequestSent);
            client->statusCode = 200;
            client->keepAlive = false;
            SetState(*client,
                     client->verb != Verb::Head ? ExchangeState::ReadingBody : ExchangeState::Idle);
            return 200;
        }
        NetTranscriptLines(NET_TRANSCRIPT_SENT, client->requestLine.data(),
                           client->requestLine.size());
        HeaderList headers = RequestHeaders(*client);
        std::string block = HeaderBlock(headers);
        NetTranscriptLines(NET_TRANSCRIPT_SENT, block.data(), block.size());
        // The request line and the header block go in one send (one TLS record):
        // sent apart, the second waits for the server's delayed acknowledgement
        // of the first, 40 ms on Linux.
        std::string head = client->requestLine + block;
        WipeString(block);
        headers.Clear();
        const int sent = SendAll(*client, head.data(), head.size());
        WipeString(head);
        if (sent != 0) return -1;
        client->responseHeaders.Clear();
        SetState(*client, ExchangeState::RequestSent);
        const bool hasBody = client->formData && client->formLength > 0;
        if (hasBody && VerbSendsBody(client->verb) && client->verb != Verb::Put &&
            SendBody(*client) != 0) {
            return -1;
        }
    }
    return ReadResponseAtOnce(client) == 0 ? client->statusCode : -1;
}

// A kept connection that the server closed while it was idle (many proxies
// close after every answer without saying so) fails the next request before
// any byte of an answer comes; such a request is sent once more on a new
// connection.
bool FoundConnectionStale(const HttpClientRecord& client) {
    static constexpr int kStaleErrors[] = {fileErrorNoServerResponse, fileErrorConnectionReset,
                                           fileErrorConnectionAborted, fileErrorConnectionShutdown};
    if (client.released || !client.reused || !client.HasOption(HTTP_OPTION_KEEPALIVE)) return false;
    const int error = LastErrorNumber();
    return std::find(std::begin(kStaleErrors), std::end(kStaleErrors), error) !=
           std::end(kStaleErrors);
}

}  // namespace

void SetRequestBody(HttpClientRecord& client, const char* data, std::uint32_t length) {
    client.formData = data;
    client.formLength = data ? length : 0;
}

int SendRequest(const ClientRef& client, std::string_view verb, std::string_view resource,
                bool redirected) {
    if (verb.empty()) return Fail(fileErrorInvalidCommand);
    if (resource.empty()) return Fail(fileErrorInvalidResource);
    if (client->blockingCall) return Fail(fileErrorOperationInProgress);
    if (!redirected) {
        client->redirectCount = 0;
        client->cancelRequested = false;
    }
    if (PrepareConnection(client) != 0) return -1;
    std::string target =
        client->absoluteForm() ? std::string(resource) : ReduceToConnectedHost(*client, resource);
    // A fragment is for the client alone; it is kept for the redirects.
    const std::size_t hash = target.find('#');
    client->fragment = hash == std::string::npos ? std::string() : target.substr(hash);
    if (hash != std::string::npos) target.resize(hash);
    client->resource = target;
    if (ComposeTarget(*client, verb, std::move(target)) != 0) return -1;
    int status = Transmit(client);
    if (status < 0 && FoundConnectionStale(*client)) {
        if (ReopenConnection(client) != 0) return -1;
        HttpSetLastError(0);
        status = Transmit(client);
    }
    if (status < 0) return -1;
    if (client->released) return Fail(fileErrorInvalidHandle);
    if (client->verb != Verb::Head && client->version != HTTP_VERSION_09) {
        // A response still to come follows the caller's body; a read one has
        // its body left to read.
        if (client->exchange == ExchangeState::RequestSent) {
            SetState(*client, ExchangeState::SendingBody);
        } else if (client->exchange == ExchangeState::HeaderRead ||
                   client->exchange == ExchangeState::Idle) {
            SetState(*client, ExchangeState::ReadingBody);
        }
    }
    return client->statusCode;
}

}  // namespace http

using namespace http;

extern "C" {

int HttpSendRequest(HttpClient handle, const char* verb, const char* resource) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    client->byEvents = client->asyncWindow != nullptr;
    const int status =
        SendRequest(client, urlparts::TextOrEmpty(verb), urlparts::TextOrEmpty(resource), false);
    client->byEvents = false;
    return status;
}

}  // extern "C"
