// bench_crypto: prints one table of our crypto primitives against libcrypto.
//   bench_crypto            all rows (the portable ones from a child process)
//   bench_crypto --portable-rows   only the portable symmetric rows, without a header
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/crypto/bench.h"

namespace {

void PrintHeader() {
    std::printf("%-36s %-9s %14s %14s %9s\n", "benchmark", "path", "ours", "libcrypto", "ours/lib");
    std::printf("%s\n", std::string(86, '-').c_str());
}

std::string Ratio(double ours, double theirs) {
    if (theirs <= 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", ours / theirs);
    return text;
}

}  // namespace

void PrintRow(const std::string& name, double oursSeconds, double opensslSeconds) {
    char ours[32], theirs[32];
    std::snprintf(ours, sizeof ours, "%.3f ms", oursSeconds * 1e3);
    std::snprintf(theirs, sizeof theirs, "%.3f ms", opensslSeconds * 1e3);
    std::printf("%-36s %-9s %14s %14s %9s\n", name.c_str(), "-", ours, theirs,
                Ratio(oursSeconds, opensslSeconds).c_str());
    std::fflush(stdout);
}

void PrintThroughputRow(const std::string& name, const std::string& path, double bytes,
                        double oursSeconds, double opensslSeconds) {
    char ours[32], theirs[32] = "-";
    std::snprintf(ours, sizeof ours, "%.1f MB/s", bytes / oursSeconds / 1e6);
    if (opensslSeconds > 0)
        std::snprintf(theirs, sizeof theirs, "%.1f MB/s", bytes / opensslSeconds / 1e6);
    std::printf("%-36s %-9s %14s %14s %9s\n", name.c_str(), path.c_str(), ours, theirs,
                Ratio(oursSeconds, opensslSeconds).c_str());
    std::fflush(stdout);
}

bool RunPortableRowsInChild(const char* selfPath) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        // Clear AES-NI and PCLMULQDQ (CPUID 1 ECX) and the SHA extensions (CPUID 7 EBX).
        setenv("OPENSSL_ia32cap", "~0x200000200000000:~0x20000000", 1);
        execl(selfPath, selfPath, kPortableRowsArgument, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (waitpid(child, &status, 0) < 0) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Until the public-key rows exist, the program still links.
__attribute__((weak)) void RunPublicKeyBenchmarks() {}

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], kPortableRowsArgument) == 0) {
        RunSymmetricPortableRows();
        return 0;
    }
    std::printf("Packets of 32 KiB; ratio = our time / libcrypto's time (below 1 is faster).\n");
    PrintHeader();
    RunSymmetricBenchmarks();
    RunPublicKeyBenchmarks();
    return 0;
}
