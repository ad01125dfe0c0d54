// The record of one HTTP client connection and the engine-wide functions
// around it: handle look-up, allocation and release, the last error.
// Everything a client holds (socket, TLS channel, buffers, secrets) goes with it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "http/headers.h"
#include "http/http.h"
#include "http/wire.h"
#include "net/net.h"
#include "platform/byte_queue.h"
#include "platform/last_error_guard.h"
#include "tls/tls.h"

namespace http {

inline constexpr int kDefaultTimeoutSeconds = 20;
inline constexpr std::size_t kPieceSize = 8192;
inline constexpr std::size_t kInboxSize = 8192;
// Body pieces at the priorities that do not pause between pieces: large enough
// that a line-rate transfer makes few receives, sends and file writes.
inline constexpr std::size_t kBodyPieceSize = 262144;

enum class ConnectionState : int {
    None = 0,
    Idle = HTTP_STATE_IDLE,
    Connecting = HTTP_STATE_CONNECTING,
    Receiving = HTTP_STATE_RECEIVING,
    Sending = HTTP_STATE_SENDING,
    Disconnecting = HTTP_STATE_DISCONNECTING,
    Downloading = HTTP_STATE_DOWNLOADING,
    Uploading = HTTP_STATE_UPLOADING,
    Posting = HTTP_STATE_POSTING,
};

// The phase of the request and response on the connection, apart from the
// state reported to callers above. Changed only through SetState.
enum class ExchangeState : int {
    Idle,            // no request outstanding: ready for one
    RequestSent,     // the request went out; its response is still to be read
    SendingBody,     // the caller sends the request's body; the response follows it
    ReadingHeader,   // the status line and header lines are being read
    HeaderRead,      // the status and header are read; no body is waiting (yet)
    ReadingBody,     // the header is read; the body is still the caller's to read
    ReadingTrailer,  // the trailer lines after the last chunk are being read
    BodyDone,        // the last chunk and its trailer are read; finishing is left
    BodyCut,         // the caller's body was cut short: no response comes
};

struct EventCallback {
    HttpEventProc proc = nullptr;
    void* userValue = nullptr;
};

// Bounds on what one coded body may decode to (HttpSetDecodeLimits).
struct DecodeLimits {
    // The ratio is checked only past this much output, so small bodies never trip.
    static constexpr std::uint64_t kRatioFloor = 16ull << 20;
    std::uint64_t maxSize = 0;                            // bytes; 0: no bound
    std::uint32_t maxRatio = HTTP_DEFAULT_DECODED_RATIO;  // per coded byte; 0: no bound
};

struct HttpClientRecord {
    HttpClient handle = INVALID_HTTP_CLIENT;
    std::size_t index = 0;
    DWORD ownerThread = 0;
    bool released = false;

    SOCKET socket = INVALID_SOCKET;

    // Events.
    HWND eventWindow = nullptr;
    UINT eventMessage = 0;
    DWORD eventMask = 0;
    std::array<EventCallback, HTTP_EVENT_COUNT> callbacks{};
    int suppression = 0;  // nesting count of event suppression
    bool raisingEvent = false;
    // Asynchronous socket mode (async.cpp): the window the socket's readiness
    // is posted to, and the socket events held back while events are suppressed
    // or one is being handled.
    HWND asyncWindow = nullptr;
    DWORD heldSocketEvents = 0;
    bool handlingSocketEvent = false;
    bool connectPending = false;  // an asynchronous connect has not ended yet
    // A call of the caller's in the mode, which does not wait for the server:
    // HttpRecv gives what has arrived (or 10035), HttpSendRequest leaves the
    // response to read readiness.
    bool byEvents = false;

    // Flags.
    bool blockingCall = false;
    std::atomic<bool> cancelRequested{false};
    bool chunked = false;
    bool closed = false;
    bool errorResponse = false;
    bool keepAlive = false;
    bool lengthAnnounced = false;         // a Content-Length (possibly 0) came with the response
    bool reused = false;                  // the connection has served a whole request already
    bool memoryDownload = false;          // an in-memory download (HttpGetData) is running
    bool redirecting = false;             // the connection is opened for a followed redirect
    bool invalidCertificateSeen = false;  // the caller went on over a certificate that failed

    bool compression = false;
    DecodeLimits decodeLimits;
    int redirectCount = 0;
    int timeout = kDefaultTimeoutSeconds;
    int priority = HTTP_PRIORITY_NORMAL;
    Verb verb = Verb::Other;
    std::string verbText;
    bool basicAuth = false;
    int proxyType = HTTP_PROXY_NONE;
    bool systemProxy = false;  // the system settings chose the route (decided again on redirects)
    bool proxyAuth = false;
    bool queryEncoding = true;
    std::uint32_t options = 0;
    DWORD version = HTTP_VERSION_11;

