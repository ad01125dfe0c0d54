// The FTP engine's URL pair: ftp://, ftps:// and sftp:// URLs to and from records.
#pragma once

extern "C" {

enum FtpUrlScheme { FTP_SCHEME_FTP = 1, FTP_SCHEME_FTPS = 2, FTP_SCHEME_SFTP = 3 };
enum FtpUrlType { FTP_URL_TYPE_ASCII = 1, FTP_URL_TYPE_IMAGE = 3 };

// One heap block holding the record and a private copy of the URL text that the
// text fields point into. Released with FtpFreeUrl (plain free()).
struct FtpUrlRecord {
    int scheme;        // FtpUrlScheme
    int port;
    int transferType;  // FtpUrlType
    char* host;        // any of the texts may be null
    char* directory;
    char* fileName;
    char* user;
    char* password;
};

// 1 and a new record in *record, or 0 with *record set to null.
int FtpParseUrl(const char* text, FtpUrlRecord** record);
void FtpFreeUrl(FtpUrlRecord* record);
// Composes from a record whose texts the caller owns (null or empty = absent).
// Returns the length written (NUL-terminated), or 0 on failure or overflow.
int FtpComposeUrl(const FtpUrlRecord* record, char* buffer, int bufferSize);
// Removes "." and ".." segments in place (separators "/" and "\"); returns path.
char* NormalizeUrlPath(char* path);

}  // extern "C"
