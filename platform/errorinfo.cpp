#include <string>
#include <utility>

#include "platform/automation.h"
#include "platform/text.h"

namespace {

class ErrorInfo final : public ComObject<IErrorInfo, ICreateErrorInfo> {
  public:
    HRESULT GetGUID(GUID* guid) override {
        if (!guid) return E_INVALIDARG;
        *guid = guid_;
        return S_OK;
    }
    HRESULT GetSource(BSTR* source) override { return Copy(source_, source); }
    HRESULT GetDescription(BSTR* description) override { return Copy(description_, description); }
    HRESULT GetHelpFile(BSTR* helpFile) override { return Copy(helpFile_, helpFile); }
    HRESULT GetHelpContext(DWORD* helpContext) override {
        if (!helpContext) return E_INVALIDARG;
        *helpContext = helpContext_;
        return S_OK;
    }

    HRESULT SetGUID(REFGUID guid) override {
        guid_ = guid;
        return S_OK;
    }
    HRESULT SetSource(LPCOLESTR source) override { return Keep(source, &source_); }
    HRESULT SetDescription(LPCOLESTR description) override {
        return Keep(description, &description_);
    }
    HRESULT SetHelpFile(LPCOLESTR helpFile) override { return Keep(helpFile, &helpFile_); }
    HRESULT SetHelpContext(DWORD helpContext) override {
        helpContext_ = helpContext;
        return S_OK;
    }

  private:
    static HRESULT Copy(const std::u16string& text, BSTR* out) {
        if (!out) return E_INVALIDARG;
        *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    static HRESULT Keep(LPCOLESTR text, std::u16string* field) {
        *field = text ? std::u16string(text) : std::u16string();
        return S_OK;
    }

    GUID guid_{};
    std::u16string source_, description_, helpFile_;
    DWORD helpContext_ = 0;
};

// The thread's current error object; released when the thread ends.
struct CurrentError {
    IErrorInfo* info = nullptr;
    ~CurrentError() { Replace(nullptr); }
    void Replace(IErrorInfo* next) {
        if (IErrorInfo* old = std::exchange(info, next)) old->Release();
    }
};
thread_local CurrentError t_current;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** info) {
    if (!info) return E_INVALIDARG;
    *info = new ErrorInfo();
    return S_OK;
}

HRESULT SetErrorInfo(ULONG, IErrorInfo* info) {
    if (info) info->AddRef();
    t_current.Replace(info);
    return S_OK;
}

HRESULT GetErrorInfo(ULONG, IErrorInfo** info) {
    if (!info) return E_INVALIDARG;
    *info = std::exchange(t_current.info, nullptr);
    return *info ? S_OK : S_FALSE;
}
