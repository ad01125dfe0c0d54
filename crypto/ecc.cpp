#include "crypto/ecc.h"

#include <algorithm>
#include <string_view>

#include "crypto/ecc_field.h"
#include "crypto/hash.h"
#include "crypto/hmac.h"
#include "crypto/random.h"

using ecc::Limb;
using ecc::Limbs;
using ecc::Modulus;

// Each curve's operations are one instantiation of the templates below over
// its limb count; the curve record carries them as a table.
struct EcOps {
    bool (*pointIsValid)(std::span<const std::uint8_t> point);
    bool (*publicFromPrivate)(std::span<const std::uint8_t> scalar,
                              std::vector<std::uint8_t>* point);
    bool (*sharedSecret)(std::span<const std::uint8_t> scalar,
                         std::span<const std::uint8_t> peerPoint, SecureBytes* x);
    void (*randomScalar)(SecureBytes* scalar);
    bool (*verify)(std::span<const std::uint8_t> point, const BigNum& r, const BigNum& s,
                   std::span<const std::uint8_t> digest);
    bool (*sign)(const HashDescriptor& hash, std::span<const std::uint8_t> scalar,
                 std::span<const std::uint8_t> digest, BigNum* r, BigNum* s);
    bool (*nonce)(const HashDescriptor& hash, std::span<const std::uint8_t> scalar,
                  std::span<const std::uint8_t> digest, SecureBytes* k);
};

struct EcCurve {
    std::string_view name;
    std::string_view hashName;
    std::size_t fieldBytes;
    std::size_t orderBits;
    const EcOps* ops;
};

namespace {

// The curves' published constants (FIPS 186-4 appendix D.1.2), big-endian hex.
// Every curve has a = -3, which the point formulas build in.
struct CurveText {
    const char* p;
    const char* n;
    const char* b;
    const char* gx;
    const char* gy;
    std::size_t fieldBytes;
    std::size_t orderBits;
};

template <std::size_t N>
constexpr CurveText kCurveText{};

template <>
constexpr CurveText kCurveText<4> = {
    "ffffffff00000001000000000000000000000000ffffffffffffffffffffffff",
    "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551",
    "5ac635d8aa3a93e7b3ebbd55769886bc651d06b0cc53b0f63bce3c3e27d2604b",
    "6b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c296",
    "4fe342e2fe1a7f9b8ee7eb4a7c0f9e162bce33576b315ececbb6406837bf51f5",
    32,
    256,
};

template <>
constexpr CurveText kCurveText<6> = {
    "fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffe"
    "ffffffff0000000000000000ffffffff",
    "ffffffffffffffffffffffffffffffffffffffffffffffffc7634d81f4372ddf"
    "581a0db248b0a77aecec196accc52973",
    "b3312fa7e23ee7e4988e056be3f82d19181d9c6efe8141120314088f5013875a"
    "c656398d8a2ed19d2a85c8edd3ec2aef",
    "aa87ca22be8b05378eb1c71ef320ad746e1d3b628ba79b9859f741e082542a38"
    "5502f25dbf55296c3a545e3872760ab7",
    "3617de4a96262c6f5d9e98bf9292dc29f8f41dbd289a147ce9da3113b5f0b8c0"
    "0a60b1ce1d7e819d7a431d7c90ea0e5f",
    48,
    384,
};

template <>
constexpr CurveText kCurveText<9> = {
    "01ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
    "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
    "ffff",
    "01ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
    "fffa51868783bf2f966b7fcc0148f709a5d03bb5c9b8899c47aebb6fb71e9138"
    "6409",
    "0051953eb9618e1c9a1f929a21a0b68540eea2da725b99b315f3b8b489918ef1"
    "09e156193951ec7e937b1652c0bd3bb1bf073573df883d2c34f1ef451fd46b50"
    "3f00",
    "00c6858e06b70404e9cd9e3ecb662395b4429c648139053fb521f828af606b4d"
    "3dbaa14b5e77efe75928fe1dc127a2ffa8de3348b3c1856a429bf97e7e31c2e5"
    "bd66",
    "011839296a789a3bc0045c8a5fb42c7d1bd998f54449579b446817afbd17273e"
    "662c97ee72995ef42640c550b9013fad0761353c7086a272c24088be94769fd1"
    "6650",
    66,
    521,
};

std::vector<std::uint8_t> HexBytes(std::string_view hex) {
    std::vector<std::uint8_t> out;
    auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(digit(hex[i]) << 4 | digit(hex[i + 1])));
    return out;
}

