#include "crypto/edwards25519.h"

#include <cstring>
#include <vector>

#include "platform/wipe.h"

namespace {

constexpr Fe25519 kD = {
    {0x34dca135978a3, 0x1a8283b156ebd, 0x5e7a26001c029, 0x739c663a03cbb, 0x52036cee2b6ff}};
constexpr Fe25519 kD2 = {
    {0x69b9426b2f159, 0x35050762add7a, 0x3cf44c0038052, 0x6738cc7407977, 0x2406d9dc56dff}};
constexpr Fe25519 kSqrtMinusOne = {
    {0x61b274a0ea0b0, 0xd5a5fc8f189d, 0x7ef5e9cbd0c60, 0x78595a6804c9e, 0x2b8324804fc1d}};
constexpr EdPoint kBase = {
    {{0x62d608f25d51a, 0x412a4b4f6592a, 0x75b7171a4b31d, 0x1ff60527118fe, 0x216936d3cd6e5}},
    {{0x6666666666658, 0x4cccccccccccc, 0x1999999999999, 0x3333333333333, 0x6666666666666}},
    {{1, 0, 0, 0, 0}},
    {{0x68ab3a5b7dda3, 0xeea2a5eadbb, 0x2af8df483c27e, 0x332b375274732, 0x67875f0fd78b7}}};

// An affine point ready for mixed addition: y + x, y - x, 2 d x y.
struct Niels {
    Fe25519 yPlusX, yMinusX, xy2d;
};

// A projective point ready for addition: Y + X, Y - X, Z, 2 d T.
struct Cached {
    Fe25519 yPlusX, yMinusX, Z, T2d;
};

// The result of an addition or doubling before its last multiplications:
// X = E F, Y = G H, Z = F G, T = E H.
struct Completed {
    Fe25519 E, F, G, H;
};

void SetIdentity(EdPoint& p) {
    FeZero(p.X);
    FeOne(p.Y);
    FeOne(p.Z);
    FeZero(p.T);
}

void SetIdentity(Niels& n) {
    FeOne(n.yPlusX);
    FeOne(n.yMinusX);
    FeZero(n.xy2d);
}

void ToExtended(EdPoint& p, const Completed& c) {
    FeMul(p.X, c.E, c.F);
    FeMul(p.Y, c.G, c.H);
    FeMul(p.Z, c.F, c.G);
    FeMul(p.T, c.E, c.H);
}

// Without T, for a point whose next use is a doubling.
void ToProjective(EdPoint& p, const Completed& c) {
    FeMul(p.X, c.E, c.F);
    FeMul(p.Y, c.G, c.H);
    FeMul(p.Z, c.F, c.G);
}

// Doubling for a = -1 with every output coordinate negated (the same projective point):
// E = 2XY, G = Y^2 - X^2, F = 2Z^2 - G, H = X^2 + Y^2. Reads X, Y and Z only.
void Double(Completed& c, const EdPoint& p) {
    Fe25519 xx, yy, zz2, sum;
    FeSq(xx, p.X);
    FeSq(yy, p.Y);
    FeSq(zz2, p.Z);
    FeAdd(zz2, zz2, zz2);
    FeAdd(sum, p.X, p.Y);
    FeSq(sum, sum);
    FeAdd(c.H, xx, yy);
    FeSub(c.E, sum, c.H);
    FeSub(c.G, yy, xx);
    FeSub(c.F, zz2, c.G);
}

// The unified addition for a = -1 (Hisil, Wong, Carter, Dawson 2008) once A, B, C and D
// are known; subtract says the second point was negated, which swaps the signs of C.
void FinishAdd(Completed& c, const Fe25519& a, const Fe25519& b, const Fe25519& cc,
               const Fe25519& d, bool subtract) {
    FeSub(c.E, b, a);
    FeAdd(c.H, b, a);
    if (subtract) {
        FeAdd(c.F, d, cc);
        FeSub(c.G, d, cc);
    } else {
        FeSub(c.F, d, cc);
        FeAdd(c.G, d, cc);
    }
}

void AddNiels(Completed& c, const EdPoint& p, const Niels& q, bool subtract = false) {
    Fe25519 a, b, cc, d;
    FeSub(a, p.Y, p.X);
    FeMul(a, a, subtract ? q.yPlusX : q.yMinusX);
    FeAdd(b, p.Y, p.X);
    FeMul(b, b, subtract ? q.yMinusX : q.yPlusX);
    FeMul(cc, p.T, q.xy2d);
    FeAdd(d, p.Z, p.Z);
    FinishAdd(c, a, b, cc, d, subtract);
}

void AddCached(Completed& c, const EdPoint& p, const Cached& q, bool subtract = false) {
    Fe25519 a, b, cc, d;
    FeSub(a, p.Y, p.X);
    FeMul(a, a, subtract ? q.yPlusX : q.yMinusX);
    FeAdd(b, p.Y, p.X);
    FeMul(b, b, subtract ? q.yMinusX : q.yPlusX);
    FeMul(cc, p.T, q.T2d);
    FeMul(d, p.Z, q.Z);
    FeAdd(d, d, d);
    FinishAdd(c, a, b, cc, d, subtract);
}

void ToCached(Cached& c, const EdPoint& p) {
    FeAdd(c.yPlusX, p.Y, p.X);
    FeSub(c.yMinusX, p.Y, p.X);
    c.Z = p.Z;
    FeMul(c.T2d, p.T, kD2);
}

void AddPoints(EdPoint& r, const EdPoint& p, const EdPoint& q) {
    Cached cached;
    Completed c;
    ToCached(cached, q);
    AddCached(c, p, cached);
    ToExtended(r, c);
}

void DoublePoint(EdPoint& r, const EdPoint& p) {
    Completed c;
    Double(c, p);
    ToExtended(r, c);
}

// Multiples 1..8 of 256^i B for i = 0..31 (the comb of the signed 4-bit digits), and the
// odd multiples B, 3B, ..., 15B for the verification window.
constexpr int kCombRows = 32;
constexpr int kCombColumns = 8;
constexpr int kOddMultiples = 8;

constexpr int kTableSize = kCombRows * kCombColumns + kOddMultiples;

struct BaseTable {
    Niels entries[kTableSize];
    const Niels* CombRow(int i) const { return entries + i * kCombColumns; }
    const Niels& Odd(int digit) const {
        return entries[kCombRows * kCombColumns + (digit > 0 ? digit : -digit) / 2];
    }
};

// Converts projective points to Niels form with one shared inversion (Montgomery's trick).
void BatchToNiels(Niels* out, const EdPoint* points, int count, Fe25519* scratch) {
    scratch[0] = points[0].Z;
    for (int i = 1; i < count; ++i)
        FeMul(scratch[i], scratch[i - 1], points[i].Z);
    Fe25519 inverse;
    FeInvert(inverse, scratch[count - 1]);
    for (int i = count - 1; i >= 0; --i) {
        Fe25519 zInverse, x, y;
        if (i > 0) {
            FeMul(zInverse, inverse, scratch[i - 1]);
            FeMul(inverse, inverse, points[i].Z);
        } else {
            zInverse = inverse;
        }
        FeMul(x, points[i].X, zInverse);
        FeMul(y, points[i].Y, zInverse);
        FeAdd(out[i].yPlusX, y, x);
        FeSub(out[i].yMinusX, y, x);
        FeMul(out[i].xy2d, x, y);
        FeMul(out[i].xy2d, out[i].xy2d, kD2);
    }
}

BaseTable BuildBaseTable() {
    std::vector<EdPoint> points(kTableSize);
    std::vector<Fe25519> scratch(kTableSize);
    EdPoint row = kBase;
    for (int i = 0; i < kCombRows; ++i) {
        EdPoint* multiples = points.data() + i * kCombColumns;
        multiples[0] = row;
        for (int j = 1; j < kCombColumns; ++j)
            AddPoints(multiples[j], multiples[j - 1], row);
        // 256 row is 8 row, the last entry, doubled five times.
        row = multiples[kCombColumns - 1];
        for (int k = 0; k < 5; ++k)
            DoublePoint(row, row);
    }
    EdPoint* odd = points.data() + kCombRows * kCombColumns;
    EdPoint twiceBase;
    DoublePoint(twiceBase, kBase);
    odd[0] = kBase;
    for (int j = 1; j < kOddMultiples; ++j)
        AddPoints(odd[j], odd[j - 1], twiceBase);

    BaseTable table;
    BatchToNiels(table.entries, points.data(), kTableSize, scratch.data());
    return table;
}

const BaseTable& Table() {
    static const BaseTable table = BuildBaseTable();
    return table;
}

// 1 when a == b, for small non-negative values, without a branch.
std::uint64_t Equal(std::uint32_t a, std::uint32_t b) {
    return (std::uint64_t{a ^ b} - 1) >> 63;
}

// t = digit * row[0] for digit in -8..8 by scanning every entry with masked moves.
void SelectNiels(Niels& t, const Niels* row, std::int8_t digit) {
    const auto negative = static_cast<std::uint64_t>(static_cast<std::uint8_t>(digit) >> 7);
    const int signMask = digit >> 7;  // all ones when negative
    const auto magnitude = static_cast<std::uint32_t>((digit ^ signMask) - signMask);
    SetIdentity(t);
    for (int j = 0; j < kCombColumns; ++j) {
        const std::uint64_t hit = Equal(magnitude, static_cast<std::uint32_t>(j + 1));
        FeConditionalMove(t.yPlusX, row[j].yPlusX, hit);
        FeConditionalMove(t.yMinusX, row[j].yMinusX, hit);
        FeConditionalMove(t.xy2d, row[j].xy2d, hit);
    }
    // -(x, y) = (-x, y): swap y + x with y - x and negate 2dxy.
    FeConditionalSwap(t.yPlusX, t.yMinusX, negative);
    Fe25519 minus;
    FeNeg(minus, t.xy2d);
    FeConditionalMove(t.xy2d, minus, negative);
}

// Odd digits in -15..15, at most one non-zero in any five consecutive places.
void SlidingDigits(std::int8_t digits[256], const std::uint8_t scalar[32]) {
    std::uint64_t k[5] = {};
    for (int i = 0; i < 32; ++i)
        k[i / 8] |= std::uint64_t{scalar[i]} << (8 * (i % 8));
    for (int i = 0; i < 256; ++i) {
        int digit = 0;
        if (k[0] & 1) {
            digit = static_cast<int>(k[0] & 31);
            if (digit >= 16) digit -= 32;
            // k -= digit; k stays non-negative and becomes divisible by 32.
            if (digit > 0) {
                std::uint64_t borrow = static_cast<std::uint64_t>(digit);
                for (auto& limb : k) {
                    const std::uint64_t before = limb;
                    limb -= borrow;
                    borrow = limb > before;
                }
            } else {
                std::uint64_t carry = static_cast<std::uint64_t>(-digit);
                for (auto& limb : k) {
                    limb += carry;
                    carry = limb < carry;
                }
            }
        }
        digits[i] = static_cast<std::int8_t>(digit);
        for (int j = 0; j < 4; ++j)
            k[j] = k[j] >> 1 | k[j + 1] << 63;
        k[4] >>= 1;
    }
}

}  // namespace

