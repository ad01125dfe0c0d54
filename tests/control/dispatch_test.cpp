#include <array>

#include "control/class_factory.h"
#include "session_test_support.h"

namespace {

class Dispatch : public ControlTest {
  protected:
    IDispatch* Disp() { return control_; }

    DISPID IdOf(std::u16string_view name) {
        DISPID dispid = 12345;
        EXPECT_EQ(DispatchGetIdOfName(Disp(), name, &dispid), S_OK);
        return dispid;
    }

    HRESULT Put(DISPID dispid, VARIANT value, EXCEPINFO* exception = nullptr) {
        const HRESULT hr = DispatchPutProperty(Disp(), dispid, {}, &value, exception);
        VariantClear(&value);
        return hr;
    }

    std::string GetAsText(DISPID dispid) {
        VARIANT value{};
        EXPECT_EQ(DispatchGetProperty(Disp(), dispid, {}, &value), S_OK);
        VARIANT text{};
        VariantChangeType(&text, &value, 0, VT_BSTR);
        std::string result = Utf8FromBstr(text.bstrVal);
        VariantClear(&text);
        VariantClear(&value);
        return result;
    }

    static VARIANT Text(std::string_view text) {
        VARIANT v{};
        v.vt = VT_BSTR;
        v.bstrVal = BstrFromUtf8(text);
        return v;
    }
};

// Every member of the type information resolves by name, in any case, to its
// dispid and back, through the dispatch interface as through the table, and
// reaches an implementation of its kind: properties read as their type and take
// writes exactly when they are writable; methods run (too many arguments are
// refused only once a method is found).
TEST_F(Dispatch, EveryMemberResolvesBothWaysAndReachesItsImplementation) {
    auto lower = [](std::string_view name) {
        std::u16string text;
        for (char c : name)
            text += static_cast<char16_t>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        return text;
    };
    VARIANT surplus[9];
    for (VARIANT& argument : surplus)
        VariantInit(&argument);
    for (const MemberInfo& member : InterfaceMembers()) {
        SCOPED_TRACE(member.name);
        EXPECT_EQ(IdOf(lower(member.name)), member.dispid);
        EXPECT_EQ(FindMemberByName(member.name), &member);
        ASSERT_EQ(FindMemberByDispid(member.dispid), &member);
        VARIANT value{};
        if (member.IsMethod()) {
            EXPECT_EQ(DispatchCall(Disp(), member.dispid, std::span<VARIANT>(surplus), &value),
                      DISP_E_BADPARAMCOUNT);
            continue;
        }
        VARIANT index = I4(0);
        const std::span<VARIANT> arguments =
            member.IsIndexed() ? std::span<VARIANT>(&index, 1) : std::span<VARIANT>();
        ASSERT_EQ(DispatchGetProperty(Disp(), member.dispid, arguments, &value), S_OK);
        EXPECT_EQ(value.vt, member.type);
        const HRESULT put = DispatchPutProperty(Disp(), member.dispid, arguments, &value);
        EXPECT_EQ(put == DISP_E_MEMBERNOTFOUND, !member.writable) << std::hex << put;
        VariantClear(&value);
    }
    for (const MemberInfo& event : EventMembers()) {
        EXPECT_EQ(FindEventByName(Utf16ToUtf8(lower(event.name))), &event);
        EXPECT_EQ(FindEventByDispid(event.dispid), &event);
    }
}

// Each text property keeps its own value: written with its own name, every
// one that takes the write reads it back (ProtocolVersion normalises it).
TEST_F(Dispatch, TextPropertiesKeepTheirOwnValues) {
    std::vector<const MemberInfo*> taken;
    for (const MemberInfo& member : InterfaceMembers()) {
        if (!member.writable || member.type != VT_BSTR || member.IsIndexed()) continue;
        if (Put(member.dispid, Text(member.name)) == S_OK) taken.push_back(&member);
    }
    EXPECT_GE(taken.size(), 15u);
    for (const MemberInfo* member : taken) {
        const std::string_view name = member->name;
        EXPECT_EQ(GetAsText(member->dispid), name == "ProtocolVersion" ? "0.9" : name);
    }
}

TEST_F(Dispatch, ParameterNamesResolveToPositions) {
    std::u16string member = u"GetFile", local = u"localfile", offset = u"RestartOffset",
                   bogus = u"Bogus";
    std::array<LPOLESTR, 4> names{member.data(), offset.data(), local.data(), bogus.data()};
    std::array<DISPID, 4> ids{};
    EXPECT_EQ(Disp()->GetIDsOfNames(IID_NULL, names.data(), 4, LOCALE_USER_DEFAULT, ids.data()),
              DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids, (std::array<DISPID, 4>{0x45, 2, 0, DISPID_UNKNOWN}));
}

TEST_F(Dispatch, PutsConvertTheValueToThePropertyType) {
    EXPECT_EQ(Put(IdOf(u"ServerPort"), Text(" 990 ")), S_OK);
    EXPECT_EQ(GetAsText(IdOf(u"ServerPort")), "990");
    EXPECT_EQ(GetAsText(IdOf(u"ServerType")), "1") << "the put goes through put_ServerPort";
    EXPECT_EQ(Put(IdOf(u"ServerName"), I4(42)), S_OK);
    EXPECT_EQ(GetAsText(IdOf(u"ServerName")), "42");
    VARIANT flag = BoolVariant(true);
    EXPECT_EQ(Put(IdOf(u"Secure"), flag), S_OK);
    EXPECT_EQ(GetAsText(IdOf(u"Secure")), "True");
    EXPECT_EQ(GetAsText(IdOf(u"SecureProtocol")), "10");
    EXPECT_EQ(Put(IdOf(u"Passive"), Text("false")), S_OK);
    EXPECT_EQ(GetAsText(IdOf(u"Passive")), "False");
    // By-reference values are followed.
    LONG port = 443;
    VARIANT ref{};
    ref.vt = VT_I4 | VT_BYREF;
    ref.plVal = &port;
    EXPECT_EQ(DispatchPutProperty(Disp(), IdOf(u"ServerPort"), {}, &ref), S_OK);
    EXPECT_EQ(GetAsText(IdOf(u"ServerPort")), "443");
    // Values that do not convert are refused and leave the property alone.
    EXPECT_EQ(Put(IdOf(u"ServerPort"), Text("abc")), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Put(IdOf(u"Timeout"), Text("99999999999")), DISP_E_OVERFLOW);
    EXPECT_EQ(GetAsText(IdOf(u"Timeout")), "20");
}

TEST_F(Dispatch, FailuresBecomeExceptionsWithTheirDescription) {
    // A connect without a host fails in the FTP engine before any lookup.
    ASSERT_EQ(Put(IdOf(u"ThrowError"), I4(-1)), S_OK);
    VARIANT result{};
    EXCEPINFO exception{};
    EXPECT_EQ(DispatchCall(Disp(), IdOf(u"Connect"), {}, &result, &exception), DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, kAutomationErrorBase + fileErrorInvalidHostName);
    EXPECT_EQ(Utf8FromBstr(exception.bstrDescription),
              "The specified hostname is invalid or could not be resolved");
    EXPECT_EQ(Utf8FromBstr(exception.bstrSource), "Tollane.FileTransfer.7");
    ClearExcepInfo(&exception);
    // A later member failure without error information of its own does not reuse it.
    EXPECT_EQ(Put(IdOf(u"ServerType"), I4(9), &exception), DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, CTL_E_INVALIDPROPERTYVALUE);
    EXPECT_EQ(Utf8FromBstr(exception.bstrSource), "Tollane.FileTransfer.7");
    EXPECT_EQ(exception.bstrDescription, nullptr);
    ClearExcepInfo(&exception);
    EXPECT_EQ(Put(IdOf(u"Library"), Text("x"), &exception), DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, CTL_E_SETNOTSUPPORTED);
    ClearExcepInfo(&exception);
}

TEST_F(Dispatch, IndexedPropertiesTakeTheirIndex) {
    const DISPID activePort = IdOf(u"ActivePort");
    VARIANT index = I4(1);
    VARIANT value = I4(5000);
    EXPECT_EQ(DispatchPutProperty(Disp(), activePort, std::span<VARIANT>(&index, 1), &value), S_OK);
    VARIANT read{};
    VARIANT textIndex = Text("1");
    EXPECT_EQ(DispatchGetProperty(Disp(), activePort, std::span<VARIANT>(&textIndex, 1), &read),
              S_OK);
    EXPECT_EQ(read.vt, VT_I4);
    EXPECT_EQ(read.lVal, 5000);
    VariantClear(&textIndex);

    EXCEPINFO exception{};
    VARIANT badIndex = I4(2);
    EXPECT_EQ(DispatchGetProperty(Disp(), activePort, std::span<VARIANT>(&badIndex, 1), &read,
                                  &exception),
              DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, CTL_E_INVALIDPROPERTYARRAYINDEX);
    ClearExcepInfo(&exception);
    EXPECT_EQ(DispatchGetProperty(Disp(), activePort, {}, &read), DISP_E_BADPARAMCOUNT);
}

TEST_F(Dispatch, UnknownNamesDispidsAndInterfacesAreRefused) {
    DISPID dispid = 0;
    EXPECT_EQ(DispatchGetIdOfName(Disp(), u"NoSuchMember", &dispid), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(dispid, DISPID_UNKNOWN);
    VARIANT result{};
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(
        Disp()->Invoke(0x77, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
        DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Disp()->Invoke(0x2D, IID_IDispatch, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                             nullptr),
              DISP_E_UNKNOWNINTERFACE);
}

TEST_F(Dispatch, MethodsTakeArgumentsByPositionAndByName) {
    VARIANT result{};
    EXPECT_EQ(DispatchCall(Disp(), IdOf(u"Disconnect"), {}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 0);
    // Reset and Uninitialize have no Error result.
    VariantClear(&result);
    EXPECT_EQ(DispatchCall(Disp(), IdOf(u"Reset"), {}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_EMPTY);
    // Too many arguments.
    VARIANT one = I4(1);
    EXPECT_EQ(DispatchCall(Disp(), IdOf(u"Disconnect"), std::span<VARIANT>(&one, 1), &result),
              DISP_E_BADPARAMCOUNT);

    // Options by name: the secure-shell option refuses before any lookup.
    VARIANT arguments[] = {I4(fileOptionSecureShell), Text("example.com")};
    DISPID names[] = {5, 0};
    DISPPARAMS params{arguments, names, 2, 2};
    EXPECT_EQ(Disp()->Invoke(IdOf(u"Connect"), IID_NULL, 0, DISPATCH_METHOD, &params, &result,
                             nullptr, nullptr),
              S_OK);
    EXPECT_EQ(result.lVal, fileErrorInvalidUserName);
    EXPECT_EQ(GetAsText(IdOf(u"ServerName")), "example.com");
    VariantClear(&arguments[1]);
    DISPID unknown[] = {9};
    DISPPARAMS badName{&one, unknown, 1, 1};
    EXPECT_EQ(Disp()->Invoke(IdOf(u"Connect"), IID_NULL, 0, DISPATCH_METHOD, &badName, &result,
                             nullptr, nullptr),
              DISP_E_PARAMNOTFOUND);
}

// ---- Events -----------------------------------------------------------------------

class Events : public ControlTest {};

TEST_F(Events, SinksStillAdvisedWhenTheControlGoesAreReleased) {
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(control_->FindConnectionPoint(DIID__IFileTransferEvents, point.Receive()), S_OK);
    RecordingSink* sink = RecordingSink::Create();
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink, &cookie), S_OK);
    EXPECT_GT(sink->RefCount(), 1u);
    point.Reset();
    control_->Release();
    control_ = nullptr;
    EXPECT_EQ(sink->RefCount(), 1u);
    sink->Release();
}

}  // namespace
