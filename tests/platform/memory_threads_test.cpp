#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/lasterror.h"
#include "platform/memory.h"
#include "platform/sync.h"

namespace {

TEST(GlobalMemory, MovableHandlesCountLocks) {
    HGLOBAL h = GlobalAlloc(GHND, 64);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalSize(h), 64u);
    EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 0u);
    auto* p = static_cast<unsigned char*>(GlobalLock(h));
    ASSERT_NE(p, nullptr);
    EXPECT_NE(static_cast<void*>(p), h);  // a movable handle is not the address
    EXPECT_EQ(p[63], 0);                  // zero-initialised
    EXPECT_EQ(GlobalLock(h), p);
    EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 2u);
    EXPECT_EQ(GlobalHandle(p), h);
    EXPECT_TRUE(GlobalUnlock(h));  // still locked once
    SetLastError(12345);
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_EQ(GetLastError(), NO_ERROR);  // unlocked, not an error
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_EQ(GetLastError(), ERROR_NOT_LOCKED);
    EXPECT_EQ(GlobalFree(h), nullptr);
    EXPECT_EQ(GlobalSize(h), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GlobalFree(h), h);  // already gone
}

TEST(GlobalMemory, FixedBlocksAreTheirOwnAddress) {
    HGLOBAL h = GlobalAlloc(GPTR, 16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalLock(h), h);
    EXPECT_EQ(GlobalHandle(h), h);
    std::memset(h, 'x', 16);
    // Growing a fixed block needs permission to move it.
    EXPECT_EQ(GlobalReAlloc(h, 32, 0), nullptr);
    EXPECT_EQ(GlobalReAlloc(h, 8, 0), h);  // shrinking stays in place
    EXPECT_EQ(GlobalSize(h), 8u);
    HGLOBAL moved = GlobalReAlloc(h, 4096, GMEM_MOVEABLE | GMEM_ZEROINIT);
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(GlobalSize(moved), 4096u);
    EXPECT_EQ(static_cast<char*>(moved)[7], 'x');
    EXPECT_EQ(static_cast<char*>(moved)[8], 0);
    EXPECT_EQ(GlobalFree(moved), nullptr);
}

TEST(GlobalMemory, MovableBlocksGrowAndKeepTheirHandle) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 10);
    std::memcpy(GlobalLock(h), "0123456789", 10);
    GlobalUnlock(h);
    HGLOBAL same = GlobalReAlloc(h, 1 << 20, GMEM_ZEROINIT);
    EXPECT_EQ(same, h);
    auto* p = static_cast<char*>(GlobalLock(h));
    EXPECT_EQ(std::memcmp(p, "0123456789", 10), 0);
    EXPECT_EQ(p[(1 << 20) - 1], 0);
    // Locked: it may not move to grow.
    EXPECT_EQ(GlobalReAlloc(h, 2 << 20, 0), nullptr);
    GlobalUnlock(h);
    GlobalFree(h);
    EXPECT_EQ(GlobalHandle(p), nullptr);
}

TEST(LastError, IsPerThread) {
    SetLastError(5);
    std::thread other([] {
        EXPECT_EQ(GetLastError(), 0u);
        SetLastError(7);
    });
    other.join();
    EXPECT_EQ(GetLastError(), 5u);
}

TEST(CriticalSections, RecursiveAndExclusive) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EXPECT_TRUE(TryEnterCriticalSection(&section));  // same thread may re-enter
    EXPECT_EQ(section.RecursionCount, 2);
    std::atomic<bool> otherGotIn{true};
    std::thread other([&] { otherGotIn = TryEnterCriticalSection(&section) != FALSE; });
    other.join();
    EXPECT_FALSE(otherGotIn);
    LeaveCriticalSection(&section);
    LeaveCriticalSection(&section);
    EXPECT_EQ(section.OwningThread, 0u);

    int counter = 0;
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) {
                CriticalSectionGuard guard(section);
                ++counter;
            }
        });
    }
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(counter, 4000);
    DeleteCriticalSection(&section);
}

}  // namespace
