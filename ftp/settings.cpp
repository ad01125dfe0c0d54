// Per-session settings: features, file type, passive mode, channel security,
// active port range, priority, listing format, addresses and status records.
#include <algorithm>
#include <cstring>

#include "ftp/command_channel.h"
#include "ftp/engine.h"
#include "ftp/ftp_ops.h"
#include "platform/system.h"
#include "resources/errors.h"

using namespace ftp;

namespace {

constexpr int kLowestActivePort = 1025;
constexpr int kHighestActivePort = 65535;
constexpr int kHighestPriority = 4;
constexpr int kMlsdFormat = 7;
constexpr std::size_t kSmallDataBuffer = 4096;
constexpr std::size_t kLargeDataBuffer = 16384;

int ClampActivePort(int port) {
    return std::clamp(port, kLowestActivePort, kHighestActivePort);
}

// Low priorities use a smaller data buffer, high ones a larger one.
void ResizeDataBuffer(FtpSession& session) {
    std::size_t size = session.dataBuffer.capacity();
    if (session.priority <= 1 && size > kSmallDataBuffer) size = kSmallDataBuffer;
    if (session.priority >= 3 && size < kLargeDataBuffer) size = kLargeDataBuffer;
    // Bytes still held keep the buffer as it is (and so does a lack of memory).
    if (size != session.dataBuffer.capacity()) session.dataBuffer.Resize(size);
}

// PBSZ (once) and PROT before the command channel goes back to plain text.
void SendProtection(FtpSession& session) {
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

int ClearCommandChannel(FtpSession& session) {
    if (!session.commandChannelSecure) return 0;
    if ((session.features & kFeatureCcc) == 0) return Fail(fileErrorFeatureNotSupported);
    if (session.HasOption(FTP_OPTION_SECURE)) SendProtection(session);
    Exchange reply = RunCommand(session, "CCC");
    if (!reply.ok()) {
        session.features &= ~kFeatureCcc;
        if (reply.error == fileErrorInvalidCommand) return Fail(fileErrorFeatureNotSupported);
        return -1;
    }
    if (reply.positive()) {
        // Both sides close TLS; later commands go out unprotected.
        if (session.commandTls) TlsEndSecureChannel(session.commandTls.get());
        session.commandChannelSecure = false;
        return 0;
    }
    session.features &= ~kFeatureCcc;
    return Fail(fileErrorUnexpectedServerResponse);
}

void CopySockAddr(const sockaddr_storage& storage, NetAddress* address) {
    *address = NetAddress{};
    if (storage.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(storage);
        address->family = NET_FAMILY_IPV4;
        std::memcpy(address->address, &v4.sin_addr, 4);
    } else if (storage.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(storage);
        address->family = NET_FAMILY_IPV6;
        std::memcpy(address->address, &v6.sin6_addr, 16);
    }
}

int LocalHostAddress(int family, NetAddress* address) {
    char name[256] = {};
    if (NetGetHostName(name, sizeof name) != 0) return Fail(fileErrorUnknownLocalhost);
    if (NetResolveHost(name, family == 0 ? NET_FAMILY_IPV4 : family, address) < 0) {
        return Fail(fileErrorUnknownLocalhost);
    }
    return 0;
}

bool ClientInTable(FtpClient client) {
    Engine& engine = GetEngine();
    CriticalSectionGuard guard(*engine.lock.get());
    return engine.table.Find(client) != nullptr;
}

}  // namespace

int ftp::ftpops::SecurityInfoOf(FtpSession& session, SecurityInfo* info) {
    if (!session.commandChannelSecure || !session.commandTls) return 1;
    if (!TlsGetSecurityInfo(session.commandTls.get(), info)) {
        Fail(TlsGetLastError());
        return 0;
    }
    return 1;
}

extern "C" {

DWORD FtpGetFeatures(FtpClient client) {
    SessionRef session = LookupSession(client);
    if (!session) return 0;
    FtpSetLastError(0);
    return session->features;
}

DWORD FtpSetFeatures(FtpClient client, DWORD features) {
    SessionRef session = LookupSession(client);
    if (!session) return 0;
    DWORD previous = session->features;
    session->features = features;
    return previous;
}

int FtpSetFileType(FtpClient client, int fileType) {
    static constexpr const char* kTypeArguments[] = {nullptr, "A", "E", "I"};
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    if (fileType < FTP_FILE_TYPE_AUTO || fileType > FTP_FILE_TYPE_IMAGE) {
        return Fail(fileErrorInvalidParameter);
    }
    if (fileType == FTP_FILE_TYPE_AUTO) {
        session->autoFileType = true;
        return 200;
    }
    session->autoFileType = false;
    // SFTP moves bytes as they are: the type is kept for the session's
    // record, and `--type binary` on an sftp:// URL is no failure.
    if (!session->ops->commandChannel) {
        session->fileType = fileType;
        return 200;
    }
    Exchange reply = RunCommand(*session, "TYPE", kTypeArguments[fileType]);
    if (reply.positive()) session->fileType = fileType;
    return reply.ok() ? reply.code : -1;
}

int FtpSetPassiveMode(FtpClient client, BOOL passive) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    session->passive = passive != FALSE;
    if (session->passive) {
        session->options |= FTP_OPTION_PASSIVE;
    } else {
        session->options &= ~static_cast<std::uint32_t>(FTP_OPTION_PASSIVE);
    }
    return 0;
}

int FtpGetChannelMode(FtpClient client, int channel) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    if (!session->ops->commandChannel) return Fail(fileErrorOperationNotSupported);
    if (channel == FTP_CHANNEL_COMMAND) return session->commandChannelSecure ? 1 : 0;
    if (channel == FTP_CHANNEL_DATA) return session->dataChannelSecure ? 1 : 0;
    return Fail(fileErrorInvalidParameter);
}

