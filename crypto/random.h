// The random pool that feeds padding, cookies, session keys and private
// exponents. No locks of its own: the SSH side's process-wide lock
// serialises every use.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/wintypes.h"

constexpr std::size_t kRandomPoolSize = 1200;
constexpr std::size_t kRandomStirOffset = 20;  // the read position after a stir
constexpr std::size_t kRandomSaveSize = 600;
constexpr DWORD kRandomSlowNoiseIntervalMs = 300000;

class RandomPool {
  public:
    using TickSource = DWORD (*)();
    // Fills a buffer from the operating system; false when it cannot.
    using SystemSource = bool (*)(void* buffer, std::size_t length);

    // The clock decides when the slow noise is due; tests pass their own clock
    // and system source.
    explicit RandomPool(TickSource ticks = nullptr, SystemSource system = nullptr);
    ~RandomPool();
    RandomPool(const RandomPool&) = delete;
    RandomPool& operator=(const RandomPool&) = delete;

    // Zeroes everything, adds the start-up noise and stirs. False when the
    // system source failed: the pool then holds clock noise only and healthy()
    // stays false.
    bool Initialize();
    void Wipe();

    // XORs the bytes into the pool from the read position on, stirring and
    // carrying on whenever the end is reached.
    void AddNoise(std::span<const std::uint8_t> noise);
    // Collects bytes in a 64-byte block; each full block is compressed and
    // folded into the pool at the read position.
    void AddFastNoise(std::span<const std::uint8_t> noise);
    std::uint8_t Byte();
    void Bytes(std::span<std::uint8_t> out);
    // 600 pool bytes taken between two stirs, for refreshing a pool elsewhere.
    void SaveData(std::span<std::uint8_t, kRandomSaveSize> out);
    void Stir();

    // False once the system source has failed, at start-up or at a reseed
    // (every slow-noise interval draws 32 fresh bytes from it).
    bool healthy() const { return healthy_; }

    // Read-only views for behavioural tests.
    std::span<const std::uint8_t, kRandomPoolSize> pool() const { return pool_; }
    std::size_t readPosition() const { return position_; }

  private:
    void FoldIncoming(bool mayStir);
    void AddClockNoise();
    void CheckSlowNoise();
    void AddSlowNoise();
    DWORD Now() const;

    TickSource ticks_;
    SystemSource system_;
    bool healthy_ = false;
    std::array<std::uint8_t, kRandomPoolSize> pool_{};
    std::size_t position_ = 0;
    std::array<std::uint8_t, 64> incoming_{};
    std::size_t incomingUsed_ = 0;
    std::uint32_t chain_[5] = {};
    DWORD lastSlowNoise_ = 0;
};

// The process-wide pool. The first start initialises it; the last stop wipes
// it. Using it without a start starts it. Whatever makes keys asks RandomReady
// first and refuses to go on without the system's randomness: the pool fails
// closed rather than run on clock noise alone.
void RandomStart();
bool RandomReady();
void RandomStop();
void RandomAddNoise(std::span<const std::uint8_t> noise);
void RandomAddFastNoise(std::span<const std::uint8_t> noise);
std::uint8_t RandomByte();
void RandomBytes(std::span<std::uint8_t> out);
