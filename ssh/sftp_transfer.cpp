// Whole-file transfers between the server and a local file or memory.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/file.h"
#include "platform/system.h"
#include "resources/errors.h"
#include "ssh/sftp_transfer.h"

namespace {

using Sink = std::function<bool(std::span<const std::uint8_t>)>;
// Fills the buffer from the source: the count, 0 at the end, -1 on a read error.
using Source = std::function<long(std::uint8_t* buffer, std::size_t size)>;

void BeginRecord(SftpSession& session, SftpTransferRecord& record, std::uint32_t kind,
                 std::string local, std::string remote, std::uint64_t size, std::uint64_t start) {
    record.kind = kind;
    record.currentDirectory = session.current;
    record.localFile = std::move(local);
    record.remotePath = std::move(remote);
    record.fileSize = size;
    record.startOffset = start;
    record.direction = kind == kSftpKindUpload ? kSftpDirectionUpload : kSftpDirectionDownload;
    record.startTicks = GetTickCount();
    session.Raise(kSftpEventTransferStart, &record);
    session.Raise(kSftpEventProgress, &record);
}

int EndTransfer(SftpSession& session, SftpTransfer& transfer, SftpTransferRecord& record) {
    const bool ok = FinishTransfer(session, transfer);
    record.endTicks = GetTickCount();
    const DWORD error = session.lastError;
    const std::int32_t status = session.lastStatus;
    session.Raise(kSftpEventTransferEnd, &record);
    session.lastStatus = status;
    session.Fail(ErrorNumber(error));
    return ok ? SucceedOp(session) : 0;
}

int RunDownload(SftpSession& session, SftpTransfer& transfer, SftpTransferRecord& record,
                const Sink& sink, const std::function<bool()>& enough) {
    while (!transfer.Done()) {
        if (!QueueReads(session, transfer) || !ReceiveOne(session, transfer)) break;
        const bool written = DeliverInOrder(transfer, [&](std::span<const std::uint8_t> data) {
            if (!sink(data)) return false;
            record.bytesCopied += data.size();
            return true;
        });
        if (!written) {
            session.lastStatus = -1;
            session.Fail(fileErrorFileWriteFailed);
            MarkFailed(session, transfer);
            break;
        }
        if (TakeCancel(session, transfer, record)) break;
        session.Raise(kSftpEventProgress, &record);
        if (enough()) break;
    }
    return EndTransfer(session, transfer, record);
}

int RunUpload(SftpSession& session, SftpTransfer& transfer, SftpTransferRecord& record,
              const Source& source) {
    std::vector<std::uint8_t> piece(transfer.blockSize);
    bool exhausted = false;
    bool stopped = false;
    while (!((exhausted || stopped || transfer.failed()) && transfer.Waiting() == 0)) {
        while (!exhausted && !stopped && !transfer.failed() && WindowHasRoom(transfer)) {
            const long count = source(piece.data(), piece.size());
            if (count < 0) {
                session.lastStatus = -1;
                session.Fail(fileErrorFileReadFailed);
                MarkFailed(session, transfer);
                break;
            }
            if (count == 0) {
                exhausted = true;
                break;
            }
            if (!SendWrite(session, transfer, {piece.data(), static_cast<std::size_t>(count)}))
                break;
            record.bytesCopied += static_cast<std::uint64_t>(count);
            stopped = TakeCancel(session, transfer, record);
            session.Raise(kSftpEventProgress, &record);
        }
        if (stopped) break;  // the outstanding writes are dropped unanswered
        if (transfer.Waiting() > 0 && !ReceiveOne(session, transfer)) break;
    }
    return EndTransfer(session, transfer, record);
}

struct RemoteFile {
    std::string path;
    std::string handle;
    SftpAttributes attributes;
};

// A directory or a device is no file to download. Servers that send no type
// bits are trusted.
bool IsRegularFile(const SftpAttributes& attributes) {
    if (!attributes.Has(kSftpAttrPermissions)) return true;
    const std::uint32_t type = attributes.permissions & kSftpFileTypeMask;
    return type == 0 || type == kSftpFileTypeRegular;
}

// Canonical path, STAT, OPEN for reading. OpenSSH opens directories for
// reading too, so the type is checked before the local file is touched.
bool OpenForDownload(SftpSession& session, const char* remote, RemoteFile& file) {
    if (session.stream) return session.Fail(fileErrorConnectionOpen);
    auto path = session.Canonical(remote);
    if (!path || !session.Stat(*path, file.attributes)) return false;
    if (!IsRegularFile(file.attributes)) return session.Fail(fileErrorInvalidFileType);
    auto handle = session.Open(*path, kSftpOpenRead);
    if (!handle) return false;
    file.path = *path;
    file.handle = *handle;
    return true;
}

// FSTAT of an open file that must report its size; the handle is closed when not.
bool RequireRemoteSize(SftpSession& session, RemoteFile& file) {
    const bool stated = session.FStat(file.handle, file.attributes);
    if (stated && file.attributes.Has(kSftpAttrSize)) return true;
    const DWORD error = stated ? MakeErrorCode(fileErrorOperationNotSupported) : session.lastError;
    session.CloseHandle(file.handle);
    return session.Fail(ErrorNumber(error));
}

// Opens the remote file for an upload; with an offset it is kept and the
// start becomes the smaller of the offset and the remote size.
bool OpenForUpload(SftpSession& session, const char* remote, std::uint64_t& start,
                   RemoteFile& file) {
    auto path = session.Canonical(remote);
    if (!path) return false;
    auto handle = session.Open(*path, start == 0 ? kSftpOpenCreateTruncate : kSftpOpenWrite);
    if (!handle) return false;
    file.path = *path;
    file.handle = *handle;
    if (start == 0) return true;
    if (!RequireRemoteSize(session, file)) return false;
    start = std::min(start, file.attributes.size);
    return true;
}

// Opens the remote file for appending; the start is its size, since servers
// that ignore APPEND write where they are told.
bool OpenForAppend(SftpSession& session, const char* remote, std::uint64_t& start,
                   RemoteFile& file) {
    auto path = session.Canonical(remote);
    if (!path) return false;
    auto handle = session.Open(*path, kSftpOpenCreateAppend);
    if (!handle) return false;
    file.path = *path;
    file.handle = *handle;
    if (!RequireRemoteSize(session, file)) return false;
    start = file.attributes.size;
    return true;
}

// Opens the local file of a resumed download and positions it: at the offset when
// the file is that long, else at its end; what lies after is cut off so the file
// ends up exactly as long as the remote one. The position, or -1.
std::int64_t PositionForResume(platform::LocalFile& local, std::uint64_t offset) {
    const std::int64_t size = local.Size();
    if (size < 0) return -1;
    const std::uint64_t position = std::min<std::uint64_t>(offset, std::uint64_t(size));
    if (!local.Seek(position) || !local.Truncate(position)) return -1;
    return static_cast<std::int64_t>(position);
}

}  // namespace

