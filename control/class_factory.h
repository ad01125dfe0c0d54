// Creation of the FileTransfer control by class identifier or ProgID, and the
// identifiers a program needs to drive it: its dispatch interface and the
// outgoing interface of its events (the connection point's identifier). The
// module's entry points make it an in-process server: its class factory, its
// unload check and its registration (docs/hosting.md).
#pragma once

#include <string_view>

#include "platform/api.h"
#include "platform/com.h"
#include "platform/dispatch.h"
#include "platform/typelib.h"
#include "platform/unknown.h"

// The control's dispatch interface: every member is reached through Invoke.
struct IFileTransfer : IDispatch {};

inline constexpr IID IID_IFileTransfer =
    MakeGuid(0x1ECD3DBF, 0xA66A, 0x4EB3, 0xB5, 0x88, 0x39, 0xBC, 0x53, 0xE4, 0x94, 0xA8);
inline constexpr IID DIID__IFileTransferEvents =
    MakeGuid(0x58D6D9B4, 0xFE61, 0x46EA, 0xA2, 0xF7, 0x6A, 0xED, 0x60, 0xA7, 0x4A, 0x42);
inline constexpr CLSID CLSID_FileTransfer =
    MakeGuid(0x9F6A8780, 0x2267, 0x473A, 0xA5, 0x10, 0x62, 0x5C, 0xD4, 0x84, 0x36, 0x4C);
inline constexpr GUID LIBID_FileTransferCtl =
    MakeGuid(0x52F93070, 0x00BF, 0x4956, 0x82, 0xC6, 0xDC, 0x61, 0x3B, 0x6D, 0xFC, 0x2E);

FT_INTERFACE_IID(IFileTransfer, IID_IFileTransfer);

// The version-dependent ProgID of a class ("" for an unknown class).
FT_API const char* ProgIdOfClass(REFCLSID clsid);
// Resolves "Tollane.FileTransfer.7" or "Tollane.FileTransfer" (ignoring case).
FT_API HRESULT ClassFromProgId(std::u16string_view progId, CLSID* clsid);

// A new control answering iid, with one reference for the caller.
FT_API HRESULT CreateControl(REFCLSID clsid, REFIID iid, void** object);
FT_API HRESULT CreateControlByProgId(std::u16string_view progId, REFIID iid, void** object);

// ---- The module's entry points (C names) ----------------------------------------
FT_EXTERN_C_BEGIN
// The class factory (IClassFactory) of CLSID_FileTransfer; other classes give
// CLASS_E_CLASSNOTAVAILABLE.
FT_API HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object);
// S_OK when no control made by the module is alive, no LockServer holds it and
// the engines hold no connection (destroyed controls leave theirs open), else
// S_FALSE. With S_OK the engine starts of destroyed controls are given back.
FT_API HRESULT DllCanUnloadNow();
// Writes (or removes) the class's keys under HKEY_CLASSES_ROOT: the machine's
// registry unless DllInstall asked for the user's.
FT_API HRESULT DllRegisterServer();
FT_API HRESULT DllUnregisterServer();
// Registers (install TRUE) or unregisters; commandLine "user" works on the
// user's registry, null, "" or "machine" on the machine's, else E_INVALIDARG.
FT_API HRESULT DllInstall(BOOL install, LPCOLESTR commandLine);
// The module's type library (LoadRegTypeLib asks the registered module for it).
FT_API HRESULT DllGetTypeLib(ITypeLib** library);
FT_EXTERN_C_END
