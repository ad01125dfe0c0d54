// The FTP engine's operations on an SFTP session: each one is handed to the
// SFTP client under its lock, and the client's error becomes the thread's last
// error. The SFTP client's reply code and text become the session's reply.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ftp/directory_listing.h"
#include "ftp/engine.h"
#include "ftp/login_keys.h"
#include "ftp/notify.h"
#include "ftp/protocol_ops.h"
#include "platform/memory.h"
#include "platform/secret_string.h"
#include "resources/errors.h"
#include "ssh/sftp.h"

namespace ftp {
namespace {

constexpr std::uint32_t kTlsOptions = FTP_OPTION_SECURE | FTP_OPTION_SECURE_EXPLICIT;

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
    SftpSession* sftp = session.sftp;
    session.lastReplyCode = SftpGetResultCode(sftp);
    char text[64];
    SftpGetResultString(sftp, text, sizeof text);
    session.replyText.AssignTruncated(text);
    if (ok) {
        FtpSetLastError(0);
        return 0;
    }
    const DWORD error = SftpGetLastError(sftp);
    const int number = error != 0 ? ErrorNumber(error) : fileErrorServerTransactionFailed;
    // The SSH client has no time-out event of its own: a call that ended in a
    // time-out raises the engine's, once.
    if (number == fileErrorOperationTimeout) RaiseEvent(session, FTP_EVENT_TIMEOUT, number);
    return Fail(number);
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

namespace sftpops {

// Sessions released while another thread held the SFTP lock: they are torn
// down by the next release or connect that gets it, on whatever thread.
std::mutex deferredLock;
std::vector<SftpSession*> deferredReleases;

// With the SFTP lock held.
void DisconnectDeferred() {
    std::vector<SftpSession*> sessions;
    {
        std::lock_guard guard(deferredLock);
        sessions.swap(deferredReleases);
    }
    for (SftpSession* sftp : sessions)
        SftpDisconnect(sftp);
}

FtpClient ConnectFail(int error) {
    Fail(error);
    return INVALID_CLIENT;
}

FtpClient Connect(ConnectRequest& request) {
    const std::string_view host = request.host;
    const std::string_view user = request.user;
    const std::string_view password = request.password;
    const int timeoutSeconds = request.timeout;
    const std::uint32_t options = request.options;
    const TlsCredentials* credentials = request.credentials;
    if (user.empty()) return ConnectFail(fileErrorInvalidUserName);
    if (password.empty() && !FtpLoginKeysSet()) return ConnectFail(fileErrorInvalidPassword);
    if (credentials && credentials->reserved2 && credentials->reserved2[0] != '\0') {
        return ConnectFail(fileErrorFeatureNotSupported);
    }
    SessionRef session = AllocateSession();
    if (!session) return INVALID_CLIENT;
    session->ops = &kSftpOperations;
    session->options = options & ~kTlsOptions;
    session->serverPort = request.port == 0 ? 22 : request.port;
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
        DisconnectDeferred();
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
    session->sftp = sftp;
    session->currentDirectory.AssignTruncated(SftpGetCurrentDirectory(sftp));
    SetState(*session, SessionState::LoggedIn);
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

void Release(FtpSession& session) {
    SftpSession* sftp = std::exchange(session.sftp, nullptr);
    if (!sftp) return;
    // Without the lock (a long transfer of another session holds it) the
    // session waits to be torn down rather than block this thread or leak.
    if (!SftpTryLock()) {
        // Its events would name a session that is gone by then.
        SftpSetEventHandler(sftp, nullptr, nullptr);
        std::lock_guard guard(deferredLock);
        deferredReleases.push_back(sftp);
        return;
    }
    SftpDisconnect(sftp);
    DisconnectDeferred();
    SftpUnlock();
}

int Cancel(FtpSession& session) {
    // Only a flag: no lock, so that another thread or an event handler can ask.
    SftpCancel(session.sftp);
    FtpSetLastError(0);
    return 0;
}

}  // namespace sftpops
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
namespace sftpops {

int SecurityInfoOf(FtpSession& session, SecurityInfo* info) {
    SftpSecurityInfo sftp;
    sftp.size = kSftpSecurityInfoSize;
    {
        SftpCall call;
        if (!SftpGetSecurityInfo(session.sftp, &sftp)) return Outcome(session, false), 0;
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

int ShellInfo(FtpSession& session, FtpShellInfo* info) {
    SftpShellInfo shell;
    {
        SftpCall call;
        if (!SftpGetShellInfo(session.sftp, &shell)) return Outcome(session, false), 0;
    }
    info->serverVersion = shell.serverVersion;
    info->algorithms = shell.algorithms;
    info->fingerprintSha256 = shell.fingerprintSha256;
    return 1;
}

int GetFile(FtpSession& session, const std::string& local, const std::string& remote, DWORD flags,
            std::uint64_t offset) {
    const bool verify = WantsVerify(session, flags);
    const bool append = (flags & FTP_TRANSFER_APPEND) != 0;
    int result = 0;
    {
        SetStatus(session, EngineStatus::Downloading);
        SftpCall call;
        result = Outcome(
            session, SftpGetFile(session.sftp, local.c_str(), remote.c_str(), offset, append) != 0);
        SetStatus(session, EngineStatus::Idle);
    }
    if (result != 0 || !verify) return result;
    return FtpVerifyFile(session.handle, local.c_str(), remote.c_str(), FTP_VERIFY_DEFAULT) ? 0
                                                                                            : -1;
}

int PutFile(FtpSession& session, const std::string& local, const std::string& remote, DWORD flags,
            std::uint64_t offset) {
    const bool verify = WantsVerify(session, flags);
    const bool append = (flags & FTP_TRANSFER_APPEND) != 0;
    int result = 0;
    {
        SetStatus(session, EngineStatus::Uploading);
        SftpCall call;
        result = Outcome(
            session, SftpPutFile(session.sftp, local.c_str(), remote.c_str(), offset, append) != 0);
        SetStatus(session, EngineStatus::Idle);
    }
    if (result != 0 || !verify) return result;
    return FtpVerifyFile(session.handle, local.c_str(), remote.c_str(), FTP_VERIFY_DEFAULT) ? 0
                                                                                            : -1;
}

int GetData(FtpSession& session, const std::string& remote, void* bufferOrHandle, DWORD* length) {
    HGLOBAL block = nullptr;
    std::uint64_t received = 0;
    {
        SftpCall call;
        const bool ok =
            SftpGetFileToMemory(session.sftp, remote.c_str(), &block, &received, 0) != 0;
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

int PutData(FtpSession& session, const std::string& remote, const char* data, DWORD length) {
    SftpCall call;
    return Outcome(session, SftpPutMemory(session.sftp, remote.c_str(), data, length) != 0);
}

int BeginTransfer(FtpSession& session, std::string_view remote, int mode, std::uint64_t offset) {
    SftpCall call;
    return Outcome(session, SftpOpenFile(session.sftp, Text(remote).c_str(), mode, offset) != 0);
}

int Read(FtpSession& session, char* buffer, int size, bool) {
    SftpCall call;
    const long count = SftpRead(session.sftp, buffer, size);
    if (count < 0) return Outcome(session, false);
    if (count == 0) {
        Fail(fileErrorEndOfData);
        return 0;
    }
    return static_cast<int>(count);
}

int Write(FtpSession& session, const char* data, int size) {
    SftpCall call;
    const long count = SftpWrite(session.sftp, data, size);
    return count < 0 ? Outcome(session, false) : static_cast<int>(count);
}

int EndTransfer(FtpSession& session) {
    SftpCall call;
    return CodeOutcome(session, SftpCloseFile(session.sftp) != 0);
}

int ChangeDirectory(FtpSession& session, std::string_view path) {
    SftpCall call;
    const bool ok = SftpChangeDirectory(session.sftp, Text(path).c_str()) != 0;
    if (ok) session.currentDirectory.AssignTruncated(SftpGetCurrentDirectory(session.sftp));
    return Outcome(session, ok);
}

int CurrentDirectory(FtpSession& session, char* buffer, int size) {
    const char* current = SftpGetCurrentDirectory(session.sftp);
    session.currentDirectory.AssignTruncated(current);
    if (buffer) {
        const std::size_t count = std::min(std::strlen(current), std::size_t(size) - 1);
        std::memcpy(buffer, current, count);
        buffer[count] = '\0';
    }
    FtpSetLastError(0);
    return 0;
}

int OpenListing(const SessionRef& session, std::string_view, std::string_view path, bool) {
    SftpCall call;
    const bool ok = SftpReadDirectory(session->sftp, Text(path).c_str()) != 0;
    ListingOf(session).Restart(*session);
    return Outcome(*session, ok);
}

// The next stored entry as a listing line; false with the error set at the end.
bool NextListingLine(FtpSession& session, std::string& line) {
    SftpCall call;
    long count = 0;
    long next = 0;
    SftpGetDirectoryPosition(session.sftp, &count, &next);
    if (next >= count) return Fail(fileErrorEndOfDirectory), false;
    char text[1024];
    if (!SftpGetNextListingLine(session.sftp, text)) return Outcome(session, false), false;
    line = text;
    return true;
}

LineOutcome ReadListingLine(FtpSession& session, DirectoryListing& listing) {
    std::string line;
    if (!NextListingLine(session, line)) return LineOutcome::Failed;
    return AddListingLine(session, listing, line);
}

int CloseListing(const SessionRef& ref) {
    FtpSession& session = *ref;
    SftpCall call;
    return Outcome(session, SftpFreeDirectory(session.sftp) != 0);
}

int FileList(const SessionRef& ref, const char* path, bool nameOnly, char* buffer, int size) {
    FtpSession& session = *ref;
    SftpCall call;
    const bool ok = SftpGetNameList(session.sftp, path, nameOnly ? 1 : 0, buffer, size) != 0;
    if (Outcome(session, ok) != 0) {
        if (buffer && size > 0) buffer[0] = '\0';
        return -1;
    }
    return static_cast<int>(std::strlen(buffer));
}

int DeleteFile(FtpSession& session, const char* name) {
    SftpCall call;
    return Outcome(session, SftpDeleteFile(session.sftp, name) != 0);
}

int RenameFile(FtpSession& session, const char* oldName, const char* newName) {
    SftpCall call;
    return Outcome(session, SftpRenameFile(session.sftp, oldName, newName) != 0);
}

int MakeDirectory(FtpSession& session, const char* path) {
    SftpCall call;
    return Outcome(session, SftpMakeDirectory(session.sftp, path) != 0);
}

int RemoveDirectory(FtpSession& session, const char* path) {
    SftpCall call;
    return Outcome(session, SftpRemoveDirectory(session.sftp, path) != 0);
}

int FileSize(FtpSession& session, std::string_view name, std::uint64_t& size) {
    SftpCall call;
    return CodeOutcome(session, SftpGetFileSize(session.sftp, Text(name).c_str(), &size) != 0);
}

int GetFileTime(FtpSession& session, std::string_view name, SYSTEMTIME* time, bool local) {
    SftpCall call;
    return CodeOutcome(session,
                       SftpGetFileTime(session.sftp, Text(name).c_str(), time, local) != 0);
}

int SetFileTime(FtpSession& session, std::string_view name, const SYSTEMTIME* time) {
    SftpCall call;
    return CodeOutcome(session, SftpSetFileTime(session.sftp, Text(name).c_str(), time) != 0);
}

int GetPermissions(FtpSession& session, std::string_view name, DWORD* permissions) {
    SftpCall call;
    return CodeOutcome(session,
                       SftpGetFilePermissions(session.sftp, Text(name).c_str(), permissions) != 0);
}

int SetPermissions(FtpSession& session, const char* name, DWORD permissions) {
    SftpCall call;
    return CodeOutcome(session, SftpSetFilePermissions(session.sftp, name, permissions) != 0);
}

int FileEntry(FtpSession& session, std::string_view name, FtpDirectoryEntry* entry) {
    SftpFileInfo info;
    {
        SftpCall call;
        if (Outcome(session, SftpGetFileStatus(session.sftp, Text(name).c_str(), &info) != 0) !=
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

}  // namespace sftpops

const ProtocolOps kSftpOperations = {
    .commandChannel = false,
    .sftpListings = true,
    .fixedDirectoryFormat = FTP_DIRECTORY_UNIX,
    .verifyMethods = FTP_VERIFY_SIZE,
    .connect = sftpops::Connect,
    .cancel = sftpops::Cancel,
    .release = sftpops::Release,
    .connectionSocket =
        [](const FtpSession& session) {
            const long socket = session.sftp ? SftpGetSocket(session.sftp) : -1;
            return socket < 0 ? INVALID_SOCKET : static_cast<SOCKET>(socket);
        },
    .securityInfo = sftpops::SecurityInfoOf,
    .shellInfo = sftpops::ShellInfo,
    .changeDirectory = sftpops::ChangeDirectory,
    .currentDirectory = sftpops::CurrentDirectory,
    .openListing = sftpops::OpenListing,
    .readListingLine = sftpops::ReadListingLine,
    .closeListing = sftpops::CloseListing,
    .fileList = sftpops::FileList,
    .fileSize = sftpops::FileSize,
    .fileInfo = sftpops::FileEntry,
    .getPermissions = sftpops::GetPermissions,
    .setPermissions = sftpops::SetPermissions,
    .getFileTime = sftpops::GetFileTime,
    .setFileTime = sftpops::SetFileTime,
    .deleteFile = sftpops::DeleteFile,
    .renameFile = sftpops::RenameFile,
    .makeDirectory = sftpops::MakeDirectory,
    .removeDirectory = sftpops::RemoveDirectory,
    .getFile = sftpops::GetFile,
    .putFile = sftpops::PutFile,
    .getData = sftpops::GetData,
    .putData = sftpops::PutData,
    .beginTransfer = sftpops::BeginTransfer,
    .read = sftpops::Read,
    .write = sftpops::Write,
    .endTransfer = sftpops::EndTransfer,
};

}  // namespace ftp
