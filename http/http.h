// The HTTP engine: start and stop, the thread's last error and its texts,
// client connections (HttpClient handles), requests and responses, headers,
// events, and the send and receive primitives the transfers are built on.
//
// Every operation runs on the calling thread and blocks it (pumping its window
// messages) until done. Failures return -1 (or 0 for flag results) and set the
// thread's last error, 0x80040000 | error number; nothing throws. A handle
// belongs to the thread that made it unless the client is free-threaded.
#pragma once

#include <stdint.h>

#include "net/net.h"
#include "platform/api.h"
#ifdef __cplusplus
#include "platform/messages.h"
#include "platform/wintypes.h"
#endif
#include "tls/tls.h"

FT_EXTERN_C_BEGIN

typedef uint64_t HttpClient;
#define INVALID_HTTP_CLIENT ((HttpClient)-1)

#define HTTP_LIBRARY_INFO_SIZE 168
#define HTTP_NOTIFY_MESSAGE 2025
#define HTTP_ERROR_TEXT_SIZE 128

// Fixed text capacities, terminator included.
#define HTTP_MAX_HOSTNAME 256
#define HTTP_MAX_USERNAME 128
#define HTTP_MAX_PASSWORD 128
#define HTTP_MAX_PATH 512
#define HTTP_MAX_REASON 128
#define HTTP_MAX_LINE 32767

// Protocol versions of HttpConnect: (major << 16) | minor.
#define HTTP_VERSION(major, minor) ((DWORD)(((major) << 16) | (minor)))
#define HTTP_VERSION_09 HTTP_VERSION(0, 9)
#define HTTP_VERSION_10 HTTP_VERSION(1, 0)
#define HTTP_VERSION_11 HTTP_VERSION(1, 1)

// Options of HttpConnect.
#define HTTP_OPTION_NOCACHE 0x1
#define HTTP_OPTION_KEEPALIVE 0x2
#define HTTP_OPTION_REDIRECT 0x4
#define HTTP_OPTION_PROXYCONFIG 0x8
#define HTTP_OPTION_NOERRORS 0x10
#define HTTP_OPTION_NOPORT443 0x400
#define HTTP_OPTION_NOVERIFY 0x800
#define HTTP_OPTION_SECURE 0x1000
#define HTTP_OPTION_IPV6ONLY 0x40000
#define HTTP_OPTION_FREETHREAD 0x80000

// Proxy types of HttpConnect.
#define HTTP_PROXY_NONE 0
#define HTTP_PROXY_CERN 1
#define HTTP_PROXY_TUNNEL 2
#define HTTP_PROXY_WINDOWS 3
#define HTTP_PROXY_OTHER 255

// Events (the bits of the event mask).
#define HTTP_EVENT_CONNECT 1
#define HTTP_EVENT_DISCONNECT 2
#define HTTP_EVENT_READ 4
#define HTTP_EVENT_WRITE 8
#define HTTP_EVENT_TIMEOUT 16
#define HTTP_EVENT_CANCEL 32
#define HTTP_EVENT_COMMAND 64
#define HTTP_EVENT_PROGRESS 128
#define HTTP_EVENT_REDIRECT 256
#define HTTP_EVENT_COUNT 9

// Connection states.
#define HTTP_STATE_IDLE 1
#define HTTP_STATE_CONNECTING 2
#define HTTP_STATE_RECEIVING 3
#define HTTP_STATE_SENDING 4
#define HTTP_STATE_DISCONNECTING 5
#define HTTP_STATE_DOWNLOADING 6
#define HTTP_STATE_UPLOADING 7
#define HTTP_STATE_POSTING 8

// Priorities.
#define HTTP_PRIORITY_BACKGROUND 0
#define HTTP_PRIORITY_LOW 1
#define HTTP_PRIORITY_NORMAL 2
#define HTTP_PRIORITY_HIGH 3
#define HTTP_PRIORITY_CRITICAL 4

typedef struct HttpLibraryInfo {
    uint32_t size;  // must be 168
    uint32_t majorVersion;
    uint32_t minorVersion;
    uint32_t build;
    uint32_t reserved;
    void* module;  // the engine's module after a successful start, else null
    char description[136];
} HttpLibraryInfo;

typedef struct HttpTransferStatus {
    uint32_t totalBytes;
    uint32_t bytesCopied;
    uint32_t bytesPerSecond;
    uint32_t elapsedSeconds;
    uint32_t secondsLeft;
} HttpTransferStatus;

// Called by HttpRaiseEvent before the event message is sent.
typedef void (*HttpEventProc)(HttpClient client, DWORD event, DWORD error, void* userValue);

// ---- Engine ----------------------------------------------------------------------

// Process reference count +1; the first start also starts the socket runtime.
// 1, or 0 with the error set (10014 for a record whose size is not 168, the
// socket runtime's error when it cannot start).
FT_API int HttpInitialize(HttpLibraryInfo* info);
// Reference count -1; the last stop releases every client left and stops the
// socket runtime.
FT_API void HttpUninitialize(void);
// The version of the compression library that decodes gzip and deflate bodies.
FT_API const char* HttpZlibVersion(void);

