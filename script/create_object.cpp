#include "script/create_object.h"

#include "platform/com.h"

// As Windows Script Host does: the name through the registry to a class, and
// the class through its registered module's class factory.
HRESULT CreateObjectByProgId(const std::u16string& progId, IDispatch** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    CLSID clsid{};
    if (HRESULT hr = CLSIDFromProgID(reinterpret_cast<LPCOLESTR>(progId.c_str()), &clsid);
        FAILED(hr)) {
        return hr;
    }
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                            reinterpret_cast<void**>(object));
}