template <std::size_t N>
Limbs<N> LimbsOf(const BigNum& value) {
    Limbs<N> r{};
    const auto& limbs = value.limbs();
    for (std::size_t i = 0; i < limbs.size() && i < N; ++i)
        r[i] = limbs[i];
    return r;
}

template <std::size_t N>
Modulus<N> MakeModulus(std::string_view hex) {
    std::vector<std::uint8_t> bytes = HexBytes(hex);
    BigNum m = BigNum::FromBytes(bytes);
    Modulus<N> mod{};
    mod.m = LimbsOf<N>(m);
    // Newton's iteration doubles the correct low bits of m^-1 each step.
    Limb inverse = 1;
    for (int i = 0; i < 6; ++i)
        inverse *= 2 - mod.m[0] * inverse;
    mod.m0inv = Limb{0} - inverse;
    BigNum r;
    r.SetBit(64 * N);
    mod.one = LimbsOf<N>(Mod(r, m));
    mod.rr = LimbsOf<N>(ModMul(r, r, m));
    return mod;
}

// Projective (X : Y : Z) in Montgomery form; (0 : 1 : 0) is the point at infinity.
template <std::size_t N>
struct Point {
    Limbs<N> x, y, z;
};

template <std::size_t N>
struct CurveParams {
    Modulus<N> p;
    Modulus<N> n;
    Limbs<N> b;  // Montgomery form
    Point<N> g;
    std::size_t fieldBytes;
    std::size_t orderBits;
    std::size_t scalarBytes;
};

template <std::size_t N>
const CurveParams<N>& Params() {
    static const CurveParams<N> params = [] {
        const CurveText& text = kCurveText<N>;
        CurveParams<N> c{};
        c.p = MakeModulus<N>(text.p);
        c.n = MakeModulus<N>(text.n);
        auto mont = [&](const char* hex) {
            Limbs<N> value = ecc::FromBigEndian<N>(HexBytes(hex));
            ecc::ToMont(value, value, c.p);
            return value;
        };
        c.b = mont(text.b);
        c.g = {mont(text.gx), mont(text.gy), c.p.one};
        c.fieldBytes = text.fieldBytes;
        c.orderBits = text.orderBits;
        c.scalarBytes = (text.orderBits + 7) / 8;
        return c;
    }();
    return params;
}

// Field arithmetic modulo p in value style, for readable point formulas.
template <std::size_t N>
struct Field {
    const Modulus<N>& m;

    Limbs<N> Mul(const Limbs<N>& a, const Limbs<N>& b) const {
        Limbs<N> r;
        ecc::MontMul(r, a, b, m);
        return r;
    }
    Limbs<N> Add(const Limbs<N>& a, const Limbs<N>& b) const {
        Limbs<N> r;
        ecc::ModAdd(r, a, b, m);
        return r;
    }
    Limbs<N> Sub(const Limbs<N>& a, const Limbs<N>& b) const {
        Limbs<N> r;
        ecc::ModSub(r, a, b, m);
        return r;
    }
    Limbs<N> Double(const Limbs<N>& a) const { return Add(a, a); }
    Limbs<N> Triple(const Limbs<N>& a) const { return Add(Add(a, a), a); }
};

template <std::size_t N>
Point<N> Infinity(const CurveParams<N>& c) {
    return {Limbs<N>{}, c.p.one, Limbs<N>{}};
}

