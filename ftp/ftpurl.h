// The FTP engine's URL pair: ftp://, ftps:// and sftp:// URLs to and from records.
#pragma once

#include "platform/api.h"

FT_EXTERN_C_BEGIN

enum FtpUrlScheme { FTP_SCHEME_FTP = 1, FTP_SCHEME_FTPS = 2, FTP_SCHEME_SFTP = 3 };
enum FtpUrlType { FTP_URL_TYPE_ASCII = 1, FTP_URL_TYPE_IMAGE = 3 };

// One heap block holding the record and a private copy of the URL text that the
// text fields point into. Released with FtpFreeUrl (plain free()).
typedef struct FtpUrlRecord {
    int scheme;        // FtpUrlScheme
    int port;
    int transferType;  // FtpUrlType
    char* host;        // any of the texts may be null
    char* directory;
    char* fileName;
    char* user;
    char* password;
} FtpUrlRecord;

// 1 and a new record in *record, or 0 with *record set to null.
FT_API int FtpParseUrl(const char* text, FtpUrlRecord** record);
FT_API void FtpFreeUrl(FtpUrlRecord* record);
// Composes from a record whose texts the caller owns (null or empty = absent).
// Returns the length written (NUL-terminated), or 0 on failure or overflow.
FT_API int FtpComposeUrl(const FtpUrlRecord* record, char* buffer, int bufferSize);
// Removes dot segments in place (separators "/" and "\"): the dots that end a
// segment followed by a separator each remove one segment back, so "." and ".."
// work as usual and "a.." goes with the segment before it. Returns path.
FT_API char* NormalizeUrlPath(char* path);

FT_EXTERN_C_END
