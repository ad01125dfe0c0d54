// Opening, re-opening, cancelling and closing client connections: direct, through
// a CERN-style proxy, or through a CONNECT tunnel, with TLS when asked for.
#include <string>
#include <string_view>

#include "http/client.h"
#include "http/encoding.h"
#include "http/proxy_config.h"
#include "http/url.h"
#include "net/transcript.h"
#include "platform/system.h"
#include "platform/wipe.h"
#include "resources/errors.h"
#include "url/urlparts.h"

namespace http {
namespace {

constexpr int kPlainPort = 80;
constexpr int kSecurePort = 443;
constexpr std::size_t kMaxHost = HTTP_MAX_HOSTNAME - 1;
constexpr std::size_t kMaxUser = HTTP_MAX_USERNAME - 1;
constexpr std::size_t kMaxPassword = HTTP_MAX_PASSWORD - 1;

struct ConnectRequest {
    int proxyType = HTTP_PROXY_NONE;
    std::string proxyHost;
    int proxyPort = 0;
    std::string proxyUser;
    std::string proxyPassword;
    std::string host;
    int port = 0;
    int timeout = 0;
    std::uint32_t options = 0;
    DWORD version = HTTP_VERSION_11;
    const TlsCredentials* credentials = nullptr;
    HWND window = nullptr;  // the notification window (HttpConnectNotify)
    UINT message = 0;
    DWORD eventMask = 0;
    bool systemProxy = false;