// Complete addition for a = -3 (Renes, Costello, Batina 2016, algorithm 4):
// one formula for every pair of inputs, doubling and infinity included, so
// nothing branches on the points.
template <std::size_t N>
Point<N> Add(const Point<N>& a, const Point<N>& b, const CurveParams<N>& c) {
    const Field<N> f{c.p};
    const Limbs<N> xx = f.Mul(a.x, b.x);
    const Limbs<N> yy = f.Mul(a.y, b.y);
    const Limbs<N> zz = f.Mul(a.z, b.z);
    const Limbs<N> xy = f.Sub(f.Mul(f.Add(a.x, a.y), f.Add(b.x, b.y)), f.Add(xx, yy));
    const Limbs<N> yz = f.Sub(f.Mul(f.Add(a.y, a.z), f.Add(b.y, b.z)), f.Add(yy, zz));
    const Limbs<N> xz = f.Sub(f.Mul(f.Add(a.x, a.z), f.Add(b.x, b.z)), f.Add(xx, zz));

    const Limbs<N> bzz3 = f.Triple(f.Sub(xz, f.Mul(c.b, zz)));
    const Limbs<N> yyMinus = f.Sub(yy, bzz3);
    const Limbs<N> yyPlus = f.Add(yy, bzz3);
    const Limbs<N> zz3 = f.Triple(zz);
    const Limbs<N> bxz3 = f.Triple(f.Sub(f.Mul(c.b, xz), f.Add(zz3, xx)));
    const Limbs<N> xx3MinusZz3 = f.Sub(f.Triple(xx), zz3);

    return {f.Sub(f.Mul(yyPlus, xy), f.Mul(yz, bxz3)),
            f.Add(f.Mul(yyPlus, yyMinus), f.Mul(xx3MinusZz3, bxz3)),
            f.Add(f.Mul(yyMinus, yz), f.Mul(xy, xx3MinusZz3))};
}

// Doubling for a = -3 (same paper, algorithm 6), also exception-free.
template <std::size_t N>
Point<N> Double(const Point<N>& a, const CurveParams<N>& c) {
    const Field<N> f{c.p};
    const Limbs<N> xx = f.Mul(a.x, a.x);
    const Limbs<N> yy = f.Mul(a.y, a.y);
    const Limbs<N> zz = f.Mul(a.z, a.z);
    const Limbs<N> xy2 = f.Double(f.Mul(a.x, a.y));
    const Limbs<N> xz2 = f.Double(f.Mul(a.x, a.z));

    const Limbs<N> bzz3 = f.Triple(f.Sub(f.Mul(c.b, zz), xz2));
    const Limbs<N> yyMinus = f.Sub(yy, bzz3);
    const Limbs<N> yyPlus = f.Add(yy, bzz3);
    const Limbs<N> zz3 = f.Triple(zz);
    const Limbs<N> bxz6 = f.Triple(f.Sub(f.Mul(c.b, xz2), f.Add(zz3, xx)));
    const Limbs<N> xx3MinusZz3 = f.Sub(f.Triple(xx), zz3);
    const Limbs<N> yz2 = f.Double(f.Mul(a.y, a.z));

    return {f.Sub(f.Mul(yyMinus, xy2), f.Mul(bxz6, yz2)),
            f.Add(f.Mul(yyPlus, yyMinus), f.Mul(xx3MinusZz3, bxz6)),
            f.Double(f.Double(f.Mul(yz2, yy)))};
}

template <std::size_t N>
void WipePoint(Point<N>& point) {
    SecureWipeObject(point);
}

constexpr std::size_t kWindowBits = 4;
constexpr std::size_t kTableSize = 1 << kWindowBits;

// The multiples 0 to 15 of a point.
template <std::size_t N>
struct Table {
    Point<N> entries[kTableSize];
};

template <std::size_t N>
void FillTable(Table<N>& table, const Point<N>& point, const CurveParams<N>& c) {
    table.entries[0] = Infinity(c);
    table.entries[1] = point;
    for (std::size_t i = 2; i < kTableSize; ++i) {
        table.entries[i] =
            i % 2 ? Add(table.entries[i - 1], point, c) : Double(table.entries[i / 2], c);
    }
}

