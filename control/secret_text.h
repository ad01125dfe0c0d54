// A COM-side text that holds a secret (a password): its characters are wiped
// whenever they are replaced or released.
#pragma once

#include <string>
#include <string_view>

#include "crypto/secret_bytes.h"
#include "platform/text.h"

class SecretText {
  public:
    SecretText() = default;
    SecretText(const SecretText& other) : text_(other.text_) {}
    SecretText& operator=(const SecretText& other) {
        if (this != &other) assign(other.text_);
        return *this;
    }
    ~SecretText() { Wipe(); }

    void assign(std::u16string_view text) {
        Wipe();
        text_.assign(text);
    }
    std::u16string_view view() const { return text_; }
    bool empty() const { return text_.empty(); }
    // The engines' UTF-8 form, converted straight into the wiping buffer.
    void ToUtf8(SecretBytes* out) const {
        const std::span<char> room = out->Resize(text_.size() * 3);
        out->Truncate(Utf16ToUtf8Into(text_, room.data()));
    }

  private:
    void Wipe() {
        volatile char16_t* p = text_.data();
        for (std::size_t i = 0; i < text_.size(); ++i)
            p[i] = 0;
        text_.clear();
    }

    std::u16string text_;
};

// Wipes a temporary 8-bit copy of a secret.
inline void WipeText(std::string& text) {
    volatile char* p = text.data();
    for (std::size_t i = 0; i < text.size(); ++i)
        p[i] = 0;
    text.clear();
}
