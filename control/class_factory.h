// Creation of the FileTransfer control by class identifier or ProgID.
#pragma once

#include <string_view>

#include "platform/api.h"
#include "platform/unknown.h"

constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);

// The version-dependent ProgID of a class ("" for an unknown class).
FT_API const char* ProgIdOfClass(REFCLSID clsid);
// Resolves "Tollane.FileTransfer.7" or "Tollane.FileTransfer" (ignoring case).
FT_API HRESULT ClassFromProgId(std::u16string_view progId, CLSID* clsid);

// A new control answering iid, with one reference for the caller.
FT_API HRESULT CreateControl(REFCLSID clsid, REFIID iid, void** object);
FT_API HRESULT CreateControlByProgId(std::u16string_view progId, REFIID iid, void** object);