// table[digit] read without a secret index: every entry is loaded and masked.
template <std::size_t N>
void Lookup(const Table<N>& table, Limb digit, Point<N>* chosen) {
    *chosen = Point<N>{};
    for (std::size_t i = 0; i < kTableSize; ++i) {
        const Limb mask = ecc::MaskOf(ecc::IsZeroLimb(digit ^ i));
        const Point<N>& entry = table.entries[i];
        for (std::size_t j = 0; j < N; ++j) {
            chosen->x[j] |= entry.x[j] & mask;
            chosen->y[j] |= entry.y[j] & mask;
            chosen->z[j] |= entry.z[j] & mask;
        }
    }
}

// The 4-bit digit of a scalar at a window; windows never straddle limbs.
template <std::size_t N>
Limb Digit(const Limbs<N>& k, std::size_t window) {
    const std::size_t bit = window * kWindowBits;
    return (k[bit / 64] >> (bit % 64)) & (kTableSize - 1);
}

template <std::size_t N>
std::size_t WindowCount(const CurveParams<N>& c) {
    return (c.orderBits + kWindowBits - 1) / kWindowBits;
}

// k * P in constant time: a fixed 4-bit window whose table entry is found by
// a full masked scan, and complete formulas throughout, so the sequence of
// operations and memory reads is the same for every k < n.
template <std::size_t N>
Point<N> MultiplySecret(const Limbs<N>& k, const Point<N>& point, const CurveParams<N>& c) {
    Table<N> table;
    FillTable(table, point, c);
    Point<N> acc = Infinity(c);
    Point<N> chosen;
    for (std::size_t window = WindowCount(c); window-- > 0;) {
        for (std::size_t i = 0; i < kWindowBits; ++i)
            acc = Double(acc, c);
        Lookup(table, Digit(k, window), &chosen);
        acc = Add(acc, chosen, c);
    }
    SecureWipeObject(table);
    WipePoint(chosen);
    return acc;
}

// For every window i the multiples of 16^i * G, made once per curve (public
// data), so that k * G costs one addition a window and no doublings.
template <std::size_t N>
const std::vector<Table<N>>& BaseTables(const CurveParams<N>& c) {
    static const std::vector<Table<N>> tables = [&] {
        std::vector<Table<N>> made(WindowCount(c));
        Point<N> base = c.g;
        for (Table<N>& table : made) {
            FillTable(table, base, c);
            for (std::size_t i = 0; i < kWindowBits; ++i)
                base = Double(base, c);
        }
        return made;
    }();
    return tables;
}

// k * G in constant time, with the same masked scan over the window's table.
template <std::size_t N>
Point<N> MultiplyBaseSecret(const Limbs<N>& k, const CurveParams<N>& c) {
    const std::vector<Table<N>>& tables = BaseTables(c);
    Point<N> acc = Infinity(c);
    Point<N> chosen;
    for (std::size_t window = 0; window < tables.size(); ++window) {
        Lookup(tables[window], Digit(k, window), &chosen);
        acc = Add(acc, chosen, c);
    }
    WipePoint(chosen);
    return acc;
}

// u1 * G + u2 * Q on public values: interleaved 4-bit windows, skipping zero digits.
template <std::size_t N>
Point<N> MultiplyPublic(const Limbs<N>& u1, const Limbs<N>& u2, const Point<N>& q,
                        const CurveParams<N>& c) {
    const Table<N>& gTable = BaseTables(c)[0];
    Table<N> qTable;
    FillTable(qTable, q, c);
    Point<N> acc = Infinity(c);
    for (std::size_t window = WindowCount(c); window-- > 0;) {
        for (std::size_t i = 0; i < kWindowBits; ++i)
            acc = Double(acc, c);
        if (Limb digit = Digit(u1, window)) acc = Add(acc, gTable.entries[digit], c);
        if (Limb digit = Digit(u2, window)) acc = Add(acc, qTable.entries[digit], c);
    }
    return acc;
}

// Affine x and y (plain, not Montgomery form); false for the point at infinity.
template <std::size_t N>
bool ToAffine(const Point<N>& point, const CurveParams<N>& c, Limbs<N>* x, Limbs<N>* y) {
    const Field<N> f{c.p};
    Limbs<N> zInverse;
    ecc::MontInverse(zInverse, point.z, c.p);
    ecc::FromMont(*x, f.Mul(point.x, zInverse), c.p);
    if (y) ecc::FromMont(*y, f.Mul(point.y, zInverse), c.p);
    SecureWipeObject(zInverse);
    return ecc::IsZero(point.z) == 0;
}

