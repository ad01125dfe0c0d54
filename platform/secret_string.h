// A secret held as text: a password or passphrase, as the control keeps it
// (UTF-16, SecretText) or as the engines take it (UTF-8, SecretBytes). Its whole
// storage (the capacity past the length, and a short string's inline buffer) is
// wiped whenever it is replaced, grown or released, and blocks it gives back go
// through the wiping allocator. A NUL follows the characters, so C callers can
// take c_str().
#pragma once

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "platform/text.h"
#include "platform/wipe.h"

template <typename Char>
class SecretString {
  public:
    using View = std::basic_string_view<Char>;

    SecretString() = default;
    explicit SecretString(View text) { assign(text); }
    SecretString(const SecretString& other) { assign(other.view()); }
    // A long text's block travels whole; a short one's inline copy is wiped.
    SecretString(SecretString&& other) noexcept : text_(std::move(other.text_)) { other.Wipe(); }
    SecretString& operator=(const SecretString& other) {
        if (this != &other) assign(other.view());
        return *this;
    }
    SecretString& operator=(SecretString&& other) noexcept {
        if (this != &other) {
            Wipe();
            text_ = std::move(other.text_);
            other.Wipe();
        }
        return *this;
    }
    SecretString& operator=(View text) {
        assign(text);
        return *this;
    }
    ~SecretString() { Wipe(); }

    void assign(View text) {
        const std::span<Char> room = Resize(text.size());
        std::copy(text.begin(), text.end(), room.begin());
    }
    // Wipes, then makes room for exactly `length` characters (zeros) for the
    // caller to write into, so that a conversion needs no copy of its own.
    std::span<Char> Resize(std::size_t length) {
        Wipe();
        text_.resize(length);
        return {text_.data(), length};
    }
    // Keeps the first `length` characters (after a Resize that reserved more).
    void Truncate(std::size_t length) {
        if (length >= size()) return;
        SecureWipe(text_.data() + length, (text_.size() - length) * sizeof(Char));
        text_.resize(length);
    }
    void Wipe() { WipeString(text_); }

    View view() const { return text_; }
    const Char* c_str() const { return text_.c_str(); }
    std::size_t size() const { return text_.size(); }
    bool empty() const { return text_.empty(); }
    std::span<const std::uint8_t> bytes() const
        requires(sizeof(Char) == 1)
    {
        return {reinterpret_cast<const std::uint8_t*>(text_.data()), text_.size()};
    }
    // The engines' UTF-8 form, converted straight into the wiping buffer.
    void ToUtf8(SecretString<char>* out) const
        requires std::same_as<Char, char16_t>
    {
        const std::span<char> room = out->Resize(text_.size() * 3);
        out->Truncate(Utf16ToUtf8Into(text_, room.data()));
    }

  private:
    std::basic_string<Char, std::char_traits<Char>, WipingAllocator<Char>> text_;
};

// What the control keeps (UTF-16) and what the engines take (UTF-8).
using SecretText = SecretString<char16_t>;
using SecretBytes = SecretString<char>;
