#include "control/method_args.h"

#include <cstdint>
#include <string>

#include "platform/text.h"

namespace {

constexpr HRESULT kAutomationOverflow = MakeHResult(0x800A0006);
constexpr LONG kLargestShortResult = 65535;

VARTYPE BaseType(const VARIANT& v) {
    return static_cast<VARTYPE>(v.vt & ~(VT_BYREF | VT_ARRAY));
}

const VARIANT* Referenced(const VARIANT* argument) {
    if (argument && argument->vt == (VT_BYREF | VT_VARIANT) && argument->pvarVal) {
        return argument->pvarVal;
    }
    return argument;
}

template <class T>
T Convert(const VARIANT* argument, VARTYPE type, T (*take)(const VARIANT&)) {
    T result;
    if (IsAbsentArgument(argument)) return result;
    VARIANT converted;
    VariantInit(&converted);
    result.hr = VariantChangeType(&converted, Referenced(argument), 0, type);
    if (SUCCEEDED(result.hr)) {
        auto taken = take(converted);
        result.value = std::move(taken.value);
    }
    VariantClear(&converted);
    return result;
}

TextArgument TakeText(const VARIANT& v) {
    return {S_OK, std::u16string(BstrView(v.bstrVal))};
}
LongArgument TakeLong(const VARIANT& v) {
    return {S_OK, v.lVal};
}
Int64Argument TakeInt64(const VARIANT& v) {
    return {S_OK, v.llVal};
}

HRESULT StoreIntoReference(VARIANT& target, LONG value) {
    switch (BaseType(target)) {
        case VT_I2:
            if (value > kLargestShortResult) return kAutomationOverflow;
            *target.piVal = static_cast<SHORT>(value);
            return S_OK;
        case VT_I4:
            *target.plVal = value;
            return S_OK;
        case VT_R4:
            *target.pfltVal = static_cast<FLOAT>(value);
            return S_OK;
        case VT_R8:
            *target.pdblVal = value;
            return S_OK;
        case VT_BSTR: {
            BSTR text = BstrFromUtf8(std::to_string(value));
            if (!text) return E_OUTOFMEMORY;
            SysFreeString(*target.pbstrVal);
            *target.pbstrVal = text;
            return S_OK;
        }
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

}  // namespace

bool IsAbsentArgument(const VARIANT* argument) {
    argument = Referenced(argument);
    return !argument || argument->vt == VT_EMPTY || argument->vt == VT_ERROR;
}

TextArgument ReadTextArgument(const VARIANT* argument) {
    return Convert<TextArgument>(argument, VT_BSTR, &TakeText);
}

LongArgument ReadLongArgument(const VARIANT* argument) {
    return Convert<LongArgument>(argument, VT_I4, &TakeLong);
}

Int64Argument ReadInt64Argument(const VARIANT* argument) {
    return Convert<Int64Argument>(argument, VT_I8, &TakeInt64);
}

void SetErrorResult(VARIANT* error, LONG number) {
    if (!error) return;
    VariantClear(error);
    error->vt = VT_I4;
    error->lVal = number;
}

HRESULT StoreTextResult(VARIANT* argument, std::u16string_view text) {
    argument = const_cast<VARIANT*>(Referenced(argument));
    if (IsAbsentArgument(argument)) return E_INVALIDARG;
    if (argument->vt & VT_ARRAY) return DISP_E_TYPEMISMATCH;
    const bool byReference = (argument->vt & VT_BYREF) != 0;
    if (byReference && argument->vt != (VT_BYREF | VT_BSTR)) return DISP_E_TYPEMISMATCH;
    BSTR value = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!value) return E_OUTOFMEMORY;
    if (byReference) {
        SysFreeString(*argument->pbstrVal);
        *argument->pbstrVal = value;
        return S_OK;
    }
    VariantClear(argument);
    argument->vt = VT_BSTR;
    argument->bstrVal = value;
    return S_OK;
}

HRESULT StoreLongResult(VARIANT* argument, LONG value) {
    argument = const_cast<VARIANT*>(Referenced(argument));
    if (!argument || argument->vt == VT_ERROR) return S_OK;
    if (argument->vt & VT_BYREF) return StoreIntoReference(*argument, value);
    VariantClear(argument);
    argument->vt = VT_I4;
    argument->lVal = value;
    return S_OK;
}

HRESULT StoreInt64Result(VARIANT* argument, LONGLONG value) {
    argument = const_cast<VARIANT*>(Referenced(argument));
    if (!argument || argument->vt == VT_ERROR) return S_OK;
    if (!(argument->vt & VT_BYREF)) {
        VariantClear(argument);
        argument->vt = VT_I8;
        argument->llVal = value;
        return S_OK;
    }
    switch (BaseType(*argument)) {
        case VT_I8:
            *argument->pllVal = value;
            return S_OK;
        case VT_UI8:
            if (value < 0) return DISP_E_OVERFLOW;
            *argument->pullVal = static_cast<ULONGLONG>(value);
            return S_OK;
        case VT_R8:
            *argument->pdblVal = static_cast<double>(value);
            return S_OK;
        case VT_BSTR: {
            BSTR text = BstrFromUtf8(std::to_string(value));
            if (!text) return E_OUTOFMEMORY;
            SysFreeString(*argument->pbstrVal);
            *argument->pbstrVal = text;
            return S_OK;
        }
        default:
            if (value < INT32_MIN || value > INT32_MAX) return DISP_E_OVERFLOW;
            return StoreIntoReference(*argument, static_cast<LONG>(value));
    }
}
