#include "crypto/bcrypt_pbkdf.h"

#include "tests/crypto/crypto_test_support.h"

namespace {

struct BcryptVector {
    Bytes passphrase;
    Bytes salt;
    std::uint32_t rounds;
    const char* key;  // its length is the key length asked for
};

// The first is OpenBSD's regression vector; the others come from an independent
// implementation (pyca/bcrypt's kdf) and cover the interleaving of output bytes
// for key lengths that do not divide evenly (33, 80), the 48 bytes OpenSSH asks
// for aes256-ctr, one round and a one-byte key.
TEST(BcryptPbkdf, KnownVectors) {
    const BcryptVector vectors[] = {
        {Text("password"), Text("salt"), 4,
         "5bbf0cc293587f1c3635555c27796598d47e579071bf427e9d8fbe842aba34d9"},
        {Text("password"), Bytes(16, 0), 16,
         "d5a5cbccc68dd2599ba9f56817d414c00d7ef81f37ebc44d5d626e82937aa1223c94b683f3ec30383f8de79d"
         "d023e059"},
        {Bytes{0}, FromHex("0102030405060708"), 1,
         "4f5629fcf48c6e7314f17ef3c86116ce578e4fa805cf0e2976944f56a469f3e1d5"},
        {Text("correct horse battery staple"), Text("NaCl-seasoned"), 2,
         "b49e764a18baf80b93470f59f6522b233fd34fa4202f39a75a9fc99fff378680c40899b2ad08c76c7e4efaad"
         "2ab227554ee6670181c2bc1fa30d2bfa6c85e3fe62c0f61f932a89ba545344d73d191416"},
        {Text("p"), Text("s"), 8, "b5"},
    };
    for (const BcryptVector& v : vectors) {
        Bytes key(std::string_view(v.key).size() / 2);
        ASSERT_TRUE(BcryptPbkdf(v.passphrase, v.salt, v.rounds, key));
        EXPECT_EQ(ToHex(key), v.key) << "rounds " << v.rounds << ", length " << key.size();
    }
}

TEST(BcryptPbkdf, RefusesArgumentsOutOfRange) {
    const Bytes pass = Text("pass"), salt = Text("salt");
    const Bytes empty;
    Bytes key(32, 0xee), huge(32 * 32 + 1);
    EXPECT_FALSE(BcryptPbkdf(pass, salt, 0, key));
    EXPECT_FALSE(BcryptPbkdf(empty, salt, 1, key));
    EXPECT_FALSE(BcryptPbkdf(pass, empty, 1, key));
    EXPECT_FALSE(BcryptPbkdf(pass, salt, 1, std::span<std::uint8_t>()));
    EXPECT_FALSE(BcryptPbkdf(pass, salt, 1, huge));
    EXPECT_EQ(key, Bytes(32, 0xee));
}

}  // namespace
