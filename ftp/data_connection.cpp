#include "ftp/data_connection.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "ftp/command_channel.h"
#include "ftp/data_address.h"
#include "ftp/engine.h"
#include "ftp/notify.h"
#include "ftp/protocol_ops.h"
#include "net/socket_wait.h"
#include "net/state_trace.h"
#include "platform/system.h"
#include "resources/errors.h"

namespace ftp {
namespace {

// Waits are cut into slices so that a cancel set by another thread is seen.
constexpr DWORD kWaitSliceMs = 250;
constexpr DWORD kSocketEventBits = FTP_EVENT_CONNECT | FTP_EVENT_DISCONNECT | FTP_EVENT_OPENDATA |
                                   FTP_EVENT_CLOSEDATA | FTP_EVENT_READ | FTP_EVENT_WRITE;
constexpr int kWouldBlock = 10035;

DWORD NonZeroTick() {
    DWORD now = GetTickCount();
    return now == 0 ? 1 : now;
}

bool ToNetAddress(const sockaddr_storage& storage, NetAddress& address, int* port = nullptr) {
    address = NetAddress{};
    if (storage.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(storage);
        address.family = NET_FAMILY_IPV4;
        std::memcpy(address.address, &v4.sin_addr, 4);
        if (port) *port = NetNtohs(v4.sin_port);
        return true;
    }
    if (storage.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(storage);
        address.family = NET_FAMILY_IPV6;
        std::memcpy(address.address, &v6.sin6_addr, 16);
        if (port) *port = NetNtohs(v6.sin6_port);
        return true;
    }
    return false;
}

bool LocalAddressOf(SOCKET s, NetAddress& address, int* port = nullptr) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (NetGetSockName(s, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return false;
    return ToNetAddress(storage, address, port);
}

// 0 when the socket is ready, else the error number (10060, 10004, socket errors).
int WaitForData(FtpSession& session, SOCKET s, bool forWrite, bool watchCancel) {
    NetWaitRules rules{
        NetDeadline::In(static_cast<std::uint64_t>(EffectiveTimeout(session)) * 1000), kWaitSliceMs,
        [&session, watchCancel]() -> int {
            if (watchCancel && session.cancelRequested) return fileErrorOperationCanceled;
            return session.released ? fileErrorNotConnected : 0;
        }};
    return NetWait(s, forWrite ? kNetWritable : kNetReadable, rules);
}

int FailWith(FtpSession& session, int error) {
    if (error == fileErrorOperationTimeout) return FailTimedOut(session);
    if (error == fileErrorOperationCanceled) return FailCancelled(session);
    return Fail(error);
}

void SetBlocking(SOCKET s, bool blocking) {
    unsigned long nonBlocking = blocking ? 0 : 1;
    NetIoctl(s, FIONBIO, &nonBlocking);
}

// PBSZ once per connection, PROT before every data connection.
void SendDataProtection(FtpSession& session) {
    if (!session.pbszSent && (session.features & kFeaturePbsz)) {
        if (!RunCommand(session, "PBSZ", "0").positive()) session.features &= ~kFeaturePbsz;
        session.pbszSent = true;
    }
    if (session.features & kFeatureProt) {
        if (!RunCommand(session, "PROT", session.dataChannelSecure ? "P" : "C").positive()) {
            session.features &= ~kFeatureProt;
        }
    }
}

int ConnectPassive(FtpSession& session, const NetAddress& peer) {
    bool ipv6 = peer.family == NET_FAMILY_IPV6;
    Exchange reply = ipv6 ? RunCommand(session, "EPSV", "2") : RunCommand(session, "PASV");
    if (!reply.ok()) return -1;
    if (reply.code != (ipv6 ? 229 : 227)) return Fail(fileErrorInvalidServerResponse);
    PassiveReply passive;
    int error = ipv6 ? ParseEpsvReply(session.replyText.view(), passive)
                     : ParsePasvReply(session.replyText.view(), passive);
    NetAddress target{};
    if (error == 0) {
        error = ChoosePassiveAddress(passive, peer, session.HasOption(FTP_OPTION_FIREWALL_ADDRESS),
                                     target);
    }
    if (error == 0 && passive.port == 0) error = fileErrorInvalidServicePort;
    if (error != 0) return Fail(error);
    SOCKET s =
        NetConnectAddress(&target, static_cast<uint16_t>(passive.port), EffectiveTimeout(session));
    if (s == INVALID_SOCKET) {
        error = NetGetLastError();
        return FailWith(session, error == 0 ? fileErrorConnectionRefused : error);
    }
    session.dataSocket.Reset(s);
    SetDataState(session, DataChannelState::Open);
    return 0;
}

int BindInRange(FtpSession& session, SOCKET s, const NetAddress& local) {
    ActivePortWalk walk(session.activePortLow, session.activePortHigh, GetTickCount());
    auto bindTo = [&](int port) {
        sockaddr_storage storage{};
        socklen_t length = 0;
        if (NetMakeSockAddr(&local, static_cast<uint16_t>(port), &storage, &length) == 0) {
            return false;
        }
        return NetBind(s, reinterpret_cast<sockaddr*>(&storage), length) == 0;
    };
    if (walk.systemChooses()) return bindTo(0) ? 0 : NetGetLastError();
    int port = walk.first();
    for (int attempt = 0; attempt < walk.attempts(); ++attempt, port = walk.Next(port)) {
        if (bindTo(port)) return 0;
    }
    int error = NetGetLastError();
    return error == 0 ? fileErrorAddressInUse : error;
}

int ListenActive(FtpSession& session) {
    NetAddress local{};
    if (!LocalAddressOf(session.controlSocket.get(), local)) return Fail(NetGetLastError());
    SOCKET s = NetSocket(local.family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return Fail(NetGetLastError());
    session.dataSocket.Reset(s);
    // Ports of the range come round again while earlier connections on them
    // still linger in TIME-WAIT.
    int reuse = 1;
    NetSetSockOpt(s, SOL_SOCKET, SO_REUSEADDR, &reuse);
    int port = 0;
    int error = BindInRange(session, s, local);
    if (error == 0 && NetListen(s) != 0) error = NetGetLastError();
    if (error == 0 && !LocalAddressOf(s, local, &port)) error = NetGetLastError();
    if (error != 0) {
        session.dataSocket.Close();
        return Fail(error);
    }
    SetDataState(session, DataChannelState::Listening);
    bool ipv4 = local.family == NET_FAMILY_IPV4;
    Exchange reply = ipv4 ? RunCommand(session, "PORT", FormatPortArgument(local, port))
                          : RunCommand(session, "EPRT", FormatEprtArgument(local, port));
    if (reply.ok() && reply.code == 200) return 0;
    session.dataSocket.Close();
    SetDataState(session, DataChannelState::Closed);
    return reply.ok() ? Fail(fileErrorInvalidServerResponse) : -1;
}

int SendRestart(FtpSession& session, std::uint64_t offset) {
    Exchange reply = RunCommand(session, "REST", std::to_string(offset));
    if (reply.ok() && reply.code == 350) return 0;
    CloseDataConnection(session);
    session.restart = false;
    session.transfer.restartOffset = 0;
    return Fail(fileErrorOperationNotSupported);
}

void PrepareBuffer(FtpSession& session, int direction) {
    session.dataBuffer.Clear();
    session.dataDirection = direction;
    session.lineEnds = LineEndState{};
    session.deferredReadError = 0;
    session.cancelReported = false;
    session.transfer.startTick = NonZeroTick();
    session.transfer.endTick = 0;
}

// Status 3 or 4 for the time of one receive or send on an idle session.
class IoStatusScope {
  public:
    IoStatusScope(FtpSession& session, EngineStatus busy)
        : session_(session), wasIdle_(session.status == EngineStatus::Idle) {
        if (wasIdle_) SetStatus(session_, busy);
        session_.ioInProgress = true;
    }
    ~IoStatusScope() {
        session_.ioInProgress = false;
        if (wasIdle_) SetStatus(session_, EngineStatus::Idle);
    }
    IoStatusScope(const IoStatusScope&) = delete;
    IoStatusScope& operator=(const IoStatusScope&) = delete;

  private:
    FtpSession& session_;
    bool wasIdle_;
};

int ClampedLength(std::size_t length) {
    return static_cast<int>(std::min<std::size_t>(length, kMaxDataBufferSize));
}

// Receives first and waits only when nothing has arrived yet, so a busy
// transfer costs one system call per block instead of a wait and a receive.
int ReceivePlain(FtpSession& session, char* target, std::size_t size) {
    for (;;) {
        int got = NetRecv(session.dataSocket.get(), target, ClampedLength(size), MSG_DONTWAIT);
        if (got >= 0 || NetGetLastError() != kWouldBlock) return got;
        int error = WaitForData(session, session.dataSocket.get(), false, true);
        if (error != 0) {
            NetSetLastError(error);
            return -1;
        }
    }
}

int ReceiveSecure(FtpSession& session, char* target, std::size_t size) {
    int got = TlsDecrypt(session.dataTls.get(), target, ClampedLength(size));
    if (got < 0) NetSetLastError(TlsGetLastError() ? TlsGetLastError() : fileErrorSecurityContext);
    return got;
}

// The checks and the receive of FillDataBuffer, into any target: the count,
// or -1 with the error set.
int ReceiveData(FtpSession& session, char* target, std::size_t size) {
    if (session.cancelRequested) return FailCancelled(session);
    if (session.dataDirection != kDirectionReceive) return Fail(fileErrorDataWriteOnly);
    if (!session.dataSocket.valid()) return Fail(fileErrorConnectionClosed);
    if (session.dataState == DataChannelState::Ended) return Fail(fileErrorEndOfData);
    if (session.ioInProgress) return Fail(fileErrorOperationInProgress);
    int got;
    {
        IoStatusScope scope(session, EngineStatus::Receiving);
        bool secure = session.dataTls && session.dataChannelSecure;
        got = secure ? ReceiveSecure(session, target, size) : ReceivePlain(session, target, size);
    }
    if (got > 0) {
        session.transfer.bytesTransferred += static_cast<std::uint64_t>(got);
        return got;
    }
    if (got == 0) {
        SetDataState(session, DataChannelState::Ended);
        return Fail(fileErrorEndOfData);
    }
    int error = NetGetLastError();
    return FailWith(session, error == 0 ? fileErrorConnectionReset : error);
}

// Sends data: the count sent, with *error set when it stopped.
std::size_t SendSpan(FtpSession& session, const char* data, std::size_t length, bool blocking,
                     bool watchCancel, int& error) {
    if (session.dataTls && session.dataChannelSecure) {
        // Whole records: the server then has half the records to open that
        // 8 KiB blocks would give it.
        if (TlsEncryptGathered(session.dataTls.get(), data, static_cast<int>(length)) ==
            static_cast<int>(length)) {
            return length;
        }
        error = TlsGetLastError() ? TlsGetLastError() : fileErrorSecurityContext;
        return 0;
    }
    std::size_t sent = 0;
    while (sent < length) {
        int n = NetSend(session.dataSocket.get(), data + sent, ClampedLength(length - sent), 0);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        int sendError = n == 0 ? fileErrorConnectionReset : NetGetLastError();
        if (sendError != kWouldBlock) {
            error = sendError == 0 ? fileErrorConnectionReset : sendError;
            break;
        }
        if (!blocking) break;
        error = WaitForData(session, session.dataSocket.get(), true, watchCancel);
        if (error != 0) break;
    }
    return sent;
}

std::size_t SendBuffered(FtpSession& session, bool blocking, bool watchCancel, int& error) {
    const std::span<const char> held = session.dataBuffer.Front();
    return SendSpan(session, held.data(), held.size(), blocking, watchCancel, error);
}

}  // namespace

void SetDataState(FtpSession& session, DataChannelState state) {
    static constexpr const char* kNames[] = {"Closed", "Listening", "Open", "Ended"};
    static_assert(std::size(kNames) == static_cast<std::size_t>(DataChannelState::Ended) + 1);
    net::ChangeState(session.dataState, state, "FTP data channel", kNames);
}

int EffectiveTimeout(const FtpSession& session) {
    return session.timeout > 0 ? session.timeout : kDefaultTimeoutSeconds;
}

int FailCancelled(FtpSession& session) {
    if (!session.cancelReported) {
        session.cancelReported = true;
        RaiseEvent(session, FTP_EVENT_CANCEL, fileErrorOperationCanceled);
    }
    return Fail(fileErrorOperationCanceled);
}

int FailTimedOut(FtpSession& session) {
    RaiseEvent(session, FTP_EVENT_TIMEOUT, fileErrorOperationTimeout);
    return Fail(fileErrorOperationTimeout);
}

bool ControlPeerAddress(const FtpSession& session, NetAddress& address) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (NetGetPeerName(session.controlSocket.get(), reinterpret_cast<sockaddr*>(&storage),
                       &length) != 0) {
        return false;
    }
    return ToNetAddress(storage, address);
}

int OpenDataConnection(FtpSession& session, int direction, std::uint64_t restartOffset) {
    if (!session.ops->commandChannel) return Fail(fileErrorOperationNotSupported);
    if (direction < kDirectionReceive || direction > kDirectionAppend) {
        return Fail(fileErrorInvalidParameter);
    }
    if (!session.loggedIn()) return Fail(fileErrorAuthenticationRequired);
    if (session.dataSocket.valid()) return Fail(fileErrorConnectionOpen);
    if (session.HasOption(FTP_OPTION_SECURE)) SendDataProtection(session);
    session.transfer.restartOffset = restartOffset;
    session.restart = restartOffset != 0;

    NetAddress peer{};
    if (!ControlPeerAddress(session, peer)) return Fail(fileErrorNotConnected);
    if (peer.family != NET_FAMILY_IPV4 && peer.family != NET_FAMILY_IPV6) {
        return Fail(fileErrorProtocolFamily);
    }
    int opened = session.passive ? ConnectPassive(session, peer) : ListenActive(session);
    if (opened != 0) return -1;
    if (restartOffset != 0 && SendRestart(session, restartOffset) != 0) return -1;
    if (!session.dataChannelSecure && session.dataState != DataChannelState::Listening) {
        SetBlocking(session.dataSocket.get(), false);
    }
    if (session.notifyWindow && (session.eventMask & kSocketEventBits)) {
        SetAsyncEvents(session, session.notifyWindow);
    }
    PrepareBuffer(session, direction);
    return 0;
}

int AcceptDataConnection(FtpSession& session) {
    if (!session.ops->commandChannel) return Fail(fileErrorOperationNotSupported);
    if (!session.dataSocket.valid()) return Fail(fileErrorConnectionClosed);
    if (session.passive || session.dataState != DataChannelState::Listening) {
        return Fail(fileErrorConnectionPassive);
    }
    int error = WaitForData(session, session.dataSocket.get(), false, true);
    SOCKET accepted = INVALID_SOCKET;
    if (error == 0) {
        accepted = NetAccept(session.dataSocket.get(), nullptr, nullptr);
        if (accepted == INVALID_SOCKET) error = NetGetLastError();
    }
    if (accepted == INVALID_SOCKET) {
        CloseDataConnection(session);
        return FailWith(session, error == 0 ? fileErrorConnectionFailed : error);
    }
    HWND asyncWindow = session.asyncWindow;
    if (asyncWindow) SetAsyncEvents(session, nullptr);
    session.dataSocket.Reset(accepted);
    SetDataState(session, DataChannelState::Open);
    if (!session.dataChannelSecure) SetBlocking(accepted, false);
    if (asyncWindow) SetAsyncEvents(session, asyncWindow);
    return 0;
}

int StartDataTls(FtpSession& session) {
    TlsChannel* channel =
        TlsCreateChannel(session.dataSocket.get(), session.hostName.c_str(),
                         session.credentials.get(), EffectiveTimeout(session), session.options);
    if (!channel) return Fail(fileErrorOutOfMemory);
    session.dataTls.reset(channel);
    if (session.commandTls) TlsResumeSessionOf(channel, session.commandTls.get());
    if (!TlsAcquireCredentials(channel)) return Fail(fileErrorSecurityCredentials);
    if (!TlsStartHandshake(channel) || !TlsHandshakeLoop(channel)) {
        int error = TlsGetLastError();
        return Fail(error == 0 ? fileErrorSecurityContext : error);
    }
    if (!TlsValidateCertificate(channel) && TlsGetLastError() != fileErrorSecurityCertificate) {
        return Fail(TlsGetLastError());
    }
    return 0;
}

// Closing a socket that still holds unread bytes sends a reset, and a reset
// throws away whatever of the upload the server has not read yet. A TLS 1.3
// server sends session tickets on the data connection that an upload never
// reads, so a secure upload ends with close-notify and a half-close, then reads
// to the server's end (bounded) before the socket is closed.
constexpr DWORD kUploadDrainLimitMs = 5000;
constexpr std::size_t kUploadDrainBytes = 64 * 1024;

void DrainAfterUpload(FtpSession& session) {
    TlsShutdown(session.dataTls.get());
    session.dataTls.reset();
    const SOCKET s = session.dataSocket.get();
    NetShutdown(s, SHUT_WR);
    const NetWaitRules rules{
        NetDeadline::In(std::min<std::uint64_t>(
            kUploadDrainLimitMs, static_cast<std::uint64_t>(EffectiveTimeout(session)) * 1000)),
        kWaitSliceMs};
    char scratch[4096];
    std::size_t drained = 0;
    while (drained < kUploadDrainBytes && NetWait(s, kNetReadable, rules) == 0) {
        const int got = NetRecv(s, scratch, sizeof scratch, MSG_DONTWAIT);
        if (got <= 0) break;
        drained += static_cast<std::size_t>(got);
    }
}

int FinishSending(FtpSession& session) {
    bool secure = session.dataTls && session.dataChannelSecure;
    if (!secure || session.dataDirection == kDirectionReceive) return 0;
    if (!TlsFlush(session.dataTls.get()))
        return TlsGetLastError() ? TlsGetLastError() : fileErrorSecurityEncryption;
    // The clean-up's own failures do not matter: the server's reply tells.
    FtpErrorGuard keepError;
    DrainAfterUpload(session);
    return 0;
}

void CloseDataConnection(FtpSession& session) {
    if (session.dataTls) {
        if (session.dataChannelSecure && session.dataState != DataChannelState::Listening) {
            TlsShutdown(session.dataTls.get());
        }
        session.dataTls.reset();
    }
    if (session.asyncWindow && session.dataSocket.valid()) SetAsyncEvents(session, nullptr);
    session.dataSocket.Close();
    SetDataState(session, DataChannelState::Closed);
    session.ioInProgress = false;
    session.dataBuffer.Clear();
    session.transfer.endTick = NonZeroTick();
}

int FillDataBuffer(FtpSession& session) {
    if (session.cancelRequested) return FailCancelled(session);
    if (session.dataDirection != kDirectionReceive) return Fail(fileErrorDataWriteOnly);
    if (!session.dataBuffer.empty()) return static_cast<int>(session.dataBuffer.size());
    // Empty, the whole buffer is room.
    const std::span<char> room = session.dataBuffer.Room();
    int got = ReceiveData(session, room.data(), room.size());
    if (got > 0) session.dataBuffer.Commit(static_cast<std::size_t>(got));
    return got;
}

int ReceiveDirect(FtpSession& session, std::span<char> target) {
    if (!session.dataBuffer.empty()) return Fail(fileErrorOperationInProgress);
    return ReceiveData(session, target.data(), target.size());
}

int SendDirect(FtpSession& session, std::span<const char> data) {
    if (session.cancelRequested) return FailCancelled(session);
    if (session.dataDirection == kDirectionReceive) return Fail(fileErrorDataReadOnly);
    if (!session.dataBuffer.empty()) return Fail(fileErrorOperationInProgress);
    if (!session.dataSocket.valid()) return Fail(fileErrorConnectionClosed);
    if (session.ioInProgress) return Fail(fileErrorOperationInProgress);
    int error = 0;
    std::size_t sent;
    {
        IoStatusScope scope(session, EngineStatus::Sending);
        sent = SendSpan(session, data.data(), data.size(), true, true, error);
    }
    session.transfer.bytesTransferred += sent;
    if (error != 0) return FailWith(session, error);
    return 0;
}

int FlushDataBuffer(FtpSession& session, bool blocking, bool ignoreCancel) {
    if (!ignoreCancel && session.cancelRequested) return FailCancelled(session);
    if (session.dataDirection == kDirectionReceive) return Fail(fileErrorDataReadOnly);
    if (session.dataBuffer.empty()) return 0;
    if (!session.dataSocket.valid()) return Fail(fileErrorConnectionClosed);
    if (session.ioInProgress) return Fail(fileErrorOperationInProgress);
    int error = 0;
    std::size_t sent;
    {
        IoStatusScope scope(session, EngineStatus::Sending);
        sent = SendBuffered(session, blocking, !ignoreCancel, error);
    }
    session.dataBuffer.Consume(sent);
    session.dataBuffer.Compact();
    session.transfer.bytesTransferred += sent;
    if (error != 0) return FailWith(session, error);
    if (session.asyncWindow && !session.dataBuffer.empty()) {
        PostMessageA(session.asyncWindow, session.asyncMessage,
                     static_cast<WPARAM>(session.dataSocket.get()), FD_WRITE);
    }
    return 0;
}

int SetDataBufferSize(FtpSession& session, std::size_t size) {
    size = std::clamp(size, kMinDataBufferSize, kMaxDataBufferSize);
    if (size < session.dataBuffer.size()) return Fail(fileErrorInvalidParameter);
    if (!session.dataBuffer.Resize(size)) return Fail(fileErrorOutOfMemory);
    return 0;
}

}  // namespace ftp
