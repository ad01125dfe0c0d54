// Key exchange groups and NIST curves: the fixed Diffie-Hellman groups are the published
// primes, two parties agree, and values that would weaken the exchange are refused;
// ECDH and ECDSA against libcrypto and the RFC 6979 vectors, and the refusal of every
// malformed point, signature and key blob.
#include <gtest/gtest.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>

#include "bignum_test_support.h"
#include "crypto/dh.h"
#include "crypto/ecc.h"
#include "crypto/ecdsa.h"
#include "crypto/hash.h"
#include "crypto_test_support.h"
#include "pubkey_test_support.h"

namespace {

struct CurveCase {
    const char* ssh;    // our name
    const char* group;  // libcrypto's
    int nid;
    const EVP_MD* (*md)();
    std::size_t fieldBytes;
};

void PrintTo(const CurveCase& curve, std::ostream* out) {
    *out << curve.ssh;
}

const CurveCase kCurves[] = {
    {"nistp256", "P-256", NID_X9_62_prime256v1, EVP_sha256, 32},
    {"nistp384", "P-384", NID_secp384r1, EVP_sha384, 48},
    {"nistp521", "P-521", NID_secp521r1, EVP_sha512, 66},
};

using Group = std::unique_ptr<EC_GROUP, decltype([](EC_GROUP* g) { EC_GROUP_free(g); })>;
using EcPoint = std::unique_ptr<EC_POINT, decltype([](EC_POINT* p) { EC_POINT_free(p); })>;
using Sig = std::unique_ptr<ECDSA_SIG, decltype([](ECDSA_SIG* s) { ECDSA_SIG_free(s); })>;

Bytes Digest(const CurveCase& curve, const Bytes& message) {
    Bytes digest(EVP_MD_get_size(curve.md()));
    EVP_Digest(message.data(), message.size(), digest.data(), nullptr, curve.md(), nullptr);
    return digest;
}

Bytes PublicPoint(EVP_PKEY* key) {
    std::size_t length = 0;
    EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, nullptr, 0, &length);
    Bytes point(length);
    EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point.data(), length, &length);
    return point;
}

Bytes PrivateScalar(EVP_PKEY* key, std::size_t length) {
    Bytes scalar(length);
    BN_bn2binpad(KeyNumber(key, OSSL_PKEY_PARAM_PRIV_KEY).get(), scalar.data(),
                 static_cast<int>(length));
    return scalar;
}

Bytes EcdsaKeyBlob(std::string_view curve, const Bytes& point) {
    Bytes blob;
    AppendString(blob, "ecdsa-sha2-" + std::string(curve));
    AppendString(blob, curve);
    AppendString(blob, point);
    return blob;
}

Bytes Derive(EVP_PKEY* mine, EVP_PKEY* peer) {
    EvpCtx ctx(EVP_PKEY_CTX_new(mine, nullptr));
    std::size_t length = 0;
    if (EVP_PKEY_derive_init(ctx.get()) <= 0 || EVP_PKEY_derive_set_peer(ctx.get(), peer) <= 0 ||
        EVP_PKEY_derive(ctx.get(), nullptr, &length) <= 0) {
        return {};
    }
    Bytes secret(length);
    if (EVP_PKEY_derive(ctx.get(), secret.data(), &length) <= 0) return {};
    return secret;
}

// libcrypto's signature over a ready digest, as r and s.
std::pair<BigNum, BigNum> LibSign(EVP_PKEY* key, const Bytes& digest) {
    EvpCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    std::size_t length = 0;
    Bytes der;
    if (EVP_PKEY_sign_init(ctx.get()) > 0 &&
        EVP_PKEY_sign(ctx.get(), nullptr, &length, digest.data(), digest.size()) > 0) {
        der.resize(length);
        EVP_PKEY_sign(ctx.get(), der.data(), &length, digest.data(), digest.size());
        der.resize(length);
    }
    const unsigned char* cursor = der.data();
    Sig sig(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(der.size())));
    if (!sig) return {};
    return {FromBn(ECDSA_SIG_get0_r(sig.get())), FromBn(ECDSA_SIG_get0_s(sig.get()))};
}

