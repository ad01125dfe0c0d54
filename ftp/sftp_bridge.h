// The FTP engine's operations on a secure-shell session: each one is handed to
// the SFTP client under its lock, and the client's error becomes the thread's
// last error. The SFTP client's reply code and text become the session's reply.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ftp/fileops.h"
#include "ftp/listing.h"
#include "ftp/session.h"

namespace ftp {

// Opens an SFTP session for FtpConnect: the handle, or INVALID_CLIENT with the
// error set.
FtpClient ConnectSftp(std::string_view host, int port, std::string_view user,
                      std::string_view password, int timeoutSeconds, std::uint32_t options,
                      const TlsCredentials* credentials);
// Ends the SFTP session of a released FTP session (the lock tried for one second).
void ReleaseSftp(FtpSession& session);
int CancelSftp(FtpSession& session);
// Fills the zeroed record: protocol, cipher, hash, key exchange, and the host
// key's fingerprint in the place of the certificate's extra text. 1 or 0.
int SftpSecurityInfoFor(FtpSession& session, SecurityInfo* info);
// Fills the record from the SFTP client's shell information. 1 or 0.
int SftpShellInfoFor(FtpSession& session, FtpShellInfo* info);

// Transfers: 0 or -1 (the stream's reads and writes: counts).
int SftpGetFileFor(FtpSession& session, const std::string& local, const std::string& remote,
                   bool verify, std::uint64_t offset, bool append = false);
int SftpPutFileFor(FtpSession& session, const std::string& local, const std::string& remote,
                   bool verify, std::uint64_t offset, bool append = false);
int SftpGetDataFor(FtpSession& session, const std::string& remote, void* bufferOrHandle,
                   DWORD* length);
int SftpPutDataFor(FtpSession& session, const std::string& remote, const char* data, DWORD length);
int SftpBeginTransferFor(FtpSession& session, std::string_view remote, int mode,
                         std::uint64_t offset);
int SftpReadFor(FtpSession& session, char* buffer, int size);
int SftpWriteFor(FtpSession& session, const char* data, int size);
int SftpEndTransferFor(FtpSession& session);

// Directories.
int SftpChangeDirectoryFor(FtpSession& session, std::string_view path);
int SftpCurrentDirectoryFor(FtpSession& session, char* buffer, int size);
int SftpOpenListingFor(const SessionRef& session, std::string_view path);
// The next stored entry as a listing line; false with the error set at the end.
bool SftpNextListingLine(FtpSession& session, std::string& line);
int SftpCloseListingFor(FtpSession& session);
int SftpFileListFor(FtpSession& session, const char* path, bool nameOnly, char* buffer, int size);

// Files: 0 or -1, except where a reply code is the FTP operation's result.
int SftpDeleteFileFor(FtpSession& session, const char* name);
int SftpRenameFileFor(FtpSession& session, const char* oldName, const char* newName);
int SftpMakeDirectoryFor(FtpSession& session, const char* path);
int SftpRemoveDirectoryFor(FtpSession& session, const char* path);
int SftpFileSizeFor(FtpSession& session, std::string_view name, std::uint64_t& size);
int SftpGetFileTimeFor(FtpSession& session, std::string_view name, SYSTEMTIME* time, bool local);
int SftpSetFileTimeFor(FtpSession& session, std::string_view name, const SYSTEMTIME* time);
int SftpGetPermissionsFor(FtpSession& session, std::string_view name, DWORD* permissions);
int SftpSetPermissionsFor(FtpSession& session, std::string_view name, DWORD permissions);
int SftpFileInfoFor(FtpSession& session, std::string_view name, FtpDirectoryEntry* entry);

}  // namespace ftp
