// How the script host makes the objects scripts ask for by name
// (new ActiveXObject(PROGID), WScript.CreateObject(PROGID)). This is the one
// place that knows how a name becomes an object.
#pragma once

#include <string>

#include "platform/dispatch.h"

// A new object answering IDispatch, with one reference for the caller; a
// failing HRESULT (REGDB_E_CLASSNOTREG for a name nothing is known by).
HRESULT CreateObjectByProgId(const std::u16string& progId, IDispatch** object);
