// Non-negative arbitrary-precision integers for the public-key algorithms.
//
// Values are kept as 64-bit limbs, least significant first, without leading
// zero limbs. Storage is wiped before it is released, so a number that held a
// secret (a private exponent, a shared secret) leaves nothing behind when it is
// destroyed, reassigned or grown.
#pragma once

#include <compare>
#include <cstddef>
#include <cstring>
#include <cstdint>
#include <limits>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "platform/wipe.h"

// Bytes that may hold secrets.
using SecureBytes = std::vector<std::uint8_t, WipingAllocator<std::uint8_t>>;

// Appends bytes at memcpy speed. With an allocator of its own, the library's
// range insert and assign copy into fresh capacity one byte at a time: ten times
// slower on the packet paths.
inline void AppendBytes(SecureBytes& out, std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    const std::size_t old = out.size();
    out.resize(old + bytes.size());
    std::memcpy(out.data() + old, bytes.data(), bytes.size());
}
inline void AssignBytes(SecureBytes& out, std::span<const std::uint8_t> bytes) {
    out.clear();
    AppendBytes(out, bytes);
}

class BigNum {
  public:
    using Limb = std::uint64_t;
    using Limbs = std::vector<Limb, WipingAllocator<Limb>>;
    static constexpr std::size_t kLimbBits = 64;

    BigNum() = default;
    explicit BigNum(std::uint64_t value);

    // Big-endian bytes; leading zero bytes are allowed and dropped.
    static BigNum FromBytes(std::span<const std::uint8_t> bigEndian);
    // Minimal big-endian form; zero gives no bytes.
    SecureBytes ToBytes() const;
    // Big-endian, left-padded with zeros to out.size(); false when it does not fit.
    bool ToBytes(std::span<std::uint8_t> out) const;

    std::size_t BitCount() const;
    std::size_t ByteCount() const { return (BitCount() + 7) / 8; }
    // Byte and bit access count from the least significant end; positions
    // beyond the value read as zero.
    std::uint8_t Byte(std::size_t index) const;
    bool Bit(std::size_t index) const;
    // Grows the number as needed.
    void SetBit(std::size_t index);

    bool IsZero() const { return limbs_.empty(); }
    bool IsOdd() const { return !limbs_.empty() && (limbs_[0] & 1) != 0; }

    // "0x" followed by lower-case hexadecimal digits ("0x0" for zero).
    std::string ToHex() const;
    std::string ToDecimal() const;

    friend int Compare(const BigNum& a, const BigNum& b);
    friend bool operator==(const BigNum& a, const BigNum& b) { return Compare(a, b) == 0; }
    friend std::strong_ordering operator<=>(const BigNum& a, const BigNum& b) {
        return Compare(a, b) <=> 0;
    }

    // Limb view for the arithmetic in this module.
    const Limbs& limbs() const { return limbs_; }
    static BigNum FromLimbs(Limbs limbs);

  private:
    void Normalize();

    Limbs limbs_;
};

// Arithmetic. Subtract requires a >= b, and a zero divisor or modulus is a
// program fault: both abort rather than produce a wrong number. Callers
// validate values from the network before they get here.
BigNum Add(const BigNum& a, const BigNum& b);
BigNum Subtract(const BigNum& a, const BigNum& b);
BigNum Multiply(const BigNum& a, const BigNum& b);
void DivMod(const BigNum& a, const BigNum& b, BigNum* quotient, BigNum* remainder);
BigNum Mod(const BigNum& a, const BigNum& modulus);
BigNum ModMul(const BigNum& a, const BigNum& b, const BigNum& modulus);
// base^exponent mod modulus; Montgomery form with a sliding window for odd
// moduli, plain square-and-multiply for even ones. Not constant-time.
BigNum ModExp(const BigNum& base, const BigNum& exponent, const BigNum& modulus);
// The same for secret exponents, in time independent of the exponent's value: fixed 4-bit
// windows over as many bits as the modulus has limbs, each table entry read for every
// window. The modulus must be odd (an even one aborts, as a program fault).
BigNum ModExpSecret(const BigNum& base, const BigNum& exponent, const BigNum& modulus);
// The x in [0, modulus) with a * x = 1 (mod modulus); false when none exists.
bool ModInverse(const BigNum& a, const BigNum& modulus, BigNum* inverse);
