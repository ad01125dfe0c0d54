// IDispatch and IProvideClassInfo2 of the control: names and dispids come
// from the type information table, the type descriptions from the type library
// made of it (control/type_library.h); calls reach the C++ members through a
// table of thunks made from the same member table (resources/members.inc), row
// for row.
#include <algorithm>
#include <array>
#include <cstddef>
#include <iterator>
#include <new>
#include <utility>

#include "control/FileTransfer.h"
#include "control/type_library.h"
#include "platform/text.h"

namespace {

constexpr HRESULT DISP_E_NONAMEDARGS = MakeHResult(0x80020007);

// How a value type travels in a VARIANT.
template <class T>
struct VariantValue;
template <>
struct VariantValue<LONG> {
    static LONG Take(VARIANT& v) { return v.lVal; }
    static void Give(VARIANT* v, LONG value) {
        v->vt = VT_I4;
        v->lVal = value;
    }
};
template <>
struct VariantValue<LONGLONG> {
    static LONGLONG Take(VARIANT& v) { return v.llVal; }
    static void Give(VARIANT* v, LONGLONG value) {
        v->vt = VT_I8;
        v->llVal = value;
    }
};
template <>
struct VariantValue<VARIANT_BOOL> {
    static VARIANT_BOOL Take(VARIANT& v) { return v.boolVal; }
    static void Give(VARIANT* v, VARIANT_BOOL value) {
        v->vt = VT_BOOL;
        v->boolVal = value;
    }
};
template <>
struct VariantValue<BSTR> {
    static BSTR Take(VARIANT& v) { return v.bstrVal; }  // borrowed for the call
    static void Give(VARIANT* v, BSTR value) {
        v->vt = VT_BSTR;
        v->bstrVal = value;  // owned by the variant
    }
};

using GetThunk = HRESULT (*)(CFileTransfer&, LONG index, VARIANT* result);
using PutThunk = HRESULT (*)(CFileTransfer&, LONG index, VARIANT& value);

template <class T>
void Discard(T) {}
template <>
void Discard<BSTR>(BSTR value) {
    SysFreeString(value);
}

template <class T, HRESULT (CFileTransfer::*Getter)(T*)>
HRESULT Get(CFileTransfer& control, LONG, VARIANT* result) {
    T value{};
    const HRESULT hr = (control.*Getter)(&value);
    if (FAILED(hr)) return hr;
    if (result) {
        VariantValue<T>::Give(result, value);
    } else {
        Discard(value);
    }
    return hr;
}

template <HRESULT (CFileTransfer::*Getter)(LONG, LONG*)>
HRESULT GetIndexed(CFileTransfer& control, LONG index, VARIANT* result) {
    LONG value = 0;
    const HRESULT hr = (control.*Getter)(index, &value);
    if (SUCCEEDED(hr) && result) VariantValue<LONG>::Give(result, value);
    return hr;
}

template <class T, HRESULT (CFileTransfer::*Setter)(T)>
HRESULT Put(CFileTransfer& control, LONG, VARIANT& value) {
    return (control.*Setter)(VariantValue<T>::Take(value));
}

template <HRESULT (CFileTransfer::*Setter)(LONG, LONG)>
HRESULT PutIndexed(CFileTransfer& control, LONG index, VARIANT& value) {
    return (control.*Setter)(index, VariantValue<LONG>::Take(value));
}

// Failures of the call's shape, returned as they are; any other failure comes
// from the member and is raised as an exception.
constexpr HRESULT kDispatchLevelErrors[] = {
    DISP_E_MEMBERNOTFOUND,   DISP_E_BADPARAMCOUNT, DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW,
    DISP_E_PARAMNOTFOUND,    DISP_E_NONAMEDARGS,   DISP_E_BADVARTYPE,   E_NOTIMPL,
    DISP_E_PARAMNOTOPTIONAL,
};

bool IsDispatchLevelError(HRESULT hr) {
    return std::find(std::begin(kDispatchLevelErrors), std::end(kDispatchLevelErrors), hr) !=
           std::end(kDispatchLevelErrors);
}

UINT PositionalCount(const DISPPARAMS* params) {
    return params ? params->cArgs - params->cNamedArgs : 0;
}

// Converts an argument to the type a member takes, following by-reference ones.
HRESULT ConvertArgument(const VARIANT* argument, VARTYPE type, VARIANT* converted) {
    VariantInit(converted);
    return VariantChangeType(converted, argument, 0, type);
}

// The index of an indexed property as a 32-bit number.
HRESULT ReadIndex(const DISPPARAMS* params, LONG* index, UINT* argumentError) {
    VARIANT converted;
    const HRESULT hr = ConvertArgument(DispParamsArgument(params, 0), VT_I4, &converted);
    if (FAILED(hr)) {
        if (argumentError) *argumentError = params->cArgs - 1;
        return hr;
    }
    *index = converted.lVal;
    return S_OK;
}

void FillException(EXCEPINFO* exception, HRESULT hr, std::u16string_view source) {
    if (!exception) return;
    *exception = EXCEPINFO{};
    exception->scode = hr;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Receive()) == S_OK && info) {
        info->GetSource(&exception->bstrSource);
        info->GetDescription(&exception->bstrDescription);
    }
    if (!exception->bstrSource) {
        exception->bstrSource = SysAllocStringLen(source.data(), static_cast<UINT>(source.size()));
    }
}

}  // namespace

