/* Creation of registered classes by name, as a program does on Windows: a
 * ProgID becomes a class identifier through the registry (following CurVer),
 * the class identifier's InprocServer32 names the module, the module is loaded
 * (once per path, and kept) and its DllGetClassObject hands out the class
 * factory. Usable from C11 and C++: in C the interfaces are structs with a
 * vtable pointer (lpVtbl) in the Windows layout, and the declarations below
 * give the automation types a C program needs to drive a control through
 * IDispatch. Results: REGDB_E_CLASSNOTREG for a class identifier with no
 * module registered, CO_E_CLASSSTRING for an unknown ProgID, CO_E_DLLNOTFOUND
 * when the registered module does not load and CO_E_ERRORINDLL when it has no
 * DllGetClassObject (docs/hosting.md). */
#pragma once

#include "platform/api.h"

#ifdef __cplusplus
#include "platform/automation.h"
#include "platform/dispatch.h"
#include "platform/typelib.h"
#include "platform/unknown.h"

#define FT_REFGUID_ARG REFGUID
#else
#include <stdint.h>

typedef int32_t HRESULT;
typedef int32_t DISPID;
typedef uint32_t ULONG;
typedef uint32_t LCID;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
typedef int64_t LONGLONG;
typedef double DATE;
typedef uint16_t OLECHAR;
typedef OLECHAR* BSTR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;

typedef struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
} GUID;
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID* REFGUID;
typedef const IID* REFIID;
typedef const CLSID* REFCLSID;
#define FT_REFGUID_ARG const GUID*

#define SUCCEEDED(hr) ((HRESULT)(hr) >= 0)
#define FAILED(hr) ((HRESULT)(hr) < 0)
#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)
#define LOCALE_USER_DEFAULT 0x0400
#define DISPATCH_METHOD 1
#define DISPATCH_PROPERTYGET 2
#define DISPATCH_PROPERTYPUT 4
#define DISPID_PROPERTYPUT (-3)

enum {
    VT_EMPTY = 0,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_UNKNOWN = 13,
    VT_BYREF = 0x4000
};

typedef struct IUnknown IUnknown;
typedef struct IDispatch IDispatch;
typedef struct IClassFactory IClassFactory;
typedef struct ITypeLib ITypeLib; /* described in C++ only (platform/typelib.h) */

/* The first members of the C++ VARIANT; the union has the Windows size. */
typedef struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        SHORT iVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        LONG* plVal;
        BSTR* pbstrVal;
        void* byref;
        struct {
            void* pvRecord;
            void* pRecInfo;
        } brecVal;
    };
} VARIANT;
typedef VARIANT VARIANTARG;

typedef struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
} DISPPARAMS;

typedef struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(struct EXCEPINFO*);
    HRESULT scode;
} EXCEPINFO;

typedef struct IUnknownVtbl {
    HRESULT (*QueryInterface)(IUnknown* self, REFIID iid, void** object);
    ULONG (*AddRef)(IUnknown* self);
    ULONG (*Release)(IUnknown* self);
} IUnknownVtbl;
struct IUnknown {
    const IUnknownVtbl* lpVtbl;
};

typedef struct IDispatchVtbl {
    HRESULT (*QueryInterface)(IDispatch* self, REFIID iid, void** object);
    ULONG (*AddRef)(IDispatch* self);
    ULONG (*Release)(IDispatch* self);
    HRESULT (*GetTypeInfoCount)(IDispatch* self, UINT* count);
    HRESULT (*GetTypeInfo)(IDispatch* self, UINT index, LCID locale, void** info);
    HRESULT(*GetIDsOfNames)
    (IDispatch* self, REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* dispids);
    HRESULT(*Invoke)
    (IDispatch* self, DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
     VARIANT* result, EXCEPINFO* exception, UINT* argumentError);
} IDispatchVtbl;
struct IDispatch {
    const IDispatchVtbl* lpVtbl;
};

typedef struct IClassFactoryVtbl {
    HRESULT (*QueryInterface)(IClassFactory* self, REFIID iid, void** object);
    ULONG (*AddRef)(IClassFactory* self);
    ULONG (*Release)(IClassFactory* self);
    HRESULT (*CreateInstance)(IClassFactory* self, IUnknown* outer, REFIID iid, void** object);
    HRESULT (*LockServer)(IClassFactory* self, BOOL lock);
} IClassFactoryVtbl;
struct IClassFactory {
    const IClassFactoryVtbl* lpVtbl;
};

/* Identifiers a C program needs besides its class's own. */
static const IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
static const IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const IID IID_IDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
#endif

FT_EXTERN_C_BEGIN

/* The automation strings and variants, with C names (platform/automation.h
 * declares the same functions for C++). */
