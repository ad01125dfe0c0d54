// The control's connection to an HTTP server: opening it, and the redirect
// loop of GetFile, which may move the connection to another server.
#include <string>

#include "control/FileTransfer.h"
#include "control/engine_text.h"
#include "control/http_methods.h"
#include "control/notify_window.h"
#include "control/url_scheme.h"
#include "http/http.h"
#include "platform/text.h"
#include "resources/errors.h"

namespace {

// The events the control turns into OnTimeout, OnCancel, OnCommand, OnProgress.
constexpr DWORD kHttpEventMask =
    HTTP_EVENT_TIMEOUT | HTTP_EVENT_CANCEL | HTTP_EVENT_COMMAND | HTTP_EVENT_PROGRESS;

// The engine follows up to four redirects of one request when asked; the
// control asks it for none and follows as many itself.
constexpr int kMaxRedirects = 4;

DWORD HttpConnectFlags(const ControlState& state) {
    DWORD flags = 0;
    if (state.options & fileOptionNoCache) flags |= HTTP_OPTION_NOCACHE;
    if ((state.options & fileOptionSecureImplicit) || state.secure) flags |= HTTP_OPTION_SECURE;
    return flags | HTTP_OPTION_KEEPALIVE;
}

struct ServerAddress {
    std::u16string name;
    LONG port;
    BOOL secure;
    bool operator==(const ServerAddress&) const = default;
};

ServerAddress AddressOf(const ControlState& state) {
    return {state.serverName, state.serverPort, state.secure};
}

}  // namespace

HRESULT CFileTransfer::OpenHttpConnection() {
    const DWORD flags = HttpConnectFlags(state_);
    {
        EngineText store(state_.certificateStore);
        EngineText name(state_.certificateName);
        TlsFreeCredentials(&state_.tlsCredentials);
        TlsCreateCredentials(static_cast<uint32_t>(state_.secureProtocol), store.c_str(),
                             name.c_str(), &state_.tlsCredentials);
    }
    EngineText proxyServer(state_.proxyServer);
    EngineText proxyUser(state_.proxyUser);
    EngineText proxyPassword(state_.proxyPassword.view());
    EngineText server(state_.serverName);
    const HttpClient client =
        HttpConnect(state_.proxyType, proxyServer.c_str(), state_.proxyPort, proxyUser.c_str(),
                    proxyPassword.c_str(), server.c_str(), state_.serverPort, state_.timeout, flags,
                    static_cast<DWORD>(state_.protocolVersion), state_.tlsCredentials);
    if (client == INVALID_HTTP_CLIENT) return FinishConnection();

    state_.clientHandle = static_cast<LONGLONG>(client);
    state_.connectionState = fileStateIdle;
    HttpSetPriority(client, state_.priority);
    HttpEnableCompression(client, state_.compression);
    PushDecodeLimits();
    HttpRegisterNotify(client, state_.notifyWindow, kNotifyMessage, kHttpEventMask);
    EngineText user(state_.userName);
    EngineText password(state_.password.view());
    HttpSetCredentials(client, user.c_str(), password.c_str());
    return FinishConnection();
}

// Each redirect is written through URL, so the control's settings name the
// new address; a new server gets a new connection. What was given for the
// first server stays there: the user name and password are cleared, and the
// new connection must validate its certificate unless invalid ones are
// accepted. A refused certificate leaves the connection up, as Connect does,
// so that its status can be read; no request goes to that server.
int CFileTransfer::FollowHttpRedirect(const std::string& address, std::u16string* remote,
                                      bool invalidAccepted) {
    // Only http and https are followed, as the engine does: a redirect to ftp
    // or sftp would make the control log in to a server nobody named.
    if (DetectUrlScheme(address) != fileServerHTTP) {
        HttpSetLastError(MakeErrorCode(fileErrorInvalidResource));
        return -1;
    }
    const ServerAddress before = AddressOf(state_);
    const std::u16string text = Utf8ToUtf16(address);
    BSTR url = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!url) {
        HttpSetLastError(MakeErrorCode(fileErrorOutOfMemory));
        return -1;
    }
    const HRESULT written = put_URL(url);
    SysFreeString(url);
    if (FAILED(written)) {
        HttpSetLastError(MakeErrorCode(fileErrorInvalidResource));
        return -1;
    }
    if (!(AddressOf(state_) == before)) {
        state_.userName.clear();
        state_.password.assign(u"");
        Disconnect(nullptr);
        if (FAILED(OpenConnection())) return -1;
        if (state_.secure && !invalidAccepted &&
            state_.securityInfo.certificateStatus != fileCertificateValid) {
            HttpSetLastError(MakeErrorCode(fileErrorSecurityCertificate));
            return -1;
        }
        state_.connectionState = fileStateTransfer;
    }
    *remote = state_.resource;
    state_.transferFileName = *remote;
    return 0;
}

int CFileTransfer::HttpGetFileFollowingRedirects(const std::u16string& local, std::u16string remote,
                                                 uint64_t restartOffset) {
    // The trust decision of the first connection holds for the whole chain:
    // the caller accepts invalid certificates, or went on over one.
    const bool invalidAccepted =
        (state_.options & fileOptionAcceptInvalidCertificate) != 0 ||
        (state_.secure && state_.securityInfo.certificateStatus != fileCertificateValid);
    int result = HttpDownloadFile(state_.clientHandle, local, remote, restartOffset);
    for (int hop = 0; result < 0 && hop < kMaxRedirects &&
                      HttpGetLastError() == MakeErrorCode(fileErrorResourceRedirected);
         ++hop) {
        const std::optional<std::string> location = RedirectLocation(state_.clientHandle);
        if (!location) {
            HttpSetLastError(MakeErrorCode(fileErrorResourceRedirected));
            break;
        }
        HttpSetLastError(0);
        const std::string address = RedirectAddress(*location, state_, Utf16ToUtf8(remote));
        if (FollowHttpRedirect(address, &remote, invalidAccepted) < 0) return -1;
        result = HttpDownloadFile(state_.clientHandle, local, remote, 0);
    }
    state_.responseFileName = Utf8ToUtf16(ResponseFileName(state_.clientHandle));
    return result;
}
