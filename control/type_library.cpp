#include "control/type_library.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "control/class_factory.h"
#include "platform/text.h"

namespace {

// Names handed in are plain NUL-terminated strings, not BSTRs.
std::string NameOf(const OLECHAR* name) {
    return name ? Utf16ToUtf8(std::u16string_view(name)) : std::string();
}

// Writes text into an out parameter the caller may leave null.
HRESULT GiveText(BSTR* out, const char* text) {
    if (!out) return S_OK;
    *out = nullptr;
    if (!text) return S_OK;
    *out = BstrFromUtf8(text);
    return *out ? S_OK : E_OUTOFMEMORY;
}

// Rewrites a name the caller found ignoring case in the library's own case.
void CopyCase(LPOLESTR buffer, const char* name) {
    for (std::size_t i = 0; name[i] && buffer[i]; ++i)
        buffer[i] = static_cast<OLECHAR>(static_cast<unsigned char>(name[i]));
}

const MemberInfo* FindByName(std::span<const MemberInfo> members, std::string_view name) {
    auto it = std::find_if(members.begin(), members.end(), [name](const MemberInfo& m) {
        return EqualsIgnoringCase(m.name, name);
    });
    return it != members.end() ? &*it : nullptr;
}

const MemberInfo* FindByDispid(std::span<const MemberInfo> members, MEMBERID memid) {
    auto it = std::find_if(members.begin(), members.end(),
                           [memid](const MemberInfo& m) { return m.dispid == memid; });
    return it != members.end() ? &*it : nullptr;
}

// One function of a dispatch interface: a method or event, or one accessor of a
// property (a property has a get function, and a put function when writable).
struct Function {
    const MemberInfo* member;
    INVOKEKIND kind;
};

// A FUNCDESC with the storage its pointers refer to; freed by ReleaseFuncDesc.
struct FuncDescBlock : FUNCDESC {
    std::vector<ELEMDESC> params;
    std::vector<TYPEDESC> pointees;  // what VT_PTR parameters point to
};

// A VARDESC with the constant's value.
struct VarDescBlock : VARDESC {
    VARIANT value;
};

USHORT ParamFlagsOf(const ParamInfo& param) {
    USHORT flags = 0;
    if (param.flags & kParamIn) flags |= PARAMFLAG_FIN;
    if (param.IsOut()) flags |= PARAMFLAG_FOUT;
    if (param.IsOptional()) flags |= PARAMFLAG_FOPT;
    return flags;
}

class ControlTypeLib;

// A type description inside the library. Its references are the library's: it
// lives exactly as long as the library does.
class ControlTypeInfo final : public ITypeInfo {
  public:
    ControlTypeInfo(ControlTypeLib& library, UINT index, TYPEKIND kind, const GUID& guid,
                    const char* name, const char* help, WORD flags,
                    std::span<const MemberInfo> members, const EnumInfo* enumeration);

    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetTypeAttr(TYPEATTR** attr) override;
    HRESULT GetTypeComp(ITypeComp** comp) override;
    HRESULT GetFuncDesc(UINT index, FUNCDESC** desc) override;
    HRESULT GetVarDesc(UINT index, VARDESC** desc) override;
    HRESULT GetNames(MEMBERID memid, BSTR* names, UINT maxNames, UINT* count) override;
    HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* ref) override;
    HRESULT GetImplTypeFlags(UINT index, INT* flags) override;
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* memids) override;
    HRESULT Invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception, UINT* argumentError) override;
    HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* docString, DWORD* helpContext,
                             BSTR* helpFile) override;
    HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return E_NOTIMPL; }
    HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) override;
    HRESULT AddressOfMember(MEMBERID, INVOKEKIND, void**) override { return E_NOTIMPL; }
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    HRESULT GetMops(MEMBERID, BSTR*) override { return E_NOTIMPL; }
    HRESULT GetContainingTypeLib(ITypeLib** library, UINT* index) override;
    void ReleaseTypeAttr(TYPEATTR* attr) override { delete attr; }
    void ReleaseFuncDesc(FUNCDESC* desc) override { delete static_cast<FuncDescBlock*>(desc); }
    void ReleaseVarDesc(VARDESC* desc) override;

    TYPEKIND Kind() const { return kind_; }
    const GUID& Guid() const { return guid_; }
    const char* Name() const { return name_; }
    // The name of the member with this name ignoring case (the type's own
    // name gives MEMBERID_NIL), or null.
    const char* FindName(std::string_view name, MEMBERID* memid) const;

  private:
    // The name and help text of a member or constant.
    bool Describe(MEMBERID memid, const char** name, const char** help,
                  std::span<const ParamInfo>* params) const;

    ControlTypeLib& library_;
    UINT index_;
    TYPEKIND kind_;
    GUID guid_;
    const char* name_;
    const char* help_;
    WORD flags_;
    std::span<const MemberInfo> members_;
    const EnumInfo* enumeration_;
    std::vector<Function> functions_;
};

