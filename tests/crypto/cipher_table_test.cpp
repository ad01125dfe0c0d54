// The descriptor tables the transport negotiates from.
#include "crypto/cipher.h"

#include <set>
#include <string>

#include "tests/crypto/crypto_test_support.h"

namespace {

TEST(CipherTable, FamiliesInPreferenceOrderWithTheirNamesAndStrengths) {
    std::vector<std::string> names;
    for (const CipherDescriptor* c : CipherList())
        names.push_back(c->sshName);
    const std::vector<std::string> expected = {
        "aes256-ctr", "aes256-cbc",   "rijndael-cbc@lysator.liu.se",
        "aes192-ctr", "aes192-cbc",   "aes128-ctr",
        "aes128-cbc", "blowfish-ctr", "blowfish-cbc",
        "3des-ctr",   "3des-cbc",     "arcfour256",
        "arcfour128", "des-cbc",      "des-cbc@ssh.com"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(CipherFamilyList(CipherFamily::Blowfish)[0], &kCipherBlowfishCtr);
    EXPECT_EQ(CipherFamilyList(CipherFamily::SingleDes).size(), 2u);
}

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
    EXPECT_EQ(FindCipher("aes256-ctr")->keyBits, 256);
    EXPECT_STREQ(FindCipher("3des-ctr")->textName, "triple-DES SDCTR");
    EXPECT_EQ(FindCipher("arcfour128")->blockSize, 1u);
    EXPECT_EQ(static_cast<int>(FindCipher("des-cbc")->family), 4);
    EXPECT_EQ(static_cast<int>(FindCipher("arcfour256")->family), 5);
}

TEST(CipherTable, Ssh1CiphersByProtocolNumber) {
    EXPECT_STREQ(FindSsh1Cipher(3)->textName, "triple-DES inner-CBC");
    EXPECT_EQ(FindSsh1Cipher(3)->keyBits, 168);
    EXPECT_EQ(FindSsh1Cipher(6)->keyBits, 128);
    EXPECT_EQ(FindSsh1Cipher(2)->keyBits, 56);
    EXPECT_EQ(FindSsh1Cipher(1), nullptr);
}

// Decrypting what was encrypted gives the packet back, and a second packet continues the
// chain: encrypting the two packets at once gives the same bytes.
TEST(CipherTable, EveryCipherRoundTripsAndChainsAcrossPackets) {
    TestRandom random(20);
    std::vector<const CipherDescriptor*> all(CipherList().begin(), CipherList().end());
    for (int n : {3, 6, 2})
        all.push_back(FindSsh1Cipher(n));
    for (const CipherDescriptor* c : all) {
        const Bytes key = random.Fill(c->keyLength);
        const Bytes iv = random.Fill(c->blockSize);
        const std::size_t block = c->blockSize < 8 ? 8 : c->blockSize;
        const Bytes plaintext = random.Fill(block * 12);
        void* whole = c->createContext();
        void* pieces = c->createContext();
        for (void* context : {whole, pieces}) {
            c->setKey(context, key.data());
            c->setIv(context, iv.data());
        }
        Bytes a = plaintext, b = plaintext;
        c->encrypt(whole, a.data(), a.size());
        c->encrypt(pieces, b.data(), block * 5);
        c->encrypt(pieces, b.data() + block * 5, block * 7);
        EXPECT_EQ(ToHex(a), ToHex(b)) << c->sshName;
        EXPECT_NE(ToHex(a), ToHex(plaintext)) << c->sshName;
        c->setKey(whole, key.data());
        c->setIv(whole, iv.data());
        c->decrypt(whole, a.data(), a.size());
        EXPECT_EQ(ToHex(a), ToHex(plaintext)) << c->sshName;
        c->freeContext(whole);
        c->freeContext(pieces);
    }
}

}  // namespace

namespace {

bool AllZero(const void* p, std::size_t n) {
    const auto* bytes = static_cast<const std::uint8_t*>(p);
    for (std::size_t i = 0; i < n; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
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
