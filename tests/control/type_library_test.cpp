#include <set>
#include <string>
#include <vector>

#include "control/class_factory.h"
#include "control/type_library.h"
#include "control_test_support.h"
#include "platform/typelib.h"

namespace {

// Member name then parameter names of a memid, as GetNames gives them.
std::vector<std::string> NamesOf(ITypeInfo* info, MEMBERID memid) {
    BSTR names[16] = {};
    UINT count = 0;
    EXPECT_EQ(info->GetNames(memid, names, 16, &count), S_OK);
    std::vector<std::string> result;
    for (UINT i = 0; i < count; ++i) {
        result.push_back(Utf8FromBstr(names[i]));
        SysFreeString(names[i]);
    }
    return result;
}

std::string DocName(ITypeInfo* info, MEMBERID memid, std::string* help = nullptr) {
    BSTR name = nullptr;
    BSTR doc = nullptr;
    EXPECT_EQ(info->GetDocumentation(memid, &name, &doc, nullptr, nullptr), S_OK);
    std::string text = Utf8FromBstr(name);
    if (help) *help = Utf8FromBstr(doc);
    SysFreeString(name);
    SysFreeString(doc);
    return text;
}

TYPEATTR AttrOf(ITypeInfo* info) {
    TYPEATTR* attr = nullptr;
    EXPECT_EQ(info->GetTypeAttr(&attr), S_OK);
    if (!attr) return TYPEATTR{};
    const TYPEATTR copy = *attr;
    info->ReleaseTypeAttr(attr);
    return copy;
}

using TypeLibrary = ControlTest;

// Every function of the dispatch interface's type description against the
// member table: its names are the member's and its parameters'; a property
// has a get function of its value type and a put function exactly when the
// control takes writes; a method reaches a method of the dispatch; every
// member of the table is described.
TEST_F(TypeLibrary, DispatchInterfaceMatchesTheControlsDispatch) {
    UINT count = 0;
    ASSERT_EQ(control_->GetTypeInfoCount(&count), S_OK);
    ASSERT_EQ(count, 1u);
    ComPtr<ITypeInfo> bad;
    EXPECT_EQ(control_->GetTypeInfo(1, 0, bad.Receive()), DISP_E_BADINDEX);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(control_->GetTypeInfo(0, 0, info.Receive()), S_OK);
    const TYPEATTR attr = AttrOf(info.get());
    EXPECT_EQ(attr.typekind, TKIND_DISPATCH);
    EXPECT_TRUE(attr.guid == IID_IFileTransfer);
    EXPECT_EQ(DocName(info.get(), MEMBERID_NIL), "IFileTransfer");

    std::set<DISPID> described;
    for (UINT i = 0; i < attr.cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        ASSERT_EQ(info->GetFuncDesc(i, &f), S_OK);
        const std::vector<std::string> names = NamesOf(info.get(), f->memid);
        ASSERT_FALSE(names.empty());
        SCOPED_TRACE(names[0]);
        const MemberInfo* member = FindMemberByDispid(f->memid);
        ASSERT_NE(member, nullptr);
        EXPECT_EQ(names[0], member->name);
        ASSERT_EQ(names.size(), member->params.size() + 1);
        for (std::size_t p = 0; p < member->params.size(); ++p) {
            EXPECT_EQ(names[p + 1], member->params[p].name);
            const ELEMDESC& e = f->lprgelemdescParam[p];
            const ParamInfo& param = member->params[p];
            EXPECT_EQ(e.tdesc.vt, param.IsOut() ? VARTYPE{VT_PTR} : param.type) << names[p + 1];
            if (param.IsOut()) {
                EXPECT_EQ(e.tdesc.lptdesc->vt, param.type);
            }
            EXPECT_EQ((e.paramdesc.wParamFlags & PARAMFLAG_FOPT) != 0, param.IsOptional());
            EXPECT_EQ((e.paramdesc.wParamFlags & PARAMFLAG_FOUT) != 0, param.IsOut());
        }
        EXPECT_EQ(f->funckind, FUNC_DISPATCH);
        // Reads, writes and calls through the dispatch are Dispatch's tests.
        switch (f->invkind) {
            case INVOKE_PROPERTYGET:
                EXPECT_EQ(f->cParams, static_cast<SHORT>(member->params.size()));
                EXPECT_EQ(f->elemdescFunc.tdesc.vt, member->type);
                break;
            case INVOKE_PROPERTYPUT:
                EXPECT_EQ(f->cParams, static_cast<SHORT>(member->params.size() + 1));
                EXPECT_EQ(f->lprgelemdescParam[f->cParams - 1].tdesc.vt, member->type);
                EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_VOID);
                EXPECT_TRUE(member->writable);
                break;
            case INVOKE_FUNC:
                EXPECT_EQ(f->elemdescFunc.tdesc.vt, member->retval ? VT_VARIANT : VT_VOID);
                break;
            default:
                ADD_FAILURE() << "invoke kind " << f->invkind;
        }
        described.insert(f->memid);
        info->ReleaseFuncDesc(f);
    }
    EXPECT_EQ(described.size(), InterfaceMembers().size());