void EdBaseMultiply(EdPoint& out, const std::uint8_t scalar[32]) {
    const BaseTable& table = Table();
    // Signed radix 16: scalar = sum e[i] 16^i with e[i] in -8..8 (the top one in 0..8 since
    // the scalar is below 2^255).
    std::int8_t e[64];
    for (int i = 0; i < 32; ++i) {
        e[2 * i] = static_cast<std::int8_t>(scalar[i] & 15);
        e[2 * i + 1] = static_cast<std::int8_t>(scalar[i] >> 4);
    }
    std::int8_t carry = 0;
    for (int i = 0; i < 63; ++i) {
        e[i] = static_cast<std::int8_t>(e[i] + carry);
        carry = static_cast<std::int8_t>((e[i] + 8) >> 4);
        e[i] = static_cast<std::int8_t>(e[i] - carry * 16);
    }
    e[63] = static_cast<std::int8_t>(e[63] + carry);

    // Odd digits first, times 16, then the even digits: e[2i + 1] 16^(2i + 1) B is 16 times
    // e[2i + 1] 256^i B.
    EdPoint p;
    Completed c;
    Niels t;
    SetIdentity(p);
    for (int i = 1; i < 64; i += 2) {
        SelectNiels(t, table.CombRow(i / 2), e[i]);
        AddNiels(c, p, t);
        ToExtended(p, c);
    }
    for (int k = 0; k < 3; ++k) {
        Double(c, p);
        ToProjective(p, c);
    }
    Double(c, p);
    ToExtended(p, c);
    for (int i = 0; i < 64; i += 2) {
        SelectNiels(t, table.CombRow(i / 2), e[i]);
        AddNiels(c, p, t);
        ToExtended(p, c);
    }
    out = p;
    SecureWipeObject(e);
    SecureWipeObject(p);
    SecureWipeObject(c);
    SecureWipeObject(t);
}

