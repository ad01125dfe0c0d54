// The container interfaces of an invisible in-process control: one object
// inside the control that shares its identity (every IUnknown call goes to
// the control, or to its outer object when aggregated). Most answers are the
// fixed ones of a control that never shows anything: it draws nothing, has no
// verbs of its own, no data formats and no property pages.
#pragma once

#include <vector>

#include "platform/ole.h"

class CFileTransfer;

class OleShell final : public IOleObject,
                       public IOleControl,
                       public IOleInPlaceObjectWindowless,
                       public IOleInPlaceActiveObject,
                       public IViewObjectEx,
                       public IDataObject,
                       public IQuickActivate,
                       public ISpecifyPropertyPages {
  public:
    // Recompose on resize, cannot link inside, inside-out, activate when
    // visible, invisible at run time, set client site first.
    static constexpr DWORD kMiscStatus = 132497;
    static constexpr DWORD kViewStatus = VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND;

    explicit OleShell(CFileTransfer& control) : control_(control) {}
    // The interface of iid with a reference added, or false for one the shell lacks.
    bool Answer(REFIID iid, void** object);
    // Drops the client site and the advise sinks (the control's destruction).
    void Detach();

    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IOleObject
    HRESULT SetClientSite(IOleClientSite* site) override;
    HRESULT GetClientSite(IOleClientSite** site) override;
    HRESULT SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    HRESULT Close(DWORD) override { return S_OK; }
    HRESULT SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    HRESULT GetMoniker(DWORD, DWORD, IMoniker** moniker) override;
    HRESULT InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    HRESULT GetClipboardData(DWORD, IDataObject** data) override;
    HRESULT DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override;
    HRESULT EnumVerbs(IEnumOLEVERB** verbs) override;
    HRESULT Update() override { return S_OK; }
    HRESULT IsUpToDate() override { return S_OK; }
    HRESULT GetUserClassID(CLSID* clsid) override;
    HRESULT GetUserType(DWORD, LPOLESTR* type) override;
    HRESULT SetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT GetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT Advise(IAdviseSink* sink, DWORD* cookie) override;
    HRESULT Unadvise(DWORD cookie) override;
    HRESULT EnumAdvise(IEnumSTATDATA** advises) override;
    HRESULT GetMiscStatus(DWORD aspect, DWORD* status) override;
    HRESULT SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IOleControl
    HRESULT GetControlInfo(CONTROLINFO* info) override;
    HRESULT OnMnemonic(MSG*) override { return S_OK; }
    HRESULT OnAmbientPropertyChange(DISPID) override { return S_OK; }
    HRESULT FreezeEvents(BOOL) override { return S_OK; }

    // IOleWindow (both in-place interfaces): windowless, so no window to give.
    HRESULT GetWindow(HWND* window) override;
    HRESULT ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    // IOleInPlaceObject, IOleInPlaceObjectWindowless
    HRESULT InPlaceDeactivate() override { return S_OK; }
    HRESULT UIDeactivate() override { return S_OK; }
    HRESULT SetObjectRects(LPCRECT position, LPCRECT clip) override;
    HRESULT ReactivateAndUndo() override { return E_NOTIMPL; }
    HRESULT OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT* result) override;
    HRESULT GetDropTarget(IDropTarget** target) override;
    // IOleInPlaceActiveObject
    HRESULT TranslateAccelerator(LPMSG) override { return S_FALSE; }
    HRESULT OnFrameWindowActivate(BOOL) override { return S_OK; }
    HRESULT OnDocWindowActivate(BOOL) override { return S_OK; }
    HRESULT ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    HRESULT EnableModeless(BOOL) override { return S_OK; }

    // IViewObject, IViewObject2, IViewObjectEx: Draw paints nothing.
    HRESULT Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC, LPCRECTL bounds, LPCRECTL,
                 BOOL (*)(ULONG_PTR), ULONG_PTR) override;
    HRESULT GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) override;
    HRESULT Freeze(DWORD, LONG, void*, DWORD*) override { return E_NOTIMPL; }
    HRESULT Unfreeze(DWORD) override { return E_NOTIMPL; }
    HRESULT SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
    HRESULT GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
    HRESULT GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) override;
    HRESULT GetRect(DWORD, LPRECTL) override { return E_NOTIMPL; }
    HRESULT GetViewStatus(DWORD* status) override;
    HRESULT QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG, DWORD* hit) override;
    HRESULT QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT rect, LONG, DWORD* hit) override;
    HRESULT GetNaturalExtent(DWORD, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO*, LPSIZEL) override {
        return E_NOTIMPL;
    }

    // IDataObject: no format to render.
    HRESULT GetData(FORMATETC*, STGMEDIUM*) override { return DV_E_FORMATETC; }
    HRESULT GetDataHere(FORMATETC*, STGMEDIUM*) override { return DV_E_FORMATETC; }
    HRESULT QueryGetData(FORMATETC*) override { return DV_E_FORMATETC; }
    HRESULT GetCanonicalFormatEtc(FORMATETC*, FORMATETC* canonical) override;
    HRESULT SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT EnumFormatEtc(DWORD, IEnumFORMATETC** formats) override;
    HRESULT DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD* connection) override;
    HRESULT DUnadvise(DWORD) override { return OLE_E_NOCONNECTION; }
    HRESULT EnumDAdvise(IEnumSTATDATA** advises) override;

    // IQuickActivate: the client site, the event and property sinks in one call.
    HRESULT QuickActivate(QACONTAINER* container, QACONTROL* control) override;
    HRESULT SetContentExtent(LPSIZEL size) override { return SetExtent(DVASPECT_CONTENT, size); }
    HRESULT GetContentExtent(LPSIZEL size) override { return GetExtent(DVASPECT_CONTENT, size); }

    // ISpecifyPropertyPages: an empty list.
    HRESULT GetPages(CAUUID* pages) override;

  private:
    CFileTransfer& control_;
    ComPtr<IOleClientSite> site_;
    // IOleObject::Advise sinks by cookie (1, 2, ...; a freed slot stays empty).
    std::vector<ComPtr<IAdviseSink>> advises_;
    ComPtr<IAdviseSink> viewSink_;
    DWORD viewAspects_ = 0;
    DWORD viewFlags_ = 0;
};
