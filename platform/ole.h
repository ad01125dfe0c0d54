// What a container asks of an in-process control besides its own interface:
// error information support, safety options, and persistence through streams
// and property bags, with an in-memory stream and property bag of our own.
// The interfaces keep the vtable order of the Windows ones.
#pragma once

#include <cstdint>

#include "platform/automation.h"
#include "platform/dispatch.h"
#include "platform/messages.h"
#include "platform/unknown.h"
#include "platform/wintypes.h"

struct ISupportErrorInfo : IUnknown {
    // S_OK when calls of that interface may leave error information, else S_FALSE.
    virtual HRESULT InterfaceSupportsErrorInfo(REFIID iid) = 0;
};
FT_INTERFACE_IID(ISupportErrorInfo, IID_ISupportErrorInfo);

constexpr DWORD INTERFACESAFE_FOR_UNTRUSTED_CALLER = 1;
constexpr DWORD INTERFACESAFE_FOR_UNTRUSTED_DATA = 2;

struct IObjectSafety : IUnknown {
    virtual HRESULT GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) = 0;
    virtual HRESULT SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) = 0;
};
inline constexpr IID IID_IObjectSafety =
    MakeGuid(0xCB5BDC81, 0x93C1, 0x11CF, 0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64);
FT_INTERFACE_IID(IObjectSafety, IID_IObjectSafety);

// ---- Streams ----------------------------------------------------------------------

union LARGE_INTEGER {
    LONGLONG QuadPart;
};
union ULARGE_INTEGER {
    ULONGLONG QuadPart;
};
constexpr DWORD STREAM_SEEK_SET = 0;
constexpr DWORD STREAM_SEEK_CUR = 1;
constexpr DWORD STREAM_SEEK_END = 2;
constexpr HRESULT STG_E_INVALIDFUNCTION = MakeHResult(0x80030001);
constexpr HRESULT STG_E_READFAULT = MakeHResult(0x8003001E);
constexpr HRESULT STG_E_MEDIUMFULL = MakeHResult(0x80030070);

struct ISequentialStream : IUnknown {
    virtual HRESULT Read(void* data, ULONG size, ULONG* read) = 0;
    virtual HRESULT Write(const void* data, ULONG size, ULONG* written) = 0;
};
struct STATSTG;
// A stream of bytes with a position. Methods nothing here needs (CopyTo,
// Commit, Revert, the region locks, Stat, Clone) answer E_NOTIMPL.
struct IStream : ISequentialStream {
    virtual HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) = 0;
    virtual HRESULT SetSize(ULARGE_INTEGER size) = 0;
    virtual HRESULT CopyTo(IStream* to, ULARGE_INTEGER size, ULARGE_INTEGER* read,
                           ULARGE_INTEGER* written) = 0;
    virtual HRESULT Commit(DWORD flags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD type) = 0;
    virtual HRESULT UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD type) = 0;
    virtual HRESULT Stat(STATSTG* stat, DWORD flags) = 0;
    virtual HRESULT Clone(IStream** copy) = 0;
};
inline constexpr IID IID_ISequentialStream =
    MakeGuid(0x0C733A30, 0x2A1C, 0x11CE, 0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D);
