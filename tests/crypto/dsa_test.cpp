// DSA details: r and s must lie in (0, q), and keys must describe a proper
// subgroup before they are used.
#include <gtest/gtest.h>

#include "crypto/dsa.h"
#include "pubkey_test_support.h"

namespace {

struct DsaNumbers {
    BigNum p, q, g, y;
};

const DsaNumbers& Numbers() {
    static const DsaNumbers numbers = [] {
        EvpKey key = GenerateDsa(1024, 160);
        return DsaNumbers{FromBn(KeyNumber(key.get(), OSSL_PKEY_PARAM_FFC_P).get()),
                          FromBn(KeyNumber(key.get(), OSSL_PKEY_PARAM_FFC_Q).get()),
                          FromBn(KeyNumber(key.get(), OSSL_PKEY_PARAM_FFC_G).get()),
                          FromBn(KeyNumber(key.get(), OSSL_PKEY_PARAM_PUB_KEY).get())};
    }();
    return numbers;
}

Bytes Blob(const DsaNumbers& n) {
    Bytes blob;
    AppendString(blob, "ssh-dss");
    for (const BigNum* number : {&n.p, &n.q, &n.g, &n.y})
        AppendMpint(blob, ToBn(*number).get());
    return blob;
}

TEST(DsaKey, KeysOutsideAProperSubgroupAreRefused) {
    const DsaNumbers& good = Numbers();
    ASSERT_TRUE(PublicKeyFromBlob(Blob(good)));
    struct Case {
        const char* what;
        DsaNumbers numbers;
    } cases[] = {
        {"q not dividing p - 1", {good.p, Add(good.q, BigNum(2)), good.g, good.y}},
        {"q of 161 bits", {good.p, Add(good.q, Multiply(good.q, BigNum(2))), good.g, good.y}},
        {"generator one", {good.p, good.q, BigNum(1), good.y}},
        {"generator p", {good.p, good.q, good.p, good.y}},
        {"public value zero", {good.p, good.q, good.g, BigNum()}},
        {"public value p", {good.p, good.q, good.g, good.p}},
        {"even p", {Add(good.p, BigNum(1)), good.q, good.g, good.y}},
        // Elements outside the order-q subgroup: with g = p - 1 and y = 1 any
        // signature with r = 1 would verify.
        {"generator p - 1", {good.p, good.q, Subtract(good.p, BigNum(1)), good.y}},
        {"public value one", {good.p, good.q, good.g, BigNum(1)}},
        {"public value p - 1", {good.p, good.q, good.g, Subtract(good.p, BigNum(1))}},
        {"public value not in the subgroup", {good.p, good.q, good.g, Add(good.y, BigNum(1))}},
    };
    for (const Case& c : cases)
        EXPECT_FALSE(PublicKeyFromBlob(Blob(c.numbers))) << c.what;
}

TEST(DsaSignature, ROrSOutsideTheSubgroupOrderFails) {
    PublicKeyPtr key = PublicKeyFromBlob(Blob(Numbers()));
    ASSERT_TRUE(key);
    const auto& dsa = static_cast<const DsaPublicKey&>(*key);
    const BigNum& q = Numbers().q;
    BigNum one(1);
    for (const auto& [r, s] : {std::pair{BigNum(), one}, std::pair{one, BigNum()},
                               std::pair{q, one}, std::pair{one, q}}) {
        Bytes signature(40);
        ASSERT_TRUE(r.ToBytes(std::span(signature).first(20)));
        ASSERT_TRUE(s.ToBytes(std::span(signature).last(20)));
        EXPECT_FALSE(DsaVerifySha1(dsa, signature, Bytes{1, 2, 3}));
    }
}

}  // namespace
