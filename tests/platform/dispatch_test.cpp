#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/dispatch.h"
#include "test_variant.h"

namespace {

constexpr IID IID_TestEvents =
    MakeGuid(0x12345678, 0x1234, 0x5678, 0x9A, 0xBC, 0xDE, 0xF0, 0x12, 0x34, 0x56, 0x78);

// An event sink that records each call and may disconnect itself.
class RecordingSink final : public EventSink {
  public:
    struct Call {
        DISPID id;
        std::vector<std::string> args;  // as text, in written order
    };
    std::vector<Call> calls;
    ConnectionPoint* unadviseFrom = nullptr;
    DWORD cookie = 0;

    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                   UINT*) override {
        EXPECT_EQ(flags, DISPATCH_METHOD);
        Call call{id, {}};
        for (UINT i = 0; VARIANTARG* arg = DispParamsArgument(params, i); ++i) {
            TestVariant text;
            VariantChangeType(text.get(), arg, 0, VT_BSTR);
            call.args.push_back(text.Text());
            if (arg->vt == (VT_BYREF | VT_I4)) *arg->plVal = 99;  // hand a value back
        }
        calls.push_back(call);
        if (unadviseFrom) unadviseFrom->Unadvise(cookie);
        return S_OK;
    }
};

class ComObjects : public ::testing::Test {
  protected:
    void SetUp() override { point = ConnectionPoint::Create(IID_TestEvents, nullptr); }
    void TearDown() override { EXPECT_EQ(point->Release(), 0u); }
    ConnectionPoint* point = nullptr;
};

TEST_F(ComObjects, QueryInterfaceAnswersTheListedInterfacesOnly) {
    RecordingSink* sink = new RecordingSink();
    void* p = nullptr;
    ASSERT_EQ(sink->QueryInterface(IID_IDispatch, &p), S_OK);
    EXPECT_EQ(p, static_cast<IDispatch*>(sink));
    ASSERT_EQ(sink->QueryInterface(IID_IUnknown, &p), S_OK);
    EXPECT_EQ(sink->QueryInterface(IID_IConnectionPoint, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(sink->RefCount(), 3u);
    sink->Release();
    sink->Release();
    EXPECT_EQ(sink->Release(), 0u);
}

TEST_F(ComObjects, FiresToEverySinkWithArgumentsInWrittenOrder) {
    auto first = ComPtr<RecordingSink>::Attach(new RecordingSink());
    auto second = ComPtr<RecordingSink>::Attach(new RecordingSink());
    DWORD c1 = 0, c2 = 0;
    ASSERT_EQ(point->Advise(first.get(), &c1), S_OK);
    ASSERT_EQ(point->Advise(second.get(), &c2), S_OK);
    EXPECT_NE(c1, 0u);
    EXPECT_NE(c1, c2);
    EXPECT_EQ(point->SinkCount(), 2u);

    TestVariant a, b;
    a.v.vt = VT_I4;
    a.v.lVal = 10057;
    SetText(b.get(), "No connection");
    VARIANT args[2] = {a.v, b.v};
    ASSERT_EQ(point->Fire(3, args), S_OK);
    for (auto* sink : {first.get(), second.get()}) {
        ASSERT_EQ(sink->calls.size(), 1u);
        EXPECT_EQ(sink->calls[0].id, 3);
        EXPECT_EQ(sink->calls[0].args, (std::vector<std::string>{"10057", "No connection"}));
    }
    ASSERT_EQ(point->Unadvise(c1), S_OK);
    EXPECT_EQ(point->Unadvise(c1), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(point->Fire(4, {}), S_OK);
    EXPECT_EQ(first->calls.size(), 1u);
    EXPECT_EQ(second->calls.size(), 2u);
    point->DisconnectAll();
    EXPECT_EQ(second->RefCount(), 1u);  // the point let go of its reference
}

TEST_F(ComObjects, ByReferenceArgumentsCarryValuesBack) {
    auto sink = ComPtr<RecordingSink>::Attach(new RecordingSink());
    DWORD cookie;
    ASSERT_EQ(point->Advise(sink.get(), &cookie), S_OK);
    LONG cancel = 0;
    VARIANT arg{};
    arg.vt = VT_BYREF | VT_I4;
    arg.plVal = &cancel;
    ASSERT_EQ(point->Fire(1, std::span<VARIANT>(&arg, 1)), S_OK);
    EXPECT_EQ(cancel, 99);
}

TEST_F(ComObjects, ASinkMayDisconnectWhileAnEventIsFired) {
    auto sink = ComPtr<RecordingSink>::Attach(new RecordingSink());
    ASSERT_EQ(point->Advise(sink.get(), &sink->cookie), S_OK);
    sink->unadviseFrom = point;
    ASSERT_EQ(point->Fire(2, {}), S_OK);
    EXPECT_EQ(point->SinkCount(), 0u);
    EXPECT_EQ(sink->RefCount(), 1u);
}

TEST_F(ComObjects, SinksMustSpeakDispatch) {
    struct NotASink final : ComObject<IConnectionPoint> {
        HRESULT GetConnectionInterface(IID*) override { return E_NOTIMPL; }
        HRESULT GetConnectionPointContainer(IConnectionPointContainer**) override {
            return E_NOTIMPL;
        }
        HRESULT Advise(IUnknown*, DWORD*) override { return E_NOTIMPL; }
        HRESULT Unadvise(DWORD) override { return E_NOTIMPL; }
        HRESULT EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }
    };
    auto other = ComPtr<NotASink>::Attach(new NotASink());
    DWORD cookie = 5;
    EXPECT_EQ(point->Advise(other.get(), &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    IID iid;
    ASSERT_EQ(point->GetConnectionInterface(&iid), S_OK);
    EXPECT_EQ(iid, IID_TestEvents);
}

TEST(ErrorInformation, GetHandsOverAndClearsOnThisThreadOnly) {
    ComPtr<ICreateErrorInfo> create;
    ASSERT_EQ(CreateErrorInfo(create.Receive()), S_OK);
    create->SetGUID(IID_TestEvents);
    auto info = create.As<IErrorInfo>();
    ASSERT_TRUE(info);
    ASSERT_EQ(SetErrorInfo(0, info.get()), S_OK);

    ComPtr<IErrorInfo> current;
    ASSERT_EQ(GetErrorInfo(0, current.Receive()), S_OK);
    EXPECT_EQ(current.get(), info.get());
    GUID guid;
    current->GetGUID(&guid);
    EXPECT_EQ(guid, IID_TestEvents);

    ComPtr<IErrorInfo> again;
    EXPECT_EQ(GetErrorInfo(0, again.Receive()), S_FALSE);  // taken by the first call
    EXPECT_FALSE(again);

    // Another thread does not see this one's.
    SetErrorInfo(0, current.get());
    std::thread other([] {
        IErrorInfo* none = nullptr;
        EXPECT_EQ(GetErrorInfo(0, &none), S_FALSE);
    });
    other.join();
    SetErrorInfo(0, nullptr);
    IErrorInfo* none = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &none), S_FALSE);
}

}  // namespace