inline constexpr IID IID_IStream =
    MakeGuid(0x0000000C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
FT_INTERFACE_IID(ISequentialStream, IID_ISequentialStream);
FT_INTERFACE_IID(IStream, IID_IStream);

// A new stream in memory, empty, at position 0. The memory handle must be null
// here (E_INVALIDARG otherwise); the stream always owns its bytes.
HRESULT CreateStreamOnHGlobal(HANDLE memory, BOOL deleteOnRelease, IStream** stream);

// ---- Storages -----------------------------------------------------------------------

constexpr DWORD STGM_READ = 0x0;
constexpr DWORD STGM_WRITE = 0x1;
constexpr DWORD STGM_READWRITE = 0x2;
constexpr DWORD STGM_SHARE_EXCLUSIVE = 0x10;
constexpr DWORD STGM_CREATE = 0x1000;
constexpr HRESULT STG_E_FILENOTFOUND = MakeHResult(0x80030002);
constexpr HRESULT STG_E_INVALIDPOINTER = MakeHResult(0x80030009);
constexpr HRESULT STG_E_FILEALREADYEXISTS = MakeHResult(0x80030050);
constexpr HRESULT STG_E_INVALIDNAME = MakeHResult(0x800300FC);

using SNB = OLECHAR**;
struct IEnumSTATSTG;
// A folder of named streams (and storages). Methods nothing here needs (the
// nested storages, copies and moves, enumeration, times, class and state
// bits, Stat) answer E_NOTIMPL.
struct IStorage : IUnknown {
    virtual HRESULT CreateStream(const OLECHAR* name, DWORD mode, DWORD reserved1, DWORD reserved2,
                                 IStream** stream) = 0;
    virtual HRESULT OpenStream(const OLECHAR* name, void* reserved1, DWORD mode, DWORD reserved2,
                               IStream** stream) = 0;
    virtual HRESULT CreateStorage(const OLECHAR* name, DWORD mode, DWORD reserved1, DWORD reserved2,
                                  IStorage** storage) = 0;
    virtual HRESULT OpenStorage(const OLECHAR* name, IStorage* priority, DWORD mode, SNB exclude,
                                DWORD reserved, IStorage** storage) = 0;
    virtual HRESULT CopyTo(DWORD excludeCount, const IID* exclude, SNB excludeNames,
                           IStorage* to) = 0;
    virtual HRESULT MoveElementTo(const OLECHAR* name, IStorage* to, const OLECHAR* newName,
                                  DWORD flags) = 0;
    virtual HRESULT Commit(DWORD flags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT EnumElements(DWORD reserved1, void* reserved2, DWORD reserved3,
                                 IEnumSTATSTG** elements) = 0;
    virtual HRESULT DestroyElement(const OLECHAR* name) = 0;
    virtual HRESULT RenameElement(const OLECHAR* oldName, const OLECHAR* newName) = 0;
    virtual HRESULT SetElementTimes(const OLECHAR* name, const FILETIME* created,
                                    const FILETIME* accessed, const FILETIME* modified) = 0;
    virtual HRESULT SetClass(REFCLSID clsid) = 0;
    virtual HRESULT SetStateBits(DWORD bits, DWORD mask) = 0;
    virtual HRESULT Stat(STATSTG* stat, DWORD flags) = 0;
};
inline constexpr IID IID_IStorage =
    MakeGuid(0x0000000B, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
FT_INTERFACE_IID(IStorage, IID_IStorage);

// A new empty storage in memory: streams by name (1 to 31 characters, case
// ignored; STG_E_INVALIDNAME otherwise). CreateStream replaces a stream only
// with STGM_CREATE (else STG_E_FILEALREADYEXISTS); OpenStream of a missing name
// gives STG_E_FILENOTFOUND. An opened stream starts at position 0.
HRESULT CreateMemoryStorage(IStorage** storage);

// ---- Property bags ------------------------------------------------------------------

struct IErrorLog : IUnknown {
    virtual HRESULT AddError(LPCOLESTR property, EXCEPINFO* error) = 0;
};
struct IPropertyBag : IUnknown {
    // value->vt is the type wanted (VT_EMPTY: as stored); E_INVALIDARG for a
    // name the bag does not hold.
    virtual HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) = 0;
    virtual HRESULT Write(LPCOLESTR name, VARIANT* value) = 0;
};
inline constexpr IID IID_IPropertyBag =
    MakeGuid(0x55272A00, 0x42CB, 0x11CE, 0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51);
FT_INTERFACE_IID(IPropertyBag, IID_IPropertyBag);

// A new empty property bag in memory (values kept as written, names ignoring case).
HRESULT CreateMemoryPropertyBag(IPropertyBag** bag);

// ---- Persistence --------------------------------------------------------------------

struct IPersist : IUnknown {
    virtual HRESULT GetClassID(CLSID* clsid) = 0;
};
struct IPersistStreamInit : IPersist {
    virtual HRESULT IsDirty() = 0;
    virtual HRESULT Load(IStream* stream) = 0;
    virtual HRESULT Save(IStream* stream, BOOL clearDirty) = 0;
    virtual HRESULT GetSizeMax(ULARGE_INTEGER* size) = 0;
    virtual HRESULT InitNew() = 0;
};
struct IPersistPropertyBag : IPersist {
    virtual HRESULT InitNew() = 0;
    virtual HRESULT Load(IPropertyBag* bag, IErrorLog* log) = 0;
    virtual HRESULT Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) = 0;
};
struct IPersistStorage : IPersist {
    virtual HRESULT IsDirty() = 0;
    virtual HRESULT InitNew(IStorage* storage) = 0;
    virtual HRESULT Load(IStorage* storage) = 0;
    virtual HRESULT Save(IStorage* storage, BOOL sameAsLoad) = 0;
    virtual HRESULT SaveCompleted(IStorage* storage) = 0;
    virtual HRESULT HandsOffStorage() = 0;
};
inline constexpr IID IID_IPersistStorage =
    MakeGuid(0x0000010A, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
FT_INTERFACE_IID(IPersistStorage, IID_IPersistStorage);
constexpr HRESULT CO_E_ALREADYINITIALIZED = MakeHResult(0x800401F1);
inline constexpr IID IID_IPersist =
    MakeGuid(0x0000010C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
inline constexpr IID IID_IPersistStreamInit =
    MakeGuid(0x7FD52380, 0x4E07, 0x101B, 0xAE, 0x2D, 0x08, 0x00, 0x2B, 0x2E, 0xC7, 0x13);
inline constexpr IID IID_IPersistPropertyBag =
    MakeGuid(0x37D84F60, 0x42CB, 0x11CE, 0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51);
FT_INTERFACE_IID(IPersistStreamInit, IID_IPersistStreamInit);
FT_INTERFACE_IID(IPersistPropertyBag, IID_IPersistPropertyBag);

// The screen's pixels per logical inch (both directions) and the rounded
// multiply-divide of the pixel to HIMETRIC conversion.
constexpr int kLogicalPixelsPerInch = 96;
constexpr LONG MulDiv(LONG number, LONG numerator, LONG denominator) {
    if (denominator == 0) return -1;
    const std::int64_t product = std::int64_t{number} * numerator;
    const std::int64_t half =
        (product < 0) != (denominator < 0) ? -denominator / 2 : denominator / 2;
    return static_cast<LONG>((product + half) / denominator);
}

// ---- Embedding: the interfaces of an in-place, windowless-capable control ------------
// In the vtable order of the Windows ones. Records and interfaces the control
// only passes along are declared, not described.

struct SIZEL {
    LONG cx;
    LONG cy;
};
using LPSIZEL = SIZEL*;
struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
using RECTL = RECT;
using LPCRECT = const RECT*;
using LPCRECTL = const RECTL*;
using LPRECTL = RECTL*;
using HDC = void*;
using HACCEL = void*;
using HPALETTE = void*;
using OLE_COLOR = DWORD;
struct DVTARGETDEVICE;
struct LOGPALETTE;
struct FORMATETC {
    USHORT cfFormat;
    DVTARGETDEVICE* ptd;
    DWORD dwAspect;
    LONG lindex;
    DWORD tymed;
};
struct STGMEDIUM;
struct DVEXTENTINFO;
struct IMoniker;
struct IOleContainer;
struct IEnumOLEVERB;
struct IEnumSTATDATA;
struct IEnumFORMATETC;
struct IDropTarget;
struct IOleInPlaceUIWindow;

constexpr DWORD DVASPECT_CONTENT = 1;
// The OLE verbs the control answers (every one activates nothing visible).
constexpr LONG OLEIVERB_PRIMARY = 0;
constexpr LONG OLEIVERB_DISCARDUNDOSTATE = -6;
constexpr DWORD VIEWSTATUS_OPAQUE = 1;
constexpr DWORD VIEWSTATUS_SOLIDBKGND = 2;
constexpr DWORD HITRESULT_OUTSIDE = 0;
constexpr DWORD HITRESULT_HIT = 3;
constexpr HRESULT OLE_S_USEREG = 0x00040000;
constexpr HRESULT OLEOBJ_S_INVALIDVERB = 0x00040180;
constexpr HRESULT DATA_S_SAMEFORMATETC = 0x00040130;
constexpr HRESULT OLE_E_ADVISENOTSUPPORTED = MakeHResult(0x80040003);
constexpr HRESULT OLE_E_NOCONNECTION = MakeHResult(0x80040004);
constexpr HRESULT DV_E_FORMATETC = MakeHResult(0x80040064);
constexpr HRESULT DV_E_DVASPECT = MakeHResult(0x8004006B);
constexpr HRESULT OLEOBJ_E_NOVERBS = MakeHResult(0x80040181);

struct IAdviseSink : IUnknown {
    virtual void OnDataChange(FORMATETC* format, STGMEDIUM* medium) = 0;
    virtual void OnViewChange(DWORD aspect, LONG index) = 0;
    virtual void OnRename(IMoniker* moniker) = 0;
    virtual void OnSave() = 0;
    virtual void OnClose() = 0;
};
struct IOleClientSite : IUnknown {
    virtual HRESULT SaveObject() = 0;
    virtual HRESULT GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) = 0;
    virtual HRESULT GetContainer(IOleContainer** container) = 0;
    virtual HRESULT ShowObject() = 0;
    virtual HRESULT OnShowWindow(BOOL show) = 0;
    virtual HRESULT RequestNewObjectLayout() = 0;
};
struct IDataObject;
struct IOleObject : IUnknown {
    virtual HRESULT SetClientSite(IOleClientSite* site) = 0;
    virtual HRESULT GetClientSite(IOleClientSite** site) = 0;
    virtual HRESULT SetHostNames(LPCOLESTR application, LPCOLESTR document) = 0;
    virtual HRESULT Close(DWORD saveOption) = 0;
    virtual HRESULT SetMoniker(DWORD which, IMoniker* moniker) = 0;
    virtual HRESULT GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) = 0;
    virtual HRESULT InitFromData(IDataObject* data, BOOL creation, DWORD reserved) = 0;
    virtual HRESULT GetClipboardData(DWORD reserved, IDataObject** data) = 0;
    virtual HRESULT DoVerb(LONG verb, LPMSG message, IOleClientSite* site, LONG index, HWND parent,
                           LPCRECT position) = 0;
    virtual HRESULT EnumVerbs(IEnumOLEVERB** verbs) = 0;
    virtual HRESULT Update() = 0;
    virtual HRESULT IsUpToDate() = 0;
    virtual HRESULT GetUserClassID(CLSID* clsid) = 0;
    virtual HRESULT GetUserType(DWORD form, LPOLESTR* type) = 0;
    virtual HRESULT SetExtent(DWORD aspect, SIZEL* size) = 0;
    virtual HRESULT GetExtent(DWORD aspect, SIZEL* size) = 0;
    virtual HRESULT Advise(IAdviseSink* sink, DWORD* cookie) = 0;
    virtual HRESULT Unadvise(DWORD cookie) = 0;
    virtual HRESULT EnumAdvise(IEnumSTATDATA** advises) = 0;
    virtual HRESULT GetMiscStatus(DWORD aspect, DWORD* status) = 0;
    virtual HRESULT SetColorScheme(LOGPALETTE* palette) = 0;
};
struct CONTROLINFO {
    ULONG cb;
    HACCEL hAccel;
    USHORT cAccel;
    DWORD dwFlags;
};
struct IOleControl : IUnknown {
    virtual HRESULT GetControlInfo(CONTROLINFO* info) = 0;
    virtual HRESULT OnMnemonic(MSG* message) = 0;
    virtual HRESULT OnAmbientPropertyChange(DISPID dispid) = 0;
    virtual HRESULT FreezeEvents(BOOL freeze) = 0;
};
struct IOleWindow : IUnknown {
    virtual HRESULT GetWindow(HWND* window) = 0;
    virtual HRESULT ContextSensitiveHelp(BOOL enter) = 0;
};
struct IOleInPlaceObject : IOleWindow {
    virtual HRESULT InPlaceDeactivate() = 0;
    virtual HRESULT UIDeactivate() = 0;
    virtual HRESULT SetObjectRects(LPCRECT position, LPCRECT clip) = 0;
    virtual HRESULT ReactivateAndUndo() = 0;
};
struct IOleInPlaceObjectWindowless : IOleInPlaceObject {
    virtual HRESULT OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam,
                                    LRESULT* result) = 0;
    virtual HRESULT GetDropTarget(IDropTarget** target) = 0;
};
struct IOleInPlaceActiveObject : IOleWindow {
    virtual HRESULT TranslateAccelerator(LPMSG message) = 0;
    virtual HRESULT OnFrameWindowActivate(BOOL activate) = 0;
    virtual HRESULT OnDocWindowActivate(BOOL activate) = 0;
    virtual HRESULT ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frame) = 0;
    virtual HRESULT EnableModeless(BOOL enable) = 0;
};
struct IViewObject : IUnknown {
    virtual HRESULT Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device,
                         HDC targetDevice, HDC draw, LPCRECTL bounds, LPCRECTL metafileBounds,
                         BOOL (*keepGoing)(ULONG_PTR), ULONG_PTR keepGoingValue) = 0;
    virtual HRESULT GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device,
                                HDC targetDevice, LOGPALETTE** colors) = 0;
    virtual HRESULT Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freeze) = 0;
    virtual HRESULT Unfreeze(DWORD freeze) = 0;
    virtual HRESULT SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) = 0;
    virtual HRESULT GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) = 0;
};
struct IViewObject2 : IViewObject {
    virtual HRESULT GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, LPSIZEL size) = 0;
};
struct IViewObjectEx : IViewObject2 {
    virtual HRESULT GetRect(DWORD aspect, LPRECTL rect) = 0;
    virtual HRESULT GetViewStatus(DWORD* status) = 0;
    virtual HRESULT QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG closeHint,
                                  DWORD* hit) = 0;
    virtual HRESULT QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT rect, LONG closeHint,
                                 DWORD* hit) = 0;
    virtual HRESULT GetNaturalExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device,
                                     HDC targetDevice, DVEXTENTINFO* info, LPSIZEL size) = 0;
};
struct IDataObject : IUnknown {
    virtual HRESULT GetData(FORMATETC* format, STGMEDIUM* medium) = 0;
    virtual HRESULT GetDataHere(FORMATETC* format, STGMEDIUM* medium) = 0;
    virtual HRESULT QueryGetData(FORMATETC* format) = 0;
    virtual HRESULT GetCanonicalFormatEtc(FORMATETC* format, FORMATETC* canonical) = 0;
    virtual HRESULT SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) = 0;
    virtual HRESULT EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) = 0;
    virtual HRESULT DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink,
                            DWORD* connection) = 0;
    virtual HRESULT DUnadvise(DWORD connection) = 0;
    virtual HRESULT EnumDAdvise(IEnumSTATDATA** advises) = 0;
};
struct QACONTAINER {
    ULONG cbSize;
    IOleClientSite* pClientSite;
    IAdviseSink* pAdviseSink;  // IAdviseSinkEx on Windows, which extends it
    IPropertyNotifySink* pPropertyNotifySink;
    IUnknown* pUnkEventSink;
    DWORD dwAmbientFlags;
    OLE_COLOR colorFore;
    OLE_COLOR colorBack;
    IUnknown* pFont;
    IUnknown* pUndoMgr;
    DWORD dwAppearance;
    LONG lcid;
    HPALETTE hpal;
    IUnknown* pBindHost;
    IUnknown* pOleControlSite;
    IUnknown* pServiceProvider;
};
struct QACONTROL {
    ULONG cbSize;
    DWORD dwMiscStatus;
    DWORD dwViewStatus;
    DWORD dwEventCookie;
    DWORD dwPropNotifyCookie;
    DWORD dwPointerActivationPolicy;
};
struct IQuickActivate : IUnknown {
    virtual HRESULT QuickActivate(QACONTAINER* container, QACONTROL* control) = 0;
    virtual HRESULT SetContentExtent(LPSIZEL size) = 0;
    virtual HRESULT GetContentExtent(LPSIZEL size) = 0;
};
struct CAUUID {
    ULONG cElems;
    GUID* pElems;
};
struct ISpecifyPropertyPages : IUnknown {
    virtual HRESULT GetPages(CAUUID* pages) = 0;
};

