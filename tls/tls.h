// The secure channel of the FTP and HTTP engines: client credentials, the TLS
// handshake over an engine's socket, record encryption and decryption, and the
// security information shown by the control.
#pragma once

#include <stdint.h>

#include "net/net.h"
#include "platform/api.h"
#ifdef __cplusplus
#include <memory>

#include "platform/automation.h"
#include "platform/wintypes.h"
#endif

FT_EXTERN_C_BEGIN

// fileProtocol bits of the protocol mask.
#define TLS_PROTOCOL_SSL2 1
#define TLS_PROTOCOL_SSL3 2
#define TLS_PROTOCOL_TLS 8
#define TLS_PROTOCOL_DEFAULT 10

// Store location flags.
#define TLS_STORE_CURRENT_USER 1
#define TLS_STORE_LOCAL_MACHINE 2
#define TLS_STORE_PFX_FILE 4

#define TLS_CREDENTIALS_SIZE 64
#define TLS_SECURITY_INFO_SIZE 88

// One allocation: the fixed part followed by the texts it points to. Made by
// TlsCreateCredentials, owned by the caller, copied into each connection.
typedef struct TlsCredentials {
    uint32_t size;           // size of the fixed part (64)
    uint32_t protocol;       // TLS_PROTOCOL_* mask; 0 means TLS_PROTOCOL_DEFAULT
    uint32_t location;       // TLS_STORE_* flags; 0 means current user
    uint32_t reserved;       // 0
    char* serverName;        // name to validate the certificate against (null: the host)
    char* reserved1;         // not set by the control
    char* pfxPassword;       // password of a PFX file
    char* certificateStore;  // store name ("HKLM:"/"HKCU:" prefix) or a PFX file path
    char* certificateName;   // friendly name or part of the subject
    char* reserved2;         // not set by the control; the secure-shell path refuses it
} TlsCredentials;

// Filled for the control; the caller sets size (at least 88) first.
typedef struct SecurityInfo {
    uint32_t size;
    uint32_t protocol;           // 1 SSL 2, 2 SSL 3, 8 TLS, 4096 other
    uint32_t cipher;             // fileCipher value
    uint32_t cipherStrength;     // bits
    uint32_t hash;               // fileHash value
    uint32_t hashStrength;       // bits
    uint32_t keyExchange;        // fileKeyExchange value
    uint32_t certificateStatus;  // fileCertificate value
    SYSTEMTIME validFrom;
    SYSTEMTIME validUntil;
    const char* issuer;   // owned by the connection
    const char* subject;  // owned by the connection
    const char* extra;    // left null by the secure channel
} SecurityInfo;

// The TLS state of one channel (an FTP command or data connection, an HTTP client).
typedef struct TlsChannel TlsChannel;

// The error number of the calling thread's last failed TLS operation (0 for none).
FT_API int TlsGetLastError(void);

FT_API int TlsBindProvider(void);
FT_API void TlsUnbindProvider(void);
// The name and version of the TLS library the engines are built on.
FT_API const char* TlsProviderVersion(void);

// Frees a record already in *record and stores a new one. 1 or 0.
FT_API int TlsCreateCredentials(uint32_t protocol, const char* certificateStore,
                                const char* certificateName, TlsCredentials** record);
// A deep copy, or null.
FT_API TlsCredentials* TlsCopyCredentials(const TlsCredentials* record);
// Frees *slot (texts wiped) and clears it.
FT_API void TlsFreeCredentials(TlsCredentials** slot);

// A channel over a connected socket; hostName is the name the certificate is
// checked against unless the credentials name another. Null when out of memory.
FT_API TlsChannel* TlsCreateChannel(SOCKET socket, const char* hostName,
                                    const TlsCredentials* credentials, int timeoutSeconds,
                                    uint32_t options);
FT_API void TlsFreeChannel(TlsChannel* channel);
// Changes how long the channel's waits for the peer last (seconds; 0 or less:
// no limit); returns the previous value.
FT_API int TlsSetTimeout(TlsChannel* channel, int timeoutSeconds);
// Told when a wait of the channel ends by time-out (10060) or cancellation
// (10004), so that the engine can raise its own event for it.
typedef void (*TlsWaitObserver)(void* context, int error);
FT_API void TlsSetWaitObserver(TlsChannel* channel, TlsWaitObserver observer, void* context);
// Makes the next handshake of channel resume the session of source (an FTP data
// connection resumes its control connection's session, as servers commonly
// require). Call before TlsStartHandshake. 1 or 0.
FT_API int TlsResumeSessionOf(TlsChannel* channel, const TlsChannel* source);

FT_API int TlsAcquireCredentials(TlsChannel* channel);
FT_API int TlsStartHandshake(TlsChannel* channel);
FT_API int TlsHandshakeLoop(TlsChannel* channel);
// Hands the channel bytes of the peer that were read from the socket before
// TLS took it over (after a proxy's CONNECT answer), once the handshake has
// started. 1 or 0.
FT_API int TlsPushReceived(TlsChannel* channel, const void* data, int length);
FT_API int TlsSelectClientCertificate(TlsChannel* channel);
FT_API int TlsValidateCertificate(TlsChannel* channel);
FT_API int TlsShutdown(TlsChannel* channel);
// Ends TLS on a connection that goes on in clear text (FTP's CCC): sends
// close-notify and takes the peer's off the socket. 1 or 0.
FT_API int TlsEndSecureChannel(TlsChannel* channel);
// Bytes delivered, 0 at the end of the stream, -1 on error.
FT_API int TlsDecrypt(TlsChannel* channel, void* buffer, int length);
// 1 when bytes wait inside the channel, decrypted or received and not yet
// decrypted, so that a reader driven by socket readiness must not wait for the
// socket before TlsDecrypt; else 0.
FT_API int TlsHasBufferedData(const TlsChannel* channel);
// Seals data into records and sends them: length, or -1 on error.
FT_API int TlsEncrypt(TlsChannel* channel, const void* data, int length);
// For bulk data: seals and sends only whole 16 KiB records and keeps the rest
// for the next call, so that small writes still travel in full records. The
// kept bytes go out with TlsFlush, the next TlsEncrypt, or TlsShutdown.
// length, or -1 on error.
FT_API int TlsEncryptGathered(TlsChannel* channel, const void* data, int length);
// Seals and sends what TlsEncryptGathered kept back. 1 or 0.
FT_API int TlsFlush(TlsChannel* channel);
// Fills the record of a secured channel. 1 or 0.
FT_API int TlsGetSecurityInfo(TlsChannel* channel, SecurityInfo* info);

FT_EXTERN_C_END

#ifdef __cplusplus
// Owners that free a channel or a credentials record with the functions above.
struct TlsChannelDeleter {
    void operator()(TlsChannel* channel) const { TlsFreeChannel(channel); }
};
using TlsChannelPtr = std::unique_ptr<TlsChannel, TlsChannelDeleter>;

struct TlsCredentialsDeleter {
    void operator()(TlsCredentials* record) const { TlsFreeCredentials(&record); }
};
using TlsCredentialsPtr = std::unique_ptr<TlsCredentials, TlsCredentialsDeleter>;
#endif
