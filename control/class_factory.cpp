#include "control/class_factory.h"

#include "control/FileTransfer.h"
#include "platform/text.h"
#include "resources/version.h"

namespace {

struct ClassRegistration {
    const char* progId;
    const CLSID* clsid;
};

constexpr ClassRegistration kClasses[] = {
    {kProgId, &CLSID_FileTransfer},
    {kVersionIndependentProgId, &CLSID_FileTransfer},
};

}  // namespace

const char* ProgIdOfClass(REFCLSID clsid) {
    for (const ClassRegistration& entry : kClasses) {
        if (*entry.clsid == clsid) return entry.progId;
    }
    return "";
}

HRESULT ClassFromProgId(std::u16string_view progId, CLSID* clsid) {
    if (!clsid) return E_POINTER;
    const std::string name = Utf16ToUtf8(progId);
    for (const ClassRegistration& entry : kClasses) {
        if (EqualsIgnoringCase(name, entry.progId)) {
            *clsid = *entry.clsid;
            return S_OK;
        }
    }
    *clsid = GUID_NULL;
    return REGDB_E_CLASSNOTREG;
}

HRESULT CreateControl(REFCLSID clsid, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!(clsid == CLSID_FileTransfer)) return REGDB_E_CLASSNOTREG;
    CFileTransfer* control = CFileTransfer::Create();
    if (!control) return E_OUTOFMEMORY;
    const HRESULT hr = control->QueryInterface(iid, object);
    control->Release();
    return hr;
}

HRESULT CreateControlByProgId(std::u16string_view progId, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    CLSID clsid;
    if (HRESULT hr = ClassFromProgId(progId, &clsid); FAILED(hr)) return hr;
    return CreateControl(clsid, iid, object);
}
