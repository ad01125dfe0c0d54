#include "crypto/sshbuf.h"

bool SshReader::ReadBytes(std::size_t length, std::span<const std::uint8_t>* bytes) {
    if (failed_ || length > data_.size() - offset_) return Fail();
    *bytes = data_.subspan(offset_, length);
    offset_ += length;
    return true;
}

bool SshReader::ReadByte(std::uint8_t* value) {
    std::span<const std::uint8_t> bytes;
    if (!ReadBytes(1, &bytes)) return false;
    *value = bytes[0];
    return true;
}

bool SshReader::ReadBool(bool* value) {
    std::uint8_t byte;
    if (!ReadByte(&byte)) return false;
    *value = byte != 0;
    return true;
}

bool SshReader::ReadUint32(std::uint32_t* value) {
    std::span<const std::uint8_t> bytes;
    if (!ReadBytes(4, &bytes)) return false;
    *value = LoadBe32(bytes.data());
    return true;
}

bool SshReader::ReadUint64(std::uint64_t* value) {
    std::span<const std::uint8_t> bytes;
    if (!ReadBytes(8, &bytes)) return false;
    *value = LoadBe64(bytes.data());
    return true;
}

bool SshReader::ReadString(std::span<const std::uint8_t>* bytes) {
    std::uint32_t length;
    return ReadUint32(&length) && ReadBytes(length, bytes);
}

bool SshReader::ReadString(std::string_view* text) {
    std::span<const std::uint8_t> bytes;
    if (!ReadString(&bytes)) return false;
    *text = std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return true;
}

bool SshReader::ReadStringReader(SshReader* child) {
    std::span<const std::uint8_t> bytes;
    if (!ReadString(&bytes)) return false;
    *child = SshReader(bytes);
    return true;
}

bool SshReader::ReadMpint(BigNum* value) {
    std::span<const std::uint8_t> bytes;
    if (!ReadString(&bytes)) return false;
    if (bytes.size() > kSshMpintMaxBytes || (!bytes.empty() && (bytes[0] & 0x80))) return Fail();
    *value = BigNum::FromBytes(bytes);
    return true;
}

bool SshReader::ReadSsh1Mpint(BigNum* value) {
    std::span<const std::uint8_t> bits, bytes;
    if (!ReadBytes(2, &bits) || !ReadBytes((std::size_t{LoadBe16(bits.data())} + 7) / 8, &bytes))
        return false;
    *value = BigNum::FromBytes(bytes);
    return true;
}
