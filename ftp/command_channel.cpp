#include "ftp/command_channel.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

#include "ftp/engine.h"
#include "ftp/ftp_ops.h"
#include "ftp/notify.h"
#include "ftp/reply_reader.h"
#include "ftp/tables.h"
#include "net/socket_wait.h"
#include "net/transcript.h"
#include "platform/system.h"
#include "platform/text.h"
#include "resources/errors.h"

namespace ftp {
namespace {

constexpr std::size_t kUserAtHostCapacity = 1024;
// Most replies arrive whole in one look at the socket.
constexpr std::size_t kReplyChunk = 4096;
constexpr int kWouldBlock = 10035;

class InternalCommandScope {
  public:
    explicit InternalCommandScope(FtpSession& session)
        : session_(session), wasSet_(session.HasOption(FTP_OPTION_INTERNAL)) {
        session_.options |= FTP_OPTION_INTERNAL;
    }
    ~InternalCommandScope() {
        if (!wasSet_) session_.options &= ~static_cast<std::uint32_t>(FTP_OPTION_INTERNAL);
    }
    InternalCommandScope(const InternalCommandScope&) = delete;
    InternalCommandScope& operator=(const InternalCommandScope&) = delete;

  private:
    FtpSession& session_;
    bool wasSet_;
};

// Waits until the socket is ready within the session's time-out: 0, or the
// error (already the thread's last error, with its notification sent).
int WaitForSocket(FtpSession& session, SOCKET s, bool forWrite) {
    const bool bounded = session.replyDeadline.has_value();
    const int error =
        NetWait(s, forWrite ? kNetWritable : kNetReadable,
                {bounded ? *session.replyDeadline : NetDeadline::InSeconds(session.timeout)});
    if (error == 0) return 0;
    if (!bounded && error == fileErrorOperationTimeout) {
        RaiseEvent(session, FTP_EVENT_TIMEOUT, error);
    }
    if (!bounded && error == fileErrorOperationCanceled) {
        RaiseEvent(session, FTP_EVENT_CANCEL, error);
    }
    Fail(error);
    return error;
}

int FailRead(int error) {
    Fail(error);
    return error;
}

void Feed(FtpSession& session, ReplyReader& reader, char c) {
    reader.Feed(c);
    if (reader.code() >= 0) session.lastReplyCode = reader.code();
}

// The secure channel decrypts from what it has buffered, so a byte at a time
// costs no system call.
int ReadSecureReply(FtpSession& session, ReplyReader& reader) {
    while (reader.step() == ReplyReader::Step::NeedMore) {
        char c = 0;
        int got = TlsDecrypt(session.commandTls.get(), &c, 1);
        if (got != 1) return FailRead(got == 0 ? fileErrorConnectionClosed : TlsGetLastError());
        Feed(session, reader, c);
    }
    return 0;
}

// Looks at what has arrived without taking it, feeds it to the reader and
// then takes exactly the bytes of this reply: whatever follows (the next
// reply, or the server's TLS handshake after AUTH TLS) stays in the socket for
// its own reader. Waits only when nothing has arrived.
int ReadPlainReply(FtpSession& session, ReplyReader& reader) {
    std::array<char, kReplyChunk> chunk{};
    const SOCKET s = session.controlSocket.get();
    while (reader.step() == ReplyReader::Step::NeedMore) {
        int got = NetRecv(s, chunk.data(), static_cast<int>(chunk.size()), MSG_PEEK | MSG_DONTWAIT);
        if (got < 0 && NetGetLastError() == kWouldBlock) {
            if (int error = WaitForSocket(session, s, false)) return error;
            if (session.released) return FailRead(fileErrorNotConnected);
            continue;
        }
        if (got <= 0) {
            int error = got == 0 ? fileErrorConnectionClosed : NetGetLastError();
            return FailRead(error == 0 ? fileErrorConnectionReset : error);
        }
        int used = 0;
        while (used < got && reader.step() == ReplyReader::Step::NeedMore)
            Feed(session, reader, chunk[static_cast<std::size_t>(used++)]);
        if (NetRecv(s, chunk.data(), used, 0) != used) {
            int error = NetGetLastError();
            return FailRead(error == 0 ? fileErrorConnectionReset : error);
        }
    }
    return 0;
}

int ReadReplyBytes(FtpSession& session, ReplyReader& reader) {
    if (session.released || !session.controlSocket.valid()) return FailRead(fileErrorNotConnected);
    if (session.commandChannelSecure && session.commandTls) return ReadSecureReply(session, reader);
    return ReadPlainReply(session, reader);
}

// The reply as it came: the code before the first line and, for a reply of
// several lines, before the last one too (the reader keeps the text only).
void TranscriptReply(int code, std::string_view text) {
    const std::size_t firstEnd = text.find('\n');
    const std::size_t lastStart = text.rfind('\n');
    std::string lines = std::to_string(code);
    if (firstEnd == std::string_view::npos) {
        lines += ' ';
        lines += text;
    } else {
        lines += '-';
        lines += text.substr(0, lastStart + 1);
        lines += std::to_string(code) + ' ';
        lines += text.substr(lastStart + 1);
    }
    NetTranscriptLines(NET_TRANSCRIPT_RECEIVED, lines.data(), lines.size());
}

int SendLine(FtpSession& session) {
    std::string_view line = session.commandLine.view();
    auto length = static_cast<int>(line.size());
    if (session.released || !session.controlSocket.valid()) return Fail(fileErrorNotConnected);
    if (session.commandChannelSecure && session.commandTls) {
        if (TlsEncrypt(session.commandTls.get(), line.data(), length) != length) {
            return Fail(TlsGetLastError());
        }
        return 0;
    }
    if (WaitForSocket(session, session.controlSocket.get(), true) != 0) return -1;
    int sent = NetSend(session.controlSocket.get(), line.data(), length, 0);
    if (sent == length) return 0;
    int error = sent < 0 ? NetGetLastError() : fileErrorOutOfBuffers;
    return Fail(error == 0 ? fileErrorConnectionReset : error);
}

Exchange ReadReplyExchange(FtpSession& session) {
    session.replyPending = false;
    ReplyReader reader;
    if (int error = ReadReplyBytes(session, reader)) return {0, error};
    if (reader.step() == ReplyReader::Step::Invalid) {
        Fail(fileErrorInvalidServerResponse);
        return {0, fileErrorInvalidServerResponse};
    }
    session.replyText.AssignTruncated(reader.text());
    if (NetTranscriptActive()) TranscriptReply(reader.code(), reader.text());
    int outcome = ReplyOutcome(reader.code());
    RaiseEvent(session, FTP_EVENT_COMMAND, outcome);
    if (outcome != 0) Fail(outcome);
    return {reader.code(), outcome};
}

void RunFirstCommandQueries(FtpSession& session, std::string_view command) {
    session.firstCommandDone = true;
    FtpErrorGuard keepError;
    InternalCommandScope internal(session);
    if (session.systemType == kSystemNotAsked) QuerySystemType(session);
    if (!EqualsIgnoringCase(command, "PWD") && session.currentDirectory.empty()) {
        RefreshCurrentDirectory(session);
    }
}

Exchange Failed(int error) {
    Fail(error);
    return {0, error};
}

}  // namespace

int ReadReply(FtpSession& session) {
    Exchange result = ReadReplyExchange(session);
    return result.ok() ? result.code : -1;
}

Exchange RunCommand(FtpSession& session, std::string_view command, std::string_view argument) {
    if (!session.ops->commandChannel) return Failed(fileErrorOperationNotSupported);
    if (command.empty() || command.size() + argument.size() + 3 >= FTP_MAX_COMMAND) {
        return Failed(fileErrorInvalidParameter);
    }
    // A line break would end the command early and send the rest as a command of
    // its own (a file name with one in it must not become a DELE).
    if (command.find_first_of("\r\n") != std::string_view::npos ||
        argument.find_first_of("\r\n") != std::string_view::npos) {
        return Failed(fileErrorInvalidParameter);
    }
    if (session.replyPending || session.listingOpen) return Failed(fileErrorOperationInProgress);
    if (session.reconnectDue && FtpReconnect(session.handle) < 0) return {0, LastErrorNumber()};
    if (session.loggedIn() && !session.firstCommandDone && session.proxyType != kProxyOther &&
        !session.HasOption(FTP_OPTION_INTERNAL)) {
        RunFirstCommandQueries(session, command);
    }
    std::string line(command);
    if (!argument.empty()) {
        line += ' ';
        line += argument;
    }
    line += "\r\n";
    session.commandLine.Assign(line);
    NetTranscriptLines(NET_TRANSCRIPT_SENT, line.data(), line.size());
    std::fill(line.begin(), line.end(), '\0');
    if (SendLine(session) != 0) return {0, LastErrorNumber()};
    session.replyPending = true;
    session.lastCommandTick = GetTickCount();
    return ReadReplyExchange(session);
}

Exchange RunInternalCommand(FtpSession& session, std::string_view command,
                            std::string_view argument) {
    InternalCommandScope internal(session);
    return RunCommand(session, command, argument);
}

int LoginSession(FtpSession& session, std::string_view user, std::string_view password,
                 std::string_view account) {
    if (!session.ops->commandChannel) return 0;
    if (session.loggedIn()) return Fail(fileErrorAlreadyAuthenticated);
    if (user.empty()) user = "anonymous";
    if (password.empty()) password = "user@";
    if (!session.userName.Assign(user)) return Fail(fileErrorInvalidUserName);
    if (!session.password.Assign(password)) return Fail(fileErrorInvalidPassword);
    if (!session.account.Assign(account)) return Fail(fileErrorInvalidAccount);

    std::string userArgument(user);
    if (ProxySendsUserAtHost(session.proxyType)) {
        userArgument += '@';
        userArgument += session.hostName.view();
        if (userArgument.size() >= kUserAtHostCapacity) return Fail(fileErrorInvalidUserName);
    }
    Exchange reply = RunCommand(session, "USER", userArgument);
    if (reply.ok() && reply.code != 331) SetState(session, SessionState::LoggedIn);
    if (reply.ok() && reply.code >= 300 && reply.code <= 399) {
        reply = RunCommand(session, "PASS", session.password.view());
        session.commandLine.Wipe();
        if (reply.ok() && reply.code != 332) SetState(session, SessionState::LoggedIn);
        if (reply.ok() && reply.code >= 300 && reply.code <= 399) {
            reply = RunCommand(session, "ACCT", session.account.view());
            session.commandLine.Wipe();
            if (reply.ok()) SetState(session, SessionState::LoggedIn);
        }
    }
    if (reply.code >= 400 && reply.code <= 599) {
        if (session.loggedIn()) SetState(session, SessionState::Connected);
        return Fail(fileErrorAuthenticationFailed);
    }
    if (!reply.ok()) return -1;
    return reply.code;
}

int QuerySystemType(FtpSession& session) {
    if (!session.loggedIn()) return Fail(fileErrorAuthenticationRequired);
    if (session.systemType != kSystemNotAsked) return session.systemType;
    session.systemType = kSystemUnknown;
    Exchange reply = RunCommand(session, "SYST");
    if (reply.positive()) {
        if (const SystemTypeEntry* entry = FindSystemType(session.replyText.view())) {
            session.systemType = entry->type;
            session.features &= ~entry->clearedFeatures;
        }
    }
    return session.systemType;
}

std::uint32_t QueryServerFeatures(FtpSession& session) {
    if (!session.loggedIn()) {
        Fail(fileErrorAuthenticationRequired);
        return 0;
    }
    if (!session.ops->commandChannel) {
        Fail(fileErrorOperationNotSupported);
        return 0;
    }
    if (!session.featAsked) {
        session.featAsked = true;
        Exchange reply = RunCommand(session, "FEAT");
        if (reply.positive()) session.features |= FeaturesFromFeatReply(session.replyText.view());
    }
    session.features = WithTimeCommandFallback(session.features);
    return session.features;
}

std::string ParsePwdPath(std::string_view replyText) {
    std::string path;
    std::size_t i = (!replyText.empty() && replyText.front() == '"') ? 1 : 0;
    while (i < replyText.size() && path.size() < FTP_MAX_PATH - 1) {
        char c = replyText[i];
        if (c == '"') {
            if (i + 1 >= replyText.size() || replyText[i + 1] != '"') break;
            ++i;
        }
        path += c;
        ++i;
    }
    return path;
}

int RefreshCurrentDirectory(FtpSession& session) {
    Exchange reply = RunCommand(session, "PWD");
    if (!reply.ok()) return -1;
    if (reply.positive())
        session.currentDirectory.AssignTruncated(ParsePwdPath(session.replyText.view()));
    return reply.code;
}

int ChangeDirectory(FtpSession& session, std::string_view path) {
    if (path.empty()) return Fail(fileErrorDirectoryNotFound);
    return session.ops->changeDirectory(session, path);
}

int ftpops::ChangeDirectory(FtpSession& session, std::string_view path) {
    int systemType;
    {
        FtpErrorGuard keepError;
        systemType = QuerySystemType(session);
    }
    bool trimsSeparator = systemType == kSystemUnix || systemType == kSystemWindows;
    if (trimsSeparator && path.size() > 1 && (path.back() == '/' || path.back() == '\\')) {
        path.remove_suffix(1);
    }
    Exchange reply = RunCommand(session, "CWD", path);
    if (!reply.ok()) return -1;
    session.currentDirectory.Wipe();
    {
        FtpErrorGuard keepError;
        InternalCommandScope internal(session);
        RefreshCurrentDirectory(session);
    }
    return reply.code;
}

// The server's goodbye is a courtesy: its reply is waited for a second at
// most, so that a server that stopped answering does not add a second
// time-out to the failure that ends the session.
constexpr int kQuitReplySeconds = 1;

void SendQuit(FtpSession& session) {
    if (!session.controlSocket.valid()) return;
    FtpErrorGuard keepError;
    session.replyPending = false;
    const int timeout = session.timeout;
    session.timeout = std::min(timeout, kQuitReplySeconds);
    RunInternalCommand(session, "QUIT");
    session.timeout = timeout;
}

}  // namespace ftp
