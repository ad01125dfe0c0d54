#include "crypto/bcrypt_pbkdf.h"

#include <algorithm>
#include <cstring>

#include "crypto/blowfish.h"
#include "crypto/byte_order.h"
#include "crypto/sha512.h"
#include "platform/wipe.h"

namespace {

constexpr std::size_t kHashWords = 8;
constexpr std::size_t kHashBytes = kHashWords * 4;  // one bcrypt_hash output
constexpr int kExpensiveRounds = 64;
constexpr char kMagic[] = "OxychromaticBlowfishSwatDynamite";
static_assert(sizeof kMagic - 1 == kHashBytes);

void Sha512Of(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b,
              std::uint8_t digest[kSha512DigestLength]) {
    Sha512State state;
    Sha512Init(state);
    Sha512Update(state, a.data(), a.size());
    Sha512Update(state, b.data(), b.size());
    Sha512Final(state, digest);
}

// bcrypt_hash: the expensive key schedule keyed by both digests, then the magic
// text encrypted 64 times. The words go out little-endian, as the original
// writes them (it reads the magic big-endian).
void BcryptHash(const std::uint8_t passDigest[kSha512DigestLength],
                const std::uint8_t saltDigest[kSha512DigestLength], std::uint8_t out[kHashBytes]) {
    const std::span<const std::uint8_t> pass(passDigest, kSha512DigestLength);
    const std::span<const std::uint8_t> salt(saltDigest, kSha512DigestLength);
    BlowfishKey key;
    BlowfishInitState(key);
    BlowfishExpandState(key, salt, pass);
    for (int i = 0; i < kExpensiveRounds; ++i) {
        BlowfishExpandState(key, {}, salt);
        BlowfishExpandState(key, {}, pass);
    }
    Block64 blocks[kHashWords / 2];
    for (std::size_t i = 0; i < kHashWords / 2; ++i) {
        const auto* magic = reinterpret_cast<const std::uint8_t*>(kMagic) + 8 * i;
        blocks[i] = {LoadBe32(magic), LoadBe32(magic + 4)};
    }
    for (int round = 0; round < kExpensiveRounds; ++round)
        for (Block64& block : blocks)
            block = BlowfishEncrypt(key, block);
    for (std::size_t i = 0; i < kHashWords / 2; ++i) {
        StoreLe32(out + 8 * i, blocks[i].left);
        StoreLe32(out + 8 * i + 4, blocks[i].right);
    }
    SecureWipeObject(key);
    SecureWipeObject(blocks);
}

}  // namespace

bool BcryptPbkdf(std::span<const std::uint8_t> passphrase, std::span<const std::uint8_t> salt,
                 std::uint32_t rounds, std::span<std::uint8_t> key) {
    if (rounds < 1 || passphrase.empty() || salt.empty() || key.empty() ||
        key.size() > kHashBytes * kHashBytes) {
        return false;
    }
    // Output byte i of block number c (from 1) lands at key[i * stride + c - 1].
    const std::size_t stride = (key.size() + kHashBytes - 1) / kHashBytes;
    const std::size_t perBlock = (key.size() + stride - 1) / stride;

    std::uint8_t passDigest[kSha512DigestLength];
    std::uint8_t saltDigest[kSha512DigestLength];
    std::uint8_t out[kHashBytes];
    std::uint8_t roundOut[kHashBytes];
    Sha512Of(passphrase, {}, passDigest);

    std::size_t written = 0;
    for (std::uint32_t count = 1; written < key.size(); ++count) {
        std::uint8_t countBytes[4];
        StoreBe32(countBytes, count);
        Sha512Of(salt, countBytes, saltDigest);
        BcryptHash(passDigest, saltDigest, roundOut);
        std::memcpy(out, roundOut, sizeof out);
        for (std::uint32_t round = 1; round < rounds; ++round) {
            Sha512Of(roundOut, {}, saltDigest);
            BcryptHash(passDigest, saltDigest, roundOut);
            for (std::size_t j = 0; j < sizeof out; ++j)
                out[j] ^= roundOut[j];
        }
        for (std::size_t i = 0; i < perBlock; ++i) {
            const std::size_t dest = i * stride + (count - 1);
            if (dest >= key.size()) break;
            key[dest] = out[i];
            ++written;
        }
    }
    SecureWipe(passDigest, sizeof passDigest);
    SecureWipe(saltDigest, sizeof saltDigest);
    SecureWipe(out, sizeof out);
    SecureWipe(roundOut, sizeof roundOut);
    return true;
}
