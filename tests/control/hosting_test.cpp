// The control as a component: its class factory (with aggregation), the
// module's unload check, and the interfaces a container asks for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/FileTransfer.h"
#include "control_test_support.h"
#include "platform/com.h"
#include "platform/ole.h"

namespace {

// An object that aggregates the control and hands out its interfaces as its own.
class Outer final : public IUnknown {
  public:
    IUnknown* inner = nullptr;
    ULONG refs = 1;
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown) {
            *object = this;
            AddRef();
            return S_OK;
        }
        return inner->QueryInterface(iid, object);
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }  // lives on the test's stack
};

ComPtr<IClassFactory> Factory() {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(DllGetClassObject(CLSID_FileTransfer, IID_IClassFactory,
                                reinterpret_cast<void**>(factory.Receive())),
              S_OK);
    return factory;
}

TEST(ClassFactoryTest, MakesPlainAndAggregatedControlsAndCountsThem) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(DllGetClassObject(IID_IFileTransfer, IID_IClassFactory, &object),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    ComPtr<IClassFactory> factory = Factory();
    ASSERT_TRUE(factory);
    ASSERT_EQ(DllCanUnloadNow(), S_OK);

    Outer outer;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)),
              S_OK);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);

    // Interfaces asked through the inner unknown count on the outer object and
    // give the outer object as their identity.
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(outer.inner->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)),
              S_OK);
    EXPECT_EQ(outer.refs, 2u);
    IUnknown* identity = nullptr;
    ASSERT_EQ(dispatch->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    identity->Release();
    IPersistStreamInit* persist = nullptr;
    EXPECT_EQ(outer.QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist)),
              S_OK);
    persist->Release();
    dispatch->Release();
    EXPECT_EQ(outer.refs, 1u);
    // The inner unknown's own count keeps the control; its last release ends it.
    EXPECT_EQ(outer.inner->Release(), 0u);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);

    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, &object), S_OK);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    static_cast<IDispatch*>(object)->Release();
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), E_UNEXPECTED);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

class HostingTest : public ControlTest {};

TEST_F(HostingTest, ErrorInfoAndSafetyAnswers) {
    EXPECT_EQ(control_->InterfaceSupportsErrorInfo(IID_IFileTransfer), S_OK);
    EXPECT_EQ(control_->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    EXPECT_EQ(control_->InterfaceSupportsErrorInfo(IID_IPersistStreamInit), S_FALSE);

    DWORD supported = 0, enabled = 0;
    ASSERT_EQ(control_->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
    EXPECT_EQ(supported, 3u);
    EXPECT_EQ(enabled, 2u);
    struct {
        DWORD mask, enabled;
        HRESULT result;
    } const cases[] = {
        {1, 1, E_FAIL}, {3, 1, E_FAIL}, {1, 3, E_FAIL}, {3, 3, S_OK},
        {2, 2, S_OK},   {0, 0, S_OK},   {2, 1, S_OK},   {1, 2, S_OK},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(control_->SetInterfaceSafetyOptions(IID_IDispatch, c.mask, c.enabled), c.result)
            << c.mask << ' ' << c.enabled;
        ASSERT_EQ(control_->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
        EXPECT_EQ(enabled, 2u);  // never changes
    }
}

class ClientSite final : public ComObject<IOleClientSite> {
  public:
    HRESULT SaveObject() override { return E_NOTIMPL; }
    HRESULT GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    HRESULT GetContainer(IOleContainer**) override { return E_NOTIMPL; }
    HRESULT ShowObject() override { return S_OK; }
    HRESULT OnShowWindow(BOOL) override { return S_OK; }
    HRESULT RequestNewObjectLayout() override { return E_NOTIMPL; }
};

TEST_F(HostingTest, ContainerInterfacesShareTheControlsIdentity) {
    // Each embedding interface is a row of the shell's table; this one stands
    // for the shell's identity, which is the control's.
    ComPtr<IOleObject> object;
    ASSERT_EQ(control_->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(object.Receive())),
              S_OK);
    ComPtr<IUnknown> identity, back;
    ASSERT_EQ(control_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identity.Receive())),
              S_OK);
    ASSERT_EQ(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(back.Receive())), S_OK);
    EXPECT_EQ(back.get(), identity.get());
    SIZEL size{1200, 300};
    EXPECT_EQ(object->SetExtent(DVASPECT_CONTENT, &size), S_OK);
    EXPECT_EQ(control_->ExtentWidth(), 1200u);
    EXPECT_EQ(object->GetExtent(2, &size), DV_E_DVASPECT);
    EXPECT_EQ(object->DoVerb(7, nullptr, nullptr, 0, nullptr, nullptr), OLEOBJ_S_INVALIDVERB);
    // A client site brings the notification window along.
    EXPECT_EQ(control_->State().notifyWindow, nullptr);
    ClientSite* site = new ClientSite();
    EXPECT_EQ(object->SetClientSite(site), S_OK);
    EXPECT_NE(control_->State().notifyWindow, nullptr);
    EXPECT_EQ(object->SetClientSite(nullptr), S_OK);
    site->Release();

    ComPtr<IViewObjectEx> view;
    ASSERT_EQ(control_->QueryInterface(IID_IViewObjectEx, reinterpret_cast<void**>(view.Receive())),
              S_OK);
    SIZEL seen{};
    EXPECT_EQ(view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &seen), S_OK);
    EXPECT_EQ(seen.cx, 1200);
    EXPECT_EQ(seen.cy, 300);
    const RECTL bounds{0, 0, 10, 10};
    EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, nullptr, &bounds, nullptr,
                         nullptr, 0),
              S_OK);

    ComPtr<IDataObject> data;
    ASSERT_EQ(control_->QueryInterface(IID_IDataObject, reinterpret_cast<void**>(data.Receive())),
              S_OK);
    FORMATETC format{};
    EXPECT_EQ(data->QueryGetData(&format), DV_E_FORMATETC);
}

