// Bytes on a client's connection: waits bounded by the client's time-out and
// watching its cancel flag, sends in pieces, receives through a small inbox
// (plain sockets) or the TLS channel.
#include <algorithm>

#include "http/client.h"
#include "net/socket_wait.h"
#include "resources/errors.h"

namespace http {
namespace {

int SocketError() {
    const int error = NetGetLastError();
    return error == 0 ? fileErrorConnectionReset : error;
}

int WaitSliced(HttpClientRecord& client, bool forWrite) {
    const NetWaitRules rules{
        client.timeout > 0 ? NetDeadline::InSeconds(client.timeout) : NetDeadline::Never(), 1000,
        [&client]() -> int {
            if (client.cancelRequested) return fileErrorOperationCanceled;
            if (client.released || client.socket == INVALID_SOCKET) return fileErrorNotConnected;
            return 0;
        }};
    return NetWait(client.socket, forWrite ? kNetWritable : kNetReadable, rules);
}

// Receives first and waits only when nothing has arrived, so a busy body
// costs one system call per piece instead of a wait and a receive.
int ReceivePlain(HttpClientRecord& client, char* buffer, std::size_t length) {
    if (!client.inbox.empty()) return static_cast<int>(client.inbox.Take({buffer, length}));
    // Empty, the whole inbox is room.
    const bool direct = length >= client.inbox.capacity();
    char* target = direct ? buffer : client.inbox.Room().data();
    const std::size_t room = direct ? length : client.inbox.capacity();
    int got = -1;
    for (;;) {
        got = NetRecv(client.socket, target, static_cast<int>(std::min<std::size_t>(room, 1 << 30)),
                      MSG_DONTWAIT);
        if (got >= 0 || NetGetLastError() != fileErrorOperationWouldBlock) break;
        if (client.byEvents) return Fail(fileErrorOperationWouldBlock);
        if (WaitForSocket(client, false) != 0) return -1;
    }
    if (got < 0) return Fail(SocketError());
    if (got == 0 || direct) return got;
    client.inbox.Commit(static_cast<std::size_t>(got));
    return static_cast<int>(client.inbox.Take({buffer, length}));
}

int ReceiveSecure(HttpClientRecord& client, char* buffer, std::size_t length) {
    // Driven by events, a read waits neither for the socket nor for a record
    // that has not begun to arrive.
    if (client.byEvents && !ReadableNow(client)) {
        return Fail(fileErrorOperationWouldBlock);
    }
    const int got = TlsDecrypt(client.tls.get(), buffer,
                               static_cast<int>(std::min<std::size_t>(length, 1 << 30)));
    if (got < 0) return Fail(TlsGetLastError());
    return got;
}

}  // namespace

int WaitForSocket(HttpClientRecord& client, bool forWrite) {
    const ConnectionState waiting =
        forWrite ? ConnectionState::Sending : ConnectionState::Receiving;
    const bool fromIdle = client.state == ConnectionState::Idle;
    if (fromIdle) SetState(client, waiting);
    const int error = WaitSliced(client, forWrite);
    if (fromIdle && client.state == waiting) SetState(client, ConnectionState::Idle);
    if (error == 0) return 0;
    if (error == fileErrorOperationCanceled) {
        client.cancelRequested = false;
        RaiseEvent(client, HTTP_EVENT_CANCEL, error);
    } else if (error == fileErrorOperationTimeout) {
        RaiseEvent(client, HTTP_EVENT_TIMEOUT, error);
    }
    Fail(error);
    return error;
}

std::size_t BodyPieceSize(const HttpClientRecord& client) {
    return client.priority >= HTTP_PRIORITY_NORMAL ? kBodyPieceSize : kPieceSize;
}

int SendAll(HttpClientRecord& client, const char* data, std::size_t length, std::size_t pieceSize) {
    while (length > 0) {
        if (client.released || client.socket == INVALID_SOCKET) return Fail(fileErrorNotConnected);
        const int piece = static_cast<int>(std::min({length, pieceSize, std::size_t{1} << 30}));
        int sent = 0;
        if (client.secure()) {
            sent = TlsEncrypt(client.tls.get(), data, piece);
            if (sent != piece) return Fail(TlsGetLastError());
        } else {
            sent = NetSend(client.socket, data, piece, MSG_DONTWAIT);
            if (sent < 0 && NetGetLastError() == fileErrorOperationWouldBlock) {
                if (WaitForSocket(client, true) != 0) return -1;
                continue;
            }
            if (sent <= 0) return Fail(sent < 0 ? SocketError() : fileErrorConnectionReset);
        }
        data += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return 0;
}

bool HasBufferedBytes(const HttpClientRecord& client) {
    if (!client.inbox.empty()) return true;
    return client.secure() && client.tls && TlsHasBufferedData(client.tls.get());
}

bool ReadableNow(const HttpClientRecord& client) {
    if (HasBufferedBytes(client)) return true;
    return client.socket != INVALID_SOCKET &&
           NetWait(client.socket, kNetReadable, {NetDeadline::In(0)}) == 0;
}

int ReceiveSome(HttpClientRecord& client, char* buffer, std::size_t length) {
    if (client.released || client.socket == INVALID_SOCKET) return Fail(fileErrorNotConnected);
    if (length == 0) return 0;
    const int got = client.secure() ? ReceiveSecure(client, buffer, length)
                                    : ReceivePlain(client, buffer, length);
    if (got == 0) client.closed = true;
    return got;
}

int ReadByte(HttpClientRecord& client, char& c) {
    return ReceiveSome(client, &c, 1);
}

void CloseConnection(HttpClientRecord& client) {
    HttpErrorGuard keepError;
    if (client.tls && client.socket != INVALID_SOCKET && !client.closed) {
        TlsShutdown(client.tls.get());
    }
    client.tls.reset();
    if (client.socket != INVALID_SOCKET) NetCloseSocket(client.socket);
    client.socket = INVALID_SOCKET;
    client.inbox.Clear();
}

}  // namespace http
