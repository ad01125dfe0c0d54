#include "platform/sync.h"

#include "platform/system.h"

namespace {

std::recursive_mutex& MutexOf(CRITICAL_SECTION* section) {
    return *std::launder(reinterpret_cast<std::recursive_mutex*>(section->storage));
}

void NoteEntered(CRITICAL_SECTION* section) {
    if (section->RecursionCount++ == 0) section->OwningThread = GetCurrentThreadId();
}

}  // namespace

void InitializeCriticalSection(CRITICAL_SECTION* section) {
    new (section->storage) std::recursive_mutex();
    section->RecursionCount = 0;
    section->OwningThread = 0;
}

BOOL InitializeCriticalSectionAndSpinCount(CRITICAL_SECTION* section, DWORD) {
    InitializeCriticalSection(section);
    return TRUE;
}

void DeleteCriticalSection(CRITICAL_SECTION* section) {
    MutexOf(section).~recursive_mutex();
}

void EnterCriticalSection(CRITICAL_SECTION* section) {
    MutexOf(section).lock();
    NoteEntered(section);
}

BOOL TryEnterCriticalSection(CRITICAL_SECTION* section) {
    if (!MutexOf(section).try_lock()) return FALSE;
    NoteEntered(section);
    return TRUE;
}

void LeaveCriticalSection(CRITICAL_SECTION* section) {
    if (--section->RecursionCount == 0) section->OwningThread = 0;
    MutexOf(section).unlock();
}
