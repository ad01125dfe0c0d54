// Channels, their credentials (the client context) and session resumption.
#include "tls/channel.h"

#include <openssl/err.h>

#include <iterator>
#include <new>
#include <utility>

#include "net/state_trace.h"
#include "resources/errors.h"
#include "tls/client_certificate.h"

namespace tls {
namespace {

// What each bit of the protocol mask enables. OpenSSL 3 offers neither SSL 2,
// SSL 3 nor PCT, and TLS below 1.2 is not worth offering: the TLS bit enables
// TLS 1.2 and 1.3, and a mask without it enables nothing.
struct ProtocolRange {
    uint32_t bit;
    int lowest;
    int highest;
};

constexpr ProtocolRange kProtocolRanges[] = {
    {TLS_PROTOCOL_TLS, TLS1_2_VERSION, TLS1_3_VERSION},
};

const ProtocolRange* RangeFor(uint32_t mask) {
    if (mask == 0) mask = TLS_PROTOCOL_DEFAULT;
    for (const ProtocolRange& range : kProtocolRanges) {
        if (mask & range.bit) return &range;
    }
    return nullptr;
}

// Keeps the newest resumable session of each channel: with TLS 1.3 the server
// sends its tickets after the handshake, and a data connection must resume one
// of them.
int KeepNewSession(SSL* ssl, SSL_SESSION* session) {
    auto* channel = static_cast<TlsChannel*>(SSL_get_app_data(ssl));
    if (!channel) return 0;
    SSL_SESSION_free(channel->latestSession);
    channel->latestSession = session;
    return 1;  // the reference is ours now
}

constexpr const char* kStateNames[] = {"Created",    "Ready",    "Handshaking", "Established",
                                       "PeerClosed", "ShutDown", "Failed"};
static_assert(std::size(kStateNames) == static_cast<std::size_t>(ChannelState::Failed) + 1);

std::string_view Text(const char* text) {
    return text ? std::string_view(text) : std::string_view();
}

// Runs when the server asks for a certificate, before ours is sent.
int SelectOnRequest(SSL* ssl, void* context) {
    SelectAcceptedCertificate(ssl, static_cast<ClientContext*>(context)->store);
    return 1;
}

int BuildContext(TlsChannel& channel) {
    const TlsCredentials empty{TLS_CREDENTIALS_SIZE,
                               TLS_PROTOCOL_DEFAULT,
                               0,
                               0,
                               nullptr,
                               nullptr,
                               nullptr,
                               nullptr,
                               nullptr,
                               nullptr};
    const TlsCredentials& credentials = channel.credentials ? *channel.credentials : empty;
    const ProtocolRange* range = RangeFor(credentials.protocol);
    if (!range) return Fail(fileErrorSecurityCredentials);
    auto context = std::make_shared<ClientContext>();
    context->ctx = SSL_CTX_new(TLS_client_method());
    if (!context->ctx) return Fail(fileErrorSecurityCredentials);
    SSL_CTX* ctx = context->ctx;
    SSL_CTX_set_min_proto_version(ctx, range->lowest);
    SSL_CTX_set_max_proto_version(ctx, range->highest);
    // The certificate is checked after the handshake (TlsValidateCertificate),
    // so that a bad one can be reported while the connection stays up.
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx, KeepNewSession);
    if (!Text(credentials.certificateName).empty()) {
        ClientIdentity identity;
        if (!LoadClientIdentity(credentials, identity, &context->store)) return 0;
        if (!identity.InstallInto(ctx)) return Fail(fileErrorSecurityCredentials);
        SSL_CTX_set_cert_cb(ctx, SelectOnRequest, context.get());
    }
    channel.context = std::move(context);
    return 1;
}

}  // namespace

ClientContext::ClientContext() = default;

ClientContext::~ClientContext() {
    SSL_CTX_free(ctx);
}

void SetState(TlsChannel& channel, ChannelState state) {
    net::ChangeState(channel.state, state, "TLS channel", kStateNames);
}

int EnsureContext(TlsChannel& channel) {
    if (!IsBound()) return Fail(fileErrorSecurityNotInitialized);
    if (channel.context) return 1;
    int built = BuildContext(channel);
    ERR_clear_error();
    return built;
}

}  // namespace tls

using tls::Fail;

extern "C" {

int TlsSetTimeout(TlsChannel* channel, int timeoutSeconds) {
    if (!channel) return 0;
    return std::exchange(channel->timeoutSeconds, timeoutSeconds);
}

TlsChannel* TlsCreateChannel(SOCKET socket, const char* hostName, const TlsCredentials* credentials,
                             int timeoutSeconds, uint32_t options) {
    auto* channel = new (std::nothrow) TlsChannel;
    if (!channel) {
        Fail(fileErrorOutOfMemory);
        return nullptr;
    }
    channel->socket = socket;
    channel->hostName = hostName ? hostName : "";
    channel->timeoutSeconds = timeoutSeconds;
    channel->options = options;
    if (credentials) {
        channel->credentials = TlsCopyCredentials(credentials);
        if (!channel->credentials) {
            delete channel;
            return nullptr;
        }
    }
    return channel;
}

void TlsFreeChannel(TlsChannel* channel) {
    if (!channel) return;
    SSL_free(channel->ssl);  // frees the BIO
    SSL_SESSION_free(channel->resumeFrom);
    SSL_SESSION_free(channel->latestSession);
    TlsFreeCredentials(&channel->credentials);
    delete channel;
}

void TlsSetWaitObserver(TlsChannel* channel, TlsWaitObserver observer, void* context) {
    if (!channel) return;
    channel->waitObserver = observer;
    channel->waitObserverContext = context;
}

int TlsResumeSessionOf(TlsChannel* channel, const TlsChannel* source) {
    if (!channel || !source || channel->ssl) return Fail(fileErrorInvalidParameter);
    SSL_SESSION* session = source->latestSession;
    if (!session && source->ssl) session = SSL_get0_session(source->ssl);
    if (!session || !SSL_SESSION_is_resumable(session)) return Fail(fileErrorSecurityContext);
    // OpenSSL retires a TLS 1.3 session once it has been resumed; a copy keeps
    // the source's session good for the next data connection.
    SSL_SESSION* copy = SSL_SESSION_dup(session);
    if (!copy) return Fail(fileErrorOutOfMemory);
    SSL_SESSION_free(channel->resumeFrom);
    channel->resumeFrom = copy;
    // The same credentials: share the context (and its loaded trust store).
    if (source->context) channel->context = source->context;
    return 1;
}

int TlsAcquireCredentials(TlsChannel* channel) {
    if (!channel) return Fail(fileErrorInvalidParameter);
    if (!tls::EnsureContext(*channel)) return 0;
    if (channel->state == tls::ChannelState::Created)
        tls::SetState(*channel, tls::ChannelState::Ready);
    return 1;
}

// OpenSSL presents the certificate chosen with the credentials whenever the
// server asks for one, so there is nothing left to choose here.
int TlsSelectClientCertificate(TlsChannel* channel) {
    if (!channel) return Fail(fileErrorInvalidParameter);
    if (!tls::IsBound()) return Fail(fileErrorSecurityNotInitialized);
    // The handshake runs this itself when the server asks; without a store or a
    // handshake under way there is nothing to choose, and it goes on without.
    if (channel->ssl && channel->context) {
        tls::SelectAcceptedCertificate(channel->ssl, channel->context->store);
    }
    return 1;
}

}  // extern "C"
