// Automation types: BSTR strings, VARIANTs and their type conversion,
// SAFEARRAYs, automation dates and time conversion, and the thread's current
// error information.
#pragma once

#include "platform/api.h"
#include "platform/unknown.h"
#include "platform/wintypes.h"

// ---------------------------------------------------------------------------
// BSTR: UTF-16 text preceded by its length in bytes (32 bits) and followed by a
// NUL. A null BSTR is the empty string.

// C names, so that C programs reach them too (platform/com.h).
FT_EXTERN_C_BEGIN
FT_API BSTR SysAllocString(const OLECHAR* text);
FT_API BSTR SysAllocStringLen(const OLECHAR* text, UINT length);  // text may be null: uninitialised
FT_API BSTR SysAllocStringByteLen(const char* bytes, UINT length);  // odd byte lengths allowed
FT_API INT SysReAllocString(BSTR* bstr, const OLECHAR* text);
FT_API INT SysReAllocStringLen(BSTR* bstr, const OLECHAR* text, UINT length);
FT_API void SysFreeString(BSTR bstr);
FT_API UINT SysStringLen(BSTR bstr);
FT_API UINT SysStringByteLen(BSTR bstr);
FT_EXTERN_C_END

// ---------------------------------------------------------------------------
// SAFEARRAY

struct SAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
};

// As on Windows, rgsabound holds the dimensions in reverse order: the first
// (leftmost) dimension is rgsabound[cDims - 1]. The first index of an index
// list varies fastest in the data.
struct SAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    void* pvData;
    SAFEARRAYBOUND rgsabound[1];
};
using LPSAFEARRAY = SAFEARRAY*;

constexpr USHORT FADF_AUTO = 0x0001;
constexpr USHORT FADF_STATIC = 0x0002;
constexpr USHORT FADF_EMBEDDED = 0x0004;
constexpr USHORT FADF_FIXEDSIZE = 0x0010;
constexpr USHORT FADF_RECORD = 0x0020;
constexpr USHORT FADF_HAVEIID = 0x0040;
constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
constexpr USHORT FADF_BSTR = 0x0100;
constexpr USHORT FADF_UNKNOWN = 0x0200;
constexpr USHORT FADF_DISPATCH = 0x0400;
constexpr USHORT FADF_VARIANT = 0x0800;

// Element types: VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_INT, VT_UINT,
// VT_I8, VT_UI8, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR, VT_BOOL, VT_ERROR,
// VT_VARIANT, VT_DISPATCH, VT_UNKNOWN. Data is zero-filled.
FT_API SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, const SAFEARRAYBOUND* bounds);
FT_API SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements);
// Frees the elements deeply (strings, variants, interfaces). Locked: DISP_E_ARRAYISLOCKED.
FT_API HRESULT SafeArrayDestroy(SAFEARRAY* array);
FT_API HRESULT SafeArrayDestroyData(SAFEARRAY* array);
FT_API UINT SafeArrayGetDim(SAFEARRAY* array);
FT_API UINT SafeArrayGetElemsize(SAFEARRAY* array);
FT_API HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt);
// dim counts from 1 (the leftmost dimension).
FT_API HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound);
FT_API HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound);
FT_API HRESULT SafeArrayLock(SAFEARRAY* array);
FT_API HRESULT SafeArrayUnlock(SAFEARRAY* array);  // not locked: E_UNEXPECTED
FT_API HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data);
FT_API HRESULT SafeArrayUnaccessData(SAFEARRAY* array);
// indices: one per dimension, leftmost dimension first. The element is copied
// in or out (strings duplicated, variants copied, interfaces referenced).
// GetElement writes through element; PutElement takes a BSTR or interface
// pointer as element itself and any other type by address, as on Windows.
FT_API HRESULT SafeArrayGetElement(SAFEARRAY* array, const LONG* indices, void* element);
FT_API HRESULT SafeArrayPutElement(SAFEARRAY* array, const LONG* indices, const void* element);
FT_API HRESULT SafeArrayPtrOfIndex(SAFEARRAY* array, const LONG* indices, void** element);
FT_API HRESULT SafeArrayCopy(SAFEARRAY* array, SAFEARRAY** copy);
// Changes the last (rightmost) dimension's bounds; elements cut off are freed.
FT_API HRESULT SafeArrayRedim(SAFEARRAY* array, const SAFEARRAYBOUND* lastBound);

