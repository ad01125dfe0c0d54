#include "ftp/sftp_bridge.h"

#include <utility>

#include <algorithm>
#include <cstring>

#include "crypto/secret_bytes.h"
#include "ftp/directory_listing.h"
#include "ftp/login_keys.h"
#include "ftp/engine.h"
#include "ftp/notify.h"
#include "platform/memory.h"
#include "resources/errors.h"
#include "ssh/sftp.h"

namespace ftp {
namespace {

constexpr std::uint32_t kTlsOptions = FTP_OPTION_SECURE | FTP_OPTION_SECURE_EXPLICIT;

SftpSession* SftpOf(FtpSession& session) {
    return static_cast<SftpSession*>(session.sftpSession);
}

// Holds the SFTP lock for one call into the client.
class SftpCall {
  public:
    SftpCall() { SftpLock(); }
    ~SftpCall() { SftpUnlock(); }
    SftpCall(const SftpCall&) = delete;
    SftpCall& operator=(const SftpCall&) = delete;
};

// Copies the client's reply into the session and its error into the thread:
// 0 on success, -1 on failure.
int Outcome(FtpSession& session, bool ok) {
    SftpSession* sftp = SftpOf(session);
    session.lastReplyCode = SftpGetResultCode(sftp);
    char text[64];
    SftpGetResultString(sftp, text, sizeof text);
    session.replyText.AssignTruncated(text);
    if (ok) {
        FtpSetLastError(0);
        return 0;
    }
    const DWORD error = SftpGetLastError(sftp);
    return Fail(error != 0 ? ErrorNumber(error) : fileErrorServerTransactionFailed);
}

// The reply code for operations whose FTP result is one.
int CodeOutcome(FtpSession& session, bool ok) {
    return Outcome(session, ok) == 0 ? session.lastReplyCode : -1;
}

void CopyTransferStart(FtpSession& session, const SftpTransferRecord& record) {
    TransferFields& fields = session.transfer;
    fields.localFile.AssignTruncated(record.localFile);
    fields.remoteFile.AssignTruncated(record.remotePath);
    fields.fileSize = record.fileSize;
    fields.restartOffset = record.startOffset;
    fields.bytesTransferred = 0;
    fields.startTick = record.startTicks;
    fields.endTick = 0;
}

// The SFTP client's events as the FTP engine's notifications.
void ForwardEvent(SftpSession*, int event, const SftpTransferRecord* record, void* clientId) {
    FtpSession& session = *static_cast<FtpSession*>(clientId);
    switch (event) {
        case kSftpEventConnected:
            RaiseEvent(session, FTP_EVENT_CONNECT, 0);
            return;
        case kSftpEventClosed:
            RaiseEvent(session, FTP_EVENT_DISCONNECT, 0);
            return;
        case kSftpEventTransferStart:
            CopyTransferStart(session, *record);
            if (record->direction == kSftpDirectionDownload && (record->kind & kSftpKindDownload))
                RaiseEvent(session, FTP_EVENT_GETFILE, 0);
            if (record->direction == kSftpDirectionUpload && (record->kind & kSftpKindUpload))
                RaiseEvent(session, FTP_EVENT_PUTFILE, 0);
            return;
        case kSftpEventTransferEnd:
            session.transfer.bytesTransferred = record->bytesCopied;
            session.transfer.startTick = record->startTicks;
            session.transfer.endTick = record->endTicks;
            return;
        case kSftpEventStreamRead:
        case kSftpEventStreamWrite:
            session.transfer.bytesTransferred = record->bytesCopied;
            return;
        case kSftpEventCanceled:
            RaiseEvent(session, FTP_EVENT_CANCEL, fileErrorOperationCanceled);
            return;
        case kSftpEventProgress:
            session.transfer.bytesTransferred = record->bytesCopied;
            RaiseEvent(session, FTP_EVENT_PROGRESS, 0);
            return;
        default:
            return;
    }
}

std::string Text(std::string_view view) {
    return std::string(view);
}

// Per thread, as the control that sets them belongs to one thread.
thread_local SftpHostKeyCheck hostKeyCheck;
thread_local SftpHostKeyOutcome hostKeyOutcome;
thread_local SftpLoginKeys loginKeys;

}  // namespace

FtpClient ConnectSftp(std::string_view host, int port, std::string_view user,
                      std::string_view password, int timeoutSeconds, std::uint32_t options,
                      const TlsCredentials* credentials) {
    SessionRef session = AllocateSession();
    if (!session) return INVALID_CLIENT;
    session->options = options & ~kTlsOptions;
    session->serverPort = port == 0 ? 22 : port;
    session->timeout = timeoutSeconds > 0 ? timeoutSeconds : kDefaultTimeoutSeconds;
    if (!session->hostName.Assign(host) || !session->userName.Assign(user) ||
        !session->password.Assign(password)) {
        Fail(fileErrorInvalidParameter);
        ReleaseSession(session);
        return INVALID_CLIENT;
    }
    const int protocol = credentials ? static_cast<int>(credentials->protocol) : 0;
    hostKeyOutcome = SftpHostKeyOutcome{};
    DWORD error = 0;
    SftpSession* sftp = nullptr;
    SecretBytes secret(password);
    // The keys serve this one connect; what is left of them goes with it.
    const SftpLoginKeys login = std::exchange(loginKeys, SftpLoginKeys{});
    {
        SftpCall call;
        sftp = SftpConnect(Text(host).c_str(), session->serverPort, Text(user).c_str(),
                           secret.c_str(), timeoutSeconds, options & ~kTlsOptions, protocol, &error,
                           &hostKeyCheck, &hostKeyOutcome, &login);
    }
    secret.Wipe();
    if (!sftp) {
        FtpSetLastError(error);
        ReleaseSession(session);
        return INVALID_CLIENT;
    }
    session->sftpSession = sftp;
    session->currentDirectory.AssignTruncated(SftpGetCurrentDirectory(sftp));
    session->loggedIn = true;
    session->connected = true;
    session->systemType = kSystemUnix;
    session->directoryFormat = FTP_DIRECTORY_UNIX;
    SetStatus(*session, EngineStatus::Idle);
    {
        SftpCall call;
        SftpSetEventHandler(sftp, ForwardEvent, session.get());
    }
    FtpSetLastError(0);
    return session->handle;
}

}  // namespace ftp

