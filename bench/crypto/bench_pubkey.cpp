// Modular exponentiation of the key exchanges next to libcrypto's BN_mod_exp:
// 2048- and 4096-bit odd moduli with a 512-bit exponent (the private exponent
// size of the largest group-exchange request).
#include <openssl/bn.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/crypto/bench.h"
#include "crypto/bignum.h"

namespace {

std::vector<std::uint8_t> RandomBytes(std::mt19937_64& rng, std::size_t length) {
    std::vector<std::uint8_t> bytes(length);
    for (auto& byte : bytes)
        byte = static_cast<std::uint8_t>(rng());
    bytes.front() |= 0x80;
    return bytes;
}

void BenchModExp(std::size_t modulusBits, std::size_t exponentBits) {
    std::mt19937_64 rng(modulusBits);
    std::vector<std::uint8_t> modulus = RandomBytes(rng, modulusBits / 8);
    modulus.back() |= 1;
    std::vector<std::uint8_t> base = RandomBytes(rng, modulusBits / 8 - 1);
    std::vector<std::uint8_t> exponent = RandomBytes(rng, exponentBits / 8);

    BigNum m = BigNum::FromBytes(modulus), b = BigNum::FromBytes(base),
           e = BigNum::FromBytes(exponent);
    BigNum sink;
    double ours = SecondsPerCall([&] { sink = ModExp(b, e, m); });

    BIGNUM* bm = BN_bin2bn(modulus.data(), static_cast<int>(modulus.size()), nullptr);
    BIGNUM* bb = BN_bin2bn(base.data(), static_cast<int>(base.size()), nullptr);
    BIGNUM* be = BN_bin2bn(exponent.data(), static_cast<int>(exponent.size()), nullptr);
    BIGNUM* result = BN_new();
    BN_CTX* ctx = BN_CTX_new();
    double theirs = SecondsPerCall([&] { BN_mod_exp(result, bb, be, bm, ctx); });

    // Both sides must have computed the same number, or the timing means nothing.
    std::vector<std::uint8_t> check(BN_num_bytes(result));
    BN_bn2bin(result, check.data());
    if (BigNum::FromBytes(check) != sink) std::fprintf(stderr, "modexp mismatch!\n");

    BN_CTX_free(ctx);
    for (BIGNUM* bn : {bm, bb, be, result})
        BN_free(bn);

    std::string name = "modexp " + std::to_string(modulusBits) + "-bit, " +
                       std::to_string(exponentBits) + "-bit exponent";
    PrintRow(name, ours, theirs);
}

}  // namespace

void RunPublicKeyBenchmarks() {
    BenchModExp(2048, 512);
    BenchModExp(4096, 512);
    RunCurve25519Benchmarks();
    RunEccBenchmarks();
}
