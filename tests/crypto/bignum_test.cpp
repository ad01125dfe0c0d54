// Big-integer arithmetic checked against libcrypto on random operands, with sizes around
// the edges of the 64-bit limbs; the fixed-window exponentiation for secrets against
// libcrypto too.
#include <gtest/gtest.h>
#include <openssl/err.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "bignum_test_support.h"

namespace {

// Byte lengths: zero, one byte, one limb and its neighbours, limb boundaries
// further up, and the sizes of real moduli.
constexpr std::size_t kEdgeLengths[] = {0,  1,  7,  8,  9,  15, 16,  17,
                                        24, 31, 32, 33, 64, 65, 128, 256};

// Values whose limbs sit at the extremes: all ones, a single top bit, and
// one above a limb boundary.
std::vector<BigNum> PatternNumbers() {
    std::vector<BigNum> numbers;
    for (std::size_t limbs : {1, 2, 3, 5}) {
        std::vector<std::uint8_t> ones(8 * limbs, 0xFF), topBit(8 * limbs, 0),
            above(8 * limbs + 1, 0);
        topBit[0] = 0x80;
        above[0] = 1;
        above.back() = 1;
        numbers.push_back(BigNum::FromBytes(ones));
        numbers.push_back(BigNum::FromBytes(topBit));
        numbers.push_back(BigNum::FromBytes(above));
    }
    return numbers;
}

std::vector<BigNum> Operands(std::mt19937_64& rng) {
    std::vector<BigNum> operands = PatternNumbers();
    for (std::size_t length : kEdgeLengths)
        operands.push_back(RandomNumber(rng, length));
    return operands;
}

void ExpectSame(const BigNum& ours, const BIGNUM* reference, const std::string& what) {
    Bn converted = ToBn(ours);
    EXPECT_EQ(BN_cmp(converted.get(), reference), 0) << what;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

TEST(BigNumBytes, LeadingZerosAreDroppedAndPaddingRestoresThem) {
    const std::vector<std::uint8_t> bytes = {0x00, 0x00, 0x01, 0x02, 0x03, 0x04,
                                             0x05, 0x06, 0x07, 0x08, 0x09};
    BigNum value = BigNum::FromBytes(bytes);
    EXPECT_EQ(value.BitCount(), 65u);
    EXPECT_EQ(value.ByteCount(), 9u);
    EXPECT_EQ(value.ToBytes().size(), 9u);
    std::vector<std::uint8_t> padded(11);
    ASSERT_TRUE(value.ToBytes(padded));
    EXPECT_EQ(padded, bytes);
    std::vector<std::uint8_t> tooShort(8);
    EXPECT_FALSE(value.ToBytes(tooShort));
    EXPECT_TRUE(BigNum::FromBytes({}).IsZero());
    EXPECT_TRUE(BigNum::FromBytes(std::vector<std::uint8_t>(20, 0)).IsZero());
}

TEST(BigNumBytes, BitAndByteAccessMatchLibcrypto) {
    std::mt19937_64 rng(1);
    for (const BigNum& value : Operands(rng)) {
        Bn reference = ToBn(value);
        ASSERT_EQ(value.BitCount(), static_cast<std::size_t>(BN_num_bits(reference.get())));
        for (std::size_t bit = 0; bit < value.BitCount() + 70; bit += 3) {
            EXPECT_EQ(value.Bit(bit), BN_is_bit_set(reference.get(), static_cast<int>(bit)) == 1);
        }
        SecureBytes bytes = value.ToBytes();
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            EXPECT_EQ(value.Byte(i), bytes[bytes.size() - 1 - i]);
        }
        EXPECT_EQ(value.Byte(bytes.size() + 8), 0);
    }
    BigNum grown;
    grown.SetBit(200);
    grown.SetBit(0);
    EXPECT_EQ(grown.BitCount(), 201u);
    EXPECT_TRUE(grown.Bit(200) && grown.Bit(0) && !grown.Bit(64));
}

TEST(BigNumText, HexAndDecimalMatchLibcrypto) {
    std::mt19937_64 rng(2);
    for (const BigNum& value : Operands(rng)) {
        Bn reference = ToBn(value);
        char* hex = BN_bn2hex(reference.get());
        char* decimal = BN_bn2dec(reference.get());
        std::string expectedHex = Lower(hex);
        expectedHex.erase(0, expectedHex.find_first_not_of('0'));
        EXPECT_EQ(value.ToHex(), "0x" + (expectedHex.empty() ? "0" : expectedHex));
        EXPECT_EQ(value.ToDecimal(), decimal);
        OPENSSL_free(hex);
        OPENSSL_free(decimal);
    }
    EXPECT_EQ(BigNum(10000000000000000000ull).ToDecimal(), "10000000000000000000");
}

TEST(BigNumArithmetic, AddSubtractMultiplyCompareMatchLibcrypto) {
    std::mt19937_64 rng(3);
    std::vector<BigNum> operands = Operands(rng);
    BnCtx ctx(BN_CTX_new());
    Bn expected(BN_new());
    for (const BigNum& a : operands) {
        for (const BigNum& b : operands) {
            Bn x = ToBn(a), y = ToBn(b);
            EXPECT_EQ(Compare(a, b), BN_cmp(x.get(), y.get()));
            BN_add(expected.get(), x.get(), y.get());
            ExpectSame(Add(a, b), expected.get(), "add");
            BN_mul(expected.get(), x.get(), y.get(), ctx.get());
            ExpectSame(Multiply(a, b), expected.get(), "multiply");
            if (a >= b) {
                BN_sub(expected.get(), x.get(), y.get());
                ExpectSame(Subtract(a, b), expected.get(), "subtract");
            }
        }
    }
}

TEST(BigNumArithmetic, DivisionMatchesLibcrypto) {
    std::mt19937_64 rng(4);
    std::vector<BigNum> operands = Operands(rng);
    // Dividends well above their divisors exercise the quotient correction.
    for (std::size_t length : {40, 100, 300})
        operands.push_back(RandomNumber(rng, length));
    BnCtx ctx(BN_CTX_new());
    Bn quotient(BN_new()), remainder(BN_new());
    for (const BigNum& a : operands) {
        for (const BigNum& b : operands) {
            if (b.IsZero()) continue;
            Bn x = ToBn(a), y = ToBn(b);
            ASSERT_TRUE(BN_div(quotient.get(), remainder.get(), x.get(), y.get(), ctx.get()));
            BigNum q, r;
            DivMod(a, b, &q, &r);
            ExpectSame(q, quotient.get(), "quotient " + a.ToHex() + " / " + b.ToHex());
            ExpectSame(r, remainder.get(), "remainder " + a.ToHex() + " / " + b.ToHex());
        }
    }
}

TEST(BigNumArithmetic, DivisionNeedingTheAddBackStep) {
    // With limbs (top first) u = (1, 0, 1, 0) and v = (2^63, 0, 2^64 - 1) the
    // two-limb quotient estimate 2 survives refinement but is one too large;
    // random operands reach that step with chance about 2^-63.
    auto limbs = [](std::initializer_list<std::uint64_t> values) {
        std::vector<std::uint8_t> bytes;
        for (std::uint64_t value : values) {
            for (int shift = 56; shift >= 0; shift -= 8)
                bytes.push_back(value >> shift);
        }
        return BigNum::FromBytes(bytes);
    };
    BigNum u = limbs({1, 0, 1, 0}), v = limbs({1ull << 63, 0, ~0ull});
    BigNum q, r;
    DivMod(u, v, &q, &r);
    EXPECT_EQ(q, BigNum(1));
    EXPECT_EQ(r, limbs({1ull << 63, 0, 1}));
    // The same shape one limb lower in a longer dividend.
    BigNum longer = Add(Multiply(u, limbs({1, 0})), BigNum(5));
    DivMod(longer, v, &q, &r);
    EXPECT_EQ(Add(Multiply(q, v), r), longer);
    EXPECT_LT(r, v);
}

TEST(BigNumModular, PowersThatVanishModuloACompositeModulus) {
    // Montgomery products of residues whose product is a multiple of n can
    // come out as exactly n before the final reduction.
    BigNum n(1);
    for (int i = 0; i < 81; ++i)
        n = Multiply(n, BigNum(3));
    BnCtx ctx(BN_CTX_new());
    Bn expected(BN_new());
    for (const BigNum& modulus : {n, Multiply(n, BigNum(3125))}) {
        for (std::uint64_t exponent : {40, 41, 80, 81, 82, 200}) {
            for (const BigNum& base : {BigNum(3), BigNum(9), Multiply(n, BigNum(7))}) {
                Bn b = ToBn(base), e = ToBn(BigNum(exponent)), m = ToBn(modulus);
                ASSERT_TRUE(BN_mod_exp(expected.get(), b.get(), e.get(), m.get(), ctx.get()));
                ExpectSame(ModExp(base, BigNum(exponent), modulus), expected.get(),
                           base.ToHex() + " ^ " + std::to_string(exponent));
            }
        }
        EXPECT_TRUE(ModMul(BigNum(3), Multiply(n, BigNum(5)), n).IsZero());
    }
    EXPECT_TRUE(ModExp(BigNum(3), BigNum(81), n).IsZero());
}

TEST(BigNumModular, ModExpMatchesLibcryptoForOddAndEvenModuli) {
    std::mt19937_64 rng(6);
    BnCtx ctx(BN_CTX_new());
    Bn expected(BN_new());
    std::vector<BigNum> moduli = PatternNumbers();
    for (std::size_t length : {1, 8, 9, 16, 17, 64, 65, 128, 256}) {
        moduli.push_back(RandomNumber(rng, length));
        BigNum odd = RandomNumber(rng, length);
        if (!odd.IsOdd()) odd = Add(odd, BigNum(1));
        moduli.push_back(odd);
    }
    // A modulus given with leading zero bytes, as an mpint may carry it.
    std::vector<std::uint8_t> padded = {0, 0, 0};
    std::vector<std::uint8_t> tail = RandomBytesOf(rng, 61);
    tail.back() |= 1;
    padded.insert(padded.end(), tail.begin(), tail.end());
    moduli.push_back(BigNum::FromBytes(padded));
    moduli.push_back(BigNum(1));
    moduli.push_back(BigNum(2));

    for (const BigNum& m : moduli) {
        std::vector<BigNum> bases = {BigNum(), BigNum(1), RandomNumber(rng, m.ByteCount()),
                                     RandomNumber(rng, m.ByteCount() + 9), m};
        // Exponents of 12 and 256 bytes reach the widest sliding windows.
        std::vector<BigNum> exponents = {BigNum(),
                                         BigNum(1),
                                         BigNum(2),
                                         RandomNumber(rng, 3),
                                         RandomNumber(rng, 12),
                                         RandomNumber(rng, 64),
                                         RandomNumber(rng, m.ByteCount() > 100 ? 256 : 31)};
        for (const BigNum& base : bases) {
            for (const BigNum& exponent : exponents) {
                Bn b = ToBn(base), e = ToBn(exponent), n = ToBn(m);
                ASSERT_TRUE(BN_mod_exp(expected.get(), b.get(), e.get(), n.get(), ctx.get()));
                ExpectSame(ModExp(base, exponent, m), expected.get(),
                           base.ToHex() + " ^ " + exponent.ToHex() + " mod " + m.ToHex());
            }
        }
    }
}

TEST(BigNumModular, ModMulAndInverseMatchLibcrypto) {
    std::mt19937_64 rng(8);
    BnCtx ctx(BN_CTX_new());
    Bn expected(BN_new());
    std::vector<BigNum> operands = Operands(rng);
    for (const BigNum& m : operands) {
        if (m.IsZero()) continue;
        for (const BigNum& a : operands) {
            Bn x = ToBn(a), n = ToBn(m);
            BN_mod_mul(expected.get(), x.get(), x.get(), n.get(), ctx.get());
            ExpectSame(ModMul(a, a, m), expected.get(), "modmul");

            BigNum inverse;
            bool ours = ModInverse(a, m, &inverse);
            ERR_set_mark();
            bool theirs = BN_mod_inverse(expected.get(), x.get(), n.get(), ctx.get()) != nullptr;
            ERR_pop_to_mark();
            ASSERT_EQ(ours, theirs) << a.ToHex() << " mod " << m.ToHex();
            if (ours) ExpectSame(inverse, expected.get(), "inverse");
        }
    }
}

TEST(BigNumDeathTest, ProgramFaultsAbortInsteadOfReturningWrongNumbers) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(Subtract(BigNum(1), BigNum(2)), "below zero");
    EXPECT_DEATH(Mod(BigNum(1), BigNum()), "division by zero");
    EXPECT_DEATH(ModExp(BigNum(3), BigNum(3), BigNum()), "zero modulus");
}

