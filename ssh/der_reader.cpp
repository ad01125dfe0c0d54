#include "ssh/der_reader.h"

namespace {

constexpr std::size_t kMaxIntegerBytes = 16384 / 8 + 1;

}  // namespace

bool DerReader::PeekTag(std::uint8_t* tag) const {
    if (AtEnd()) return false;
    *tag = data_[offset_];
    return true;
}

bool DerReader::Read(std::uint8_t tag, std::span<const std::uint8_t>* contents) {
    std::size_t at = offset_;
    const std::size_t size = data_.size();
    if (size - at < 2 || data_[at] != tag) return false;
    std::size_t length = data_[at + 1];
    at += 2;
    if (length & 0x80) {
        // Long form: 1 to 3 length bytes (a key file is far below 16 MiB).
        const std::size_t count = length & 0x7f;
        if (count == 0 || count > 3 || size - at < count) return false;
        length = 0;
        for (std::size_t i = 0; i < count; ++i)
            length = (length << 8) | data_[at + i];
        at += count;
    }
    if (length > size - at) return false;
    *contents = data_.subspan(at, length);
    offset_ = at + length;
    return true;
}

bool DerReader::ReadChild(std::uint8_t tag, DerReader* child) {
    std::span<const std::uint8_t> contents;
    if (!Read(tag, &contents)) return false;
    *child = DerReader(contents);
    return true;
}

bool DerReader::ReadInteger(BigNum* value) {
    const std::size_t start = offset_;
    std::span<const std::uint8_t> contents;
    if (!Read(kDerInteger, &contents)) return false;
    if (contents.empty() || contents.size() > kMaxIntegerBytes || (contents[0] & 0x80)) {
        offset_ = start;
        return false;
    }
    *value = BigNum::FromBytes(contents);
    return true;
}

bool DerReader::ReadSmallInteger(std::uint32_t* value) {
    const std::size_t start = offset_;
    BigNum number;
    if (!ReadInteger(&number) || number.BitCount() > 32) {
        offset_ = start;
        return false;
    }
    *value = 0;
    for (std::size_t i = 4; i-- > 0;)
        *value = (*value << 8) | number.Byte(i);
    return true;
}
