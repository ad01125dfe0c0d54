// What differs between FTP and SFTP behind the engine's entry points: one table
// of operations per protocol, chosen once when a session connects. The entry
// points check their arguments and call through the session's table; each
// protocol keeps its own conventions inside its operations.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ftp/directory_listing.h"
#include "ftp/fileops.h"
#include "ftp/listing.h"
#include "ftp/session.h"

namespace ftp {

// What FtpConnect was asked, once the URL and the port rules are applied.
struct ConnectRequest {
    std::string host;
    int port = 0;
    std::string user;
    std::string password;
    int timeout = 0;
    std::uint32_t options = 0;
    const TlsCredentials* credentials = nullptr;

    bool Has(std::uint32_t bit) const { return (options & bit) != 0; }
};

struct ProtocolOps {
    // FTP's command and data channels. Without them FTP commands, data
    // connections, channel modes, active ports, socket notifications, facts
    // listings and the keep-alive thread's NOOPs are not supported, the login
    // is part of the connect, and the file type is only recorded.
    bool commandChannel;
    // Listing lines come in the SFTP client's layout.
    bool sftpListings;
    // The one directory layout of the protocol, or FTP_DIRECTORY_AUTO when the
    // caller may choose among all of them.
    int fixedDirectoryFormat;
    // The FTP_VERIFY_* methods the protocol can offer.
    DWORD verifyMethods;

    // Session: the handle or INVALID_CLIENT; the cancel flag; the release of
    // what the protocol holds beyond the session's sockets.
    FtpClient (*connect)(ConnectRequest& request);
    int (*cancel)(FtpSession& session);
    void (*release)(FtpSession& session);
    // The socket of the connection to the server (the control connection, or
    // the SSH connection), for its local address; INVALID_SOCKET when none.
    SOCKET (*connectionSocket)(const FtpSession& session);
    // FtpGetSecurityInfo (record zeroed and sized) and FtpGetShellInfo: 1 or 0.
    int (*securityInfo)(FtpSession& session, SecurityInfo* info);
    int (*shellInfo)(FtpSession& session, FtpShellInfo* info);

    // Directories and listings.
    int (*changeDirectory)(FtpSession& session, std::string_view path);
    int (*currentDirectory)(FtpSession& session, char* buffer, int size);
    int (*openListing)(const SessionRef& session, std::string_view command, std::string_view path,
                       bool facts);
    LineOutcome (*readListingLine)(FtpSession& session, DirectoryListing& listing);
    int (*closeListing)(const SessionRef& session);
    int (*fileList)(const SessionRef& session, const char* path, bool nameOnly, char* buffer,
                    int size);

    // Files: the entry points' results (reply codes where FTP gives one).
    int (*fileSize)(FtpSession& session, std::string_view name, std::uint64_t& size);
    int (*fileInfo)(FtpSession& session, std::string_view name, FtpDirectoryEntry* entry);
    int (*getPermissions)(FtpSession& session, std::string_view name, DWORD* permissions);
    int (*setPermissions)(FtpSession& session, const char* name, DWORD mode);
    int (*getFileTime)(FtpSession& session, std::string_view name, SYSTEMTIME* time, bool local);
    int (*setFileTime)(FtpSession& session, std::string_view name, const SYSTEMTIME* time);
    int (*deleteFile)(FtpSession& session, const char* name);
    int (*renameFile)(FtpSession& session, const char* oldName, const char* newName);
    int (*makeDirectory)(FtpSession& session, const char* path);
    int (*removeDirectory)(FtpSession& session, const char* path);

    // Transfers: whole files and memory blocks, and the stream of one open file.
    int (*getFile)(FtpSession& session, const std::string& local, const std::string& remote,
                   DWORD flags, std::uint64_t offset);
    int (*putFile)(FtpSession& session, const std::string& local, const std::string& remote,
                   DWORD flags, std::uint64_t offset);
    int (*getData)(FtpSession& session, const std::string& remote, void* bufferOrHandle,
                   DWORD* length);
    int (*putData)(FtpSession& session, const std::string& remote, const char* data, DWORD length);
    int (*beginTransfer)(FtpSession& session, std::string_view name, int mode,
                         std::uint64_t restartOffset);
    int (*read)(FtpSession& session, char* buffer, int size, bool fillAll);
    int (*write)(FtpSession& session, const char* data, int size);
    int (*endTransfer)(FtpSession& session);
};

// Whether a transfer with these FTP_TRANSFER_* flags verifies the file after.
bool WantsVerify(const FtpSession& session, DWORD flags);

// The SFTP table (ftp/sftp_ops.cpp); the FTP one is kFtpOperations.
extern const ProtocolOps kSftpOperations;

// The table for a connect with these options.
const ProtocolOps& OperationsFor(std::uint32_t options);

}  // namespace ftp