    NetAddress serverAddress{};
    NetAddress proxyAddress{};
    int serverPort = 0;
    int proxyPort = 0;

    std::uint64_t contentLength = 0;
    std::uint64_t bytesTransferred = 0;
    std::uint64_t restartOffset = 0;
    DWORD startTick = 0;
    DWORD endTick = 0;
    bool transferStarted = false;

    std::string host;
    std::string user;
    std::string password;
    std::string proxyHost;
    std::string proxyUser;
    std::string proxyPassword;

    std::string resource;  // as the caller gave it (for redirects)
    std::string path;      // after encoding
    std::string query;
    std::string prefix;    // scheme and host of an absolute resource sent to a proxy
    std::string fragment;  // "#..." of the request URL: never sent, kept for redirects
    std::string requestLine;

    // Form or body data of the request (set by the transfer operations).
    const char* formData = nullptr;
    std::uint32_t formLength = 0;

    HeaderList requestHeaders;
    HeaderList responseHeaders;

    ConnectionState state = ConnectionState::None;
    ExchangeState exchange = ExchangeState::Idle;
    int statusCode = 0;
    std::string reason;

    // Bytes received on a plain socket and not yet consumed.
    ByteQueue<char> inbox = ByteQueue<char>(kInboxSize);

    // TLS.
    int tlsProtocol = TLS_PROTOCOL_DEFAULT;
    TlsCredentialsPtr credentials;
    TlsChannelPtr tls;

    bool HasOption(std::uint32_t bit) const { return (options & bit) != 0; }
    // The status and header of the request's response are not read yet.
    bool responsePending() const {
        return exchange == ExchangeState::RequestSent || exchange == ExchangeState::SendingBody ||
               exchange == ExchangeState::ReadingHeader;
    }
    // The request is not finished: the caller's body or the response's body is left.
    bool bodyPending() const {
        return exchange == ExchangeState::SendingBody || exchange == ExchangeState::ReadingBody ||
               exchange == ExchangeState::BodyDone || exchange == ExchangeState::BodyCut;
    }
    bool readingHeader() const {
        return exchange == ExchangeState::ReadingHeader ||
               exchange == ExchangeState::ReadingTrailer;
    }
    bool secure() const { return tls != nullptr; }
    bool viaProxy() const { return proxyType != HTTP_PROXY_NONE; }
    // Through a CONNECT tunnel: a tunnel proxy for every scheme, a CERN-style
    // one for TLS (which runs with the origin server, never with the proxy).
    bool tunnelled() const {
        return proxyType == HTTP_PROXY_TUNNEL || (viaProxy() && HasOption(HTTP_OPTION_SECURE));
    }
    // Requests name the whole URL: plain requests to a CERN-style proxy.
    bool absoluteForm() const { return viaProxy() && !tunnelled(); }
    int major() const { return static_cast<int>(version >> 16); }
    int minor() const { return static_cast<int>(version & 0xFFFF); }
    bool AtLeast(int major, int minor) const { return version >= HTTP_VERSION(major, minor); }
};

using ClientRef = std::shared_ptr<HttpClientRecord>;

// Sets the thread's last error to the error number and returns -1.
int Fail(int error);
// The error number of the thread's last error (0 for none).
int LastErrorNumber();
// Keeps the thread's HTTP last error across steps whose own failure does not matter.
using HttpErrorGuard = LastErrorGuard<&HttpGetLastError, &HttpSetLastError>;

// The client of a handle for the calling thread, or null with
// fileErrorInvalidHandle / fileErrorNotHandleOwner set.
ClientRef LookupClient(HttpClient client);
// The same without the owner check (cancel, transfer status).
ClientRef LookupClientAnyThread(HttpClient client);
// Whether HttpInitialize has run (and its HttpUninitialize not yet).
bool EngineStarted();
// A new client in the table (lowest free slot), owned by the calling thread;
// null with the error set when the engine is not started or memory runs out.
ClientRef AllocateClient();
// Frees what the client holds and empties its slot. The caller's last error
// is kept.
void ReleaseClient(const ClientRef& client);

// The one place the connection state changes.
void SetState(HttpClientRecord& client, ConnectionState state);
// The one place the exchange state changes (traced as "HTTP exchange state Old -> New").
void SetState(HttpClientRecord& client, ExchangeState state);

// Posts again the socket events held back while the client's events were
// suppressed or a blocking call ran (async.cpp).
void ReleaseHeldSocketEvents(HttpClientRecord& client);

// Marks a blocking call of the client for its duration.
class BlockingScope {
  public:
    explicit BlockingScope(HttpClientRecord& client) : client_(client), was_(client.blockingCall) {
        client_.blockingCall = true;
    }
    ~BlockingScope() {
        client_.blockingCall = was_;
        if (!was_) ReleaseHeldSocketEvents(client_);
    }
    BlockingScope(const BlockingScope&) = delete;
    BlockingScope& operator=(const BlockingScope&) = delete;