// ---------------------------------------------------------------------------
// VARIANT

struct IDispatch;

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        LONGLONG cyVal;  // currency: the value times 10000
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        LONGLONG* pllVal;
        FLOAT* pfltVal;
        DOUBLE* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        LONGLONG* pcyVal;
        DATE* pdate;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        VARIANT* pvarVal;
        void* byref;
        CHAR* pcVal;
        USHORT* puiVal;
        ULONG* pulVal;
        ULONGLONG* pullVal;
        INT* pintVal;
        UINT* puintVal;
        struct {
            void* pvRecord;
            void* pRecInfo;
        } brecVal;  // gives the union its Windows size
    };
};
using VARIANTARG = VARIANT;
using LPVARIANT = VARIANT*;

// Flags of VariantChangeType; accepted and ignored except where noted.
constexpr USHORT VARIANT_NOVALUEPROP = 0x01;
constexpr USHORT VARIANT_ALPHABOOL = 0x02;  // booleans always become "True"/"False" here
constexpr USHORT VARIANT_NOUSEROVERRIDE = 0x04;
constexpr USHORT VARIANT_LOCALBOOL = 0x10;

constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
constexpr LCID LOCALE_INVARIANT = 0x007F;

FT_EXTERN_C_BEGIN
FT_API void VariantInit(VARIANTARG* v);
// Frees what the variant owns (never what a by-reference variant points to).
FT_API HRESULT VariantClear(VARIANTARG* v);
FT_EXTERN_C_END
// Deep copy; a by-reference source is copied as the same reference.
FT_API HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src);
// Deep copy of what a by-reference source refers to.
FT_API HRESULT VariantCopyInd(VARIANT* dest, const VARIANTARG* src);
// Converts src to type vt into dest (dest may be src). dest is unchanged on
// failure. DISP_E_OVERFLOW when the value does not fit; DISP_E_TYPEMISMATCH for
// text that does not parse and for arrays, nulls and objects; DISP_E_BADVARTYPE
// for unknown types. See docs/platform.md for the text forms.
FT_API HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt);
FT_API HRESULT VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* src, LCID locale,
                                   USHORT flags, VARTYPE vt);

// ---------------------------------------------------------------------------
// Dates and times. An automation date counts days from 1899-12-30 00:00; the
// fraction is the time of day. Before the epoch the whole part counts back and
// the fraction still counts forward: -1.25 is 1899-12-29 06:00.

// SYSTEMTIME is defined in platform/api.h, where the public C headers see it too.
using LPSYSTEMTIME = SYSTEMTIME*;

// 100-nanosecond intervals since 1601-01-01.
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
using LPFILETIME = FILETIME*;

constexpr DATE kMinDate = -657434.0;               // 0100-01-01
constexpr DATE kMaxDate = 2958465.99998842592592;  // 9999-12-31 23:59:59

// Years 100 to 9999; milliseconds are ignored. FALSE for an invalid time.
FT_API INT SystemTimeToVariantTime(const SYSTEMTIME* time, DATE* date);
// Rounds to the nearest second; FALSE outside the date range.
FT_API INT VariantTimeToSystemTime(DATE date, SYSTEMTIME* time);

// Date text in this system's form: "YYYY-MM-DD HH:MM:SS"; a date at midnight is
// written "YYYY-MM-DD", a time on day 0 (1899-12-30) "HH:MM:SS". Reading takes
// all three forms (also with "T" between date and time, and without seconds).
// Locale and flags are accepted and ignored.
FT_API HRESULT VarBstrFromDate(DATE date, LCID locale, ULONG flags, BSTR* text);
FT_API HRESULT VarDateFromStr(LPCOLESTR text, LCID locale, ULONG flags, DATE* date);