    // Invoke through the description reaches the instance's dispatch.
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT version{};
    EXPECT_EQ(info->Invoke(static_cast<IDispatch*>(control_), FindMemberByName("Version")->dispid,
                           DISPATCH_PROPERTYGET, &none, &version, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(version.vt, VT_BSTR);
    VariantClear(&version);
    // Its GetIDsOfNames is the control's (ResolveMemberNames, dispatch_test.cpp).
    info.Reset();
    EXPECT_EQ(control_->RefCount(), 1u);
}

// Constants are found by name in any case, with their values.
TEST_F(TypeLibrary, ConstantsAreFoundByNameInAnyCase) {
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(CreateControlTypeLib(lib.Receive()), S_OK);
    struct {
        const char16_t* asked;
        const char* name;
        LONG value;
    } const kCases[] = {
        {u"FILEPROXYWINDOWS", "fileProxyWindows", 3},
        {u"fileportftps", "filePortFTPS", 990},
        {u"filePermOwnerRead", "filePermOwnerRead", 1024},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        std::u16string buffer = c.asked;
        BOOL found = FALSE;
        EXPECT_EQ(lib->IsName(buffer.data(), 0, &found), S_OK);
        EXPECT_TRUE(found);
        EXPECT_EQ(Utf16ToUtf8(buffer), c.name);  // given back in the library's case
        ITypeInfo* infos[2] = {};
        MEMBERID memids[2] = {};
        USHORT count = 2;
        ASSERT_EQ(lib->FindName(buffer.data(), 0, infos, memids, &count), S_OK);
        ASSERT_EQ(count, 1);
        ComPtr<ITypeInfo> info = ComPtr<ITypeInfo>::Attach(infos[0]);
        LPOLESTR names[] = {buffer.data()};
        MEMBERID memid = 0;
        ASSERT_EQ(info->GetIDsOfNames(names, 1, &memid), S_OK);
        EXPECT_EQ(memid, memids[0]);
        VARDESC* var = nullptr;
        ASSERT_EQ(info->GetVarDesc(static_cast<UINT>(memid - kFirstConstantMemid), &var), S_OK);
        EXPECT_EQ(var->lpvarValue->lVal, c.value);
        info->ReleaseVarDesc(var);
    }
    std::u16string unknown = u"fileNoSuchConstant";
    BOOL found = TRUE;
    EXPECT_EQ(lib->IsName(unknown.data(), 0, &found), S_OK);
    EXPECT_FALSE(found);
}

// The coclass names the dispatch interface as its default and the event
// interface as its default source; the control answers IProvideClassInfo2
// with that coclass and the event interface's identifier.
TEST_F(TypeLibrary, CoclassAndClassInfo) {
    ComPtr<IProvideClassInfo2> provide =
        ComPtr<IFileTransfer>::Share(control_).As<IProvideClassInfo2>();
    ASSERT_TRUE(provide);
    ComPtr<IProvideClassInfo> plain = provide.As<IProvideClassInfo>();
    ASSERT_TRUE(plain);
    GUID guid = GUID_NULL;
    EXPECT_EQ(provide->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &guid), S_OK);
    EXPECT_TRUE(guid == DIID__IFileTransferEvents);
    EXPECT_EQ(provide->GetGUID(7, &guid), E_INVALIDARG);

    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(plain->GetClassInfo(coclass.Receive()), S_OK);
    TYPEATTR attr = AttrOf(coclass.get());
    EXPECT_EQ(attr.typekind, TKIND_COCLASS);
    EXPECT_TRUE(attr.guid == CLSID_FileTransfer);
    EXPECT_EQ(attr.cImplTypes, 2);
    EXPECT_EQ(DocName(coclass.get(), MEMBERID_NIL), "FileTransfer");

    // Which interface is the default source the script host's events find
    // (tests/cli/script_host_test.cpp).
    EXPECT_EQ(coclass->GetRefTypeOfImplType(2, nullptr), E_POINTER);
    HREFTYPE ref = 0;
    EXPECT_EQ(coclass->GetRefTypeOfImplType(2, &ref), TYPE_E_ELEMENTNOTFOUND);

    // The library around it, found again by identifier.
    ComPtr<ITypeLib> lib;
    UINT index = 99;
    ASSERT_EQ(coclass->GetContainingTypeLib(lib.Receive(), &index), S_OK);
    EXPECT_EQ(index, static_cast<UINT>(kCoclassTypeInfo));
    TLIBATTR* libAttr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&libAttr), S_OK);
    EXPECT_TRUE(libAttr->guid == LIBID_FileTransferCtl);
    EXPECT_EQ(libAttr->wMajorVerNum, 1);
    lib->ReleaseTLibAttr(libAttr);
    for (const GUID& g : {CLSID_FileTransfer, IID_IFileTransfer, DIID__IFileTransferEvents}) {
        ComPtr<ITypeInfo> byGuid;
        ASSERT_EQ(lib->GetTypeInfoOfGuid(g, byGuid.Receive()), S_OK);
        EXPECT_TRUE(AttrOf(byGuid.get()).guid == g);
    }
    BSTR name = nullptr;
    ASSERT_EQ(lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(Utf8FromBstr(name), "FileTransferCtl");
    SysFreeString(name);

    // The coclass makes new controls.
    ComPtr<IFileTransfer> made;
    ASSERT_EQ(coclass->CreateInstance(nullptr, IID_IFileTransfer,
                                      reinterpret_cast<void**>(made.Receive())),
              S_OK);
    EXPECT_TRUE(made);
    made.Reset();
    provide.Reset();
    plain.Reset();
    EXPECT_EQ(control_->RefCount(), 1u);
}

}  // namespace
