// Directory changes, file management and attribute queries and changes.
#include <string>

#include "resources/errors.h"
#include "ssh/sftp_session.h"

namespace {

constexpr std::uint32_t kPermissionBits = 0xFFF;
constexpr std::uint32_t kDirectoryBit = 0x4000;

bool UtcFromUnix(std::uint32_t seconds, SYSTEMTIME& out) {
    return UnixTimeToSystemTime(seconds, &out) != FALSE;
}

// With the offset in effect now, whatever the date (as FileTimeToLocalFileTime).
bool LocalFromUnix(std::uint32_t seconds, SYSTEMTIME& out) {
    return UnixTimeToSystemTime(LONGLONG{seconds} - GetTimeZoneBiasSeconds(), &out) != FALSE;
}

// Seconds since 1970 of a UTC time; false when it cannot be converted. Times
// cross this interface in UTC, as MFMT's do on FTP.
bool UnixFromUtc(const SYSTEMTIME& time, std::uint32_t& seconds) {
    LONGLONG value = 0;
    if (!SystemTimeToUnixTime(&time, &value) || value < 0 || value > UINT32_MAX) return false;
    seconds = static_cast<std::uint32_t>(value);
    return true;
}

// The canonical path, stat'ed. False with the error set.
bool StatPath(SftpSession& session, const char* path, std::string& full,
              SftpAttributes& attributes) {
    auto canonical = session.Canonical(path);
    if (!canonical) return false;
    full = *canonical;
    return session.Stat(full, attributes);
}

int PathOperation(SftpSession* handle, const char* path, std::uint8_t type) {
    SftpSession* session = CheckSession(handle);
    if (!session) return 0;
    auto canonical = session->Canonical(path);
    if (!canonical || !session->SimpleRequest(type, *canonical)) return 0;
    return SucceedOp(*session);
}

}  // namespace

int SftpChangeDirectory(SftpSession* handle, const char* path) {
    SftpSession* session = CheckSession(handle);
    if (!session) return 0;
    std::optional<std::string> canonical = (!path || path[0] == '\0')
                                               ? std::optional<std::string>(session->home)
                                               : session->Canonical(path);
    if (!canonical) return session->Fail(fileErrorDirectoryNotFound);
    auto directory = session->OpenDirectory(*canonical);
    if (!directory) {
        if (session->lastStatus == 2) session->Fail(fileErrorDirectoryNotFound);
        return 0;
    }
    if (!session->CloseHandle(*directory)) return 0;
    session->current = *canonical;
    return SucceedOp(*session);
}

int SftpMakeDirectory(SftpSession* session, const char* path) {
    return PathOperation(session, path, SSH_FXP_MKDIR);
}

int SftpRemoveDirectory(SftpSession* session, const char* path) {
    return PathOperation(session, path, SSH_FXP_RMDIR);
}

int SftpDeleteFile(SftpSession* session, const char* path) {
    return PathOperation(session, path, SSH_FXP_REMOVE);
}

int SftpRenameFile(SftpSession* handle, const char* oldPath, const char* newPath) {
    SftpSession* session = CheckSession(handle);
    if (!session) return 0;
    auto from = session->Canonical(oldPath);
    if (!from) return 0;
    auto to = session->Canonical(newPath);
    if (!to) return 0;
    const std::uint32_t id = session->NewRequestId();
    SftpWriter request(SSH_FXP_RENAME);
    request.Uint32(id).String(*from).String(*to);
    SftpReply reply;
    if (!session->Exchange(request, id, reply) || !session->CheckStatus(reply)) return 0;
    return SucceedOp(*session);
}

int SftpGetFileSize(SftpSession* handle, const char* path, std::uint64_t* size) {
    SftpSession* session = CheckSession(handle);
    if (!session) return 0;
    if (!size) return session->Fail(fileErrorInvalidParameter);
    std::string full;
    SftpAttributes attributes;
    if (!StatPath(*session, path, full, attributes)) return 0;
    *size = attributes.size;
    return SucceedOp(*session);
}

