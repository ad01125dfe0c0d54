// Directory listings over the data connection: LIST, NLST or MLSD opened on a
// session, read entry by entry through a first/next cursor, or all at once as
// text. Conventions as in ftp/ftp.h.
#pragma once

#include <stdint.h>

#include "ftp/ftp.h"
#include "ftp/listing.h"

FT_EXTERN_C_BEGIN

// Starts a listing of a path, a mask or (null or empty) the current directory:
// MLSD when the session's directory format is FTP_DIRECTORY_MLSD, or when
// FtpSetListingFacts is on, the server's FEAT offered MLST, no layout was
// chosen and the path holds no wildcard; else LIST. MLSD refused with 500 to
// 504 clears the MLST feature (and a layout of MLSD) and lists by LIST instead.
// The reply code (125 or 150) or -1.
FT_API int FtpOpenDirectory(FtpClient client, const char* path);
// Turns the MLSD preference of FtpOpenDirectory on or off (off when a session
// starts). The previous setting (1 or 0), or -1.
FT_API int FtpSetListingFacts(FtpClient client, BOOL enable);
// 1 when the open (or last) listing of FtpOpenDirectory reads MLSD facts
// (dates in UTC), else 0.
FT_API int FtpListingHasFacts(FtpClient client);
// Starts NLST (nameOnly set: every line is one name) or LIST. The reply code or -1.
FT_API int FtpOpenFileList(FtpClient client, const char* path, BOOL nameOnly);

// The first entry of the open listing, reading lines until one parses: 1, or 0
// with fileErrorDirectoryEmpty when the listing has none.
FT_API int FtpGetFirstEntry(FtpClient client, FtpDirectoryEntry* entry);
// The entry after the cursor: 1, or 0 with fileErrorEndOfDirectory after the last.
FT_API int FtpGetNextEntry(FtpClient client, FtpDirectoryEntry* entry);
// Ends the listing: the completion reply code, 0 when no data connection is
// open, or -1. The entries stay readable until the next listing.
FT_API int FtpCloseDirectory(FtpClient client);

// The whole listing text (NLST with nameOnly, else LIST), lines ended by CR LF,
// into buffer (terminated; what does not fit is read and dropped). The length or -1.
FT_API int FtpGetFileList(FtpClient client, const char* path, BOOL nameOnly, char* buffer,
                          int size);

FT_EXTERN_C_END
