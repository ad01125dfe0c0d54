// The copy loops between the data connection and a local file or a memory
// block: throttling by priority, progress, cancel and the end of the transfer.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ftp/data_connection.h"
#include "ftp/engine.h"
#include "ftp/file_size.h"
#include "ftp/fileops.h"
#include "ftp/ftp_ops.h"
#include "ftp/notify.h"
#include "ftp/transfer.h"
#include "platform/file.h"
#include "platform/memory.h"
#include "platform/system.h"
#include "resources/errors.h"

namespace ftp {
namespace {

constexpr DWORD kProgressIntervalMs = 250;
// The block of the file loops at priorities that do not throttle: large enough
// that a line-rate transfer makes few receives, sends and file writes.
constexpr std::size_t kStreamBlockSize = 1048576;
// A block read from a file and sent is smaller at those priorities: it is sent
// while it is still in the processor's cache after the read. Over loopback, 1 GiB
// uploads to vsftpd took 0.90 s against 1.23 s with 1 MiB blocks, and HTTP keeps
// its 256 KiB pieces, which nginx takes faster (docs/benchmarks.md).
constexpr std::size_t kUploadBlockSize = 65536;
constexpr int kNormalPriority = 2;
constexpr DWORD kSocketEventBits = FTP_EVENT_CONNECT | FTP_EVENT_DISCONNECT | FTP_EVENT_OPENDATA |
                                   FTP_EVENT_CLOSEDATA | FTP_EVENT_READ | FTP_EVENT_WRITE;
constexpr DWORD kFlagAppend = FTP_TRANSFER_APPEND;
constexpr DWORD kFlagVerify = FTP_TRANSFER_VERIFY;
constexpr DWORD kFlagUnique = FTP_TRANSFER_UNIQUE;

struct ThrottleRule {
    DWORD sleepMs;
    bool raisesProgress;
};
// By priority: background, low, normal, high, critical.
constexpr ThrottleRule kThrottle[] = {{100, true}, {20, true}, {0, true}, {0, true}, {0, false}};

// Socket events of the data connection stay off while a loop runs.
class AsyncEventsPause {
  public:
    explicit AsyncEventsPause(FtpSession& session)
        : session_(session),
          window_(session.asyncWindow),
          message_(session.asyncMessage),
          bits_(session.eventMask & kSocketEventBits) {
        session_.asyncWindow = nullptr;
        session_.asyncMessage = 0;
        session_.eventMask &= ~kSocketEventBits;
    }
    ~AsyncEventsPause() {
        session_.asyncWindow = window_;
        session_.asyncMessage = message_;
        session_.eventMask |= bits_;
    }
    AsyncEventsPause(const AsyncEventsPause&) = delete;
    AsyncEventsPause& operator=(const AsyncEventsPause&) = delete;

  private:
    FtpSession& session_;
    HWND window_;
    UINT message_;
    DWORD bits_;
};

class LoopStatus {
  public:
    LoopStatus(FtpSession& session, EngineStatus status) : session_(session) {
        SetStatus(session_, status);
    }
    ~LoopStatus() { SetStatus(session_, EngineStatus::Idle); }
    LoopStatus(const LoopStatus&) = delete;
    LoopStatus& operator=(const LoopStatus&) = delete;

  private:
    FtpSession& session_;
};

void PumpMessages(bool all) {
    MSG message{};
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&message);
        if (!all) break;
    }
}

// What happens after every block: throttling, progress at most every 250 ms
// (the first after the first block), and the cancel check.
class BlockPacer {
  public:
    BlockPacer(FtpSession& session, bool pumpAll) : session_(session), pumpAll_(pumpAll) {}

    int AfterBlock() {
        const ThrottleRule& rule = Rule();
        if (rule.sleepMs > 0) {
            Sleep(rule.sleepMs);
            PumpMessages(pumpAll_);
        }
        DWORD now = GetTickCount();
        if (rule.raisesProgress && (first_ || now - last_ > kProgressIntervalMs)) {
            first_ = false;
            last_ = now;
            RaiseEvent(session_, FTP_EVENT_PROGRESS, 0);
        }
        if (session_.cancelRequested) return fileErrorOperationCanceled;
        if (session_.released) return fileErrorNotConnected;
        return 0;
    }

  private:
    const ThrottleRule& Rule() const {
        auto index = static_cast<std::size_t>(std::clamp(session_.priority, 0, 4));
        return kThrottle[index];
    }

