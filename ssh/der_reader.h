// A bounded reader of the DER encodings inside PEM key files: definite
// lengths only, every element inside its parent, no reading past the end.
#pragma once

#include <cstdint>
#include <span>

#include "crypto/bignum.h"

constexpr std::uint8_t kDerInteger = 0x02;
constexpr std::uint8_t kDerBitString = 0x03;
constexpr std::uint8_t kDerOctetString = 0x04;
constexpr std::uint8_t kDerNull = 0x05;
constexpr std::uint8_t kDerOid = 0x06;
constexpr std::uint8_t kDerSequence = 0x30;
constexpr std::uint8_t kDerContext0 = 0xa0;  // [0], constructed
constexpr std::uint8_t kDerContext1 = 0xa1;  // [1], constructed

class DerReader {
  public:
    DerReader() = default;
    explicit DerReader(std::span<const std::uint8_t> data) : data_(data) {}

    // The next element's tag, without consuming it; false at the end.
    bool PeekTag(std::uint8_t* tag) const;
    // The next element, which must carry the tag; its contents.
    bool Read(std::uint8_t tag, std::span<const std::uint8_t>* contents);
    bool ReadChild(std::uint8_t tag, DerReader* child);
    // A non-negative INTEGER (a negative one fails), at most 16384 bits.
    bool ReadInteger(BigNum* value);
    // A non-negative INTEGER small enough for 32 bits.
    bool ReadSmallInteger(std::uint32_t* value);
    bool AtEnd() const { return offset_ == data_.size(); }

  private:
    std::span<const std::uint8_t> data_;
    std::size_t offset_ = 0;
};
