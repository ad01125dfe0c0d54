// A secret held as bytes (a password or a passphrase on its way to the wire): what
// it held is wiped whenever it is replaced and when it goes away. A NUL follows the
// bytes so that C callers can take it as text.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "crypto/bignum.h"
#include "platform/wipe.h"

class SecretBytes {
  public:
    SecretBytes() = default;
    explicit SecretBytes(std::string_view text) { assign(text); }
    SecretBytes(const SecretBytes& other) { assign(other.view()); }
    // The moved-from buffer travels whole; nothing stays behind to wipe.
    SecretBytes(SecretBytes&& other) noexcept : bytes_(std::move(other.bytes_)) {}
    SecretBytes& operator=(const SecretBytes& other) {
        if (this != &other) assign(other.view());
        return *this;
    }
    SecretBytes& operator=(SecretBytes&& other) noexcept {
        if (this != &other) {
            Wipe();
            bytes_ = std::move(other.bytes_);
        }
        return *this;
    }
    SecretBytes& operator=(std::string_view text) {
        assign(text);
        return *this;
    }
    ~SecretBytes() { Wipe(); }

    void assign(std::string_view text) {
        std::span<char> room = Resize(text.size());
        std::copy(text.begin(), text.end(), room.begin());
    }
    // Wipes, then makes room for exactly `length` bytes (zeros) for the caller to
    // write into, so that a conversion needs no copy of its own.
    std::span<char> Resize(std::size_t length) {
        Wipe();
        bytes_.resize(length + 1);
        return {reinterpret_cast<char*>(bytes_.data()), length};
    }
    // Keeps the first `length` bytes (after a Resize that reserved more).
    void Truncate(std::size_t length) {
        if (length >= size()) return;
        SecureWipe(bytes_.data() + length, bytes_.size() - length);
        bytes_.resize(length + 1);
    }
    void Wipe() {
        SecureWipe(bytes_.data(), bytes_.size());
        bytes_.clear();
    }

    std::string_view view() const {
        return bytes_.empty() ? std::string_view()
                              : std::string_view(reinterpret_cast<const char*>(bytes_.data()),
                                                 bytes_.size() - 1);
    }
    std::span<const std::uint8_t> bytes() const {
        return bytes_.empty() ? std::span<const std::uint8_t>()
                              : std::span<const std::uint8_t>(bytes_.data(), bytes_.size() - 1);
    }
    const char* c_str() const { return bytes_.empty() ? "" : view().data(); }
    std::size_t size() const { return bytes_.empty() ? 0 : bytes_.size() - 1; }
    bool empty() const { return size() == 0; }

  private:
    SecureBytes bytes_;  // the text and its NUL; the allocator wipes released blocks
};
