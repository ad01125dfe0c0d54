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
struct Int64Argument {
    HRESULT hr = S_OK;
    std::optional<LONGLONG> value;
};
TextArgument ReadTextArgument(const VARIANT* argument);
LongArgument ReadLongArgument(const VARIANT* argument);
// Any number (VT_I4, VT_I8, VT_UI8 up to 2^63-1, VT_R8 with an integral
// value, a decimal text) as a 64-bit one.
Int64Argument ReadInt64Argument(const VARIANT* argument);

// The Error result: cleared and set to VT_I4 `number` when the caller gave one.
void SetErrorResult(VARIANT* error, LONG number);

// Stores a text into an in/out argument: E_INVALIDARG when it is absent,
// DISP_E_TYPEMISMATCH for an array or a reference to anything but a BSTR.
HRESULT StoreTextResult(VARIANT* argument, std::u16string_view text);
// Stores a number into an in/out argument. A missing one is left alone; a
// by-value one becomes VT_I4; a reference keeps its type (VT_I2, VT_I4, VT_R4,
// VT_R8 or VT_BSTR as decimal text).
HRESULT StoreLongResult(VARIANT* argument, LONG value);
// The same for a 64-bit number: a by-value one becomes VT_I8; a reference
// keeps its type (VT_I8, VT_UI8, VT_R8 or VT_BSTR; VT_I4 and smaller types
// only when the value fits, else DISP_E_OVERFLOW).
HRESULT StoreInt64Result(VARIANT* argument, LONGLONG value);
