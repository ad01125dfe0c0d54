// IDispatch of the control: names and dispids come from the type information
// table; property calls are mapped onto the C++ members through a table of
// accessors.
#include <algorithm>
#include <array>
#include <new>

#include "control/FileTransfer.h"
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

struct PropertyAccessor {
    DISPID dispid;
    GetThunk get;
    PutThunk put;  // null for read-only properties
};

#define FT_TEXT(name, id) \
    { id, &Get<BSTR, &CFileTransfer::get_##name>, &Put<BSTR, &CFileTransfer::put_##name> }
#define FT_TEXT_RO(name, id) \
    { id, &Get<BSTR, &CFileTransfer::get_##name>, nullptr }
#define FT_LONG(name, id) \
    { id, &Get<LONG, &CFileTransfer::get_##name>, &Put<LONG, &CFileTransfer::put_##name> }
#define FT_LONG_RO(name, id) \
    { id, &Get<LONG, &CFileTransfer::get_##name>, nullptr }
#define FT_INT64_RO(name, id) \
    { id, &Get<LONGLONG, &CFileTransfer::get_##name>, nullptr }
#define FT_BOOL(name, id)                                   \
    {                                                       \
        id, &Get<VARIANT_BOOL, &CFileTransfer::get_##name>, \
            &Put<VARIANT_BOOL, &CFileTransfer::put_##name>  \
    }
#define FT_INDEXED(name, id) \
    { id, &GetIndexed<&CFileTransfer::get_##name>, &PutIndexed<&CFileTransfer::put_##name> }

const PropertyAccessor kAccessors[] = {
    FT_BOOL(Enabled, kDispidEnabled),
    FT_TEXT(Account, 0x01),
    FT_INDEXED(ActivePort, 0x02),
    FT_BOOL(AppendFile, 0x03),
    FT_TEXT_RO(CertificateExpires, 0x04),
    FT_TEXT_RO(CertificateIssued, 0x05),
    FT_TEXT_RO(CertificateIssuer, 0x06),
    FT_TEXT(CertificateName, 0x07),
    FT_LONG_RO(CertificateStatus, 0x08),
    FT_TEXT(CertificateStore, 0x09),
    FT_TEXT_RO(CertificateSubject, 0x0A),
    FT_INDEXED(ChannelMode, 0x0B),
    FT_LONG_RO(CipherStrength, 0x0C),
    FT_LONG(DirectoryFormat, 0x0D),
    FT_LONG(Features, 0x0E),
    FT_LONG(FileType, 0x0F),
    FT_TEXT_RO(Fingerprint, 0x10),
    FT_LONG_RO(HashStrength, 0x11),
    FT_BOOL(KeepAlive, 0x12),
    FT_LONG(LastError, 0x13),
    FT_TEXT_RO(LastErrorString, 0x14),
    FT_TEXT(Library, 0x15),
    FT_TEXT_RO(LocalAddress, 0x16),
    FT_BOOL(Localize, 0x17),
    FT_TEXT_RO(LocalName, 0x18),
    FT_LONG(Options, 0x19),
    FT_BOOL(Passive, 0x1A),
    FT_TEXT(Password, 0x1B),
    FT_LONG(Priority, 0x1C),
    FT_TEXT(PrivateKey, 0x1D),
    FT_TEXT(ProtocolVersion, 0x1E),
    FT_TEXT(ProxyPassword, 0x1F),
    FT_LONG(ProxyPort, 0x20),
    FT_TEXT(ProxyServer, 0x21),
    FT_LONG(ProxyType, 0x22),
    FT_TEXT(ProxyUser, 0x23),
    FT_TEXT(Resource, 0x24),
    FT_LONG_RO(ResultCode, 0x25),
    FT_TEXT_RO(ResultString, 0x26),
    FT_BOOL(Secure, 0x27),
    FT_LONG_RO(SecureCipher, 0x28),
    FT_LONG_RO(SecureHash, 0x29),
    FT_LONG_RO(SecureKeyExchange, 0x2A),
    FT_LONG(SecureProtocol, 0x2B),
    FT_TEXT(ServerDirectory, 0x2C),
    FT_TEXT(ServerName, 0x2D),
    FT_LONG(ServerPort, 0x2E),
    FT_LONG(ServerType, 0x2F),
    FT_TEXT_RO(System, 0x30),
    FT_BOOL(ThrowError, 0x31),
    FT_LONG(Timeout, 0x32),
    FT_BOOL(Trace, 0x33),
    FT_TEXT(TraceFile, 0x34),
    FT_LONG(TraceFlags, 0x35),
    FT_LONG_RO(TransferBytes, 0x36),
    FT_LONG_RO(TransferTime, 0x37),
    FT_TEXT(URL, 0x38),
    FT_TEXT(UserName, 0x39),
    FT_TEXT_RO(Version, 0x3A),
    FT_BOOL(Compression, 0x5A),
    FT_TEXT_RO(SecureAlgorithms, 0x5C),
    FT_TEXT_RO(FingerprintSHA256, 0x5D),
    FT_TEXT_RO(ServerVersion, 0x5E),
    FT_LONG(HostKeyPolicy, 0x60),
    FT_TEXT(KnownHostsFile, 0x61),
    FT_LONG_RO(HostKeyStatus, 0x62),
    FT_TEXT_RO(HostKeyText, 0x63),
    FT_BOOL(UseAgent, 0x64),
    FT_BOOL(DefaultIdentities, 0x65),
    FT_INT64_RO(TransferBytes64, 0x6D),
    FT_INT64_RO(TransferSize64, 0x6E),
    FT_TEXT_RO(ResponseFileName, 0x78),
    FT_BOOL(UseMlsd, 0x70),
};

#undef FT_TEXT
#undef FT_TEXT_RO
#undef FT_LONG
#undef FT_LONG_RO
#undef FT_INT64_RO
#undef FT_BOOL
#undef FT_INDEXED

const PropertyAccessor* FindAccessor(DISPID dispid) {
    auto it = std::find_if(std::begin(kAccessors), std::end(kAccessors),
                           [dispid](const PropertyAccessor& a) { return a.dispid == dispid; });
    return it != std::end(kAccessors) ? &*it : nullptr;
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

// Names handed to GetIDsOfNames are plain NUL-terminated strings, not BSTRs.
std::u16string_view NameView(const OLECHAR* name) {
    return name ? std::u16string_view(name) : std::u16string_view();
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
    *count = 0;
    return S_OK;
}

HRESULT CFileTransfer::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

HRESULT CFileTransfer::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                     DISPID* dispids) {
    if (!(iid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !dispids) return E_POINTER;
    if (count == 0) return S_OK;
    std::fill(dispids, dispids + count, DISPID_UNKNOWN);
    const MemberInfo* member = FindMemberByName(Utf16ToUtf8(NameView(names[0])));
    if (!member) return DISP_E_UNKNOWNNAME;
    dispids[0] = member->dispid;
    HRESULT hr = S_OK;
    // Further names are parameter names; their dispids are their positions.
    for (UINT i = 1; i < count; ++i) {
        const std::string name = Utf16ToUtf8(NameView(names[i]));
        auto it =
            std::find_if(member->params.begin(), member->params.end(),
                         [&name](const ParamInfo& p) { return EqualsIgnoringCase(p.name, name); });
        if (it == member->params.end()) {
            hr = DISP_E_UNKNOWNNAME;
        } else {
            dispids[i] = static_cast<DISPID>(it - member->params.begin());
        }
    }
    return hr;
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

HRESULT CFileTransfer::InvokePropertyGet(const MemberInfo& member, DISPPARAMS* params,
                                         VARIANT* result, UINT* argumentError) {
    if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    if (PositionalCount(params) != member.params.size()) return DISP_E_BADPARAMCOUNT;
    const PropertyAccessor* accessor = FindAccessor(member.dispid);
    if (!accessor) return DISP_E_MEMBERNOTFOUND;
    LONG index = 0;
    if (member.IsIndexed()) {
        if (HRESULT hr = ReadIndex(params, &index, argumentError); FAILED(hr)) return hr;
    }
    return accessor->get(*this, index, result);
}

HRESULT CFileTransfer::InvokePropertyPut(const MemberInfo& member, DISPPARAMS* params,
                                         UINT* argumentError) {
    const PropertyAccessor* accessor = FindAccessor(member.dispid);
    if (!accessor || !accessor->put) return DISP_E_MEMBERNOTFOUND;
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
    const HRESULT hr = accessor->put(*this, index, converted);
    VariantClear(&converted);
    return hr;
}

namespace {

// A method's arguments by position (null = not given); at most that many.
constexpr std::size_t kMaxMethodArguments = 8;
using MethodArguments = std::array<VARIANT*, kMaxMethodArguments>;

using MethodThunk = HRESULT (*)(CFileTransfer&, const MethodArguments&, VARIANT* error);

struct MethodEntry {
    DISPID dispid;
    MethodThunk call;
};

const MethodEntry kMethods[] = {
    {0x3C, [](CFileTransfer& c, const MethodArguments&, VARIANT* e) { return c.Cancel(e); }},
    {0x3F,
     [](CFileTransfer& c, const MethodArguments& a, VARIANT* e) { return c.Command(a[0], e); }},
    {0x40, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.Connect(a[0], a[1], a[2], a[3], a[4], a[5], e); }},
    {0x42, [](CFileTransfer& c, const MethodArguments&, VARIANT* e) { return c.Disconnect(e); }},
    {0x4B, [](CFileTransfer& c, const MethodArguments&, VARIANT* e) { return c.Initialize(e); }},
    {0x55, [](CFileTransfer& c, const MethodArguments&, VARIANT*) { return c.Reset(); }},
    {0x58, [](CFileTransfer& c, const MethodArguments&, VARIANT*) { return c.Uninitialize(); }},
    // Transfers.
    {0x43, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.GetData(a[0], a[1], a[2], a[3], e); }},
    {0x45, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.GetFile(a[0], a[1], a[2], e); }},
    {0x4A, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.GetMultipleFiles(a[0], a[1], a[2], e); }},
    {0x4E, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.PostFile(a[0], a[1], a[2], a[3], e); }},
    {0x4F, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.PutData(a[0], a[1], a[2], a[3], e); }},
    {0x50, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.PutFile(a[0], a[1], a[2], e); }},
    {0x51, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.PutMultipleFiles(a[0], a[1], a[2], e); }},
    // Directories and file management.
    {0x3B, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT*) { return c.AddFileType(a[0], a[1]); }},
    {0x3D, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.ChangeDirectory(a[0], e); }},
    {0x3E,
     [](CFileTransfer& c, const MethodArguments&, VARIANT* e) { return c.CloseDirectory(e); }},
    {0x41,
     [](CFileTransfer& c, const MethodArguments& a, VARIANT* e) { return c.DeleteFile(a[0], e); }},
    {0x44, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.GetDirectory(a[0], e); }},
    {0x46, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.GetFilePermissions(a[0], a[1], e); }},
    {0x47, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.GetFileStatus(a[0], a[1], a[2], a[3], a[4], a[5], a[6], e); }},
    {0x48, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.GetFileSize(a[0], a[1], e); }},
    {0x49, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.GetFileTime(a[0], a[1], e); }},
    {0x4C, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.MakeDirectory(a[0], e); }},
    {0x4D, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.OpenDirectory(a[0], a[1], e); }},
    {0x52, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.ReadDirectory(a[0], a[1], a[2], a[3], a[4], a[5], a[6], e); }},
    {0x53, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.RemoveDirectory(a[0], e); }},
    {0x54, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.RenameFile(a[0], a[1], e); }},
    {0x56, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.SetFilePermissions(a[0], a[1], e); }},
    {0x57, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.SetFileTime(a[0], a[1], e); }},
    {0x59, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.VerifyFile(a[0], a[1], a[2], e); }},
    {0x5B, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.GetFileList(a[0], a[1], a[2], a[3], e); }},
    // 64-bit sizes and offsets.
    {0x68, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.GetFile64(a[0], a[1], a[2], e); }},
    {0x69, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.PutFile64(a[0], a[1], a[2], e); }},
    {0x6A, [](CFileTransfer& c, const MethodArguments& a,
              VARIANT* e) { return c.GetFileSize64(a[0], a[1], e); }},
    {0x6B,
     [](CFileTransfer& c, const MethodArguments& a,
        VARIANT* e) { return c.GetFileStatus64(a[0], a[1], a[2], a[3], a[4], a[5], a[6], e); }},
    {0x6C,
     [](CFileTransfer& c, const MethodArguments& a,
        VARIANT* e) { return c.ReadDirectory64(a[0], a[1], a[2], a[3], a[4], a[5], a[6], e); }},
};

const MethodEntry* FindMethod(DISPID dispid) {
    auto it = std::find_if(std::begin(kMethods), std::end(kMethods),
                           [dispid](const MethodEntry& m) { return m.dispid == dispid; });
    return it != std::end(kMethods) ? &*it : nullptr;
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

HRESULT CFileTransfer::InvokeMethod(const MemberInfo& member, DISPPARAMS* params, VARIANT* result,
                                    UINT* argumentError) {
    const MethodEntry* method = FindMethod(member.dispid);
    if (!method) return E_NOTIMPL;
    MethodArguments arguments;
    if (HRESULT hr = CollectArguments(member, params, arguments, argumentError); FAILED(hr)) {
        return hr;
    }
    return method->call(*this, arguments, member.retval ? result : nullptr);
}
