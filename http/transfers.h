// File and data transfers over an open HttpClient: downloads to memory or to a
// file (with restart and transparent gzip, deflate and zlib decoding), PUT
// uploads, multipart form posts, HEAD for size and time, DELETE and a size
// comparison. Same conventions as http/http.h: -1 (or 0 for flag results)
// with the thread's last error set.
#pragma once

#include <stdint.h>

#include "http/http.h"
#include "platform/api.h"
#ifdef __cplusplus
#include "platform/automation.h"
#include "platform/memory.h"
#endif

FT_EXTERN_C_BEGIN

// Flags of HttpGetData.
#define HTTP_GETDATA_CONVERT 0x1   // LF to CR LF for text bodies
#define HTTP_GETDATA_COMPRESS 0x2  // ask for a compressed body

// Content-encoding kinds of a response.
#define HTTP_ENCODING_IDENTITY 0
#define HTTP_ENCODING_COMPRESS 1
#define HTTP_ENCODING_DEFLATE 2
#define HTTP_ENCODING_GZIP 3
#define HTTP_ENCODING_ZLIB 4

// Media classes of a response.
#define HTTP_MEDIA_OTHER 0
#define HTTP_MEDIA_APPLICATION 1
#define HTTP_MEDIA_TEXT 2
#define HTTP_MEDIA_AUDIO 3
#define HTTP_MEDIA_IMAGE 4
#define HTTP_MEDIA_MESSAGE 5
#define HTTP_MEDIA_MULTIPART 6
#define HTTP_MEDIA_VIDEO 7

// The body of a GET into memory. *length 0: *(HGLOBAL*)buffer receives a new
// movable block of exactly the body's size (the caller frees it) and *length
// that size; otherwise at most *length bytes are copied into buffer and
// *length becomes the count. 0 or -1.
FT_API int HttpGetData(HttpClient client, const char* resource, void* buffer, DWORD* length,
                       DWORD flags);
// The body of a GET into a local file; a non-zero offset continues the file
// from there (Range request). 0 or -1; a failed download leaves what arrived.
FT_API int HttpGetFile(HttpClient client, const char* localFile, const char* resource,
                       uint64_t restartOffset);

// PUT of memory or of a local file; the response is read at the end. 0 or -1.
FT_API int HttpPutData(HttpClient client, const char* resource, const void* data, DWORD length);
FT_API int HttpPutFile(HttpClient client, const char* localFile, const char* resource);
// Sends the PUT request line and headers for a body of length bytes; the
// caller sends the body. The status (200), or -1.
FT_API int HttpBeginPut(HttpClient client, const char* resource, uint64_t length,
                        uint64_t restartOffset);

// A local file as a multipart/form-data POST; fieldName null or "" is
// "File1"; flags must be 0. 0 or -1.
FT_API int HttpPostFile(HttpClient client, const char* localFile, const char* resource,
                        const char* fieldName, DWORD flags);

// HEAD: the status, or -1. A missing Content-Length is size 0; a missing or
// unreadable Last-Modified leaves the time zero.
FT_API int HttpGetFileSize64(HttpClient client, const char* resource, uint64_t* size);
FT_API int HttpGetFileSize(HttpClient client, const char* resource, DWORD* size);
FT_API int HttpGetFileTime(HttpClient client, const char* resource, SYSTEMTIME* time,
                           BOOL localTime);
// DELETE: the status, or -1.
FT_API int HttpDeleteFile(HttpClient client, const char* resource);
// 1 when the local and remote sizes are equal, 0 otherwise (12351 on a
// mismatch), -1 for flags other than 0.
FT_API int HttpVerifyFile(HttpClient client, const char* localFile, const char* resource,
                          DWORD flags);

// Inflates a gzip, zlib or deflate block into a new movable block, within the
// default decoding limits (HttpSetDecodeLimits). 1 or 0.
FT_API int HttpDecodeMemory(HGLOBAL memory, DWORD length, HGLOBAL* decoded, DWORD* decodedLength);
// Inflates a downloaded file in place (textFlag: LF to CR LF as well), within
// the client's decoding limits (the defaults when the handle names none). 1 or
// 0; on failure the file stays as it was.
FT_API int HttpDecodeFile(HttpClient client, const char* fileName, BOOL textFlag);

FT_EXTERN_C_END
