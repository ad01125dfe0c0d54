// Late-bound calls (IDispatch) and outgoing event interfaces (connection points).
#pragma once

#include <mutex>
#include <span>
#include <string_view>
#include <vector>

#include "platform/api.h"
#include "platform/automation.h"
#include "platform/unknown.h"
#include "platform/wintypes.h"

constexpr WORD DISPATCH_METHOD = 1;
constexpr WORD DISPATCH_PROPERTYGET = 2;
constexpr WORD DISPATCH_PROPERTYPUT = 4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 8;

constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr DISPID DISPID_NEWENUM = -4;

// Arguments of a call. rgvarg holds the named arguments first (matching
// rgdispidNamedArgs), then the positional ones in reverse order: the last
// argument comes first. A property put passes its value as the one named
// argument DISPID_PROPERTYPUT.
struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

// Frees the strings of an exception record and zeroes it.
FT_API void ClearExcepInfo(EXCEPINFO* info);

struct ITypeInfo;  // see platform/typelib.h

struct IDispatch : IUnknown {
    virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) = 0;
    virtual HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                  DISPID* dispids) = 0;
    virtual HRESULT Invoke(DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO* exception, UINT* argumentError) = 0;
};

struct IConnectionPointContainer;
struct IEnumConnections;
struct IEnumConnectionPoints;

struct IConnectionPoint : IUnknown {
    virtual HRESULT GetConnectionInterface(IID* iid) = 0;
    virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) = 0;
    virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
    virtual HRESULT Unadvise(DWORD cookie) = 0;
    virtual HRESULT EnumConnections(IEnumConnections** connections) = 0;
};

struct IConnectionPointContainer : IUnknown {
    virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) = 0;
    virtual HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) = 0;
};

// Hands out a container's connection points one after another (each with a
// reference for the caller).
struct IEnumConnectionPoints : IUnknown {
    virtual HRESULT Next(ULONG count, IConnectionPoint** points, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumConnectionPoints** copy) = 0;
};

// The sink of a control's property changes (not a dispatch interface).
struct IPropertyNotifySink : IUnknown {
    virtual HRESULT OnChanged(DISPID dispid) = 0;
    virtual HRESULT OnRequestEdit(DISPID dispid) = 0;
};

inline constexpr IID IID_IDispatch =
    MakeGuid(0x00020400, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
inline constexpr IID IID_IConnectionPoint =
    MakeGuid(0xB196B286, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
inline constexpr IID IID_IConnectionPointContainer =
    MakeGuid(0xB196B284, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);

inline constexpr IID IID_IEnumConnectionPoints =
    MakeGuid(0xB196B285, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
inline constexpr IID IID_IPropertyNotifySink =
    MakeGuid(0x9BFBBC02, 0xEFF1, 0x101A, 0x84, 0xED, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);

FT_INTERFACE_IID(IEnumConnectionPoints, IID_IEnumConnectionPoints);
FT_INTERFACE_IID(IPropertyNotifySink, IID_IPropertyNotifySink);
FT_INTERFACE_IID(IDispatch, IID_IDispatch);
FT_INTERFACE_IID(IConnectionPoint, IID_IConnectionPoint);
FT_INTERFACE_IID(IConnectionPointContainer, IID_IConnectionPointContainer);

// The positional argument at index (0 = first as written), skipping named
// arguments; null when there are not that many.
FT_API VARIANTARG* DispParamsArgument(const DISPPARAMS* params, UINT index);
// The named argument with this dispid, or null.
FT_API VARIANTARG* DispParamsNamedArgument(const DISPPARAMS* params, DISPID name);

// Caller-side helpers. Arguments are given in written order; they are passed
// as they are (by-reference arguments stay by reference). result and
// exception may be null.
FT_API HRESULT DispatchGetIdOfName(IDispatch* object, std::u16string_view name, DISPID* dispid);
FT_API HRESULT DispatchCall(IDispatch* object, DISPID member, std::span<VARIANT> arguments,
                            VARIANT* result, EXCEPINFO* exception = nullptr);
FT_API HRESULT DispatchGetProperty(IDispatch* object, DISPID member, std::span<VARIANT> indices,
                                   VARIANT* result, EXCEPINFO* exception = nullptr);
FT_API HRESULT DispatchPutProperty(IDispatch* object, DISPID member, std::span<VARIANT> indices,
                                   VARIANT* value, EXCEPINFO* exception = nullptr);

// A connection point for one outgoing interface. Sinks are kept by cookie
// (from 1 upwards); each must answer the event interface's identifier or, for
// a dispatch interface, IID_IDispatch. The container pointer is not referenced (the container
// owns the point); FindConnectionPoint of a container hands out the point with
// an added reference.
// An IDispatch that offers no type information and no names, only Invoke: the
// shape of every event sink (the sink is called by dispatch id).
class EventSink : public ComObject<IDispatch> {
  public:
    HRESULT GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
};

class ConnectionPoint final : public ComObject<IConnectionPoint> {
  public:
    static ConnectionPoint* Create(REFIID eventInterface, IConnectionPointContainer* container);

    HRESULT GetConnectionInterface(IID* iid) override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override;
    HRESULT Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT Unadvise(DWORD cookie) override;  // unknown cookie: CONNECT_E_NOCONNECTION
    HRESULT EnumConnections(IEnumConnections** connections) override;  // E_NOTIMPL

    // The sinks connected now, as the interface each answered, each with a
    // reference for the caller (for interfaces that are not dispatch interfaces).
    std::vector<IUnknown*> SinkReferences() const;
    // Calls the event on every sink connected when the call starts (sinks may
    // disconnect during it); the event interface is a dispatch interface. Arguments in written
    // order; by-reference ones let a sink pass values back. Returns S_OK, or the first failing
    // result.
    HRESULT Fire(DISPID event, std::span<VARIANT> arguments);
    size_t SinkCount() const;
    // Drops every sink (the container calls this when it goes away).
    void DisconnectAll();

  private:
    ConnectionPoint(REFIID eventInterface, IConnectionPointContainer* container);
    ~ConnectionPoint() override;

    struct Sink {
        DWORD cookie;
        IUnknown* sink;  // the interface it answered
    };
    IID eventInterface_;
    IConnectionPointContainer* container_;
    mutable std::mutex mutex_;
    std::vector<Sink> sinks_;
    DWORD nextCookie_ = 1;
};

// Connection points handed out through IEnumConnectionPoints: a new
// enumerator over the points (each referenced while it lives).
HRESULT CreateConnectionPointEnumerator(std::span<IConnectionPoint* const> points,
                                        IEnumConnectionPoints** enumerator);