// Records the property changes it hears of.
class ChangeSink final : public ComObject<IPropertyNotifySink> {
  public:
    std::vector<DISPID> changed, asked;
    bool refuse = false;
    HRESULT OnChanged(DISPID dispid) override {
        changed.push_back(dispid);
        return S_OK;
    }
    HRESULT OnRequestEdit(DISPID dispid) override {
        asked.push_back(dispid);
        return refuse ? S_FALSE : S_OK;
    }
};

TEST_F(HostingTest, ConnectionPointsAreEnumeratedAndPropertyWritesReachTheirSink) {
    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(control_->EnumConnectionPoints(points.Receive()), S_OK);
    IConnectionPoint* got[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(points->Next(3, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    const IID expected[] = {DIID__IFileTransferEvents, IID_IPropertyNotifySink};
    for (int i = 0; i < 2; ++i) {
        IID iid{};
        EXPECT_EQ(got[i]->GetConnectionInterface(&iid), S_OK);
        EXPECT_EQ(iid, expected[i]);
        got[i]->Release();
    }
    EXPECT_EQ(points->Reset(), S_OK);
    EXPECT_EQ(points->Skip(3), S_FALSE);

    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(control_->FindConnectionPoint(IID_IPropertyNotifySink, point.Receive()), S_OK);
    auto* sink = new ChangeSink();
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink, &cookie), S_OK);
    VARIANT value{};
    value.vt = VT_BOOL;
    value.boolVal = VARIANT_FALSE;
    EXPECT_EQ(DispatchPutProperty(control_, kDispidEnabled, {}, &value), S_OK);
    value.vt = VT_BSTR;
    value.bstrVal = BstrFromUtf8("perhaps");  // refused: no change to report
    EXPECT_EQ(DispatchPutProperty(control_, kDispidEnabled, {}, &value), DISP_E_TYPEMISMATCH);
    VariantClear(&value);
    EXPECT_EQ(sink->changed, std::vector<DISPID>{kDispidEnabled});
    // A container that refuses the edit keeps the value and hears of no change.
    sink->refuse = true;
    value.vt = VT_BOOL;
    value.boolVal = VARIANT_TRUE;
    EXPECT_EQ(DispatchPutProperty(control_, kDispidEnabled, {}, &value), S_FALSE);
    VARIANT_BOOL enabled = VARIANT_TRUE;
    EXPECT_EQ(control_->get_Enabled(&enabled), S_OK);
    EXPECT_EQ(enabled, VARIANT_FALSE);
    EXPECT_EQ(sink->changed, std::vector<DISPID>{kDispidEnabled});
    EXPECT_EQ(sink->asked.back(), kDispidEnabled);
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    sink->Release();
}

TEST_F(HostingTest, PersistenceKeepsTheExtentOnly) {
    // A new control is 28 pixels square at 96 pixels per inch, in HIMETRIC.
    EXPECT_EQ(control_->ExtentWidth(), 741u);
    EXPECT_EQ(control_->ExtentHeight(), 741u);

    ComPtr<IPropertyBag> bag;
    ASSERT_EQ(CreateMemoryPropertyBag(bag.Receive()), S_OK);
    for (auto [name, number] : {std::pair{u"_cx", 1000u}, std::pair{u"_cy", 2000u}}) {
        VARIANT value{};
        value.vt = VT_UI4;
        value.ulVal = number;
        ASSERT_EQ(bag->Write(name, &value), S_OK);
    }
    ASSERT_EQ(control_->Load(bag.get(), nullptr), S_OK);
    EXPECT_EQ(control_->put_ServerName(Bstr("127.0.0.2")), S_OK);

    ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Receive()), S_OK);
    ASSERT_EQ(control_->Save(stream.get(), TRUE), S_OK);
    ULARGE_INTEGER end{};
    ASSERT_EQ(stream->Seek({0}, STREAM_SEEK_CUR, &end), S_OK);
    ULARGE_INTEGER most{};
    ASSERT_EQ(control_->GetSizeMax(&most), S_OK);
    EXPECT_EQ(end.QuadPart, most.QuadPart);

    CFileTransfer* loaded = CFileTransfer::Create();
    ASSERT_EQ(stream->Seek({0}, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(loaded->Load(stream.get()), S_OK);
    EXPECT_EQ(loaded->ExtentWidth(), 1000u);
    EXPECT_EQ(loaded->ExtentHeight(), 2000u);
    BSTR server = nullptr;
    ASSERT_EQ(loaded->get_ServerName(&server), S_OK);
    EXPECT_EQ(SysStringLen(server), 0u);  // properties are never persisted
    SysFreeString(server);

    // A short or foreign stream changes nothing.
    ComPtr<IStream> bad;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, bad.Receive()), S_OK);
    const BYTE junk[16] = {1, 2, 3};
    ASSERT_EQ(bad->Write(junk, 10, nullptr), S_OK);
    ASSERT_EQ(bad->Seek({0}, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(loaded->Load(bad.get()), STG_E_READFAULT);
    ASSERT_EQ(bad->Write(junk, 16, nullptr), S_OK);
    ASSERT_EQ(bad->Seek({0}, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(loaded->Load(bad.get()), E_FAIL);
    EXPECT_EQ(loaded->ExtentWidth(), 1000u);

    // A storage keeps the extent too.
    ComPtr<IStorage> storage;
    ASSERT_EQ(CreateMemoryStorage(storage.Receive()), S_OK);
    EXPECT_EQ(loaded->Load(storage.get()), STG_E_FILENOTFOUND);
    ASSERT_EQ(loaded->InitNew(storage.get()), S_OK);
    EXPECT_EQ(loaded->ExtentWidth(), 741u);
    EXPECT_EQ(loaded->InitNew(storage.get()), CO_E_ALREADYINITIALIZED);
    ASSERT_EQ(control_->Save(storage.get(), FALSE), S_OK);
    ASSERT_EQ(control_->SaveCompleted(nullptr), E_UNEXPECTED);  // it holds no storage
    ASSERT_EQ(loaded->HandsOffStorage(), S_OK);
    EXPECT_EQ(loaded->Save(static_cast<IStorage*>(nullptr), TRUE), E_UNEXPECTED);
    EXPECT_EQ(loaded->SaveCompleted(storage.get()), S_OK);
    EXPECT_EQ(loaded->IsDirty(), S_FALSE);
    CFileTransfer* fromStorage = CFileTransfer::Create();
    ASSERT_EQ(fromStorage->Load(storage.get()), S_OK);
    EXPECT_EQ(fromStorage->ExtentHeight(), 2000u);
    fromStorage->Release();

    ComPtr<IPropertyBag> out;
    ASSERT_EQ(CreateMemoryPropertyBag(out.Receive()), S_OK);
    ASSERT_EQ(loaded->InitNew(), S_OK);
    ASSERT_EQ(loaded->Save(out.get(), TRUE, TRUE), S_OK);
    VARIANT cx{};
    ASSERT_EQ(out->Read(u"_CX", &cx, nullptr), S_OK);
    EXPECT_EQ(cx.vt, VT_UI4);
    EXPECT_EQ(cx.ulVal, 741u);
    loaded->Release();
}

}  // namespace
