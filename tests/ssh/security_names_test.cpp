// The security figures an SSH connection shows through the control, from the
// negotiated names: the authenticated ciphers' tags in the place of a MAC, the
// encrypt-then-MAC names by their hash, and names the table does not know.
#include <gtest/gtest.h>

#include "resources/typeinfo.h"
#include "ssh/security_names.h"

namespace {

constexpr std::uint32_t kOther = 4096;

TEST(SecurityFiguresTest, NamesMapOntoConstants) {
    const struct {
        const char *kex, *cipher, *mac;
        int descriptorBits;
        std::uint32_t cipherId, cipherStrength, hash, hashStrength, keyExchange;
    } cases[] = {
        {"curve25519-sha256", "chacha20-poly1305@openssh.com", "", 512, fileCipherChaCha20, 256,
         fileHashPoly1305, 128, fileKeyExchangeCurve25519},
        {"curve25519-sha256@libssh.org", "aes256-gcm@openssh.com", "", 256, fileCipherAES, 256,
         fileHashGMAC, 128, fileKeyExchangeCurve25519},
        {"ecdh-sha2-nistp384", "aes128-ctr", "hmac-sha2-512-etm@openssh.com", 128, fileCipherAES,
         128, fileHashSHA512, 512, fileKeyExchangeECDH},
        // Hybrid post-quantum exchanges and other unknown names read as "other".
        {"sntrup761x25519-sha512@openssh.com", "twofish-cbc", "umac-64@openssh.com", 256, kOther,
         256, kOther, 0, kOther},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kex);
        const SshNegotiatedNames names{c.kex, "ssh-ed25519", c.cipher, c.cipher,
                                       c.mac, c.mac,         "none",   "none"};
        const SshSecurityFigures f = SshSecurityFiguresOf(names, c.descriptorBits);
        EXPECT_EQ(f.keyExchange, c.keyExchange);
        EXPECT_EQ(f.cipher, c.cipherId);
        EXPECT_EQ(f.cipherStrength, c.cipherStrength);
        EXPECT_EQ(f.hash, c.hash);
        EXPECT_EQ(f.hashStrength, c.hashStrength);
    }
}

}  // namespace