HRESULT CFileTransfer::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT CFileTransfer::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return GetControlTypeInfo(kInterfaceTypeInfo, info);
}

HRESULT CFileTransfer::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                     DISPID* dispids) {
    if (!(iid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return ResolveMemberNames(InterfaceMembers(), names, count, dispids);
}

HRESULT CFileTransfer::GetClassInfo(ITypeInfo** info) {
    return GetControlTypeInfo(kCoclassTypeInfo, info);
}

HRESULT CFileTransfer::GetGUID(DWORD kind, GUID* guid) {
    if (!guid) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    *guid = DIID__IFileTransferEvents;
    return S_OK;
}

HRESULT CFileTransfer::QueryInterface(REFIID iid, void** object) {
    if (outer_) return outer_->QueryInterface(iid, object);
    return QueryOwnInterface(iid, object);
}

HRESULT CFileTransfer::Inner::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown) {
        *object = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    // What is handed out counts on the outer object, through the interface's AddRef.
    return owner->QueryOwnInterface(iid, object);
}

HRESULT CFileTransfer::QueryOwnInterface(REFIID iid, void** object) {
    // IProvideClassInfo2 and IPersistStreamInit also answer for the interfaces they extend.
    if (iid == IID_IProvideClassInfo && object) {
        *object = static_cast<IProvideClassInfo*>(this);
        AddRef();
        return S_OK;
    }
    if (iid == IID_IPersist && object) {
        *object = static_cast<IPersist*>(static_cast<IPersistStreamInit*>(this));
        AddRef();
        return S_OK;
    }
    if (object && shell_.Answer(iid, object)) return S_OK;
    return ComObject::QueryInterface(iid, object);
}

HRESULT CFileTransfer::Invoke(DISPID dispid, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                              VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
    if (!(iid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (!params) params = &none;
    const MemberInfo* member = FindMemberByDispid(dispid);
    if (!member) return DISP_E_MEMBERNOTFOUND;
    if (result) VariantInit(result);

    // Error information left by an earlier call must not describe this one.
    SetErrorInfo(0, nullptr);
    HRESULT hr = DISP_E_MEMBERNOTFOUND;
    try {
        if (member->IsProperty() && (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))) {
            hr = InvokePropertyPut(*member, params, argumentError);
        } else if (member->IsProperty() && (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD))) {
            hr = InvokePropertyGet(*member, params, result, argumentError);
        } else if (member->IsMethod() && (flags & DISPATCH_METHOD)) {
            hr = InvokeMethod(*member, params, result, argumentError);
        }
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr) || IsDispatchLevelError(hr)) return hr;
    // A failure of the member itself reaches the caller as an exception.
    FillException(exception, hr, state_.errorSource);
    return DISP_E_EXCEPTION;
}

