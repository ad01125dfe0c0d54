#include "ssh/sftp_wire.h"

SftpWriter::SftpWriter(std::uint8_t type) {
    writer_.Reserve(64);
    writer_.PutUint32(0);
    writer_.PutByte(type);
}

SftpWriter& SftpWriter::Byte(std::uint8_t value) {
    writer_.PutByte(value);
    return *this;
}

SftpWriter& SftpWriter::Uint32(std::uint32_t value) {
    writer_.PutUint32(value);
    return *this;
}

SftpWriter& SftpWriter::Uint64(std::uint64_t value) {
    writer_.PutUint64(value);
    return *this;
}

SftpWriter& SftpWriter::String(std::string_view value) {
    writer_.PutString(value);
    return *this;
}

SftpWriter& SftpWriter::Bytes(std::span<const std::uint8_t> value) {
    writer_.PutString(value);
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
    writer_.PatchUint32(0, static_cast<std::uint32_t>(writer_.size() - 4));
    return writer_.data();
}

bool ReadSftpAttributes(SshReader& reader, SftpAttributes& a) {
    a = SftpAttributes{};
    if (!reader.ReadUint32(&a.flags)) return false;
    if (a.Has(kSftpAttrSize) && !reader.ReadUint64(&a.size)) return false;
    if (a.Has(kSftpAttrUidGid) && !(reader.ReadUint32(&a.uid) && reader.ReadUint32(&a.gid))) {
        return false;
    }
    if (a.Has(kSftpAttrPermissions) && !reader.ReadUint32(&a.permissions)) return false;
    if (a.Has(kSftpAttrTimes) && !(reader.ReadUint32(&a.atime) && reader.ReadUint32(&a.mtime))) {
        return false;
    }
    if (!a.Has(kSftpAttrExtended)) return true;
    std::uint32_t count = 0;
    if (!reader.ReadUint32(&count)) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string_view name;
        std::string_view value;
        if (!reader.ReadString(&name) || !reader.ReadString(&value)) return false;
    }
    return true;
}