FT_API BSTR SysAllocString(const OLECHAR* text);
FT_API BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
FT_API void SysFreeString(BSTR bstr);
FT_API UINT SysStringLen(BSTR bstr);
FT_API void VariantInit(VARIANTARG* v);
FT_API HRESULT VariantClear(VARIANTARG* v);

/* Memory that creation calls hand out (ProgIDFromCLSID's text). */
FT_API void* CoTaskMemAlloc(size_t size);
FT_API void CoTaskMemFree(void* memory);

/* A class identifier written "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
 * CO_E_CLASSSTRING for any other text. */
FT_API HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);
/* The class identifier of a ProgID; a version-independent ProgID follows its
 * CurVer key. */
FT_API HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);
/* The ProgID a class registered; *progId is freed with CoTaskMemFree. */
FT_API HRESULT ProgIDFromCLSID(FT_REFGUID_ARG clsid, LPOLESTR* progId);
/* The class factory (or other interface) of a registered in-process class.
 * context must include CLSCTX_INPROC_SERVER; reserved must be null. */
FT_API HRESULT CoGetClassObject(FT_REFGUID_ARG clsid, DWORD context, void* reserved,
                                FT_REFGUID_ARG iid, void** object);
/* A new object of a registered class, through its class factory; outer is the
 * controlling unknown when the object is aggregated (iid must be IID_IUnknown then). */
FT_API HRESULT CoCreateInstance(FT_REFGUID_ARG clsid, IUnknown* outer, DWORD context,
                                FT_REFGUID_ARG iid, void** object);

/* The type library registered as TypeLib\{libid}\MAJOR.MINOR: the module named
 * by its "0\linux" key (the locale is not looked at: one library serves all)
 * is loaded as CoGetClassObject loads one and its DllGetTypeLib hands the
 * library out. TYPE_E_LIBNOTREGISTERED when the version is not registered,
 * TYPE_E_CANTLOADLIBRARY when the module does not load or has no such entry. */
FT_API HRESULT LoadRegTypeLib(FT_REFGUID_ARG libid, WORD major, WORD minor, LCID locale,
                              ITypeLib** library);

/* The calling thread's message queue of this module's copy of the platform
 * layer. A module loaded by CoGetClassObject has a queue of its own, where its
 * controls' windows get their messages; a host that waits (WScript.Sleep)
 * serves those too (docs/hosting.md). DllPumpMessages dispatches what waits
 * there, leaving a quit request in place, and returns how many it dispatched;
 * DllMessageWaitFd is a descriptor that is readable while something waits. */
FT_API UINT DllPumpMessages(void);
FT_API int DllMessageWaitFd(void);

/* The host's message boxes. A control that shows one (the about box) calls
 * MessageBoxW; the handler the host set gets the text (lines separated by
 * '\n'), the caption and the button flags, and returns the button chosen.
 * Without a handler nothing is shown and MessageBoxW returns IDOK. */
typedef int (*MessageBoxHandler)(void* context, LPCOLESTR text, LPCOLESTR caption, UINT type);
FT_API void SetMessageBoxHandler(MessageBoxHandler handler, void* context);
FT_API int MessageBoxW(void* owner, LPCOLESTR text, LPCOLESTR caption, UINT type);

FT_EXTERN_C_END

#define MB_OK 0x0
#define IDOK 1

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_ALL 0x17

#ifdef __cplusplus
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154);
constexpr HRESULT REGDB_E_READREGDB = MakeHResult(0x80040150);
constexpr HRESULT REGDB_E_WRITEREGDB = MakeHResult(0x80040151);
constexpr HRESULT CO_E_DLLNOTFOUND = MakeHResult(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = MakeHResult(0x800401F9);
constexpr HRESULT SELFREG_E_CLASS = MakeHResult(0x80040201);

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
    virtual HRESULT LockServer(BOOL lock) = 0;
};
inline constexpr IID IID_IClassFactory =
    MakeGuid(0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
FT_INTERFACE_IID(IClassFactory, IID_IClassFactory);

// The signatures of a module's entry points, for programs that load one.
using DllGetClassObjectFunction = HRESULT (*)(REFCLSID, REFIID, void**);
using DllCanUnloadNowFunction = HRESULT (*)();
using DllRegisterServerFunction = HRESULT (*)();
using DllInstallFunction = HRESULT (*)(BOOL, LPCOLESTR);
#else
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154)
#define REGDB_E_READREGDB ((HRESULT)0x80040150)
#define REGDB_E_WRITEREGDB ((HRESULT)0x80040151)
#define CO_E_CLASSSTRING ((HRESULT)0x800401F3)
#define CO_E_DLLNOTFOUND ((HRESULT)0x800401F8)
#define CO_E_ERRORINDLL ((HRESULT)0x800401F9)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#endif