int FtpSetHostKeyPolicy(int policy, const char* knownHostsFile) {
    if (policy < 0 || policy > 2) return ftp::Fail(fileErrorInvalidParameter);
    ftp::hostKeyCheck.policy = policy;
    ftp::hostKeyCheck.knownHostsFile = knownHostsFile ? knownHostsFile : "";
    ftp::hostKeyOutcome = SftpHostKeyOutcome{};
    FtpSetLastError(0);
    return 0;
}

void FtpSetLoginKeys(SftpLoginKeys keys) {
    ftp::loginKeys = std::move(keys);
}

bool FtpLoginKeysSet() {
    return !ftp::loginKeys.keys.empty() ||
           (ftp::loginKeys.useAgent && !ftp::loginKeys.agentSocket.empty());
}

int FtpGetHostKeyStatus(char* buffer, int size) {
    if (buffer && size > 0) {
        const std::string& text = ftp::hostKeyOutcome.text;
        const std::size_t count = std::min<std::size_t>(text.size(), std::size_t(size) - 1);
        std::memcpy(buffer, text.data(), count);
        buffer[count] = '\0';
    }
    return ftp::hostKeyOutcome.status;
}

namespace ftp {

void ReleaseSftp(FtpSession& session) {
    SftpSession* sftp = SftpOf(session);
    if (!sftp) return;
    // Without the lock the session is left alone rather than torn down under a
    // call that still runs.
    if (!SftpTryLock()) return;
    SftpDisconnect(sftp);
    SftpUnlock();
    session.sftpSession = nullptr;
}

int CancelSftp(FtpSession& session) {
    // Only a flag: no lock, so that another thread or an event handler can ask.
    SftpCancel(SftpOf(session));
    FtpSetLastError(0);
    return 0;
}

int SftpSecurityInfoFor(FtpSession& session, SecurityInfo* info) {
    SftpSecurityInfo sftp;
    sftp.size = kSftpSecurityInfoSize;
    {
        SftpCall call;
        if (!SftpGetSecurityInfo(SftpOf(session), &sftp)) return Outcome(session, false), 0;
    }
    info->protocol = sftp.protocol;
    info->cipher = sftp.cipher;
    info->cipherStrength = sftp.cipherStrength;
    info->hash = sftp.hash;
    info->hashStrength = sftp.hashStrength;
    info->keyExchange = sftp.keyExchange;
    info->extra = sftp.fingerprint;
    return 1;
}

int SftpShellInfoFor(FtpSession& session, FtpShellInfo* info) {
    SftpShellInfo shell;
    {
        SftpCall call;
        if (!SftpGetShellInfo(SftpOf(session), &shell)) return Outcome(session, false), 0;
    }
    info->serverVersion = shell.serverVersion;
    info->algorithms = shell.algorithms;
    info->fingerprintSha256 = shell.fingerprintSha256;
    return 1;
}

int SftpGetFileFor(FtpSession& session, const std::string& local, const std::string& remote,
                   bool verify, std::uint64_t offset, bool append) {
    int result = 0;
    {
        SetStatus(session, EngineStatus::Downloading);
        SftpCall call;
        result = Outcome(session,
                         SftpGetFile(SftpOf(session), local.c_str(), remote.c_str(), offset,
                                     append) != 0);
        SetStatus(session, EngineStatus::Idle);
    }
    if (result != 0 || !verify) return result;
    return FtpVerifyFile(session.handle, local.c_str(), remote.c_str(), FTP_VERIFY_DEFAULT) ? 0
                                                                                            : -1;
}

int SftpPutFileFor(FtpSession& session, const std::string& local, const std::string& remote,
                   bool verify, std::uint64_t offset, bool append) {
    int result = 0;
    {
        SetStatus(session, EngineStatus::Uploading);
        SftpCall call;
        result = Outcome(session,
                         SftpPutFile(SftpOf(session), local.c_str(), remote.c_str(), offset,
                                     append) != 0);
        SetStatus(session, EngineStatus::Idle);
    }
    if (result != 0 || !verify) return result;
    return FtpVerifyFile(session.handle, local.c_str(), remote.c_str(), FTP_VERIFY_DEFAULT) ? 0
                                                                                            : -1;
}

int SftpGetDataFor(FtpSession& session, const std::string& remote, void* bufferOrHandle,
                   DWORD* length) {
    HGLOBAL block = nullptr;
    std::uint64_t received = 0;
    {
        SftpCall call;
        const bool ok =
            SftpGetFileToMemory(SftpOf(session), remote.c_str(), &block, &received, 0) != 0;
        if (Outcome(session, ok) != 0) {
            if (block) GlobalFree(block);
            return -1;
        }
    }
    if (*length == 0) {
        HGLOBAL shrunk = GlobalReAlloc(
            block, static_cast<SIZE_T>(std::max<std::uint64_t>(received, 1)), GMEM_MOVEABLE);
        *static_cast<HGLOBAL*>(bufferOrHandle) = shrunk ? shrunk : block;
        *length = static_cast<DWORD>(received);
        return 0;
    }
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(*length, received));
    if (count > 0) {
        std::memcpy(bufferOrHandle, GlobalLock(block), count);
        GlobalUnlock(block);
    }
    GlobalFree(block);
    *length = static_cast<DWORD>(count);
    return 0;
}

