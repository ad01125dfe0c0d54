// 8-bit copies of the control's texts for engine calls.
#pragma once

#include <string>
#include <string_view>

#include "platform/secret_string.h"
#include "platform/text.h"
#include "platform/wipe.h"

// An 8-bit copy of a control text for an engine call, wiped when it goes.
class EngineText {
  public:
    explicit EngineText(std::u16string_view text) : text_(Utf16ToUtf8(text)) {}
    ~EngineText() { WipeString(text_); }
    EngineText(const EngineText&) = delete;
    EngineText& operator=(const EngineText&) = delete;
    const char* c_str() const { return text_.c_str(); }

  private:
    std::string text_;
};