void EdDoubleScalarMultiply(EdPoint& out, const std::uint8_t a[32], const EdPoint& A,
                            const std::uint8_t b[32]) {
    const BaseTable& table = Table();
    std::int8_t aDigits[256], bDigits[256];
    SlidingDigits(aDigits, a);
    SlidingDigits(bDigits, b);

    // A, 3A, ..., 15A.
    Cached aOdd[kOddMultiples];
    EdPoint twiceA, multiple = A;
    DoublePoint(twiceA, A);
    ToCached(aOdd[0], A);
    for (int j = 1; j < kOddMultiples; ++j) {
        AddPoints(multiple, multiple, twiceA);
        ToCached(aOdd[j], multiple);
    }

    int top = 255;
    while (top >= 0 && aDigits[top] == 0 && bDigits[top] == 0)
        --top;
    if (top < 0) return SetIdentity(out);
    EdPoint p;
    Completed c;
    SetIdentity(p);
    for (int i = top; i >= 0; --i) {
        Double(c, p);
        if (aDigits[i] != 0) {
            ToExtended(p, c);
            const int digit = aDigits[i];
            AddCached(c, p, aOdd[(digit > 0 ? digit : -digit) / 2], digit < 0);
        }
        if (bDigits[i] != 0) {
            ToExtended(p, c);
            const int digit = bDigits[i];
            AddNiels(c, p, table.Odd(digit), digit < 0);
        }
        ToProjective(p, c);
    }
    ToExtended(out, c);
}

