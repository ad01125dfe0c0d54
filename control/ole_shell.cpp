#include "control/ole_shell.h"

#include "control/FileTransfer.h"

namespace {

// The interfaces the shell answers, each with the cast that reaches it.
struct ShellInterface {
    const IID* iid;
    IUnknown* (*cast)(OleShell&);
};

template <class I, class Via = I>
IUnknown* As(OleShell& shell) {
    return static_cast<I*>(static_cast<Via*>(&shell));
}

constexpr ShellInterface kInterfaces[] = {
    {&IID_IOleObject, &As<IOleObject>},
    {&IID_IOleControl, &As<IOleControl>},
    {&IID_IOleWindow, &As<IOleWindow, IOleInPlaceObject>},
    {&IID_IOleInPlaceObject, &As<IOleInPlaceObject>},
    {&IID_IOleInPlaceObjectWindowless, &As<IOleInPlaceObjectWindowless>},
    {&IID_IOleInPlaceActiveObject, &As<IOleInPlaceActiveObject>},
    {&IID_IViewObject, &As<IViewObject>},
    {&IID_IViewObject2, &As<IViewObject2>},
    {&IID_IViewObjectEx, &As<IViewObjectEx>},
    {&IID_IDataObject, &As<IDataObject>},
    {&IID_IQuickActivate, &As<IQuickActivate>},
    {&IID_ISpecifyPropertyPages, &As<ISpecifyPropertyPages>},
};

template <class T>
HRESULT NoObject(T** out, HRESULT result) {
    if (out) *out = nullptr;
    return out ? result : E_POINTER;
}

bool Inside(LPCRECT bounds, LONG x, LONG y) {
    return x >= bounds->left && x < bounds->right && y >= bounds->top && y < bounds->bottom;
}

}  // namespace

bool OleShell::Answer(REFIID iid, void** object) {
    for (const ShellInterface& entry : kInterfaces) {
        if (*entry.iid == iid) {
            IUnknown* found = entry.cast(*this);
            found->AddRef();
            *object = found;
            return true;
        }
    }
    return false;
}

void OleShell::Detach() {
    site_.Reset();
    advises_.clear();
    viewSink_.Reset();
}

HRESULT OleShell::QueryInterface(REFIID iid, void** object) {
    return control_.QueryInterface(iid, object);
}
ULONG OleShell::AddRef() {
    return control_.AddRef();
}
ULONG OleShell::Release() {
    return control_.Release();
}

// ---- IOleObject -------------------------------------------------------------------

HRESULT OleShell::SetClientSite(IOleClientSite* site) {
    site_ = ComPtr<IOleClientSite>::Share(site);
    control_.SetClientSite(site);
    if (site) control_.EnsureNotifyWindow();
    return S_OK;
}

HRESULT OleShell::GetClientSite(IOleClientSite** site) {
    if (!site) return E_POINTER;
    *site = ComPtr<IOleClientSite>(site_).Detach();
    return S_OK;
}

HRESULT OleShell::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    return NoObject(moniker, E_NOTIMPL);
}

HRESULT OleShell::GetClipboardData(DWORD, IDataObject** data) {
    return NoObject(data, E_NOTIMPL);
}

HRESULT OleShell::DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) {
    // The standard verbs (primary, show, open, hide, UI- and in-place activation,
    // discard undo state) all leave an invisible control as it is.
    if (verb >= OLEIVERB_DISCARDUNDOSTATE && verb <= OLEIVERB_PRIMARY) return S_OK;
    return verb > 0 ? OLEOBJ_S_INVALIDVERB : E_NOTIMPL;
}

HRESULT OleShell::EnumVerbs(IEnumOLEVERB** verbs) {
    return NoObject(verbs, OLEOBJ_E_NOVERBS);
}

HRESULT OleShell::GetUserClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_FileTransfer;
    return S_OK;
}

HRESULT OleShell::GetUserType(DWORD, LPOLESTR* type) {
    return NoObject(type, OLE_S_USEREG);  // the registry's name of the class
}

HRESULT OleShell::SetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    control_.SetExtent(static_cast<DWORD>(size->cx), static_cast<DWORD>(size->cy));
    return S_OK;
}

HRESULT OleShell::GetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    size->cx = static_cast<LONG>(control_.ExtentWidth());
    size->cy = static_cast<LONG>(control_.ExtentHeight());
    return S_OK;
}

HRESULT OleShell::Advise(IAdviseSink* sink, DWORD* cookie) {
    if (!sink || !cookie) return E_INVALIDARG;
    advises_.push_back(ComPtr<IAdviseSink>::Share(sink));
    *cookie = static_cast<DWORD>(advises_.size());
    return S_OK;
}

HRESULT OleShell::Unadvise(DWORD cookie) {
    if (cookie == 0 || cookie > advises_.size() || !advises_[cookie - 1]) return OLE_E_NOCONNECTION;
    advises_[cookie - 1].Reset();
    return S_OK;
}

