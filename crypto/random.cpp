#include "crypto/random.h"

#include <cstring>

#include "crypto/sha1.h"
#include "platform/system.h"
#include "platform/wipe.h"

namespace {

constexpr std::size_t kStirBlock = kSha1DigestLength;  // 20 bytes per compression
constexpr std::size_t kStirPasses = 2;
constexpr std::uint32_t kChainStart[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476,
                                          0xC3D2E1F0};

template <typename T>
std::span<const std::uint8_t> AsBytes(const T& value) {
    return std::span(reinterpret_cast<const std::uint8_t*>(&value), sizeof value);
}

void ChainBytes(const std::uint32_t chain[5], std::uint8_t out[kSha1DigestLength]) {
    for (int i = 0; i < 5; ++i) {
        for (int j = 0; j < 4; ++j)
            out[4 * i + j] = static_cast<std::uint8_t>(chain[i] >> (24 - 8 * j));
    }
}

}  // namespace

RandomPool::RandomPool(TickSource ticks, SystemSource system)
    : ticks_(ticks ? ticks : &GetTickCount), system_(system ? system : &PlatformRandomBytes) {}

RandomPool::~RandomPool() {
    Wipe();
}

DWORD RandomPool::Now() const {
    return ticks_();
}

void RandomPool::Wipe() {
    SecureWipe(pool_.data(), pool_.size());
    SecureWipe(incoming_.data(), incoming_.size());
    SecureWipe(chain_, sizeof chain_);
    position_ = 0;
    incomingUsed_ = 0;
}

bool RandomPool::Initialize() {
    Wipe();
    std::memcpy(chain_, kChainStart, sizeof chain_);
    lastSlowNoise_ = Now();

    DWORD ticks = Now();
    DWORD processId = GetCurrentProcessId();
    ULONGLONG clock = GetSystemTimeAsFileTimeValue();
    std::uint8_t system[64] = {};
    healthy_ = system_(system, sizeof system);
    AddNoise(AsBytes(ticks));
    AddNoise(AsBytes(processId));
    AddNoise(AsBytes(clock));
    AddNoise(system);
    SecureWipe(system, sizeof system);
    Stir();
    return healthy_;
}

// Two passes over the pool, twenty bytes at a time: each step compresses the
// 64 pool bytes starting at the current block (wrapping) into the chaining
// state and XORs the new state into that block. After the second pass every
// byte depends on the whole pool and on everything the chain has absorbed.
void RandomPool::Stir() {
    CheckSlowNoise();
    AddClockNoise();
    std::uint8_t window[kSha1BlockLength];
    std::uint8_t digest[kSha1DigestLength];
    for (std::size_t pass = 0; pass < kStirPasses; ++pass) {
        for (std::size_t start = 0; start < kRandomPoolSize; start += kStirBlock) {
            for (std::size_t i = 0; i < kSha1BlockLength; ++i) {
                window[i] = pool_[(start + i) % kRandomPoolSize];
            }
            Sha1Compress(chain_, window);
            ChainBytes(chain_, digest);
            for (std::size_t i = 0; i < kStirBlock; ++i)
                pool_[start + i] ^= digest[i];
        }
    }
    SecureWipe(window, sizeof window);
    SecureWipe(digest, sizeof digest);
    position_ = kRandomStirOffset;
}

void RandomPool::AddNoise(std::span<const std::uint8_t> noise) {
    CheckSlowNoise();
    for (std::uint8_t byte : noise) {
        if (position_ >= kRandomPoolSize) Stir();
        pool_[position_++] ^= byte;
    }
}

void RandomPool::AddFastNoise(std::span<const std::uint8_t> noise) {
    CheckSlowNoise();
    for (std::uint8_t byte : noise) {
        incoming_[incomingUsed_++] = byte;
        if (incomingUsed_ == incoming_.size()) FoldIncoming(true);
    }
}

// Compresses the full incoming block into the chaining state and XORs the
// resulting 20 bytes (a digest of all 64 noise bytes, not just the first 20)
// into the pool at the read position, wrapping at the end.
void RandomPool::FoldIncoming(bool mayStir) {
    Sha1Compress(chain_, incoming_.data());
    std::uint8_t digest[kSha1DigestLength];
    ChainBytes(chain_, digest);
    for (std::uint8_t byte : digest) {
        if (position_ >= kRandomPoolSize) position_ = 0;
        pool_[position_++] ^= byte;
    }
    if (position_ >= kRandomPoolSize) position_ = 0;
    SecureWipe(digest, sizeof digest);
    SecureWipe(incoming_.data(), incoming_.size());
    incomingUsed_ = 0;
    if (mayStir && position_ < kStirBlock) Stir();
}

// Fast noise that never stirs, since the stir that adds it is under way.
void RandomPool::AddClockNoise() {
    ULONGLONG clock = GetSystemTimeAsFileTimeValue();
    for (std::uint8_t byte : AsBytes(clock)) {
        incoming_[incomingUsed_++] = byte;
        if (incomingUsed_ == incoming_.size()) FoldIncoming(false);
    }
}

// There is no timer thread: every entry point checks whether the slow noise
// is due. The time is taken first, so the noise's own stirs do not recurse.
void RandomPool::CheckSlowNoise() {
    DWORD now = Now();
    if (now - lastSlowNoise_ < kRandomSlowNoiseIntervalMs) return;
    lastSlowNoise_ = now;
    AddSlowNoise();
}

void RandomPool::AddSlowNoise() {
    CpuTimes process{}, thread{};
    GetProcessCpuTimes(&process);
    GetThreadCpuTimes(&thread);
    ULONGLONG ticks = GetTickCount64();
    AddNoise(AsBytes(process));
    AddNoise(AsBytes(thread));
    AddNoise(AsBytes(ticks));
    std::uint8_t system[32] = {};
    if (!system_(system, sizeof system)) healthy_ = false;
    AddNoise(system);
    SecureWipe(system, sizeof system);
}

std::uint8_t RandomPool::Byte() {
    if (position_ >= kRandomPoolSize) Stir();
    return pool_[position_++];
}

void RandomPool::Bytes(std::span<std::uint8_t> out) {
    for (std::uint8_t& byte : out)
        byte = Byte();
}

void RandomPool::SaveData(std::span<std::uint8_t, kRandomSaveSize> out) {
    Stir();
    std::memcpy(out.data(), pool_.data(), out.size());
    Stir();
}

namespace {

struct ProcessPool {
    RandomPool pool;
    int users = 0;
    bool ready = false;
};

ProcessPool& Instance() {
    static ProcessPool instance;
    return instance;
}

RandomPool& ReadyPool() {
    ProcessPool& process = Instance();
    if (!process.ready) {
        process.pool.Initialize();
        process.ready = true;
    }
    return process.pool;
}

}  // namespace

void RandomStart() {
    ReadyPool();
    ++Instance().users;
}

void RandomStop() {
    ProcessPool& process = Instance();
    if (process.users == 0 || --process.users > 0) return;
    process.pool.Wipe();
    process.ready = false;
}

bool RandomReady() {
    return ReadyPool().healthy();
}

void RandomAddNoise(std::span<const std::uint8_t> noise) {
    ReadyPool().AddNoise(noise);
}

void RandomAddFastNoise(std::span<const std::uint8_t> noise) {
    ReadyPool().AddFastNoise(noise);
}

std::uint8_t RandomByte() {
    return ReadyPool().Byte();
}

void RandomBytes(std::span<std::uint8_t> out) {
    ReadyPool().Bytes(out);
}
