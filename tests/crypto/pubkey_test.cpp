// Host-key signatures made by libcrypto verify through our descriptors, and every kind
// of damage to them, or to the signed data, is caught; DSA's r and s must lie in (0, q),
// and its keys must describe a proper subgroup before they are used.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

#include "crypto/dsa.h"
#include "crypto/pubkey.h"
#include "crypto_test_support.h"
#include "pubkey_test_support.h"

namespace {

enum class KeyKind { kRsa1024, kRsa2048, kDsa1024, kEd25519 };

struct TestKey {
    EvpKey key;
    std::string name;
    Bytes blob;
    Bytes (*sign)(EVP_PKEY*, const Bytes&);
};

// Key generation is slow, so each kind is made once per run.
const TestKey& KeyOf(KeyKind kind) {
    static std::map<KeyKind, TestKey> keys;
    auto found = keys.find(kind);
    if (found != keys.end()) return found->second;
    TestKey made;
    if (kind == KeyKind::kDsa1024) {
        made = {GenerateDsa(1024, 160), "ssh-dss", {}, &DsaSignature};
        made.blob = DsaKeyBlob(made.key.get());
    } else if (kind == KeyKind::kEd25519) {
        made = {GenerateEd25519(), "ssh-ed25519", {}, &Ed25519Signature};
        made.blob = Ed25519KeyBlob(made.key.get());
    } else {
        made = {GenerateRsa(kind == KeyKind::kRsa1024 ? 1024 : 2048), "ssh-rsa", {}, &RsaSignature};
        made.blob = RsaKeyBlob(made.key.get());
    }
    return keys.emplace(kind, std::move(made)).first->second;
}

const Bytes kExchangeHash(20, 0x5C);

class HostKeySignature : public ::testing::TestWithParam<KeyKind> {
  protected:
    void SetUp() override {
        const TestKey& test = KeyOf(GetParam());
        ASSERT_TRUE(test.key);
        key_ = PublicKeyFromBlob(test.blob);
        ASSERT_TRUE(key_);
        signature_ = test.sign(test.key.get(), kExchangeHash);
        ASSERT_FALSE(signature_.empty());
    }

    bool Verifies(const Bytes& signature, const Bytes& data = kExchangeHash) const {
        Bytes blob = SignatureBlob(KeyOf(GetParam()).name, signature);
        return key_->algorithm->verify(*key_, blob, data);
    }

    PublicKeyPtr key_;
    Bytes signature_;
};

// Only the genuine signature over the genuine hash verifies.
TEST_P(HostKeySignature, GenuineSignatureVerifiesAndAnyDamageFails) {
    EXPECT_TRUE(Verifies(signature_));
    Bytes otherHash = kExchangeHash;
    otherHash.back() ^= 1;
    EXPECT_FALSE(Verifies(signature_, otherHash));
    EXPECT_FALSE(Verifies(signature_, {}));
    std::vector<Bytes> damaged = {
        {}, Bytes(signature_.begin(), signature_.end() - 1), signature_, signature_};
    damaged[2].push_back(0);
    damaged[3].insert(damaged[3].begin(), 0);
    for (std::size_t bit = 0; bit < signature_.size() * 8; bit += 37) {
        damaged.push_back(signature_);
        damaged.back()[bit / 8] ^= static_cast<std::uint8_t>(1 << (bit % 8));
    }
    damaged.push_back(signature_);
    damaged.back().back() ^= 1;
    for (std::size_t i = 0; i < damaged.size(); ++i)
        EXPECT_FALSE(Verifies(damaged[i])) << "case " << i;
}

TEST_P(HostKeySignature, SignatureBlobMustNameTheKeyTypeAndEndThere) {
    const std::string& name = KeyOf(GetParam()).name;
    Bytes wrongName = SignatureBlob(name == "ssh-rsa" ? "ssh-dss" : "ssh-rsa", signature_);
    EXPECT_FALSE(key_->algorithm->verify(*key_, wrongName, kExchangeHash));
    Bytes trailing = SignatureBlob(name, signature_);
    trailing.push_back(0);
    EXPECT_FALSE(key_->algorithm->verify(*key_, trailing, kExchangeHash));
    Bytes blob = SignatureBlob(name, signature_);
    for (std::size_t length = 0; length < blob.size(); ++length) {
        Bytes cut(blob.begin(), blob.begin() + length);
        EXPECT_FALSE(key_->algorithm->verify(*key_, cut, kExchangeHash)) << length;
    }
}

TEST_P(HostKeySignature, BlobTextAndFingerprintDescribeTheKey) {
    const TestKey& test = KeyOf(GetParam());
    EXPECT_EQ(key_->algorithm->sshName, test.name);
    EXPECT_EQ(key_->algorithm->keyBlob(*key_), test.blob);

    unsigned char digest[16];
    ASSERT_TRUE(
        EVP_Digest(test.blob.data(), test.blob.size(), digest, nullptr, EVP_md5(), nullptr));
    const char* bits = GetParam() == KeyKind::kRsa2048   ? " 2048 "
                       : GetParam() == KeyKind::kEd25519 ? " 256 "
                                                         : " 1024 ";
    std::string expected = test.name + bits;
    for (int i = 0; i < 16; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, i ? ":%02x" : "%02x", digest[i]);
        expected += hex;
    }
    EXPECT_EQ(key_->algorithm->fingerprint(*key_, {}), expected);

    std::string text = key_->algorithm->keyText(*key_);
    std::size_t numbers = test.name == "ssh-rsa" ? 2 : test.name == "ssh-dss" ? 4 : 1;
    EXPECT_EQ(std::count(text.begin(), text.end(), ','), static_cast<long>(numbers - 1));
    EXPECT_EQ(text.rfind("0x", 0), 0u);
    if (test.name == "ssh-rsa") {
        EXPECT_EQ(text.substr(0, 8), "0x10001,");
    }
    if (test.name == "ssh-ed25519") {
        EXPECT_EQ(text, "0x" + ToHex(Ed25519RawPublic(test.key.get())));
    }
}

TEST_P(HostKeySignature, DamagedKeyBlobsAreRefused) {
    const Bytes& blob = KeyOf(GetParam()).blob;
    for (std::size_t length = 0; length < blob.size(); length += (length < 64 ? 1 : 29)) {
        Bytes cut(blob.begin(), blob.begin() + length);
        EXPECT_FALSE(PublicKeyFromBlob(cut)) << length;
    }
    Bytes trailing = blob;
    trailing.push_back(0);
    EXPECT_FALSE(PublicKeyFromBlob(trailing));
}

std::string KindName(const ::testing::TestParamInfo<KeyKind>& info) {
    static const char* const kNames[] = {"Rsa1024", "Rsa2048", "Dsa1024", "Ed25519"};
    return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Keys, HostKeySignature,
                         ::testing::Values(KeyKind::kRsa1024, KeyKind::kRsa2048, KeyKind::kDsa1024,
                                           KeyKind::kEd25519),
                         KindName);

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
