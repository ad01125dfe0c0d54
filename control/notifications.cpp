// Engine notifications (message 2025) turned into the control's events.
#include "control/FileTransfer.h"
#include "control/progress.h"
#include "ftp/ftp.h"
#include "http/http.h"
#include "platform/text.h"
#include "resources/errors.h"

namespace {

enum class NotifiedEvent { None, Timeout, Cancel, Command, Progress };

struct EventCode {
    LONG serverType;
    DWORD code;
    NotifiedEvent event;
};

// The engines number their events differently.
constexpr EventCode kEventCodes[] = {
    {fileServerFTP, FTP_EVENT_TIMEOUT, NotifiedEvent::Timeout},
    {fileServerFTP, FTP_EVENT_CANCEL, NotifiedEvent::Cancel},
    {fileServerFTP, FTP_EVENT_COMMAND, NotifiedEvent::Command},
    {fileServerFTP, FTP_EVENT_PROGRESS, NotifiedEvent::Progress},
    {fileServerHTTP, 16, NotifiedEvent::Timeout},
    {fileServerHTTP, 32, NotifiedEvent::Cancel},
    {fileServerHTTP, 64, NotifiedEvent::Command},
    {fileServerHTTP, 128, NotifiedEvent::Progress},
};

NotifiedEvent EventOf(LONG serverType, DWORD code) {
    for (const EventCode& entry : kEventCodes) {
        if (entry.serverType == serverType && entry.code == code) return entry.event;
    }
    return NotifiedEvent::None;
}

constexpr int kReplyTextSize = 2048;

}  // namespace

void CFileTransfer::HandleNotification(WPARAM, LPARAM word) {
    const auto parameter = static_cast<DWORD>(word);
    const DWORD code = parameter & 0xFFFFu;
    const DWORD number = parameter >> 16;
    const NotifiedEvent event = EventOf(state_.serverType, code);
    if (number != 0) {
        ReportError(MakeErrorCode(static_cast<int>(number)), false, true);
        if (event != NotifiedEvent::Timeout && event != NotifiedEvent::Cancel) return;
    }
    switch (event) {
        case NotifiedEvent::Timeout:
            Fire_OnTimeout();
            return;
        case NotifiedEvent::Cancel:
            Fire_OnCancel();
            return;
        case NotifiedEvent::Command: {
            LONG resultCode = 0;
            get_ResultCode(&resultCode);
            char text[kReplyTextSize] = {};
            if (state_.serverType == fileServerFTP) {
                FtpGetResultString(state_.clientHandle, text, sizeof text);
            } else {
                HttpGetResultString(static_cast<HttpClient>(state_.clientHandle), text);
            }
            Fire_OnCommand(resultCode, Utf8ToUtf16(text));
            return;
        }
        case NotifiedEvent::Progress:
            RaiseProgress();
            return;
        case NotifiedEvent::None:
            return;
    }
}

// Sizes travel as 32-bit values; the percentage is taken from the full ones.
// The HTTP engine's status names no file: the control's transfer name does.
void CFileTransfer::RaiseProgress() {
    if (state_.serverType == fileServerHTTP) {
        HttpTransferStatus status{};
        if (!HttpGetTransferStatus(static_cast<HttpClient>(state_.clientHandle), &status)) return;
        Fire_OnProgress(state_.transferFileName, static_cast<LONG>(status.totalBytes),
                        static_cast<LONG>(status.bytesCopied),
                        ProgressPercent(status.totalBytes, status.bytesCopied));
        return;
    }
    if (state_.serverType != fileServerFTP) return;
    FtpTransferStatus status{};
    if (FtpGetTransferStatus(state_.clientHandle, &status) < 0) return;
    Fire_OnProgress(Utf8ToUtf16(status.remoteFile), static_cast<LONG>(status.totalBytes),
                    static_cast<LONG>(status.bytesCopied),
                    ProgressPercent(status.totalBytes, status.bytesCopied));
}
