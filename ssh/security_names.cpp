#include "ssh/security_names.h"

#include "resources/typeinfo.h"
#include "ssh/wildcard.h"

namespace {

enum class Figure { KeyExchange, Cipher, Hash };

// pattern (ssh/wildcard.h syntax), which figure it sets, the constant, the strength in
// bits (0: the cipher descriptor's). The first matching row of a figure wins.
struct SecurityNameRow {
    std::string_view pattern;
    Figure figure;
    LONG value;
    std::uint32_t strength;
};

constexpr SecurityNameRow kSecurityNames[] = {
    {"curve25519-sha256*", Figure::KeyExchange, fileKeyExchangeCurve25519, 0},
    {"ecdh-sha2-*", Figure::KeyExchange, fileKeyExchangeECDH, 0},
    {"diffie-hellman-*", Figure::KeyExchange, fileKeyExchangeDH, 0},

    {"chacha20-poly1305@openssh.com", Figure::Cipher, fileCipherChaCha20, 256},
    {"aes*", Figure::Cipher, fileCipherAES, 0},
    {"3des-*", Figure::Cipher, fileCipherDES3, 0},
    {"blowfish-*", Figure::Cipher, fileCipherBlowfish, 0},
    {"arcfour*", Figure::Cipher, fileCipherRC4, 0},
    {"des-*", Figure::Cipher, fileCipherDES, 0},

    // A MAC by its hash; an authenticated cipher (no MAC) by its tag.
    {"hmac-sha1*", Figure::Hash, fileHashSHA, 160},
    {"hmac-md5*", Figure::Hash, fileHashMD5, 128},
    {"hmac-sha2-256*", Figure::Hash, fileHashSHA256, 256},
    {"hmac-sha2-512*", Figure::Hash, fileHashSHA512, 512},
    {"chacha20-poly1305@openssh.com", Figure::Hash, fileHashPoly1305, 128},
    {"aes*-gcm@openssh.com", Figure::Hash, fileHashGMAC, 128},
};

constexpr std::uint32_t kOther = 4096;

const SecurityNameRow* Find(Figure figure, std::string_view name) {
    if (name.empty()) return nullptr;
    for (const SecurityNameRow& row : kSecurityNames) {
        if (row.figure == figure && SshWildcardMatch(row.pattern, name)) return &row;
    }
    return nullptr;
}

}  // namespace

SshSecurityFigures SshSecurityFiguresOf(const SshNegotiatedNames& names, int cipherKeyBits) {
    SshSecurityFigures figures;
    const SecurityNameRow* kex = Find(Figure::KeyExchange, names.kex);
    figures.keyExchange = kex ? static_cast<std::uint32_t>(kex->value) : kOther;
    if (const SecurityNameRow* cipher = Find(Figure::Cipher, names.cipherCs)) {
        figures.cipher = static_cast<std::uint32_t>(cipher->value);
        figures.cipherStrength =
            cipher->strength ? cipher->strength : static_cast<std::uint32_t>(cipherKeyBits);
    } else {
        figures.cipher = kOther;
        figures.cipherStrength = static_cast<std::uint32_t>(cipherKeyBits);
    }
    const SecurityNameRow* hash =
        names.macCs.empty() ? Find(Figure::Hash, names.cipherCs) : Find(Figure::Hash, names.macCs);
    figures.hash = hash ? static_cast<std::uint32_t>(hash->value) : kOther;
    figures.hashStrength = hash ? hash->strength : 0;
    return figures;
}

namespace {

// The SSH-1 ciphers by their protocol numbers, with their fixed strengths.
struct Ssh1CipherFigures {
    int number;
    std::uint32_t cipher;
    std::uint32_t strength;
};
constexpr Ssh1CipherFigures kSsh1CipherFigures[] = {
    {3, 16, 168},   // triple DES
    {6, 256, 128},  // Blowfish
    {2, 8, 56},     // single DES
};

}  // namespace

SshSecurityFigures Ssh1SecurityFiguresOf(int cipherNumber) {
    SshSecurityFigures figures{kOther, 0, 2, 160, 4};  // SHA 160, Diffie-Hellman as always shown
    for (const Ssh1CipherFigures& row : kSsh1CipherFigures) {
        if (row.number == cipherNumber) {
            figures.cipher = row.cipher;
            figures.cipherStrength = row.strength;
        }
    }
    return figures;
}

std::string SshAlgorithmsText(const SshNegotiatedNames& names) {
    return names.kex + ',' + names.hostKey + ',' + names.cipherCs + ',' + names.cipherSc + ',' +
           names.macCs + ',' + names.macSc + ',' + names.compressionCs + ',' + names.compressionSc;
}