int SftpGetFile(SftpSession* handle, const char* localFile, const char* remoteFile,
                std::uint64_t startOffset, bool append) {
    SftpSession* session = CheckSession(handle);
    if (!session) return 0;
    if (!localFile || localFile[0] == '\0') return session->Fail(fileErrorInvalidFileName);
    RemoteFile remote;
    if (!OpenForDownload(*session, remoteFile, remote)) return 0;
    using platform::FileAccess;
    using platform::FileDisposition;
    const bool existed = platform::FileExists(localFile);
    // A download from the start leaves an existing file alone until it has
    // completed; appends and resumes write into the file itself.
    platform::ReplacingFile target;
    platform::LocalFile& local = target.file();
    std::int64_t start = 0;
    if (append) {
        if (local.Open(localFile, FileAccess::ReadWrite, FileDisposition::OpenAlways) != 0) {
            start = -2;
        } else if (!local.SeekToEnd()) {
            start = -1;
        }
    } else if (startOffset == 0) {
        if (target.Open(localFile) != 0) start = -2;
    } else if (local.Open(localFile, FileAccess::ReadWrite, FileDisposition::OpenExisting) != 0) {
        start = -2;
    } else {
        start = PositionForResume(local, startOffset);
    }
    if (start < 0) {
        session->CloseHandle(remote.handle);
        return session->Fail(start == -2 ? fileErrorFileNotFound : fileErrorOperationNotSupported);
    }
    auto transfer = MakeTransfer(*session, remote.handle, true, std::uint64_t(start));
    SftpTransferRecord record;
    BeginRecord(*session, record, kSftpKindDownload, localFile, remote.path, remote.attributes.size,
                std::uint64_t(start));
    const int result = RunDownload(
        *session, *transfer, record,
        [&](std::span<const std::uint8_t> data) { return local.Write(data.data(), data.size()); },
        [] { return false; });
    if (result != 0) {
        return target.Commit() == 0 ? result : session->Fail(fileErrorFileWriteFailed);
    }
    // A file this download created and never wrote to goes again; a partial
    // one stays for a resume.
    target.Discard();
    if (!existed && record.bytesCopied == 0) platform::RemoveLocalFile(localFile);
    return result;
}

