#include "platform/file.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>

namespace platform {
namespace {

struct ErrnoMapping {
    int errnoValue;
    int systemError;
};

constexpr ErrnoMapping kErrnoMappings[] = {
    {ENOENT, kFileErrorNotFound},          {ENOTDIR, kFileErrorPathNotFound},
    {EACCES, kFileErrorAccessDenied},      {EPERM, kFileErrorAccessDenied},
    {EISDIR, kFileErrorAccessDenied},      {EROFS, kFileErrorAccessDenied},
    {ETXTBSY, kFileErrorSharingViolation}, {ENOSPC, kFileErrorDiskFull},
    {EDQUOT, kFileErrorDiskFull},          {EFBIG, kFileErrorDiskFull},
    {ENAMETOOLONG, kFileErrorInvalidName},
};

int OpenFlags(FileAccess access, FileDisposition disposition) {
    int flags = O_CLOEXEC | (access == FileAccess::Read ? O_RDONLY : O_RDWR);
    switch (disposition) {
        case FileDisposition::OpenExisting:
            break;
        case FileDisposition::OpenAlways:
            flags |= O_CREAT;
            break;
        case FileDisposition::CreateAlways:
            flags |= O_CREAT | O_TRUNC;
            break;
        case FileDisposition::CreateNew:
            flags |= O_CREAT | O_EXCL;
            break;
    }
    return flags;
}

}  // namespace

int FileErrorFromErrno(int error) {
    if (error == 0) return 0;
    for (const ErrnoMapping& mapping : kErrnoMappings) {
        if (mapping.errnoValue == error) return mapping.systemError;
    }
    return kFileErrorGeneral;
}

LocalFile::LocalFile(LocalFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), error_(other.error_) {}

LocalFile& LocalFile::operator=(LocalFile&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        error_ = other.error_;
    }
    return *this;
}

int LocalFile::Open(const std::string& path, FileAccess access, FileDisposition disposition) {
    Close();
    if (path.empty()) return error_ = kFileErrorNotFound;
    int fd = ::open(path.c_str(), OpenFlags(access, disposition), 0644);
    if (fd < 0) return error_ = errno == EEXIST ? kFileErrorExists : FileErrorFromErrno(errno);
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        return error_ = kFileErrorAccessDenied;
    }
    fd_ = fd;
    return error_ = 0;
}

void LocalFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::int64_t LocalFile::Read(void* buffer, std::size_t size) {
    for (;;) {
        ssize_t got = ::read(fd_, buffer, size);
        if (got >= 0) return got;
        if (errno != EINTR) {
            error_ = FileErrorFromErrno(errno);
            return -1;
        }
    }
}

bool LocalFile::Write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t written = ::write(fd_, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            error_ = written < 0 ? FileErrorFromErrno(errno) : kFileErrorDiskFull;
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool LocalFile::Seek(std::uint64_t offset) {
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0) return true;
    error_ = FileErrorFromErrno(errno);
    return false;
}

bool LocalFile::SeekToEnd() {
    if (::lseek(fd_, 0, SEEK_END) >= 0) return true;
    error_ = FileErrorFromErrno(errno);
    return false;
}

std::int64_t LocalFile::Size() const {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) return -1;
    return static_cast<std::int64_t>(info.st_size);
}

bool LocalFile::Truncate(std::uint64_t size) {
    if (::ftruncate(fd_, static_cast<off_t>(size)) == 0) return true;
    error_ = FileErrorFromErrno(errno);
    return false;
}

std::optional<std::int64_t> FileModifiedTime(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return info.st_mtim.tv_sec;
}

bool SetFileModifiedTime(const std::string& path, std::int64_t seconds) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), 0}};
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

