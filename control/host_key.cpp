// The host-key trust properties: the policy and the known_hosts file handed to the
// FTP engine before each connect, and what the engine's check found.
#include <new>

#include "control/FileTransfer.h"
#include "ftp/ftp.h"
#include "platform/text.h"

namespace {
constexpr int kHostKeyTextSize = 1024;
}  // namespace

HRESULT CFileTransfer::get_HostKeyPolicy(LONG* value) {
    return ReadValue(state_.hostKeyPolicy, value);
}

HRESULT CFileTransfer::put_HostKeyPolicy(LONG value) {
    if (value < fileHostKeyOff || value > fileHostKeyStrict) return CTL_E_INVALIDPROPERTYVALUE;
    state_.hostKeyPolicy = value;
    return S_OK;
}

HRESULT CFileTransfer::get_KnownHostsFile(BSTR* value) {
    return ReadText(state_.knownHostsFile, value);
}

HRESULT CFileTransfer::put_KnownHostsFile(BSTR value) {
    try {
        state_.knownHostsFile.assign(BstrView(value));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CFileTransfer::get_HostKeyStatus(LONG* value) {
    return ReadValue(state_.hostKeyStatus, value);
}

HRESULT CFileTransfer::get_HostKeyText(BSTR* value) {
    return ReadText(state_.hostKeyText, value);
}

void CFileTransfer::CopyHostKeyStatus() {
    char text[kHostKeyTextSize] = {};
    state_.hostKeyStatus = FtpGetHostKeyStatus(text, sizeof text);
    state_.hostKeyText = Utf8ToUtf16(text);
}
