// The part every event sink of the command line shares: an IDispatch that
// offers no type information and no names; only Invoke is its own.
#pragma once

#include "control/FileTransfer.h"

class EventSink : public ComObject<IDispatch> {
  public:
    HRESULT GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
};