class ControlTypeLib final : public ComObject<ITypeLib> {
  public:
    static ControlTypeLib* Create() { return new ControlTypeLib(); }

    UINT GetTypeInfoCount() override { return static_cast<UINT>(infos_.size()); }
    HRESULT GetTypeInfo(UINT index, ITypeInfo** info) override;
    HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) override;
    HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) override;
    HRESULT GetLibAttr(TLIBATTR** attr) override;
    HRESULT GetTypeComp(ITypeComp** comp) override {
        if (comp) *comp = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetDocumentation(INT index, BSTR* name, BSTR* docString, DWORD* helpContext,
                             BSTR* helpFile) override;
    HRESULT IsName(LPOLESTR name, ULONG hash, BOOL* found) override;
    HRESULT FindName(LPOLESTR name, ULONG hash, ITypeInfo** infos, MEMBERID* memids,
                     USHORT* found) override;
    void ReleaseTLibAttr(TLIBATTR* attr) override { delete attr; }

  private:
    ControlTypeLib();
    ~ControlTypeLib() override = default;

    std::vector<std::unique_ptr<ControlTypeInfo>> infos_;
};

// ---- The library ---------------------------------------------------------

ControlTypeLib::ControlTypeLib() {
    const TypeLibraryInfo& lib = TypeLibrary();
    auto add = [this](TYPEKIND kind, const GUID& guid, const char* name, const char* help,
                      WORD flags, std::span<const MemberInfo> members, const EnumInfo* e) {
        const UINT index = static_cast<UINT>(infos_.size());
        infos_.push_back(std::make_unique<ControlTypeInfo>(*this, index, kind, guid, name, help,
                                                           flags, members, e));
    };
    add(TKIND_COCLASS, CLSID_FileTransfer, lib.coclassName, lib.coclassHelpText,
        TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL, {}, nullptr);
    add(TKIND_DISPATCH, IID_IFileTransfer, lib.interfaceName, lib.interfaceHelpText,
        TYPEFLAG_FDISPATCHABLE, InterfaceMembers(), nullptr);
    add(TKIND_DISPATCH, DIID__IFileTransferEvents, lib.eventInterfaceName,
        lib.eventInterfaceHelpText, TYPEFLAG_FDISPATCHABLE, EventMembers(), nullptr);
    for (const EnumInfo& e : ConstantEnumerations())
        add(TKIND_ENUM, GUID_NULL, e.name, nullptr, 0, {}, &e);
}

HRESULT ControlTypeLib::GetTypeInfo(UINT index, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *info = infos_[index].get();
    AddRef();
    return S_OK;
}

