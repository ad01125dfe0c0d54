#include "script/create_object.h"

#include "control/class_factory.h"

HRESULT CreateObjectByProgId(const std::u16string& progId, IDispatch** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    return CreateControlByProgId(progId, IID_IDispatch, reinterpret_cast<void**>(object));
}
