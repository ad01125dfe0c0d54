#include "ssh/sftp_wire.h"

SftpWriter::SftpWriter(std::uint8_t type) {
    bytes_.reserve(64);
    bytes_.resize(4);
    bytes_.push_back(type);
}

SftpWriter& SftpWriter::Byte(std::uint8_t value) {
    bytes_.push_back(value);
    return *this;
}

SftpWriter& SftpWriter::Uint32(std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes_.push_back(static_cast<std::uint8_t>(value >> shift));
    }
    return *this;
}

SftpWriter& SftpWriter::Uint64(std::uint64_t value) {
    Uint32(static_cast<std::uint32_t>(value >> 32));
    return Uint32(static_cast<std::uint32_t>(value));
}

SftpWriter& SftpWriter::String(std::string_view value) {
    Uint32(static_cast<std::uint32_t>(value.size()));
    bytes_.insert(bytes_.end(), value.begin(), value.end());
    return *this;
}

SftpWriter& SftpWriter::Bytes(std::span<const std::uint8_t> value) {
    Uint32(static_cast<std::uint32_t>(value.size()));
    bytes_.insert(bytes_.end(), value.begin(), value.end());
    return *this;
}

SftpWriter& SftpWriter::Attributes(const SftpAttributes& attributes) {
    const std::uint32_t flags = attributes.flags & ~kSftpAttrExtended;
    Uint32(flags);
    if (flags & kSftpAttrSize) Uint64(attributes.size);
    if (flags & kSftpAttrUidGid) Uint32(attributes.uid).Uint32(attributes.gid);
    if (flags & kSftpAttrPermissions) Uint32(attributes.permissions);
    if (flags & kSftpAttrTimes) Uint32(attributes.atime).Uint32(attributes.mtime);
    return *this;
}

std::span<const std::uint8_t> SftpWriter::Finish() {
    const auto length = static_cast<std::uint32_t>(bytes_.size() - 4);
    for (int i = 0; i < 4; ++i)
        bytes_[i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
    return bytes_;
}

bool SftpReader::Take(std::size_t count, const std::uint8_t** out) {
    if (!ok_ || data_.size() - position_ < count) {
        ok_ = false;
        return false;
    }
    *out = data_.data() + position_;
    position_ += count;
    return true;
}

bool SftpReader::Byte(std::uint8_t& value) {
    const std::uint8_t* p = nullptr;
    if (!Take(1, &p)) return false;
    value = *p;
    return true;
}

bool SftpReader::Uint32(std::uint32_t& value) {
    const std::uint8_t* p = nullptr;
    if (!Take(4, &p)) return false;
    value = std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
    return true;
}

bool SftpReader::Uint64(std::uint64_t& value) {
    std::uint32_t high = 0;
    std::uint32_t low = 0;
    if (!Uint32(high) || !Uint32(low)) return false;
    value = std::uint64_t(high) << 32 | low;
    return true;
}

bool SftpReader::String(std::span<const std::uint8_t>& value) {
    std::uint32_t length = 0;
    const std::uint8_t* p = nullptr;
    if (!Uint32(length) || !Take(length, &p)) return false;
    value = {p, length};
    return true;
}

bool SftpReader::String(std::string_view& value) {
    std::span<const std::uint8_t> bytes;
    if (!String(bytes)) return false;
    value = {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
    return true;
}

bool SftpReader::Attributes(SftpAttributes& attributes) {
    attributes = SftpAttributes{};
    if (!Uint32(attributes.flags)) return false;
    if (attributes.Has(kSftpAttrSize) && !Uint64(attributes.size)) return false;
    if (attributes.Has(kSftpAttrUidGid) && !(Uint32(attributes.uid) && Uint32(attributes.gid))) {
        return false;
    }
    if (attributes.Has(kSftpAttrPermissions) && !Uint32(attributes.permissions)) return false;
    if (attributes.Has(kSftpAttrTimes) && !(Uint32(attributes.atime) && Uint32(attributes.mtime))) {
        return false;
    }
    if (!attributes.Has(kSftpAttrExtended)) return true;
    std::uint32_t count = 0;
    if (!Uint32(count)) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string_view name;
        std::string_view value;
        if (!String(name) || !String(value)) return false;
    }
    return true;
}
