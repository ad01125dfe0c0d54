#include "platform/com.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/messages.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

// A registry failure as a creation result: a damaged or unreadable registry
// file is not the same as a class that is not there.
HRESULT ReadFailure(LONG code, HRESULT notFound) {
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_BADKEY) return notFound;
    return REGDB_E_READREGDB;
}

constexpr int kMaxCurVerHops = 4;

}  // namespace

namespace {

std::atomic<MessageBoxHandler> g_messageBox{nullptr};
std::atomic<void*> g_messageBoxContext{nullptr};

// A module loaded for a class has its own copy of this code: the host's
// handler is handed on to it, so that its controls' message boxes reach the host.
void HandOnMessageBoxHandler(void* module) {
    auto set = reinterpret_cast<void (*)(MessageBoxHandler, void*)>(
        platform::ModuleSymbol(module, "SetMessageBoxHandler"));
    if (set && set != &SetMessageBoxHandler) set(g_messageBox.load(), g_messageBoxContext.load());
}

}  // namespace

void SetMessageBoxHandler(MessageBoxHandler handler, void* context) {
    g_messageBoxContext.store(context);
    g_messageBox.store(handler);
    for (void* module : platform::LoadedModules())
        HandOnMessageBoxHandler(module);
}

int MessageBoxW(void*, LPCOLESTR text, LPCOLESTR caption, UINT type) {
    const MessageBoxHandler handler = g_messageBox.load();
    if (!handler) return IDOK;
    return handler(g_messageBoxContext.load(), text ? text : u"", caption ? caption : u"", type);
}

void* CoTaskMemAlloc(size_t size) {
    return std::malloc(size ? size : 1);
}

void CoTaskMemFree(void* memory) {
    std::free(memory);
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
    if (!clsid) return E_INVALIDARG;
    *clsid = GUID_NULL;
    const std::string name = text ? Utf16ToUtf8(text) : "";
    if (name.empty() || name.front() != '{') return CO_E_CLASSSTRING;
    return GuidFromString(name, clsid) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
    if (!clsid) return E_INVALIDARG;
    *clsid = GUID_NULL;
    if (!progId || !*progId) return CO_E_CLASSSTRING;
    std::string name = Utf16ToUtf8(progId);
    // A version-independent ProgID names its current version; a few steps at most.
    for (int hop = 0; hop <= kMaxCurVerHops; ++hop) {
        std::string current;
        const LONG r = RegistryReadText(HKEY_CLASSES_ROOT, name + "\\CurVer", "", &current);
        if (r == ERROR_SUCCESS && !current.empty() && !EqualsIgnoringCase(current, name)) {
            name = std::move(current);
            continue;
        }
        if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND && r != ERROR_BADKEY)
            return ReadFailure(r, CO_E_CLASSSTRING);
        std::string text;
        if (LONG read = RegistryReadText(HKEY_CLASSES_ROOT, name + "\\CLSID", "", &text);
            read != ERROR_SUCCESS)
            return ReadFailure(read, CO_E_CLASSSTRING);
        return GuidFromString(text, clsid) ? S_OK : CO_E_CLASSSTRING;
    }
    return CO_E_CLASSSTRING;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) {
    if (!progId) return E_INVALIDARG;
    *progId = nullptr;
    std::string text;
    if (LONG r = RegistryReadText(HKEY_CLASSES_ROOT, "CLSID\\" + GuidToString(clsid) + "\\ProgID",
                                  "", &text);
        r != ERROR_SUCCESS)
        return ReadFailure(r, REGDB_E_CLASSNOTREG);
    const std::u16string wide = Utf8ToUtf16(text);
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
    if (!out) return E_OUTOFMEMORY;
    std::memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(OLECHAR));
    *progId = out;
    return S_OK;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* reserved, REFIID iid, void** object) {
    if (!object) return E_INVALIDARG;
    *object = nullptr;
    if (reserved) return E_INVALIDARG;
    if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    std::string path;
    if (LONG r = RegistryReadText(HKEY_CLASSES_ROOT,
                                  "CLSID\\" + GuidToString(clsid) + "\\InprocServer32", "", &path);
        r != ERROR_SUCCESS)
        return ReadFailure(r, REGDB_E_CLASSNOTREG);
    if (path.empty()) return REGDB_E_CLASSNOTREG;
    void* module = platform::LoadModule(path, nullptr);
    if (!module) return CO_E_DLLNOTFOUND;
    if (g_messageBox.load()) HandOnMessageBoxHandler(module);
    auto entry = reinterpret_cast<DllGetClassObjectFunction>(
        platform::ModuleSymbol(module, "DllGetClassObject"));
    if (!entry) return CO_E_ERRORINDLL;
    return entry(clsid, iid, object);
}

HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID, ITypeLib** library) {
    if (!library) return E_INVALIDARG;
    *library = nullptr;
    const std::string key = "TypeLib\\" + GuidToString(libid) + "\\" + std::to_string(major) + '.' +
                            std::to_string(minor) + "\\0\\linux";
    std::string path;
    if (LONG r = RegistryReadText(HKEY_CLASSES_ROOT, key, "", &path); r != ERROR_SUCCESS)
        return ReadFailure(r, TYPE_E_LIBNOTREGISTERED);
    void* module = path.empty() ? nullptr : platform::LoadModule(path, nullptr);
    using DllGetTypeLibFunction = HRESULT (*)(ITypeLib**);
    auto entry =
        reinterpret_cast<DllGetTypeLibFunction>(platform::ModuleSymbol(module, "DllGetTypeLib"));
    return entry ? entry(library) : TYPE_E_CANTLOADLIBRARY;
}

UINT DllPumpMessages() {
    UINT dispatched = 0;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        DispatchMessageA(&message);
        ++dispatched;
    }
    return dispatched;
}

int DllMessageWaitFd() {
    return GetThreadMessageWaitFd();
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                         void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer && !(iid == IID_IUnknown)) return E_INVALIDARG;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory,
                                  reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(outer, iid, object);
    factory->Release();
    return hr;
}
