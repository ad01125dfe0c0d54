// SFTP version 3 wire format: packet types, the attributes record and a packet
// builder. Messages are read with the SSH wire reader (crypto/sshbuf.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/sshbuf.h"

enum SftpPacketType : std::uint8_t {
    SSH_FXP_INIT = 1,
    SSH_FXP_VERSION = 2,
    SSH_FXP_OPEN = 3,
    SSH_FXP_CLOSE = 4,
    SSH_FXP_READ = 5,
    SSH_FXP_WRITE = 6,
    SSH_FXP_FSTAT = 8,
    SSH_FXP_SETSTAT = 9,
    SSH_FXP_OPENDIR = 11,
    SSH_FXP_READDIR = 12,
    SSH_FXP_REMOVE = 13,
    SSH_FXP_MKDIR = 14,
    SSH_FXP_RMDIR = 15,
    SSH_FXP_REALPATH = 16,
    SSH_FXP_STAT = 17,
    SSH_FXP_RENAME = 18,
    SSH_FXP_STATUS = 101,
    SSH_FXP_HANDLE = 102,
    SSH_FXP_DATA = 103,
    SSH_FXP_NAME = 104,
    SSH_FXP_ATTRS = 105,
    SSH_FXP_EXTENDED = 200,
    SSH_FXP_EXTENDED_REPLY = 201,
};

// Open flags.
constexpr std::uint32_t kSftpOpenRead = 1;
constexpr std::uint32_t kSftpOpenWrite = 2;
constexpr std::uint32_t kSftpOpenCreateTruncate = 2 | 8 | 16;
// WRITE | APPEND | CREAT. OpenSSH ignores APPEND, so appends also write at the
// remote size.
constexpr std::uint32_t kSftpOpenCreateAppend = 2 | 4 | 8;
// The file-type bits of the permissions and the regular-file type.
constexpr std::uint32_t kSftpFileTypeMask = 0170000;
constexpr std::uint32_t kSftpFileTypeRegular = 0100000;

// Attribute flags.
constexpr std::uint32_t kSftpAttrSize = 1;
constexpr std::uint32_t kSftpAttrUidGid = 2;
constexpr std::uint32_t kSftpAttrPermissions = 4;
constexpr std::uint32_t kSftpAttrTimes = 8;
constexpr std::uint32_t kSftpAttrExtended = 0x80000000u;

// Fields whose flag is clear stay zero.
struct SftpAttributes {
    std::uint32_t flags = 0;
    std::uint64_t size = 0;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    std::uint32_t permissions = 0;
    std::uint32_t atime = 0;
    std::uint32_t mtime = 0;

    bool Has(std::uint32_t flag) const { return (flags & flag) != 0; }
};

// Builds one packet: the length prefix is reserved first and filled by Finish().
class SftpWriter {
  public:
    explicit SftpWriter(std::uint8_t type);
    SftpWriter& Byte(std::uint8_t value);
    SftpWriter& Uint32(std::uint32_t value);
    SftpWriter& Uint64(std::uint64_t value);
    SftpWriter& String(std::string_view value);
    SftpWriter& Bytes(std::span<const std::uint8_t> value);  // as a string
    // Without extended pairs, as this client always sends them.
    SftpWriter& Attributes(const SftpAttributes& attributes);
    // The whole packet with its length prefix.
    std::span<const std::uint8_t> Finish();

  private:
    PlainSshWriter writer_;
};

// Reads the attributes record; extended pairs are read and dropped.
[[nodiscard]] bool ReadSftpAttributes(SshReader& reader, SftpAttributes& attributes);