HRESULT ControlTypeLib::GetTypeInfoType(UINT index, TYPEKIND* kind) {
    if (!kind) return E_POINTER;
    if (index >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *kind = infos_[index]->Kind();
    return S_OK;
}

HRESULT ControlTypeLib::GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (guid == GUID_NULL) return TYPE_E_ELEMENTNOTFOUND;
    for (UINT i = 0; i < infos_.size(); ++i) {
        if (infos_[i]->Guid() == guid) return GetTypeInfo(i, info);
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT ControlTypeLib::GetLibAttr(TLIBATTR** attr) {
    if (!attr) return E_POINTER;
    *attr = new (std::nothrow) TLIBATTR{LIBID_FileTransferCtl,
                                        0,
                                        sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32,
                                        TypeLibrary().majorVersion,
                                        TypeLibrary().minorVersion,
                                        0};
    return *attr ? S_OK : E_OUTOFMEMORY;
}

HRESULT ControlTypeLib::GetDocumentation(INT index, BSTR* name, BSTR* docString, DWORD* helpContext,
                                         BSTR* helpFile) {
    if (index == -1) {
        if (helpContext) *helpContext = 0;
        if (helpFile) *helpFile = nullptr;
        if (HRESULT hr = GiveText(name, TypeLibrary().name); FAILED(hr)) return hr;
        return GiveText(docString, TypeLibrary().helpText);
    }
    if (index < 0 || static_cast<std::size_t>(index) >= infos_.size())
        return TYPE_E_ELEMENTNOTFOUND;
    return infos_[static_cast<std::size_t>(index)]->GetDocumentation(MEMBERID_NIL, name, docString,
                                                                     helpContext, helpFile);
}

HRESULT ControlTypeLib::IsName(LPOLESTR name, ULONG, BOOL* found) {
    if (!name || !found) return E_POINTER;
    *found = FALSE;
    const std::string wanted = NameOf(name);
    for (const auto& info : infos_) {
        MEMBERID memid;
        if (const char* match = info->FindName(wanted, &memid)) {
            CopyCase(name, match);
            *found = TRUE;
            break;
        }
    }
    return S_OK;
}

HRESULT ControlTypeLib::FindName(LPOLESTR name, ULONG, ITypeInfo** infos, MEMBERID* memids,
                                 USHORT* found) {
    if (!name || !infos || !memids || !found) return E_POINTER;
    const USHORT room = *found;
    const std::string wanted = NameOf(name);
    USHORT count = 0;
    for (const auto& info : infos_) {
        if (count == room) break;
        MEMBERID memid;
        if (const char* match = info->FindName(wanted, &memid)) {
            CopyCase(name, match);
            infos[count] = info.get();
            AddRef();
            memids[count] = memid;
            ++count;
        }
    }
    *found = count;
    return S_OK;
}

// ---- Type descriptions ---------------------------------------------------

ControlTypeInfo::ControlTypeInfo(ControlTypeLib& library, UINT index, TYPEKIND kind,
                                 const GUID& guid, const char* name, const char* help, WORD flags,
                                 std::span<const MemberInfo> members, const EnumInfo* enumeration)
    : library_(library),
      index_(index),
      kind_(kind),
      guid_(guid),
      name_(name),
      help_(help),
      flags_(flags),
      members_(members),
      enumeration_(enumeration) {
    for (const MemberInfo& member : members_) {
        if (member.IsProperty()) {
            functions_.push_back({&member, INVOKE_PROPERTYGET});
            if (member.writable) functions_.push_back({&member, INVOKE_PROPERTYPUT});
        } else {
            functions_.push_back({&member, INVOKE_FUNC});
        }
    }
}

HRESULT ControlTypeInfo::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!(iid == IID_IUnknown) && !(iid == IID_ITypeInfo)) return E_NOINTERFACE;
    *object = static_cast<ITypeInfo*>(this);
    AddRef();
    return S_OK;
}

ULONG ControlTypeInfo::AddRef() {
    return library_.AddRef();
}

ULONG ControlTypeInfo::Release() {
    return library_.Release();
}

