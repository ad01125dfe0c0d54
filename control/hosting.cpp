// What the control offers a container besides IFileTransfer: error
// information support, safety options, persistence of its extent and the
// about box.
#include <cstring>
#include <string>

#include "control/FileTransfer.h"
#include "platform/com.h"
#include "platform/text.h"
#include "resources/version.h"

namespace {

// The persisted property set, in its order.
constexpr const char16_t* kExtentNames[] = {u"_cx", u"_cy"};

// The stream form: a format number, then for each property its variant type
// (16 bits) and value (32 bits), little-endian.
constexpr DWORD kStreamFormat = 0x00010000;
constexpr std::size_t kStreamBytes = 4 + 2 * (2 + 4);

void PutLittle(BYTE* out, DWORD value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<BYTE>(value >> (8 * i));
}

DWORD GetLittle(const BYTE* in, int bytes) {
    DWORD value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= static_cast<DWORD>(in[i]) << (8 * i);
    return value;
}

}  // namespace

HRESULT CFileTransfer::InterfaceSupportsErrorInfo(REFIID iid) {
    return iid == IID_IFileTransfer ? S_OK : S_FALSE;
}

HRESULT CFileTransfer::GetInterfaceSafetyOptions(REFIID, DWORD* supported, DWORD* enabled) {
    if (!supported || !enabled) return E_POINTER;
    *supported = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
    *enabled = INTERFACESAFE_FOR_UNTRUSTED_DATA;
    return S_OK;
}

HRESULT CFileTransfer::SetInterfaceSafetyOptions(REFIID, DWORD mask, DWORD enabled) {
    return (mask & enabled) == INTERFACESAFE_FOR_UNTRUSTED_CALLER ? E_FAIL : S_OK;
}

HRESULT CFileTransfer::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_FileTransfer;
    return S_OK;
}

HRESULT CFileTransfer::IsDirty() {
    return S_FALSE;  // nothing here changes the extent
}

HRESULT CFileTransfer::InitNew() {
    extent_[0] = extent_[1] = kDefaultExtent;
    return S_OK;
}

HRESULT CFileTransfer::Load(IStream* stream) {
    if (!stream) return E_POINTER;
    BYTE bytes[kStreamBytes];
    ULONG read = 0;
    if (FAILED(stream->Read(bytes, sizeof bytes, &read)) || read != sizeof bytes)
        return STG_E_READFAULT;
    if (GetLittle(bytes, 4) != kStreamFormat) return E_FAIL;
    DWORD extent[2];
    for (int i = 0; i < 2; ++i) {
        const BYTE* entry = bytes + 4 + 6 * i;
        if (GetLittle(entry, 2) != VT_UI4) return E_FAIL;
        extent[i] = GetLittle(entry + 2, 4);
    }
    extent_[0] = extent[0];
    extent_[1] = extent[1];
    return S_OK;
}

HRESULT CFileTransfer::Save(IStream* stream, BOOL) {
    if (!stream) return E_POINTER;
    BYTE bytes[kStreamBytes];
    PutLittle(bytes, kStreamFormat, 4);
    for (int i = 0; i < 2; ++i) {
        PutLittle(bytes + 4 + 6 * i, VT_UI4, 2);
        PutLittle(bytes + 6 + 6 * i, extent_[i], 4);
    }
    ULONG written = 0;
    const HRESULT hr = stream->Write(bytes, sizeof bytes, &written);
    if (FAILED(hr)) return hr;
    return written == sizeof bytes ? S_OK : STG_E_MEDIUMFULL;
}

HRESULT CFileTransfer::GetSizeMax(ULARGE_INTEGER* size) {
    if (!size) return E_POINTER;
    size->QuadPart = kStreamBytes;
    return S_OK;
}

HRESULT CFileTransfer::Load(IPropertyBag* bag, IErrorLog* log) {
    if (!bag) return E_POINTER;
    DWORD extent[2];
    for (int i = 0; i < 2; ++i) {
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_UI4;
        const HRESULT hr = bag->Read(reinterpret_cast<LPCOLESTR>(kExtentNames[i]), &value, log);
        if (FAILED(hr)) return hr;
        if (value.vt != VT_UI4) {
            VariantClear(&value);
            return DISP_E_TYPEMISMATCH;
        }
        extent[i] = value.ulVal;
    }
    extent_[0] = extent[0];
    extent_[1] = extent[1];
    return S_OK;
}

HRESULT CFileTransfer::Save(IPropertyBag* bag, BOOL, BOOL) {
    if (!bag) return E_POINTER;
    for (int i = 0; i < 2; ++i) {
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_UI4;
        value.ulVal = extent_[i];
        if (HRESULT hr = bag->Write(reinterpret_cast<LPCOLESTR>(kExtentNames[i]), &value);
            FAILED(hr))
            return hr;
    }
    return S_OK;
}

namespace {
constexpr const char16_t* kStorageStream = u"Contents";
}  // namespace

HRESULT CFileTransfer::InitNew(IStorage* storage) {
    if (!storage) return E_POINTER;
    if (storageInitialized_) return CO_E_ALREADYINITIALIZED;
    InitNew();
    storage_ = ComPtr<IStorage>::Share(storage);
    storageInitialized_ = true;
    return S_OK;
}

HRESULT CFileTransfer::Load(IStorage* storage) {
    if (!storage) return E_POINTER;
    if (storageInitialized_) return CO_E_ALREADYINITIALIZED;
    ComPtr<IStream> stream;
    HRESULT hr = storage->OpenStream(kStorageStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                     stream.Receive());
    if (SUCCEEDED(hr)) hr = Load(stream.get());
    if (FAILED(hr)) return hr;
    storage_ = ComPtr<IStorage>::Share(storage);
    storageInitialized_ = true;
    return S_OK;
}

HRESULT CFileTransfer::Save(IStorage* storage, BOOL sameAsLoad) {
    if (!storage && sameAsLoad) storage = storage_.get();
    if (!storage) return storageInitialized_ && !storage_ ? E_UNEXPECTED : E_POINTER;
    ComPtr<IStream> stream;
    HRESULT hr =
        storage->CreateStream(kStorageStream, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                              0, 0, stream.Receive());
    return SUCCEEDED(hr) ? Save(stream.get(), TRUE) : hr;
}

HRESULT CFileTransfer::SaveCompleted(IStorage* storage) {
    if (storage) {
        storage_ = ComPtr<IStorage>::Share(storage);
    } else if (!storage_) {
        return E_UNEXPECTED;
    }
    return S_OK;
}

HRESULT CFileTransfer::HandsOffStorage() {
    storage_.Reset();
    return S_OK;
}

HRESULT CFileTransfer::About() {
    const std::string version =
        "Version " + std::to_string(kFileVersion.major) + '.' + std::to_string(kFileVersion.minor) +
        '.' + std::to_string(kFileVersion.build) + '.' + std::to_string(kFileVersion.revision);
    const std::u16string text = Utf8ToUtf16("Tollane File Transfer\n" + version);
    MessageBoxW(nullptr, text.c_str(), u"About Tollane", MB_OK);
    return S_OK;
}