std::int64_t FileSizeOf(const std::string& path, int* error) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) {
        if (error) *error = path.empty() ? kFileErrorNotFound : FileErrorFromErrno(errno);
        return -1;
    }
    if (S_ISDIR(info.st_mode)) {
        if (error) *error = kFileErrorAccessDenied;
        return -1;
    }
    if (error) *error = 0;
    return static_cast<std::int64_t>(info.st_size);
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool FileIsPrivate(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

bool RemoveLocalFile(const std::string& path) {
    return !path.empty() && (::unlink(path.c_str()) == 0 || errno == ENOENT);
}

namespace {

// The regular file with contents a path names, links followed, and its
// permissions; nullopt when there is none, or when it may not be written (it
// is then opened in place and refused as before, not replaced behind its
// permissions' back).
struct ReplaceableFile {
    std::string path;
    mode_t mode;
};

std::optional<ReplaceableFile> FindReplaceableFile(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0 ||
        ::access(path.c_str(), W_OK) != 0) {
        return std::nullopt;
    }
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return std::nullopt;
    ReplaceableFile file{resolved, static_cast<mode_t>(info.st_mode & 07777)};
    std::free(resolved);
    return file;
}

// Opens a new file beside the target with the target's permissions; its name,
// or "" when the folder takes no new file.
std::string OpenBeside(const ReplaceableFile& target, LocalFile& file) {
    const std::size_t slash = target.path.find_last_of('/');
    const std::string folder = target.path.substr(0, slash + 1);
    const std::string name = target.path.substr(slash + 1);
    const std::string stem = folder + "." + name + "." + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = stem + std::to_string(attempt) + ".part";
        const int error = file.Open(candidate, FileAccess::ReadWrite, FileDisposition::CreateNew);
        if (error == kFileErrorExists) continue;
        if (error != 0) return {};
        ::chmod(candidate.c_str(), target.mode);
        return candidate;
    }
    return {};
}

}  // namespace

int ReplacingFile::Open(const std::string& path) {
    Discard();
    target_ = path;
    if (std::optional<ReplaceableFile> existing = FindReplaceableFile(path)) {
        temporary_ = OpenBeside(*existing, file_);
        if (replacing()) {
            target_ = std::move(existing->path);
            return 0;
        }
    }
    return file_.Open(path, FileAccess::ReadWrite, FileDisposition::CreateAlways);
}

int ReplacingFile::Commit() {
    file_.Close();
    if (!replacing()) return 0;
    const int error = RenameLocalFile(temporary_, target_, true);
    if (error != 0) ::unlink(temporary_.c_str());
    temporary_.clear();
    return error;
}

void ReplacingFile::Discard() {
    file_.Close();
    if (!replacing()) return;
    ::unlink(temporary_.c_str());
    temporary_.clear();
}

int CreateNewFile(const std::string& path) {
    if (path.empty()) return kFileErrorNotFound;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return errno == EEXIST ? kFileErrorExists : FileErrorFromErrno(errno);
    ::close(fd);
    return 0;
}

int RenameLocalFile(const std::string& from, const std::string& to, bool replace) {
    if (from.empty() || to.empty()) return kFileErrorNotFound;
    if (replace) return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : FileErrorFromErrno(errno);
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno == EEXIST) return kFileErrorExists;
    if (errno != EINVAL && errno != ENOSYS) return FileErrorFromErrno(errno);
    // File systems without the flag: a hard link cannot replace either.
    if (::link(from.c_str(), to.c_str()) != 0) {
        return errno == EEXIST ? kFileErrorExists : FileErrorFromErrno(errno);
    }
    ::unlink(from.c_str());
    return 0;
}

std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && home[0] != '\0') return home;
    const struct passwd* entry = ::getpwuid(::getuid());
    return entry && entry->pw_dir ? entry->pw_dir : "";
}

int CreatePrivateDirectory(const std::string& path) {
    if (path.empty()) return kFileErrorPathNotFound;
    if (::mkdir(path.c_str(), 0700) == 0) return 0;
    const int error = errno;
    struct stat info {};
    if (error == EEXIST && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return 0;
    return FileErrorFromErrno(error);
}

int AppendToPrivateFile(const std::string& path, std::string_view text) {
    if (path.empty()) return kFileErrorNotFound;
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return FileErrorFromErrno(errno);
    int error = 0;
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            error = written < 0 ? FileErrorFromErrno(errno) : kFileErrorDiskFull;
            break;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    if (::close(fd) != 0 && error == 0) error = FileErrorFromErrno(errno);
    return error;
}

}  // namespace platform