HRESULT ControlTypeInfo::GetTypeAttr(TYPEATTR** attr) {
    if (!attr) return E_POINTER;
    *attr = new (std::nothrow) TYPEATTR{};
    if (!*attr) return E_OUTOFMEMORY;
    TYPEATTR& a = **attr;
    a.guid = guid_;
    a.memidConstructor = MEMBERID_NIL;
    a.memidDestructor = MEMBERID_NIL;
    a.typekind = kind_;
    a.cFuncs = static_cast<WORD>(functions_.size());
    a.cVars = enumeration_ ? static_cast<WORD>(enumeration_->constants.size()) : 0;
    a.cImplTypes = kind_ == TKIND_COCLASS ? 2 : 0;
    // A dispatch interface's table is IDispatch's seven entries.
    a.cbSizeVft = kind_ == TKIND_DISPATCH ? static_cast<WORD>(7 * sizeof(void*)) : 0;
    a.cbSizeInstance = kind_ == TKIND_ENUM ? sizeof(LONG) : sizeof(void*);
    a.cbAlignment = kind_ == TKIND_ENUM ? alignof(LONG) : alignof(void*);
    a.wTypeFlags = flags_;
    a.wMajorVerNum = TypeLibrary().majorVersion;
    a.wMinorVerNum = TypeLibrary().minorVersion;
    return S_OK;
}

HRESULT ControlTypeInfo::GetTypeComp(ITypeComp** comp) {
    if (comp) *comp = nullptr;
    return E_NOTIMPL;
}

HRESULT ControlTypeInfo::GetFuncDesc(UINT index, FUNCDESC** desc) {
    if (!desc) return E_POINTER;
    *desc = nullptr;
    if (index >= functions_.size()) return TYPE_E_ELEMENTNOTFOUND;
    const Function& f = functions_[index];
    const MemberInfo& m = *f.member;
    auto* block = new (std::nothrow) FuncDescBlock{};
    if (!block) return E_OUTOFMEMORY;
    try {
        const bool put = f.kind == INVOKE_PROPERTYPUT;
        block->params.resize(m.params.size() + (put ? 1 : 0));
        block->pointees.resize(block->params.size());
        SHORT optional = 0;
        for (std::size_t i = 0; i < m.params.size(); ++i) {
            ELEMDESC& e = block->params[i];
            e.paramdesc.wParamFlags = ParamFlagsOf(m.params[i]);
            if (m.params[i].IsOut()) {
                // Passed by reference: a pointer to the value's type.
                block->pointees[i].vt = m.params[i].type;
                e.tdesc.lptdesc = &block->pointees[i];
                e.tdesc.vt = VT_PTR;
            } else {
                e.tdesc.vt = m.params[i].type;
            }
            if (m.params[i].IsOptional()) ++optional;
        }
        if (put) {  // the new value comes last
            block->params.back().tdesc.vt = m.type;
            block->params.back().paramdesc.wParamFlags = PARAMFLAG_FIN;
        }
        block->memid = m.dispid;
        block->lprgelemdescParam = block->params.empty() ? nullptr : block->params.data();
        block->funckind = FUNC_DISPATCH;
        block->invkind = f.kind;
        block->callconv = CC_STDCALL;
        block->cParams = static_cast<SHORT>(block->params.size());
        block->cParamsOpt = optional;
        if (f.kind == INVOKE_PROPERTYGET) {
            block->elemdescFunc.tdesc.vt = m.type;
        } else if (f.kind == INVOKE_FUNC && m.retval) {
            block->elemdescFunc.tdesc.vt = m.type;
        } else {
            block->elemdescFunc.tdesc.vt = VT_VOID;
        }
    } catch (const std::bad_alloc&) {
        delete block;
        return E_OUTOFMEMORY;
    }
    *desc = block;
    return S_OK;
}