HRESULT OleShell::EnumAdvise(IEnumSTATDATA** advises) {
    return NoObject(advises, E_NOTIMPL);
}

HRESULT OleShell::GetMiscStatus(DWORD, DWORD* status) {
    if (!status) return E_POINTER;
    *status = kMiscStatus;
    return S_OK;
}

// ---- IOleControl, in-place -----------------------------------------------------------

HRESULT OleShell::GetControlInfo(CONTROLINFO* info) {
    if (!info) return E_POINTER;
    info->hAccel = nullptr;  // no mnemonics
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

HRESULT OleShell::GetWindow(HWND* window) {
    return NoObject(window, E_FAIL);
}

HRESULT OleShell::SetObjectRects(LPCRECT position, LPCRECT clip) {
    return position && clip ? S_OK : E_POINTER;
}

HRESULT OleShell::OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT* result) {
    if (result) *result = 0;
    return S_FALSE;  // not handled
}

HRESULT OleShell::GetDropTarget(IDropTarget** target) {
    return NoObject(target, E_NOTIMPL);
}

// ---- Views ---------------------------------------------------------------------------

HRESULT OleShell::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC, LPCRECTL bounds,
                       LPCRECTL, BOOL (*)(ULONG_PTR), ULONG_PTR) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    return bounds ? S_OK : E_INVALIDARG;
}

HRESULT OleShell::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) {
    return NoObject(colors, S_FALSE);  // no palette of its own
}

HRESULT OleShell::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
    viewSink_ = ComPtr<IAdviseSink>::Share(sink);
    viewAspects_ = aspects;
    viewFlags_ = flags;
    return S_OK;
}

HRESULT OleShell::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
    if (aspects) *aspects = viewAspects_;
    if (flags) *flags = viewFlags_;
    if (sink) *sink = ComPtr<IAdviseSink>(viewSink_).Detach();
    return S_OK;
}

HRESULT OleShell::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
    return GetExtent(aspect, size);
}

HRESULT OleShell::GetViewStatus(DWORD* status) {
    if (!status) return E_POINTER;
    *status = kViewStatus;
    return S_OK;
}

HRESULT OleShell::QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG, DWORD* hit) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!bounds || !hit) return E_POINTER;
    *hit = Inside(bounds, location.x, location.y) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
}

HRESULT OleShell::QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT rect, LONG, DWORD* hit) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!bounds || !rect || !hit) return E_POINTER;
    const bool apart = rect->right <= bounds->left || rect->left >= bounds->right ||
                       rect->bottom <= bounds->top || rect->top >= bounds->bottom;
    *hit = apart ? HITRESULT_OUTSIDE : HITRESULT_HIT;
    return S_OK;
}

// ---- Data ----------------------------------------------------------------------------

HRESULT OleShell::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* canonical) {
    if (!canonical) return E_POINTER;
    canonical->ptd = nullptr;
    return DATA_S_SAMEFORMATETC;
}

HRESULT OleShell::EnumFormatEtc(DWORD, IEnumFORMATETC** formats) {
    return NoObject(formats, E_NOTIMPL);
}

HRESULT OleShell::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD* connection) {
    if (connection) *connection = 0;
    return OLE_E_ADVISENOTSUPPORTED;
}

HRESULT OleShell::EnumDAdvise(IEnumSTATDATA** advises) {
    return NoObject(advises, OLE_E_ADVISENOTSUPPORTED);
}

// ---- Quick activation, property pages -----------------------------------------------------

HRESULT OleShell::QuickActivate(QACONTAINER* container, QACONTROL* control) {
    if (!container || !control) return E_POINTER;
    if (container->cbSize < sizeof(QACONTAINER) || control->cbSize < sizeof(QACONTROL))
        return E_INVALIDARG;
    SetClientSite(container->pClientSite);
    control->dwMiscStatus = kMiscStatus;
    control->dwViewStatus = kViewStatus;
    control->dwEventCookie = 0;
    control->dwPropNotifyCookie = 0;
    control->dwPointerActivationPolicy = 0;
    const struct {
        IUnknown* sink;
        const IID& iid;
        DWORD* cookie;
    } points[] = {
        {container->pUnkEventSink, DIID__IFileTransferEvents, &control->dwEventCookie},
        {container->pPropertyNotifySink, IID_IPropertyNotifySink, &control->dwPropNotifyCookie}};
    for (const auto& point : points) {
        ComPtr<IConnectionPoint> found;
        if (point.sink && SUCCEEDED(control_.FindConnectionPoint(point.iid, found.Receive())))
            found->Advise(point.sink, point.cookie);
    }
    if (container->pAdviseSink) SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
    return S_OK;
}

HRESULT OleShell::GetPages(CAUUID* pages) {
    if (!pages) return E_POINTER;
    pages->cElems = 0;
    pages->pElems = nullptr;
    return S_OK;
}
