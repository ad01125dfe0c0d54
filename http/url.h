// URL recognition, splitting, composition and path normalisation of the HTTP engine.
#pragma once

#include "platform/api.h"
#ifdef __cplusplus
#include <cstddef>
#endif

FT_EXTERN_C_BEGIN

enum HttpUrlScheme { HTTP_SCHEME_NONE = 0, HTTP_SCHEME_HTTP = 1, HTTP_SCHEME_HTTPS = 2 };

// One heap block holding the record and a private copy of the URL text that the
// text fields point into. Released with HttpFreeUrl (plain free()).
typedef struct HttpUrlRecord {
    int scheme;  // HttpUrlScheme
    int port;
    char* host;  // any of the texts may be null
    char* path;
    char* query;
    char* user;
    char* password;
} HttpUrlRecord;

// Scheme number of a text that starts with a known "scheme:", else 0.
FT_API int HttpIsUrl(const char* text);
// 1 and a new record in *record, or 0 with *record set to null.
FT_API int HttpParseUrl(const char* text, HttpUrlRecord** record);
FT_API void HttpFreeUrl(HttpUrlRecord* record);
// Length of the URL written (NUL-terminated) into buffer, or 0 when it does not
// fit or the record lacks a known scheme or a host.
FT_API int HttpComposeUrl(const HttpUrlRecord* record, char* buffer, int bufferSize);
// Removes dot segments in place; returns path.
FT_API char* HttpNormalizePath(char* path);

FT_EXTERN_C_END
