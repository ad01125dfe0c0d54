// Arithmetic modulo 2^130 - 5 in three limbs of 44, 44 and 42 bits, so that the products
// fit 128 bits with room for the sums; the final reduction is branch-free.
#include "crypto/poly1305.h"

#include <algorithm>
#include <cstring>

#include "crypto/wipe.h"

namespace {

using Wide = unsigned __int128;

constexpr std::uint64_t kMask44 = (std::uint64_t{1} << 44) - 1;
constexpr std::uint64_t kMask42 = (std::uint64_t{1} << 42) - 1;

inline std::uint64_t LoadLe64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

inline void StoreLe64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i, v >>= 8)
        p[i] = std::uint8_t(v);
}

// hibit is 2^128 in the top limb (1 << 40) for a full block, 0 for the padded last one.
void Blocks(Poly1305& mac, const std::uint8_t* data, std::size_t blocks, std::uint64_t hibit) {
    const std::uint64_t r0 = mac.r[0], r1 = mac.r[1], r2 = mac.r[2];
    // 2^132 = 4 * 2^130 = 20 (mod p): the products above the top limb fold back times 20.
    const std::uint64_t s1 = r1 * 20, s2 = r2 * 20;
    std::uint64_t h0 = mac.h[0], h1 = mac.h[1], h2 = mac.h[2];
    for (; blocks > 0; --blocks, data += 16) {
        const std::uint64_t t0 = LoadLe64(data), t1 = LoadLe64(data + 8);
        h0 += t0 & kMask44;
        h1 += ((t0 >> 44) | (t1 << 20)) & kMask44;
        h2 += ((t1 >> 24) & kMask42) | hibit;

        const Wide d0 = Wide(h0) * r0 + Wide(h1) * s2 + Wide(h2) * s1;
        Wide d1 = Wide(h0) * r1 + Wide(h1) * r0 + Wide(h2) * s2;
        Wide d2 = Wide(h0) * r2 + Wide(h1) * r1 + Wide(h2) * r0;

        std::uint64_t carry = std::uint64_t(d0 >> 44);
        h0 = std::uint64_t(d0) & kMask44;
        d1 += carry;
        carry = std::uint64_t(d1 >> 44);
        h1 = std::uint64_t(d1) & kMask44;
        d2 += carry;
        carry = std::uint64_t(d2 >> 42);
        h2 = std::uint64_t(d2) & kMask42;
        h0 += carry * 5;
        carry = h0 >> 44;
        h0 &= kMask44;
        h1 += carry;
    }
    mac.h[0] = h0;
    mac.h[1] = h1;
    mac.h[2] = h2;
}

}  // namespace

void Poly1305Init(Poly1305& mac, const std::uint8_t key[32]) {
    const std::uint64_t t0 = LoadLe64(key), t1 = LoadLe64(key + 8);
    // The clamping of RFC 8439 section 2.5, applied while splitting into limbs.
    mac.r[0] = t0 & 0xffc0fffffff;
    mac.r[1] = ((t0 >> 44) | (t1 << 20)) & 0xfffffc0ffff;
    mac.r[2] = (t1 >> 24) & 0x00ffffffc0f;
    mac.s[0] = LoadLe64(key + 16);
    mac.s[1] = LoadLe64(key + 24);
    mac.h[0] = mac.h[1] = mac.h[2] = 0;
    mac.buffered = 0;
}

void Poly1305Update(Poly1305& mac, const std::uint8_t* data, std::size_t length) {
    if (mac.buffered > 0) {
        const std::size_t take = std::min(length, 16 - mac.buffered);
        std::memcpy(mac.buffer + mac.buffered, data, take);
        mac.buffered += take;
        data += take;
        length -= take;
        if (mac.buffered < 16) return;
        Blocks(mac, mac.buffer, 1, std::uint64_t{1} << 40);
        mac.buffered = 0;
    }
    Blocks(mac, data, length / 16, std::uint64_t{1} << 40);
    data += length / 16 * 16;
    length %= 16;
    std::memcpy(mac.buffer, data, length);
    mac.buffered = length;
}

void Poly1305Final(Poly1305& mac, std::uint8_t tag[16]) {
    if (mac.buffered > 0) {
        mac.buffer[mac.buffered] = 1;
        std::memset(mac.buffer + mac.buffered + 1, 0, 16 - mac.buffered - 1);
        Blocks(mac, mac.buffer, 1, 0);
    }
    std::uint64_t h0 = mac.h[0], h1 = mac.h[1], h2 = mac.h[2];
    // Carry fully, twice round, so that h < 2^130.
    for (int pass = 0; pass < 2; ++pass) {
        std::uint64_t carry = h1 >> 44;
        h1 &= kMask44;
        h2 += carry;
        carry = h2 >> 42;
        h2 &= kMask42;
        h0 += carry * 5;
        carry = h0 >> 44;
        h0 &= kMask44;
        h1 += carry;
    }
    // g = h + 5 - 2^130; take it when it does not go negative (h >= p).
    std::uint64_t g0 = h0 + 5;
    std::uint64_t carry = g0 >> 44;
    g0 &= kMask44;
    std::uint64_t g1 = h1 + carry;
    carry = g1 >> 44;
    g1 &= kMask44;
    const std::uint64_t g2 = h2 + carry - (std::uint64_t{1} << 42);
    const std::uint64_t useG = (g2 >> 63) - 1;  // all ones when g2 did not borrow
    h0 = (h0 & ~useG) | (g0 & useG);
    h1 = (h1 & ~useG) | (g1 & useG);
    h2 = (h2 & ~useG) | (g2 & useG & kMask42);

    // h + s mod 2^128.
    const std::uint64_t s0 = mac.s[0], s1 = mac.s[1];
    h0 += s0 & kMask44;
    carry = h0 >> 44;
    h0 &= kMask44;
    h1 += (((s0 >> 44) | (s1 << 20)) & kMask44) + carry;
    carry = h1 >> 44;
    h1 &= kMask44;
    h2 += ((s1 >> 24) & kMask42) + carry;
    StoreLe64(tag, h0 | (h1 << 44));
    StoreLe64(tag + 8, (h1 >> 20) | (h2 << 24));
    SecureWipeObject(mac);
}

void Poly1305Mac(const std::uint8_t key[32], const std::uint8_t* data, std::size_t length,
                 std::uint8_t tag[16]) {
    Poly1305 mac;
    Poly1305Init(mac, key);
    Poly1305Update(mac, data, length);
    Poly1305Final(mac, tag);
}

bool ConstantTimeEqual(const std::uint8_t* a, const std::uint8_t* b, std::size_t length) {
    std::uint8_t difference = 0;
    for (std::size_t i = 0; i < length; ++i)
        difference |= std::uint8_t(a[i] ^ b[i]);
    // Through a volatile so the loop cannot be cut short at the first difference.
    volatile std::uint8_t result = difference;
    return result == 0;
}