bool LibVerify(EVP_PKEY* key, const BigNum& r, const BigNum& s, const Bytes& digest) {
    Sig sig(ECDSA_SIG_new());
    ECDSA_SIG_set0(sig.get(), ToBn(r).release(), ToBn(s).release());
    unsigned char* der = nullptr;
    int length = i2d_ECDSA_SIG(sig.get(), &der);
    EvpCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
    bool ok = length > 0 && EVP_PKEY_verify_init(ctx.get()) > 0 &&
              EVP_PKEY_verify(ctx.get(), der, static_cast<std::size_t>(length), digest.data(),
                              digest.size()) == 1;
    OPENSSL_free(der);
    return ok;
}

class Ecc : public ::testing::TestWithParam<CurveCase> {
  protected:
    void SetUp() override {
        curve_ = FindEcCurve(GetParam().ssh);
        ASSERT_NE(curve_, nullptr);
        group_.reset(EC_GROUP_new_by_curve_name(GetParam().nid));
        order_ = FromBn(EC_GROUP_get0_order(group_.get()));
        prime_ = [&] {
            Bn p(BN_new());
            EC_GROUP_get_curve(group_.get(), p.get(), nullptr, nullptr, nullptr);
            return FromBn(p.get());
        }();
    }
    Bytes Fixed(const BigNum& value) const {
        Bytes out(GetParam().fieldBytes);
        EXPECT_TRUE(value.ToBytes(out));
        return out;
    }

    // k * G by libcrypto, uncompressed.
    Bytes LibMultiply(const BigNum& k) const {
        EcPoint point(EC_POINT_new(group_.get()));
        EC_POINT_mul(group_.get(), point.get(), ToBn(k).get(), nullptr, nullptr, nullptr);
        Bytes out(1 + 2 * GetParam().fieldBytes);
        EC_POINT_point2oct(group_.get(), point.get(), POINT_CONVERSION_UNCOMPRESSED, out.data(),
                           out.size(), nullptr);
        return out;
    }

    const EcCurve* curve_ = nullptr;
    Group group_;
    BigNum order_, prime_;
};

// Edge scalars reach the table's first and last entries and the wrap to -G.
TEST_P(Ecc, PublicPointsMatchLibcrypto) {
    std::mt19937_64 rng(GetParam().fieldBytes);
    std::vector<BigNum> scalars;
    for (std::uint64_t small : {1, 2, 15, 16, 17}) {
        scalars.push_back(BigNum(small));
        scalars.push_back(Subtract(order_, BigNum(small)));
    }
    for (int i = 0; i < 12; ++i)
        scalars.push_back(Mod(RandomNumber(rng, GetParam().fieldBytes), order_));
    for (const BigNum& k : scalars) {
        std::vector<std::uint8_t> point;
        ASSERT_TRUE(EcPublicFromPrivate(*curve_, Fixed(k), &point)) << k.ToHex();
        EXPECT_EQ(ToHex(point), ToHex(LibMultiply(k))) << k.ToHex();
    }
    // Short and mpint-style (leading zero) scalars are the same number.
    std::vector<std::uint8_t> shortForm, mpintForm;
    Bytes padded = Fixed(BigNum(0x1234));
    padded.insert(padded.begin(), 0);
    ASSERT_TRUE(EcPublicFromPrivate(*curve_, Bytes{0x12, 0x34}, &shortForm));
    ASSERT_TRUE(EcPublicFromPrivate(*curve_, padded, &mpintForm));
    EXPECT_EQ(ToHex(shortForm), ToHex(LibMultiply(BigNum(0x1234))));
    EXPECT_EQ(ToHex(mpintForm), ToHex(shortForm));

    std::vector<std::uint8_t> unused;
    for (const BigNum& bad : {BigNum(), order_, Add(order_, BigNum(1))})
        EXPECT_FALSE(EcPublicFromPrivate(*curve_, Fixed(bad), &unused)) << bad.ToHex();
    padded[0] = 1;
    EXPECT_FALSE(EcPublicFromPrivate(*curve_, padded, &unused));
}

