#include "ftp/transfer.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "ftp/command_channel.h"
#include "ftp/data_connection.h"
#include "ftp/engine.h"
#include "ftp/file_size.h"
#include "ftp/file_types.h"
#include "ftp/ftp_ops.h"
#include "ftp/ftpurl.h"
#include "net/socket_wait.h"
#include "resources/errors.h"

namespace ftp {
namespace {

constexpr std::array<std::string_view, 4> kTransferCommands{"RETR", "STOR", "APPE", "STOU"};
constexpr std::array<std::string_view, 4> kTypeLetters{"", "A", "E", "I"};
// After a failed transfer the server has this long to answer the NOOP that
// brings the command channel back in step, and this many late replies (the
// transfer's completion, an abort) may come before the NOOP's own.
constexpr std::uint64_t kResyncMilliseconds = 1000;
constexpr int kResyncReplies = 4;

bool SameHost(const FtpSession& session, const FtpUrlRecord& url) {
    if (!url.host || session.hostName.view() != url.host) return false;
    return url.port == 0 || url.port == session.serverPort;
}

// A URL of this session's own server names its path; other names stay as they are.
// False when the URL has no path.
bool NameFromUrl(const FtpSession& session, std::string_view name, std::string& result) {
    result.assign(name);
    if (session.proxyType != kProxyNone || name.find("://") == std::string_view::npos) return true;
    FtpUrlRecord* url = nullptr;
    if (!FtpParseUrl(result.c_str(), &url) || !url) return true;
    bool own = SameHost(session, *url);
    if (own) {
        std::string path = url->directory ? url->directory : "";
        std::string file = url->fileName ? url->fileName : "";
        if (!path.empty() && !file.empty()) path += '/';
        result = path + file;
    }
    FtpFreeUrl(url);
    return !own || !result.empty();
}

int SelectFileType(FtpSession& session, int type) {
    if (type == session.fileType) return 0;
    Exchange reply = RunCommand(session, "TYPE", kTypeLetters[static_cast<std::size_t>(type)]);
    if (!reply.ok()) return -1;
    if (!reply.positive()) return Fail(fileErrorInvalidServerResponse);
    session.fileType = type;
    return 0;
}

int DirectionOfMode(int mode) {
    if (mode == kModeRetrieve) return kDirectionReceive;
    return mode == kModeAppend ? kDirectionAppend : kDirectionStore;
}

// What a server answers NOOP with: done, or not understood (still an answer).
bool AnswersNoopCode(int code) {
    return code == 200 || code == 500 || code == 502;
}

void ClearRestart(FtpSession& session) {
    session.restart = false;
    session.transfer.restartOffset = 0;
}

// Sends NOOP and reads replies, skipping a late completion reply, until the
// NOOP's own answer, all within kResyncMilliseconds. True when in step.
bool AnswersNoop(FtpSession& session) {
    if (!session.controlSocket.valid()) return false;
    session.replyDeadline = NetDeadline::In(kResyncMilliseconds);
    TlsChannel* tls = session.commandChannelSecure ? session.commandTls.get() : nullptr;
    const int timeout = TlsSetTimeout(tls, 1);
    Exchange reply = RunInternalCommand(session, "NOOP");
    for (int late = 1; late < kResyncReplies && reply.code != 0 && !AnswersNoopCode(reply.code);
         ++late) {
        session.replyPending = true;
        const int code = ReadReply(session);
        reply = code < 0 ? Exchange{0, LastErrorNumber()} : Exchange{code, 0};
    }
    TlsSetTimeout(tls, timeout);
    session.replyDeadline.reset();
    return AnswersNoopCode(reply.code);
}

// The data connection could not be used although the server agreed to the
// transfer: close it and bring the command channel back in step.
int FailOpenedTransfer(FtpSession& session, EngineStatus previous) {
    {
        FtpErrorGuard keepError;
        CloseDataConnection(session);
        ClearRestart(session);
        Resync(session);
    }
    SetStatus(session, previous);
    return -1;
}

int DropBuffered(FtpSession& session, int size) {
    if (session.dataBuffer.empty() && FillDataBuffer(session) < 0) {
        return LastErrorNumber() == fileErrorEndOfData ? 0 : -1;
    }
    std::size_t dropped = std::min(static_cast<std::size_t>(size), session.dataBuffer.size());
    session.dataBuffer.Consume(dropped);
    return static_cast<int>(dropped);
}

void RepostRead(FtpSession& session) {
    if (session.asyncWindow && session.dataSocket.valid() && !session.dataBuffer.empty()) {
        PostMessageA(session.asyncWindow, session.asyncMessage,
                     static_cast<WPARAM>(session.dataSocket.get()), FD_READ);
    }
}

int CheckReadable(FtpSession& session) {
    if (session.dataDirection != kDirectionReceive) return Fail(fileErrorDataWriteOnly);
    if (!session.dataSocket.valid()) return Fail(fileErrorConnectionClosed);
    if (session.ioInProgress) return Fail(fileErrorOperationInProgress);
    return 0;
}

int CheckWritable(FtpSession& session) {
    if (!session.dataSocket.valid() || session.dataState == DataChannelState::Listening) {
        return Fail(fileErrorConnectionClosed);
    }
    if (session.dataDirection == kDirectionReceive) return Fail(fileErrorDataReadOnly);
    if (session.ioInProgress) return Fail(fileErrorOperationInProgress);
    return 0;
}

// After an unreadable completion reply the session reconnects; the transfer
// still reports the reply as unreadable.
int CompletionReplyFailed(FtpSession& session) {
    int error = LastErrorNumber();
    if (error == fileErrorInvalidServerResponse) {
        if (FtpReconnect(session.handle) < 0) return Fail(fileErrorServerResyncFailed);
        return Fail(fileErrorInvalidServerResponse);
    }
    if (error == fileErrorConnectionClosed) return Fail(fileErrorCommandAborted);
    return -1;
}

}  // namespace

int TransferFileType(FtpSession& session, std::string_view remoteName, std::string_view localName,
                     bool sniff) {
    if (int type = FileTypeOfExtension(ExtensionOf(remoteName))) return type;
    // The local name is only where the bytes come from: a binary file named
    // "x.txt" still goes up as image.
    if (sniff) {
        if (int type = SniffLocalFileType(localName)) return type;
    }
    return session.defaultFileType;
}

int BeginTransfer(FtpSession& session, std::string_view remoteName, int mode,
                  std::uint64_t restartOffset) {
    std::string name;
    if (!NameFromUrl(session, remoteName, name)) return Fail(fileErrorInvalidFileName);
    return session.ops->beginTransfer(session, name, mode, restartOffset);
}

int ftpops::BeginTransfer(FtpSession& session, std::string_view name, int mode,
                          std::uint64_t restartOffset) {
    if (name.empty()) return Fail(fileErrorInvalidFileName);
    if (mode == kModeAppend && restartOffset != 0) return Fail(fileErrorOperationNotSupported);
    if (mode < kModeRetrieve || mode > kModeStoreUnique) return Fail(fileErrorInvalidParameter);
    if (session.dataSocket.valid()) return Fail(fileErrorConnectionOpen);
    if (session.ioInProgress) return Fail(fileErrorOperationInProgress);

    session.transfer.bytesTransferred = 0;
    if (session.autoFileType) {
        int type = TransferFileType(session, name, session.transfer.localFile.view(),
                                    mode != kModeRetrieve);
        if (SelectFileType(session, type) != 0) return -1;
    }
    EngineStatus previous = session.status;
    SetStatus(session, EngineStatus::OpeningData);
    if (OpenDataConnection(session, DirectionOfMode(mode), restartOffset) != 0) {
        SetStatus(session, previous);
        return -1;
    }
    Exchange reply = RunCommand(session, kTransferCommands[static_cast<std::size_t>(mode)], name);
    if (reply.ok() && (reply.code == 125 || reply.code == 150)) {
        // After REST some servers give the size left, others the whole size.
        if (mode == kModeRetrieve && restartOffset == 0 && session.transfer.announcedSize == 0) {
            std::uint64_t size = 0;
            if (ParseOpeningReplySize(session.replyText.view(), size)) {
                session.transfer.announcedSize = size;
            }
        }
        if (!session.passive && AcceptDataConnection(session) != 0) {
            return FailOpenedTransfer(session, previous);
        }
        if (session.dataChannelSecure && StartDataTls(session) != 0) {
            return FailOpenedTransfer(session, previous);
        }
        SetStatus(session, previous);
        return reply.code;
    }
    {
        FtpErrorGuard keepError;
        CloseDataConnection(session);
        ClearRestart(session);
    }
    SetStatus(session, previous);
    return reply.ok() ? reply.code : -1;
}

int EndTransfer(FtpSession& session) {
    return session.ops->endTransfer(session);
}

int ftpops::EndTransfer(FtpSession& session) {
    if (!session.dataSocket.valid()) return Fail(fileErrorConnectionClosed);
    if (session.cancelRequested) {
        AbandonTransfer(session);
        return -1;
    }
    SetStatus(session, EngineStatus::ClosingData);
    if (int error = FinishSending(session)) {
        AbandonTransfer(session);
        return Fail(error);
    }
    CloseDataConnection(session);
    ClearRestart(session);
    session.replyPending = true;
    int code = ReadReply(session);
    if (code < 0) code = CompletionReplyFailed(session);
    SetStatus(session, EngineStatus::Idle);
    if (session.listingOpen) {
        session.listingOpen = false;
        std::string_view letter = kTypeLetters[static_cast<std::size_t>(session.fileType)];
        Exchange reply = RunCommand(session, "TYPE", letter);
        if (reply.code != 200) return Fail(fileErrorInvalidServerResponse);
    }
    return code;
}

void AbandonTransfer(FtpSession& session) {
    bool cancelled = session.cancelRequested;
    {
        FtpErrorGuard keepError;
        SetStatus(session, EngineStatus::ClosingData);
        if (cancelled && session.dataDirection != kDirectionReceive && session.dataSocket.valid()) {
            FlushDataBuffer(session, true, true);
        }
        CloseDataConnection(session);
        ClearRestart(session);
        session.listingOpen = false;
        session.cancelRequested = false;
        Resync(session);
        SetStatus(session, EngineStatus::Idle);
    }
    if (cancelled) FailCancelled(session);
}

int Resync(FtpSession& session) {
    if (session.ioInProgress || session.dataSocket.valid()) {
        return Fail(fileErrorOperationInProgress);
    }
    session.ioInProgress = false;
    session.restart = false;
    session.replyPending = false;
    if (AnswersNoop(session)) return 0;
    // A server that stopped answering must not hold this call for another
    // time-out or a reconnect: the channel closes now, and the next command
    // reconnects (and waits for the server then).
    session.commandTls.reset();
    session.commandChannelSecure = false;
    session.controlSocket.Close();
    session.reconnectDue = true;
    return 0;
}

namespace {

// An image transfer with nothing buffered receives straight into the caller's
// space when that holds at least a data buffer: the same bytes without the copy
// and with as few receives as the socket allows.
bool ReceivesDirectly(const FtpSession& session, int type, std::size_t room) {
    return type == FTP_FILE_TYPE_IMAGE && session.dataBuffer.empty() &&
           room >= session.dataBuffer.capacity();
}

}  // namespace

int ftpops::Read(FtpSession& session, char* buffer, int size, bool fillAll) {
    if (size < 1) return Fail(fileErrorInvalidParameter);
    if (session.cancelRequested) return FailCancelled(session);
    if (session.dataState == DataChannelState::Ended && session.dataBuffer.empty() &&
        !session.lineEnds.pendingCr) {
        Fail(fileErrorEndOfData);
        return 0;
    }
    if (CheckReadable(session) != 0) return -1;
    if (int error = std::exchange(session.deferredReadError, 0)) return Fail(error);
    if (!buffer) return DropBuffered(session, size);
    int type = session.listingOpen ? FTP_FILE_TYPE_ASCII : session.fileType;
    std::span<char> out(buffer, static_cast<std::size_t>(size));
    std::size_t copied = 0;
    while (copied < out.size()) {
        bool direct = ReceivesDirectly(session, type, out.size() - copied);
        int got = direct ? ReceiveDirect(session, out.subspan(copied))
                  : session.dataBuffer.empty() ? FillDataBuffer(session)
                                            : 1;
        if (direct && got > 0) {
            copied += static_cast<std::size_t>(got);
            if (!fillAll) break;
            continue;
        }
        if (got < 0) {
            int error = LastErrorNumber();
            if (error == fileErrorEndOfData) {
                copied += FinishDecode(session.lineEnds, out.subspan(copied));
            } else if (copied > 0) {
                session.deferredReadError = error;
            }
            if (copied > 0) break;
            return error == fileErrorEndOfData ? 0 : -1;
        }
        DecodeResult result = DecodeData(type, session.lineEnds, session.dataBuffer.Front(),
                                         out.subspan(copied), type != FTP_FILE_TYPE_IMAGE);
        session.dataBuffer.Consume(result.consumed);
        copied += result.produced;
        if (result.lineEnded || (result.consumed == 0 && result.produced == 0)) break;
        if (!fillAll && copied > 0) break;
    }
    RepostRead(session);
    return static_cast<int>(copied);
}

int ReadData(FtpSession& session, char* buffer, int size) {
    return session.ops->read(session, buffer, size, true);
}

int ReadAvailable(FtpSession& session, char* buffer, int size) {
    return session.ops->read(session, buffer, size, false);
}

int WriteData(FtpSession& session, const char* data, int size) {
    return session.ops->write(session, data, size);
}

int ftpops::Write(FtpSession& session, const char* data, int size) {
    if (!data || size < 1) return Fail(fileErrorInvalidParameter);
    if (session.cancelRequested) return FailCancelled(session);
    if (CheckWritable(session) != 0) return -1;
    bool blocking = session.asyncWindow == nullptr;
    std::span<const char> in(data, static_cast<std::size_t>(size));
    // An image block at least as large as the data buffer goes out as it is.
    if (blocking && session.fileType == FTP_FILE_TYPE_IMAGE && session.dataBuffer.empty() &&
        in.size() >= session.dataBuffer.capacity()) {
        return SendDirect(session, in) == 0 ? size : -1;
    }
    std::size_t taken = 0;
    while (taken < in.size()) {
        EncodeResult result = EncodeData(session.fileType, session.lineEnds, in.subspan(taken),
                                         session.dataBuffer.Room());
        taken += result.consumed;
        session.dataBuffer.Commit(result.produced);
        if (taken == in.size()) break;
        std::size_t before = session.dataBuffer.size();
        if (FlushDataBuffer(session, blocking) != 0) return -1;
        if (!blocking && session.dataBuffer.size() == before) return static_cast<int>(taken);
    }
    if (FlushDataBuffer(session, blocking) != 0) return -1;
    return size;
}

}  // namespace ftp

