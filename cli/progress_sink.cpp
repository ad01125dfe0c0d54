#include "cli/progress_sink.h"

#include "platform/dispatch.h"
#include "control/FileTransfer.h"

namespace {

constexpr DISPID kOnProgress = 4;
constexpr UINT kOnProgressArguments = 4;  // FileName, FileSize, BytesCopied, Percent
constexpr DISPID kTransferBytes64 = 0x6D;
constexpr DISPID kTransferSize64 = 0x6E;

long LongOf(const VARIANT* value) {
    return value && value->vt == VT_I4 ? value->lVal : 0;
}

uint64_t Unsigned32Of(const VARIANT* value) {
    return static_cast<uint32_t>(LongOf(value));
}

// A 64-bit property of the control, or the fallback when it cannot be read.
uint64_t Read64(IDispatch* control, DISPID member, uint64_t fallback) {
    VARIANT value;
    VariantInit(&value);
    const HRESULT hr = DispatchGetProperty(control, member, {}, &value, nullptr);
    const uint64_t result = SUCCEEDED(hr) && value.vt == VT_I8 && value.llVal >= 0
                                ? static_cast<uint64_t>(value.llVal)
                                : fallback;
    VariantClear(&value);
    return result;
}

}  // namespace

class ProgressSink final : public EventSink {
  public:
    static ProgressSink* Create(IDispatch* control, ProgressAdvise::Handler handler) {
        return new ProgressSink(control, std::move(handler));
    }

    HRESULT Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                   UINT*) override {
        if (member != kOnProgress || !params || params->cArgs != kOnProgressArguments) {
            return S_OK;
        }
        const uint64_t size =
            Read64(control_, kTransferSize64, Unsigned32Of(DispParamsArgument(params, 1)));
        const uint64_t copied =
            Read64(control_, kTransferBytes64, Unsigned32Of(DispParamsArgument(params, 2)));
        handler_(size, copied, LongOf(DispParamsArgument(params, 3)));
        return S_OK;
    }

  private:
    ProgressSink(IDispatch* control, ProgressAdvise::Handler handler)
        : control_(control), handler_(std::move(handler)) {}

    // Not held: the advise ends before the control goes.
    IDispatch* control_;
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
    ProgressSink* sink = ProgressSink::Create(control, std::move(handler));
    if (FAILED(point_->Advise(sink, &cookie_))) cookie_ = 0;
    sink->Release();
}

ProgressAdvise::~ProgressAdvise() {
    if (cookie_ != 0) point_->Unadvise(cookie_);
}
