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
    bool avx2 = false;
    bool avx512 = false;
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
    // The 256-bit registers are usable only when the system saves them (XCR0 bits 1, 2).
    bool ymmSaved = false, zmmSaved = false;
    if ((ecx & bit_OSXSAVE) != 0 && (ecx & bit_AVX) != 0) {
        unsigned xcr0Low = 0, xcr0High = 0;
        __asm__("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
        ymmSaved = (xcr0Low & 6) == 6;
        zmmSaved = (xcr0Low & 0xE6) == 0xE6;  // also the mask and upper 512-bit registers
    }
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) {
        features.shaNi = sse41 && ssse3 && (ebx & bit_SHA) != 0;
        features.avx2 = ymmSaved && (ebx & bit_AVX2) != 0;
        features.avx512 = zmmSaved && (ebx & bit_AVX512F) != 0;
    }
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
bool CpuHasAvx2() {
    return Features().avx2;
}
bool CpuHasAvx512() {
    return Features().avx512;
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
bool UseAvx2() {
    return CryptoFastPathsEnabled() && CpuHasAvx2();
}
bool UseAvx512() {
    return CryptoFastPathsEnabled() && CpuHasAvx512();
}