template <std::size_t N>
std::vector<std::uint8_t> EncodePoint(const Limbs<N>& x, const Limbs<N>& y,
                                      const CurveParams<N>& c) {
    std::vector<std::uint8_t> out(1 + 2 * c.fieldBytes);
    out[0] = 0x04;
    ecc::ToBigEndian(x, std::span(out).subspan(1, c.fieldBytes));
    ecc::ToBigEndian(y, std::span(out).subspan(1 + c.fieldBytes));
    return out;
}

// Accepts only 0x04 || X || Y with X, Y < p and y^2 = x^3 - 3x + b.
template <std::size_t N>
bool DecodePoint(std::span<const std::uint8_t> bytes, const CurveParams<N>& c, Point<N>* point) {
    if (bytes.size() != 1 + 2 * c.fieldBytes || bytes[0] != 0x04) return false;
    Limbs<N> x = ecc::FromBigEndian<N>(bytes.subspan(1, c.fieldBytes));
    Limbs<N> y = ecc::FromBigEndian<N>(bytes.subspan(1 + c.fieldBytes));
    if (!ecc::IsLess(x, c.p.m) || !ecc::IsLess(y, c.p.m)) return false;
    const Field<N> f{c.p};
    ecc::ToMont(x, x, c.p);
    ecc::ToMont(y, y, c.p);
    const Limbs<N> right = f.Add(f.Sub(f.Mul(f.Mul(x, x), x), f.Triple(x)), c.b);
    if (!ecc::IsEqual(f.Mul(y, y), right)) return false;
    *point = {x, y, c.p.one};
    return true;
}

// A private scalar in [1, n - 1]: bytes beyond the scalar's width must be
// zero. The checks combine into one result without early exits.
template <std::size_t N>
bool ParseScalar(std::span<const std::uint8_t> bytes, const CurveParams<N>& c, Limbs<N>* k) {
    const std::size_t excess = bytes.size() > c.scalarBytes ? bytes.size() - c.scalarBytes : 0;
    Limb extra = 0;
    for (std::size_t i = 0; i < excess; ++i)
        extra |= bytes[i];
    *k = ecc::FromBigEndian<N>(bytes.subspan(excess));
    const Limb ok = ecc::IsZeroLimb(extra) & (ecc::IsZero(*k) ^ 1) & ecc::IsLess(*k, c.n.m);
    return ok != 0;
}

// The leftmost orderBits bits of a bit string as an integer (RFC 6979 bits2int).
template <std::size_t N>
Limbs<N> Bits2Int(std::span<const std::uint8_t> bytes, const CurveParams<N>& c) {
    const std::size_t take = std::min(bytes.size(), c.scalarBytes);
    Limbs<N> value = ecc::FromBigEndian<N>(bytes.first(take));
    if (8 * bytes.size() > c.orderBits) value = ecc::ShiftRight(value, 8 * take - c.orderBits);
    return value;
}

// The digest as an integer modulo n (it is below 2^orderBits < 2n).
template <std::size_t N>
Limbs<N> DigestToScalar(std::span<const std::uint8_t> digest, const CurveParams<N>& c) {
    Limbs<N> e = Bits2Int(digest, c);
    ecc::ReduceOnce(e, e, c.n);
    return e;
}

// The HMAC_DRBG of RFC 6979 section 3.2 over the curve's hash.
class NonceGenerator {
  public:
    static constexpr std::size_t kMaxDigest = 64;
    static_assert(kMaxHashDigestLength <= kMaxDigest);

    NonceGenerator(const HashDescriptor& hash, std::span<const std::uint8_t> key,
                   std::span<const std::uint8_t> digest)
        : hash_(hash), length_(hash.digestLength) {
        std::fill_n(v_, length_, 0x01);
        std::fill_n(k_, length_, 0x00);
        for (std::uint8_t separator : {0x00, 0x01}) {
            Update(separator, key, digest);
            Mac(v_, length_, v_);
        }
    }
    ~NonceGenerator() {
        SecureWipe(k_, sizeof k_);
        SecureWipe(v_, sizeof v_);
    }