BigNum OddNumber(std::mt19937_64& rng, std::size_t length) {
    BigNum n = RandomNumber(rng, length);
    return n.IsOdd() ? n : Add(n, BigNum(1));
}

TEST(BigNumSecret, ModExpSecretMatchesLibcrypto) {
    std::mt19937_64 rng(0x5ec);
    BnCtx ctx(BN_CTX_new());
    Bn expected(BN_new());
    std::vector<BigNum> moduli = {BigNum(3), BigNum(0xFFFFFFFFFFFFFFFF),
                                  BigNum::FromBytes(std::vector<std::uint8_t>(40, 0xFF))};
    for (std::size_t length : {1, 8, 9, 16, 17, 64, 65, 128, 256})
        moduli.push_back(OddNumber(rng, length));

    for (const BigNum& m : moduli) {
        const BigNum mMinus1 = Subtract(m, BigNum(1));
        const BigNum mMinus2 = m > BigNum(2) ? Subtract(m, BigNum(2)) : BigNum(1);
        const std::size_t bytes = m.ByteCount();
        // Exponents with zero top windows (short ones in a long modulus), a zero window
        // at the very top of a full-length one, and one longer than the modulus.
        std::vector<std::uint8_t> topWindowZero = RandomBytesOf(rng, bytes);
        topWindowZero[0] = 0x05;
        const std::vector<BigNum> exponents = {BigNum(),
                                               BigNum(1),
                                               BigNum(2),
                                               mMinus2,
                                               mMinus1,
                                               RandomNumber(rng, 1),
                                               RandomNumber(rng, bytes / 2 + 1),
                                               RandomNumber(rng, bytes),
                                               BigNum::FromBytes(topWindowZero),
                                               RandomNumber(rng, bytes + 9)};
        const std::vector<BigNum> bases = {BigNum(),
                                           BigNum(1),
                                           BigNum(2),
                                           mMinus1,
                                           RandomNumber(rng, bytes),
                                           RandomNumber(rng, bytes + 5)};
        for (const BigNum& base : bases) {
            for (const BigNum& exponent : exponents) {
                const std::string what =
                    base.ToHex() + " ^ " + exponent.ToHex() + " mod " + m.ToHex();
                const BigNum ours = ModExpSecret(base, exponent, m);
                Bn b = ToBn(base), e = ToBn(exponent), n = ToBn(m);
                ASSERT_TRUE(BN_mod_exp(expected.get(), b.get(), e.get(), n.get(), ctx.get()));
                ASSERT_EQ(BN_cmp(ToBn(ours).get(), expected.get()), 0) << what;
            }
        }
    }
    EXPECT_TRUE(ModExpSecret(BigNum(5), BigNum(3), BigNum(1)).IsZero());
}

TEST(BigNumSecretDeathTest, EvenModulusIsAProgramFault) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(ModExpSecret(BigNum(3), BigNum(3), BigNum(10)), "odd modulus");
}

}  // namespace
