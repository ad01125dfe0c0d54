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

void ExpectAgreement(DhContext& client, DhContext& server, std::size_t exponentBits) {
    BigNum e = client.MakeE(exponentBits);
    BigNum f = server.MakeE(exponentBits);
    const BigNum& p = client.prime();
    EXPECT_TRUE(e >= BigNum(2) && e < p);
    EXPECT_NE(e, f);
    BigNum clientK, serverK;
    ASSERT_TRUE(client.FindK(f, &clientK));
    ASSERT_TRUE(server.FindK(e, &serverK));
    EXPECT_EQ(clientK, serverK);
    EXPECT_FALSE(clientK.IsZero());
}

TEST(DhExchange, BothSidesReachTheSameSecret) {
    ExpectAgreement(*DhContext::Group1(), *DhContext::Group1(), 256);
    ExpectAgreement(*DhContext::Group14(), *DhContext::Group14(), 512);
    Bn prime1536(BN_get_rfc3526_prime_1536(nullptr));
    auto client = DhContext::FromGroup(FromBn(prime1536.get()), BigNum(2));
    auto server = DhContext::FromGroup(FromBn(prime1536.get()), BigNum(2));
    ASSERT_TRUE(client && server);
    ExpectAgreement(*client, *server, 320);
    // An exponent request longer than the prime is cut to fit below it.
    ExpectAgreement(*DhContext::Group1(), *DhContext::Group1(), 4096);
}

TEST(DhExchange, MatchesLibcryptoForTheSameExponentSize) {
    // The secret equals f^x mod p computed by libcrypto when we play the
    // peer with a known exponent: K = e^y where f = g^y.
    auto client = DhContext::Group14();
    BigNum e = client->MakeE(256);
    Bn y(BN_new()), g(BN_new()), f(BN_new()), k(BN_new());
    Bn p = ToBn(client->prime()), eBn = ToBn(e);
    BnCtx ctx(BN_CTX_new());
    ASSERT_TRUE(BN_rand(y.get(), 256, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY));
    BN_set_word(g.get(), 2);
    ASSERT_TRUE(BN_mod_exp(f.get(), g.get(), y.get(), p.get(), ctx.get()));
    ASSERT_TRUE(BN_mod_exp(k.get(), eBn.get(), y.get(), p.get(), ctx.get()));
    BigNum ours;
    ASSERT_TRUE(client->FindK(FromBn(f.get()), &ours));
    EXPECT_EQ(ours, FromBn(k.get()));
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