int SftpPutDataFor(FtpSession& session, const std::string& remote, const char* data, DWORD length) {
    SftpCall call;
    return Outcome(session, SftpPutMemory(SftpOf(session), remote.c_str(), data, length) != 0);
}

int SftpBeginTransferFor(FtpSession& session, std::string_view remote, int mode,
                         std::uint64_t offset) {
    SftpCall call;
    return Outcome(session, SftpOpenFile(SftpOf(session), Text(remote).c_str(), mode, offset) != 0);
}

int SftpReadFor(FtpSession& session, char* buffer, int size) {
    SftpCall call;
    const long count = SftpRead(SftpOf(session), buffer, size);
    if (count < 0) return Outcome(session, false);
    if (count == 0) {
        Fail(fileErrorEndOfData);
        return 0;
    }
    return static_cast<int>(count);
}

int SftpWriteFor(FtpSession& session, const char* data, int size) {
    SftpCall call;
    const long count = SftpWrite(SftpOf(session), data, size);
    return count < 0 ? Outcome(session, false) : static_cast<int>(count);
}

int SftpEndTransferFor(FtpSession& session) {
    SftpCall call;
    return CodeOutcome(session, SftpCloseFile(SftpOf(session)) != 0);
}

int SftpChangeDirectoryFor(FtpSession& session, std::string_view path) {
    SftpCall call;
    const bool ok = SftpChangeDirectory(SftpOf(session), Text(path).c_str()) != 0;
    if (ok) session.currentDirectory.AssignTruncated(SftpGetCurrentDirectory(SftpOf(session)));
    return Outcome(session, ok);
}

int SftpCurrentDirectoryFor(FtpSession& session, char* buffer, int size) {
    const char* current = SftpGetCurrentDirectory(SftpOf(session));
    session.currentDirectory.AssignTruncated(current);
    if (buffer) {
        const std::size_t count = std::min(std::strlen(current), std::size_t(size) - 1);
        std::memcpy(buffer, current, count);
        buffer[count] = '\0';
    }
    FtpSetLastError(0);
    return 0;
}

