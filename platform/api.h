// What the public C headers of the engines share: the export mark, and for C the
// Windows-shaped names the declarations use. C++ gets those from wintypes.h,
// messages.h and memory.h of platform/, as the rest of the project does; the C
// definitions below are the same types. SYSTEMTIME is defined here for both.
#pragma once

// The shared library is built with hidden visibility; FT_API marks what it
// exports. Only the declarations of the installed headers carry it.
#if defined(__GNUC__)
#define FT_API __attribute__((visibility("default")))
#else
#define FT_API
#endif

#ifdef __cplusplus
#define FT_EXTERN_C_BEGIN extern "C" {
#define FT_EXTERN_C_END }
#include "platform/wintypes.h"
#else
#define FT_EXTERN_C_BEGIN
#define FT_EXTERN_C_END
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
typedef unsigned int UINT;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef void* HANDLE;
typedef HANDLE HGLOBAL;
typedef struct HWND__* HWND;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#endif

// Layout checks of the fixed records, made by the C compiler too.
#ifdef __cplusplus
#define FT_LAYOUT_CHECK(condition) static_assert(condition, #condition)
#else
#define FT_LAYOUT_CHECK(condition) _Static_assert(condition, #condition)
#endif

#ifndef __cplusplus
// The memory blocks of the engines' in-memory downloads (HttpGetData,
// FtpGetData and the like): their size, their address while locked, and
// their release.
FT_API size_t GlobalSize(HGLOBAL memory);
FT_API void* GlobalLock(HGLOBAL memory);
FT_API BOOL GlobalUnlock(HGLOBAL memory);
FT_API HGLOBAL GlobalFree(HGLOBAL memory);
#endif

FT_EXTERN_C_BEGIN

typedef struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;  // 0 = Sunday
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME;

FT_EXTERN_C_END

FT_LAYOUT_CHECK(sizeof(SYSTEMTIME) == 16);
