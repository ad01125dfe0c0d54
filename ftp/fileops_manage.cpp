// Changing the server's files: delete, rename, directories, permissions.
#include <cstdio>
#include <string>

#include "ftp/engine.h"
#include "ftp/fileops.h"
#include "ftp/fileops_internal.h"
#include "ftp/ftp_ops.h"
#include "resources/errors.h"

namespace ftp {
namespace {

constexpr int kRenamePending = 350;
constexpr int kDirectoryExistsReply = 521;

// The Unix mode in octal with at least three digits: 0x1ED is "755", 7 is "007".
std::string OctalMode(DWORD mode) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%03o", static_cast<unsigned>(mode));
    return digits;
}

// Looks the session up for a command that changes the server; null with the
// error set when there is none.
SessionRef SessionForCommand(FtpClient client) {
    return LookupSession(client);
}

int ResultOf(const Exchange& reply) {
    return reply.ok() ? reply.code : -1;
}

bool IsEmpty(const char* text) {
    return !text || !*text;
}

}  // namespace
}  // namespace ftp

using namespace ftp;

int ftp::ftpops::DeleteFile(FtpSession& session, const char* fileName) {
    return ResultOf(RunCommand(session, "DELE", fileName));
}

int ftp::ftpops::RenameFile(FtpSession& session, const char* oldName, const char* newName) {
    Exchange from = RunCommand(session, "RNFR", oldName);
    if (!from.ok() || from.code != kRenamePending) return ResultOf(from);
    return ResultOf(RunCommand(session, "RNTO", newName));
}

int ftp::ftpops::MakeDirectory(FtpSession& session, const char* path) {
    Exchange reply = RunCommand(session, "MKD", path);
    if (!reply.ok() && reply.code == kDirectoryExistsReply) return Fail(fileErrorDirectoryExists);
    return ResultOf(reply);
}

int ftp::ftpops::RemoveDirectory(FtpSession& session, const char* path) {
    return ResultOf(RunCommand(session, "RMD", path));
}

int ftp::ftpops::SetPermissions(FtpSession& session, const char* fileName, DWORD mode) {
    if (!HasFeature(session, kFeatureSite) || !HasFeature(session, kFeatureChmod))
        return Fail(fileErrorFeatureNotSupported);
    std::string argument = "CHMOD " + OctalMode(mode) + " " + fileName;
    Exchange reply = RunCommand(session, "SITE", argument);
    if (LearnFeature(session, reply, kFeatureChmod)) return Fail(fileErrorFeatureNotSupported);
    return ResultOf(reply);
}

extern "C" {

int FtpDeleteFile(FtpClient client, const char* fileName) {
    SessionRef session = SessionForCommand(client);
    if (!session) return -1;
    if (IsEmpty(fileName)) return Fail(fileErrorInvalidFileName);
    return session->ops->deleteFile(*session, fileName);
}

int FtpRenameFile(FtpClient client, const char* oldName, const char* newName) {
    SessionRef session = SessionForCommand(client);
    if (!session) return -1;
    if (IsEmpty(oldName) || IsEmpty(newName)) return Fail(fileErrorInvalidParameter);
    return session->ops->renameFile(*session, oldName, newName);
}

int FtpMakeDirectory(FtpClient client, const char* path) {
    SessionRef session = SessionForCommand(client);
    if (!session) return -1;
    if (IsEmpty(path)) return Fail(fileErrorInvalidParameter);
    return session->ops->makeDirectory(*session, path);
}

int FtpRemoveDirectory(FtpClient client, const char* path) {
    SessionRef session = SessionForCommand(client);
    if (!session) return -1;
    if (IsEmpty(path)) return Fail(fileErrorInvalidParameter);
    return session->ops->removeDirectory(*session, path);
}

int FtpSetFilePermissions(FtpClient client, const char* fileName, DWORD mode) {
    SessionRef session = SessionForCommand(client);
    if (!session) return -1;
    if (IsEmpty(fileName)) return Fail(fileErrorInvalidFileName);
    return session->ops->setPermissions(*session, fileName, mode);
}

}  // extern "C"
