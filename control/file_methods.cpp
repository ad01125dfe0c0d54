// Raw commands and the shared failure paths of the methods that return Error.
#include "control/FileTransfer.h"
#include "control/engine_text.h"
#include "control/method_args.h"
#include "ftp/ftp.h"
#include "http/http.h"
#include "resources/errors.h"

void CFileTransfer::SetEngineLastError(int number) {
    if (state_.serverType == fileServerHTTP) {
        HttpSetLastError(static_cast<DWORD>(number));
    } else {
        FtpSetLastError(static_cast<DWORD>(number));
    }
}

// The engine's handle error, which ReportError turns into "not connected" while
// no connection is open; Error keeps the handle error's number.
HRESULT CFileTransfer::ReportNotConnected(VARIANT* error) {
    SetEngineLastError(fileErrorInvalidHandle);
    SetErrorResult(error, fileErrorInvalidHandle);
    return ReportError(0, state_.throwError, true);
}

HRESULT CFileTransfer::ReportNotSupported(VARIANT* error) {
    SetEngineLastError(fileErrorOperationNotSupported);
    SetErrorResult(error, fileErrorOperationNotSupported);
    return ReportError(0, state_.throwError, true);
}

HRESULT CFileTransfer::ReportMethodFailure(VARIANT* error) {
    SetErrorResult(error, ErrorNumber(EngineLastError()));
    return ReportError(0, state_.throwError, true);
}

HRESULT CFileTransfer::Command(const VARIANT* command, VARIANT* error) {
    SetErrorResult(error, 0);
    if (!state_.enginesInitialized) InitializeEngines();
    if (!IsConnected()) return ReportNotConnected(error);
    const TextArgument text = ReadTextArgument(command);
    if (FAILED(text.hr)) return text.hr;
    if (state_.serverType != fileServerFTP) return ReportNotSupported(error);
    const EngineText line(text.value.value_or(u""));
    if (FtpCommand(state_.clientHandle, line.c_str(), nullptr) >= 0) return S_OK;
    return ReportMethodFailure(error);
}
