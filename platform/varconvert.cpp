// VariantChangeType: conversion between the scalar variant types and text.
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "platform/automation.h"
#include "platform/dispatch.h"
#include "platform/text.h"
#include "platform/variant_internal.h"

namespace {

// A source value reduced to what conversions need.
struct Value {
    enum Kind { kEmpty, kInteger, kReal, kBool, kText, kDate } kind = kEmpty;
    LONGLONG integer = 0;
    double real = 0;      // kReal and kDate
    bool single = false;  // a VT_R4 source: text uses 7 significant digits
    bool flag = false;
    BSTR text = nullptr;  // borrowed from the source
};

struct IntegerRange {
    VARTYPE vt;
    long double min, max;
};

constexpr IntegerRange kIntegerRanges[] = {
    {VT_I1, -128.0L, 127.0L},
    {VT_UI1, 0, 255.0L},
    {VT_I2, -32768.0L, 32767.0L},
    {VT_UI2, 0, 65535.0L},
    {VT_I4, -2147483648.0L, 2147483647.0L},
    {VT_INT, -2147483648.0L, 2147483647.0L},
    {VT_UI4, 0, 4294967295.0L},
    {VT_UINT, 0, 4294967295.0L},
    {VT_I8, -9223372036854775808.0L, 9223372036854775807.0L},
    {VT_UI8, 0, 18446744073709551615.0L},
};

const IntegerRange* FindIntegerRange(VARTYPE vt) {
    for (const IntegerRange& r : kIntegerRanges)
        if (r.vt == vt) return &r;
    return nullptr;
}

HRESULT ReadValue(const VARIANT& v, Value* out) {
    switch (v.vt) {
        case VT_EMPTY:
            out->kind = Value::kEmpty;
            return S_OK;
        case VT_I1:
            out->kind = Value::kInteger, out->integer = v.cVal;
            return S_OK;
        case VT_UI1:
            out->kind = Value::kInteger, out->integer = v.bVal;
            return S_OK;
        case VT_I2:
            out->kind = Value::kInteger, out->integer = v.iVal;
            return S_OK;
        case VT_UI2:
            out->kind = Value::kInteger, out->integer = v.uiVal;
            return S_OK;
        case VT_I4:
            out->kind = Value::kInteger, out->integer = v.lVal;
            return S_OK;
        case VT_INT:
            out->kind = Value::kInteger, out->integer = v.intVal;
            return S_OK;
        case VT_UI4:
            out->kind = Value::kInteger, out->integer = v.ulVal;
            return S_OK;
        case VT_UINT:
            out->kind = Value::kInteger, out->integer = v.uintVal;
            return S_OK;
        case VT_I8:
            out->kind = Value::kInteger, out->integer = v.llVal;
            return S_OK;
        case VT_UI8:
            if (v.ullVal > static_cast<ULONGLONG>(std::numeric_limits<LONGLONG>::max())) {
                out->kind = Value::kReal, out->real = static_cast<double>(v.ullVal);
            } else {
                out->kind = Value::kInteger, out->integer = static_cast<LONGLONG>(v.ullVal);
            }
            return S_OK;
        case VT_R4:
            out->kind = Value::kReal, out->real = v.fltVal, out->single = true;
            return S_OK;
        case VT_R8:
            out->kind = Value::kReal, out->real = v.dblVal;
            return S_OK;
        case VT_CY:
            out->kind = Value::kReal, out->real = static_cast<double>(v.cyVal) / 10000.0;
            return S_OK;
        case VT_DATE:
            out->kind = Value::kDate, out->real = v.date;
            return S_OK;
        case VT_BOOL:
            out->kind = Value::kBool, out->flag = v.boolVal != VARIANT_FALSE;
            return S_OK;
        case VT_BSTR:
            out->kind = Value::kText, out->text = v.bstrVal;
            return S_OK;
        case VT_NULL:
        case VT_ERROR:
        case VT_DISPATCH:
        case VT_UNKNOWN:
            return DISP_E_TYPEMISMATCH;
        default:
            return (v.vt & VT_ARRAY) ? DISP_E_TYPEMISMATCH : DISP_E_BADVARTYPE;
    }
}

// ----- text to number -------------------------------------------------------

std::string TrimmedNarrow(BSTR text) {
    std::string s = Utf8FromBstr(text);
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    size_t b = 0, e = s.size();
    while (b < e && blank(s[b]))
        ++b;
    while (e > b && blank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

// Accepts [sign] digits [. digits] [e [sign] digits], at least one digit.
bool ParseNumber(const std::string& s, Value* out) {
    size_t pos = 0;
    bool negative = false;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) negative = s[pos++] == '-';
    std::string_view body(s.data() + pos, s.size() - pos);
    if (body.empty() || body[0] == '+' || body[0] == '-') return false;
    // Digits, point and exponent only (no "inf", "nan" or hexadecimal).
    if (body.find_first_not_of("0123456789.eE+-") != std::string_view::npos) return false;
    const char* first = body.data();
    const char* last = first + body.size();
    bool integral = body.find_first_of(".eE") == std::string_view::npos;
    if (integral) {
        ULONGLONG magnitude = 0;
        auto [end, ec] = std::from_chars(first, last, magnitude);
        if (ec == std::errc() && end == last &&
            magnitude <= static_cast<ULONGLONG>(std::numeric_limits<LONGLONG>::max())) {
            out->kind = Value::kInteger;
            out->integer =
                negative ? -static_cast<LONGLONG>(magnitude) : static_cast<LONGLONG>(magnitude);
            return true;
        }
    }
    double real = 0;
    auto [end, ec] = std::from_chars(first, last, real, std::chars_format::general);
    if (end != last) return false;
    if (ec == std::errc::result_out_of_range) {
        real = std::numeric_limits<double>::infinity();  // reported as overflow
    } else if (ec != std::errc()) {
        return false;
    }
    out->kind = Value::kReal;
    out->real = negative ? -real : real;
    return true;
}

bool EqualsIgnoringCase(const std::string& s, const char* word) {
    size_t n = std::char_traits<char>::length(word);
    if (s.size() != n) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != word[i]) return false;
    }
    return true;
}

