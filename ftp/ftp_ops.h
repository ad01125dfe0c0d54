// The FTP side of the protocol operations (ftp/protocol_ops.h): each one is
// defined next to the engine code it drives, and ftp/ftp_ops.cpp lists them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ftp/protocol_ops.h"

namespace ftp::ftpops {

FtpClient Connect(ConnectRequest& request);
int Cancel(FtpSession& session);
int SecurityInfoOf(FtpSession& session, SecurityInfo* info);

int ChangeDirectory(FtpSession& session, std::string_view path);
int CurrentDirectory(FtpSession& session, char* buffer, int size);
int OpenListing(const SessionRef& session, std::string_view command, std::string_view path,
                bool facts);
LineOutcome ReadListingLine(FtpSession& session, DirectoryListing& listing);
int CloseListing(const SessionRef& session);
int FileList(const SessionRef& session, const char* path, bool nameOnly, char* buffer, int size);

int FileSize(FtpSession& session, std::string_view name, std::uint64_t& size);
int FileEntry(FtpSession& session, std::string_view name, FtpDirectoryEntry* entry);
int GetPermissions(FtpSession& session, std::string_view name, DWORD* permissions);
int SetPermissions(FtpSession& session, const char* name, DWORD mode);
int GetFileTime(FtpSession& session, std::string_view name, SYSTEMTIME* time, bool local);
int SetFileTime(FtpSession& session, std::string_view name, const SYSTEMTIME* time);
int DeleteFile(FtpSession& session, const char* name);
int RenameFile(FtpSession& session, const char* oldName, const char* newName);
int MakeDirectory(FtpSession& session, const char* path);
int RemoveDirectory(FtpSession& session, const char* path);

int GetFile(FtpSession& session, const std::string& local, const std::string& remote, DWORD flags,
            std::uint64_t offset);
int PutFile(FtpSession& session, const std::string& local, const std::string& remote, DWORD flags,
            std::uint64_t offset);
int GetData(FtpSession& session, const std::string& remote, void* bufferOrHandle, DWORD* length);
int PutData(FtpSession& session, const std::string& remote, const char* data, DWORD length);
int BeginTransfer(FtpSession& session, std::string_view name, int mode,
                  std::uint64_t restartOffset);
int Read(FtpSession& session, char* buffer, int size, bool fillAll);
int Write(FtpSession& session, const char* data, int size);
int EndTransfer(FtpSession& session);

}  // namespace ftp::ftpops
