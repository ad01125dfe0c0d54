// Cipher descriptors: the SSH transport chooses ciphers by name from these tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

enum class CipherFamily : int {
    TripleDes = 1,
    Blowfish = 2,
    Aes = 3,
    SingleDes = 4,
    Arcfour = 5,
};

struct CipherDescriptor {
    void* (*createContext)();
    void (*freeContext)(void* context);                      // wipes before freeing
    void (*setIv)(void* context, const std::uint8_t* iv);    // blockSize bytes
    void (*setKey)(void* context, const std::uint8_t* key);  // keyLength bytes
    // In place over whole blocks; IV and counter state carry over to the next call.
    void (*encrypt)(void* context, std::uint8_t* data, std::size_t length);
    void (*decrypt)(void* context, std::uint8_t* data, std::size_t length);
    const char* sshName;
    CipherFamily family;
    std::size_t blockSize;
    int keyBits;  // the strength shown to the user
    bool cbc;
    const char* textName;
    std::size_t keyLength;  // bytes of key material taken from the start of the derived key
    // Zeroes all contextSize bytes of a context (keys, schedules, IV); freeContext does this.
    void (*wipeContext)(void* context);
    std::size_t contextSize;
};

// SSH-2 ciphers, families in the default preference order (AES, Blowfish, triple DES,
// Arcfour, single DES), each family in its own preference order.
std::span<const CipherDescriptor* const> CipherList();
std::span<const CipherDescriptor* const> CipherFamilyList(CipherFamily family);
const CipherDescriptor* FindCipher(std::string_view sshName);

// SSH-1 ciphers by their protocol number: 3 triple DES (inner CBC), 6 Blowfish, 2 DES.
const CipherDescriptor* FindSsh1Cipher(int number);

extern const CipherDescriptor kCipherAes256Ctr;
extern const CipherDescriptor kCipherAes256Cbc;
extern const CipherDescriptor kCipherAes256CbcRijndaelAlias;
extern const CipherDescriptor kCipherAes192Ctr;
extern const CipherDescriptor kCipherAes192Cbc;
extern const CipherDescriptor kCipherAes128Ctr;
extern const CipherDescriptor kCipherAes128Cbc;
extern const CipherDescriptor kCipherBlowfishCtr;
extern const CipherDescriptor kCipherBlowfishCbc;
extern const CipherDescriptor kCipherTripleDesCtr;
extern const CipherDescriptor kCipherTripleDesCbc;
extern const CipherDescriptor kCipherArcfour256;
extern const CipherDescriptor kCipherArcfour128;
extern const CipherDescriptor kCipherDesCbc;
extern const CipherDescriptor kCipherDesCbcAlias;
extern const CipherDescriptor kCipherSsh1TripleDes;
extern const CipherDescriptor kCipherSsh1Blowfish;
extern const CipherDescriptor kCipherSsh1Des;