int SftpOpenListingFor(const SessionRef& session, std::string_view path) {
    SftpCall call;
    const bool ok = SftpReadDirectory(SftpOf(*session), Text(path).c_str()) != 0;
    ListingOf(session).Restart(*session);
    return Outcome(*session, ok);
}

bool SftpNextListingLine(FtpSession& session, std::string& line) {
    SftpCall call;
    long count = 0;
    long next = 0;
    SftpGetDirectoryPosition(SftpOf(session), &count, &next);
    if (next >= count) return Fail(fileErrorEndOfDirectory), false;
    char text[1024];
    if (!SftpGetNextListingLine(SftpOf(session), text)) return Outcome(session, false), false;
    line = text;
    return true;
}

int SftpCloseListingFor(FtpSession& session) {
    SftpCall call;
    return Outcome(session, SftpFreeDirectory(SftpOf(session)) != 0);
}

int SftpFileListFor(FtpSession& session, const char* path, bool nameOnly, char* buffer, int size) {
    SftpCall call;
    const bool ok = SftpGetNameList(SftpOf(session), path, nameOnly ? 1 : 0, buffer, size) != 0;
    if (Outcome(session, ok) != 0) {
        if (buffer && size > 0) buffer[0] = '\0';
        return -1;
    }
    return static_cast<int>(std::strlen(buffer));
}

int SftpDeleteFileFor(FtpSession& session, const char* name) {
    SftpCall call;
    return Outcome(session, SftpDeleteFile(SftpOf(session), name) != 0);
}

int SftpRenameFileFor(FtpSession& session, const char* oldName, const char* newName) {
    SftpCall call;
    return Outcome(session, SftpRenameFile(SftpOf(session), oldName, newName) != 0);
}

int SftpMakeDirectoryFor(FtpSession& session, const char* path) {
    SftpCall call;
    return Outcome(session, SftpMakeDirectory(SftpOf(session), path) != 0);
}

int SftpRemoveDirectoryFor(FtpSession& session, const char* path) {
    SftpCall call;
    return Outcome(session, SftpRemoveDirectory(SftpOf(session), path) != 0);
}

int SftpFileSizeFor(FtpSession& session, std::string_view name, std::uint64_t& size) {
    SftpCall call;
    return CodeOutcome(session, SftpGetFileSize(SftpOf(session), Text(name).c_str(), &size) != 0);
}

int SftpGetFileTimeFor(FtpSession& session, std::string_view name, SYSTEMTIME* time, bool local) {
    SftpCall call;
    return CodeOutcome(session,
                       SftpGetFileTime(SftpOf(session), Text(name).c_str(), time, local) != 0);
}

int SftpSetFileTimeFor(FtpSession& session, std::string_view name, const SYSTEMTIME* time) {
    SftpCall call;
    return CodeOutcome(session, SftpSetFileTime(SftpOf(session), Text(name).c_str(), time) != 0);
}

int SftpGetPermissionsFor(FtpSession& session, std::string_view name, DWORD* permissions) {
    SftpCall call;
    return CodeOutcome(
        session, SftpGetFilePermissions(SftpOf(session), Text(name).c_str(), permissions) != 0);
}

int SftpSetPermissionsFor(FtpSession& session, std::string_view name, DWORD permissions) {
    SftpCall call;
    return CodeOutcome(
        session, SftpSetFilePermissions(SftpOf(session), Text(name).c_str(), permissions) != 0);
}

int SftpFileInfoFor(FtpSession& session, std::string_view name, FtpDirectoryEntry* entry) {
    SftpFileInfo info;
    {
        SftpCall call;
        if (Outcome(session, SftpGetFileStatus(SftpOf(session), Text(name).c_str(), &info) != 0) !=
            0) {
            return 0;
        }
    }
    *entry = FtpDirectoryEntry{};
    const auto copy = [](const std::string& from, char* to, std::size_t room) {
        const std::size_t count = std::min(from.size(), room - 1);
        std::memcpy(to, from.data(), count);
        to[count] = '\0';
    };
    copy(info.name, entry->name, sizeof entry->name);
    copy(info.owner, entry->owner, sizeof entry->owner);
    copy(info.group, entry->group, sizeof entry->group);
    entry->directory = info.directory ? 1 : 0;
    entry->size = info.size;
    entry->linkCount = 1;
    entry->permissions = info.permissions;
    entry->date = info.date;
    return 1;
}

}  // namespace ftp