  private:
    HttpClientRecord& client_;
    bool was_;
};

// ---- Events (notify.cpp) ----
void RaiseEvent(HttpClientRecord& client, DWORD event, int error);
// Events are not raised while suppressed (nested).
class EventSuppression {
  public:
    explicit EventSuppression(HttpClientRecord& client) : client_(client) { ++client_.suppression; }
    ~EventSuppression() {
        if (--client_.suppression == 0) ReleaseHeldSocketEvents(client_);
    }
    EventSuppression(const EventSuppression&) = delete;
    EventSuppression& operator=(const EventSuppression&) = delete;

  private:
    HttpClientRecord& client_;
};

// ---- Transport (transport.cpp) ----
// Waits for the socket within the client's time-out, watching the cancel flag:
// 0, or the error (set, with event 16 or 32 raised).
int WaitForSocket(HttpClientRecord& client, bool forWrite);
// Sends all bytes in pieces of at most pieceSize: 0, or -1 with the error set.
// A plain socket is tried first and waited for only when it takes nothing.
int SendAll(HttpClientRecord& client, const char* data, std::size_t length,
            std::size_t pieceSize = kPieceSize);
// The piece size of a body transfer: kPieceSize at background and low
// priority (they pause after every piece), kBodyPieceSize above.
std::size_t BodyPieceSize(const HttpClientRecord& client);
// Up to length bytes: the count, 0 at the end of the stream (closed flag set),
// -1 with the error set.
int ReceiveSome(HttpClientRecord& client, char* buffer, std::size_t length);
// Received bytes the client holds (its inbox, or a TLS channel's buffers).
bool HasBufferedBytes(const HttpClientRecord& client);
// Those, or bytes the socket has now: a read need not wait.
bool ReadableNow(const HttpClientRecord& client);
// One byte: 1, 0 at the end of the stream, -1 with the error set.
int ReadByte(HttpClientRecord& client, char& c);
// Closes TLS (close-notify) and the socket.
void CloseConnection(HttpClientRecord& client);

// ---- Connections (connect.cpp) ----
// Binds the TLS layer and keeps a copy of the credentials (a default record
// when none are given). False with the error set.
bool PrepareTls(HttpClientRecord& client, const TlsCredentials* given);
// "Basic " and the Base64 form of "user:password".
std::string BasicAuthorization(std::string_view user, std::string_view password);
// Re-opens the connection; any failure frees the client. 0 or -1.
int ReopenConnection(const ClientRef& client);

// Starts a connect whose end arrives at the client's window; 0, or -1 with
// the error set.
int StartAsyncConnect(const ClientRef& client);
// The end of an asynchronous connect: tunnel and TLS, then event 1; a failure
// frees the client.
void FinishAsyncConnect(const ClientRef& client, int error);

// ---- Asynchronous socket mode (async.cpp) ----
// The socket-level events of an event mask.
inline constexpr DWORD kSocketLevelEvents =
    HTTP_EVENT_CONNECT | HTTP_EVENT_DISCONNECT | HTTP_EVENT_READ | HTTP_EVENT_WRITE;
// Subclasses window and has the client's socket (when open) post its
// readiness there. 0, or -1 with the error set.
int EnterAsyncMode(HttpClientRecord& client, HWND window);
// Has a newly opened socket of a client in the mode post its readiness too.
int WatchSocket(HttpClientRecord& client);
// Ends the mode: the socket stops posting, the window is let go.
void LeaveAsyncMode(HttpClientRecord& client);
// Restores every subclassed window (the engine's last stop).
void RestoreAsyncWindows();
// Every client in the table (engine.cpp).
std::vector<ClientRef> AllClients();

// ---- Requests and responses (request.cpp, response.cpp) ----
int SendRequest(const ClientRef& client, std::string_view verb, std::string_view resource,
                bool redirected);
// mayFollow false: a redirect is handed back instead of followed.
int ReadResponse(const ClientRef& client, bool mayFollow = true);
int FollowRedirect(const ClientRef& client, std::string_view location);
// HttpRecv's work: up to length bytes of the body (never past an announced
// length), counted as transferred; 0 at its end, -1 with the error set.
int ReadBodyBytes(HttpClientRecord& client, char* buffer, std::size_t length);
int FinishRequest(const ClientRef& client);
// Per-request body data for POST and the PROP* verbs (kept by the caller).
void SetRequestBody(HttpClientRecord& client, const char* data, std::uint32_t length);

}  // namespace http