    // Fills out (a whole number of digests at least as long as out) with the next block.
    void Generate(SecureBytes* out, std::size_t bytes) {
        if (started_) {
            Update(0x00, {}, {});
            Mac(v_, length_, v_);
        }
        started_ = true;
        out->clear();
        while (out->size() < bytes) {
            Mac(v_, length_, v_);
            out->insert(out->end(), v_, v_ + length_);
        }
    }

  private:
    // K = HMAC_K(V || separator || key || digest)
    void Update(std::uint8_t separator, std::span<const std::uint8_t> key,
                std::span<const std::uint8_t> digest) {
        SecureBytes input(v_, v_ + length_);
        input.push_back(separator);
        input.insert(input.end(), key.begin(), key.end());
        input.insert(input.end(), digest.begin(), digest.end());
        Mac(input.data(), input.size(), k_);
    }
    void Mac(const std::uint8_t* data, std::size_t size, std::uint8_t* out) {
        std::uint8_t mac[kMaxDigest];
        Hmac(hash_, k_, length_, data, size, mac);
        std::copy_n(mac, length_, out);
        SecureWipe(mac, sizeof mac);
    }

    const HashDescriptor& hash_;
    std::size_t length_;
    std::uint8_t k_[kMaxDigest];
    std::uint8_t v_[kMaxDigest];
    bool started_ = false;
};

template <std::size_t N>
struct Ops {
    static const CurveParams<N>& C() { return Params<N>(); }

    static bool PointIsValid(std::span<const std::uint8_t> bytes) {
        Point<N> point;
        return DecodePoint(bytes, C(), &point);
    }

    static bool PublicFromPrivate(std::span<const std::uint8_t> scalar,
                                  std::vector<std::uint8_t>* out) {
        const CurveParams<N>& c = C();
        Limbs<N> k;
        bool ok = ParseScalar(scalar, c, &k);
        if (ok) {
            Point<N> point = MultiplyBaseSecret(k, c);
            Limbs<N> x, y;
            ok = ToAffine(point, c, &x, &y);
            if (ok) *out = EncodePoint(x, y, c);
            WipePoint(point);  // projective coordinates can say more than the affine ones
        }
        SecureWipeObject(k);
        return ok;
    }

    static bool SharedSecret(std::span<const std::uint8_t> scalar,
                             std::span<const std::uint8_t> peerPoint, SecureBytes* out) {
        const CurveParams<N>& c = C();
        Point<N> peer;
        if (!DecodePoint(peerPoint, c, &peer)) return false;
        Limbs<N> k;
        bool ok = ParseScalar(scalar, c, &k);
        if (ok) {
            Point<N> product = MultiplySecret(k, peer, c);
            Limbs<N> x;
            ok = ToAffine(product, c, &x, static_cast<Limbs<N>*>(nullptr));
            if (ok) {
                out->assign(c.fieldBytes, 0);
                ecc::ToBigEndian(x, std::span(*out));
            }
            WipePoint(product);
            SecureWipeObject(x);
        }
        SecureWipeObject(k);
        return ok;
    }

    // Rejection sampling: the top byte is cut to the order's bit length, so a
    // draw succeeds with probability above one half on every curve.
    static void RandomScalar(SecureBytes* out) {
        const CurveParams<N>& c = C();
        out->assign(c.scalarBytes, 0);
        const unsigned topBits = c.orderBits % 8;
        Limbs<N> k;
        for (;;) {
            RandomBytes(*out);
            if (topBits) (*out)[0] &= static_cast<std::uint8_t>((1u << topBits) - 1);
            if (ParseScalar(*out, c, &k)) break;
        }
        SecureWipeObject(k);
    }

    static bool ToScalar(const BigNum& value, const CurveParams<N>& c, Limbs<N>* out) {
        if (value.IsZero() || value.BitCount() > c.orderBits) return false;
        *out = LimbsOf<N>(value);
        return ecc::IsLess(*out, c.n.m) != 0;
    }