// Turns a text value into a number value (or a bool, for "True"/"False").
HRESULT NumberFromText(const Value& in, Value* out, bool allowWords) {
    std::string s = TrimmedNarrow(in.text);
    if (allowWords && EqualsIgnoringCase(s, "true")) {
        out->kind = Value::kBool, out->flag = true;
        return S_OK;
    }
    if (allowWords && EqualsIgnoringCase(s, "false")) {
        out->kind = Value::kBool, out->flag = false;
        return S_OK;
    }
    return ParseNumber(s, out) ? S_OK : DISP_E_TYPEMISMATCH;
}

// ----- to each target ---------------------------------------------------------

void StoreInteger(VARIANT* out, VARTYPE vt, LONGLONG value) {
    out->vt = vt;
    switch (vt) {
        case VT_I1:
            out->cVal = static_cast<CHAR>(value);
            break;
        case VT_UI1:
            out->bVal = static_cast<BYTE>(value);
            break;
        case VT_I2:
            out->iVal = static_cast<SHORT>(value);
            break;
        case VT_UI2:
            out->uiVal = static_cast<USHORT>(value);
            break;
        case VT_I4:
            out->lVal = static_cast<LONG>(value);
            break;
        case VT_INT:
            out->intVal = static_cast<INT>(value);
            break;
        case VT_UI4:
            out->ulVal = static_cast<ULONG>(value);
            break;
        case VT_UINT:
            out->uintVal = static_cast<UINT>(value);
            break;
        case VT_I8:
            out->llVal = value;
            break;
        case VT_UI8:
            out->ullVal = static_cast<ULONGLONG>(value);
            break;
        default:
            break;
    }
}