int FtpSetChannelMode(FtpClient client, int channel, int mode) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    if (!session->ops->commandChannel) return Fail(fileErrorOperationNotSupported);
    bool validChannel = channel == FTP_CHANNEL_COMMAND || channel == FTP_CHANNEL_DATA;
    bool validMode = mode == FTP_CHANNEL_CLEAR || mode == FTP_CHANNEL_SECURE;
    if (!validChannel || !validMode) return Fail(fileErrorInvalidParameter);
    if (channel == FTP_CHANNEL_DATA) {
        if (mode == FTP_CHANNEL_SECURE && !session->HasOption(FTP_OPTION_SECURE)) {
            return Fail(fileErrorSecurityNotInitialized);
        }
        session->dataChannelSecure = mode == FTP_CHANNEL_SECURE;
        return 0;
    }
    if (mode == FTP_CHANNEL_SECURE) {
        return session->commandChannelSecure ? 0 : Fail(fileErrorOperationNotSupported);
    }
    return ClearCommandChannel(*session);
}

int FtpGetActivePorts(FtpClient client, int* lowPort, int* highPort) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    if (!lowPort || !highPort) return Fail(fileErrorInvalidParameter);
    *lowPort = session->activePortLow;
    *highPort = session->activePortHigh;
    return 0;
}

int FtpSetActivePorts(FtpClient client, int lowPort, int highPort) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    if (!session->ops->commandChannel) return Fail(fileErrorOperationNotSupported);
    int low = lowPort == -1 ? session->activePortLow : ClampActivePort(lowPort);
    int high = highPort == -1 ? session->activePortHigh : ClampActivePort(highPort);
    if (low > high) std::swap(low, high);
    session->activePortLow = low;
    session->activePortHigh = high;
    return 0;
}

int FtpGetPriority(FtpClient client) {
    SessionRef session = LookupSession(client);
    return session ? session->priority : -1;
}

int FtpSetPriority(FtpClient client, int priority) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    if (priority < 0 || priority > kHighestPriority) return Fail(fileErrorInvalidParameter);
    int previous = session->priority;
    session->priority = priority;
    ResizeDataBuffer(*session);
    return previous;
}

int FtpGetDirectoryFormat(FtpClient client) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    const int fixed = session->ops->fixedDirectoryFormat;
    return fixed != FTP_DIRECTORY_AUTO ? fixed : session->directoryFormat;
}

int FtpSetDirectoryFormat(FtpClient client, int format) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    const int fixed = session->ops->fixedDirectoryFormat;
    int highest = fixed != FTP_DIRECTORY_AUTO ? fixed : kMlsdFormat;
    if (format < 0 || format > highest) return Fail(fileErrorInvalidParameter);
    if (format == kMlsdFormat && (session->features & kFeatureMlst) == 0) {
        return Fail(fileErrorFeatureNotSupported);
    }
    session->directoryFormat = format;
    session->directoryFormatChosen = format != FTP_DIRECTORY_AUTO;
    return 0;
}

int FtpGetLocalAddress(FtpClient client, int family, NetAddress* address) {
    if (!address) return Fail(fileErrorInvalidParameter);
    if (!ClientInTable(client)) return LocalHostAddress(family, address);
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (NetGetSockName(session->ops->connectionSocket(*session),
                       reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        return Fail(NetGetLastError());
    }
    CopySockAddr(storage, address);
    return 0;
}

int FtpGetSecurityInfo(FtpClient client, SecurityInfo* info) {
    SessionRef session = LookupSession(client);
    if (!session) return 0;
    if (!info || info->size < TLS_SECURITY_INFO_SIZE) {
        Fail(fileErrorInvalidParameter);
        return 0;
    }
    std::memset(info, 0, sizeof *info);
    info->size = TLS_SECURITY_INFO_SIZE;
    return session->ops->securityInfo(*session, info);
}

int FtpGetShellInfo(FtpClient client, FtpShellInfo* info) {
    SessionRef session = LookupSession(client);
    if (!session) return 0;
    if (!info) {
        Fail(fileErrorInvalidParameter);
        return 0;
    }
    static const char kNone[] = "";
    *info = FtpShellInfo{kNone, kNone, kNone};
    return session->ops->shellInfo(*session, info);
}

int FtpGetTransferStatus(FtpClient client, FtpTransferStatus* status) {
    SessionRef session = LookupSessionAnyThread(client);
    if (!session) return -1;
    if (!status) return Fail(fileErrorInvalidParameter);
    const TransferFields& transfer = session->transfer;
    std::memset(status, 0, sizeof *status);
    status->bytesCopied = transfer.restartOffset + transfer.bytesTransferred;
    status->totalBytes = std::max<std::uint64_t>(transfer.fileSize, status->bytesCopied);
    std::memcpy(status->localFile, transfer.localFile.c_str(), transfer.localFile.size());
    std::memcpy(status->remoteFile, transfer.remoteFile.c_str(), transfer.remoteFile.size());
    if (transfer.startTick == 0) return 0;
    DWORD end = transfer.endTick != 0 ? transfer.endTick : GetTickCount();
    DWORD elapsed = (end - transfer.startTick) / 1000;
    if (elapsed == 0) return 0;
    status->elapsedSeconds = elapsed;
    status->bytesPerSecond = static_cast<uint32_t>(status->bytesCopied / elapsed);
    status->secondsRemaining =
        status->bytesPerSecond == 0
            ? 3600
            : static_cast<uint32_t>((status->totalBytes - status->bytesCopied) /
                                    status->bytesPerSecond);
    return 0;
}

}  // extern "C"
