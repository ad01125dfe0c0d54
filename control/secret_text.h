// A COM-side text that holds a secret (a password): its characters are wiped
// whenever they are replaced or released.
#pragma once

#include <string>
#include <string_view>

#include "crypto/secret_bytes.h"
#include "platform/text.h"
#include "platform/wipe.h"

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
    void Wipe() { WipeString(text_); }

    std::u16string text_;
};
