// Run-time choice between the portable code and the processor's crypto instructions.
#pragma once

// Whether the processor offers the instructions (independent of the switch below).
bool CpuHasAesNi();
bool CpuHasShaNi();
// Carry-less multiplication (PCLMULQDQ) with SSE4.1 and SSSE3, for GHASH.
bool CpuHasPclmul();
// AVX2 with the operating system saving the 256-bit registers, for ChaCha20.
bool CpuHasAvx2();
// AVX-512 Foundation with the system saving the 512-bit and mask registers.
bool CpuHasAvx512();

// Fast paths are on by default; tests and benchmarks switch them off to exercise the
// portable code. Contexts pick their path when their key is set.
void CryptoSetFastPaths(bool enabled);
bool CryptoFastPathsEnabled();

bool UseAesNi();
bool UseShaNi();
bool UsePclmul();
bool UseAvx2();
bool UseAvx512();