    static bool Verify(std::span<const std::uint8_t> pointBytes, const BigNum& rValue,
                       const BigNum& sValue, std::span<const std::uint8_t> digest) {
        const CurveParams<N>& c = C();
        Point<N> q;
        Limbs<N> r, s;
        if (!DecodePoint(pointBytes, c, &q) || !ToScalar(rValue, c, &r) ||
            !ToScalar(sValue, c, &s)) {
            return false;
        }
        // w = s^-1; u1 = e * w, u2 = r * w (Montgomery products of plain values
        // with w in Montgomery form come out plain).
        Limbs<N> w, u1, u2;
        ecc::ToMont(w, s, c.n);
        ecc::MontInverse(w, w, c.n);
        ecc::MontMul(u1, DigestToScalar(digest, c), w, c.n);
        ecc::MontMul(u2, r, w, c.n);
        Limbs<N> x;
        if (!ToAffine(MultiplyPublic(u1, u2, q, c), c, &x, static_cast<Limbs<N>*>(nullptr)))
            return false;
        ecc::ReduceOnce(x, x, c.n);
        return ecc::IsEqual(x, r) != 0;
    }

    static bool Nonce(const HashDescriptor& hash, std::span<const std::uint8_t> scalar,
                      std::span<const std::uint8_t> digest, SecureBytes* out) {
        const CurveParams<N>& c = C();
        Limbs<N> d, k;
        if (!ParseScalar(scalar, c, &d)) return false;
        NonceGenerator generator = MakeGenerator(hash, d, digest, c);
        NextNonce(generator, c, &k);
        out->assign(c.fieldBytes, 0);
        ecc::ToBigEndian(k, std::span(*out));
        SecureWipeObject(d);
        SecureWipeObject(k);
        return true;
    }

    static bool Sign(const HashDescriptor& hash, std::span<const std::uint8_t> scalar,
                     std::span<const std::uint8_t> digest, BigNum* rOut, BigNum* sOut) {
        const CurveParams<N>& c = C();
        Limbs<N> d;
        if (!ParseScalar(scalar, c, &d)) return false;
        const Limbs<N> e = DigestToScalar(digest, c);
        NonceGenerator generator = MakeGenerator(hash, d, digest, c);
        Limbs<N> dMont, k, kInverse, r, s, sum;
        ecc::ToMont(dMont, d, c.n);
        for (;;) {
            NextNonce(generator, c, &k);
            Point<N> point = MultiplyBaseSecret(k, c);
            ToAffine(point, c, &r, static_cast<Limbs<N>*>(nullptr));
            WipePoint(point);
            ecc::ReduceOnce(r, r, c.n);
            // s = k^-1 (e + r d) mod n; the inverse by Fermat keeps k's
            // secrecy, the retries below happen with negligible probability.
            ecc::ToMont(kInverse, k, c.n);
            ecc::MontInverse(kInverse, kInverse, c.n);
            ecc::MontMul(sum, r, dMont, c.n);
            ecc::ModAdd(sum, sum, e, c.n);
            ecc::MontMul(s, sum, kInverse, c.n);
            if (!ecc::IsZero(r) && !ecc::IsZero(s)) break;
        }
        *rOut = ToBigNum(r, c);
        *sOut = ToBigNum(s, c);
        for (Limbs<N>* secret : {&d, &dMont, &k, &kInverse, &sum})
            SecureWipeObject(*secret);
        return true;
    }

  private:
    static BigNum ToBigNum(const Limbs<N>& value, const CurveParams<N>& c) {
        std::uint8_t bytes[8 * N];
        ecc::ToBigEndian(value, std::span(bytes).first(c.scalarBytes));
        return BigNum::FromBytes(std::span(bytes).first(c.scalarBytes));
    }

    // Seeds with int2octets(d) and bits2octets(digest).
    static NonceGenerator MakeGenerator(const HashDescriptor& hash, const Limbs<N>& d,
                                        std::span<const std::uint8_t> digest,
                                        const CurveParams<N>& c) {
        SecureBytes key(c.scalarBytes), reduced(c.scalarBytes);
        ecc::ToBigEndian(d, std::span(key));
        ecc::ToBigEndian(DigestToScalar(digest, c), std::span(reduced));
        return NonceGenerator(hash, key, reduced);
    }

