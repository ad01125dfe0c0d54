#include "control/class_factory.h"

#include <atomic>
#include <new>

#include "control/FileTransfer.h"
#include "control/engine_hold.h"
#include "control/module_lock.h"
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

// ---- Class factory and module lifetime --------------------------------------------

namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

class ClassFactory final : public ComObject<IClassFactory> {
  public:
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        // An aggregating object holds the control by its own unknown only.
        if (outer && !(iid == IID_IUnknown)) return CLASS_E_NOAGGREGATION;
        CFileTransfer* control = CFileTransfer::Create(outer);
        if (!control) return E_OUTOFMEMORY;
        if (outer) {
            *object = control->InnerUnknown();
            return S_OK;
        }
        const HRESULT hr = control->QueryInterface(iid, object);
        control->Release();
        return hr;
    }
    HRESULT LockServer(BOOL lock) override {
        if (lock) {
            g_locks.fetch_add(1);
        } else if (g_locks.fetch_sub(1) <= 0) {
            g_locks.fetch_add(1);  // more unlocks than locks: keep the count at zero
            return E_UNEXPECTED;
        }
        return S_OK;
    }
};

}  // namespace

void ModuleObjectCreated() {
    g_objects.fetch_add(1);
}

void ModuleObjectDestroyed() {
    g_objects.fetch_sub(1);
}

HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!(clsid == CLSID_FileTransfer)) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) ClassFactory();
    if (!factory) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(iid, object);
    factory->Release();
    return hr;
}

HRESULT DllCanUnloadNow() {
    if (g_objects.load() != 0 || g_locks.load() != 0 || EngineSessionsAlive()) return S_FALSE;
    // Nothing is open: the engine starts of destroyed controls end before the code goes.
    ReleaseKeptEngineStarts();
    return S_OK;
}