FT_API DWORD HttpGetLastError(void);
// Values from 1 to 0xFFFF get 0x80040000 or-ed in; 0 clears.
FT_API void HttpSetLastError(DWORD error);
// The message text of an error (0: the last error) into buffer (128 characters;
// null uses an internal buffer). The length, 0 when there is no text.
FT_API int HttpGetErrorString(DWORD error, char* buffer);

// The local address of the client's socket; without one the address of the
// local host name for family 2 (also for 0) or 23 (forced by
// HTTP_OPTION_IPV6ONLY). Gives the family, or -1 (12004 when the local host
// cannot be resolved, 10014 for a null record).
FT_API int HttpGetLocalAddress(HttpClient client, int family, NetAddress* address);

// ---- Connections -----------------------------------------------------------------

// Opens a client: directly (proxy type 0), through a CERN-style proxy (1, 255:
// plain requests carry absolute URLs, TLS goes through a CONNECT tunnel), a
// CONNECT tunnel for every scheme (2), or the proxy the system settings name
// for the host (3, or HTTP_OPTION_PROXYCONFIG on a direct connect; 12210 when
// the machine's settings cannot be read). serverHost may be a URL; port 0 is
// the scheme's default. version is HTTP_VERSION(major, minor).
// credentials may be null (TLS with the default protocols).
FT_API HttpClient HttpConnect(int proxyType, const char* proxyHost, int proxyPort,
                              const char* proxyUser, const char* proxyPassword,
                              const char* serverHost, int serverPort, int timeoutSeconds,
                              DWORD options, DWORD version, const TlsCredentials* credentials);
// The message a client's socket notifications reach its window with in the
// asynchronous mode (the socket in wParam, the socket event and its error in
// lParam).
#define HTTP_ASYNC_MESSAGE 9215
// HttpConnect with a notification window (message >= 1024): the events of the
// mask go to it as HttpRegisterNotify sends them. With any of the socket-level
// events in the mask (connect, disconnect, read, write) the client runs in the
// asynchronous mode: the call returns while the connect is under way and
// event 1 reports its end (tunnel and TLS included; on failure with the error,
// the handle then freed); read readiness first reads a pending response, then
// raises event 4; write readiness raises 8; the server's close raises 2; and
// HttpRecv gives what has arrived or fails with 10035 instead of waiting.
FT_API HttpClient HttpConnectNotify(int proxyType, const char* proxyHost, int proxyPort,
                                    const char* proxyUser, const char* proxyPassword,
                                    const char* serverHost, int serverPort, int timeoutSeconds,
                                    DWORD options, DWORD version, const TlsCredentials* credentials,
                                    HWND window, UINT message, DWORD eventMask);
// Finishes a pending request, closes the connection and frees the handle. 0 or -1.
FT_API int HttpDisconnect(HttpClient client);
// Opens the connection again (proxy, tunnel and TLS included); a failure frees
// the handle. 0 or -1.
FT_API int HttpReconnect(HttpClient client);
// Asks the client's running operation to stop (any thread). INVALID_HTTP_CLIENT
// cancels the calling thread's blocking call. 0 or -1.
FT_API int HttpCancel(HttpClient client);
// The TLS parameters and certificate of a secure client; every field 0 but the
// size on a plain one. 1 or 0.
FT_API int HttpGetSecurityInfo(HttpClient client, SecurityInfo* info);

// ---- System proxy settings -------------------------------------------------------

// Where HttpGetProxyConfig looks: the automatic configuration, then the
// current user's settings; or the machine's settings alone.
#define HTTP_PROXY_SOURCE_MACHINE 1
#define HTTP_PROXY_SOURCE_USER 2
#define HTTP_AUTOCONFIG_URL_SIZE 4096

// The answer of a proxy lookup: kind HTTP_PROXY_CERN (1) or HTTP_PROXY_TUNNEL
// (2), or 0 for none; zeroed at the start of every lookup.
typedef struct HttpProxyLookup {
    int32_t kind;
    int32_t port;
    char host[HTTP_MAX_HOSTNAME];
} HttpProxyLookup;

// The proxy the system settings name for host and target port (80 or 443;
// docs/proxies.md). 1 (a proxy, record filled), 0 (none for this host), -1
// (the settings could not be read or name no ProxyServer; 10014 for a null
// record).
FT_API int HttpGetProxyConfig(const char* host, int targetPort, int sources,
                              HttpProxyLookup* record);