    // The next candidate in [1, n - 1]; rejections are public events.
    static void NextNonce(NonceGenerator& generator, const CurveParams<N>& c, Limbs<N>* k) {
        SecureBytes block;
        for (;;) {
            generator.Generate(&block, c.scalarBytes);
            *k = Bits2Int(std::span<const std::uint8_t>(block), c);
            if (!ecc::IsZero(*k) && ecc::IsLess(*k, c.n.m)) return;
        }
    }

  public:
    static constexpr EcOps kTable = {
        PointIsValid, PublicFromPrivate, SharedSecret, RandomScalar, Verify, Sign, Nonce};
};

constexpr EcCurve kCurves[] = {
    {"nistp256", "sha256", 32, 256, &Ops<4>::kTable},
    {"nistp384", "sha384", 48, 384, &Ops<6>::kTable},
    {"nistp521", "sha512", 66, 521, &Ops<9>::kTable},
};

}  // namespace

const EcCurve* FindEcCurve(std::string_view sshName) {
    for (const EcCurve& curve : kCurves) {
        if (curve.name == sshName) return &curve;
    }
    return nullptr;
}

std::size_t EcFieldBytes(const EcCurve& curve) {
    return curve.fieldBytes;
}

std::string_view EcCurveName(const EcCurve& curve) {
    return curve.name;
}

std::string_view EcHashName(const EcCurve& curve) {
    return curve.hashName;
}

std::size_t EcOrderBits(const EcCurve& curve) {
    return curve.orderBits;
}

std::size_t EcPointBytes(const EcCurve& curve) {
    return 1 + 2 * curve.fieldBytes;
}

bool EcPointIsValid(const EcCurve& curve, std::span<const std::uint8_t> point) {
    return curve.ops->pointIsValid(point);
}

EcdhPrivateKey::EcdhPrivateKey(const EcCurve& curve, SecureBytes scalar,
                               std::vector<std::uint8_t> point)
    : curve_(&curve), scalar_(std::move(scalar)), publicPoint_(std::move(point)) {}

EcdhPrivateKey::~EcdhPrivateKey() = default;  // SecureBytes wipes the scalar

std::unique_ptr<EcdhPrivateKey> EcdhPrivateKey::Generate(const EcCurve& curve) {
    SecureBytes scalar;
    std::vector<std::uint8_t> point;
    curve.ops->randomScalar(&scalar);
    if (!curve.ops->publicFromPrivate(scalar, &point)) return nullptr;
    return std::unique_ptr<EcdhPrivateKey>(
        new EcdhPrivateKey(curve, std::move(scalar), std::move(point)));
}

bool EcdhPrivateKey::SharedSecret(std::span<const std::uint8_t> peerPoint, SecureBytes* x) const {
    return curve_->ops->sharedSecret(scalar_, peerPoint, x);
}

bool EcPublicFromPrivate(const EcCurve& curve, std::span<const std::uint8_t> privateScalar,
                         std::vector<std::uint8_t>* point) {
    return curve.ops->publicFromPrivate(privateScalar, point);
}

bool EcdsaVerify(const EcCurve& curve, std::span<const std::uint8_t> point, const BigNum& r,
                 const BigNum& s, std::span<const std::uint8_t> digest) {
    return curve.ops->verify(point, r, s, digest);
}

bool EcdsaSign(const EcCurve& curve, std::span<const std::uint8_t> privateScalar,
               std::span<const std::uint8_t> digest, BigNum* r, BigNum* s) {
    const HashDescriptor* hash = FindHash(curve.hashName);
    return hash && curve.ops->sign(*hash, privateScalar, digest, r, s);
}

bool EcdsaNonce(const EcCurve& curve, std::span<const std::uint8_t> privateScalar,
                std::span<const std::uint8_t> digest, SecureBytes* nonce) {
    const HashDescriptor* hash = FindHash(curve.hashName);
    return hash && curve.ops->nonce(*hash, privateScalar, digest, nonce);
}
