// Local files with 64-bit sizes and offsets, as the engines need them for
// transfers: open by disposition, read, write, seek, size and truncate. Errors
// are reported as system error numbers (2 file not found, 3 path not found,
// 5 access denied, ...), so callers map them the way they would on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

constexpr int kFileErrorNotFound = 2;
constexpr int kFileErrorPathNotFound = 3;
constexpr int kFileErrorAccessDenied = 5;
constexpr int kFileErrorSharingViolation = 32;
constexpr int kFileErrorDiskFull = 112;
constexpr int kFileErrorInvalidName = 123;
constexpr int kFileErrorGeneral = 31;
constexpr int kFileErrorExists = 80;

enum class FileDisposition {
    OpenExisting,  // fails when the file does not exist
    OpenAlways,    // opens, or creates an empty file
    CreateAlways,  // creates, or truncates an existing file
    CreateNew,     // creates, and fails with kFileErrorExists when it exists
};

enum class FileAccess { Read, ReadWrite };

class LocalFile {
  public:
    LocalFile() = default;
    ~LocalFile() { Close(); }
    LocalFile(LocalFile&& other) noexcept;
    LocalFile& operator=(LocalFile&& other) noexcept;
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;

    // 0, or the system error number.
    int Open(const std::string& path, FileAccess access, FileDisposition disposition);
    void Close();
    bool valid() const { return fd_ >= 0; }

    // Bytes read (0 at the end), or -1 with error() set.
    std::int64_t Read(void* buffer, std::size_t size);
    // True when every byte was written.
    bool Write(const void* data, std::size_t size);
    bool Seek(std::uint64_t offset);
    bool SeekToEnd();
    // The size, or -1.
    std::int64_t Size() const;
    bool Truncate(std::uint64_t size);
    int error() const { return error_; }

  private:
    int fd_ = -1;
    int error_ = 0;
};

// The local file of a download. An existing regular file with contents stays
// as it is until the download has completed: the bytes go to a new file beside
// it (".NAME.PID-N.part" in the same folder, with the old file's permissions)
// that Commit() renames over it, and without Commit() that new file is removed
// again. A target that does not exist yet or is empty is written in place, so
// that a partial download stays for a resume; so is a target that is no
// regular file (a device, a pipe) or in a folder that takes no new file. A
// link is followed to its file.
class ReplacingFile {
  public:
    ReplacingFile() = default;
    ~ReplacingFile() { Discard(); }
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Opens for writing from the start. 0, or the system error number.
    int Open(const std::string& path);
    LocalFile& file() { return file_; }
    // The file being written: the new file while replacing, else the target.
    const std::string& writtenPath() const { return replacing() ? temporary_ : target_; }
    bool replacing() const { return !temporary_.empty(); }
    // Closes the file and puts it in the target's place. 0, or the system
    // error number (the new file is removed then).
    int Commit();
    // Closes the file; a new file made for replacing goes.
    void Discard();

  private:
    std::string target_;
    std::string temporary_;
    LocalFile file_;
};

// The size of a file by name, or -1 with *error (when given) set.
std::int64_t FileSizeOf(const std::string& path, int* error = nullptr);
bool FileExists(const std::string& path);
// A local file's modification time in whole seconds since 1970 (UTC), and
// setting it (the access time stays); nullopt or false when that fails.
std::optional<std::int64_t> FileModifiedTime(const std::string& path);
bool SetFileModifiedTime(const std::string& path, std::int64_t seconds);
// True when the file exists and neither its group nor others have any access.
bool FileIsPrivate(const std::string& path);
// Removes a file (not a directory); true when it is gone.
bool RemoveLocalFile(const std::string& path);

// The user's home directory ($HOME, else the password database), or "".
std::string HomeDirectory();
// Creates a directory readable by its owner only (0700); 0 when it exists already
// or was made, else the system error number.
int CreatePrivateDirectory(const std::string& path);
// Appends the text to a file, creating it readable by its owner only (0600). 0 or
// the system error number.
int AppendToPrivateFile(const std::string& path, std::string_view text);

// Creates an empty file that must not exist yet, with the permissions the
// umask leaves. 0, kFileErrorExists, or another system error number.
int CreateNewFile(const std::string& path);
// Renames a file in one step. Without replace an existing target stays as it
// is and the call fails with kFileErrorExists. 0 or the system error number.
int RenameLocalFile(const std::string& from, const std::string& to, bool replace);

// The system error number of an errno value.
int FileErrorFromErrno(int error);

}  // namespace platform
