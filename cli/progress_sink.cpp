#include "cli/progress_sink.h"

#include "control/FileTransfer.h"

namespace {

constexpr DISPID kOnProgress = 4;
constexpr UINT kOnProgressArguments = 4;  // FileName, FileSize, BytesCopied, Percent

long LongOf(const VARIANT* value) {
    return value && value->vt == VT_I4 ? value->lVal : 0;
}

}  // namespace

class ProgressSink final : public ComObject<IDispatch> {
  public:
    static ProgressSink* Create(ProgressAdvise::Handler handler) {
        return new ProgressSink(std::move(handler));
    }

    HRESULT GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                   UINT*) override {
        if (member != kOnProgress || !params || params->cArgs != kOnProgressArguments) {
            return S_OK;
        }
        handler_(LongOf(DispParamsArgument(params, 1)), LongOf(DispParamsArgument(params, 2)),
                 LongOf(DispParamsArgument(params, 3)));
        return S_OK;
    }

  private:
    explicit ProgressSink(ProgressAdvise::Handler handler) : handler_(std::move(handler)) {}

    ProgressAdvise::Handler handler_;
};

ProgressAdvise::ProgressAdvise(IDispatch* control, Handler handler) {
    ComPtr<IConnectionPointContainer> container;
    if (FAILED(control->QueryInterface(IID_IConnectionPointContainer,
                                       reinterpret_cast<void**>(container.Receive())))) {
        return;
    }
    if (FAILED(container->FindConnectionPoint(DIID__IFileTransferEvents, point_.Receive()))) {
        return;
    }
    ProgressSink* sink = ProgressSink::Create(std::move(handler));
    if (FAILED(point_->Advise(sink, &cookie_))) cookie_ = 0;
    sink->Release();
}

ProgressAdvise::~ProgressAdvise() {
    if (cookie_ != 0) point_->Unadvise(cookie_);
}