int SftpGetFileTime(SftpSession* handle, const char* path, SYSTEMTIME* time, bool local) {
    SftpSession* session = CheckSession(handle);
    if (!session) return 0;
    if (!time) return session->Fail(fileErrorInvalidParameter);
    std::string full;
    SftpAttributes attributes;
    if (!StatPath(*session, path, full, attributes)) return 0;
    if (!attributes.Has(kSftpAttrTimes)) return session->Fail(fileErrorFeatureNotSupported);
    const bool converted =
        local ? LocalFromUnix(attributes.mtime, *time) : UtcFromUnix(attributes.mtime, *time);
    if (!converted) return session->Fail(fileErrorInvalidDateFormat);
    time->wMilliseconds = 0;
    return SucceedOp(*session);
}

int SftpSetFileTime(SftpSession* handle, const char* path, const SYSTEMTIME* utcTime) {
    SftpSession* session = CheckSession(handle);
    if (!session) return 0;
    std::uint32_t seconds = 0;
    if (!utcTime || !UnixFromUtc(*utcTime, seconds)) {
        return session->Fail(fileErrorInvalidParameter);
    }
    std::string full;
    SftpAttributes attributes;
    if (!StatPath(*session, path, full, attributes)) return 0;
    if (!attributes.Has(kSftpAttrTimes)) return session->Fail(fileErrorOperationNotSupported);
    if (attributes.mtime == seconds) return SucceedOp(*session);
    SftpAttributes change;
    change.flags = kSftpAttrTimes;
    change.atime = attributes.atime;
    change.mtime = seconds;
    if (!session->SetStat(full, change)) return 0;
    return SucceedOp(*session);
}

int SftpGetFilePermissions(SftpSession* handle, const char* path, DWORD* permissions) {
    SftpSession* session = CheckSession(handle);
    if (!session) return 0;
    if (!permissions) return session->Fail(fileErrorInvalidParameter);
    std::string full;
    SftpAttributes attributes;
    if (!StatPath(*session, path, full, attributes)) return 0;
    // Without the attribute there is nothing to report and no error of its own.
    if (!attributes.Has(kSftpAttrPermissions)) return 0;
    *permissions = attributes.permissions & kPermissionBits;
    return SucceedOp(*session);
}

int SftpSetFilePermissions(SftpSession* handle, const char* path, DWORD permissions) {
    SftpSession* session = CheckSession(handle);
    if (!session) return 0;
    std::string full;
    SftpAttributes attributes;
    if (!StatPath(*session, path, full, attributes)) return 0;
    if (!attributes.Has(kSftpAttrPermissions)) {
        return session->Fail(fileErrorOperationNotSupported);
    }
    if ((permissions & kPermissionBits) == (attributes.permissions & kPermissionBits)) {
        return SucceedOp(*session);
    }
    SftpAttributes change;
    change.flags = kSftpAttrPermissions;
    change.permissions = permissions & kPermissionBits;
    if (!session->SetStat(full, change)) return 0;
    return SucceedOp(*session);
}

int SftpGetFileStatus(SftpSession* handle, const char* path, SftpFileInfo* info) {
    SftpSession* session = CheckSession(handle);
    if (!session) return 0;
    if (!info) return session->Fail(fileErrorInvalidParameter);
    *info = SftpFileInfo{};
    std::string full;
    SftpAttributes attributes;
    if (!StatPath(*session, path, full, attributes)) return 0;
    info->name = full.substr(0, 511);
    if (attributes.Has(kSftpAttrUidGid)) {
        info->owner = std::to_string(attributes.uid);
        info->group = std::to_string(attributes.gid);
    }
    info->size = attributes.size;
    info->valid = 1;
    if (attributes.Has(kSftpAttrPermissions)) {
        info->permissions = attributes.permissions & kPermissionBits;
        info->directory = (attributes.permissions & kDirectoryBit) != 0;
    }
    // UTC like the listing lines and MLST, so stat, ls and mtime agree.
    if (attributes.Has(kSftpAttrTimes)) UtcFromUnix(attributes.mtime, info->date);
    return SucceedOp(*session);
}
