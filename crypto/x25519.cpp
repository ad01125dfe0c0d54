#include "crypto/x25519.h"

#include "crypto/edwards25519.h"
#include "crypto/field25519.h"
#include "platform/wipe.h"

namespace {

// (A - 2) / 4 for Curve25519's A = 486662.
constexpr std::uint32_t kA24 = 121665;

struct LadderState {
    Fe25519 x1, x2, z2, x3, z3;
    Fe25519 a, aa, b, bb, e, c, d, da, cb;
    std::uint8_t k[32];
};

// The Montgomery ladder of RFC 7748 section 5: one differential addition and one doubling
// per bit, the operands swapped by masks rather than by branches on the scalar.
void Ladder(LadderState& s, std::uint8_t out[32]) {
    FeOne(s.x2);
    FeZero(s.z2);
    s.x3 = s.x1;
    FeOne(s.z3);
    std::uint64_t swap = 0;
    for (int t = 254; t >= 0; --t) {
        const std::uint64_t bit = (s.k[t >> 3] >> (t & 7)) & 1;
        swap ^= bit;
        FeConditionalSwap(s.x2, s.x3, swap);
        FeConditionalSwap(s.z2, s.z3, swap);
        swap = bit;

        FeAdd(s.a, s.x2, s.z2);
        FeSq(s.aa, s.a);
        FeSub(s.b, s.x2, s.z2);
        FeSq(s.bb, s.b);
        FeSub(s.e, s.aa, s.bb);
        FeAdd(s.c, s.x3, s.z3);
        FeSub(s.d, s.x3, s.z3);
        FeMul(s.da, s.d, s.a);
        FeMul(s.cb, s.c, s.b);
        FeAdd(s.x3, s.da, s.cb);
        FeSq(s.x3, s.x3);
        FeSub(s.z3, s.da, s.cb);
        FeSq(s.z3, s.z3);
        FeMul(s.z3, s.z3, s.x1);
        FeMul(s.x2, s.aa, s.bb);
        FeMulSmall(s.z2, s.e, kA24);
        FeAdd(s.z2, s.z2, s.aa);
        FeMul(s.z2, s.z2, s.e);
    }
    FeConditionalSwap(s.x2, s.x3, swap);
    FeConditionalSwap(s.z2, s.z3, swap);
    FeInvert(s.z2, s.z2);
    FeMul(s.x2, s.x2, s.z2);
    FeToBytes(out, s.x2);
}

void Clamp(std::uint8_t k[32], const std::uint8_t scalar[32]) {
    for (int i = 0; i < 32; ++i)
        k[i] = scalar[i];
    k[0] &= 248;
    k[31] &= 127;
    k[31] |= 64;
}

}  // namespace

bool X25519(std::uint8_t out[kX25519Length], const std::uint8_t scalar[kX25519Length],
            const std::uint8_t u[kX25519Length]) {
    LadderState state;
    Clamp(state.k, scalar);
    FeFromBytes(state.x1, u);  // drops the top bit
    Ladder(state, out);
    SecureWipeObject(state);
    std::uint32_t any = 0;
    for (std::size_t i = 0; i < kX25519Length; ++i)
        any |= out[i];
    return ((any - 1) >> 31) == 0;
}

// The fixed-base comb on the equivalent Edwards curve is about three times faster than the
// ladder; u = (1 + y) / (1 - y) carries the result across.
void X25519Base(std::uint8_t out[kX25519Length], const std::uint8_t scalar[kX25519Length]) {
    std::uint8_t k[32];
    Clamp(k, scalar);
    EdPoint point;
    EdBaseMultiply(point, k);
    EdMontgomeryU(out, point);
    SecureWipeObject(k);
    SecureWipeObject(point);
}
