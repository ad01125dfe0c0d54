// Diffie-Hellman over a prime field: the fixed groups 1 and 14, or a group
// the server gives.
#pragma once

#include <cstddef>
#include <memory>

#include "crypto/bignum.h"

// Server-given primes outside this range are refused.
constexpr std::size_t kDhMinGroupBits = 1024;
constexpr std::size_t kDhMaxGroupBits = 8192;

class DhContext {
  public:
    // Group 1: the 1024-bit prime of RFC 2409 (Oakley group 2), generator 2.
    static std::unique_ptr<DhContext> Group1();
    // Group 14: the 2048-bit prime of RFC 3526, generator 2.
    static std::unique_ptr<DhContext> Group14();
    // Groups 16 and 18: the 4096- and 8192-bit primes of RFC 3526, generator 2.
    static std::unique_ptr<DhContext> Group16();
    static std::unique_ptr<DhContext> Group18();
    // A group from group exchange, used as given once it passes the sanity
    // checks: p odd and of 1024 to 8192 bits, 2 <= g <= p - 2. nullptr otherwise.
    static std::unique_ptr<DhContext> FromGroup(BigNum p, BigNum g);

    const BigNum& prime() const { return p_; }
    const BigNum& generator() const { return g_; }

    // Draws a private exponent of the given number of bits from the random
    // pool and returns e = g^x mod p.
    BigNum MakeE(std::size_t exponentBits);
    // K = f^x mod p; false when f is outside [2, p - 2] or no exponent exists.
    bool FindK(const BigNum& f, BigNum* k) const;

  private:
    DhContext(BigNum p, BigNum g) : p_(std::move(p)), g_(std::move(g)) {}

    BigNum p_, g_, x_;
};
