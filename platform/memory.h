// Global memory handles (fixed and movable) and local memory.
#pragma once

#include "platform/api.h"
#include "platform/wintypes.h"

using HGLOBAL = HANDLE;
using HLOCAL = HANDLE;

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GMEM_MODIFY = 0x0080;
constexpr UINT GMEM_DDESHARE = 0x2000;  // accepted, no meaning here
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;
constexpr UINT GMEM_LOCKCOUNT = 0x00FF;
constexpr UINT GMEM_INVALID_HANDLE = 0x8000;

constexpr UINT LMEM_FIXED = 0x0000;
constexpr UINT LMEM_MOVEABLE = 0x0002;
constexpr UINT LMEM_ZEROINIT = 0x0040;
constexpr UINT LHND = LMEM_MOVEABLE | LMEM_ZEROINIT;
constexpr UINT LPTR = LMEM_FIXED | LMEM_ZEROINIT;

// A fixed block's handle is its address. A movable block's handle is not an
// address: GlobalLock gives the address and counts locks; an unlocked movable
// block may move when it is reallocated. Failures return null and set the last
// error (ERROR_INVALID_HANDLE, ERROR_NOT_ENOUGH_MEMORY, ERROR_NOT_LOCKED).
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
HGLOBAL GlobalReAlloc(HGLOBAL memory, SIZE_T bytes, UINT flags);
UINT GlobalFlags(HGLOBAL memory);  // lock count in the low byte, or GMEM_INVALID_HANDLE
HGLOBAL GlobalHandle(LPCVOID address);
// What a caller of the engines needs for the blocks their in-memory downloads
// hand out; exported with C names (platform/api.h declares them for C).
extern "C" {
FT_API SIZE_T GlobalSize(HGLOBAL memory);
FT_API LPVOID GlobalLock(HGLOBAL memory);
FT_API BOOL GlobalUnlock(HGLOBAL memory);   // FALSE once the count reaches 0 (last error NO_ERROR)
FT_API HGLOBAL GlobalFree(HGLOBAL memory);  // null on success, else the handle
}

// Local memory is malloc memory: LocalFree and free() are interchangeable.
// LMEM_MOVEABLE is accepted and gives a fixed block.
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalReAlloc(HLOCAL memory, SIZE_T bytes, UINT flags);
HLOCAL LocalFree(HLOCAL memory);
