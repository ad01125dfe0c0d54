// Behaviour of the random pool: how noise lands in it, what stirring does,
// where reads come from, and that differently started pools differ.
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

TEST(RandomPool, ReadsComeFromTheReadPositionAndStirAtTheEnd) {
    RandomPool pool;
    pool.Initialize();
    ASSERT_EQ(pool.readPosition(), kRandomStirOffset);
    Snapshot before = Take(pool);
    for (std::size_t i = kRandomStirOffset; i < kRandomPoolSize; ++i) {
        ASSERT_EQ(pool.Byte(), before[i]) << i;
    }
    EXPECT_EQ(pool.readPosition(), kRandomPoolSize);
    EXPECT_EQ(Take(pool), before);  // reading alone does not stir
    std::uint8_t next = pool.Byte();
    Snapshot after = Take(pool);
    EXPECT_NE(after, before);
    EXPECT_EQ(next, after[kRandomStirOffset]);
    EXPECT_EQ(pool.readPosition(), kRandomStirOffset + 1);
}

TEST(RandomPool, NoiseIsXoredFromTheReadPositionOn) {
    RandomPool pool;
    pool.Initialize();
    for (int i = 0; i < 100; ++i)
        pool.Byte();
    std::size_t position = pool.readPosition();
    Snapshot before = Take(pool);
    const std::vector<std::uint8_t> noise = {0x01, 0x80, 0xFF, 0x00, 0x5A};
    pool.AddNoise(noise);
    Snapshot after = Take(pool);
    for (std::size_t i = 0; i < noise.size(); ++i) {
        EXPECT_EQ(after[position + i], before[position + i] ^ noise[i]);
    }
    EXPECT_EQ(CountChanged(before, after, 0, kRandomPoolSize),
              4u);  // the zero byte changes nothing
    EXPECT_EQ(pool.readPosition(), position + noise.size());
}

TEST(RandomPool, NoiseReachingTheEndStirsAndContinues) {
    RandomPool pool;
    pool.Initialize();
    while (pool.readPosition() < kRandomPoolSize - 2)
        pool.Byte();
    const std::vector<std::uint8_t> noise = {1, 2, 3, 4, 5};
    pool.AddNoise(noise);
    EXPECT_EQ(pool.readPosition(), kRandomStirOffset + 3);
}

// Stirring itself puts the clock into the incoming block, so the first fold
// comes within 64 bytes and every later one after exactly 64.
TEST(RandomPool, FastNoiseIsFoldedOncePerFullBlock) {
    RandomPool pool;
    pool.Initialize();
    const std::uint8_t byte = 0x42;
    Snapshot before = Take(pool);
    std::size_t fed = 0;
    while (Take(pool) == before && fed < 64) {
        pool.AddFastNoise({&byte, 1});
        ++fed;
    }
    Snapshot after = Take(pool);
    ASSERT_NE(after, before);
    EXPECT_EQ(pool.readPosition(), kRandomStirOffset + 20);
    EXPECT_EQ(CountChanged(before, after, 0, kRandomStirOffset), 0u);
    EXPECT_GT(CountChanged(before, after, kRandomStirOffset, kRandomStirOffset + 20), 15u);
    EXPECT_EQ(CountChanged(before, after, kRandomStirOffset + 20, kRandomPoolSize), 0u);

    for (int i = 0; i < 63; ++i)
        pool.AddFastNoise({&byte, 1});
    EXPECT_EQ(Take(pool), after);
    pool.AddFastNoise({&byte, 1});
    EXPECT_GT(CountChanged(after, Take(pool), kRandomStirOffset + 20, kRandomStirOffset + 40), 15u);
    EXPECT_EQ(pool.readPosition(), kRandomStirOffset + 40);
}

TEST(RandomPool, FastNoiseWrappingToThePoolStartStirs) {
    RandomPool pool;
    pool.Initialize();
    while (pool.readPosition() < kRandomPoolSize - 20)
        pool.Byte();
    Snapshot before = Take(pool);
    std::vector<std::uint8_t> noise(64, 7);
    pool.AddFastNoise(noise);
    EXPECT_EQ(pool.readPosition(), kRandomStirOffset);
    EXPECT_GT(CountChanged(before, Take(pool), 0, kRandomPoolSize), 1000u);
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

TEST(RandomPool, SlowNoiseArrivesAfterFiveMinutes) {
    fakeNow = 1000;
    RandomPool pool(&FakeTicks);
    pool.Initialize();
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
}

}  // namespace