    FtpSession& session_;
    bool pumpAll_;
    bool first_ = true;
    DWORD last_ = 0;
};

void StartTransferRecord(FtpSession& session, std::string_view local, std::string_view remote,
                         std::uint64_t restartOffset) {
    session.transfer = TransferFields{};
    session.transfer.localFile.AssignTruncated(local);
    session.transfer.remoteFile.AssignTruncated(remote);
    session.transfer.restartOffset = restartOffset;
    session.restart = restartOffset != 0;
}

std::uint64_t RemoteSizeOrZero(FtpSession& session, std::string_view remote) {
    FtpErrorGuard keepError;
    std::uint64_t size = 0;
    if (QueryRemoteFileSize(session, remote, size) < 0) return 0;
    return size;
}

int LocalOpenError(int systemError) {
    bool missing = systemError == platform::kFileErrorNotFound ||
                   systemError == platform::kFileErrorPathNotFound;
    return missing ? fileErrorFileNotFound : fileErrorAccessDenied;
}

// Appends and resumes write into the local file itself; a download from the
// start leaves an existing file alone until it has completed.
int OpenDownloadTarget(platform::ReplacingFile& target, const std::string& path, DWORD flags,
                       std::uint64_t offset) {
    using platform::FileAccess;
    using platform::FileDisposition;
    platform::LocalFile& file = target.file();
    if (flags & kFlagAppend) {
        int error = file.Open(path, FileAccess::ReadWrite, FileDisposition::OpenAlways);
        if (error != 0) return LocalOpenError(error);
        return file.SeekToEnd() ? 0 : fileErrorAccessDenied;
    }
    if (offset != 0) {
        int error = file.Open(path, FileAccess::ReadWrite, FileDisposition::OpenExisting);
        if (error != 0) return LocalOpenError(error);
        return file.Seek(offset) ? 0 : fileErrorAccessDenied;
    }
    return target.Open(path) == 0 ? 0 : fileErrorFileNotCreated;
}

// A binary download that ended short of the size the server announced lost
// data, whatever the server's final reply says. 0 or the error number.
int CheckCompleteness(const TransferFields& transfer, int type) {
    if (type != FTP_FILE_TYPE_IMAGE || transfer.announcedSize == 0) return 0;
    const std::uint64_t received = transfer.restartOffset + transfer.bytesTransferred;
    return received < transfer.announcedSize ? fileErrorTransferIncomplete : 0;
}

// Compares the local and the remote file by the best method the server offers.
int VerifyTransfer(FtpSession& session, const std::string& local, const std::string& remote) {
    return FtpVerifyFile(session.handle, local.c_str(), remote.c_str(), FTP_VERIFY_DEFAULT) ? 0
                                                                                            : -1;
}

}  // namespace

bool WantsVerify(const FtpSession& session, DWORD flags) {
    return (flags & kFlagVerify) != 0 || session.HasOption(FTP_OPTION_VERIFY);
}

