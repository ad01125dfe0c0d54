// Starting and ending SFTP sessions, the process-wide lock, and the results that
// the FTP engine shows (reply code and text, last error, security information).
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "net/net.h"
#include "platform/lasterror.h"
#include "platform/system.h"
#include "resources/errors.h"
#include "ssh/security_names.h"
#include "ssh/session.h"
#include "ssh/sftp_session.h"
#include "ssh/sftp_transfer.h"

namespace {

// Held for the whole of each SFTP call, whose events reach the engine's own
// lock; nothing that holds the engine's lock may wait for it.
std::recursive_timed_mutex sftpLock;
// Not under sftpLock: the engine counts its users while holding its own lock.
std::atomic<int> startupCount{0};

constexpr std::string_view kLimitsExtension = "limits@openssh.com";

constexpr char kFallbackCommand[] =
    "test -x /usr/lib/sftp-server && exec /usr/lib/sftp-server\n"
    "test -x /usr/local/lib/sftp-server && exec /usr/local/lib/sftp-server\n"
    "exec sftp-server";

struct OptionWorkaround {
    DWORD bit;
    SshWorkaround workaround;
};

constexpr OptionWorkaround kOptionWorkarounds[] = {
    {16, SshWorkaround::Ssh1Rsa},   {32, SshWorkaround::Ssh1PlainPassword},
    {64, SshWorkaround::Ssh2Rekey}, {128, SshWorkaround::Ssh2PublicKeySessionId},
    {256, SshWorkaround::Ssh2Hmac},
};
constexpr DWORD kOptionTcpKeepAlive = 8;
constexpr DWORD kOptionCompression = 0x8000;  // FTP_OPTION_SSH_COMPRESSION

std::optional<SshProtocolChoice> ProtocolFor(int secureProtocol) {
    switch (secureProtocol) {
        case 0:
        case 10:
        case 48:
            return SshProtocolChoice::EitherPreferSsh2;
        case 16:
            return SshProtocolChoice::Ssh1Only;
        case 32:
            return SshProtocolChoice::Ssh2Only;
        default:
            return std::nullopt;
    }
}

std::string Limited(const char* text, std::size_t limit) {
    std::string value = text ? text : "";
    if (value.size() > limit) value.resize(limit);
    return value;
}

class SshChannelLink final : public SftpChannelLink {
  public:
    explicit SshChannelLink(std::unique_ptr<SshSession> session) : session_(std::move(session)) {}
    bool Send(std::span<const std::uint8_t> data) override { return session_->Send(data); }
    bool ReadExactly(std::span<std::uint8_t> out) override { return session_->ReadExactly(out); }
    int error() const override { return session_->error(); }
    void Close() override { session_->Close(); }
    SshSession* ssh() override { return session_.get(); }

