// The public command and reply operations.
#include <algorithm>
#include <cstring>

#include "ftp/command_channel.h"
#include "ftp/engine.h"
#include "ftp/ftp_ops.h"
#include "resources/errors.h"

using namespace ftp;

namespace {

int CopyText(std::string_view text, char* buffer, int size) {
    auto length = std::min(text.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return static_cast<int>(length);
}

}  // namespace

int ftp::ftpops::CurrentDirectory(FtpSession& session, char* buffer, int size) {
    int code = RefreshCurrentDirectory(session);
    if (code >= 200 && code <= 299 && buffer)
        CopyText(session.currentDirectory.view(), buffer, size);
    return code;
}

extern "C" {

int FtpCommand(FtpClient client, const char* command, const char* argument) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    if (!session->ops->commandChannel) return Fail(fileErrorOperationNotSupported);
    if (!command) return Fail(fileErrorInvalidParameter);
    Exchange reply = RunCommand(*session, command, argument ? argument : "");
    return reply.ok() ? reply.code : -1;
}

int FtpGetResultCode(FtpClient client) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    if (session->replyPending) return ReadReply(*session);
    return session->lastReplyCode;
}

int FtpGetResultString(FtpClient client, char* buffer, int size) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    if (!buffer || size < 1) return Fail(fileErrorInvalidParameter);
    if (session->replyPending && ReadReply(*session) < 0) return -1;
    return CopyText(session->replyText.view(), buffer, size);
}

int FtpGetSystemName(FtpClient client, char* buffer) {
    constexpr int kSystemNameCapacity = 128;
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    if (!session->ops->commandChannel) return Fail(fileErrorOperationNotSupported);
    if (!buffer) return Fail(fileErrorInvalidParameter);
    Exchange reply = RunCommand(*session, "SYST");
    if (!reply.ok()) return -1;
    CopyText(session->replyText.view(), buffer, kSystemNameCapacity);
    return reply.code;
}

int FtpGetSystemType(FtpClient client) {
    SessionRef session = LookupSession(client);
    return session ? QuerySystemType(*session) : -1;
}

DWORD FtpGetServerFeatures(FtpClient client) {
    SessionRef session = LookupSession(client);
    return session ? QueryServerFeatures(*session) : 0;
}

int FtpGetCurrentDirectory(FtpClient client, char* buffer, int size) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    if (!session->loggedIn()) return Fail(fileErrorAuthenticationRequired);
    if (buffer && size < 2) return Fail(fileErrorInvalidParameter);
    return session->ops->currentDirectory(*session, buffer, size);
}

int FtpChangeDirectory(FtpClient client, const char* path) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    return ChangeDirectory(*session, path ? path : "");
}

}  // extern "C"