namespace {

// Ends a loop: the final progress after a clean loop, then the completion
// reply, or the resynchronisation after a failure. 0 or -1.
int FinishLoop(FtpSession& session, int loopError) {
    if (loopError != 0) {
        AbandonTransfer(session);
        return Fail(loopError);
    }
    if (session.transfer.fileSize == 0) {
        session.transfer.fileSize =
            session.transfer.restartOffset + session.transfer.bytesTransferred;
    }
    RaiseEvent(session, FTP_EVENT_PROGRESS, 0);
    return EndTransfer(session) < 0 ? -1 : 0;
}

int ReadLoopError() {
    int error = LastErrorNumber();
    return error == fileErrorEndOfData ? 0 : error;
}

// The block size of the file loops: the data buffer's at the throttled
// priorities (their pause comes once per block), at least `large` otherwise.
std::size_t LoopBlockSize(const FtpSession& session, std::size_t large) {
    const std::size_t size = session.dataBuffer.capacity();
    return session.priority >= kNormalPriority ? std::max(size, large) : size;
}

// Copies the data connection into the file; the loop's error or 0. A large
// block collects receives and goes to the file when less than a data buffer of
// room is left; progress and cancel are checked after every receive.
int DownloadToFile(FtpSession& session, platform::LocalFile& file, std::vector<char>& block) {
    BlockPacer pacer(session, true);
    const bool collects = block.size() > session.dataBuffer.capacity();
    std::size_t held = 0;
    auto flush = [&]() {
        bool written = held == 0 || file.Write(block.data(), held);
        held = 0;
        return written;
    };
    for (;;) {
        int room = static_cast<int>(block.size() - held);
        int got = collects ? ReadAvailable(session, block.data() + held, room)
                           : ReadData(session, block.data(), room);
        if (got < 1) {
            // What arrived before a failure is kept in the file as well.
            int error = got < 0 ? ReadLoopError() : 0;
            return flush() ? error : fileErrorFileWriteFailed;
        }
        held += static_cast<std::size_t>(got);
        if (block.size() - held < session.dataBuffer.capacity() && !flush())
            return fileErrorFileWriteFailed;
        if (int error = pacer.AfterBlock()) {
            return flush() ? error : fileErrorFileWriteFailed;
        }
    }
}

// Reads and sends one block at a time. sendfile was measured here: a third
// of the CPU, but a fifth more time over loopback, where the receiving server then
// copies from file pages that are cold in the cache (docs/benchmarks.md).
int UploadFromFile(FtpSession& session, platform::LocalFile& file, std::vector<char>& block) {
    BlockPacer pacer(session, true);
    for (;;) {
        std::int64_t got = file.Read(block.data(), block.size());
        if (got < 0) return fileErrorFileReadFailed;
        if (got == 0) return 0;
        if (WriteData(session, block.data(), static_cast<int>(got)) < 0) return LastErrorNumber();
        if (int error = pacer.AfterBlock()) return error;
    }
}

bool MakeBlock(std::vector<char>& block, std::size_t size) {
    try {
        block.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// A resume continues the local file where it ends at the latest: an offset
// beyond its end would leave a hole of zeros, so it is refused before anything
// is sent. 0 or the error number.
int CheckResumeOffset(const std::string& local, DWORD flags, std::uint64_t offset) {
    if (offset == 0 || (flags & kFlagAppend)) return 0;
    const std::int64_t size = platform::FileSizeOf(local);
    if (size < 0) return fileErrorFileNotFound;
    return offset > static_cast<std::uint64_t>(size) ? fileErrorRestartBeyondEnd : 0;
}

int GetFile(FtpSession& session, const std::string& local, const std::string& remote, DWORD flags,
            std::uint64_t offset) {
    if (session.dataSocket.valid()) return Fail(fileErrorConnectionOpen);
    if (local.empty()) return Fail(fileErrorInvalidFileName);
    if (int error = CheckResumeOffset(local, flags, offset)) return Fail(error);
    return session.ops->getFile(session, local, remote, flags, offset);
}

}  // namespace

int ftpops::GetFile(FtpSession& session, const std::string& local, const std::string& remote,
                    DWORD flags, std::uint64_t offset) {
    AsyncEventsPause pause(session);
    LoopStatus status(session, EngineStatus::Downloading);
    StartTransferRecord(session, local, remote, offset);
    session.transfer.fileSize = RemoteSizeOrZero(session, remote);
    int code = ftp::BeginTransfer(session, remote, kModeRetrieve, offset);
    if (code < 0 || code > 199) return code;

    std::vector<char> block;
    platform::ReplacingFile target;
    const bool existed = platform::FileExists(local);
    int error =
        MakeBlock(block, LoopBlockSize(session, kStreamBlockSize)) ? 0 : fileErrorOutOfMemory;
    if (error == 0) error = OpenDownloadTarget(target, local, flags, offset);
    if (error != 0) {
        AbandonTransfer(session);
        return Fail(error);
    }
    RaiseEvent(session, FTP_EVENT_GETFILE, 0);
    int loopError = DownloadToFile(session, target.file(), block);
    int type = session.fileType;
    // Taken before the end, which may reconnect and clear the record.
    const bool received = session.transfer.bytesTransferred != 0;
    const int incomplete = loopError == 0 ? CheckCompleteness(session.transfer, type) : 0;
    int finished = FinishLoop(session, loopError);
    if (finished == 0 && incomplete != 0) finished = Fail(incomplete);
    if (finished != 0) {
        // A file this download created and never wrote to goes again; a
        // partial one stays for a resume.
        target.Discard();
        if (!existed && !received) {
            FtpErrorGuard keepError;
            platform::RemoveLocalFile(local);
        }
        return -1;
    }
    target.file().Close();
    if (WantsVerify(session, flags) && type == FTP_FILE_TYPE_IMAGE &&
        VerifyTransfer(session, target.writtenPath(), remote) != 0) {
        return -1;
    }
    if (int placed = target.Commit(); placed != 0) return Fail(LocalOpenError(placed));
    FtpSetLastError(0);
    return 0;
}

namespace {

int PutFile(FtpSession& session, const std::string& local, const std::string& remote, DWORD flags,
            std::uint64_t offset) {
    if (session.dataSocket.valid()) return Fail(fileErrorConnectionOpen);
    return session.ops->putFile(session, local, remote, flags, offset);
}

}  // namespace

int ftpops::PutFile(FtpSession& session, const std::string& local, const std::string& remote,
                    DWORD flags, std::uint64_t offset) {
    int mode = (flags & kFlagAppend)   ? kModeAppend
               : (flags & kFlagUnique) ? kModeStoreUnique
                                       : kModeStore;
    AsyncEventsPause pause(session);
    LoopStatus status(session, EngineStatus::Uploading);
    StartTransferRecord(session, local, remote, offset);
    platform::LocalFile file;
    int openError =
        file.Open(local, platform::FileAccess::Read, platform::FileDisposition::OpenExisting);
    if (openError != 0) return Fail(LocalOpenError(openError));
    std::int64_t localSize = file.Size();
    session.transfer.fileSize = localSize > 0 ? static_cast<std::uint64_t>(localSize) : 0;
    if (offset != 0 && !file.Seek(offset)) return Fail(fileErrorFileReadFailed);
    int code = ftp::BeginTransfer(session, remote, mode, offset);
    if (code < 0 || code > 199) return code;

    std::vector<char> block;
    if (!MakeBlock(block, LoopBlockSize(session, kUploadBlockSize))) {
        AbandonTransfer(session);
        return Fail(fileErrorOutOfMemory);
    }
    RaiseEvent(session, FTP_EVENT_PUTFILE, 0);
    int loopError = UploadFromFile(session, file, block);
    file.Close();
    int type = session.fileType;
    if (FinishLoop(session, loopError) != 0) return -1;
    if (mode != kModeStoreUnique && WantsVerify(session, flags) && type == FTP_FILE_TYPE_IMAGE &&
        VerifyTransfer(session, local, remote) != 0) {
        return -1;
    }
    FtpSetLastError(0);
    return 0;
}

namespace {

// A movable global block that grows by whole steps and is locked only while
// it is written to.
class GrowingBlock {
  public:
    ~GrowingBlock() {
        if (handle_) GlobalFree(handle_);
    }
    bool Allocate(std::size_t size) {
        handle_ = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
        capacity_ = handle_ ? size : 0;
        return handle_ != nullptr;
    }
    bool Grow(std::size_t step) {
        HGLOBAL grown = GlobalReAlloc(handle_, capacity_ + step, GMEM_MOVEABLE | GMEM_ZEROINIT);
        if (!grown) return false;
        handle_ = grown;
        capacity_ += step;
        return true;
    }
    // Hands the block over, shrunk to `size` bytes.
    HGLOBAL Release(std::size_t size) {
        HGLOBAL shrunk = GlobalReAlloc(handle_, size, GMEM_MOVEABLE);
        if (shrunk) handle_ = shrunk;
        return std::exchange(handle_, nullptr);
    }
    HGLOBAL handle() const { return handle_; }
    std::size_t capacity() const { return capacity_; }

  private:
    HGLOBAL handle_ = nullptr;
    std::size_t capacity_ = 0;
};

int ReadIntoBlock(FtpSession& session, GrowingBlock& block, std::size_t& received) {
    BlockPacer pacer(session, false);
    std::size_t step = session.dataBuffer.capacity();
    for (;;) {
        if (received == block.capacity() && !block.Grow(step)) return fileErrorOutOfMemory;
        auto* base = static_cast<char*>(GlobalLock(block.handle()));
        if (!base) return fileErrorOutOfMemory;
        std::size_t room = std::min(block.capacity() - received, step);
        int got = ReadData(session, base + received, static_cast<int>(room));
        GlobalUnlock(block.handle());
        if (got < 1) {
            int error = got < 0 ? ReadLoopError() : 0;
            return error == fileErrorConnectionClosed ? 0 : error;
        }
        received += static_cast<std::size_t>(got);
        if (int error = pacer.AfterBlock()) return error;
    }
}

int GetData(FtpSession& session, const std::string& remote, void* bufferOrHandle, DWORD* length) {
    if (!bufferOrHandle || !length) return Fail(fileErrorInvalidParameter);
    if (session.dataSocket.valid()) return Fail(fileErrorConnectionOpen);
    return session.ops->getData(session, remote, bufferOrHandle, length);
}

}  // namespace

int ftpops::GetData(FtpSession& session, const std::string& remote, void* bufferOrHandle,
                    DWORD* length) {
    AsyncEventsPause pause(session);
    LoopStatus status(session, EngineStatus::Downloading);
    StartTransferRecord(session, {}, remote, 0);
    session.transfer.fileSize = RemoteSizeOrZero(session, remote);
    std::size_t initial = session.transfer.fileSize > 0
                              ? static_cast<std::size_t>(session.transfer.fileSize)
                              : session.dataBuffer.capacity();
    GrowingBlock block;
    if (!block.Allocate(initial)) return Fail(fileErrorOutOfMemory);
    int code = ftp::BeginTransfer(session, remote, kModeRetrieve, 0);
    if (code < 0 || code > 199) return code;
    std::size_t received = 0;
    int loopError = ReadIntoBlock(session, block, received);
    if (FinishLoop(session, loopError) != 0) return -1;
    if (*length == 0) {
        *static_cast<HGLOBAL*>(bufferOrHandle) = block.Release(received);
        *length = static_cast<DWORD>(received);
    } else {
        std::size_t count = std::min<std::size_t>(*length, received);
        if (count > 0) {
            std::memcpy(bufferOrHandle, GlobalLock(block.handle()), count);
            GlobalUnlock(block.handle());
        }
        *length = static_cast<DWORD>(count);
    }
    FtpSetLastError(0);
    return 0;
}

namespace {

int PutData(FtpSession& session, const std::string& remote, const char* data, DWORD length) {
    if (!data || length == 0) return Fail(fileErrorInvalidParameter);
    if (session.dataSocket.valid()) return Fail(fileErrorConnectionOpen);
    return session.ops->putData(session, remote, data, length);
}

}  // namespace

int ftpops::PutData(FtpSession& session, const std::string& remote, const char* data,
                    DWORD length) {
    AsyncEventsPause pause(session);
    LoopStatus status(session, EngineStatus::Uploading);
    StartTransferRecord(session, {}, remote, 0);
    session.transfer.fileSize = length;
    int code = ftp::BeginTransfer(session, remote, kModeStore, 0);
    if (code < 0 || code > 199) return code;
    BlockPacer pacer(session, false);
    int loopError = 0;
    for (DWORD sent = 0; sent < length && loopError == 0;) {
        DWORD piece = std::min<DWORD>(length - sent,
                                      static_cast<DWORD>(LoopBlockSize(session, kStreamBlockSize)));
        if (WriteData(session, data + sent, static_cast<int>(piece)) < 0) {
            loopError = LastErrorNumber();
            break;
        }
        sent += piece;
        loopError = pacer.AfterBlock();
    }
    if (FinishLoop(session, loopError) != 0) return -1;
    FtpSetLastError(0);
    return 0;
}

namespace {

std::string Text(const char* text) {
    return text ? std::string(text) : std::string();
}

}  // namespace
}  // namespace ftp

using namespace ftp;

extern "C" {

int FtpGetFile(FtpClient client, const char* localFile, const char* remoteFile, DWORD flags,
               uint64_t restartOffset) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    return GetFile(*session, Text(localFile), Text(remoteFile), flags, restartOffset);
}

int FtpPutFile(FtpClient client, const char* localFile, const char* remoteFile, DWORD flags,
               uint64_t restartOffset) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    return PutFile(*session, Text(localFile), Text(remoteFile), flags, restartOffset);
}

int FtpGetData(FtpClient client, const char* remoteFile, void* bufferOrHandle, DWORD* length) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    return GetData(*session, Text(remoteFile), bufferOrHandle, length);
}

int FtpPutData(FtpClient client, const char* remoteFile, const void* buffer, DWORD length) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    return PutData(*session, Text(remoteFile), static_cast<const char*>(buffer), length);
}

}  // extern "C"
