// Modular exponentiation: Montgomery multiplication with a sliding window for
// odd moduli (every modulus the protocols use), square-and-multiply otherwise.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "crypto/bignum.h"
#include "crypto/bignum_limbs.h"

using namespace bignum_limbs;

namespace {

class Montgomery {
  public:
    explicit Montgomery(const BigNum& modulus)
        : n_(modulus.limbs()), k_(n_.size()), scratch_(2 * k_ + 1), difference_(k_) {
        // -n^-1 mod 2^64 by Newton's iteration; an odd n is its own inverse
        // modulo 8, and each step doubles the number of correct bits.
        Limb inverse = n_[0];
        for (int i = 0; i < 5; ++i)
            inverse *= 2 - n_[0] * inverse;
        n0_ = 0 - inverse;

        BigNum r2;
        r2.SetBit(2 * k_ * BigNum::kLimbBits);
        rSquared_ = Widen(Mod(r2, modulus));
    }

    std::size_t limbs() const { return k_; }

    BigNum::Limbs ToMontgomery(const BigNum& value) const {
        BigNum::Limbs result(k_);
        Multiply(result.data(), Widen(value).data(), rSquared_.data());
        return result;
    }

    BigNum FromMontgomery(const BigNum::Limbs& value) const {
        BigNum::Limbs one(k_, 0), result(k_);
        one[0] = 1;
        Multiply(result.data(), value.data(), one.data());
        return BigNum::FromLimbs(std::move(result));
    }

    // r = a * b / R mod n, all of k limbs and below n. r may alias a or b.
    void Multiply(Limb* r, const Limb* a, const Limb* b) const {
        Limb* t = scratch_.data();
        std::fill(t, t + 2 * k_ + 1, 0);
        for (std::size_t i = 0; i < k_; ++i)
            t[i + k_] = MulAddN(t + i, a, k_, b[i]);
        ReduceAndFinish(r, t);
    }

    void Square(Limb* r, const Limb* a) const {
        // Off-diagonal products once, doubled, plus the squares on the
        // diagonal; then k word-by-word reductions.
        Limb* t = scratch_.data();
        std::fill(t, t + 2 * k_ + 1, 0);
        for (std::size_t i = 0; i + 1 < k_; ++i) {
            t[i + k_] = MulAddN(t + 2 * i + 1, a + i + 1, k_ - i - 1, a[i]);
        }
        Limb carry = 0;
        for (std::size_t i = 0; i < 2 * k_; ++i) {
            Limb limb = t[i];
            t[i] = (limb << 1) | carry;
            carry = limb >> 63;
        }
        Limb addCarry = 0;
        for (std::size_t i = 0; i < k_; ++i) {
            Wide square = static_cast<Wide>(a[i]) * a[i];
            Wide low = static_cast<Wide>(t[2 * i]) + static_cast<Limb>(square) + addCarry;
            t[2 * i] = static_cast<Limb>(low);
            Wide high = static_cast<Wide>(t[2 * i + 1]) + static_cast<Limb>(square >> 64) +
                        static_cast<Limb>(low >> 64);
            t[2 * i + 1] = static_cast<Limb>(high);
            addCarry = static_cast<Limb>(high >> 64);
        }
        ReduceAndFinish(r, t);
    }

  private:
    BigNum::Limbs Widen(const BigNum& value) const {
        BigNum::Limbs wide(k_, 0);
        std::copy(value.limbs().begin(), value.limbs().end(), wide.begin());
        return wide;
    }

    // Montgomery reduction of a 2k-limb t below n^2: k steps, each adding the
    // multiple of n that clears the lowest remaining limb; the result t / R is
    // below 2n and sits in t[k..2k].
    void ReduceAndFinish(Limb* r, Limb* t) const {
        Limb carry = 0;
        for (std::size_t i = 0; i < k_; ++i) {
            Limb m = t[i] * n0_;
            Wide sum = static_cast<Wide>(t[i + k_]) + MulAddN(t + i, n_.data(), k_, m) + carry;
            t[i + k_] = static_cast<Limb>(sum);
            carry = static_cast<Limb>(sum >> 64);
        }
        t[2 * k_] = carry;
        Finish(r, t + k_);
    }

    // t has k + 1 limbs and is below 2n: r = t mod n. The subtraction always runs and its
    // result is chosen by mask, so the secret exponentiation shows no branch here.
    void Finish(Limb* r, Limb* t) const {
        Limb* difference = difference_.data();
        const Limb borrow = SubN(difference, t, n_.data(), k_);
        const Limb keepDifference = 0 - ((t[k_] | (borrow ^ 1)) & 1);
        for (std::size_t i = 0; i < k_; ++i)
            r[i] = (difference[i] & keepDifference) | (t[i] & ~keepDifference);
    }