void EdEncode(std::uint8_t out[32], const EdPoint& point) {
    Fe25519 zInverse, x, y;
    FeInvert(zInverse, point.Z);
    FeMul(x, point.X, zInverse);
    FeMul(y, point.Y, zInverse);
    FeToBytes(out, y);
    out[31] ^= static_cast<std::uint8_t>(FeIsOdd(x) << 7);
    SecureWipeObject(zInverse);
    SecureWipeObject(x);
    SecureWipeObject(y);
}

bool EdDecode(EdPoint& out, const std::uint8_t encoding[32]) {
    // y must be below p = 2^255 - 19: refuse 7f ff .. ff (ed..ff) read little-endian.
    bool allOnes = (encoding[31] & 0x7F) == 0x7F;
    for (int i = 1; i < 31 && allOnes; ++i)
        allOnes = encoding[i] == 0xFF;
    if (allOnes && encoding[0] >= 0xED) return false;
    const bool sign = (encoding[31] >> 7) != 0;

    Fe25519 y, u, v, v3, x, check;
    FeFromBytes(y, encoding);
    FeSq(u, y);
    FeMul(v, u, kD);
    Fe25519 one;
    FeOne(one);
    FeSub(u, u, one);  // y^2 - 1
    FeAdd(v, v, one);  // d y^2 + 1

    // x = u v^3 (u v^7)^((p - 5) / 8), a square root of u / v when one exists.
    FeSq(v3, v);
    FeMul(v3, v3, v);
    FeSq(x, v3);
    FeMul(x, x, v);
    FeMul(x, x, u);  // u v^7
    FePow22523(x, x);
    FeMul(x, x, v3);
    FeMul(x, x, u);

    FeSq(check, x);
    FeMul(check, check, v);  // v x^2
    std::uint8_t vxx[32], uBytes[32], minusUBytes[32];
    FeToBytes(vxx, check);
    FeToBytes(uBytes, u);
    Fe25519 minusU;
    FeNeg(minusU, u);
    FeToBytes(minusUBytes, minusU);
    if (std::memcmp(vxx, uBytes, 32) != 0) {
        if (std::memcmp(vxx, minusUBytes, 32) != 0) return false;
        FeMul(x, x, kSqrtMinusOne);
    }
    if (FeIsZero(x) && sign) return false;
    if ((FeIsOdd(x) != 0) != sign) FeNeg(x, x);

    out.X = x;
    out.Y = y;
    FeOne(out.Z);
    FeMul(out.T, x, y);
    return true;
}

void EdNegate(EdPoint& out, const EdPoint& point) {
    FeNeg(out.X, point.X);
    out.Y = point.Y;
    out.Z = point.Z;
    FeNeg(out.T, point.T);
}

void EdMontgomeryU(std::uint8_t out[32], const EdPoint& point) {
    // u = (1 + y) / (1 - y) = (Z + Y) / (Z - Y).
    Fe25519 numerator, denominator;
    FeAdd(numerator, point.Z, point.Y);
    FeSub(denominator, point.Z, point.Y);
    FeInvert(denominator, denominator);
    FeMul(numerator, numerator, denominator);
    FeToBytes(out, numerator);
    SecureWipeObject(numerator);
    SecureWipeObject(denominator);
}
