#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "platform/automation.h"
#include "platform/dispatch.h"

namespace {

struct ElementKind {
    VARTYPE vt;
    ULONG size;
    USHORT features;
};

constexpr ElementKind kElementKinds[] = {
    {VT_I1, 1, 0},
    {VT_UI1, 1, 0},
    {VT_I2, 2, 0},
    {VT_UI2, 2, 0},
    {VT_BOOL, 2, 0},
    {VT_I4, 4, 0},
    {VT_UI4, 4, 0},
    {VT_INT, 4, 0},
    {VT_UINT, 4, 0},
    {VT_R4, 4, 0},
    {VT_ERROR, 4, 0},
    {VT_I8, 8, 0},
    {VT_UI8, 8, 0},
    {VT_R8, 8, 0},
    {VT_CY, 8, 0},
    {VT_DATE, 8, 0},
    {VT_BSTR, sizeof(BSTR), FADF_BSTR},
    {VT_UNKNOWN, sizeof(IUnknown*), FADF_UNKNOWN},
    {VT_DISPATCH, sizeof(IDispatch*), FADF_DISPATCH},
    {VT_VARIANT, sizeof(VARIANT), FADF_VARIANT},
};

const ElementKind* FindKind(VARTYPE vt) {
    for (const ElementKind& kind : kElementKinds)
        if (kind.vt == vt) return &kind;
    return nullptr;
}

// The descriptor is preceded by 16 bytes; the element type sits in the last 4
// of them, where Windows keeps it.
constexpr size_t kDescriptorPrefix = 16;

size_t DescriptorSize(UINT dims) {
    return sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND);
}

unsigned char* PrefixOf(SAFEARRAY* array) {
    return reinterpret_cast<unsigned char*>(array) - kDescriptorPrefix;
}

VARTYPE StoredVartype(SAFEARRAY* array) {
    DWORD vt;
    std::memcpy(&vt, PrefixOf(array) + kDescriptorPrefix - 4, 4);
    return static_cast<VARTYPE>(vt);
}

SAFEARRAY* AllocateDescriptor(VARTYPE vt, UINT dims) {
    auto* block =
        static_cast<unsigned char*>(std::calloc(1, kDescriptorPrefix + DescriptorSize(dims)));
    if (!block) return nullptr;
    DWORD stored = vt;
    std::memcpy(block + kDescriptorPrefix - 4, &stored, 4);
    return reinterpret_cast<SAFEARRAY*>(block + kDescriptorPrefix);
}

// Number of elements, or false when it overflows.
bool ElementCount(const SAFEARRAY* array, size_t* count) {
    size_t total = 1;
    for (USHORT i = 0; i < array->cDims; ++i) {
        size_t n = array->rgsabound[i].cElements;
        if (n != 0 && total > std::numeric_limits<size_t>::max() / n) return false;
        total *= n;
    }
    *count = total;
    return true;
}

bool DataBytes(const SAFEARRAY* array, size_t* bytes) {
    size_t count;
    if (!ElementCount(array, &count)) return false;
    if (count != 0 && array->cbElements > std::numeric_limits<size_t>::max() / count) return false;
    *bytes = count * array->cbElements;
    return true;
}

void ReleaseElements(const SAFEARRAY* array, void* data, size_t count) {
    if (!data) return;
    if (array->fFeatures & FADF_BSTR) {
        auto* cells = static_cast<BSTR*>(data);
        for (size_t i = 0; i < count; ++i)
            SysFreeString(std::exchange(cells[i], nullptr));
    } else if (array->fFeatures & FADF_VARIANT) {
        auto* cells = static_cast<VARIANT*>(data);
        for (size_t i = 0; i < count; ++i)
            VariantClear(&cells[i]);
    } else if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        auto* cells = static_cast<IUnknown**>(data);
        for (size_t i = 0; i < count; ++i)
            if (IUnknown* p = std::exchange(cells[i], nullptr)) p->Release();
    }
}

