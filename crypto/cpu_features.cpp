#include "crypto/cpu_features.h"

#include <atomic>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {

struct CpuFeatures {
    bool aesNi = false;
    bool shaNi = false;
    bool pclmul = false;
};

CpuFeatures DetectCpuFeatures() {
    CpuFeatures features;
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return features;
    const bool sse41 = (ecx & bit_SSE4_1) != 0;
    const bool ssse3 = (ecx & bit_SSSE3) != 0;
    features.aesNi = sse41 && (ecx & bit_AES) != 0;
    features.pclmul = sse41 && ssse3 && (ecx & bit_PCLMUL) != 0;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        features.shaNi = sse41 && ssse3 && (ebx & bit_SHA) != 0;
#endif
    return features;
}

const CpuFeatures& Features() {
    static const CpuFeatures features = DetectCpuFeatures();
    return features;
}

std::atomic<bool> fastPathsEnabled{true};

}  // namespace

bool CpuHasAesNi() {
    return Features().aesNi;
}
bool CpuHasShaNi() {
    return Features().shaNi;
}
bool CpuHasPclmul() {
    return Features().pclmul;
}

void CryptoSetFastPaths(bool enabled) {
    fastPathsEnabled.store(enabled, std::memory_order_relaxed);
}
bool CryptoFastPathsEnabled() {
    return fastPathsEnabled.load(std::memory_order_relaxed);
}

bool UseAesNi() {
    return CryptoFastPathsEnabled() && CpuHasAesNi();
}
bool UseShaNi() {
    return CryptoFastPathsEnabled() && CpuHasShaNi();
}
bool UsePclmul() {
    return CryptoFastPathsEnabled() && CpuHasPclmul();
}
