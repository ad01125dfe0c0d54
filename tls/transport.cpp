// Moves bytes between OpenSSL's memory BIOs and the engine's socket, waiting
// with NetWait so that the engine's time-out, cancel and message pumping
// apply. Sockets are never left to block: every send and receive is
// non-blocking and preceded by a wait when it would block.
#include <openssl/bio.h>

#include <algorithm>

#include "net/socket_wait.h"
#include "resources/errors.h"
#include "tls/channel.h"

namespace tls {
namespace {

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

int FlushOutput(TlsChannel& channel) {
    for (std::size_t pending; (pending = BIO_ctrl_pending(channel.networkOut)) > 0;) {
        if (channel.sending.size() < std::min(pending, kSendChunk))
            channel.sending.resize(std::min(pending, kSendChunk));
        const int length = BIO_read(channel.networkOut, channel.sending.data(),
                                    static_cast<int>(std::min(pending, channel.sending.size())));
        if (length <= 0) break;
        if (!SendAll(channel, channel.sending.data(), length)) return 0;
    }
    return 1;
}

int FillInput(TlsChannel& channel) {
    return FillInputWithin(channel, channel.timeoutSeconds > 0 ? channel.timeoutSeconds : -1, true);
}

int FillInputWithin(TlsChannel& channel, int limit, bool observed) {
    for (;;) {
        int got = NetRecv(channel.socket, channel.received.data(), kBufferSize, MSG_DONTWAIT);
        if (got == 0) return 0;
        if (got > 0) {
            if (BIO_write(channel.networkIn, channel.received.data(), got) != got) {
                Fail(fileErrorOutOfMemory);
                return -1;
            }
            return 1;
        }
        if (NetGetLastError() != fileErrorOperationWouldBlock) {
            Fail(SocketError());
            return -1;
        }
        const NetDeadline deadline =
            limit < 0 ? NetDeadline::Never() : NetDeadline::InSeconds(limit);
        if (WaitForSocket(channel, false, deadline, observed) != 0) return -1;
    }
}

void DiscardUnread(TlsChannel& channel) {
    for (int round = 0; round < kDiscardRounds; ++round) {
        int got = NetRecv(channel.socket, channel.received.data(), kBufferSize, MSG_DONTWAIT);
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