// Copies one element in the array's way into a cell that holds nothing.
HRESULT CopyElement(const SAFEARRAY* array, const void* from, void* to) {
    if (array->fFeatures & FADF_BSTR) {
        BSTR source = *static_cast<const BSTR*>(from);
        BSTR copy = source ? SysAllocStringByteLen(reinterpret_cast<const char*>(source),
                                                   SysStringByteLen(source))
                           : nullptr;
        if (source && !copy) return E_OUTOFMEMORY;
        *static_cast<BSTR*>(to) = copy;
        return S_OK;
    }
    if (array->fFeatures & FADF_VARIANT) {
        VariantInit(static_cast<VARIANT*>(to));
        return VariantCopy(static_cast<VARIANT*>(to), static_cast<const VARIANT*>(from));
    }
    if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        IUnknown* p = *static_cast<IUnknown* const*>(from);
        if (p) p->AddRef();
        *static_cast<IUnknown**>(to) = p;
        return S_OK;
    }
    std::memcpy(to, from, array->cbElements);
    return S_OK;
}

HRESULT CellOffset(SAFEARRAY* array, const LONG* indices, size_t* offset) {
    if (!indices) return E_INVALIDARG;
    size_t cell = 0, multiplier = 1;
    for (USHORT d = 0; d < array->cDims; ++d) {
        const SAFEARRAYBOUND& bound = array->rgsabound[array->cDims - 1 - d];
        LONGLONG relative = LONGLONG{indices[d]} - bound.lLbound;
        if (relative < 0 || relative >= LONGLONG{bound.cElements}) return DISP_E_BADINDEX;
        cell += static_cast<size_t>(relative) * multiplier;
        multiplier *= bound.cElements;
    }
    *offset = cell * array->cbElements;
    return S_OK;
}

HRESULT AllocateData(SAFEARRAY* array) {
    size_t bytes;
    if (!DataBytes(array, &bytes)) return E_OUTOFMEMORY;
    array->pvData = std::calloc(1, bytes ? bytes : 1);
    return array->pvData ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, const SAFEARRAYBOUND* bounds) {
    const ElementKind* kind = FindKind(vt);
    if (!kind || dims == 0 || dims > 0xFFFF || !bounds) return nullptr;
    SAFEARRAY* array = AllocateDescriptor(vt, dims);
    if (!array) return nullptr;
    array->cDims = static_cast<USHORT>(dims);
    array->fFeatures = FADF_HAVEVARTYPE | kind->features;
    array->cbElements = kind->size;
    for (UINT i = 0; i < dims; ++i)
        array->rgsabound[dims - 1 - i] = bounds[i];
    if (FAILED(AllocateData(array))) {
        std::free(PrefixOf(array));
        return nullptr;
    }
    return array;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements) {
    SAFEARRAYBOUND bound{elements, lowerBound};
    return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroyData(SAFEARRAY* array) {
    if (!array) return E_INVALIDARG;
    if (array->cLocks > 0) return DISP_E_ARRAYISLOCKED;
    size_t count = 0;
    if (ElementCount(array, &count)) ReleaseElements(array, array->pvData, count);
    if (!(array->fFeatures & (FADF_STATIC | FADF_EMBEDDED | FADF_AUTO))) {
        std::free(array->pvData);
        array->pvData = nullptr;
    }
    return S_OK;
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
    if (!array) return S_OK;
    HRESULT hr = SafeArrayDestroyData(array);
    if (FAILED(hr)) return hr;
    std::free(PrefixOf(array));
    return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* array) {
    return array ? array->cDims : 0;
}
UINT SafeArrayGetElemsize(SAFEARRAY* array) {
    return array ? array->cbElements : 0;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt) {
    if (!array || !vt) return E_INVALIDARG;
    if (!(array->fFeatures & FADF_HAVEVARTYPE)) return E_INVALIDARG;
    *vt = StoredVartype(array);
    return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound) {
    if (!array || !bound) return E_INVALIDARG;
    if (dim == 0 || dim > array->cDims) return DISP_E_BADINDEX;
    *bound = array->rgsabound[array->cDims - dim].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound) {
    if (!array || !bound) return E_INVALIDARG;
    if (dim == 0 || dim > array->cDims) return DISP_E_BADINDEX;
    const SAFEARRAYBOUND& b = array->rgsabound[array->cDims - dim];
    *bound = static_cast<LONG>(LONGLONG{b.lLbound} + b.cElements - 1);
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* array) {
    if (!array) return E_INVALIDARG;
    if (array->cLocks == 0xFFFF) return E_UNEXPECTED;
    ++array->cLocks;
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* array) {
    if (!array) return E_INVALIDARG;
    if (array->cLocks == 0) return E_UNEXPECTED;
    --array->cLocks;
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data) {
    if (!array || !data) return E_INVALIDARG;
    HRESULT hr = SafeArrayLock(array);
    *data = SUCCEEDED(hr) ? array->pvData : nullptr;
    return hr;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* array) {
    return SafeArrayUnlock(array);
}

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* array, const LONG* indices, void** element) {
    if (!array || !element) return E_INVALIDARG;
    size_t offset;
    HRESULT hr = CellOffset(array, indices, &offset);
    if (FAILED(hr)) return hr;
    *element = static_cast<unsigned char*>(array->pvData) + offset;
    return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* array, const LONG* indices, void* element) {
    void* cell;
    if (!element) return E_INVALIDARG;
    HRESULT hr = SafeArrayPtrOfIndex(array, indices, &cell);
    if (FAILED(hr)) return hr;
    return CopyElement(array, cell, element);
}