// FILETIME values go up to 0x7FFFFFFFFFFFFFFF; SYSTEMTIME years 1601 to 30827.
FT_API BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* time);
FT_API BOOL SystemTimeToFileTime(const SYSTEMTIME* time, FILETIME* fileTime);
FT_API void GetSystemTime(SYSTEMTIME* time);  // UTC
FT_API void GetLocalTime(SYSTEMTIME* time);
FT_API void GetSystemTimeAsFileTime(FILETIME* fileTime);
// These two use the offset in effect now, as Windows does, whatever the date.
FT_API BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
FT_API BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc);
FT_API LONG CompareFileTime(const FILETIME* a, const FILETIME* b);
// Seconds since 1970-01-01 UTC and the UTC calendar fields, both ways, over
// the SYSTEMTIME range (years 1601 to 30827); FALSE outside it or for fields
// no calendar has.
FT_API BOOL UnixTimeToSystemTime(LONGLONG seconds, SYSTEMTIME* time);
FT_API BOOL SystemTimeToUnixTime(const SYSTEMTIME* time, LONGLONG* seconds);

struct TIME_ZONE_INFORMATION {
    LONG Bias;  // minutes; UTC = local time + Bias
    WCHAR StandardName[32];
    SYSTEMTIME StandardDate;
    LONG StandardBias;
    WCHAR DaylightName[32];
    SYSTEMTIME DaylightDate;
    LONG DaylightBias;
};

constexpr DWORD TIME_ZONE_ID_UNKNOWN = 0;
constexpr DWORD TIME_ZONE_ID_STANDARD = 1;
constexpr DWORD TIME_ZONE_ID_DAYLIGHT = 2;
constexpr DWORD TIME_ZONE_ID_INVALID = 0xFFFFFFFFu;

// Describes the current local zone (from TZ / the system's zone database) as it
// stands now: Bias is the standard offset, DaylightBias the extra daylight
// offset; transition dates are left zero.
FT_API DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* zone);
// A null zone means the current local zone, with its daylight-saving rules for
// the date converted. A given zone applies Bias + StandardBias only.
FT_API BOOL SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION* zone,
                                            const SYSTEMTIME* utc, SYSTEMTIME* local);
FT_API BOOL TzSpecificLocalTimeToSystemTime(const TIME_ZONE_INFORMATION* zone,
                                            const SYSTEMTIME* local, SYSTEMTIME* utc);
// The local zone's current offset west of UTC (UTC = local + bias), with daylight saving.
FT_API LONG GetTimeZoneBiasMinutes();
FT_API LONG GetTimeZoneBiasSeconds();

// ---------------------------------------------------------------------------
// Error information: the thread's current error object.

struct IErrorInfo : IUnknown {
    virtual HRESULT GetGUID(GUID* guid) = 0;
    virtual HRESULT GetSource(BSTR* source) = 0;
    virtual HRESULT GetDescription(BSTR* description) = 0;
    virtual HRESULT GetHelpFile(BSTR* helpFile) = 0;
    virtual HRESULT GetHelpContext(DWORD* helpContext) = 0;
};

struct ICreateErrorInfo : IUnknown {
    virtual HRESULT SetGUID(REFGUID guid) = 0;
    virtual HRESULT SetSource(LPCOLESTR source) = 0;
    virtual HRESULT SetDescription(LPCOLESTR description) = 0;
    virtual HRESULT SetHelpFile(LPCOLESTR helpFile) = 0;
    virtual HRESULT SetHelpContext(DWORD helpContext) = 0;
};

inline constexpr IID IID_IErrorInfo =
    MakeGuid(0x1CF2B120, 0x547D, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19);
inline constexpr IID IID_ICreateErrorInfo =
    MakeGuid(0x22F03340, 0x547D, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19);
inline constexpr IID IID_ISupportErrorInfo =
    MakeGuid(0xDF0B3D60, 0x548F, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19);

FT_INTERFACE_IID(IErrorInfo, IID_IErrorInfo);
FT_INTERFACE_IID(ICreateErrorInfo, IID_ICreateErrorInfo);

// A new empty error object (one reference, to the caller); query it for IErrorInfo.
FT_API HRESULT CreateErrorInfo(ICreateErrorInfo** info);
// Replaces the thread's error object (null clears it); keeps its own reference.
FT_API HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info);
// Hands the thread's error object to the caller and clears it; S_FALSE and
// null when there is none.
FT_API HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info);
