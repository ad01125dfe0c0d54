#include "crypto/md5.h"

#include "crypto/block_buffer.h"
#include "crypto/byte_order.h"
#include "platform/wipe.h"

namespace {

// floor(|sin(i + 1)| * 2^32)
constexpr std::uint32_t kSineTable[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr int kShifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

constexpr int MessageIndex(int step) {
    switch (step / 16) {
        case 0:
            return step;
        case 1:
            return (5 * step + 1) & 15;
        case 2:
            return (3 * step + 5) & 15;
        default:
            return (7 * step) & 15;
    }
}

inline std::uint32_t RoundFunction(int round, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    switch (round) {
        case 0:
            return d ^ (b & (c ^ d));
        case 1:
            return c ^ (d & (b ^ c));
        case 2:
            return b ^ c ^ d;
        default:
            return c ^ (b | ~d);
    }
}

void Md5CompressBlocks(std::uint32_t h[4], const std::uint8_t* data, std::size_t blocks) {
    for (; blocks > 0; --blocks, data += kMd5BlockLength) {
        std::uint32_t x[16];
        for (int i = 0; i < 16; ++i)
            x[i] = LoadLe32(data + 4 * i);
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
#pragma GCC unroll 64
        for (int step = 0; step < 64; ++step) {
            const int round = step / 16;
            const std::uint32_t sum =
                a + RoundFunction(round, b, c, d) + kSineTable[step] + x[MessageIndex(step)];
            a = d;
            d = c;
            c = b;
            b += Rotl32(sum, kShifts[round][step & 3]);
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        SecureWipeObject(x);
    }
}

}  // namespace

void Md5Init(Md5State& state) {
    state.h[0] = 0x67452301;
    state.h[1] = 0xefcdab89;
    state.h[2] = 0x98badcfe;
    state.h[3] = 0x10325476;
    state.blockUsed = 0;
    state.totalBytes = 0;
}

void Md5Update(Md5State& state, const void* data, std::size_t length) {
    state.totalBytes += length;
    BufferedHashUpdate(state.block, state.blockUsed, data, length,
                       [&](const std::uint8_t* blocks, std::size_t count) {
                           Md5CompressBlocks(state.h, blocks, count);
                       });
}

void Md5Final(Md5State& state, std::uint8_t digest[kMd5DigestLength]) {
    BufferedHashPad(state.block, state.blockUsed, state.totalBytes, LengthOrder::LittleEndian,
                    [&](const std::uint8_t* blocks, std::size_t count) {
                        Md5CompressBlocks(state.h, blocks, count);
                    });
    for (int i = 0; i < 4; ++i)
        StoreLe32(digest + 4 * i, state.h[i]);
    SecureWipeObject(state);
}

void Md5(const void* data, std::size_t length, std::uint8_t digest[kMd5DigestLength]) {
    Md5State state;
    Md5Init(state);
    Md5Update(state, data, length);
    Md5Final(state, digest);
}