HRESULT SafeArrayPutElement(SAFEARRAY* array, const LONG* indices, const void* element) {
    void* cell;
    if (!element) return E_INVALIDARG;
    HRESULT hr = SafeArrayPtrOfIndex(array, indices, &cell);
    if (FAILED(hr)) return hr;
    // Strings and interfaces are passed as themselves, everything else by address.
    const void* source = element;
    if (array->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH)) source = &element;
    // Copy first: the new value may be the old one.
    alignas(VARIANT) unsigned char copy[sizeof(VARIANT)];
    hr = CopyElement(array, source, copy);
    if (FAILED(hr)) return hr;
    ReleaseElements(array, cell, 1);
    std::memcpy(cell, copy, array->cbElements);
    return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* array, SAFEARRAY** copy) {
    if (!copy) return E_INVALIDARG;
    *copy = nullptr;
    if (!array) return S_OK;
    size_t count;
    if (!ElementCount(array, &count)) return E_OUTOFMEMORY;
    SAFEARRAY* result = AllocateDescriptor(StoredVartype(array), array->cDims);
    if (!result) return E_OUTOFMEMORY;
    std::memcpy(result, array, DescriptorSize(array->cDims));
    result->cLocks = 0;
    result->fFeatures &= ~(FADF_STATIC | FADF_EMBEDDED | FADF_AUTO);
    result->pvData = nullptr;
    HRESULT hr = AllocateData(result);
    auto* from = static_cast<const unsigned char*>(array->pvData);
    auto* to = static_cast<unsigned char*>(result->pvData);
    for (size_t i = 0; SUCCEEDED(hr) && from && i < count; ++i)
        hr = CopyElement(array, from + i * array->cbElements, to + i * array->cbElements);
    if (FAILED(hr)) {
        SafeArrayDestroy(result);
        return hr;
    }
    *copy = result;
    return S_OK;
}

HRESULT SafeArrayRedim(SAFEARRAY* array, const SAFEARRAYBOUND* lastBound) {
    if (!array || !lastBound) return E_INVALIDARG;
    if (array->cLocks > 0) return DISP_E_ARRAYISLOCKED;
    if (array->fFeatures & FADF_FIXEDSIZE) return DISP_E_ARRAYISLOCKED;
    size_t oldCount, oldBytes;
    if (!ElementCount(array, &oldCount) || !DataBytes(array, &oldBytes)) return E_UNEXPECTED;
    size_t sliceCount = 1;
    for (USHORT i = 1; i < array->cDims; ++i)
        sliceCount *= array->rgsabound[i].cElements;
    size_t newCount = sliceCount * lastBound->cElements;
    if (lastBound->cElements != 0 && newCount / lastBound->cElements != sliceCount)
        return E_OUTOFMEMORY;
    size_t newBytes = newCount * array->cbElements;
    auto* data = static_cast<unsigned char*>(array->pvData);
    if (newCount < oldCount) ReleaseElements(array, data + newBytes, oldCount - newCount);
    auto* resized = static_cast<unsigned char*>(std::realloc(data, newBytes ? newBytes : 1));
    if (!resized) return E_OUTOFMEMORY;
    if (newBytes > oldBytes) std::memset(resized + oldBytes, 0, newBytes - oldBytes);
    array->pvData = resized;
    array->rgsabound[0] = *lastBound;
    return S_OK;
}
