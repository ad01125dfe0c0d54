// ReportError and the error properties LastError and LastErrorString.
#include <string>

#include "control/FileTransfer.h"
#include "ftp/ftp.h"
#include "http/http.h"
#include "platform/lasterror.h"
#include "platform/text.h"
#include "resources/errors.h"

namespace {

constexpr int kErrorTextSize = 128;
constexpr const char* kUndefinedServerTypeText = "Invalid server type or server type is undefined";
constexpr DWORD kAutomationFacilityBits = 0x800A0000u;

// The engine that owns the errors of a server type: its last error and texts.
struct ErrorEngine {
    DWORD (*lastError)();
    int (*errorString)(DWORD, char*);
};

constexpr ErrorEngine kFtpErrors{&FtpGetLastError, &FtpGetErrorString};
constexpr ErrorEngine kHttpErrors{&HttpGetLastError, &HttpGetErrorString};

const ErrorEngine* EngineOf(LONG serverType) {
    switch (serverType) {
        case fileServerFTP:
            return &kFtpErrors;
        case fileServerHTTP:
            return &kHttpErrors;
        default:
            return nullptr;
    }
}

// The engine's text of a code ("" when it has none).
std::string EngineErrorText(const ErrorEngine& engine, DWORD code) {
    char text[kErrorTextSize] = {};
    const int length = engine.errorString(code, text);
    return length > 0 ? std::string(text, static_cast<std::size_t>(length)) : std::string();
}

struct ChosenError {
    DWORD code;
    std::string text;
};

}  // namespace

HRESULT CFileTransfer::ReportError(DWORD code, bool returnFailure, bool raiseEvent) {
    ChosenError chosen{code, {}};
    const ErrorEngine* engine = EngineOf(state_.serverType);
    if (engine) {
        if (chosen.code == 0) chosen.code = engine->lastError();
        if (chosen.code == 0) {
            state_.lastError = 0;
            state_.lastErrorText.clear();
            return S_OK;
        }
        if (chosen.code == MakeErrorCode(fileErrorInvalidHandle) && !IsConnected()) {
            chosen.code = MakeErrorCode(fileErrorNotConnected);
        }
    } else if (chosen.code == 0) {
        chosen.code = MakeErrorCode(fileErrorInvalidProtocol);
        chosen.text = kUndefinedServerTypeText;
    }
    if (chosen.text.empty())
        chosen.text = EngineErrorText(engine ? *engine : kFtpErrors, chosen.code);
    // ErrorDescription gives the fallback text for a code without one.
    if (chosen.text.empty()) chosen.text = ErrorDescription(chosen.code);
    // The engine's detail extends the text: it follows it, or replaces it when it
    // already begins with it.
    // The engine's last error reported again on its way out keeps the detail it
    // was first reported with.
    std::string detail = TakeLastErrorDetail(chosen.code);
    if (detail.empty() && code == 0 && chosen.code == state_.lastError)
        detail = state_.lastErrorText;
    if (!detail.empty() && detail != chosen.text)
        chosen.text = detail.starts_with(chosen.text) ? detail : chosen.text + ": " + detail;
    state_.lastError = chosen.code;
    state_.lastErrorText = chosen.text;

    const std::u16string description = Utf8ToUtf16(chosen.text);
    ComPtr<ICreateErrorInfo> creator;
    if (SUCCEEDED(CreateErrorInfo(creator.Receive()))) {
        creator->SetGUID(IID_IFileTransfer);
        creator->SetSource(state_.errorSource.c_str());
        creator->SetDescription(description.c_str());
        if (ComPtr<IErrorInfo> info = creator.As<IErrorInfo>()) SetErrorInfo(0, info.get());
    }
    if (raiseEvent) Fire_OnError(ErrorNumber(chosen.code), description);
    if (!returnFailure) return S_OK;
    if (IsTableErrorCode(chosen.code)) {
        return MakeHResult(kAutomationFacilityBits + static_cast<DWORD>(ErrorNumber(chosen.code)));
    }
    return MakeHResult(chosen.code | kAutomationFacilityBits);
}

HRESULT CFileTransfer::get_LastError(LONG* value) {
    return ReadValue(static_cast<LONG>(ErrorNumber(state_.lastError)), value);
}

HRESULT CFileTransfer::put_LastError(LONG value) {
    DWORD code = static_cast<DWORD>(value);
    if (value >= 1 && value <= 0xFFFF) code = MakeErrorCode(value);
    state_.lastError = code;
    state_.lastErrorText.clear();
    const LONG type = state_.serverType;
    if (type == fileServerUndefined || type == fileServerFTP) FtpSetLastError(code);
    if (type == fileServerUndefined || type == fileServerHTTP) HttpSetLastError(code);
    return S_OK;
}

HRESULT CFileTransfer::get_LastErrorString(BSTR* value) {
    // The engine's detail extends the table text, which stays its beginning.
    const std::string table = ErrorDescription(state_.lastError);
    const std::string& reported = state_.lastErrorText;
    const bool detailed = reported.size() > table.size() && reported.starts_with(table);
    return ReadText(Utf8ToUtf16(detailed ? reported : table), value);
}
