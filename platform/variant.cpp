// VARIANT lifetime: init, clear, copy, and the view through a reference.
#include <cstring>

#include "platform/automation.h"
#include "platform/dispatch.h"
#include "platform/variant_internal.h"

namespace {

// Bytes of the value a by-reference variant points to, by base type.
struct ScalarSize {
    VARTYPE vt;
    size_t size;
};
constexpr ScalarSize kScalarSizes[] = {
    {VT_I1, 1},
    {VT_UI1, 1},
    {VT_I2, 2},
    {VT_UI2, 2},
    {VT_BOOL, 2},
    {VT_I4, 4},
    {VT_UI4, 4},
    {VT_INT, 4},
    {VT_UINT, 4},
    {VT_R4, 4},
    {VT_ERROR, 4},
    {VT_I8, 8},
    {VT_UI8, 8},
    {VT_R8, 8},
    {VT_CY, 8},
    {VT_DATE, 8},
    {VT_BSTR, sizeof(BSTR)},
    {VT_DISPATCH, sizeof(void*)},
    {VT_UNKNOWN, sizeof(void*)},
};

size_t ReferencedSize(VARTYPE base) {
    if (base & VT_ARRAY) return sizeof(SAFEARRAY*);
    for (const ScalarSize& s : kScalarSizes)
        if (s.vt == base) return s.size;
    return 0;
}

}  // namespace

namespace variant_internal {

HRESULT Dereference(const VARIANT* src, VARIANT* view) {
    if (!(src->vt & VT_BYREF)) {
        *view = *src;
        return S_OK;
    }
    VARTYPE base = src->vt & ~VT_BYREF;
    if (!src->byref) return E_INVALIDARG;
    if (base == VT_VARIANT) {
        if (src->pvarVal->vt & VT_BYREF) return E_INVALIDARG;  // one level only
        *view = *src->pvarVal;
        return S_OK;
    }
    size_t size = ReferencedSize(base);
    if (size == 0) return DISP_E_BADVARTYPE;
    VariantInit(view);
    view->vt = base;
    std::memcpy(&view->llVal, src->byref, size);
    return S_OK;
}

}  // namespace variant_internal

void VariantInit(VARIANTARG* v) {
    if (!v) return;
    std::memset(v, 0, sizeof *v);
    v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* v) {
    if (!v) return E_INVALIDARG;
    if (!(v->vt & VT_BYREF)) {
        if (v->vt & VT_ARRAY) {
            HRESULT hr = SafeArrayDestroy(v->parray);
            if (FAILED(hr)) return hr;
        } else if (v->vt == VT_BSTR) {
            SysFreeString(v->bstrVal);
        } else if ((v->vt == VT_DISPATCH || v->vt == VT_UNKNOWN) && v->punkVal) {
            v->punkVal->Release();
        }
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src) {
    if (!dest || !src) return E_INVALIDARG;
    if (dest == src) return S_OK;
    VARIANT copy = *src;
    if (!(src->vt & VT_BYREF)) {
        if (src->vt & VT_ARRAY) {
            HRESULT hr = SafeArrayCopy(src->parray, &copy.parray);
            if (FAILED(hr)) return hr;
        } else if (src->vt == VT_BSTR && src->bstrVal) {
            copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(src->bstrVal),
                                                 SysStringByteLen(src->bstrVal));
            if (!copy.bstrVal) return E_OUTOFMEMORY;
        } else if ((src->vt == VT_DISPATCH || src->vt == VT_UNKNOWN) && src->punkVal) {
            src->punkVal->AddRef();
        }
    }
    HRESULT hr = VariantClear(dest);
    if (FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *dest = copy;
    return S_OK;
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANTARG* src) {
    if (!dest || !src) return E_INVALIDARG;
    VARIANT view;
    HRESULT hr = variant_internal::Dereference(src, &view);
    if (FAILED(hr)) return hr;
    if (dest == src) {
        // The view does not own what it shows; copy it before dest is cleared.
        VARIANT copy;
        VariantInit(&copy);
        hr = VariantCopy(&copy, &view);
        if (FAILED(hr)) return hr;
        if (!(src->vt & VT_BYREF)) VariantClear(dest);
        *dest = copy;
        return S_OK;
    }
    return VariantCopy(dest, &view);
}
