#include "crypto/arcfour.h"

#include "platform/wipe.h"

bool ArcfourSetKeyRaw(ArcfourState& state, const std::uint8_t* key, std::size_t keyLength) {
    if (keyLength == 0 || keyLength > kArcfourMaxKeyLength) return false;
    for (int k = 0; k < 256; ++k)
        state.s[k] = std::uint8_t(k);
    std::uint8_t j = 0;
    for (int k = 0; k < 256; ++k) {
        j = std::uint8_t(j + state.s[k] + key[k % keyLength]);
        const std::uint8_t t = state.s[k];
        state.s[k] = state.s[j];
        state.s[j] = t;
    }
    state.i = 0;
    state.j = 0;
    return true;
}

bool ArcfourSetKey(ArcfourState& state, const std::uint8_t* key, std::size_t keyLength) {
    if (!ArcfourSetKeyRaw(state, key, keyLength)) return false;
    std::uint8_t discard[kArcfourDiscard] = {};
    ArcfourCrypt(state, discard, sizeof discard);
    SecureWipeObject(discard);
    return true;
}

void ArcfourCrypt(ArcfourState& state, std::uint8_t* data, std::size_t length) {
    std::uint8_t i = state.i, j = state.j;
    std::uint8_t* s = state.s;
    for (std::size_t n = 0; n < length; ++n) {
        i = std::uint8_t(i + 1);
        const std::uint8_t si = s[i];
        j = std::uint8_t(j + si);
        const std::uint8_t sj = s[j];
        s[i] = sj;
        s[j] = si;
        data[n] ^= s[std::uint8_t(si + sj)];
    }
    state.i = i;
    state.j = j;
}
