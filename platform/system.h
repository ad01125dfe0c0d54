// Process, thread, clock and entropy queries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/api.h"
#include "platform/wintypes.h"

// Milliseconds since an arbitrary start (monotonic); the 32-bit form wraps.
DWORD GetTickCount();
ULONGLONG GetTickCount64();
DWORD GetCurrentProcessId();
DWORD GetCurrentThreadId();

// Wall-clock time in 100-nanosecond units since 1601-01-01 UTC (a FILETIME value).
ULONGLONG GetSystemTimeAsFileTimeValue();

struct CpuTimes {
    ULONGLONG kernel100ns;
    ULONGLONG user100ns;
};
bool GetProcessCpuTimes(CpuTimes* times);
bool GetThreadCpuTimes(CpuTimes* times);
// Gives the calling thread the lowest scheduling priority (nice 19), which any
// process may do for its own threads; false if the system refused.
bool LowerCurrentThreadPriority();

// Calendar fields (year, month, day, hour, minute, second) read as UTC or as
// local time with the offset in effect then, as seconds since 1970, and back;
// false when the fields name no time.
bool CalendarToUnixTime(const SYSTEMTIME& fields, bool local, std::int64_t* seconds);
bool UnixTimeToCalendar(std::int64_t seconds, bool local, SYSTEMTIME* fields);

// Fills buffer from the operating system's random source; false if it failed.
bool PlatformRandomBytes(void* buffer, std::size_t length);

// Suspends the calling thread for at least this many milliseconds.
void Sleep(DWORD milliseconds);
// The value of an environment variable, or "" when it is not set.
std::string EnvironmentValue(const char* name);
