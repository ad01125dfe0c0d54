// Big-integer representation, text forms and the four basic operations.
#include "crypto/bignum.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>

#include "crypto/bignum_limbs.h"

using namespace bignum_limbs;

namespace {

[[noreturn]] void ProgramFault(const char* what) {
    std::fprintf(stderr, "bignum: %s\n", what);
    std::abort();
}

// u = q * v + r for v of at least two limbs, Knuth's algorithm D. u has m
// limbs, v has n limbs, m >= n >= 2, and the top limb of v is non-zero.
void LongDivide(const Limb* u, std::size_t m, const Limb* v, std::size_t n, BigNum::Limbs* q,
                BigNum::Limbs* r) {
    int shift = std::countl_zero(v[n - 1]);
    BigNum::Limbs vn(n), un(m + 1);
    for (std::size_t i = n; i-- > 0;) {
        vn[i] = (v[i] << shift) | (shift && i > 0 ? v[i - 1] >> (64 - shift) : 0);
    }
    un[m] = shift ? u[m - 1] >> (64 - shift) : 0;
    for (std::size_t i = m; i-- > 0;) {
        un[i] = (u[i] << shift) | (shift && i > 0 ? u[i - 1] >> (64 - shift) : 0);
    }

    const Wide base = static_cast<Wide>(1) << 64;
    const Limb top = vn[n - 1], next = vn[n - 2];
    if (q) q->assign(m - n + 1, 0);
    for (std::size_t j = m - n + 1; j-- > 0;) {
        Wide numerator = (static_cast<Wide>(un[j + n]) << 64) | un[j + n - 1];
        Wide qhat = numerator / top;
        Wide rhat = numerator % top;
        while (qhat >= base || qhat * next > ((rhat << 64) | un[j + n - 2])) {
            --qhat;
            rhat += top;
            if (rhat >= base) break;
        }
        // un[j..j+n] -= qhat * vn
        Limb mulCarry = 0, borrow = 0;
        for (std::size_t i = 0; i < n; ++i) {
            Wide product = qhat * vn[i] + mulCarry;
            mulCarry = static_cast<Limb>(product >> 64);
            Limb low = static_cast<Limb>(product);
            Limb ui = un[i + j];
            Limb diff = ui - low;
            Limb borrowOut = (ui < low) | (diff < borrow);
            un[i + j] = diff - borrow;
            borrow = borrowOut;
        }
        Wide subtrahend = static_cast<Wide>(mulCarry) + borrow;
        bool negative = un[j + n] < subtrahend;
        un[j + n] = static_cast<Limb>(un[j + n] - subtrahend);
        if (negative) {
            --qhat;
            Limb carry = AddN(&un[j], &un[j], vn.data(), n);
            un[j + n] += carry;
        }
        if (q) (*q)[j] = static_cast<Limb>(qhat);
    }
    if (r) {
        r->assign(n, 0);
        for (std::size_t i = 0; i < n; ++i) {
            (*r)[i] = (un[i] >> shift) | (shift ? un[i + 1] << (64 - shift) : 0);
        }
    }
}

// Divides a by a single limb in place; returns the remainder.
Limb DivideBySmall(BigNum::Limbs& a, Limb divisor) {
    Wide remainder = 0;
    for (std::size_t i = a.size(); i-- > 0;) {
        Wide current = (remainder << 64) | a[i];
        a[i] = static_cast<Limb>(current / divisor);
        remainder = current % divisor;
    }
    return static_cast<Limb>(remainder);
}

}  // namespace

BigNum::BigNum(std::uint64_t value) {
    if (value) limbs_.push_back(value);
}

BigNum BigNum::FromLimbs(Limbs limbs) {
    BigNum result;
    result.limbs_ = std::move(limbs);
    result.Normalize();
    return result;
}

void BigNum::Normalize() {
    while (!limbs_.empty() && limbs_.back() == 0)
        limbs_.pop_back();
}

