// Single-command operations on remote files and directories: status, size
// and time queries, time and permission changes, delete, rename, directory
// create and remove, and the verification of a transfer by MD5, CRC-32 or size.
//
// Each operation picks the best command the session's feature mask allows and
// falls back to an older one when the server refuses. A reply of 500 to 504
// clears the feature bit of the command refused, so a session learns which
// commands its server implements (FtpGetFeatures shows the mask).
//
// Conventions as in ftp/ftp.h: operations that return a reply code give -1 on
// failure, flag results give 0; both set the thread's last error.
#pragma once

#include <stdint.h>

#include "ftp/ftp.h"
#include "ftp/listing.h"
#include "platform/api.h"
#ifdef __cplusplus
#include "platform/automation.h"
#endif

FT_EXTERN_C_BEGIN

// The bits of FtpVerifyFile; 0 means all three.
#define FTP_VERIFY_DEFAULT 0
#define FTP_VERIFY_SIZE 1
#define FTP_VERIFY_CRC32 2
#define FTP_VERIFY_MD5 4
#define FTP_VERIFY_ALL 7

// A directory entry as the control receives it: the fields of
// FtpDirectoryEntry with a 32-bit size.
typedef struct FtpFileStatus {
    char name[FTP_ENTRY_NAME_SIZE];
    char owner[FTP_ENTRY_OWNER_SIZE];
    char group[FTP_ENTRY_GROUP_SIZE];
    int32_t directory;
    uint32_t size;
    uint32_t linkCount;
    uint32_t version;
    uint32_t permissions;
    uint32_t reserved;  // always 0
    SYSTEMTIME date;
} FtpFileStatus;

// ---- Status ---------------------------------------------------------------------

// The entry of one file from MLST, else from a status listing (STAT with the
// name). The entry carries the name asked for. 1/0.
FT_API int FtpGetFileInfo(FtpClient client, const char* fileName, FtpDirectoryEntry* entry);
// FtpGetFileInfo, copied into the control's record. 1/0.
FT_API int FtpGetFileStatus(FtpClient client, const char* fileName, FtpFileStatus* status);

// The modification time from MDTM (UTC), else from the file's status. With
// localTime set the time is converted to local time. The reply code (213 for
// a status listing) or -1.
FT_API int FtpGetFileTime(FtpClient client, const char* fileName, SYSTEMTIME* time, BOOL localTime);
// Sets the modification time as given (no time-zone change) with MFMT, MDTM
// or SITE UTIME, the first one the server accepts. The reply code or -1.
FT_API int FtpSetFileTime(FtpClient client, const char* fileName, const SYSTEMTIME* time);

// The Unix mode bits of a file (FTP_PERM_*), from its status. The last reply
// code or -1.
FT_API int FtpGetFilePermissions(FtpClient client, const char* fileName, DWORD* permissions);
// SITE CHMOD with the mode in octal. The reply code or -1.
FT_API int FtpSetFilePermissions(FtpClient client, const char* fileName, DWORD mode);

// ---- Files and directories ----------------------------------------------------------

FT_API int FtpDeleteFile(FtpClient client, const char* fileName);
// RNFR then RNTO; a reply other than 350 to RNFR ends it with that reply.
FT_API int FtpRenameFile(FtpClient client, const char* oldName, const char* newName);
FT_API int FtpMakeDirectory(FtpClient client, const char* path);
FT_API int FtpRemoveDirectory(FtpClient client, const char* path);

// ---- Verification ---------------------------------------------------------------------

// 1 when the local file matches the remote one by the first method that both
// the bits (FTP_VERIFY_*) and the server allow: MD5 (XMD5), CRC-32 (XCRC) or
// size. 0 otherwise: fileErrorFileChecksumMismatch, fileErrorFileSizeMismatch,
// or the error that kept the check from running.
FT_API int FtpVerifyFile(FtpClient client, const char* localFile, const char* remoteFile,
                         DWORD verify);

// ---- Listing lines over a session ---------------------------------------------------

// Parses one listing line with the session's directory format and system
// type; a format recognised on an automatic session is kept for later lines. 1/0.
FT_API int FtpParseListingLine(FtpClient client, const char* line, FtpDirectoryEntry* entry);
// Parses MLSD/MLST facts, also inside a status reply. 1/0.
FT_API int FtpParseFacts(FtpClient client, const char* text, FtpDirectoryEntry* entry);

FT_EXTERN_C_END

FT_LAYOUT_CHECK(sizeof(FtpFileStatus) == 680);
