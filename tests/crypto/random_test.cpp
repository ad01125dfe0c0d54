// Behaviour of the random pool: what stirring does, that differently started
// pools differ, the periodic reseed, and failing closed without the system source.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "crypto/random.h"

namespace {

using Snapshot = std::array<std::uint8_t, kRandomPoolSize>;

Snapshot Take(const RandomPool& pool) {
    Snapshot copy;
    std::copy(pool.pool().begin(), pool.pool().end(), copy.begin());
    return copy;
}

std::size_t CountChanged(const Snapshot& before, const Snapshot& after, std::size_t from,
                         std::size_t to) {
    std::size_t changed = 0;
    for (std::size_t i = from; i < to; ++i)
        changed += before[i] != after[i];
    return changed;
}

DWORD fakeNow = 0;
DWORD FakeTicks() {
    return fakeNow;
}

TEST(RandomPool, StirChangesEveryBlockAndNearlyEveryByte) {
    RandomPool pool;
    pool.Initialize();
    for (int round = 0; round < 3; ++round) {
        Snapshot before = Take(pool);
        pool.Stir();
        Snapshot after = Take(pool);
        // A byte keeps its value with chance 1/256; a whole 20-byte block never should.
        EXPECT_LT(kRandomPoolSize - CountChanged(before, after, 0, kRandomPoolSize), 24u);
        for (std::size_t block = 0; block < kRandomPoolSize; block += 20) {
            EXPECT_GT(CountChanged(before, after, block, block + 20), 10u) << block;
        }
        EXPECT_EQ(pool.readPosition(), kRandomStirOffset);
    }
}

TEST(RandomPool, PoolsStartedDifferentlyNeverAgree) {
    RandomPool first, second;
    first.Initialize();
    second.Initialize();
    std::vector<std::uint8_t> a(4096), b(4096);
    first.Bytes(a);
    second.Bytes(b);
    EXPECT_NE(a, b);
    std::size_t equal = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        equal += a[i] == b[i];
    EXPECT_LT(equal, 64u);  // about 16 expected by chance
}

int systemCalls = 0;
bool systemWorks = true;
bool FakeSystem(void* buffer, std::size_t length) {
    ++systemCalls;
    std::fill_n(static_cast<std::uint8_t*>(buffer), length, std::uint8_t{0x5A});
    return systemWorks;
}

// Every slow-noise interval also draws from the system source; a failure there
// or at the start leaves the pool unhealthy, and nothing may make keys from it.
TEST(RandomPool, SlowNoiseAndTheSystemReseedArriveAfterFiveMinutes) {
    fakeNow = 1000;
    systemCalls = 0;
    systemWorks = true;
    RandomPool pool(&FakeTicks, &FakeSystem);
    EXPECT_TRUE(pool.Initialize());
    EXPECT_EQ(systemCalls, 1);
    const std::uint8_t byte = 1;
    Snapshot before = Take(pool);
    fakeNow += kRandomSlowNoiseIntervalMs - 1;
    pool.AddFastNoise({&byte, 1});
    EXPECT_EQ(Take(pool), before);
    fakeNow += 1;
    pool.AddFastNoise({&byte, 1});
    EXPECT_NE(Take(pool), before);
    Snapshot afterSlow = Take(pool);
    pool.AddFastNoise({&byte, 1});
    EXPECT_EQ(Take(pool), afterSlow);  // not again until the next interval
    EXPECT_EQ(systemCalls, 2);
    EXPECT_TRUE(pool.healthy());

    systemWorks = false;
    fakeNow += kRandomSlowNoiseIntervalMs;
    pool.AddFastNoise({&byte, 1});
    EXPECT_FALSE(pool.healthy());
    RandomPool failing(&FakeTicks, &FakeSystem);
    EXPECT_FALSE(failing.Initialize());
    EXPECT_FALSE(failing.healthy());
    systemWorks = true;
}

TEST(RandomPool, SaveDataIsNotWhatComesOutNext) {
    RandomPool pool;
    pool.Initialize();
    std::array<std::uint8_t, kRandomSaveSize> saved;
    pool.SaveData(saved);
    EXPECT_EQ(pool.readPosition(), kRandomStirOffset);
    Snapshot after = Take(pool);
    EXPECT_FALSE(std::equal(saved.begin(), saved.end(), after.begin()));
    std::vector<std::uint8_t> next(kRandomPoolSize);
    pool.Bytes(next);
    EXPECT_EQ(std::search(next.begin(), next.end(), saved.begin(), saved.begin() + 16), next.end());
}

TEST(RandomPool, WipeLeavesNothingBehind) {
    RandomPool pool;
    pool.Initialize();
    pool.Wipe();
    EXPECT_TRUE(std::all_of(pool.pool().begin(), pool.pool().end(), [](auto b) { return b == 0; }));
}

TEST(ProcessRandom, UsersShareOnePoolAndTheLastStopWipesIt) {
    RandomStart();
    RandomStart();
    std::vector<std::uint8_t> first(64), second(64);
    RandomBytes(first);
    RandomStop();
    RandomBytes(second);  // still started by the first user
    EXPECT_NE(first, second);
    RandomStop();
    RandomStop();  // an extra stop is harmless
    EXPECT_NE(RandomByte() | RandomByte() | RandomByte() | RandomByte(), 0);
    EXPECT_TRUE(RandomReady());
}

}  // namespace
