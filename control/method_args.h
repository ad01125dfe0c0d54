// The argument conventions of the control's methods: optional VARIANTs, the
// Error result, and in/out arguments that receive a text or a number.
#pragma once

#include <optional>
#include <string>

#include "platform/automation.h"

// An argument is absent when it is not given, VT_EMPTY or VT_ERROR (the
// automation "missing" value), also behind a reference.
bool IsAbsentArgument(const VARIANT* argument);

// A present argument converted to text or to a 32-bit number. On a conversion
// failure the conversion's HRESULT is returned and the value stays empty.
struct TextArgument {
    HRESULT hr = S_OK;
    std::optional<std::u16string> value;
};
struct LongArgument {
    HRESULT hr = S_OK;
    std::optional<LONG> value;
};
TextArgument ReadTextArgument(const VARIANT* argument);
LongArgument ReadLongArgument(const VARIANT* argument);

// The Error result: cleared and set to VT_I4 `number` when the caller gave one.
void SetErrorResult(VARIANT* error, LONG number);

// Stores a text into an in/out argument: E_INVALIDARG when it is absent,
// DISP_E_TYPEMISMATCH for an array or a reference to anything but a BSTR.
HRESULT StoreTextResult(VARIANT* argument, std::u16string_view text);
// Stores a number into an in/out argument. A missing one is left alone; a
// by-value one becomes VT_I4; a reference keeps its type (VT_I2, VT_I4, VT_R4,
// VT_R8 or VT_BSTR as decimal text).
HRESULT StoreLongResult(VARIANT* argument, LONG value);
