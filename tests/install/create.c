/* A C11 program that creates the control by name, as any program that knows
 * only the registry does: the ProgID becomes the class identifier, the
 * registered module is loaded and its class factory makes the control. It
 * downloads a file through IDispatch, reads LastError, and checks that the
 * control's code is the registered module's, and that LoadRegTypeLib finds
 * the registered type library.
 * Usage: create PROGID MODULE HOST PORT USER PASSWORD REMOTE LOCAL
 *        create --absent PROGID CLSID   (creation must fail: not registered) */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <platform/com.h>

/* Text arguments come as UTF-8 and go out as BSTRs (ASCII is enough here). */
static BSTR Text(const char* text) {
    OLECHAR wide[512];
    size_t n = strlen(text);
    if (n >= 512) n = 511;
    for (size_t i = 0; i < n; ++i)
        wide[i] = (OLECHAR)(unsigned char)text[i];
    return SysAllocStringLen(wide, (UINT)n);
}

static DISPID IdOf(IDispatch* control, const char* name) {
    BSTR text = Text(name);
    DISPID id = -1;
    HRESULT hr =
        control->lpVtbl->GetIDsOfNames(control, &IID_NULL, &text, 1, LOCALE_USER_DEFAULT, &id);
    SysFreeString(text);
    if (FAILED(hr)) fprintf(stderr, "create: no member %s (0x%08X)\n", name, (unsigned)hr);
    return id;
}

/* Calls a method with text and number arguments in written order (the last
 * ones first in rgvarg, as IDispatch wants them). */
static HRESULT Call(IDispatch* control, const char* name, VARIANT* args, UINT count) {
    VARIANT reversed[8];
    for (UINT i = 0; i < count; ++i)
        reversed[count - 1 - i] = args[i];
    DISPPARAMS params = {reversed, NULL, count, 0};
    VARIANT result;
    VariantInit(&result);
    HRESULT hr =
        control->lpVtbl->Invoke(control, IdOf(control, name), &IID_NULL, LOCALE_USER_DEFAULT,
                                DISPATCH_METHOD, &params, &result, NULL, NULL);
    VariantClear(&result);
    for (UINT i = 0; i < count; ++i)
        VariantClear(&args[i]);
    return hr;
}

static LONG LastError(IDispatch* control) {
    DISPPARAMS none = {NULL, NULL, 0, 0};
    VARIANT value;
    VariantInit(&value);
    HRESULT hr =
        control->lpVtbl->Invoke(control, IdOf(control, "LastError"), &IID_NULL, LOCALE_USER_DEFAULT,
                                DISPATCH_PROPERTYGET, &none, &value, NULL, NULL);
    if (FAILED(hr) || value.vt != VT_I4) return -1;
    return value.lVal;
}

static VARIANT TextArg(const char* text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = Text(text);
    return v;
}

static VARIANT LongArg(LONG number) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = number;
    return v;
}

static int Absent(const char* progId, const char* clsidText) {
    CLSID clsid;
    BSTR name = Text(progId);
    HRESULT hr = CLSIDFromProgID(name, &clsid);
    SysFreeString(name);
    if (hr != CO_E_CLASSSTRING) {
        fprintf(stderr, "create: CLSIDFromProgID gave 0x%08X, not CO_E_CLASSSTRING\n",
                (unsigned)hr);
        return 1;
    }
    BSTR text = Text(clsidText);
    hr = CLSIDFromString(text, &clsid);
    SysFreeString(text);
    if (FAILED(hr)) return 1;
    void* object = NULL;
    hr = CoCreateInstance(&clsid, NULL, CLSCTX_INPROC_SERVER, &IID_IDispatch, &object);
    if (hr != REGDB_E_CLASSNOTREG || object) {
        fprintf(stderr, "create: CoCreateInstance gave 0x%08X, not REGDB_E_CLASSNOTREG\n",
                (unsigned)hr);
        return 1;
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "--absent") == 0) return Absent(argv[2], argv[3]);
    if (argc != 9) {
        fprintf(stderr, "usage: create PROGID MODULE HOST PORT USER PASSWORD REMOTE LOCAL\n");
        return 2;
    }
    CLSID clsid;
    BSTR name = Text(argv[1]);
    HRESULT hr = CLSIDFromProgID(name, &clsid);
    SysFreeString(name);
    if (FAILED(hr)) {
        fprintf(stderr, "create: CLSIDFromProgID failed: 0x%08X\n", (unsigned)hr);
        return 1;
    }
    IDispatch* control = NULL;
    hr = CoCreateInstance(&clsid, NULL, CLSCTX_INPROC_SERVER, &IID_IDispatch, (void**)&control);
    if (FAILED(hr)) {
        fprintf(stderr, "create: CoCreateInstance failed: 0x%08X\n", (unsigned)hr);
        return 1;
    }

    /* The registered type library comes from the same module; no other version is. */
    GUID libid;
    BSTR libText = Text("{52F93070-00BF-4956-82C6-DC613B6DFC2E}");
    hr = CLSIDFromString(libText, &libid);
    SysFreeString(libText);
    ITypeLib* library = NULL;
    if (FAILED(hr) || FAILED(LoadRegTypeLib(&libid, 1, 0, 0, &library)) || !library) {
        fprintf(stderr, "create: LoadRegTypeLib did not give the registered library\n");
        return 1;
    }
    IUnknown* libraryUnknown = (IUnknown*)(void*)library;
    libraryUnknown->lpVtbl->Release(libraryUnknown);
    if (LoadRegTypeLib(&libid, 2, 0, 0, &library) != (HRESULT)0x8002801D) {
        fprintf(stderr, "create: LoadRegTypeLib found a version never registered\n");
        return 1;
    }

    /* The code behind the interface is the registered module's. */
    Dl_info info;
    char where[PATH_MAX], expected[PATH_MAX];
    void* code;
    memcpy(&code, &control->lpVtbl->Invoke, sizeof code); /* ISO C has no cast for it */
    if (!dladdr(code, &info) || !realpath(info.dli_fname, where) || !realpath(argv[2], expected) ||
        strcmp(where, expected) != 0) {
        fprintf(stderr, "create: the control's code is not in %s\n", argv[2]);
        return 1;
    }

    VARIANT connect[4] = {TextArg(argv[3]), LongArg(atoi(argv[4])), TextArg(argv[5]),
                          TextArg(argv[6])};
    if (FAILED(Call(control, "Connect", connect, 4)) || LastError(control) != 0) {
        fprintf(stderr, "create: Connect failed: LastError %ld\n", (long)LastError(control));
        return 1;
    }
    VARIANT get[2] = {TextArg(argv[8]), TextArg(argv[7])};
    if (FAILED(Call(control, "GetFile", get, 2)) || LastError(control) != 0) {
        fprintf(stderr, "create: GetFile failed: LastError %ld\n", (long)LastError(control));
        return 1;
    }
    /* A file the server does not have leaves its error number in LastError. */
    VARIANT missing[2] = {TextArg(argv[8]), TextArg("no-such-file.txt")};
    if (FAILED(Call(control, "GetFile", missing, 2)) || LastError(control) <= 0) {
        fprintf(stderr, "create: a missing file gave LastError %ld\n", (long)LastError(control));
        return 1;
    }
    Call(control, "Disconnect", NULL, 0);
    control->lpVtbl->Release(control);
    return 0;
}