#define FT_OLE_IID(Name, a, b, c, d0, d1, d2, d3, d4, d5, d6, d7)                        \
    inline constexpr IID IID_##Name = MakeGuid(a, b, c, d0, d1, d2, d3, d4, d5, d6, d7); \
    FT_INTERFACE_IID(Name, IID_##Name);
FT_OLE_IID(IAdviseSink, 0x0000010F, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)
FT_OLE_IID(IOleClientSite, 0x00000118, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)
FT_OLE_IID(IOleObject, 0x00000112, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)
FT_OLE_IID(IOleControl, 0xB196B288, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07)
FT_OLE_IID(IOleWindow, 0x00000114, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)
FT_OLE_IID(IOleInPlaceObject, 0x00000113, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)
FT_OLE_IID(IOleInPlaceObjectWindowless, 0x1C2056CC, 0x5EF4, 0x101B, 0x8B, 0xC8, 0x00, 0xAA, 0x00,
           0x3E, 0x3B, 0x29)
FT_OLE_IID(IOleInPlaceActiveObject, 0x00000117, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)
FT_OLE_IID(IViewObject, 0x0000010D, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)
FT_OLE_IID(IViewObject2, 0x00000127, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)
FT_OLE_IID(IViewObjectEx, 0x3AF24292, 0x0C96, 0x11CE, 0xA0, 0xCF, 0x00, 0xAA, 0x00, 0x60, 0x0A,
           0xB8)
FT_OLE_IID(IDataObject, 0x0000010E, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)
FT_OLE_IID(IQuickActivate, 0xCF51ED10, 0x62FE, 0x11CF, 0xBF, 0x86, 0x00, 0xA0, 0xC9, 0x03, 0x48,
           0x36)
FT_OLE_IID(ISpecifyPropertyPages, 0xB196B28B, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34,
           0x1D, 0x07)
#undef FT_OLE_IID