  private:
    std::unique_ptr<SshSession> session_;
};

// Connects the socket as the transport would, with Nagle's algorithm off: the
// session channel's 16 KiB window makes every download wait on small window
// adjusts and read requests, which Nagle and the peer's delayed
// acknowledgements would otherwise hold back for tens of milliseconds each.
int OpenSocket(const SshConfig& config, SOCKET* out) {
    if (const int error = NetStartup(nullptr); error != 0) return error;
    NetAddress address{};
    const int timeout =
        config.timeoutSeconds > 0 ? config.timeoutSeconds : kSshDefaultTimeoutSeconds;
    SOCKET socket = INVALID_SOCKET;
    if (NetResolveHost(config.host.c_str(), 0, &address) >= 0)
        socket = NetConnectAddress(&address, config.port, timeout);
    const int error = socket == INVALID_SOCKET ? NetGetLastError() : 0;
    if (socket != INVALID_SOCKET) {
        const int on = 1;
        NetSetNoDelay(socket, true);
        if (config.tcpKeepAlive) NetSetSockOpt(socket, SOL_SOCKET, SO_KEEPALIVE, &on);
    }
    NetCleanup();  // the connection takes its own start-up reference
    *out = socket;
    return socket == INVALID_SOCKET ? (error != 0 ? error : fileErrorNotConnected) : 0;
}

int ConnectSsh(const SshConfig& config, std::unique_ptr<SshSession>* out,
               SftpHostKeyOutcome* outcome) {
    SOCKET socket = INVALID_SOCKET;
    if (const int error = OpenSocket(config, &socket); error != 0) return error;
    auto session =
        std::make_unique<SshSession>(config, std::make_unique<SshConnection>(config, socket));
    const int error = session->WaitUntilReady();
    if (outcome) {
        outcome->status = static_cast<int>(session->hostKey().status);
        outcome->text = session->hostKey().text;
    }
    if (error != 0) return error;
    *out = std::move(session);
    return 0;
}

// The block sizes of a server that states its limits: four numbers (maximum
// packet, read, write and open handles; 0 = no limit of its own). A server that
// refuses the request keeps 32 KiB blocks. False when no answer came.
bool ApplyServerLimits(SftpSession& session) {
    const std::uint32_t id = session.NewRequestId();
    SftpWriter request(SSH_FXP_EXTENDED);
    request.Uint32(id).String(kLimitsExtension);
    SftpReply reply;
    if (!session.Exchange(request, id, reply)) return false;
    std::uint64_t packet = 0, read = 0, write = 0, handles = 0;
    if (reply.type != SSH_FXP_EXTENDED_REPLY || !reply.fields.ReadUint64(&packet) ||
        !reply.fields.ReadUint64(&read) || !reply.fields.ReadUint64(&write) ||
        !reply.fields.ReadUint64(&handles)) {
        session.Fail(0);
        return true;
    }
    // A write request carries its handle and offsets beside the data.
    const std::uint64_t room = packet == 0 ? kSftpLimitBlock : packet > 1024 ? packet - 1024 : 0;
    // An absurd limit (below 1 KiB) is ignored.
    const auto pick = [room](std::uint64_t limit, std::uint32_t current) {
        const std::uint64_t size =
            std::min<std::uint64_t>({limit == 0 ? kSftpLimitBlock : limit, room, kSftpLimitBlock});
        return size >= 1024 ? static_cast<std::uint32_t>(size) : current;
    };
    session.readBlock = pick(read, session.readBlock);
    session.writeBlock = pick(write, session.writeBlock);
    return true;
}

// INIT/VERSION, the server's limits and the home directory. 0 or the error number.
int StartProtocol(SftpSession& session) {
    SftpWriter init(SSH_FXP_INIT);
    init.Uint32(3);
    if (!session.link->Send(init.Finish())) return fileErrorNotConnected;
    std::uint8_t prefix[4];
    std::vector<std::uint8_t> payload;
    if (!session.link->ReadExactly(prefix)) return fileErrorNotConnected;
    const std::uint32_t length = LoadBe32(prefix);
    if (length > kSftpMaxPacket) return fileErrorInvalidPacketSize;
    payload.resize(length);
    if (!session.link->ReadExactly(payload)) return fileErrorNotConnected;
    SshReader reader(payload);
    std::uint8_t type = 0;
    std::uint32_t version = 0;
    if (!reader.ReadByte(&type) || type != SSH_FXP_VERSION)
        return fileErrorUnexpectedServerResponse;
    if (!reader.ReadUint32(&version)) return fileErrorInvalidPacketData;
    // Extension pairs (name, data) follow.
    bool limits = false;
    while (reader.Remaining() > 0) {
        std::string_view name, data;
        if (!reader.ReadString(&name) || !reader.ReadString(&data)) break;
        if (name == kLimitsExtension && data == "1") limits = true;
    }
    if (!reader.Finish()) return fileErrorInvalidPacketData;
    if (version >= 4) return fileErrorProtocolNotSupported;
    if (limits && !ApplyServerLimits(session)) return ErrorNumber(session.lastError);
    auto home = session.RealPath(".");
    if (!home) return ErrorNumber(session.lastError);
    session.home = *home;
    session.current = *home;
    return 0;
}

}  // namespace

std::unique_ptr<SftpChannelLink> MakeSshChannelLink(std::unique_ptr<SshSession> session) {
    return std::make_unique<SshChannelLink>(std::move(session));
}

int SftpStartup() {
    ++startupCount;
    return 1;
}

int SftpCleanup() {
    int count = startupCount.load();
    while (count > 0 && !startupCount.compare_exchange_weak(count, count - 1)) {
    }
    return 1;
}

void SftpLock() {
    sftpLock.lock();
}

