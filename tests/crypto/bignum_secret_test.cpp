// The fixed-window exponentiation for secrets against the public one and libcrypto.
#include <gtest/gtest.h>

#include <string>

#include "bignum_test_support.h"

namespace {

BigNum OddNumber(std::mt19937_64& rng, std::size_t length) {
    BigNum n = RandomNumber(rng, length);
    return n.IsOdd() ? n : Add(n, BigNum(1));
}

TEST(BigNumSecret, ModExpSecretMatchesModExpAndLibcrypto) {
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
                ASSERT_EQ(ours, ModExp(base, exponent, m)) << what;
                Bn b = ToBn(base), e = ToBn(exponent), n = ToBn(m);
                ASSERT_TRUE(BN_mod_exp(expected.get(), b.get(), e.get(), n.get(), ctx.get()));
                ASSERT_EQ(BN_cmp(ToBn(ours).get(), expected.get()), 0) << what;
            }
        }
    }
    EXPECT_TRUE(ModExpSecret(BigNum(5), BigNum(3), BigNum(1)).IsZero());
}

// Fermat: a^(p-1) = 1 and a^(p-2) is the inverse, in the 2048-bit group the key exchange
// uses, which catches a wrong table entry as surely as any reference.
TEST(BigNumSecret, FermatInAPrimeGroup) {
    BnCtx ctx(BN_CTX_new());
    Bn prime(BN_new());
    ASSERT_TRUE(BN_get_rfc3526_prime_2048(prime.get()));
    const BigNum p = FromBn(prime.get());
    std::mt19937_64 rng(14);
    for (int round = 0; round < 3; ++round) {
        const BigNum a = Mod(RandomNumber(rng, 256), p);
        EXPECT_EQ(ModExpSecret(a, Subtract(p, BigNum(1)), p), BigNum(1));
        EXPECT_EQ(ModMul(a, ModExpSecret(a, Subtract(p, BigNum(2)), p), p), BigNum(1));
    }
}

TEST(BigNumSecretDeathTest, EvenModulusIsAProgramFault) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(ModExpSecret(BigNum(3), BigNum(3), BigNum(10)), "odd modulus");
}

}  // namespace
