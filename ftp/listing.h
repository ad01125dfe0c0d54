// Directory-listing entries as the FTP engine hands them out, and the listing
// formats a session can be set to.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/api.h"
#ifdef __cplusplus
#include "platform/automation.h"
#endif

FT_EXTERN_C_BEGIN

// Listing formats (the session's directory format).
#define FTP_DIRECTORY_AUTO 0
#define FTP_DIRECTORY_UNIX 1
#define FTP_DIRECTORY_MSDOS 2
#define FTP_DIRECTORY_VMS 3
#define FTP_DIRECTORY_STERLING1 4
#define FTP_DIRECTORY_STERLING2 5
#define FTP_DIRECTORY_NETWARE 6
#define FTP_DIRECTORY_MLSD 7
// The lines that the SFTP client writes for secure-shell sessions.
#define FTP_DIRECTORY_SFTP 255

// Text capacities of an entry, terminator included.
#define FTP_ENTRY_NAME_SIZE 512
#define FTP_ENTRY_OWNER_SIZE 64
#define FTP_ENTRY_GROUP_SIZE 64

// Permission bits: the Unix mode bits (0x100 is octal 0400).
#define FTP_PERM_OWNER_READ 0x100
#define FTP_PERM_OWNER_WRITE 0x80
#define FTP_PERM_OWNER_EXECUTE 0x40
#define FTP_PERM_GROUP_READ 0x20
#define FTP_PERM_GROUP_WRITE 0x10
#define FTP_PERM_GROUP_EXECUTE 0x8
#define FTP_PERM_WORLD_READ 0x4
#define FTP_PERM_WORLD_WRITE 0x2
#define FTP_PERM_WORLD_EXECUTE 0x1
#define FTP_PERM_SYMLINK 0x1000

// Sterling entries keep their status letters in the permissions instead: bit
// (letter - 'A') for each letter, plus one of these protocol bits.
#define FTP_STERLING_STATUS_TCP 0x4000000u
#define FTP_STERLING_STATUS_FTP 0x8000000u
#define FTP_STERLING_STATUS_BSC 0x10000000u
#define FTP_STERLING_STATUS_ASC 0x20000000u
#define FTP_STERLING_STATUS_FTS 0x40000000u
#define FTP_STERLING_STATUS_OTHER 0x80000000u

// One parsed listing entry. The directory flag is also set for symbolic links.
typedef struct FtpDirectoryEntry {
    char name[FTP_ENTRY_NAME_SIZE];
    char owner[FTP_ENTRY_OWNER_SIZE];
    char group[FTP_ENTRY_GROUP_SIZE];
    int32_t directory;
    uint64_t size;
    uint32_t linkCount;
    uint32_t version;      // VMS file version
    uint32_t permissions;  // FTP_PERM_* (FTP_STERLING_* for Sterling entries)
    uint32_t reserved;     // always 0
    SYSTEMTIME date;       // local time of the listing
} FtpDirectoryEntry;

FT_EXTERN_C_END

FT_LAYOUT_CHECK(offsetof(FtpDirectoryEntry, directory) == 640);
FT_LAYOUT_CHECK(offsetof(FtpDirectoryEntry, size) == 648);
FT_LAYOUT_CHECK(offsetof(FtpDirectoryEntry, date) == 672);
FT_LAYOUT_CHECK(sizeof(FtpDirectoryEntry) == 688);