int SftpGetFileToMemory(SftpSession* handle, const char* remoteFile, HGLOBAL* memory,
                        std::uint64_t* length, std::uint64_t largest) {
    SftpSession* session = CheckSession(handle);
    if (!session) return 0;
    if (!memory || !length) return session->Fail(fileErrorInvalidParameter);
    *memory = nullptr;
    *length = 0;
    RemoteFile remote;
    if (!OpenForDownload(*session, remoteFile, remote)) return 0;
    const std::uint64_t size = remote.attributes.size;
    const std::uint64_t limit = (largest != 0 && largest <= size) ? largest : size;
    const std::uint64_t capacity = (limit / 4096 + 1) * 4096;
    HGLOBAL block = capacity <= SIZE_MAX
                        ? GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(capacity))
                        : nullptr;
    auto* bytes = block ? static_cast<std::uint8_t*>(GlobalLock(block)) : nullptr;
    if (!bytes) {
        if (block) GlobalFree(block);
        session->CloseHandle(remote.handle);
        return session->Fail(fileErrorOutOfMemory);
    }
    auto transfer = MakeTransfer(*session, remote.handle, true, 0);
    SftpTransferRecord record;
    BeginRecord(*session, record, kSftpKindDownload, {}, remote.path, size, 0);
    std::uint64_t copied = 0;
    const int result = RunDownload(
        *session, *transfer, record,
        [&](std::span<const std::uint8_t> data) {
            const std::uint64_t room = capacity - copied;
            const std::size_t count =
                static_cast<std::size_t>(std::min<std::uint64_t>(data.size(), room));
            std::memcpy(bytes + copied, data.data(), count);
            copied += count;
            return true;
        },
        [&] { return copied > limit; });
    GlobalUnlock(block);
    *memory = block;
    *length = copied;
    return result;
}

int SftpPutFile(SftpSession* handle, const char* localFile, const char* remoteFile,
                std::uint64_t startOffset, bool append) {
    SftpSession* session = CheckSession(handle);
    if (!session) return 0;
    if (session->stream) return session->Fail(fileErrorConnectionOpen);
    platform::LocalFile local;
    if (!localFile || local.Open(localFile, platform::FileAccess::Read,
                                 platform::FileDisposition::OpenExisting) != 0) {
        return session->Fail(fileErrorFileNotFound);
    }
    const std::int64_t localSize = local.Size();
    std::uint64_t start = append ? 0 : startOffset;
    RemoteFile remote;
    if (append) {
        // The whole local file goes after the remote file's end.
        if (!OpenForAppend(*session, remoteFile, start, remote)) return 0;
    } else {
        if (!OpenForUpload(*session, remoteFile, start, remote)) return 0;
        if (start != 0 && !local.Seek(start)) local.SeekToEnd();
    }
    auto transfer = MakeTransfer(*session, remote.handle, false, start);
    SftpTransferRecord record;
    BeginRecord(*session, record, kSftpKindUpload, localFile, remote.path,
                static_cast<std::uint64_t>(std::max<std::int64_t>(localSize, 0)), start);
    return RunUpload(*session, *transfer, record, [&](std::uint8_t* buffer, std::size_t size) {
        return static_cast<long>(local.Read(buffer, size));
    });
}

int SftpPutMemory(SftpSession* handle, const char* remoteFile, const void* buffer,
                  std::uint64_t length) {
    SftpSession* session = CheckSession(handle);
    if (!session) return 0;
    if (session->stream) return session->Fail(fileErrorConnectionOpen);
    if (!buffer && length > 0) return session->Fail(fileErrorInvalidParameter);
    std::uint64_t start = 0;
    RemoteFile remote;
    if (!OpenForUpload(*session, remoteFile, start, remote)) return 0;
    auto transfer = MakeTransfer(*session, remote.handle, false, 0);
    SftpTransferRecord record;
    BeginRecord(*session, record, kSftpKindUpload, {}, remote.path, length, 0);
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::uint64_t taken = 0;
    return RunUpload(*session, *transfer, record, [&](std::uint8_t* out, std::size_t size) {
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(size, length - taken));
        if (count > 0) std::memcpy(out, bytes + taken, count);
        taken += count;
        return static_cast<long>(count);
    });
}
