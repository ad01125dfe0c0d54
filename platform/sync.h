// Recursive locks with the critical-section interface.
#pragma once

#include <mutex>
#include <new>

#include "platform/wintypes.h"

// Initialize before first use and delete after last use, as on Windows.
struct CRITICAL_SECTION {
    alignas(std::recursive_mutex) unsigned char storage[sizeof(std::recursive_mutex)];
    LONG RecursionCount;
    DWORD OwningThread;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

void InitializeCriticalSection(CRITICAL_SECTION* section);
BOOL InitializeCriticalSectionAndSpinCount(CRITICAL_SECTION* section, DWORD spinCount);
void DeleteCriticalSection(CRITICAL_SECTION* section);
void EnterCriticalSection(CRITICAL_SECTION* section);
BOOL TryEnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);

// Holds a critical section for the lifetime of the guard.
class CriticalSectionGuard {
  public:
    explicit CriticalSectionGuard(CRITICAL_SECTION& section) : section_(section) {
        EnterCriticalSection(&section_);
    }
    ~CriticalSectionGuard() { LeaveCriticalSection(&section_); }
    CriticalSectionGuard(const CriticalSectionGuard&) = delete;
    CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

  private:
    CRITICAL_SECTION& section_;
};

// A critical section that initializes and deletes itself.
class CriticalSection {
  public:
    CriticalSection() { InitializeCriticalSection(&section_); }
    ~CriticalSection() { DeleteCriticalSection(&section_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() { EnterCriticalSection(&section_); }
    bool TryEnter() { return TryEnterCriticalSection(&section_) != FALSE; }
    void Leave() { LeaveCriticalSection(&section_); }
    CRITICAL_SECTION* get() { return &section_; }
    // BasicLockable, so std::lock_guard and std::unique_lock work too.
    void lock() { Enter(); }
    bool try_lock() { return TryEnter(); }
    void unlock() { Leave(); }

  private:
    CRITICAL_SECTION section_;
};