    const BigNum::Limbs& n_;
    std::size_t k_;
    Limb n0_ = 0;
    BigNum::Limbs rSquared_;
    mutable BigNum::Limbs scratch_;
    mutable BigNum::Limbs difference_;
};

// Window width by exponent size: wider windows cost more precomputation and
// save multiplications on long exponents.
int WindowBits(std::size_t exponentBits) {
    static constexpr struct {
        std::size_t minBits;
        int window;
    } kWindows[] = {{672, 6}, {240, 5}, {80, 4}, {24, 3}, {0, 1}};
    for (const auto& row : kWindows) {
        if (exponentBits >= row.minBits) return row.window;
    }
    return 1;
}

BigNum MontgomeryExp(const BigNum& base, const BigNum& exponent, const BigNum& modulus) {
    Montgomery mont(modulus);
    const std::size_t k = mont.limbs();
    const int window = WindowBits(exponent.BitCount());

    // Odd powers base^1, base^3, ..., base^(2^window - 1).
    std::vector<BigNum::Limbs> powers(std::size_t{1} << (window - 1));
    powers[0] = mont.ToMontgomery(Mod(base, modulus));
    BigNum::Limbs square(k);
    mont.Square(square.data(), powers[0].data());
    for (std::size_t i = 1; i < powers.size(); ++i) {
        powers[i].resize(k);
        mont.Multiply(powers[i].data(), powers[i - 1].data(), square.data());
    }

    BigNum::Limbs result = mont.ToMontgomery(BigNum(1));
    bool started = false;
    for (std::size_t bit = exponent.BitCount(); bit-- > 0;) {
        if (!exponent.Bit(bit)) {
            if (started) mont.Square(result.data(), result.data());
            continue;
        }
        std::size_t low = bit + 1 >= static_cast<std::size_t>(window) ? bit + 1 - window : 0;
        while (!exponent.Bit(low))
            ++low;
        std::size_t value = 0;
        for (std::size_t i = bit + 1; i-- > low;)
            value = (value << 1) | exponent.Bit(i);
        if (started) {
            for (std::size_t i = low; i <= bit; ++i)
                mont.Square(result.data(), result.data());
            mont.Multiply(result.data(), result.data(), powers[value >> 1].data());
        } else {
            result = powers[value >> 1];
            started = true;
        }
        bit = low;
    }
    return mont.FromMontgomery(result);
}

// Fixed 4-bit windows over an exponent as wide as the modulus: every window costs four
// squarings, a read of the whole table under masks and a multiplication, whatever its bits.
constexpr int kSecretWindowBits = 4;
constexpr std::size_t kSecretTableSize = std::size_t{1} << kSecretWindowBits;

// All ones when a == b, else zero, without a comparison the compiler could branch on.
inline Limb EqualMask(Limb a, Limb b) {
    Limb mask = 0 - (((a ^ b) - 1) >> 63);
#if defined(__GNUC__)
    __asm__("" : "+r"(mask));
#endif
    return mask;
}

BigNum MontgomeryExpSecret(const BigNum& base, const BigNum& exponent, const BigNum& modulus) {
    Montgomery mont(modulus);
    const std::size_t k = mont.limbs();
    // The exponent's own length shows only as a limb count beyond the modulus's.
    const std::size_t width = std::max(k, exponent.limbs().size());
    BigNum::Limbs e(width, 0);
    std::copy(exponent.limbs().begin(), exponent.limbs().end(), e.begin());

    // table[i] = base^i in Montgomery form, one flat vector.
    BigNum::Limbs table(kSecretTableSize * k);
    const BigNum::Limbs one = mont.ToMontgomery(BigNum(1));
    const BigNum::Limbs power = mont.ToMontgomery(Mod(base, modulus));
    std::copy(one.begin(), one.end(), table.begin());
    std::copy(power.begin(), power.end(), table.begin() + static_cast<std::ptrdiff_t>(k));
    for (std::size_t i = 2; i < kSecretTableSize; ++i)
        mont.Multiply(&table[i * k], &table[(i - 1) * k], power.data());

    BigNum::Limbs result(k), selected(k);
    auto select = [&](Limb window) {
        std::fill(selected.begin(), selected.end(), 0);
        for (std::size_t i = 0; i < kSecretTableSize; ++i) {
            const Limb mask = EqualMask(i, window);
            for (std::size_t j = 0; j < k; ++j)
                selected[j] |= table[i * k + j] & mask;
        }
    };
    constexpr std::size_t kWindowsPerLimb = BigNum::kLimbBits / kSecretWindowBits;
    const std::size_t windows = width * kWindowsPerLimb;
    for (std::size_t w = windows; w-- > 0;) {
        const Limb window = (e[w / kWindowsPerLimb] >> (w % kWindowsPerLimb * kSecretWindowBits)) &
                            (kSecretTableSize - 1);
        select(window);
        if (w + 1 == windows) {
            result = selected;
            continue;
        }
        for (int s = 0; s < kSecretWindowBits; ++s)
            mont.Square(result.data(), result.data());
        mont.Multiply(result.data(), result.data(), selected.data());
    }
    return mont.FromMontgomery(result);
}

BigNum PlainExp(const BigNum& base, const BigNum& exponent, const BigNum& modulus) {
    BigNum result = Mod(BigNum(1), modulus);
    BigNum power = Mod(base, modulus);
    for (std::size_t bit = exponent.BitCount(); bit-- > 0;) {
        result = ModMul(result, result, modulus);
        if (exponent.Bit(bit)) result = ModMul(result, power, modulus);
    }
    return result;
}

}  // namespace

BigNum ModExp(const BigNum& base, const BigNum& exponent, const BigNum& modulus) {
    if (modulus.IsZero()) {
        std::fprintf(stderr, "bignum: zero modulus\n");
        std::abort();
    }
    if (modulus == BigNum(1)) return BigNum();
    return modulus.IsOdd() ? MontgomeryExp(base, exponent, modulus)
                           : PlainExp(base, exponent, modulus);
}

BigNum ModExpSecret(const BigNum& base, const BigNum& exponent, const BigNum& modulus) {
    if (!modulus.IsOdd()) {
        std::fprintf(stderr, "bignum: secret exponentiation needs an odd modulus\n");
        std::abort();
    }
    if (modulus == BigNum(1)) return BigNum();
    return MontgomeryExpSecret(base, exponent, modulus);
}
