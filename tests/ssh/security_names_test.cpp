// The security figures an SSH connection shows through the control, from the
// negotiated names: one row per kind of name, the authenticated ciphers' tags in
// the place of a MAC, and names the table does not know.
#include <gtest/gtest.h>

#include "resources/typeinfo.h"
#include "ssh/security_names.h"

namespace {

struct FiguresCase {
    const char* kex;
    const char* cipher;
    const char* mac;
    int descriptorBits;
    SshSecurityFigures expected;
};

constexpr std::uint32_t kOther = 4096;

class SecurityFiguresTest : public ::testing::TestWithParam<FiguresCase> {};

TEST_P(SecurityFiguresTest, NamesMapOntoConstants) {
    const FiguresCase& c = GetParam();
    const SshNegotiatedNames names{c.kex, "ssh-ed25519", c.cipher, c.cipher, c.mac, c.mac};
    const SshSecurityFigures f = SshSecurityFiguresOf(names, c.descriptorBits);
    EXPECT_EQ(f.keyExchange, c.expected.keyExchange);
    EXPECT_EQ(f.cipher, c.expected.cipher);
    EXPECT_EQ(f.cipherStrength, c.expected.cipherStrength);
    EXPECT_EQ(f.hash, c.expected.hash);
    EXPECT_EQ(f.hashStrength, c.expected.hashStrength);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SecurityFiguresTest,
    ::testing::Values(
        FiguresCase{"curve25519-sha256",
                    "chacha20-poly1305@openssh.com",
                    "",
                    512,
                    {fileCipherChaCha20, 256, fileHashPoly1305, 128, fileKeyExchangeCurve25519}},
        FiguresCase{"curve25519-sha256@libssh.org",
                    "aes256-gcm@openssh.com",
                    "",
                    256,
                    {fileCipherAES, 256, fileHashGMAC, 128, fileKeyExchangeCurve25519}},
        FiguresCase{"ecdh-sha2-nistp384",
                    "aes128-ctr",
                    "hmac-sha2-512-etm@openssh.com",
                    128,
                    {fileCipherAES, 128, fileHashSHA512, 512, fileKeyExchangeECDH}},
        FiguresCase{"diffie-hellman-group16-sha512",
                    "aes192-ctr",
                    "hmac-sha2-256",
                    192,
                    {fileCipherAES, 192, fileHashSHA256, 256, fileKeyExchangeDH}},
        FiguresCase{"diffie-hellman-group-exchange-sha1",
                    "3des-cbc",
                    "hmac-sha1-96",
                    168,
                    {fileCipherDES3, 168, fileHashSHA, 160, fileKeyExchangeDH}},
        FiguresCase{"diffie-hellman-group1-sha1",
                    "blowfish-cbc",
                    "hmac-md5",
                    128,
                    {fileCipherBlowfish, 128, fileHashMD5, 128, fileKeyExchangeDH}},
        FiguresCase{"diffie-hellman-group14-sha1",
                    "arcfour256",
                    "hmac-md5-96",
                    256,
                    {fileCipherRC4, 256, fileHashMD5, 128, fileKeyExchangeDH}},
        // Hybrid post-quantum exchanges and other unknown names read as "other".
        FiguresCase{"sntrup761x25519-sha512@openssh.com",
                    "twofish-cbc",
                    "umac-64@openssh.com",
                    256,
                    {kOther, 256, kOther, 0, kOther}}));

TEST(SshAlgorithmsTextTest, NamesInTheOrderOfTheKexinitLists) {
    const SshNegotiatedNames names{"kex", "key", "c-out", "c-in", "", "m-in"};
    EXPECT_EQ(SshAlgorithmsText(names), "kex,key,c-out,c-in,,m-in");
}

}  // namespace
