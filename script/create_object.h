// How the script host makes the objects scripts ask for by name
// (new ActiveXObject(PROGID), WScript.CreateObject(PROGID)). This is the one
// place that knows how a name becomes an object.
#pragma once

#include <string>

#include "platform/dispatch.h"

// A new object answering IDispatch, with one reference for the caller; a
// failing HRESULT (CO_E_CLASSSTRING for a name the registry does not know,
// REGDB_E_CLASSNOTREG for a class without a module, the loader's errors).
HRESULT CreateObjectByProgId(const std::u16string& progId, IDispatch** object);
