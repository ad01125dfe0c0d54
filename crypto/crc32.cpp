#include "crypto/crc32.h"

namespace {

// Slicing by eight: table[k][b] is the CRC of byte b followed by k zero bytes.
struct Crc32Tables {
    std::uint32_t t[8][256];
};

constexpr Crc32Tables MakeTables() {
    Crc32Tables tables{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t c = b;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        tables.t[0][b] = c;
    }
    for (int k = 1; k < 8; ++k) {
        for (int b = 0; b < 256; ++b) {
            const std::uint32_t previous = tables.t[k - 1][b];
            tables.t[k][b] = (previous >> 8) ^ tables.t[0][previous & 0xff];
        }
    }
    return tables;
}

constexpr Crc32Tables kTables = MakeTables();

}  // namespace

std::uint32_t Crc32Raw(std::uint32_t crc, const void* data, std::size_t length) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    const auto& t = kTables.t;
    for (; length >= 8; length -= 8, p += 8) {
        const std::uint32_t low = crc ^ (std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 |
                                         std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24);
        crc = t[7][low & 0xff] ^ t[6][(low >> 8) & 0xff] ^ t[5][(low >> 16) & 0xff] ^
              t[4][low >> 24] ^ t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; length > 0; --length, ++p)
        crc = (crc >> 8) ^ t[0][(crc ^ *p) & 0xff];
    return crc;
}

std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t length) {
    return ~Crc32Raw(~crc, data, length);
}

std::uint32_t Crc32(const void* data, std::size_t length) {
    return Crc32Update(0, data, length);
}
