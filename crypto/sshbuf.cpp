#include "crypto/sshbuf.h"

bool SshReader::ReadBytes(std::size_t length, std::span<const std::uint8_t>* bytes) {
    if (length > Remaining()) return false;
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
    *value = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
             (std::uint32_t{bytes[2]} << 8) | bytes[3];
    return true;
}

bool SshReader::ReadString(std::span<const std::uint8_t>* bytes) {
    std::size_t start = offset_;
    std::uint32_t length;
    if (ReadUint32(&length) && ReadBytes(length, bytes)) return true;
    offset_ = start;
    return false;
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
    std::size_t start = offset_;
    std::span<const std::uint8_t> bytes;
    if (!ReadString(&bytes)) return false;
    if (bytes.size() > kSshMpintMaxBytes || (!bytes.empty() && (bytes[0] & 0x80))) {
        offset_ = start;
        return false;
    }
    *value = BigNum::FromBytes(bytes);
    return true;
}

bool SshReader::ReadSsh1Mpint(BigNum* value) {
    std::size_t start = offset_;
    std::span<const std::uint8_t> bits, bytes;
    if (ReadBytes(2, &bits)) {
        std::size_t bitCount = (std::size_t{bits[0]} << 8) | bits[1];
        if (ReadBytes((bitCount + 7) / 8, &bytes)) {
            *value = BigNum::FromBytes(bytes);
            return true;
        }
    }
    offset_ = start;
    return false;
}

void SshWriter::PutByte(std::uint8_t value) {
    buffer_.push_back(value);
}

void SshWriter::PutUint32(std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        buffer_.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

void SshWriter::PutBytes(std::span<const std::uint8_t> bytes) {
    AppendBytes(buffer_, bytes);
}

void SshWriter::PutString(std::span<const std::uint8_t> bytes) {
    PutUint32(static_cast<std::uint32_t>(bytes.size()));
    PutBytes(bytes);
}

void SshWriter::PutString(std::string_view text) {
    PutString(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void SshWriter::PutMpint(const BigNum& value) {
    SecureBytes bytes = value.ToBytes();
    bool needsSignByte = !bytes.empty() && (bytes[0] & 0x80);
    PutUint32(static_cast<std::uint32_t>(bytes.size() + needsSignByte));
    if (needsSignByte) PutByte(0);
    PutBytes(bytes);
}

void SshWriter::PutSsh1Mpint(const BigNum& value) {
    std::size_t bits = value.BitCount();
    PutByte(static_cast<std::uint8_t>(bits >> 8));
    PutByte(static_cast<std::uint8_t>(bits));
    PutBytes(value.ToBytes());
}