    bool Has(std::uint32_t bit) const { return (options & bit) != 0; }
    ~ConnectRequest() { WipeString(proxyPassword); }
};

HttpClient FailClient(int error) {
    Fail(error);
    return INVALID_HTTP_CLIENT;
}

int Abandon(const ClientRef& client) {
    ReleaseClient(client);
    return -1;
}

// A host given as a URL names the host, the port when none was given, and TLS
// for the https scheme.
bool ApplyUrl(ConnectRequest& request) {
    HttpUrlRecord* record = nullptr;
    if (!HttpParseUrl(request.host.c_str(), &record) || !record || !record->host) {
        HttpFreeUrl(record);
        return false;
    }
    request.host = record->host;
    if (request.port == 0) request.port = record->port;
    if (record->scheme == HTTP_SCHEME_HTTPS) request.options |= HTTP_OPTION_SECURE;
    HttpFreeUrl(record);
    return true;
}

// The proxy rules; 0 or an error number. The system settings are asked later,
// once the host and the scheme are known.
int CheckProxy(const ConnectRequest& request) {
    switch (request.proxyType) {
        case HTTP_PROXY_NONE:
        case HTTP_PROXY_CERN:
        case HTTP_PROXY_OTHER:
        case HTTP_PROXY_WINDOWS:
            return 0;
        case HTTP_PROXY_TUNNEL:
            if (request.version < HTTP_VERSION_10) return fileErrorInvalidParameter;
            if (request.Has(HTTP_OPTION_SECURE) && request.proxyPort == kSecurePort) {
                return fileErrorInvalidServicePort;
            }
            return 0;
        default:
            return fileErrorInvalidProxyType;
    }
}

bool StoreNames(HttpClientRecord& client, const ConnectRequest& request) {
    if (request.host.size() > kMaxHost || request.proxyHost.size() > kMaxHost) return false;
    client.host = request.host;
    client.serverPort = request.port;
    client.proxyType = request.proxyType;
    client.systemProxy = request.systemProxy;
    // A route the system settings chose may turn to a proxy on a redirect:
    // the caller's proxy login is kept for it.
    if (!client.viaProxy() && !client.systemProxy) return true;
    client.proxyHost = request.proxyHost;
    client.proxyPort = request.proxyPort == 0 ? kPlainPort : request.proxyPort;
    if (!client.viaProxy()) client.proxyPort = 0;
    client.proxyUser = request.proxyUser.substr(0, kMaxUser);
    client.proxyPassword = request.proxyPassword.substr(0, kMaxPassword);
    client.proxyAuth = !client.proxyUser.empty() && !client.proxyPassword.empty();
    return true;
}

}  // namespace

std::string BasicAuthorization(std::string_view user, std::string_view password) {
    std::string pair = std::string(user) + ":" + std::string(password);
    std::string encoded(pair.size() * 2 + 8, '\0');
    const int length = HttpEncode(HTTP_ENCODE_BASE64, pair.data(), static_cast<int>(pair.size()),
                                  encoded.data(), static_cast<int>(encoded.size()));
    WipeString(pair);
    encoded.resize(length < 0 ? 0 : static_cast<std::size_t>(length));
    return "Basic " + encoded;
}

bool PrepareTls(HttpClientRecord& client, const TlsCredentials* given) {
    if (!TlsBindProvider()) return Fail(TlsGetLastError()), false;
    TlsCredentials* copy = nullptr;
    if (given) {
        copy = TlsCopyCredentials(given);
    } else {
        TlsCreateCredentials(TLS_PROTOCOL_DEFAULT, nullptr, nullptr, &copy);
    }
    if (!copy) return Fail(fileErrorOutOfMemory), false;
    if (copy->protocol == 0) copy->protocol = TLS_PROTOCOL_DEFAULT;
    client.tlsProtocol = static_cast<int>(copy->protocol);
    client.credentials.reset(copy);
    return true;
}

namespace {

// A TLS wait that timed out or was cancelled.
void RaiseTlsWaitEvent(void* context, int error) {
    auto& client = *static_cast<HttpClientRecord*>(context);
    RaiseEvent(client, error == fileErrorOperationTimeout ? HTTP_EVENT_TIMEOUT : HTTP_EVENT_CANCEL,
               error);
}

// Handshake and validation over the open socket; a certificate that fails
// validation leaves the connection up. 0, or -1 with the error set.
int StartTls(HttpClientRecord& client) {
    TlsChannel* channel =
        TlsCreateChannel(client.socket, client.host.c_str(), client.credentials.get(),
                         client.timeout, client.options);
    if (!channel) return Fail(TlsGetLastError());
    client.tls.reset(channel);
    TlsSetWaitObserver(channel, RaiseTlsWaitEvent, &client);
    // What the reader took off the socket past the proxy's answer belongs to TLS.
    // (Emptying the inbox leaves its storage, and so the early bytes, in place.)
    const std::span<const char> early = client.inbox.Front();
    client.inbox.Clear();
    if (!TlsAcquireCredentials(channel) || !TlsStartHandshake(channel) ||
        !TlsPushReceived(channel, early.data(), static_cast<int>(early.size())) ||
        !TlsHandshakeLoop(channel)) {
        const int error = TlsGetLastError();
        client.tls.reset();
        return Fail(error);
    }
    if (!TlsValidateCertificate(channel)) {
        const int error = TlsGetLastError();
        // A redirect keeps the trust of the first connection: a certificate
        // that fails is refused unless the caller went on over one before.
        const bool refused = error != fileErrorSecurityCertificate ||
                             (client.redirecting && !client.invalidCertificateSeen);
        if (refused) {
            client.tls.reset();
            return Fail(error);
        }
        if (!client.redirecting) client.invalidCertificateSeen = true;
    }
    return 0;
}

// The CONNECT exchange with the proxy. 0, or -1 with the error set.
int TunnelConnect(const ClientRef& client) {
    const bool v6 = NetAddressFamilyOf(client->host.c_str()) == NET_FAMILY_IPV6;
    const std::string host = v6 ? "[" + client->host + "]" : client->host;
    std::string request = "CONNECT " + host + ":" + std::to_string(client->serverPort) + " HTTP/" +
                          std::to_string(client->major()) + "." + std::to_string(client->minor()) +
                          "\r\n";
    if (client->proxyAuth) {
        std::string authorization = BasicAuthorization(client->proxyUser, client->proxyPassword);
        request += "Proxy-Authorization: " + authorization + "\r\n";
        WipeString(authorization);
    }
    request += "\r\n";
    NetTranscriptLines(NET_TRANSCRIPT_SENT, request.data(), request.size());
    const int sent = SendAll(*client, request.data(), request.size());
    WipeString(request);
    if (sent != 0) return -1;
    SetState(*client, ExchangeState::RequestSent);
    client->responseHeaders.Clear();
    client->verb = Verb::Other;
    client->verbText = "CONNECT";
    // A redirect answer is never followed here: it is no tunnel.
    if (ReadResponse(client, false) != 0) {
        // A redirect is no error of its own here, only no tunnel.
        if (LastErrorNumber() != fileErrorResourceRedirected) return -1;
        return Fail(fileErrorUnexpectedServerResponse);
    }
    if (client->statusCode < 200 || client->statusCode > 299) {
        return Fail(fileErrorUnexpectedServerResponse);
    }
    client->responseHeaders.Clear();
    return 0;
}

// The rest of the route over the open socket: the tunnel when there is one,
// then TLS with the origin server when the connection wants it.
int OpenRoute(const ClientRef& client) {
    if (client->tunnelled() && TunnelConnect(client) != 0) return -1;
    if (!client->HasOption(HTTP_OPTION_SECURE)) return 0;
    return StartTls(*client);
}

// Connects the socket to the first hop. 0, or -1 with the error set.
int OpenSocket(HttpClientRecord& client) {
    SetState(client, ConnectionState::Connecting);
    const NetAddress& address = client.viaProxy() ? client.proxyAddress : client.serverAddress;
    const int port = client.viaProxy() ? client.proxyPort : client.serverPort;
    const int limit = client.timeout > 0 ? client.timeout : kDefaultTimeoutSeconds;
    const SOCKET s = NetConnectAddress(&address, static_cast<uint16_t>(port), limit);
    if (s == INVALID_SOCKET) {
        const int error = NetGetLastError();
        return Fail(error == 0 ? fileErrorConnectionRefused : error);
    }
    client.socket = s;
    client.closed = false;
    client.reused = false;
    SetState(client, ExchangeState::Idle);
    client.chunked = false;
    client.inbox.Clear();
    SetState(client, ConnectionState::Idle);
    return WatchSocket(client);
}

bool ResolveFirstHop(HttpClientRecord& client) {
    const int family = client.HasOption(HTTP_OPTION_IPV6ONLY) ? NET_FAMILY_IPV6 : 0;
    if (client.viaProxy()) {
        return NetResolveHost(client.proxyHost.c_str(), family, &client.proxyAddress) > 0;
    }
    return NetResolveHost(client.host.c_str(), family, &client.serverAddress) > 0;
}

HttpClient OpenClient(const ConnectRequest& request) {
    ClientRef client = AllocateClient();
    if (!client) return INVALID_HTTP_CLIENT;
    const bool tls = request.Has(HTTP_OPTION_SECURE);
    if (tls && !PrepareTls(*client, request.credentials)) {
        return Abandon(client), INVALID_HTTP_CLIENT;
    }
    client->timeout = request.timeout;
    client->options = request.options & ~static_cast<std::uint32_t>(HTTP_OPTION_PROXYCONFIG);
    client->version = request.version;
    if (!StoreNames(*client, request)) {
        Fail(fileErrorInvalidHostName);
        return Abandon(client), INVALID_HTTP_CLIENT;
    }
    if (!ResolveFirstHop(*client)) {
        Fail(fileErrorInvalidHostName);
        return Abandon(client), INVALID_HTTP_CLIENT;
    }
    if (request.window) {
        client->eventWindow = request.window;
        client->eventMessage = request.message;
        client->eventMask = request.eventMask;
        if (request.eventMask & kSocketLevelEvents) {
            if (EnterAsyncMode(*client, request.window) != 0 || StartAsyncConnect(client) != 0) {
                return Abandon(client), INVALID_HTTP_CLIENT;
            }
            HttpSetLastError(0);
            return client->handle;
        }
    }
    if (OpenSocket(*client) != 0 || OpenRoute(client) != 0) {
        return Abandon(client), INVALID_HTTP_CLIENT;
    }
    HttpSetLastError(0);
    return client->handle;
}

std::string TextOrEmpty(const char* text) {
    return text ? std::string(text) : std::string();
}

// Proxy type 3, or HTTP_OPTION_PROXYCONFIG on a direct connect: the system
// settings choose the route. 0 or an error number.
int ApplySystemRoute(ConnectRequest& request) {
    const bool asked =
        request.proxyType == HTTP_PROXY_WINDOWS ||
        (request.proxyType == HTTP_PROXY_NONE && request.Has(HTTP_OPTION_PROXYCONFIG));
    if (!asked) return 0;
    const bool required = request.proxyType == HTTP_PROXY_WINDOWS;
    request.systemProxy = true;
    request.proxyType = HTTP_PROXY_NONE;
    HttpProxyLookup found{};
    const int result = SystemProxyFor(request.host, request.Has(HTTP_OPTION_SECURE), found);
    if (result < 0) return required ? fileErrorInvalidProxyType : 0;
    if (result == 0) return 0;
    request.proxyType = found.kind;
    request.proxyHost = found.host;
    request.proxyPort = found.port;
    return CheckProxy(request);
}

}  // namespace

int StartAsyncConnect(const ClientRef& client) {
    HttpClientRecord& record = *client;
    SetState(record, ConnectionState::Connecting);
    const NetAddress& address = record.viaProxy() ? record.proxyAddress : record.serverAddress;
    const int port = record.viaProxy() ? record.proxyPort : record.serverPort;
    sockaddr_storage target{};
    socklen_t length = 0;
    const int family = NetMakeSockAddr(&address, static_cast<uint16_t>(port), &target, &length);
    if (family == 0) return Fail(NetGetLastError());
    const SOCKET s = NetSocket(family, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return Fail(NetGetLastError());
    record.socket = s;
    record.closed = false;
    record.connectPending = true;
    if (WatchSocket(record) != 0) return -1;
    if (NetConnect(s, reinterpret_cast<const sockaddr*>(&target), length) == 0) {
        // Connected at once: the window learns it as it would have otherwise.
        PostMessageA(record.asyncWindow, HTTP_ASYNC_MESSAGE, static_cast<WPARAM>(s), FD_CONNECT);
        return 0;
    }
    const int error = NetGetLastError();
    if (error == fileErrorOperationWouldBlock || error == fileErrorOperationInProgress) return 0;
    return Fail(error);
}

void FinishAsyncConnect(const ClientRef& client, int error) {
    if (!client->connectPending) return;
    client->connectPending = false;
    if (error == 0) {
        SetState(*client, ExchangeState::Idle);
        SetState(*client, ConnectionState::Idle);
        // A certificate that fails validation leaves the connection up, as for
        // a blocking connect.
        if (OpenRoute(client) != 0) error = LastErrorNumber();
        if (error == 0) WatchSocket(*client);  // connect readiness no longer asked for
    } else {
        Fail(error);
    }
    RaiseEvent(*client, HTTP_EVENT_CONNECT, error);
    if (error != 0) ReleaseClient(client);
}

int ReopenConnection(const ClientRef& client) {
    if (client->blockingCall) return Fail(fileErrorOperationInProgress);
    BlockingScope blocking(*client);
    CloseConnection(*client);
    if (OpenSocket(*client) != 0 || OpenRoute(client) != 0) return Abandon(client);
    return 0;
}

}  // namespace http

using namespace http;

extern "C" {

HttpClient HttpConnect(int proxyType, const char* proxyHost, int proxyPort, const char* proxyUser,
                       const char* proxyPassword, const char* serverHost, int serverPort,
                       int timeoutSeconds, DWORD options, DWORD version,
                       const TlsCredentials* credentials) {
    return HttpConnectNotify(proxyType, proxyHost, proxyPort, proxyUser, proxyPassword, serverHost,
                             serverPort, timeoutSeconds, options, version, credentials, nullptr, 0,
                             0);
}

HttpClient HttpConnectNotify(int proxyType, const char* proxyHost, int proxyPort,
                             const char* proxyUser, const char* proxyPassword,
                             const char* serverHost, int serverPort, int timeoutSeconds,
                             DWORD options, DWORD version, const TlsCredentials* credentials,
                             HWND window, UINT message, DWORD eventMask) {
    if (window && (!IsWindow(window) || message < WM_USER)) {
        return FailClient(fileErrorInvalidParameter);
    }
    ConnectRequest request;
    request.window = window;
    request.message = message;
    request.eventMask = eventMask;
    request.proxyType = proxyType;
    request.proxyHost = TextOrEmpty(proxyHost);
    request.proxyPort = proxyPort;
    request.proxyUser = TextOrEmpty(proxyUser);
    request.proxyPassword = TextOrEmpty(proxyPassword);
    request.host = TextOrEmpty(serverHost);
    request.port = serverPort;
    request.timeout = timeoutSeconds < 0 ? 0 : timeoutSeconds;
    request.options = options;
    request.version = version;
    request.credentials = credentials;
    if (const int error = CheckProxy(request)) return FailClient(error);
    if (request.host.empty()) return FailClient(fileErrorInvalidHostName);
    if (request.proxyType != HTTP_PROXY_NONE && request.proxyType != HTTP_PROXY_WINDOWS &&
        request.proxyHost.empty()) {
        return FailClient(fileErrorInvalidHostName);
    }
    if (request.Has(HTTP_OPTION_IPV6ONLY) && !NetIsIpv6Available()) {
        return FailClient(fileErrorProtocolNotAvailable);
    }
    if (HttpIsUrl(request.host.c_str()) && !ApplyUrl(request)) {
        return FailClient(fileErrorInvalidHostName);
    }
    if (request.port == kSecurePort && !request.Has(HTTP_OPTION_NOPORT443)) {
        request.options |= HTTP_OPTION_SECURE;
    }
    if (request.port == 0) {
        request.port = request.Has(HTTP_OPTION_SECURE) ? kSecurePort : kPlainPort;
    }
    if (request.port < 0 || request.port > 65535) return FailClient(fileErrorInvalidServicePort);
    if (const int error = ApplySystemRoute(request)) return FailClient(error);
    if (request.proxyType != HTTP_PROXY_NONE && request.proxyHost.empty()) {
        return FailClient(fileErrorInvalidHostName);
    }
    return OpenClient(request);
}

int HttpDisconnect(HttpClient handle) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    if (client->blockingCall) return Fail(fileErrorOperationInProgress);
    if (client->responsePending() || client->chunked || client->bodyPending())
        FinishRequest(client);
    SetState(*client, ConnectionState::Disconnecting);
    ReleaseClient(client);
    return 0;
}

int HttpReconnect(HttpClient handle) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    return ReopenConnection(client);
}

int HttpCancel(HttpClient handle) {
    if (handle == INVALID_HTTP_CLIENT) {
        if (NetIsBlocking()) return NetCancelBlockingCall() == 0 ? 0 : Fail(NetGetLastError());
        return Fail(fileErrorOperationNotBlocking);
    }
    ClientRef client = LookupClientAnyThread(handle);
    if (!client) return -1;
    client->cancelRequested = true;
    if (client->ownerThread == GetCurrentThreadId() && NetIsBlocking()) NetCancelBlockingCall();
    return 0;
}

int HttpGetSecurityInfo(HttpClient handle, SecurityInfo* info) {
    ClientRef client = LookupClient(handle);
    if (!client) return 0;
    if (!info || info->size < TLS_SECURITY_INFO_SIZE) return Fail(fileErrorInvalidParameter), 0;
    if (!client->tls) {
        *info = SecurityInfo{};
        info->size = TLS_SECURITY_INFO_SIZE;
        return 1;
    }
    if (!TlsGetSecurityInfo(client->tls.get(), info)) return Fail(TlsGetLastError()), 0;
    return 1;
}

}  // extern "C"
