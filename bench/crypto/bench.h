// Crypto micro-benchmarks: our primitives next to OpenSSL's libcrypto in the same run.
#pragma once

#include <chrono>
#include <string>

// A row of time per operation (public-key rows): ours, libcrypto's, and their ratio.
void PrintRow(const std::string& name, double oursSeconds, double opensslSeconds);

// A row of throughput over packets of `bytes` bytes; path says which of our code paths ran.
// opensslSeconds <= 0 means libcrypto has no counterpart for the row.
void PrintThroughputRow(const std::string& name, const std::string& path, double bytes,
                        double oursSeconds, double opensslSeconds);

// Seconds per call of op, averaged over as many calls as fit in the budget.
template <typename Op>
double SecondsPerCall(Op&& op, double budgetSeconds = 0.5) {
    using Clock = std::chrono::steady_clock;
    int calls = 0;
    const Clock::time_point start = Clock::now();
    double elapsed = 0;
    do {
        op();
        ++calls;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < budgetSeconds);
    return elapsed / calls;
}

void RunSymmetricBenchmarks();
void RunPublicKeyBenchmarks();
// X25519 and Ed25519 (called by RunPublicKeyBenchmarks).
void RunCurve25519Benchmarks();
// The NIST curves (called by RunPublicKeyBenchmarks).
void RunEccBenchmarks();

// The symmetric rows of the portable paths, run in a child process whose libcrypto has its
// AES and SHA instructions masked, so that table-driven code meets libcrypto's own
// instruction-free code. Returns false when the child could not be started.
bool RunPortableRowsInChild(const char* selfPath);
void RunSymmetricPortableRows();

// Argument that makes the program print only the portable rows (used for the child).
inline constexpr const char* kPortableRowsArgument = "--portable-rows";
