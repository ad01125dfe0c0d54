// Bounded reading and writing of the SSH wire encodings (RFC 4251 section 5):
// byte, uint32, string, mpint, and the SSH-1 multi-precision integer.
//
// A reader is a cursor over a span; every getter either consumes exactly what
// it returns or fails and leaves the cursor where it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "crypto/bignum.h"

// Largest mpint accepted from the wire: 16384 bits plus the sign byte.
constexpr std::size_t kSshMpintMaxBytes = 16384 / 8 + 1;

class SshReader {
  public:
    SshReader() = default;
    explicit SshReader(std::span<const std::uint8_t> data) : data_(data) {}

    bool ReadByte(std::uint8_t* value);
    bool ReadBool(bool* value);
    bool ReadUint32(std::uint32_t* value);
    bool ReadBytes(std::size_t length, std::span<const std::uint8_t>* bytes);
    bool ReadString(std::span<const std::uint8_t>* bytes);
    bool ReadString(std::string_view* text);
    // A string whose contents are read by their own reader.
    bool ReadStringReader(SshReader* child);
    // Two's-complement mpint: negative values and values above
    // kSshMpintMaxBytes fail; redundant leading zero bytes are tolerated.
    bool ReadMpint(BigNum* value);
    // SSH-1: uint16 bit count, then the bytes the bit count needs.
    bool ReadSsh1Mpint(BigNum* value);

    std::size_t Remaining() const { return data_.size() - offset_; }
    bool AtEnd() const { return offset_ == data_.size(); }

  private:
    std::span<const std::uint8_t> data_;
    std::size_t offset_ = 0;
};

// Appends SSH encodings to a buffer that is wiped when it is released.
class SshWriter {
  public:
    void PutByte(std::uint8_t value);
    void PutBool(bool value) { PutByte(value ? 1 : 0); }
    void PutUint32(std::uint32_t value);
    void PutBytes(std::span<const std::uint8_t> bytes);
    void PutString(std::span<const std::uint8_t> bytes);
    void PutString(std::string_view text);
    void PutMpint(const BigNum& value);
    void PutSsh1Mpint(const BigNum& value);

    std::span<const std::uint8_t> data() const { return buffer_; }
    SecureBytes Take() { return std::move(buffer_); }

  private:
    SecureBytes buffer_;
};
