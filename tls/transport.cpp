// The channel's BIO and the moves between it and the engine's socket.
//
// OpenSSL reads the peer's records through the BIO out of the channel's input
// buffer, which a non-blocking receive refills (when nothing is there the read
// asks to be retried), and writes sealed records into the channel's `sending`
// buffer; the waits for the socket happen outside OpenSSL, with NetWait, so
// that the engine's time-out, cancel and message pumping apply and no handler
// runs inside an OpenSSL call.
#include <openssl/bio.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "net/socket_wait.h"
#include "resources/errors.h"
#include "tls/channel.h"

namespace tls {
namespace {

// The BIO's side of the channel. OpenSSL reads a record's header and then its
// body; both come out of the channel's input buffer, which one receive fills
// with as much as the socket has (up to kBufferSize).
int ReadFromSocket(BIO* bio, char* out, int length) {
    auto* channel = static_cast<TlsChannel*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    if (length <= 0) return 0;
    std::vector<unsigned char>& input = channel->input;
    if (channel->inputAt == channel->inputEnd) {
        if (channel->inputEnded || channel->inputError != 0) return channel->inputEnded ? 0 : -1;
        if (input.size() < kBufferSize) input.resize(kBufferSize);
        channel->inputAt = channel->inputEnd = 0;
        const int got =
            NetRecv(channel->socket, input.data(), static_cast<int>(kBufferSize), MSG_DONTWAIT);
        if (got == 0) {
            channel->inputEnded = true;
            return 0;
        }
        if (got < 0) {
            const int error = NetGetLastError();
            if (error == fileErrorOperationWouldBlock) {
                BIO_set_retry_read(bio);
            } else {
                channel->inputError = error == 0 ? fileErrorConnectionReset : error;
            }
            return -1;
        }
        channel->inputEnd = static_cast<std::size_t>(got);
    }
    const std::size_t take =
        std::min(channel->inputEnd - channel->inputAt, static_cast<std::size_t>(length));
    std::memcpy(out, input.data() + channel->inputAt, take);
    channel->inputAt += take;
    return static_cast<int>(take);
}

int WriteToSending(BIO* bio, const char* data, int length) {
    auto* channel = static_cast<TlsChannel*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    if (length <= 0) return 0;
    // The same element type as the buffer, so the copy is one memmove.
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    channel->sending.insert(channel->sending.end(), bytes, bytes + length);
    return length;
}

long ControlSocketBio(BIO* bio, int command, long, void*) {
    auto* channel = static_cast<TlsChannel*>(BIO_get_data(bio));
    switch (command) {
        case BIO_CTRL_FLUSH:
            return 1;  // FlushOutput sends, outside OpenSSL
        case BIO_CTRL_PENDING:
            return static_cast<long>(channel->inputEnd - channel->inputAt);
        case BIO_CTRL_WPENDING:
            return static_cast<long>(channel->sending.size());
        case BIO_CTRL_EOF:
            return channel->inputEnded ? 1 : 0;
        default:
            return 0;
    }
}

BIO_METHOD* SocketBioMethod() {
    static BIO_METHOD* method = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        method = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "engine socket");
        if (!method) return;
        BIO_meth_set_read(method, ReadFromSocket);
        BIO_meth_set_write(method, WriteToSending);
        BIO_meth_set_ctrl(method, ControlSocketBio);
    });
    return method;
}

// Sealed records go out in sends of up to this much (a large write is many
// records; one send each would cost a system call per 16 KiB).
constexpr std::size_t kSendChunk = 262144;
constexpr int kDiscardRounds = 16;

// Waits until the socket is ready or the deadline passes. 0, or the error
// number (already the thread's last error). A time-out or a cancellation is
// told to the channel's observer when `observed`.
int WaitForSocket(TlsChannel& channel, bool forWrite, NetDeadline deadline, bool observed = true) {
    const int error = NetWait(channel.socket, forWrite ? kNetWritable : kNetReadable, {deadline});
    if (error == 0) return 0;
    observed =
        observed && (error == fileErrorOperationTimeout || error == fileErrorOperationCanceled);
    if (observed && channel.waitObserver) {
        channel.waitObserver(channel.waitObserverContext, error);
    }
    Fail(error);
    return error;
}

int SocketError() {
    int error = NetGetLastError();
    return error == 0 ? fileErrorConnectionReset : error;
}

// Sends all of data before the send time-out. 1, or 0 with the error set.
int SendAll(TlsChannel& channel, const unsigned char* data, int length) {
    int limit = channel.timeoutSeconds > 0 ? channel.timeoutSeconds : kDefaultSendTimeoutSeconds;
    const NetDeadline deadline = NetDeadline::InSeconds(limit);
    while (length > 0) {
        int sent = NetSend(channel.socket, data, length, MSG_DONTWAIT);
        if (sent > 0) {
            data += sent;
            length -= sent;
            continue;
        }
        if (sent == 0 || NetGetLastError() != fileErrorOperationWouldBlock)
            return Fail(SocketError());
        if (deadline.Left() == 0) return Fail(fileErrorOperationTimeout);
        if (WaitForSocket(channel, true, deadline) != 0) return 0;
    }
    return 1;
}

}  // namespace

BIO* NewSocketBio(TlsChannel& channel) {
    BIO_METHOD* method = SocketBioMethod();
    BIO* bio = method ? BIO_new(method) : nullptr;
    if (!bio) return nullptr;
    BIO_set_data(bio, &channel);
    BIO_set_init(bio, 1);
    return bio;
}

int FlushOutput(TlsChannel& channel) {
    std::vector<unsigned char>& sending = channel.sending;
    for (std::size_t at = 0; at < sending.size(); at += kSendChunk) {
        const std::size_t length = std::min(kSendChunk, sending.size() - at);
        if (!SendAll(channel, sending.data() + at, static_cast<int>(length))) {
            sending.clear();
            return 0;
        }
    }
    sending.clear();
    return 1;
}

int FillInput(TlsChannel& channel) {
    return FillInputWithin(channel, channel.timeoutSeconds > 0 ? channel.timeoutSeconds : -1, true);
}

int FillInputWithin(TlsChannel& channel, int limit, bool observed) {
    if (channel.inputEnded) return 0;
    if (channel.inputError != 0) {
        Fail(channel.inputError);
        return -1;
    }
    const NetDeadline deadline = limit < 0 ? NetDeadline::Never() : NetDeadline::InSeconds(limit);
    return WaitForSocket(channel, false, deadline, observed) == 0 ? 1 : -1;
}

void DiscardUnread(TlsChannel& channel) {
    unsigned char block[16384];
    for (int round = 0; round < kDiscardRounds; ++round) {
        int got = NetRecv(channel.socket, block, sizeof block, MSG_DONTWAIT);
        if (got <= 0) break;
    }
}

std::string TargetName(const TlsChannel& channel) {
    const TlsCredentials* credentials = channel.credentials;
    if (credentials && credentials->serverName && credentials->serverName[0] != '\0') {
        return credentials->serverName;
    }
    return channel.hostName;
}

}  // namespace tls
