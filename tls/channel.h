// The inside of a TLS channel, shared by the files of the secure channel.
//
// OpenSSL never touches the socket: it reads the peer's bytes from one memory
// BIO and writes what it wants to send into another. The transport moves bytes
// between those BIOs and the engine's socket with the engine's own waits, so
// time-outs, cancellation and message pumping work during TLS as everywhere.
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tls/tls.h"

namespace tls {

// Size of one socket receive.
constexpr int kBufferSize = 65536;
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
    BIO* networkIn = nullptr;   // bytes received from the peer, read by OpenSSL
    BIO* networkOut = nullptr;  // bytes OpenSSL wants sent to the peer
    SSL_SESSION* resumeFrom = nullptr;
    SSL_SESSION* latestSession = nullptr;  // the newest resumable session of this channel

    std::vector<unsigned char> received;  // one socket receive
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
// Sends everything OpenSSL queued for the peer. 1, or 0 with the error set.
int FlushOutput(TlsChannel& channel);
// Waits for the peer's bytes and hands one receive to OpenSSL. 1 when bytes
// came, 0 when the peer closed the connection, -1 with the error set.
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
