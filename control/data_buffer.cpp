#include "control/data_buffer.h"

#include <algorithm>
#include <cstring>

#include "control/FileTransfer.h"

namespace {

constexpr OLECHAR kUnmappable = u'?';

VARIANT* Followed(VARIANT* value) {
    if (value && value->vt == (VT_BYREF | VT_VARIANT) && value->pvarVal) return value->pvarVal;
    return value;
}

BSTR BytesToText(std::span<const BYTE> bytes) {
    BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(bytes.size()));
    if (!text) return nullptr;
    std::transform(bytes.begin(), bytes.end(), text, [](BYTE b) { return OLECHAR(b); });
    return text;
}

ULONG ElementCount(SAFEARRAY* array) {
    return array->rgsabound[0].cElements;
}

ULONG FillArray(SAFEARRAY** slot, std::span<const BYTE> bytes) {
    if (!*slot) {
        SAFEARRAY* created = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
        if (!created) return 0;
        *slot = created;
    }
    SAFEARRAY* array = *slot;
    if (SafeArrayGetDim(array) != 1) return static_cast<ULONG>(bytes.size());
    const ULONG count = std::min<ULONG>(ElementCount(array), static_cast<ULONG>(bytes.size()));
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) return 0;
    if (count > 0) std::memcpy(data, bytes.data(), count);
    SafeArrayUnaccessData(array);
    return count;
}

}  // namespace

DataSource::DataSource(const VARIANT* buffer) {
    const VARIANT* value = buffer;
    if (value && value->vt == (VT_BYREF | VT_VARIANT)) value = value->pvarVal;
    if (!value) {
        hr_ = E_INVALIDARG;
        return;
    }
    switch (value->vt) {
        case VT_BSTR:
            FromText(value->bstrVal);
            return;
        case VT_BYREF | VT_BSTR:
            FromText(*value->pbstrVal);
            return;
        case VT_ARRAY | VT_UI1:
            FromArray(value->parray);
            return;
        case VT_BYREF | VT_ARRAY | VT_UI1:
            FromArray(*value->pparray);
            return;
        default:
            hr_ = E_INVALIDARG;
            return;
    }
}

DataSource::~DataSource() {
    if (array_) SafeArrayUnaccessData(array_);
}

void DataSource::FromText(BSTR text) {
    const UINT length = SysStringLen(text);
    try {
        text_.resize(length);
    } catch (const std::bad_alloc&) {
        hr_ = E_OUTOFMEMORY;
        return;
    }
    for (UINT i = 0; i < length; ++i) {
        const OLECHAR c = text[i];
        text_[i] = static_cast<char>(c <= 0xFF ? c : kUnmappable);
    }
    bytes_ = std::span<const BYTE>(reinterpret_cast<const BYTE*>(text_.data()), text_.size());
}

void DataSource::FromArray(SAFEARRAY* array) {
    if (!array) {
        hr_ = E_INVALIDARG;
        return;
    }
    if (SafeArrayGetDim(array) != 1) {
        hr_ = CTL_E_ILLEGALFUNCTIONCALL;
        return;
    }
    void* data = nullptr;
    if (hr_ = SafeArrayAccessData(array, &data); FAILED(hr_)) return;
    array_ = array;
    bytes_ = std::span<const BYTE>(static_cast<const BYTE*>(data), ElementCount(array));
}

ULONG FillDataBuffer(VARIANT* buffer, std::span<const BYTE> bytes) {
    VARIANT* value = Followed(buffer);
    const auto all = static_cast<ULONG>(bytes.size());
    if (!value) return all;
    switch (value->vt) {
        case VT_EMPTY:
        case VT_BSTR:
            if (BSTR text = BytesToText(bytes)) {
                VariantClear(value);
                value->vt = VT_BSTR;
                value->bstrVal = text;
            }
            return all;
        case VT_BYREF | VT_BSTR:
            if (BSTR text = BytesToText(bytes)) {
                SysFreeString(*value->pbstrVal);
                *value->pbstrVal = text;
            }
            return all;
        case VT_ARRAY | VT_UI1:
            return FillArray(&value->parray, bytes);
        case VT_BYREF | VT_ARRAY | VT_UI1:
            return FillArray(value->pparray, bytes);
        default:
            return all;
    }
}
