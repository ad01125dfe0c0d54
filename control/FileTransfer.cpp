#include "control/FileTransfer.h"

#include <array>
#include <new>

#include "control/class_factory.h"
#include "control/engine_hold.h"
#include "control/module_lock.h"
#include "control/notify_window.h"
#include "net/transcript.h"
#include "platform/text.h"

CFileTransfer* CFileTransfer::Create(IUnknown* outer) {
    auto* control = new (std::nothrow) CFileTransfer();
    if (control && (!control->eventPoint_ || !control->propertyPoint_)) {
        control->FileTransferBase::Release();
        return nullptr;
    }
    if (control) control->outer_ = outer;
    return control;
}

CFileTransfer::CFileTransfer() {
    ModuleObjectCreated();
    state_.errorSource = Utf8ToUtf16(ProgIdOfClass(CLSID_FileTransfer));
    state_.enabled = TRUE;
    eventPoint_ = ConnectionPoint::Create(DIID__IFileTransferEvents, this);
    propertyPoint_ = ConnectionPoint::Create(IID_IPropertyNotifySink, this);
}

CFileTransfer::~CFileTransfer() {
    // Nothing below may count references again: the count (or the outer
    // object) is gone, and no sink hears of this any more.
    destroying_ = true;
    outer_ = nullptr;
    // The open connection and the engines stay: the engines own the connection
    // (the handle stays valid for whoever holds it), and the module keeps this
    // control's start of the engines until it ends (control/engine_hold.h). The
    // engine hears of this control no more: no transcript, no window.
    if (NetTranscriptUser() == this) NetSetTranscript(nullptr, nullptr);
    shell_.Detach();
    DestroyNotifyWindow(state_.notifyWindow);
    state_.notifyWindow = nullptr;
    TlsFreeCredentials(&state_.tlsCredentials);
    if (state_.enginesInitialized) KeepEngineStart(state_.clientHandle != kNoClientHandle);
    for (ConnectionPoint* point : {eventPoint_, propertyPoint_}) {
        if (!point) continue;
        point->DisconnectAll();
        point->Release();
    }
    ModuleObjectDestroyed();
}

// ---- Hosting ----------------------------------------------------------------

HRESULT CFileTransfer::SetClientSite(IUnknown* site) {
    ambientDispatch_.Reset();
    if (site) {
        site->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(ambientDispatch_.Receive()));
    }
    return S_OK;
}

void CFileTransfer::EnsureNotifyWindow() {
    if (!state_.notifyWindow) state_.notifyWindow = CreateNotifyWindow(*this);
}

bool CFileTransfer::IsUserMode() {
    if (!ambientDispatch_) return true;
    VARIANT answer;
    VariantInit(&answer);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    const HRESULT hr =
        ambientDispatch_->Invoke(kDispidAmbientUserMode, IID_NULL, LOCALE_USER_DEFAULT,
                                 DISPATCH_PROPERTYGET, &none, &answer, nullptr, nullptr);
    const bool userMode = SUCCEEDED(hr) && answer.vt == VT_BOOL && answer.boolVal != VARIANT_FALSE;
    VariantClear(&answer);
    return userMode;
}

HRESULT CFileTransfer::CheckReadable(const void* out) {
    if (!IsUserMode()) return CTL_E_GETNOTSUPPORTED;
    return out ? S_OK : E_POINTER;
}

HRESULT CFileTransfer::ReadText(std::u16string_view text, BSTR* out) {
    if (HRESULT hr = CheckReadable(out); FAILED(hr)) return hr;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

template <class T>
HRESULT CFileTransfer::ReadValue(T value, T* out) {
    if (HRESULT hr = CheckReadable(out); FAILED(hr)) return hr;
    *out = value;
    return S_OK;
}
template HRESULT CFileTransfer::ReadValue<LONG>(LONG, LONG*);
template HRESULT CFileTransfer::ReadValue<LONGLONG>(LONGLONG, LONGLONG*);
template HRESULT CFileTransfer::ReadValue<VARIANT_BOOL>(VARIANT_BOOL, VARIANT_BOOL*);

// ---- Connection points and events -------------------------------------------

HRESULT CFileTransfer::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (!points) return E_POINTER;
    IConnectionPoint* const all[] = {eventPoint_, propertyPoint_};
    return CreateConnectionPointEnumerator(all, points);
}

HRESULT CFileTransfer::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    if (!point) return E_POINTER;
    *point = nullptr;
    ConnectionPoint* found = iid == DIID__IFileTransferEvents ? eventPoint_
                             : iid == IID_IPropertyNotifySink ? propertyPoint_
                                                              : nullptr;
    if (!found) return CONNECT_E_NOCONNECTION;
    found->AddRef();
    *point = found;
    return S_OK;
}

bool CFileTransfer::RequestEdit(DISPID dispid) {
    if (destroying_) return true;
    bool allowed = true;
    for (IUnknown* sink : propertyPoint_->SinkReferences()) {
        if (allowed && static_cast<IPropertyNotifySink*>(sink)->OnRequestEdit(dispid) == S_FALSE)
            allowed = false;
        sink->Release();
    }
    return allowed;
}

void CFileTransfer::NotifyPropertyChanged(DISPID dispid) {
    if (destroying_) return;
    for (IUnknown* sink : propertyPoint_->SinkReferences()) {
        static_cast<IPropertyNotifySink*>(sink)->OnChanged(dispid);
        sink->Release();
    }
}

HRESULT CFileTransfer::FireEvent(DISPID event, std::span<VARIANT> arguments) {
    if (destroying_) {
        for (VARIANT& argument : arguments)
            VariantClear(&argument);
        return S_OK;
    }
    // Keep the control alive while handlers run: they may release it.
    AddRef();
    const HRESULT hr = eventPoint_->Fire(event, arguments);
    for (VARIANT& argument : arguments)
        VariantClear(&argument);
    Release();
    return hr;
}

namespace {

VARIANT LongArgument(LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

VARIANT TextArgument(std::u16string_view text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return v;
}

}  // namespace

HRESULT CFileTransfer::Fire_OnCancel() {
    return FireEvent(1, {});
}

HRESULT CFileTransfer::Fire_OnCommand(LONG resultCode, std::u16string_view resultString) {
    std::array<VARIANT, 2> arguments{LongArgument(resultCode), TextArgument(resultString)};
    return FireEvent(2, arguments);
}

HRESULT CFileTransfer::Fire_OnError(LONG errorCode, std::u16string_view description) {
    std::array<VARIANT, 2> arguments{LongArgument(errorCode), TextArgument(description)};
    return FireEvent(3, arguments);
}

HRESULT CFileTransfer::Fire_OnProgress(std::u16string_view fileName, LONG fileSize,
                                       LONG bytesCopied, LONG percent) {
    std::array<VARIANT, 4> arguments{TextArgument(fileName), LongArgument(fileSize),
                                     LongArgument(bytesCopied), LongArgument(percent)};
    return FireEvent(4, arguments);
}

HRESULT CFileTransfer::Fire_OnTimeout() {
    return FireEvent(5, {});
}

HRESULT CFileTransfer::Fire_OnTranscript(LONG kind, std::u16string_view text) {
    std::array<VARIANT, 2> arguments{LongArgument(kind), TextArgument(text)};
    return FireEvent(6, arguments);
}