BigNum BigNum::FromBytes(std::span<const std::uint8_t> bigEndian) {
    Limbs limbs((bigEndian.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < bigEndian.size(); ++i) {
        std::size_t fromEnd = bigEndian.size() - 1 - i;
        limbs[fromEnd / 8] |= static_cast<Limb>(bigEndian[i]) << (8 * (fromEnd % 8));
    }
    return FromLimbs(std::move(limbs));
}

SecureBytes BigNum::ToBytes() const {
    SecureBytes out(ByteCount());
    ToBytes(out);
    return out;
}

bool BigNum::ToBytes(std::span<std::uint8_t> out) const {
    if (ByteCount() > out.size()) return false;
    for (std::size_t i = 0; i < out.size(); ++i)
        out[out.size() - 1 - i] = Byte(i);
    return true;
}

std::size_t BigNum::BitCount() const {
    if (limbs_.empty()) return 0;
    return limbs_.size() * kLimbBits - std::countl_zero(limbs_.back());
}

std::uint8_t BigNum::Byte(std::size_t index) const {
    if (index / 8 >= limbs_.size()) return 0;
    return static_cast<std::uint8_t>(limbs_[index / 8] >> (8 * (index % 8)));
}

bool BigNum::Bit(std::size_t index) const {
    if (index / kLimbBits >= limbs_.size()) return false;
    return (limbs_[index / kLimbBits] >> (index % kLimbBits)) & 1;
}

void BigNum::SetBit(std::size_t index) {
    if (index / kLimbBits >= limbs_.size()) limbs_.resize(index / kLimbBits + 1, 0);
    limbs_[index / kLimbBits] |= static_cast<Limb>(1) << (index % kLimbBits);
}

std::string BigNum::ToHex() const {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text = "0x";
    std::size_t nibbles = std::max<std::size_t>(1, (BitCount() + 3) / 4);
    for (std::size_t i = nibbles; i-- > 0;) {
        text += kDigits[(limbs_.empty() ? 0 : limbs_[i / 16] >> (4 * (i % 16))) & 0xF];
    }
    return text;
}

std::string BigNum::ToDecimal() const {
    if (limbs_.empty()) return "0";
    constexpr Limb kChunk = 10000000000000000000ull;  // 10^19
    Limbs value = limbs_;
    std::string reversed;
    while (!value.empty()) {
        Limb chunk = DivideBySmall(value, kChunk);
        while (!value.empty() && value.back() == 0)
            value.pop_back();
        for (int digit = 0; digit < 19 && (chunk || !value.empty()); ++digit) {
            reversed += static_cast<char>('0' + chunk % 10);
            chunk /= 10;
        }
    }
    return std::string(reversed.rbegin(), reversed.rend());
}

int Compare(const BigNum& a, const BigNum& b) {
    const auto &x = a.limbs_, &y = b.limbs_;
    if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
    return CompareN(x.data(), y.data(), x.size());
}

BigNum Add(const BigNum& a, const BigNum& b) {
    const BigNum& longer = a.limbs().size() >= b.limbs().size() ? a : b;
    const BigNum& shorter = &longer == &a ? b : a;
    BigNum::Limbs sum = longer.limbs();
    std::size_t n = shorter.limbs().size();
    sum.push_back(0);
    Limb carry = AddN(sum.data(), sum.data(), shorter.limbs().data(), n);
    for (std::size_t i = n; carry; ++i) {
        sum[i] += 1;
        carry = sum[i] == 0;
    }
    return BigNum::FromLimbs(std::move(sum));
}

BigNum Subtract(const BigNum& a, const BigNum& b) {
    if (Compare(a, b) < 0) ProgramFault("subtraction below zero");
    BigNum::Limbs difference = a.limbs();
    std::size_t n = b.limbs().size();
    Limb borrow = SubN(difference.data(), difference.data(), b.limbs().data(), n);
    for (std::size_t i = n; borrow; ++i) {
        borrow = difference[i] == 0;
        difference[i] -= 1;
    }
    return BigNum::FromLimbs(std::move(difference));
}

BigNum Multiply(const BigNum& a, const BigNum& b) {
    const auto &x = a.limbs(), &y = b.limbs();
    if (x.empty() || y.empty()) return BigNum();
    BigNum::Limbs product(x.size() + y.size(), 0);
    for (std::size_t i = 0; i < y.size(); ++i) {
        product[i + x.size()] = MulAddN(&product[i], x.data(), x.size(), y[i]);
    }
    return BigNum::FromLimbs(std::move(product));
}

void DivMod(const BigNum& a, const BigNum& b, BigNum* quotient, BigNum* remainder) {
    const auto &u = a.limbs(), &v = b.limbs();
    if (v.empty()) ProgramFault("division by zero");
    if (Compare(a, b) < 0) {
        if (remainder) *remainder = a;
        if (quotient) *quotient = BigNum();
        return;
    }
    BigNum::Limbs q, r;
    if (v.size() == 1) {
        q = u;
        r.assign(1, DivideBySmall(q, v[0]));
    } else {
        LongDivide(u.data(), u.size(), v.data(), v.size(), quotient ? &q : nullptr, &r);
    }
    if (quotient) *quotient = BigNum::FromLimbs(std::move(q));
    if (remainder) *remainder = BigNum::FromLimbs(std::move(r));
}

BigNum Mod(const BigNum& a, const BigNum& modulus) {
    BigNum remainder;
    DivMod(a, modulus, nullptr, &remainder);
    return remainder;
}

BigNum ModMul(const BigNum& a, const BigNum& b, const BigNum& modulus) {
    if (modulus.IsZero()) ProgramFault("zero modulus");
    return Mod(Multiply(a, b), modulus);
}

// Extended Euclid with the Bezout coefficient of a kept reduced modulo the
// modulus, so every intermediate stays non-negative.
bool ModInverse(const BigNum& a, const BigNum& modulus, BigNum* inverse) {
    if (modulus.IsZero()) ProgramFault("zero modulus");
    BigNum previousRemainder = modulus, remainder = Mod(a, modulus);
    BigNum previousCoefficient, coefficient(1);
    while (!remainder.IsZero()) {
        BigNum quotient, nextRemainder;
        DivMod(previousRemainder, remainder, &quotient, &nextRemainder);
        BigNum step = ModMul(quotient, coefficient, modulus);
        BigNum nextCoefficient = Compare(previousCoefficient, step) >= 0
                                     ? Subtract(previousCoefficient, step)
                                     : Subtract(Add(previousCoefficient, modulus), step);
        previousRemainder = std::move(remainder);
        remainder = std::move(nextRemainder);
        previousCoefficient = std::move(coefficient);
        coefficient = std::move(nextCoefficient);
    }
    if (previousRemainder != BigNum(1)) return false;
    *inverse = Mod(previousCoefficient, modulus);
    return true;
}
