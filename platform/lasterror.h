// The calling thread's last-error value and the detail that goes with it.
#pragma once

#include <string>
#include <string_view>

#include "platform/wintypes.h"

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD NO_ERROR = 0;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_OUTOFMEMORY = 14;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_NOT_LOCKED = 158;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_INVALID_THREAD_ID = 1444;
constexpr DWORD ERROR_TIMEOUT = 1460;

void SetLastError(DWORD error);
DWORD GetLastError();

// What a failure's number cannot say (the algorithms two sides failed to agree
// on, the server's disconnect text): kept per thread with the code it explains,
// and taken once by whoever reports that code.
void SetLastErrorDetail(DWORD code, std::string_view detail);
// The detail kept for this code ("" for another code), and forgets it.
std::string TakeLastErrorDetail(DWORD code);
