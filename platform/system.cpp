#include "platform/system.h"

#include <sys/random.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

ULONGLONG ClockMilliseconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<ULONGLONG>(ts.tv_sec) * 1000u +
           static_cast<ULONGLONG>(ts.tv_nsec) / 1000000u;
}

bool CpuTimesOf(clockid_t clock, CpuTimes* times) {
    timespec ts{};
    if (!times || clock_gettime(clock, &ts) != 0) return false;
    // Linux reports one combined figure; it is given as user time.
    times->kernel100ns = 0;
    times->user100ns =
        static_cast<ULONGLONG>(ts.tv_sec) * 10000000u + static_cast<ULONGLONG>(ts.tv_nsec) / 100u;
    return true;
}

// Seconds between 1601-01-01 and 1970-01-01.
constexpr ULONGLONG kEpochDifferenceSeconds = 11644473600ull;

}  // namespace

DWORD GetTickCount() {
    return static_cast<DWORD>(ClockMilliseconds(CLOCK_MONOTONIC));
}
ULONGLONG GetTickCount64() {
    return ClockMilliseconds(CLOCK_MONOTONIC);
}
DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}
DWORD GetCurrentThreadId() {
    return static_cast<DWORD>(syscall(SYS_gettid));
}

ULONGLONG GetSystemTimeAsFileTimeValue() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return (static_cast<ULONGLONG>(ts.tv_sec) + kEpochDifferenceSeconds) * 10000000u +
           static_cast<ULONGLONG>(ts.tv_nsec) / 100u;
}

bool GetProcessCpuTimes(CpuTimes* times) {
    return CpuTimesOf(CLOCK_PROCESS_CPUTIME_ID, times);
}
bool GetThreadCpuTimes(CpuTimes* times) {
    return CpuTimesOf(CLOCK_THREAD_CPUTIME_ID, times);
}

bool LowerCurrentThreadPriority() {
    // A thread's nice value is its own on Linux: the process keeps its priority.
    const auto thread = static_cast<id_t>(syscall(SYS_gettid));
    return setpriority(PRIO_PROCESS, thread, 19) == 0;
}

bool PlatformRandomBytes(void* buffer, std::size_t length) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        ssize_t got = getrandom(out, length, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        out += got;
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

void Sleep(DWORD milliseconds) {
    timespec ts{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}