// The proxy the automatic configuration script gives host and target port
// (80 or 443). 1, or 0 (no proxy, or an error set: 11001 no host, 10014 null
// record or another port, 12271 a configuration URL that cannot be split,
// 12330 no script engine, the fetch's error).
FT_API int HttpAutoProxy(const char* host, int targetPort, HttpProxyLookup* record);
// The automatic configuration URL of the current user's (machine 0) or the
// machine's settings, found by name or by detection, into buffer
// (HTTP_AUTOCONFIG_URL_SIZE characters). 1, or 0.
FT_API int HttpFindAutoConfigUrl(char* buffer, int machine);
// 1 when host matches an entry of the ";"-separated bypass list ("?" one
// character, "*" any run; a last entry "<local>" stands for this machine's
// names), else 0.
FT_API int HttpBypassMatch(const char* host, const char* list);

// ---- Requests and responses ------------------------------------------------------

// Sends a request and, for most verbs, reads the response header. The status
// code, or -1 (a status that maps to an error fails with that error).
FT_API int HttpSendRequest(HttpClient client, const char* verb, const char* resource);
// Reads a pending response header (or a chunked body's trailer). 0 or -1.
FT_API int HttpReadResponse(HttpClient client);
// Sends the current request again to location (a path or a URL). The status
// code, or -1.
FT_API int HttpFollowRedirect(HttpClient client, const char* location);
// Ends the current request: reads a pending upload response, clears the body
// state; a body left unread closes the connection. 0 or -1.
FT_API int HttpFinishRequest(HttpClient client);
FT_API int HttpGetResultCode(HttpClient client);
// The reason phrase into buffer (HTTP_MAX_REASON characters); its length or -1.
FT_API int HttpGetResultString(HttpClient client, char* buffer);

// ---- Settings and headers --------------------------------------------------------

// Basic authentication is on when user or password is non-empty. 0 or -1.
FT_API int HttpSetCredentials(HttpClient client, const char* user, const char* password);
// An empty or null value removes the header. 0 or -1.
FT_API int HttpSetRequestHeader(HttpClient client, const char* name, const char* value);
// Case-insensitive look-up. A null length only tests presence; a null buffer
// gives the value's length in *length; else the value is copied when *length
// (terminator included) is large enough and *length becomes the value's
// length. 1 when present, 0 (12283) when not, 0 (10014) when it does not fit.
FT_API int HttpGetRequestHeader(HttpClient client, const char* name, char* buffer, int* length);
FT_API int HttpGetResponseHeader(HttpClient client, const char* name, char* buffer, int* length);
// which: 0 request headers, 1 response headers. 0 or -1.
FT_API int HttpClearHeaders(HttpClient client, int which);
// Sets ("bytes=N-") or, for 0, removes the Range header. 0 or -1.
FT_API int HttpSetRestartOffset(HttpClient client, uint64_t offset);
FT_API int HttpGetPriority(HttpClient client);
// The previous priority, or -1.
FT_API int HttpSetPriority(HttpClient client, int priority);
// Stored for later GET requests. 0 or -1.
FT_API int HttpEnableCompression(HttpClient client, BOOL enable);
// Bounds on what a coded body (gzip, deflate, zlib) may decode to: maxSize
// bytes (0: none) and maxRatio decoded bytes per coded byte, checked once the
// output passes 16 MiB (0: none). Past one, the download fails with
// fileErrorDecodedSizeExceeded. A new client has no size bound and the
// default ratio. 0 or -1.
#define HTTP_DEFAULT_DECODED_RATIO 1000
FT_API int HttpSetDecodeLimits(HttpClient client, uint64_t maxSize, uint32_t maxRatio);
// 1 or 0.
FT_API int HttpGetTransferStatus(HttpClient client, HttpTransferStatus* status);
// The whole byte counts of the current or last transfer (restart offset
// included), which HttpTransferStatus holds only up to 4 GiB. 1, or 0.
FT_API int HttpGetTransferTotals64(HttpClient client, uint64_t* totalBytes, uint64_t* bytesCopied);

// ---- Events ----------------------------------------------------------------------

// Sends `message` to window for the events of the mask (message >= 1024); a
// null window unregisters and clears the callbacks. A mask with socket-level
// events puts an open connection into the asynchronous mode (HttpConnectNotify).
// 0 or -1.
FT_API int HttpRegisterNotify(HttpClient client, HWND window, UINT message, DWORD eventMask);
// The callback of one event bit (null clears it). 0 or -1.
FT_API int HttpSetEventCallback(HttpClient client, DWORD event, HttpEventProc callback,
                                void* userValue);
// Raises an event as the engine does: 0, or -1 for an unknown handle.
FT_API int HttpRaiseEvent(HttpClient client, DWORD event, DWORD error);

// ---- Data ------------------------------------------------------------------------

// Sends the bytes (TLS when secure): length, or -1.
FT_API int HttpSend(HttpClient client, const void* data, int length);
// Receives up to length bytes of the body: the count, 0 at its end, or -1.
FT_API int HttpRecv(HttpClient client, void* buffer, int length);
// The size of the next chunk of a chunked body; 0 for the last one (its
// trailer is read too) or at the end of the stream; -1 on failure.
FT_API int64_t HttpReadChunkSize(HttpClient client);

FT_EXTERN_C_END
