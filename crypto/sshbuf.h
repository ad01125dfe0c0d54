// Bounded reading and writing of the SSH wire encodings (RFC 4251 section 5):
// byte, boolean, uint32, uint64, string, mpint, and the SSH-1 multi-precision
// integer. SSH packets, key exchange, authentication, channels, key blobs, the
// agent and SFTP messages are all read and written through these two classes.
//
// The reader is a cursor over a span that cannot run past its end. A getter
// either consumes exactly what it returns or fails; a failure is sticky, so
// after one every later getter fails too and Finish() reports it. A message
// parser reads its fields and ends with Finish(), which also refuses bytes left
// over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <utility>

#include "crypto/bignum.h"
#include "crypto/byte_order.h"

// Largest mpint accepted from the wire: 16384 bits plus the sign byte.
constexpr std::size_t kSshMpintMaxBytes = 16384 / 8 + 1;

class SshReader {
  public:
    SshReader() = default;
    explicit SshReader(std::span<const std::uint8_t> data) : data_(data) {}

    [[nodiscard]] bool ReadByte(std::uint8_t* value);
    [[nodiscard]] bool ReadBool(bool* value);
    [[nodiscard]] bool ReadUint32(std::uint32_t* value);
    [[nodiscard]] bool ReadUint64(std::uint64_t* value);
    [[nodiscard]] bool ReadBytes(std::size_t length, std::span<const std::uint8_t>* bytes);
    [[nodiscard]] bool ReadString(std::span<const std::uint8_t>* bytes);
    [[nodiscard]] bool ReadString(std::string_view* text);
    // A string whose contents are read by their own reader.
    [[nodiscard]] bool ReadStringReader(SshReader* child);
    // Two's-complement mpint: negative values and values above
    // kSshMpintMaxBytes fail; redundant leading zero bytes are tolerated.
    [[nodiscard]] bool ReadMpint(BigNum* value);
    // SSH-1: uint16 bit count, then the bytes the bit count needs.
    [[nodiscard]] bool ReadSsh1Mpint(BigNum* value);

    // The end check of every message: nothing failed and nothing is left over.
    [[nodiscard]] bool Finish() const { return !failed_ && offset_ == data_.size(); }
    bool failed() const { return failed_; }
    // Zero once a getter has failed.
    std::size_t Remaining() const { return failed_ ? 0 : data_.size() - offset_; }

  private:
    bool Fail() {
        failed_ = true;
        return false;
    }

    std::span<const std::uint8_t> data_;
    std::size_t offset_ = 0;
    bool failed_ = false;
};

// Appends SSH encodings to a buffer. SshWriter's buffer is wiped when it is
// released (keys, signatures, passwords); PlainSshWriter's is not, for bulk data.
template <typename Buffer>
class BasicSshWriter {
  public:
    void PutByte(std::uint8_t value) { buffer_.push_back(value); }
    void PutBool(bool value) { PutByte(value ? 1 : 0); }
    void PutUint32(std::uint32_t value) {
        std::uint8_t bytes[4];
        StoreBe32(bytes, value);
        PutBytes(bytes);
    }
    void PutUint64(std::uint64_t value) {
        std::uint8_t bytes[8];
        StoreBe64(bytes, value);
        PutBytes(bytes);
    }
    // Grows and copies with memcpy: a range insert through the wiping allocator
    // would copy byte by byte.
    void PutBytes(std::span<const std::uint8_t> bytes) {
        if (bytes.empty()) return;
        const std::size_t at = buffer_.size();
        buffer_.resize(at + bytes.size());
        std::memcpy(buffer_.data() + at, bytes.data(), bytes.size());
    }
    void PutString(std::span<const std::uint8_t> bytes) {
        PutUint32(static_cast<std::uint32_t>(bytes.size()));
        PutBytes(bytes);
    }
    void PutString(std::string_view text) {
        PutString(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }
    void PutMpint(const BigNum& value) {
        SecureBytes bytes = value.ToBytes();
        const bool needsSignByte = !bytes.empty() && (bytes[0] & 0x80);
        PutUint32(static_cast<std::uint32_t>(bytes.size() + needsSignByte));
        if (needsSignByte) PutByte(0);
        PutBytes(bytes);
    }
    void PutSsh1Mpint(const BigNum& value) {
        std::uint8_t bits[2];
        StoreBe16(bits, static_cast<std::uint16_t>(value.BitCount()));
        PutBytes(bits);
        PutBytes(value.ToBytes());
    }
    // Fills in a uint32 written earlier (a length prefix reserved in front).
    void PatchUint32(std::size_t offset, std::uint32_t value) {
        StoreBe32(buffer_.data() + offset, value);
    }
    void Reserve(std::size_t capacity) { buffer_.reserve(capacity); }

    std::span<const std::uint8_t> data() const { return buffer_; }
    std::size_t size() const { return buffer_.size(); }
    Buffer Take() { return std::move(buffer_); }

  private:
    Buffer buffer_;
};

using SshWriter = BasicSshWriter<SecureBytes>;
using PlainSshWriter = BasicSshWriter<std::vector<std::uint8_t>>;
