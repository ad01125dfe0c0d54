// The inside of a TLS channel, shared by the files of the secure channel.
//
// OpenSSL never waits: it reads the peer's bytes through the channel's BIO,
// which receives from the socket without blocking, and writes what it wants to
// send into the channel's buffer. The transport sends that buffer and waits for
// the socket with the engine's own waits, so time-outs, cancellation and
// message pumping work during TLS as everywhere.
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tls/tls.h"

namespace tls {

// Size of one socket receive.
constexpr std::size_t kBufferSize = 262144;
// Sends without a time-out of their own give up after this long.
constexpr int kDefaultSendTimeoutSeconds = 60;
// Connection option: do not validate the server's certificate.
constexpr uint32_t kOptionNoValidation = 0x800;
// How long the end of a secure channel waits for the peer's close-notify.
constexpr int kPeerCloseWaitSeconds = 3;

class ClientIdentity;

// The client side of the credentials: one SSL_CTX with the protocol range and
// the client certificate, and the other certificates of its store, for a
// server that accepts another issuer. Data channels share their control
// channel's context.
struct ClientContext {
    SSL_CTX* ctx = nullptr;
    bool trustStoreLoaded = false;
    std::vector<ClientIdentity> store;
    ClientContext();
    ~ClientContext();
};

enum class ChannelState {
    Created,      // no credentials yet
    Ready,        // credentials acquired, no handshake yet
    Handshaking,  // the handshake is under way
    Established,  // records flow
    PeerClosed,   // the peer sent close-notify or closed the connection
    ShutDown,     // our close-notify was sent; the session is gone
    Failed,       // the handshake failed
};

}  // namespace tls

struct TlsChannel {
    SOCKET socket = INVALID_SOCKET;
    std::string hostName;
    TlsCredentials* credentials = nullptr;
    int timeoutSeconds = 0;
    uint32_t options = 0;
    tls::ChannelState state = tls::ChannelState::Created;

    std::shared_ptr<tls::ClientContext> context;
    SSL* ssl = nullptr;
    SSL_SESSION* resumeFrom = nullptr;
    SSL_SESSION* latestSession = nullptr;  // the newest resumable session of this channel

    // Received bytes OpenSSL has not read yet (TlsPushReceived adds those that
    // came before the channel took the socket over).
    std::vector<unsigned char> input;
    std::size_t inputAt = 0;              // the next byte OpenSSL reads
    std::size_t inputEnd = 0;             // the end of what was received
    bool inputEnded = false;              // a receive found the peer's side closed
    int inputError = 0;                   // the error of a receive that failed
    std::vector<unsigned char> sending;   // sealed records on their way to the socket
    std::vector<unsigned char> gathered;  // plaintext kept back by TlsEncryptGathered

    long validationStatus = 0;  // X509_V_OK or the verification error
    std::string issuer;
    std::string subject;

    TlsWaitObserver waitObserver = nullptr;
    void* waitObserverContext = nullptr;
};

namespace tls {

// Sets the thread's last TLS error; returns 0 so callers can `return Fail(...)`.
int Fail(int error);
int LastError();

void SetState(TlsChannel& channel, ChannelState state);

// Builds the channel's context from its credentials when it has none. 1 or 0.
int EnsureContext(TlsChannel& channel);

// ---- Transport (transport.cpp) ----
// The BIO OpenSSL reads and writes the channel's records through (one for both
// directions; the session owns it).
BIO* NewSocketBio(TlsChannel& channel);
// Sends everything OpenSSL queued for the peer. 1, or 0 with the error set.
int FlushOutput(TlsChannel& channel);
// Waits until the socket has bytes for OpenSSL's next read. 1 when it has, 0
// when a receive found the peer's side closed, -1 with the error set (the
// failed receive's, a time-out or a cancel).
int FillInput(TlsChannel& channel);
// The same with its own limit (negative: none); `observed` says whether a
// time-out or cancellation is told to the channel's observer.
int FillInputWithin(TlsChannel& channel, int limitSeconds, bool observed);

// Reads and drops what has already arrived, without waiting. A socket closed
// with unread bytes (TLS 1.3 session tickets on an upload's data connection,
// say) is reset, and a reset can make the peer lose data it has not read yet.
void DiscardUnread(TlsChannel& channel);

// The name the certificate must carry: the credentials' server name, else the
// host connected to.
std::string TargetName(const TlsChannel& channel);

// Tells the transcript (net/transcript.h) what the handshake settled: the
// protocol version, the cipher suite, the server certificate's subject and
// issuer.
void TranscriptSession(const TlsChannel& channel);

// ---- Certificate texts (certificate_text.cpp) ----
// "CN=..., O=..., C=..." with the most specific part first.
std::string NameText(const X509_NAME* name);
// Case-insensitive ASCII comparisons.
bool ContainsIgnoringCase(std::string_view text, std::string_view part);

}  // namespace tls

namespace tls {
// True once TlsBindProvider has succeeded (and until TlsUnbindProvider).
bool IsBound();
}  // namespace tls

namespace tls {
// The fileCertificate value of a verification result (X509_V_OK gives 1).
uint32_t CertificateStatusOf(long verifyError);
}  // namespace tls
