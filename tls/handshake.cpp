// The client handshake over the engine's socket.
#include <openssl/err.h>

#include "resources/errors.h"
#include "tls/channel.h"

namespace tls {
namespace {

enum class Progress { Done, NeedInput, Failed };

int CreateSession(TlsChannel& channel, const std::string& target) {
    SSL_free(channel.ssl);
    channel.ssl = SSL_new(channel.context->ctx);
    if (!channel.ssl) return Fail(fileErrorOutOfMemory);
    BIO* network = NewSocketBio(channel);
    if (!network) return Fail(fileErrorOutOfMemory);
    SSL_set_bio(channel.ssl, network, network);
    SSL_set_app_data(channel.ssl, &channel);
    SSL_set_connect_state(channel.ssl);
    // Server name indication carries host names only, never addresses.
    if (NetAddressFamilyOf(target.c_str()) == NET_FAMILY_NONE) {
        SSL_set_tlsext_host_name(channel.ssl, target.c_str());
    }
    if (channel.resumeFrom) SSL_set_session(channel.ssl, channel.resumeFrom);
    channel.validationStatus = X509_V_OK;
    return 1;
}

// Runs the handshake as far as the bytes received so far allow and sends what
// it produced (alerts included).
Progress Step(TlsChannel& channel) {
    ERR_clear_error();
    int result = SSL_do_handshake(channel.ssl);
    int reason = SSL_get_error(channel.ssl, result);
    bool sent = FlushOutput(channel) != 0;
    ERR_clear_error();
    if (result == 1) return sent ? Progress::Done : Progress::Failed;
    bool waiting = reason == SSL_ERROR_WANT_READ || reason == SSL_ERROR_WANT_WRITE;
    if (waiting) return sent ? Progress::NeedInput : Progress::Failed;
    // A hung-up peer fails the handshake as a context error, a failed receive
    // with its own error.
    Fail(channel.inputError != 0 && !channel.inputEnded ? channel.inputError
                                                        : fileErrorSecurityContext);
    return Progress::Failed;
}

int Failed(TlsChannel& channel) {
    SetState(channel, ChannelState::Failed);
    return 0;
}

}  // namespace
}  // namespace tls

using tls::ChannelState;
using tls::Fail;

extern "C" {

int TlsStartHandshake(TlsChannel* channel) {
    if (!channel) return Fail(fileErrorInvalidParameter);
    if (!tls::IsBound()) return Fail(fileErrorSecurityNotInitialized);
    std::string target = tls::TargetName(*channel);
    if (target.empty()) return Fail(fileErrorInvalidHostName);
    if (!tls::EnsureContext(*channel) || !tls::CreateSession(*channel, target)) {
        return tls::Failed(*channel);
    }
    tls::SetState(*channel, ChannelState::Handshaking);
    if (tls::Step(*channel) == tls::Progress::Failed) return tls::Failed(*channel);
    return 1;
}

int TlsPushReceived(TlsChannel* channel, const void* data, int length) {
    if (!channel || !data || length < 0) return Fail(fileErrorInvalidParameter);
    if (!channel->ssl) return Fail(fileErrorSecurityContext);
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::vector<unsigned char>& input = channel->input;
    input.erase(input.begin() + static_cast<std::ptrdiff_t>(channel->inputEnd), input.end());
    input.insert(input.end(), bytes, bytes + length);
    channel->inputEnd = input.size();
    return 1;
}

int TlsHandshakeLoop(TlsChannel* channel) {
    if (!channel) return Fail(fileErrorInvalidParameter);
    if (!tls::IsBound()) return Fail(fileErrorSecurityNotInitialized);
    if (channel->state != ChannelState::Handshaking) return Fail(fileErrorSecurityContext);
    for (;;) {
        switch (tls::Step(*channel)) {
            case tls::Progress::Done:
                tls::SetState(*channel, ChannelState::Established);
                tls::TranscriptSession(*channel);
                return 1;
            case tls::Progress::Failed:
                return tls::Failed(*channel);
            case tls::Progress::NeedInput:
                break;
        }
        int filled = tls::FillInput(*channel);
        if (filled == 0) Fail(fileErrorSecurityContext);  // the peer hung up
        if (filled <= 0) return tls::Failed(*channel);
    }
}

}  // extern "C"