bool SftpTryLock() {
    for (int attempt = 0; attempt <= 10; ++attempt) {
        if (sftpLock.try_lock()) return true;
        if (attempt < 10) Sleep(100);
    }
    return false;
}

void SftpUnlock() {
    sftpLock.unlock();
}

SftpSession* SftpConnect(const char* host, int port, const char* user, const char* password,
                         int timeoutSeconds, DWORD options, int secureProtocol, DWORD* error,
                         const SftpHostKeyCheck* hostKeys, SftpHostKeyOutcome* outcome,
                         const SftpLoginKeys* login) {
    if (outcome) *outcome = SftpHostKeyOutcome{};
    auto report = [error](DWORD code) -> SftpSession* {
        if (error) *error = code;
        SetLastError(code);
        return nullptr;
    };
    if (!host || host[0] == '\0') return report(fileErrorInvalidHostName);
    const auto protocol = ProtocolFor(secureProtocol);
    if (!protocol) return report(MakeErrorCode(fileErrorInvalidProtocol));
    SshConfig config;
    config.host = Limited(host, kSshMaxHostLength);
    config.port = static_cast<std::uint16_t>(port == 0 ? 22 : port);
    config.userName = Limited(user, kSshMaxUserLength);
    if (password)
        config.password.assign(std::string_view(password).substr(0, kSshMaxPasswordLength));
    config.timeoutSeconds = timeoutSeconds;
    config.protocolChoice = *protocol;
    config.remoteCommand = "sftp";
    config.remoteCommandIsSubsystem = true;
    config.fallbackCommand = kFallbackCommand;
    config.noTerminal = true;
    config.tcpKeepAlive = (options & kOptionTcpKeepAlive) != 0;
    config.compression = (options & kOptionCompression) != 0;
    for (const OptionWorkaround& entry : kOptionWorkarounds) {
        if (options & entry.bit)
            config.workaround(entry.workaround) = SshWorkaroundSetting::AlwaysOn;
    }
    if (hostKeys) {
        if (hostKeys->policy < 0 || hostKeys->policy > static_cast<int>(SshHostKeyPolicy::Strict))
            return report(MakeErrorCode(fileErrorInvalidParameter));
        config.hostKeyPolicy = static_cast<SshHostKeyPolicy>(hostKeys->policy);
        config.knownHostsFile = hostKeys->knownHostsFile;
    }
    if (login) {
        config.identities = login->keys;
        config.useAgent = login->useAgent;
        config.agentSocket = login->agentSocket;
    }
    std::unique_ptr<SshSession> ssh;
    const int failure = ConnectSsh(config, &ssh, outcome);
    config.password.Wipe();
    config.identities.clear();
    if (failure != 0) return report(MakeErrorCode(failure & 0xFFFF));
    const bool smallWindow = ssh->connection().workarounds().smallSftpWindow;
    std::string fingerprint = ssh->connection().fingerprint();
    SftpSession* session = SftpConnectOver(MakeSshChannelLink(std::move(ssh)), error);
    if (session) {
        session->smallWindow = smallWindow;
        session->fingerprint = std::move(fingerprint);
        session->link->ssh()->connection().SetClosedHandler([session] {
            session->closed = true;
            session->Raise(kSftpEventClosed, nullptr);
        });
    }
    return session;
}

SftpSession* SftpConnectOver(std::unique_ptr<SftpChannelLink> link, DWORD* error) {
    auto session = std::make_unique<SftpSession>();
    session->link = std::move(link);
    if (const int failure = StartProtocol(*session); failure != 0) {
        if (error) *error = MakeErrorCode(failure);
        SetLastError(MakeErrorCode(failure));
        session->link->Close();
        return nullptr;
    }
    session->Fail(0);
    if (error) *error = 0;
    return session.release();
}

int SftpSetEventHandler(SftpSession* session, SftpEventCallback callback, void* clientId) {
    if (!CheckSession(session)) return 0;
    session->callback = callback;
    session->clientId = clientId;
    session->eventMask = 0xFFFF;
    session->Raise(kSftpEventConnected, nullptr);
    return 1;
}

int SftpDisconnect(SftpSession* session) {
    if (!CheckSession(session)) return 0;
    if (SshSession* ssh = session->link->ssh()) ssh->connection().SetClosedHandler(nullptr);
    if (!session->closed) session->link->Close();
    delete session;
    return 1;
}

