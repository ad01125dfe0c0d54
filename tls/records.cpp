// Record traffic: decryption with buffering, encryption, and close-notify.
#include <openssl/err.h>

#include <algorithm>

#include "net/trace.h"
#include "resources/errors.h"
#include "tls/channel.h"

namespace tls {
namespace {

int FailRecord(int error) {
    Fail(error);
    return -1;
}

constexpr int kShutdownRounds = 64;
// The largest plaintext one record carries.
constexpr std::size_t kRecordPayload = 16384;

int PeerClosed(TlsChannel& channel) {
    SetState(channel, ChannelState::PeerClosed);
    return 0;
}

bool CarriesRecords(const TlsChannel& channel) {
    return channel.ssl && (channel.state == ChannelState::Established ||
                           channel.state == ChannelState::PeerClosed);
}

// Decrypts straight into the caller's buffer (OpenSSL keeps the rest of a
// record for the next call): the byte count, 0 at the end of the stream, -1
// with the error set.
int DecryptInto(TlsChannel& channel, void* buffer, int length) {
    for (;;) {
        ERR_clear_error();
        int result = SSL_read(channel.ssl, buffer, length);
        int reason = SSL_get_error(channel.ssl, result);
        ERR_clear_error();
        // Reading may answer the peer (a key update, for example).
        if (!FlushOutput(channel)) return -1;
        if (result > 0) {
            NetTraceMessage(NET_TRACE_INFO, "Decrypted buffer of %ld bytes",
                            static_cast<long>(result));
            NetTraceDump(buffer, result);
            return result;
        }
        if (reason == SSL_ERROR_ZERO_RETURN) return PeerClosed(channel);
        if (reason == SSL_ERROR_WANT_WRITE) continue;
        if (reason != SSL_ERROR_WANT_READ) {
            // OpenSSL gives up on a stream that ended without close-notify and
            // on a failed receive; those are the connection's doing.
            if (channel.inputEnded) return PeerClosed(channel);
            return FailRecord(channel.inputError != 0 ? channel.inputError
                                                      : fileErrorSecurityDecryption);
        }
        int filled = FillInput(channel);
        if (filled == 0) return PeerClosed(channel);
        if (filled < 0) return -1;
    }
}

// One SSL_write into the outgoing BIO: 1, or 0 with the error set.
int Seal(TlsChannel& channel, const unsigned char* data, std::size_t length) {
    ERR_clear_error();
    int written = SSL_write(channel.ssl, data, static_cast<int>(length));
    ERR_clear_error();
    NetTraceMessage(NET_TRACE_INFO, "Encrypted buffer of %ld bytes", static_cast<long>(length));
    NetTraceDump(data, static_cast<long>(length));
    return written == static_cast<int>(length) ? 1 : Fail(fileErrorSecurityEncryption);
}

// Seals what TlsEncryptGathered kept back. 1, or 0 with the error set.
int SealGathered(TlsChannel& channel) {
    if (channel.gathered.empty()) return 1;
    int sealed = Seal(channel, channel.gathered.data(), channel.gathered.size());
    channel.gathered.clear();
    return sealed;
}

// Seals whole records from data, keeping back a tail shorter than a record.
int GatherRecords(TlsChannel& channel, const unsigned char* data, std::size_t length) {
    std::vector<unsigned char>& gathered = channel.gathered;
    if (!gathered.empty()) {
        std::size_t take = std::min(length, kRecordPayload - gathered.size());
        gathered.insert(gathered.end(), data, data + take);
        data += take;
        length -= take;
        if (gathered.size() == kRecordPayload && !SealGathered(channel)) return 0;
    }
    for (; length >= kRecordPayload; data += kRecordPayload, length -= kRecordPayload) {
        if (!Seal(channel, data, kRecordPayload)) return 0;
    }
    gathered.insert(gathered.end(), data, data + length);
    return 1;
}

}  // namespace
}  // namespace tls

using tls::ChannelState;
using tls::Fail;
using tls::FailRecord;

