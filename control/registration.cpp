// The module's registration: the keys a program needs to create the control by
// ProgID or class identifier, written as one table.
#include <string>

#include "control/class_factory.h"
#include "control/type_library.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "resources/version.h"

namespace {

// A key under HKEY_CLASSES_ROOT, with one value (valueName null: the default
// value; value null: the key alone). %CLSID%, %LIBID%, %IID% and %EVENTS% stand
// for the identifiers of the class, the type library, the dispatch interface and
// the event interface; %MODULE% for the module's full path, %FOLDER% its folder.
struct RegistryRow {
    const char* key;
    const char* valueName;
    const char* value;
};

constexpr RegistryRow kScript[] = {
    {"Tollane.FileTransfer.7", nullptr, "Tollane File Transfer Control 7.2"},
    {"Tollane.FileTransfer.7\\CLSID", nullptr, "%CLSID%"},
    {"Tollane.FileTransfer", nullptr, "Tollane File Transfer Control 7.2"},
    {"Tollane.FileTransfer\\CLSID", nullptr, "%CLSID%"},
    {"Tollane.FileTransfer\\CurVer", nullptr, "Tollane.FileTransfer.7"},
    {"CLSID\\%CLSID%", nullptr, "Tollane File Transfer Control 7.2"},
    {"CLSID\\%CLSID%\\ProgID", nullptr, "Tollane.FileTransfer.7"},
    {"CLSID\\%CLSID%\\VersionIndependentProgID", nullptr, "Tollane.FileTransfer"},
    {"CLSID\\%CLSID%\\Programmable", nullptr, nullptr},
    {"CLSID\\%CLSID%\\Control", nullptr, nullptr},
    {"CLSID\\%CLSID%\\Insertable", nullptr, nullptr},
    {"CLSID\\%CLSID%\\InprocServer32", nullptr, "%MODULE%"},
    {"CLSID\\%CLSID%\\InprocServer32", "ThreadingModel", "Apartment"},
    {"CLSID\\%CLSID%\\ToolboxBitmap32", nullptr, "%MODULE%, 202"},
    {"CLSID\\%CLSID%\\MiscStatus", nullptr, "0"},
    {"CLSID\\%CLSID%\\MiscStatus\\1", nullptr, "132497"},
    {"CLSID\\%CLSID%\\TypeLib", nullptr, "%LIBID%"},
    {"CLSID\\%CLSID%\\Version", nullptr, "1.0"},
    {"TypeLib\\%LIBID%\\1.0", nullptr, "Tollane File Transfer Control 7.2"},
    {"TypeLib\\%LIBID%\\1.0\\0\\linux", nullptr, "%MODULE%"},
    {"TypeLib\\%LIBID%\\1.0\\FLAGS", nullptr, "0"},
    {"TypeLib\\%LIBID%\\1.0\\HELPDIR", nullptr, "%FOLDER%"},
    {"Interface\\%IID%", nullptr, "IFileTransfer"},
    {"Interface\\%IID%\\TypeLib", nullptr, "%LIBID%"},
    {"Interface\\%IID%\\TypeLib", "Version", "1.0"},
    {"Interface\\%EVENTS%", nullptr, "_IFileTransferEvents"},
    {"Interface\\%EVENTS%\\TypeLib", nullptr, "%LIBID%"},
    {"Interface\\%EVENTS%\\TypeLib", "Version", "1.0"},
};

// What unregistration removes, each whole; "CLSID", "TypeLib" and "Interface"
// themselves always stay.
constexpr const char* kRemovedKeys[] = {
    "CLSID\\%CLSID%",   "Tollane.FileTransfer", "Tollane.FileTransfer.7",
    "TypeLib\\%LIBID%", "Interface\\%IID%",     "Interface\\%EVENTS%",
};

std::string Expand(std::string text) {
    const std::string module =
        platform::ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer));
    const std::pair<const char*, std::string> names[] = {
        {"%CLSID%", GuidToString(CLSID_FileTransfer)},
        {"%LIBID%", GuidToString(LIBID_FileTransferCtl)},
        {"%IID%", GuidToString(IID_IFileTransfer)},
        {"%EVENTS%", GuidToString(DIID__IFileTransferEvents)},
        {"%MODULE%", module},
        {"%FOLDER%", module.substr(0, module.rfind('/') + 1)},
    };
    for (const auto& [name, value] : names) {
        for (std::size_t at = text.find(name); at != std::string::npos;
             at = text.find(name, at + value.size()))
            text.replace(at, std::string_view(name).size(), value);
    }
    return text;
}

HRESULT FromRegistryResult(LONG code) {
    if (code == ERROR_SUCCESS) return S_OK;
    return MakeHResult(0x80070000u | (static_cast<DWORD>(code) & 0xFFFFu));
}

HRESULT WriteRow(const RegistryRow& row) {
    HKEY key = nullptr;
    const std::string path = Expand(row.key);
    LONG r = RegCreateKeyEx(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_WRITE, nullptr, &key, nullptr);
    if (r == ERROR_SUCCESS && row.value) {
        const std::string value = Expand(row.value);
        r = RegSetValueEx(key, row.valueName, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
    }
    if (key) RegCloseKey(key);
    return FromRegistryResult(r);
}

HRESULT Unregister() {
    for (const char* key : kRemovedKeys) {
        const LONG r = RegDeleteTree(HKEY_CLASSES_ROOT, Expand(key).c_str());
        if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND) return FromRegistryResult(r);
    }
    return S_OK;
}

}  // namespace

HRESULT DllRegisterServer() {
    for (const RegistryRow& row : kScript) {
        if (HRESULT hr = WriteRow(row); FAILED(hr)) {
            Unregister();  // no half-made registration stays behind
            return hr;
        }
    }
    return S_OK;
}

HRESULT DllUnregisterServer() {
    return Unregister();
}

HRESULT DllGetTypeLib(ITypeLib** library) {
    return CreateControlTypeLib(library);
}

HRESULT DllInstall(BOOL install, LPCOLESTR commandLine) {
    const std::string where = commandLine ? Utf16ToUtf8(commandLine) : "";
    const bool user = EqualsIgnoringCase(where, "user");
    if (!user && !where.empty() && !EqualsIgnoringCase(where, "machine")) return E_INVALIDARG;
    if (!user) return install ? DllRegisterServer() : DllUnregisterServer();
    HKEY classes = nullptr;
    LONG r = RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Classes", 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &classes, nullptr);
    if (r == ERROR_SUCCESS) r = RegOverridePredefKey(HKEY_CLASSES_ROOT, classes);
    if (r != ERROR_SUCCESS) {
        if (classes) RegCloseKey(classes);
        return FromRegistryResult(r);
    }
    const HRESULT hr = install ? DllRegisterServer() : DllUnregisterServer();
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    RegCloseKey(classes);
    return hr;
}
