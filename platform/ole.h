// What a container asks of an in-process control besides its own interface:
// error information support, safety options, and persistence through streams
// and property bags, with an in-memory stream and property bag of our own.
// The interfaces keep the vtable order of the Windows ones.
#pragma once

#include <cstdint>

#include "platform/automation.h"
#include "platform/dispatch.h"
#include "platform/unknown.h"
#include "platform/wintypes.h"

struct ISupportErrorInfo : IUnknown {
    // S_OK when calls of that interface may leave error information, else S_FALSE.
    virtual HRESULT InterfaceSupportsErrorInfo(REFIID iid) = 0;
};
template <>
struct InterfaceIid<ISupportErrorInfo> {
    static constexpr IID value = IID_ISupportErrorInfo;
};

constexpr DWORD INTERFACESAFE_FOR_UNTRUSTED_CALLER = 1;
constexpr DWORD INTERFACESAFE_FOR_UNTRUSTED_DATA = 2;

struct IObjectSafety : IUnknown {
    virtual HRESULT GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) = 0;
    virtual HRESULT SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) = 0;
};
inline constexpr IID IID_IObjectSafety =
    MakeGuid(0xCB5BDC81, 0x93C1, 0x11CF, 0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64);
template <>
struct InterfaceIid<IObjectSafety> {
    static constexpr IID value = IID_IObjectSafety;
};

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
template <>
struct InterfaceIid<ISequentialStream> {
    static constexpr IID value = IID_ISequentialStream;
};
template <>
struct InterfaceIid<IStream> {
    static constexpr IID value = IID_IStream;
};

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
template <>
struct InterfaceIid<IStorage> {
    static constexpr IID value = IID_IStorage;
};

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
template <>
struct InterfaceIid<IPropertyBag> {
    static constexpr IID value = IID_IPropertyBag;
};

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
template <>
struct InterfaceIid<IPersistStorage> {
    static constexpr IID value = IID_IPersistStorage;
};
constexpr HRESULT CO_E_ALREADYINITIALIZED = MakeHResult(0x800401F1);
inline constexpr IID IID_IPersist =
    MakeGuid(0x0000010C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
inline constexpr IID IID_IPersistStreamInit =
    MakeGuid(0x7FD52380, 0x4E07, 0x101B, 0xAE, 0x2D, 0x08, 0x00, 0x2B, 0x2E, 0xC7, 0x13);
inline constexpr IID IID_IPersistPropertyBag =
    MakeGuid(0x37D84F60, 0x42CB, 0x11CE, 0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51);
template <>
struct InterfaceIid<IPersistStreamInit> {
    static constexpr IID value = IID_IPersistStreamInit;
};
template <>
struct InterfaceIid<IPersistPropertyBag> {
    static constexpr IID value = IID_IPersistPropertyBag;
};

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
