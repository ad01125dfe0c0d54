// The HTTP engine: start and stop, the thread's last error and its texts.
// Connections (HttpClient handles), requests and transfers come later; until
// then the engine only owns its reference count and the socket runtime it
// starts.
//
// Every operation runs on the calling thread. Failures return -1 (or 0 for flag
// results) and set the thread's last error, 0x80040000 | error number; nothing
// throws.
#pragma once

#include <stdint.h>

#include "net/net.h"
#include "platform/wintypes.h"

extern "C" {

typedef uint64_t HttpClient;
#define INVALID_HTTP_CLIENT ((HttpClient)-1)

#define HTTP_LIBRARY_INFO_SIZE 168
#define HTTP_NOTIFY_MESSAGE 2025
#define HTTP_ERROR_TEXT_SIZE 128

typedef struct HttpLibraryInfo {
    uint32_t size;  // must be 168
    uint32_t majorVersion;
    uint32_t minorVersion;
    uint32_t build;
    uint32_t reserved;
    void* module;  // the engine's module after a successful start, else null
    char description[136];
} HttpLibraryInfo;

// Process reference count +1; the first start also starts the socket runtime.
// 1, or 0 with the error set (10022 for a record whose size is not 168, the
// socket runtime's error when it cannot start).
int HttpInitialize(HttpLibraryInfo* info);
// Reference count -1; the last stop stops the socket runtime.
void HttpUninitialize(void);

DWORD HttpGetLastError(void);
// Values from 1 to 0xFFFF get 0x80040000 or-ed in; 0 clears.
void HttpSetLastError(DWORD error);
// The message text of an error (0: the last error) into buffer (128 characters;
// null uses an internal buffer). The length, 0 when there is no text.
int HttpGetErrorString(DWORD error, char* buffer);

// The local address used for a connection; without one (no connection is open
// yet in this engine) the address of the local host name for family 2 (also
// for 0) or 23. Gives the family, or -1 (12004 when the local host cannot be
// resolved, 10022 for a null record).
int HttpGetLocalAddress(HttpClient client, int family, NetAddress* address);

}  // extern "C"