HRESULT ControlTypeInfo::GetVarDesc(UINT index, VARDESC** desc) {
    if (!desc) return E_POINTER;
    *desc = nullptr;
    if (!enumeration_ || index >= enumeration_->constants.size()) return TYPE_E_ELEMENTNOTFOUND;
    auto* block = new (std::nothrow) VarDescBlock{};
    if (!block) return E_OUTOFMEMORY;
    VariantInit(&block->value);
    block->value.vt = VT_I4;
    block->value.lVal = enumeration_->constants[index].value;
    block->memid = kFirstConstantMemid + static_cast<MEMBERID>(index);
    block->lpvarValue = &block->value;
    block->elemdescVar.tdesc.vt = VT_I4;
    block->varkind = VAR_CONST;
    *desc = block;
    return S_OK;
}

void ControlTypeInfo::ReleaseVarDesc(VARDESC* desc) {
    delete static_cast<VarDescBlock*>(desc);
}

bool ControlTypeInfo::Describe(MEMBERID memid, const char** name, const char** help,
                               std::span<const ParamInfo>* params) const {
    *params = {};
    if (memid == MEMBERID_NIL) {
        *name = name_;
        *help = help_;
        return true;
    }
    if (enumeration_) {
        if (memid < kFirstConstantMemid) return false;
        const auto n = static_cast<std::size_t>(memid - kFirstConstantMemid);
        if (n >= enumeration_->constants.size()) return false;
        *name = enumeration_->constants[n].name;
        *help = nullptr;
        return true;
    }
    const MemberInfo* member = FindByDispid(members_, memid);
    if (!member) return false;
    *name = member->name;
    *help = member->helpText;
    *params = member->params;
    return true;
}

HRESULT ControlTypeInfo::GetNames(MEMBERID memid, BSTR* names, UINT maxNames, UINT* count) {
    if (!names || !count) return E_POINTER;
    *count = 0;
    const char* name;
    const char* help;
    std::span<const ParamInfo> params;
    if (memid == MEMBERID_NIL || !Describe(memid, &name, &help, &params))
        return TYPE_E_ELEMENTNOTFOUND;
    std::vector<const char*> all{name};
    for (const ParamInfo& p : params)
        all.push_back(p.name);
    for (UINT i = 0; i < all.size() && i < maxNames; ++i) {
        names[i] = BstrFromUtf8(all[i]);
        if (!names[i]) {
            for (UINT j = 0; j < i; ++j)
                SysFreeString(names[j]);
            return E_OUTOFMEMORY;
        }
        *count = i + 1;
    }
    return S_OK;
}

HRESULT ControlTypeInfo::GetRefTypeOfImplType(UINT index, HREFTYPE* ref) {
    if (!ref) return E_POINTER;
    if (kind_ != TKIND_COCLASS || index > 1) return TYPE_E_ELEMENTNOTFOUND;
    *ref = index == 0 ? kInterfaceTypeInfo : kEventsTypeInfo;
    return S_OK;
}

HRESULT ControlTypeInfo::GetImplTypeFlags(UINT index, INT* flags) {
    if (!flags) return E_POINTER;
    if (kind_ != TKIND_COCLASS || index > 1) return TYPE_E_ELEMENTNOTFOUND;
    *flags = index == 0 ? IMPLTYPEFLAG_FDEFAULT : IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE;
    return S_OK;
}

HRESULT ControlTypeInfo::GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* memids) {
    if (!names || !memids) return E_POINTER;
    if (count == 0) return S_OK;
    if (!enumeration_) return ResolveMemberNames(members_, names, count, memids);
    std::fill(memids, memids + count, MEMBERID_NIL);
    MEMBERID memid;
    if (count != 1 || !FindName(NameOf(names[0]), &memid) || memid == MEMBERID_NIL)
        return DISP_E_UNKNOWNNAME;
    memids[0] = memid;
    return S_OK;
}

