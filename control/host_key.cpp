// The host-key trust properties: the policy and the known_hosts file handed to the
// FTP engine before each connect, and what the engine's check found.
#include "control/FileTransfer.h"
#include "ftp/ftp.h"
#include "platform/text.h"

namespace {
constexpr int kHostKeyTextSize = 1024;
}  // namespace

HRESULT CFileTransfer::put_HostKeyPolicy(LONG value) {
    if (value < fileHostKeyOff || value > fileHostKeyStrict) return CTL_E_INVALIDPROPERTYVALUE;
    state_.hostKeyPolicy = value;
    return S_OK;
}

void CFileTransfer::CopyHostKeyStatus() {
    char text[kHostKeyTextSize] = {};
    state_.hostKeyStatus = FtpGetHostKeyStatus(text, sizeof text);
    state_.hostKeyText = Utf8ToUtf16(text);
}
