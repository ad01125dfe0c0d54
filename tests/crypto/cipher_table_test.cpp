// The descriptor tables the transport negotiates from.
#include "crypto/cipher.h"

#include <set>
#include <string>

#include "tests/crypto/crypto_test_support.h"

namespace {

TEST(CipherTable, EveryEntryIsConsistentAndFoundByItsName) {
    for (const CipherDescriptor* c : CipherList()) {
        EXPECT_EQ(FindCipher(c->sshName), c);
        // DES keys carry parity bits: 56 bits of strength take 8 bytes, triple DES 24.
        const std::size_t expectedKey = c->family == CipherFamily::TripleDes   ? 24
                                        : c->family == CipherFamily::SingleDes ? 8
                                                                               : c->keyBits / 8;
        EXPECT_EQ(c->keyLength, expectedKey) << c->sshName;
        const bool cbcName = std::string(c->sshName).find("cbc") != std::string::npos;
        EXPECT_EQ(c->cbc, cbcName) << c->sshName;
    }
    EXPECT_EQ(FindCipher("chacha20-poly1305@openssh.com"), nullptr);
    EXPECT_EQ(FindSsh1Cipher(1), nullptr);  // IDEA is not offered
}

// freeContext wipes through wipeContext before releasing; a live context is inspected here.
TEST(CipherTable, WipeLeavesNoKeyMaterialInTheContext) {
    TestRandom random(21);
    for (const CipherDescriptor* c : CipherList()) {
        void* context = c->createContext();
        c->setKey(context, random.Fill(c->keyLength).data());
        c->setIv(context, random.Fill(c->blockSize).data());
        Bytes data = random.Fill(64);
        c->encrypt(context, data.data(), data.size());
        ASSERT_FALSE(AllZero(context, c->contextSize)) << c->sshName;
        c->wipeContext(context);
        EXPECT_TRUE(AllZero(context, c->contextSize)) << c->sshName;
        c->freeContext(context);
    }
}

}  // namespace