namespace {

// A method's arguments by position (null = not given); at most that many.
constexpr std::size_t kMaxMethodArguments = 8;
using MethodArguments = std::array<VARIANT*, kMaxMethodArguments>;

using MethodThunk = HRESULT (*)(CFileTransfer&, const MethodArguments&, VARIANT* error);

template <class Method>
struct MethodArity;
template <class... Params>
struct MethodArity<HRESULT (CFileTransfer::*)(Params...)> {
    static constexpr std::size_t value = sizeof...(Params);
};

// Calls a method with its arguments by position and, when it has one, its
// Error result last.
template <auto Method, bool withError, std::size_t... I>
HRESULT CallMethod(CFileTransfer& control, const MethodArguments& arguments, VARIANT* error,
                   std::index_sequence<I...>) {
    if constexpr (withError) {
        return (control.*Method)(arguments[I]..., error);
    } else {
        return (control.*Method)(arguments[I]...);
    }
}
// The C++ method must take the table's parameters (and the Error result).
template <auto Method, std::size_t count>
HRESULT CallWithError(CFileTransfer& control, const MethodArguments& arguments, VARIANT* error) {
    static_assert(MethodArity<decltype(Method)>::value == count + 1 &&
                  count <= kMaxMethodArguments);
    return CallMethod<Method, true>(control, arguments, error, std::make_index_sequence<count>());
}
template <auto Method, std::size_t count>
HRESULT CallPlain(CFileTransfer& control, const MethodArguments& arguments, VARIANT*) {
    static_assert(MethodArity<decltype(Method)>::value == count && count <= kMaxMethodArguments);
    return CallMethod<Method, false>(control, arguments, nullptr,
                                     std::make_index_sequence<count>());
}

// The length of each parameter list of the member table.
template <class... Params>
constexpr std::size_t CountOf(Params...) {
    return sizeof...(Params);
}
constexpr std::size_t kNoParams = 0;
#define FT_PARAM(Name, type, flags) 0
#define FT_PARAMS(List, ...) constexpr std::size_t k##List = CountOf(__VA_ARGS__);
#define FT_PROPERTY(Name, dispid, Value, Access, help)
#define FT_METHOD(Name, dispid, List, help)
#define FT_PLAIN_METHOD(Name, dispid, List, help)
#include "resources/members.inc"
#undef FT_PARAM
#undef FT_PARAMS
#undef FT_PROPERTY
#undef FT_METHOD
#undef FT_PLAIN_METHOD

// What Invoke calls for each member, in the order of InterfaceMembers(): the
// accessors of a property (put null when it is read-only) or a method (null
// when it is not implemented).
struct MemberThunks {
    GetThunk get;
    PutThunk put;
    MethodThunk call;
};

#define FT_ACCESSORS_ReadOnly(Name, T) &Get<T, &CFileTransfer::get_##Name>, nullptr
#define FT_ACCESSORS_ReadWrite(Name, T) \
    &Get<T, &CFileTransfer::get_##Name>, &Put<T, &CFileTransfer::put_##Name>
#define FT_ACCESSORS_Indexed(Name, T) \
    &GetIndexed<&CFileTransfer::get_##Name>, &PutIndexed<&CFileTransfer::put_##Name>

constexpr MemberThunks kThunks[] = {
#define FT_PROPERTY(Name, dispid, Value, Access, help) \
    {FT_ACCESSORS_##Access(Name, MemberValue::Value), nullptr},
#define FT_METHOD(Name, dispid, List, help) \
    {nullptr, nullptr, &CallWithError<&CFileTransfer::Name, k##List>},
#define FT_PLAIN_METHOD(Name, dispid, List, help) \
    {nullptr, nullptr, &CallPlain<&CFileTransfer::Name, k##List>},
#define FT_UNIMPLEMENTED_METHOD(Name, dispid, help) {nullptr, nullptr, nullptr},
#include "resources/members.inc"
#undef FT_PROPERTY
#undef FT_METHOD
#undef FT_PLAIN_METHOD
#undef FT_UNIMPLEMENTED_METHOD
};
static_assert(std::size(kThunks) == kInterfaceMemberCount);

#undef FT_ACCESSORS_ReadOnly
#undef FT_ACCESSORS_ReadWrite
#undef FT_ACCESSORS_Indexed

const MemberThunks& ThunksOf(const MemberInfo& member) {
    return kThunks[static_cast<std::size_t>(&member - InterfaceMembers().data())];
}

// Places positional and named arguments at their parameter positions.
HRESULT CollectArguments(const MemberInfo& member, DISPPARAMS* params, MethodArguments& arguments,
                         UINT* argumentError) {
    arguments.fill(nullptr);
    const std::size_t count = member.params.size();
    if (count > kMaxMethodArguments || PositionalCount(params) > count) return DISP_E_BADPARAMCOUNT;
    for (UINT i = 0; i < PositionalCount(params); ++i)
        arguments[i] = DispParamsArgument(params, i);
    for (UINT i = 0; i < params->cNamedArgs; ++i) {
        const DISPID position = params->rgdispidNamedArgs[i];
        if (position < 0 || static_cast<std::size_t>(position) >= count) {
            if (argumentError) *argumentError = i;
            return DISP_E_PARAMNOTFOUND;
        }
        arguments[static_cast<std::size_t>(position)] = &params->rgvarg[i];
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (!arguments[i] && !member.params[i].IsOptional()) return DISP_E_PARAMNOTOPTIONAL;
    }
    return S_OK;
}

}  // namespace

HRESULT CFileTransfer::InvokePropertyGet(const MemberInfo& member, DISPPARAMS* params,
                                         VARIANT* result, UINT* argumentError) {
    if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    if (PositionalCount(params) != member.params.size()) return DISP_E_BADPARAMCOUNT;
    LONG index = 0;
    if (member.IsIndexed()) {
        if (HRESULT hr = ReadIndex(params, &index, argumentError); FAILED(hr)) return hr;
    }
    return ThunksOf(member).get(*this, index, result);
}

HRESULT CFileTransfer::InvokePropertyPut(const MemberInfo& member, DISPPARAMS* params,
                                         UINT* argumentError) {
    const PutThunk put = ThunksOf(member).put;
    if (!put) return DISP_E_MEMBERNOTFOUND;
    const VARIANT* value = DispParamsNamedArgument(params, DISPID_PROPERTYPUT);
    if (!value || params->cNamedArgs != 1) return DISP_E_PARAMNOTFOUND;
    if (PositionalCount(params) != member.params.size()) return DISP_E_BADPARAMCOUNT;
    LONG index = 0;
    if (member.IsIndexed()) {
        if (HRESULT hr = ReadIndex(params, &index, argumentError); FAILED(hr)) return hr;
    }
    VARIANT converted;
    if (HRESULT hr = ConvertArgument(value, member.type, &converted); FAILED(hr)) {
        if (argumentError) *argumentError = 0;
        return hr;
    }
    const HRESULT hr = put(*this, index, converted);
    VariantClear(&converted);
    // S_FALSE: the container refused the edit, nothing changed.
    if (hr == S_OK) NotifyPropertyChanged(member.dispid);
    return hr;
}

HRESULT CFileTransfer::InvokeMethod(const MemberInfo& member, DISPPARAMS* params, VARIANT* result,
                                    UINT* argumentError) {
    const MethodThunk call = ThunksOf(member).call;
    if (!call) return E_NOTIMPL;
    MethodArguments arguments;
    if (HRESULT hr = CollectArguments(member, params, arguments, argumentError); FAILED(hr)) {
        return hr;
    }
    return call(*this, arguments, member.retval ? result : nullptr);
}