HRESULT ControlTypeInfo::Invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params,
                                VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
    if (kind_ != TKIND_DISPATCH) return TYPE_E_WRONGTYPEKIND;
    if (!instance) return E_INVALIDARG;
    // The instance of a dispatch interface is its IDispatch; the call is its Invoke.
    return static_cast<IDispatch*>(instance)->Invoke(memid, IID_NULL, 0, flags, params, result,
                                                     exception, argumentError);
}

HRESULT ControlTypeInfo::GetDocumentation(MEMBERID memid, BSTR* name, BSTR* docString,
                                          DWORD* helpContext, BSTR* helpFile) {
    if (name) *name = nullptr;
    if (docString) *docString = nullptr;
    if (helpContext) *helpContext = 0;
    if (helpFile) *helpFile = nullptr;
    const char* text;
    const char* help;
    std::span<const ParamInfo> params;
    if (!Describe(memid, &text, &help, &params)) return TYPE_E_ELEMENTNOTFOUND;
    if (HRESULT hr = GiveText(name, text); FAILED(hr)) return hr;
    if (HRESULT hr = GiveText(docString, help); FAILED(hr)) {
        if (name) SysFreeString(*name);
        if (name) *name = nullptr;
        return hr;
    }
    return S_OK;
}

HRESULT ControlTypeInfo::GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (kind_ != TKIND_COCLASS || (ref != kInterfaceTypeInfo && ref != kEventsTypeInfo))
        return TYPE_E_ELEMENTNOTFOUND;
    return library_.GetTypeInfo(ref, info);
}

HRESULT ControlTypeInfo::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (kind_ != TKIND_COCLASS) return TYPE_E_WRONGTYPEKIND;
    if (outer) return CLASS_E_NOAGGREGATION;
    return CreateControl(guid_, iid, object);
}

HRESULT ControlTypeInfo::GetContainingTypeLib(ITypeLib** library, UINT* index) {
    if (!library) return E_POINTER;
    *library = &library_;
    library_.AddRef();
    if (index) *index = index_;
    return S_OK;
}

const char* ControlTypeInfo::FindName(std::string_view name, MEMBERID* memid) const {
    if (EqualsIgnoringCase(name_, name)) {
        *memid = MEMBERID_NIL;
        return name_;
    }
    if (enumeration_) {
        for (std::size_t i = 0; i < enumeration_->constants.size(); ++i) {
            if (EqualsIgnoringCase(enumeration_->constants[i].name, name)) {
                *memid = kFirstConstantMemid + static_cast<MEMBERID>(i);
                return enumeration_->constants[i].name;
            }
        }
        return nullptr;
    }
    const MemberInfo* member = FindByName(members_, name);
    if (!member) return nullptr;
    *memid = member->dispid;
    return member->name;
}

}  // namespace

HRESULT CreateControlTypeLib(ITypeLib** library) {
    if (!library) return E_POINTER;
    *library = nullptr;
    try {
        *library = ControlTypeLib::Create();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT GetControlTypeInfo(UINT index, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    ComPtr<ITypeLib> library;
    if (HRESULT hr = CreateControlTypeLib(library.Receive()); FAILED(hr)) return hr;
    return library->GetTypeInfo(index, info);
}

HRESULT ResolveMemberNames(std::span<const MemberInfo> members, LPOLESTR* names, UINT count,
                           DISPID* dispids) {
    if (!names || !dispids) return E_POINTER;
    if (count == 0) return S_OK;
    std::fill(dispids, dispids + count, DISPID_UNKNOWN);
    const MemberInfo* member = FindByName(members, NameOf(names[0]));
    if (!member) return DISP_E_UNKNOWNNAME;
    dispids[0] = member->dispid;
    HRESULT hr = S_OK;
    // Further names are parameter names; their dispids are their positions.
    for (UINT i = 1; i < count; ++i) {
        const std::string name = NameOf(names[i]);
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