using namespace ftp;

extern "C" {

int FtpBeginTransfer(FtpClient client, const char* remoteFile, int mode, uint64_t restartOffset) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    if (!session->dataSocket.valid()) {
        // A raw transfer has no local file of its own.
        session->transfer.localFile.Wipe();
        session->transfer.remoteFile.AssignTruncated(remoteFile ? remoteFile : "");
        session->transfer.fileSize = 0;
    }
    return BeginTransfer(*session, remoteFile ? remoteFile : "", mode, restartOffset);
}

int FtpEndTransfer(FtpClient client) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    return EndTransfer(*session);
}

int FtpRead(FtpClient client, void* buffer, int size) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    return ReadData(*session, static_cast<char*>(buffer), size);
}

int FtpWrite(FtpClient client, const void* buffer, int size) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    return WriteData(*session, static_cast<const char*>(buffer), size);
}

int FtpSetBufferSize(FtpClient client, int size) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    return SetDataBufferSize(*session, size < 0 ? 0 : static_cast<std::size_t>(size));
}

int FtpGuessFileType(FtpClient client, const char* name, BOOL sniff) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    if (!name || name[0] == '\0') return Fail(fileErrorInvalidFileName);
    return GuessFileTypeOfName(name, sniff != FALSE, session->defaultFileType);
}

}  // extern "C"
