#include "cli/transcript_sink.h"

#include <string>

#include "platform/dispatch.h"
#include "control/FileTransfer.h"
#include "platform/text.h"

namespace {

constexpr DISPID kOnTranscript = 6;
constexpr UINT kOnTranscriptArguments = 2;  // Kind, Text
// By the event's Kind: information, sent, received.
constexpr const char* kPrefixes[] = {"* ", "> ", "< "};
constexpr LONG kReceived = 2;

// A reply line that refuses: a 4xx or 5xx code first.
bool IsRefusal(const std::string& line) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    return line.size() >= 3 && (line[0] == '4' || line[0] == '5') && digit(line[1]) &&
           digit(line[2]);
}

class TranscriptSink final : public EventSink {
  public:
    TranscriptSink(std::ostream* err, std::string* lastRefusal)
        : err_(err), lastRefusal_(lastRefusal) {}

    HRESULT Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                   UINT*) override {
        if (member != kOnTranscript || !params || params->cArgs != kOnTranscriptArguments) {
            return S_OK;
        }
        const VARIANT* kind = DispParamsArgument(params, 0);
        const VARIANT* text = DispParamsArgument(params, 1);
        if (!kind || kind->vt != VT_I4 || kind->lVal < 0 || kind->lVal > 2 || !text ||
            text->vt != VT_BSTR) {
            return S_OK;
        }
        const std::string line = Utf8FromBstr(text->bstrVal);
        if (kind->lVal == kReceived && IsRefusal(line)) *lastRefusal_ = line;
        if (err_) *err_ << kPrefixes[kind->lVal] << line << "\n" << std::flush;
        return S_OK;
    }

  private:
    std::ostream* err_;
    std::string* lastRefusal_;
};

}  // namespace

TranscriptAdvise::TranscriptAdvise(IDispatch* control, std::ostream* err) {
    ComPtr<IConnectionPointContainer> container;
    if (FAILED(control->QueryInterface(IID_IConnectionPointContainer,
                                       reinterpret_cast<void**>(container.Receive()))) ||
        FAILED(container->FindConnectionPoint(DIID__IFileTransferEvents, point_.Receive()))) {
        return;
    }
    auto* sink = new TranscriptSink(err, &lastRefusal_);
    if (FAILED(point_->Advise(sink, &cookie_))) cookie_ = 0;
    sink->Release();
    VARIANT on;
    VariantInit(&on);
    on.vt = VT_BOOL;
    on.boolVal = VARIANT_TRUE;
    DISPID dispid = 0;
    if (SUCCEEDED(DispatchGetIdOfName(control, u"Transcript", &dispid))) {
        DispatchPutProperty(control, dispid, {}, &on, nullptr);
    }
}

TranscriptAdvise::~TranscriptAdvise() {
    if (cookie_ != 0) point_->Unadvise(cookie_);
}

void TellInformation(std::ostream& err, std::string_view text) {
    err << kPrefixes[0] << text << "\n" << std::flush;
}