TEST_P(Ecc, EcdhAgreesWithLibcryptoBothWays) {
    for (int round = 0; round < 4; ++round) {
        auto ours = EcdhPrivateKey::Generate(*curve_);
        ASSERT_TRUE(ours);
        Bytes ourPoint(ours->publicPoint().begin(), ours->publicPoint().end());
        ASSERT_TRUE(EcPointIsValid(*curve_, ourPoint));
        EvpKey theirs(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", GetParam().group));
        EvpKey ourPublic = EvpFromBlob(EcdsaKeyBlob(GetParam().ssh, ourPoint));
        ASSERT_TRUE(theirs && ourPublic);

        SecureBytes secret;
        ASSERT_TRUE(ours->SharedSecret(PublicPoint(theirs.get()), &secret));
        EXPECT_EQ(secret.size(), GetParam().fieldBytes);
        EXPECT_EQ(ToHex(secret.data(), secret.size()),
                  ToHex(Derive(theirs.get(), ourPublic.get())));
    }
}

// The last digest is longer than any order: both sides cut it to its leftmost bits.
TEST_P(Ecc, SignaturesCrossVerifyWithLibcrypto) {
    EvpKey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", GetParam().group));
    ASSERT_TRUE(key);
    const Bytes point = PublicPoint(key.get());
    const Bytes scalar = PrivateScalar(key.get(), GetParam().fieldBytes);
    for (int round = 0; round < 6; ++round) {
        Bytes digest = round < 5 ? Digest(GetParam(), Bytes{static_cast<std::uint8_t>(round)})
                                 : TestRandom(round).Fill(80);
        auto [r, s] = LibSign(key.get(), digest);
        ASSERT_FALSE(r.IsZero());
        EXPECT_TRUE(EcdsaVerify(*curve_, point, r, s, digest));
        Bytes flipped = digest;
        flipped[0] ^= static_cast<std::uint8_t>(1 << round);
        EXPECT_FALSE(EcdsaVerify(*curve_, point, r, s, flipped));
        EXPECT_FALSE(EcdsaVerify(*curve_, point, s, r, digest));

        BigNum ourR, ourS;
        ASSERT_TRUE(EcdsaSign(*curve_, scalar, digest, &ourR, &ourS));
        EXPECT_TRUE(LibVerify(key.get(), ourR, ourS, digest));
        EXPECT_TRUE(EcdsaVerify(*curve_, point, ourR, ourS, digest));
        EXPECT_FALSE(LibVerify(key.get(), ourR, ourS, flipped));
    }
}

TEST_P(Ecc, ROrSOutOfRangeIsRefused) {
    EvpKey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", GetParam().group));
    const Bytes point = PublicPoint(key.get());
    const Bytes digest = Digest(GetParam(), Text("range"));
    auto [r, s] = LibSign(key.get(), digest);
    ASSERT_TRUE(EcdsaVerify(*curve_, point, r, s, digest));
    // r + n names the same x modulo n, so only the range check refuses it.
    for (const auto& [badR, badS] :
         {std::pair{BigNum(), s}, std::pair{order_, s}, std::pair{Add(r, order_), s},
          std::pair{r, BigNum()}, std::pair{r, order_}, std::pair{r, Add(s, order_)}}) {
        EXPECT_FALSE(EcdsaVerify(*curve_, point, badR, badS, digest))
            << badR.ToHex() << " " << badS.ToHex();
    }
}

TEST_P(Ecc, MalformedPointsAreRefused) {
    const std::size_t length = GetParam().fieldBytes;
    auto ours = EcdhPrivateKey::Generate(*curve_);
    const Bytes good(ours->publicPoint().begin(), ours->publicPoint().end());
    const Bytes x(good.begin() + 1, good.begin() + 1 + length);
    const Bytes y(good.begin() + 1 + length, good.end());
    auto make = [&](std::uint8_t prefix, const Bytes& first, const Bytes& second) {
        Bytes point{prefix};
        point.insert(point.end(), first.begin(), first.end());
        point.insert(point.end(), second.begin(), second.end());
        return point;
    };
    Bytes offCurve = y;
    offCurve.back() ^= 1;
    const Bytes p = Fixed(prime_);
    std::vector<std::pair<const char*, Bytes>> cases = {
        {"off the curve", make(0x04, x, offCurve)},
        {"x equal to p", make(0x04, p, y)},
        {"y equal to p", make(0x04, x, p)},
        {"infinity", Bytes{0x00}},
        {"zero coordinates", make(0x04, Bytes(length), Bytes(length))},
        {"compressed", make(static_cast<std::uint8_t>(0x02 | (y.back() & 1)), x, {})},
        {"hybrid prefix", make(static_cast<std::uint8_t>(0x06 | (y.back() & 1)), x, y)},
        {"one byte short", Bytes(good.begin(), good.end() - 1)},
        {"one byte long", make(0x04, x, make(y[0], Bytes(y.begin() + 1, y.end()), {0}))},
        {"empty", Bytes{}},
    };
    // P-521's coordinates have room for x + p, which reduces to the same x.
    BigNum xPlusP = Add(BigNum::FromBytes(x), prime_);
    if (xPlusP.ByteCount() <= length) cases.push_back({"x plus p", make(0x04, Fixed(xPlusP), y)});

    auto peer = EcdhPrivateKey::Generate(*curve_);
    const Bytes digest = Digest(GetParam(), Text("points"));
    for (const auto& [what, point] : cases) {
        EXPECT_FALSE(EcPointIsValid(*curve_, point)) << what;
        SecureBytes secret;
        EXPECT_FALSE(peer->SharedSecret(point, &secret)) << what;
        EXPECT_FALSE(EcdsaVerify(*curve_, point, BigNum(1), BigNum(1), digest)) << what;
    }
    SecureBytes secret;
    EXPECT_TRUE(peer->SharedSecret(good, &secret));
}

TEST_P(Ecc, HostKeyRowsReadLibcryptoKeysAndSignatures) {
    const CurveCase& c = GetParam();
    const std::string name = std::string("ecdsa-sha2-") + c.ssh;
    EvpKey libKey(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", c.group));
    const Bytes point = PublicPoint(libKey.get());
    const Bytes blob = EcdsaKeyBlob(c.ssh, point);
    PublicKeyPtr key = PublicKeyFromBlob(blob);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->algorithm->sshName, name);
    EXPECT_EQ(ToHex(key->algorithm->keyBlob(*key)), ToHex(blob));
    EXPECT_EQ(key->algorithm->keyBits(*key), order_.BitCount());
    EXPECT_EQ(key->algorithm->fingerprint(*key, {}).rfind(
                  name + " " + std::to_string(order_.BitCount()) + " ", 0),
              0u);

    const Bytes data = Text("exchange hash");
    auto [r, s] = LibSign(libKey.get(), Digest(c, data));
    auto signatureBlob = [&](std::string_view sigName, const BigNum& rr, const BigNum& ss,
                             const Bytes& tail) {
        Bytes inner;
        AppendMpint(inner, ToBn(rr).get());
        AppendMpint(inner, ToBn(ss).get());
        inner.insert(inner.end(), tail.begin(), tail.end());
        return SignatureBlob(sigName, inner);
    };
    EXPECT_TRUE(key->algorithm->verify(*key, signatureBlob(name, r, s, {}), data));
    EXPECT_FALSE(key->algorithm->verify(*key, signatureBlob(name, r, s, {}), Text("other")));
    EXPECT_FALSE(key->algorithm->verify(*key, signatureBlob(name, r, s, {0}), data));
    EXPECT_FALSE(
        key->algorithm->verify(*key, signatureBlob("ecdsa-sha2-nistp000", r, s, {}), data));

    // The curve field must agree with the name; the point must be on the curve.
    const char* otherCurve = std::string_view(c.ssh) == "nistp256" ? "nistp384" : "nistp256";
    Bytes otherCurveBlob;
    AppendString(otherCurveBlob, name);
    AppendString(otherCurveBlob, otherCurve);
    AppendString(otherCurveBlob, point);
    EXPECT_FALSE(PublicKeyFromBlob(otherCurveBlob));
    Bytes offCurve = point;
    offCurve.back() ^= 1;
    EXPECT_FALSE(PublicKeyFromBlob(EcdsaKeyBlob(c.ssh, offCurve)));
    Bytes trailing = blob;
    trailing.push_back(0);
    EXPECT_FALSE(PublicKeyFromBlob(trailing));
    for (std::size_t cut = 0; cut < blob.size(); cut += 7)
        EXPECT_FALSE(PublicKeyFromBlob(Bytes(blob.begin(), blob.begin() + cut))) << cut;
}

INSTANTIATE_TEST_SUITE_P(Curves, Ecc, ::testing::ValuesIn(kCurves),
                         [](const auto& info) { return std::string(info.param.ssh); });

// RFC 6979 appendix A.2.5-A.2.7: the deterministic nonce and signature for the
// message "sample" with the curve's own hash.
struct Rfc6979Vector {
    const char* curve;
    const char* key;
    const char* k;
    const char* r;
    const char* s;
};

const Rfc6979Vector kRfc6979[] = {
    {"nistp256", "C9AFA9D845BA75166B5C215767B1D6934E50C3DB36E89B127B8A622B120F6721",
     "A6E3C57DD01ABE90086538398355DD4C3B17AA873382B0F24D6129493D8AAD60",
     "EFD48B2AACB6A8FD1140DD9CD45E81D69D2C877B56AAF991C34D0EA84EAF3716",
     "F7CB1C942D657C41D436C7A1B6E29F65F3E900DBB9AFF4064DC4AB2F843ACDA8"},
    {"nistp384",
     "6B9D3DAD2E1B8C1C05B19875B6659F4DE23C3B667BF297BA9AA47740787137D8"
     "96D5724E4C70A825F872C9EA60D2EDF5",
     "94ED910D1A099DAD3254E9242AE85ABDE4BA15168EAF0CA87A555FD56D10FBCA"
     "2907E3E83BA95368623B8C4686915CF9",
     "94EDBB92A5ECB8AAD4736E56C691916B3F88140666CE9FA73D64C4EA95AD133C"
     "81A648152E44ACF96E36DD1E80FABE46",
     "99EF4AEB15F178CEA1FE40DB2603138F130E740A19624526203B6351D0A3A94F"
     "A329C145786E679E7B82C71A38628AC8"},
    {"nistp521",
     "00FAD06DAA62BA3B25D2FB40133DA757205DE67F5BB0018FEE8C86E1B68C7E75"
     "CAA896EB32F1F47C70855836A6D16FCC1466F6D8FBEC67DB89EC0C08B0E996B8"
     "3538",
     "01DAE2EA071F8110DC26882D4D5EAE0621A3256FC8847FB9022E2B7D28E6F101"
     "98B1574FDD03A9053C08A1854A168AA5A57470EC97DD5CE090124EF52A2F7ECB"
     "FFD3",
     "00C328FAFCBD79DD77850370C46325D987CB525569FB63C5D3BC53950E6D4C5F"
     "174E25A1EE9017B5D450606ADD152B534931D7D4E8455CC91F9B15BF05EC36E3"
     "77FA",
     "00617CCE7CF5064806C467F678D3B4080D6F1CC50AF26CA209417308281B68AF"
     "282623EAA63E5B5C0723D8B8C37FF0777B1A20F8CCB1DCCC43997F1EE0E44DA4"
     "A67A"},
};

TEST(EcdsaRfc6979, NoncesAndSignaturesMatchTheVectors) {
    for (const Rfc6979Vector& v : kRfc6979) {
        SCOPED_TRACE(v.curve);
        const EcCurve* curve = FindEcCurve(v.curve);
        ASSERT_NE(curve, nullptr);
        const CurveCase& c =
            *std::find_if(std::begin(kCurves), std::end(kCurves),
                          [&](const CurveCase& k) { return k.ssh == std::string_view(v.curve); });
        const Bytes key = FromHex(v.key);
        const Bytes digest = Digest(c, Text("sample"));
        SecureBytes nonce;
        ASSERT_TRUE(EcdsaNonce(*curve, key, digest, &nonce));
        EXPECT_EQ(ToHex(nonce.data(), nonce.size()), ToHex(FromHex(v.k)));
        BigNum r, s;
        ASSERT_TRUE(EcdsaSign(*curve, key, digest, &r, &s));
        EXPECT_EQ(r, BigNum::FromBytes(FromHex(v.r)));
        EXPECT_EQ(s, BigNum::FromBytes(FromHex(v.s)));
        std::vector<std::uint8_t> point;
        ASSERT_TRUE(EcPublicFromPrivate(*curve, key, &point));
        EXPECT_TRUE(EcdsaVerify(*curve, point, r, s, digest));
    }
}

TEST(DhGroups, FixedPrimesAreThePublishedOnes) {
    const std::pair<std::unique_ptr<DhContext>, BIGNUM* (*)(BIGNUM*)> groups[] = {
        {DhContext::Group1(), BN_get_rfc2409_prime_1024},
        {DhContext::Group14(), BN_get_rfc3526_prime_2048},
        {DhContext::Group16(), BN_get_rfc3526_prime_4096},
        {DhContext::Group18(), BN_get_rfc3526_prime_8192}};
    for (const auto& [dh, published] : groups) {
        EXPECT_EQ(dh->prime(), FromBn(Bn(published(nullptr)).get())) << dh->prime().BitCount();
        EXPECT_EQ(dh->generator(), BigNum(2));
    }
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
