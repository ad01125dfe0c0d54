// The session's one open stream: a remote file read or written piece by piece.
#include <algorithm>

#include "platform/system.h"
#include "resources/errors.h"
#include "ssh/sftp_transfer.h"

namespace {

// The remote size of an open handle; the handle is closed when there is none.
std::optional<std::uint64_t> RemoteSize(SftpSession& session, const std::string& handle) {
    SftpAttributes attributes;
    const bool stated = session.FStat(handle, attributes);
    if (stated && attributes.Has(kSftpAttrSize)) return attributes.size;
    const DWORD error = stated ? MakeErrorCode(fileErrorOperationNotSupported) : session.lastError;
    session.CloseHandle(handle);
    session.Fail(ErrorNumber(error));
    return std::nullopt;
}

struct StreamStart {
    std::string path;
    std::string handle;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

bool OpenForWriting(SftpSession& session, const std::string& path, std::uint64_t offset,
                    StreamStart& start) {
    auto handle = session.Open(path, offset == 0 ? kSftpOpenCreateTruncate : kSftpOpenWrite);
    if (!handle) return false;
    start.handle = *handle;
    if (offset == 0) return true;
    auto size = RemoteSize(session, start.handle);
    if (!size) return false;
    start.offset = std::min(offset, *size);
    start.size = *size;
    return true;
}

bool OpenStream(SftpSession& session, const std::string& path, int mode, std::uint64_t offset,
                StreamStart& start) {
    start.path = path;
    if (mode == kSftpStreamRead) {
        SftpAttributes attributes;
        if (!session.Stat(path, attributes)) return false;
        auto handle = session.Open(path, kSftpOpenRead);
        if (!handle) return false;
        start.handle = *handle;
        start.offset = offset;
        start.size = attributes.size;
        return true;
    }
    if (mode == kSftpStreamWrite) return OpenForWriting(session, path, offset, start);
    auto handle = session.Open(path, kSftpOpenWrite);
    if (!handle) return OpenForWriting(session, path, 0, start);
    start.handle = *handle;
    auto size = RemoteSize(session, start.handle);
    if (!size) return false;
    start.offset = *size;
    start.size = *size;
    return true;
}

// Takes the next in-order data as the pending block; false when none is ready.
bool TakePending(SftpSession& session) {
    SftpTransfer& transfer = *session.stream;
    bool taken = false;
    DeliverInOrder(transfer, [&](std::span<const std::uint8_t> data) {
        session.pending.Clear();
        session.pending.Append(data);
        taken = true;
        return false;  // one block at a time
    });
    return taken;
}

}  // namespace

int SftpOpenFile(SftpSession* handle, const char* remoteFile, int mode, std::uint64_t offset) {
    SftpSession* session = CheckSession(handle);
    if (!session) return 0;
    if (mode == 3) return session->Fail(fileErrorFeatureNotSupported);
    if (mode < kSftpStreamRead || mode > kSftpStreamAppend) {
        return session->Fail(fileErrorInvalidParameter);
    }
    if (session->stream) return session->Fail(fileErrorConnectionOpen);
    auto path = session->Canonical(remoteFile);
    if (!path) return 0;
    StreamStart start;
    if (!OpenStream(*session, *path, mode, offset, start)) return 0;
    const bool reading = mode == kSftpStreamRead;
    session->stream = MakeTransfer(*session, start.handle, reading, start.offset);
    session->streamMode = mode;
    session->replyHeld = false;
    session->pending.Clear();
    session->streamCount = 0;
    SftpTransferRecord& record = session->streamRecord;
    record = SftpTransferRecord{};
    record.currentDirectory = session->current;
    record.remotePath = start.path;
    record.fileSize = start.size;
    record.startOffset = start.offset;
    record.direction = reading ? kSftpDirectionDownload : kSftpDirectionUpload;
    record.startTicks = GetTickCount();
    session->Raise(kSftpEventTransferStart, &record);
    return SucceedOp(*session);
}

long SftpRead(SftpSession* handle, void* buffer, long length) {
    SftpSession* session = CheckSession(handle);
    if (!session) return -1;
    if (!session->stream) return session->Fail(fileErrorConnectionClosed), -1;
    if (session->streamMode != kSftpStreamRead) return session->Fail(fileErrorDataWriteOnly), -1;
    if (!buffer) return session->Fail(fileErrorInvalidParameter), -1;
    if (length < 1) return session->Fail(fileErrorBufferTooSmall), -1;
    SftpTransfer& transfer = *session->stream;
    for (;;) {
        if (!session->pending.empty()) {
            const std::size_t count = session->pending.Take(
                {static_cast<std::uint8_t*>(buffer), static_cast<std::size_t>(length)});
            session->streamCount += count;
            session->streamRecord.bytesCopied = session->streamCount;
            session->Raise(kSftpEventStreamRead, &session->streamRecord);
            SucceedOp(*session);
            return static_cast<long>(count);
        }
        if (TakePending(*session)) continue;
        TakeCancel(*session, transfer, session->streamRecord);
        if (transfer.Done()) {
            if (transfer.failed()) {
                session->lastStatus = transfer.failureStatus;
                return session->Fail(transfer.failure), -1;
            }
            session->Fail(fileErrorEndOfData);
            return 0;
        }
        if (!QueueReads(*session, transfer) || !ReceiveOne(*session, transfer)) return -1;
    }
}

long SftpWrite(SftpSession* handle, const void* buffer, long length) {
    SftpSession* session = CheckSession(handle);
    if (!session) return -1;
    if (!session->stream) return session->Fail(fileErrorConnectionClosed), -1;
    if (session->streamMode == kSftpStreamRead) return session->Fail(fileErrorDataReadOnly), -1;
    if (!buffer || length < 1) return session->Fail(fileErrorInvalidParameter), -1;
    SftpTransfer& transfer = *session->stream;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::size_t sent = 0;
    while (sent < std::size_t(length)) {
        TakeCancel(*session, transfer, session->streamRecord);
        // Replies are collected only when the window is full, so pieces keep flowing.
        while (!WindowHasRoom(transfer) && !transfer.failed()) {
            if (!ReceiveOne(*session, transfer)) return -1;
        }
        if (transfer.failed()) {
            session->lastStatus = transfer.failureStatus;
            return session->Fail(transfer.failure), -1;
        }
        const std::size_t count =
            std::min<std::size_t>(transfer.blockSize, std::size_t(length) - sent);
        if (!SendWrite(*session, transfer, {bytes + sent, count})) return -1;
        sent += count;
        session->streamCount += count;
    }
    session->streamRecord.bytesCopied = session->streamCount;
    session->Raise(kSftpEventStreamWrite, &session->streamRecord);
    SucceedOp(*session);
    return length;
}

int SftpIsEndOfData(SftpSession* handle) {
    SftpSession* session = CheckSession(handle);
    if (!session) return 1;
    if (!session->stream) return session->Fail(fileErrorConnectionClosed), 1;
    if (session->streamMode != kSftpStreamRead) return session->Fail(fileErrorDataWriteOnly);
    const bool done = session->stream->Done() && session->stream->blocks.empty() &&
                      session->pending.empty();
    if (done) return session->Fail(fileErrorEndOfData), 1;
    return 0;
}

int SftpCloseFile(SftpSession* handle) {
    SftpSession* session = CheckSession(handle);
    if (!session) return 0;
    if (!session->stream) return session->Fail(fileErrorConnectionClosed);
    SftpTransfer& transfer = *session->stream;
    // A write stream collects its replies first so that a refused write is not lost.
    while (!transfer.download && transfer.Waiting() > 0 && !transfer.failed()) {
        if (!ReceiveOne(*session, transfer)) break;
    }
    const bool ok = FinishTransfer(*session, transfer);
    SftpTransferRecord& record = session->streamRecord;
    record.bytesCopied = session->streamCount;
    record.endTicks = GetTickCount();
    const DWORD error = session->lastError;
    session->Raise(kSftpEventTransferEnd, &record);
    session->stream.reset();
    session->streamMode = -1;
    session->pending.Clear();
    session->Fail(ErrorNumber(error));
    return ok ? SucceedOp(*session) : 0;
}
