// Diffie-Hellman: the fixed groups are the published primes, two parties
// agree, and values that would weaken the exchange are refused.
#include <gtest/gtest.h>

#include "bignum_test_support.h"
#include "crypto/dh.h"

namespace {

TEST(DhGroups, FixedPrimesAreThePublishedOnes) {
    Bn group1(BN_get_rfc2409_prime_1024(nullptr));
    Bn group14(BN_get_rfc3526_prime_2048(nullptr));
    Bn group16(BN_get_rfc3526_prime_4096(nullptr));
    Bn group18(BN_get_rfc3526_prime_8192(nullptr));
    EXPECT_EQ(DhContext::Group1()->prime(), FromBn(group1.get()));
    EXPECT_EQ(DhContext::Group14()->prime(), FromBn(group14.get()));
    EXPECT_EQ(DhContext::Group16()->prime(), FromBn(group16.get()));
    EXPECT_EQ(DhContext::Group18()->prime(), FromBn(group18.get()));
    EXPECT_EQ(DhContext::Group1()->generator(), BigNum(2));
    EXPECT_EQ(DhContext::Group18()->generator(), BigNum(2));
}

// Our e lies in [2, p), and the secret from the peer's f = g^y equals
// libcrypto's e^y mod p; an exponent request longer than the prime is cut to fit.
TEST(DhExchange, SecretMatchesLibcryptoInEveryGroup) {
    Bn prime1536(BN_get_rfc3526_prime_1536(nullptr));
    const struct {
        std::unique_ptr<DhContext> dh;
        std::size_t exponentBits;
    } rows[] = {{DhContext::Group1(), 256},
                {DhContext::Group14(), 512},
                {DhContext::FromGroup(FromBn(prime1536.get()), BigNum(2)), 320},
                {DhContext::Group1(), 4096}};
    BnCtx ctx(BN_CTX_new());
    for (const auto& row : rows) {
        ASSERT_TRUE(row.dh);
        const BigNum& p = row.dh->prime();
        SCOPED_TRACE(p.BitCount());
        const BigNum e = row.dh->MakeE(row.exponentBits);
        EXPECT_TRUE(e >= BigNum(2) && e < p);
        Bn y(BN_new()), g(BN_new()), f(BN_new()), k(BN_new());
        Bn pBn = ToBn(p), eBn = ToBn(e);
        ASSERT_TRUE(BN_rand(y.get(), 256, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY));
        BN_set_word(g.get(), 2);
        ASSERT_TRUE(BN_mod_exp(f.get(), g.get(), y.get(), pBn.get(), ctx.get()));
        ASSERT_TRUE(BN_mod_exp(k.get(), eBn.get(), y.get(), pBn.get(), ctx.get()));
        BigNum ours;
        ASSERT_TRUE(row.dh->FindK(FromBn(f.get()), &ours));
        EXPECT_EQ(ours, FromBn(k.get()));
    }
}

TEST(DhExchange, PeerValuesOutsideTwoToPMinusTwoAreRefused) {
    auto dh = DhContext::Group1();
    BigNum k;
    EXPECT_FALSE(dh->FindK(BigNum(5), &k)) << "no exponent drawn yet";
    dh->MakeE(256);
    const BigNum& p = dh->prime();
    for (const BigNum& f : {BigNum(), BigNum(1), Subtract(p, BigNum(1)), p, Add(p, BigNum(1))}) {
        EXPECT_FALSE(dh->FindK(f, &k)) << f.ToHex();
    }
    EXPECT_TRUE(dh->FindK(BigNum(2), &k));
    EXPECT_TRUE(dh->FindK(Subtract(p, BigNum(2)), &k));
}

TEST(DhGroups, ServerGroupsAreCheckedBeforeUse) {
    Bn prime1536(BN_get_rfc3526_prime_1536(nullptr));
    BigNum p = FromBn(prime1536.get());
    Bn prime768(BN_new());
    BigNum small = FromBn(BN_get_rfc2409_prime_768(prime768.get()));
    struct Case {
        BigNum p, g;
        bool accepted;
    } cases[] = {
        {p, BigNum(2), true},
        {p, Subtract(p, BigNum(2)), true},
        {p, BigNum(1), false},
        {p, BigNum(), false},
        {p, Subtract(p, BigNum(1)), false},
        {Add(p, BigNum(1)), BigNum(2), false},  // even
        {small, BigNum(2), false},              // too small
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DhContext::FromGroup(c.p, c.g) != nullptr, c.accepted) << c.g.ToHex();
    }
}

}  // namespace