int SftpCancel(SftpSession* session) {
    if (!CheckSession(session)) return 0;
    session->cancel = true;
    return 1;
}

DWORD SftpGetLastError(SftpSession* session) {
    return session ? session->lastError : GetLastError();
}

int SftpGetLastStatus(SftpSession* session) {
    return session ? session->lastStatus : -1;
}

int SftpGetResultCode(SftpSession* session) {
    return session ? SftpStatusReplyCode(session->lastStatus) : -1;
}

int SftpGetResultString(SftpSession* session, char* buffer, int length) {
    if (!CheckSession(session)) return 0;
    if (!buffer || length < 1) return 0;
    const std::string_view text = SftpStatusText(session->lastStatus);
    const std::size_t count = std::min<std::size_t>(text.size(), std::size_t(length) - 1);
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<int>(count);
}

const char* SftpGetCurrentDirectory(SftpSession* session) {
    return CheckSession(session) ? session->current.c_str() : nullptr;
}

namespace {

// The digest part of "type bits digest", or the whole text.
const char* FingerprintDigest(const std::string& text) {
    const std::size_t first = text.find(' ');
    const std::size_t second = first == std::string::npos ? first : text.find(' ', first + 1);
    return second == std::string::npos ? text.c_str() : text.c_str() + second + 1;
}

}  // namespace

int SftpGetSecurityInfo(SftpSession* session, SftpSecurityInfo* info) {
    if (!CheckSession(session)) return 0;
    if (!info || info->size < kSftpSecurityInfoSize)
        return session->Fail(fileErrorInvalidParameter);
    *info = SftpSecurityInfo{};
    info->size = kSftpSecurityInfoSize;
    info->protocol = 4096;
    info->cipher = 4096;
    info->hash = 4096;
    info->keyExchange = 4096;
    if (SshSession* ssh = session->link->ssh()) {
        const SshConnection& connection = ssh->connection();
        info->protocol = connection.protocol() == 1 ? 16 : connection.protocol() == 2 ? 32 : 4096;
        if (const auto& ssh1 = connection.ssh1Session(); ssh1 && connection.protocol() == 1) {
            const SshSecurityFigures figures = Ssh1SecurityFiguresOf(ssh1->cipherNumber);
            info->cipher = figures.cipher;
            info->cipherStrength = figures.cipherStrength;
            info->hash = figures.hash;
            info->hashStrength = figures.hashStrength;
            info->keyExchange = figures.keyExchange;
        } else if (const auto& negotiated = connection.negotiated();
                   negotiated && negotiated->kex) {
            const SshSecurityFigures figures =
                SshSecurityFiguresOf(NamesOf(*negotiated), SshCipherKeyBits(*negotiated, true));
            info->cipher = figures.cipher;
            info->cipherStrength = figures.cipherStrength;
            info->hash = figures.hash;
            info->hashStrength = figures.hashStrength;
            info->keyExchange = figures.keyExchange;
        }
    }
    if (!session->fingerprint.empty()) info->fingerprint = FingerprintDigest(session->fingerprint);
    return SucceedOp(*session);
}

int SftpGetShellInfo(SftpSession* session, SftpShellInfo* info) {
    if (!CheckSession(session)) return 0;
    if (!info) return session->Fail(fileErrorInvalidParameter);
    session->serverVersion.clear();
    session->algorithms.clear();
    session->fingerprintSha256.clear();
    if (SshSession* ssh = session->link->ssh()) {
        const SshConnection& connection = ssh->connection();
        session->serverVersion = connection.serverVersion();
        if (const auto& negotiated = connection.negotiated())
            session->algorithms = SshAlgorithmsText(NamesOf(*negotiated));
        if (!connection.hostKeyBlob().empty())
            session->fingerprintSha256 = PublicKeySha256Fingerprint(connection.hostKeyBlob());
    }
    info->serverVersion = session->serverVersion.c_str();
    info->algorithms = session->algorithms.c_str();
    info->fingerprintSha256 = session->fingerprintSha256.c_str();
    return SucceedOp(*session);
}

long SftpGetSocket(SftpSession* session) {
    if (!CheckSession(session)) return -1;
    SshSession* ssh = session->link ? session->link->ssh() : nullptr;
    return ssh ? static_cast<long>(ssh->connection().socket()) : -1;
}