HRESULT ToInteger(Value in, const IntegerRange& range, VARIANT* out) {
    if (in.kind == Value::kText) {
        HRESULT hr = NumberFromText(in, &in, false);
        if (FAILED(hr)) return hr;
    }
    long double value = 0;
    switch (in.kind) {
        case Value::kEmpty:
            value = 0;
            break;
        case Value::kInteger:
            value = static_cast<long double>(in.integer);
            break;
        case Value::kBool:
            value = in.flag ? (range.min < 0 ? -1.0L : range.max) : 0;
            break;
        case Value::kReal:
        case Value::kDate:
            if (!std::isfinite(in.real)) return DISP_E_OVERFLOW;
            value = std::nearbyint(static_cast<long double>(in.real));  // halves go to even
            break;
        default:
            return DISP_E_TYPEMISMATCH;
    }
    if (value < range.min || value > range.max) return DISP_E_OVERFLOW;
    if (range.vt == VT_UI8) {
        out->vt = VT_UI8;
        out->ullVal = static_cast<ULONGLONG>(value);
    } else {
        StoreInteger(out, range.vt, static_cast<LONGLONG>(value));
    }
    return S_OK;
}

HRESULT ToDouble(Value in, double* result) {
    if (in.kind == Value::kText) {
        HRESULT hr = NumberFromText(in, &in, false);
        if (FAILED(hr)) return hr;
    }
    switch (in.kind) {
        case Value::kEmpty:
            *result = 0;
            return S_OK;
        case Value::kInteger:
            *result = static_cast<double>(in.integer);
            return S_OK;
        case Value::kBool:
            *result = in.flag ? -1.0 : 0.0;
            return S_OK;
        case Value::kReal:
        case Value::kDate:
            if (!std::isfinite(in.real)) return DISP_E_OVERFLOW;
            *result = in.real;
            return S_OK;
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

HRESULT ToReal(const Value& in, VARTYPE vt, VARIANT* out) {
    double value;
    HRESULT hr = ToDouble(in, &value);
    if (FAILED(hr)) return hr;
    if (vt == VT_R4) {
        if (std::fabs(value) > FLT_MAX) return DISP_E_OVERFLOW;
        out->vt = VT_R4;
        out->fltVal = static_cast<float>(value);
    } else if (vt == VT_CY) {
        double scaled = std::nearbyint(value * 10000.0);
        if (std::fabs(scaled) >= 9.2233720368547758e18) return DISP_E_OVERFLOW;
        out->vt = VT_CY;
        out->cyVal = static_cast<LONGLONG>(scaled);
    } else {
        out->vt = VT_R8;
        out->dblVal = value;
    }
    return S_OK;
}

HRESULT ToBool(Value in, VARIANT* out) {
    if (in.kind == Value::kText) {
        HRESULT hr = NumberFromText(in, &in, true);
        if (FAILED(hr)) return hr;
    }
    bool flag = false;
    switch (in.kind) {
        case Value::kEmpty:
            flag = false;
            break;
        case Value::kInteger:
            flag = in.integer != 0;
            break;
        case Value::kBool:
            flag = in.flag;
            break;
        case Value::kReal:
        case Value::kDate:
            flag = in.real != 0;
            break;
        default:
            return DISP_E_TYPEMISMATCH;
    }
    out->vt = VT_BOOL;
    out->boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT ToDate(const Value& in, VARIANT* out) {
    double value = 0;
    if (in.kind == Value::kText) {
        HRESULT hr = VarDateFromStr(in.text ? in.text : u"", LOCALE_USER_DEFAULT, 0, &value);
        if (FAILED(hr)) return hr;
    } else {
        HRESULT hr = ToDouble(in, &value);
        if (FAILED(hr)) return hr;
        if (value <= kMinDate - 1.0 || value >= kMaxDate + 1.0 / 86400.0) return DISP_E_OVERFLOW;
    }
    out->vt = VT_DATE;
    out->date = value;
    return S_OK;
}

std::string FormatReal(double value, bool single) {
    if (value == 0) return "0";  // also for negative zero
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, single ? "%.7G" : "%.15G", value);
    return buffer;
}

HRESULT ToText(const Value& in, VARIANT* out) {
    std::string text;
    switch (in.kind) {
        case Value::kEmpty:
            break;
        case Value::kInteger:
            text = std::to_string(in.integer);
            break;
        case Value::kReal:
            text = FormatReal(in.real, in.single);
            break;
        case Value::kBool:
            text = in.flag ? "True" : "False";
            break;
        case Value::kDate: {
            BSTR date = nullptr;
            HRESULT hr = VarBstrFromDate(in.real, LOCALE_USER_DEFAULT, 0, &date);
            if (FAILED(hr)) return hr;
            out->vt = VT_BSTR;
            out->bstrVal = date;
            return S_OK;
        }
        case Value::kText: {
            BSTR copy = SysAllocStringLen(in.text, SysStringLen(in.text));
            if (!copy) return E_OUTOFMEMORY;
            out->vt = VT_BSTR;
            out->bstrVal = copy;
            return S_OK;
        }
    }
    BSTR result = BstrFromUtf8(text);
    if (!result) return E_OUTOFMEMORY;
    out->vt = VT_BSTR;
    out->bstrVal = result;
    return S_OK;
}

// Conversions that keep what the source is: same type, empty/null targets, objects.
HRESULT ConvertSpecial(const VARIANT& view, VARTYPE vt, VARIANT* out, bool* handled) {
    *handled = true;
    if (view.vt == vt) return VariantCopy(out, &view);
    if (vt == VT_EMPTY) return S_OK;
    if (vt == VT_NULL) {
        out->vt = VT_NULL;
        return S_OK;
    }
    if (vt == VT_UNKNOWN && view.vt == VT_DISPATCH) {
        out->vt = VT_UNKNOWN;
        out->punkVal = view.punkVal;
        if (out->punkVal) out->punkVal->AddRef();
        return S_OK;
    }
    if ((vt & VT_ARRAY) || vt == VT_ERROR || vt == VT_DISPATCH || vt == VT_UNKNOWN)
        return DISP_E_TYPEMISMATCH;
    *handled = false;
    return S_OK;
}

HRESULT Convert(const VARIANT& view, VARTYPE vt, VARIANT* out) {
    bool handled = false;
    HRESULT hr = ConvertSpecial(view, vt, out, &handled);
    if (handled) return hr;
    Value value;
    hr = ReadValue(view, &value);
    if (FAILED(hr)) return hr;
    if (const IntegerRange* range = FindIntegerRange(vt)) return ToInteger(value, *range, out);
    switch (vt) {
        case VT_R4:
        case VT_R8:
        case VT_CY:
            return ToReal(value, vt, out);
        case VT_BOOL:
            return ToBool(value, out);
        case VT_DATE:
            return ToDate(value, out);
        case VT_BSTR:
            return ToText(value, out);
        default:
            return DISP_E_BADVARTYPE;
    }
}

}  // namespace

HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT, VARTYPE vt) {
    if (!dest || !src) return E_INVALIDARG;
    if (vt & VT_BYREF) return DISP_E_TYPEMISMATCH;
    VARIANT view;
    HRESULT hr = variant_internal::Dereference(src, &view);
    if (FAILED(hr)) return hr;
    VARIANT result;
    VariantInit(&result);
    hr = Convert(view, vt, &result);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    hr = VariantClear(dest);  // when dest is src, the view's borrowed parts are no longer used
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    *dest = result;
    return S_OK;
}

HRESULT VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* src, LCID, USHORT flags,
                            VARTYPE vt) {
    return VariantChangeType(dest, src, flags, vt);
}
