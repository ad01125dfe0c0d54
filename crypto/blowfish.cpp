#include "crypto/blowfish.h"

#include <cstring>

#include "crypto/blowfish_tables.h"

namespace {

inline std::uint32_t F(const BlowfishKey& key, std::uint32_t x) {
    return ((key.s[0][x >> 24] + key.s[1][(x >> 16) & 0xff]) ^ key.s[2][(x >> 8) & 0xff]) +
           key.s[3][x & 0xff];
}

struct Encryptor {
    const BlowfishKey& key;
    Block64 operator()(Block64 b) const { return BlowfishEncrypt(key, b); }
};
struct Decryptor {
    const BlowfishKey& key;
    Block64 operator()(Block64 b) const { return BlowfishDecrypt(key, b); }
};

}  // namespace

Block64 BlowfishEncrypt(const BlowfishKey& key, Block64 block) {
    std::uint32_t left = block.left, right = block.right;
    for (int i = 0; i < 16; i += 2) {
        left ^= key.p[i];
        right ^= F(key, left);
        right ^= key.p[i + 1];
        left ^= F(key, right);
    }
    return {right ^ key.p[17], left ^ key.p[16]};
}

Block64 BlowfishDecrypt(const BlowfishKey& key, Block64 block) {
    std::uint32_t left = block.left, right = block.right;
    for (int i = 17; i > 1; i -= 2) {
        left ^= key.p[i];
        right ^= F(key, left);
        right ^= key.p[i - 1];
        left ^= F(key, right);
    }
    return {right ^ key.p[0], left ^ key.p[1]};
}

void BlowfishSetKey(BlowfishKey& key, const std::uint8_t* keyBytes, std::size_t keyLength) {
    std::memcpy(key.p, kBlowfishInitialP, sizeof key.p);
    std::memcpy(key.s, kBlowfishInitialS, sizeof key.s);
    std::size_t at = 0;
    for (auto& subkey : key.p) {
        std::uint32_t word = 0;
        for (int i = 0; i < 4; ++i, at = (at + 1) % keyLength)
            word = (word << 8) | keyBytes[at];
        subkey ^= word;
    }
    // Each pair of subkeys is replaced by the encryption of the previous pair.
    Block64 block{0, 0};
    for (int i = 0; i < 18; i += 2) {
        block = BlowfishEncrypt(key, block);
        key.p[i] = block.left;
        key.p[i + 1] = block.right;
    }
    for (auto& box : key.s) {
        for (int i = 0; i < 256; i += 2) {
            block = BlowfishEncrypt(key, block);
            box[i] = block.left;
            box[i + 1] = block.right;
        }
    }
}

namespace {

// The next four bytes of a cycled stream, big-endian.
std::uint32_t StreamWord(std::span<const std::uint8_t> bytes, std::size_t& at) {
    std::uint32_t word = 0;
    for (int i = 0; i < 4; ++i, at = (at + 1) % bytes.size())
        word = (word << 8) | bytes[at];
    return word;
}

}  // namespace

void BlowfishInitState(BlowfishKey& key) {
    std::memcpy(key.p, kBlowfishInitialP, sizeof key.p);
    std::memcpy(key.s, kBlowfishInitialS, sizeof key.s);
}

void BlowfishExpandState(BlowfishKey& key, std::span<const std::uint8_t> salt,
                         std::span<const std::uint8_t> keyBytes) {
    std::size_t at = 0;
    for (auto& subkey : key.p)
        subkey ^= StreamWord(keyBytes, at);
    at = 0;
    Block64 block{0, 0};
    const auto next = [&] {
        if (!salt.empty()) {
            block.left ^= StreamWord(salt, at);
            block.right ^= StreamWord(salt, at);
        }
        return block = BlowfishEncrypt(key, block);
    };
    for (int i = 0; i < 18; i += 2) {
        next();
        key.p[i] = block.left;
        key.p[i + 1] = block.right;
    }
    for (auto& box : key.s) {
        for (int i = 0; i < 256; i += 2) {
            next();
            box[i] = block.left;
            box[i + 1] = block.right;
        }
    }
}

void BlowfishCbcEncrypt(const BlowfishKey& key, WordOrder order, std::uint8_t iv[8],
                        std::uint8_t* data, std::size_t length) {
    if (order == WordOrder::BigEndian)
        Cbc64Encrypt<WordOrder::BigEndian>(Encryptor{key}, iv, data, length);
    else
        Cbc64Encrypt<WordOrder::LittleEndian>(Encryptor{key}, iv, data, length);
}

void BlowfishCbcDecrypt(const BlowfishKey& key, WordOrder order, std::uint8_t iv[8],
                        std::uint8_t* data, std::size_t length) {
    if (order == WordOrder::BigEndian)
        Cbc64Decrypt<WordOrder::BigEndian>(Decryptor{key}, iv, data, length);
    else
        Cbc64Decrypt<WordOrder::LittleEndian>(Decryptor{key}, iv, data, length);
}

void BlowfishSdctr(const BlowfishKey& key, std::uint8_t counter[8], std::uint8_t* data,
                   std::size_t length) {
    Sdctr64(Encryptor{key}, counter, data, length);
}