extern "C" {

int TlsDecrypt(TlsChannel* channel, void* buffer, int length) {
    if (!channel || !buffer || length <= 0) return FailRecord(fileErrorInvalidParameter);
    if (!tls::IsBound()) return FailRecord(fileErrorSecurityNotInitialized);
    if (channel->state == ChannelState::PeerClosed) return 0;
    if (!tls::CarriesRecords(*channel)) return FailRecord(fileErrorSecurityDecryption);
    return tls::DecryptInto(*channel, buffer, length);
}

int TlsHasBufferedData(const TlsChannel* channel) {
    if (!channel || !channel->ssl) return 0;
    return SSL_has_pending(channel->ssl) == 1 || channel->inputAt < channel->inputEnd;
}

int TlsEncrypt(TlsChannel* channel, const void* data, int length) {
    if (!channel || !data || length < 0) return FailRecord(fileErrorInvalidParameter);
    if (!tls::IsBound()) return FailRecord(fileErrorSecurityNotInitialized);
    if (!tls::CarriesRecords(*channel)) return FailRecord(fileErrorSecurityEncryption);
    if (length == 0) return 0;
    if (!tls::SealGathered(*channel) ||
        !tls::Seal(*channel, static_cast<const unsigned char*>(data), length)) {
        return -1;
    }
    return tls::FlushOutput(*channel) ? length : -1;
}

int TlsEncryptGathered(TlsChannel* channel, const void* data, int length) {
    if (!channel || !data || length < 0) return FailRecord(fileErrorInvalidParameter);
    if (!tls::IsBound()) return FailRecord(fileErrorSecurityNotInitialized);
    if (!tls::CarriesRecords(*channel)) return FailRecord(fileErrorSecurityEncryption);
    if (!tls::GatherRecords(*channel, static_cast<const unsigned char*>(data),
                            static_cast<std::size_t>(length))) {
        return -1;
    }
    return tls::FlushOutput(*channel) ? length : -1;
}

int TlsFlush(TlsChannel* channel) {
    if (!channel) return Fail(fileErrorInvalidParameter);
    if (!tls::IsBound()) return Fail(fileErrorSecurityNotInitialized);
    if (channel->gathered.empty()) return 1;
    if (!tls::CarriesRecords(*channel)) return Fail(fileErrorSecurityEncryption);
    return tls::SealGathered(*channel) && tls::FlushOutput(*channel);
}

// Sends close-notify. The session stays readable (security information) until
// the channel is freed.
int TlsShutdown(TlsChannel* channel) {
    if (!channel) return Fail(fileErrorInvalidParameter);
    if (!tls::IsBound()) return Fail(fileErrorSecurityNotInitialized);
    if (!tls::CarriesRecords(*channel)) return Fail(fileErrorSecurityContext);
    if (!tls::SealGathered(*channel)) return 0;
    ERR_clear_error();
    SSL_shutdown(channel->ssl);
    ERR_clear_error();
    tls::SetState(*channel, ChannelState::ShutDown);
    if (!tls::FlushOutput(*channel)) return 0;
    tls::DiscardUnread(*channel);
    return 1;
}

// After CCC both sides send close-notify and the connection goes on in clear
// text, so the peer's close-notify must be taken off the socket before the
// next reply is read. A peer that sends none is given a short while.
int TlsEndSecureChannel(TlsChannel* channel) {
    if (!channel) return Fail(fileErrorInvalidParameter);
    if (!tls::IsBound()) return Fail(fileErrorSecurityNotInitialized);
    if (!tls::CarriesRecords(*channel)) return Fail(fileErrorSecurityContext);
    if (!tls::SealGathered(*channel)) return 0;
    int limit = channel->timeoutSeconds > 0
                    ? std::min(channel->timeoutSeconds, tls::kPeerCloseWaitSeconds)
                    : tls::kPeerCloseWaitSeconds;
    // The first call sends ours; the later ones look for the peer's, which may
    // already be among the bytes received, before reading the socket again.
    for (int round = 0; round < tls::kShutdownRounds; ++round) {
        ERR_clear_error();
        int result = SSL_shutdown(channel->ssl);
        int reason = SSL_get_error(channel->ssl, result);
        ERR_clear_error();
        if (!tls::FlushOutput(*channel)) return 0;
        if (result == 0) continue;
        if (result == 1 || reason != SSL_ERROR_WANT_READ) break;
        if (tls::FillInputWithin(*channel, limit, false) <= 0) break;
    }
    tls::SetState(*channel, ChannelState::ShutDown);
    return 1;
}

}  // extern "C"
