// Starting the engines, opening and closing the one connection, Reset and
// Cancel.
#include <algorithm>
#include <string>

#include "control/FileTransfer.h"
#include "control/engine_text.h"
#include "control/method_args.h"
#include "control/notify_window.h"
#include "control/url_scheme.h"
#include "ftp/ftp.h"
#include "ftp/login_keys.h"
#include "http/http.h"
#include "net/trace.h"
#include "platform/last_error_guard.h"
#include "platform/lasterror.h"
#include "platform/text.h"
#include "resources/errors.h"

namespace {

// The events the control turns into OnTimeout, OnCancel, OnCommand, OnProgress.
constexpr DWORD kFtpEventMask =
    FTP_EVENT_TIMEOUT | FTP_EVENT_CANCEL | FTP_EVENT_COMMAND | FTP_EVENT_PROGRESS;
constexpr int kReplyTextSize = 2048;
constexpr int kDirectoryTextSize = 512;
constexpr int kLibraryPathSize = 1024;

// The number an HRESULT carries in its low 16 bits.
LONG HResultNumber(HRESULT hr) {
    return static_cast<LONG>(static_cast<DWORD>(hr) & 0xFFFFu);
}

bool StartsWithIgnoringCase(std::u16string_view text, std::u16string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char16_t c = text[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

// Connect's choice of engine when ServerType is still undefined.
LONG InferServerType(std::u16string_view serverName, LONG serverPort) {
    if (StartsWithIgnoringCase(serverName, u"ftp")) return fileServerFTP;
    if (StartsWithIgnoringCase(serverName, u"www")) return fileServerHTTP;
    if (serverPort == filePortHTTP || serverPort == filePortHTTPS) return fileServerHTTP;
    return fileServerFTP;
}

DWORD FtpConnectFlags(const ControlState& state) {
    DWORD flags = 0;
    if (state.options & fileOptionSecureImplicit) flags = FTP_OPTION_SECURE;
    if (state.options & fileOptionSecureExplicit)
        flags = FTP_OPTION_SECURE | FTP_OPTION_SECURE_EXPLICIT;
    if (state.options & fileOptionSecureShell) flags |= FTP_OPTION_SECURE_SHELL;
    if (state.options & fileOptionCompressedShell) flags |= FTP_OPTION_SSH_COMPRESSION;
    if (state.keepAlive) flags |= FTP_OPTION_KEEPALIVE;
    if (state.secure) flags |= FTP_OPTION_SECURE;
    return flags;
}

// An FTP proxy reaches the server at its standard port unless the caller set
// another one: that port goes with the host as "host:port", the form proxies
// read from USER, OPEN and SITE.
std::string ProxiedServerName(const char* host, LONG port, DWORD flags) {
    const bool implicitTls = (flags & FTP_OPTION_SECURE) && !(flags & FTP_OPTION_SECURE_EXPLICIT);
    const LONG standard = implicitTls ? filePortFTPS : filePortFTP;
    std::string name(host);
    if (port <= 0 || port == standard) return name;
    if (name.find(':') != std::string::npos && !name.starts_with('[')) name = "[" + name + "]";
    return name + ":" + std::to_string(port);
}

// The connect below asks PWD itself and sets a manual file type at once, so
// the engine leaves out its own PWD and TYPE I (a small get then costs two
// round trips less). An automatic type still needs the engine's TYPE I.
DWORD CallerSetupFlags(const ControlState& state) {
    if (state.options & fileOptionSecureShell) return 0;
    const bool manualType = state.fileType >= fileTypeASCII && state.fileType <= fileTypeImage;
    return FTP_OPTION_CALLER_PWD | (manualType ? FTP_OPTION_CALLER_TYPE : 0);
}

// The engine's last error, kept across calls whose own failure does not count.
using FtpErrorGuard = LastErrorGuard<&FtpGetLastError, &FtpSetLastError>;

}  // namespace

// ---- Engines ------------------------------------------------------------------

HRESULT CFileTransfer::InitializeEngines() {
    if (state_.enginesInitialized) return S_OK;
    if (!IsUserMode()) return CTL_E_ILLEGALFUNCTIONCALL;
    EnsureNotifyWindow();

    FtpLibraryInfo ftpInfo{};
    ftpInfo.size = FTP_LIBRARY_INFO_SIZE;
    if (!FtpInitialize(&ftpInfo)) return ReportError(FtpGetLastError(), state_.throwError, false);
    HttpLibraryInfo httpInfo{};
    httpInfo.size = HTTP_LIBRARY_INFO_SIZE;
    if (!HttpInitialize(&httpInfo)) {
        const DWORD code = HttpGetLastError();
        // A half start would leave the FTP engine's reference behind.
        FtpUninitialize();
        return ReportError(code, state_.throwError, false);
    }

    char path[kLibraryPathSize] = {};
    NetGetLibraryPath(path, sizeof path);
    state_.library = Utf8ToUtf16(path);
    state_.enginesInitialized = TRUE;
    if (state_.trace) StartTracing();
    return S_OK;
}

void CFileTransfer::StartTracing() {
    const std::string file = Utf16ToUtf8(state_.traceFile);
    state_.trace =
        NetTraceOn(file.c_str(), static_cast<uint32_t>(state_.traceFlags)) ? TRUE : FALSE;
}

// Only a control that started tracing stops it: the starts of other controls in
// the process stay counted.
void CFileTransfer::StopTracing() {
    if (state_.trace) NetTraceOff();
}

void CFileTransfer::RestartTracing() {
    if (!state_.enginesInitialized || !state_.trace) return;
    NetTraceOff();
    StartTracing();
}

bool CFileTransfer::StartEnginesIfNeeded() {
    // A failure shows up as the engine's error of the operation itself.
    if (!state_.enginesInitialized) InitializeEngines();
    return state_.enginesInitialized;
}

HRESULT CFileTransfer::Initialize(VARIANT* error) {
    SetErrorResult(error, 0);
    const HRESULT hr = InitializeEngines();
    if (SUCCEEDED(hr)) return S_OK;
    SetErrorResult(error, HResultNumber(hr));
    return state_.throwError ? hr : S_OK;
}

HRESULT CFileTransfer::Uninitialize() {
    if (!state_.enginesInitialized) return S_OK;
    StopTracing();
    FtpUninitialize();
    HttpUninitialize();
    state_.enginesInitialized = FALSE;
    state_.versionText.clear();
    return S_OK;
}

// ---- Connect ------------------------------------------------------------------

HRESULT CFileTransfer::Connect(const VARIANT* serverName, const VARIANT* serverPort,
                               const VARIANT* userName, const VARIANT* password,
                               const VARIANT* timeout, const VARIANT* options, VARIANT* error) {
    SetErrorResult(error, 0);
    StartEnginesIfNeeded();

    const TextArgument name = ReadTextArgument(serverName);
    if (FAILED(name.hr)) return name.hr;
    if (name.value) {
        if (DetectUrlScheme(Utf16ToUtf8(*name.value)) != fileServerUndefined) {
            BSTR url = SysAllocStringLen(name.value->data(), static_cast<UINT>(name.value->size()));
            if (!url) return E_OUTOFMEMORY;
            const HRESULT hr = put_URL(url);
            SysFreeString(url);
            if (FAILED(hr)) return hr;
        } else {
            state_.serverName = *name.value;
        }
    }
    const LongArgument port = ReadLongArgument(serverPort);
    if (FAILED(port.hr)) return port.hr;
    if (port.value) state_.serverPort = *port.value;
    const TextArgument user = ReadTextArgument(userName);
    if (FAILED(user.hr)) return user.hr;
    if (user.value) state_.userName = *user.value;
    TextArgument secret = ReadTextArgument(password);
    if (FAILED(secret.hr)) return secret.hr;
    if (secret.value) {
        state_.password.assign(*secret.value);
        std::fill(secret.value->begin(), secret.value->end(), u'\0');
    }

    SetErrorResult(error, 0);
    if (state_.serverType == fileServerUndefined) {
        state_.serverType = InferServerType(state_.serverName, state_.serverPort);
    }

    const LongArgument seconds = ReadLongArgument(timeout);
    if (FAILED(seconds.hr)) return seconds.hr;
    if (seconds.value) state_.timeout = *seconds.value;
    const LongArgument flags = ReadLongArgument(options);
    if (FAILED(flags.hr)) return flags.hr;
    if (flags.value) {
        state_.options = *flags.value;
        if (state_.options & fileOptionSecureExplicit) {
            state_.secure = TRUE;
            state_.options |= fileOptionSecureImplicit;
        }
    }

    if (IsConnected()) Disconnect(nullptr);
    if (SUCCEEDED(OpenConnection())) return S_OK;
    SetErrorResult(error, ErrorNumber(EngineLastError()));
    return ReportError(0, state_.throwError, true);
}

DWORD CFileTransfer::EngineLastError() const {
    return state_.serverType == fileServerHTTP ? HttpGetLastError() : FtpGetLastError();
}

HRESULT CFileTransfer::OpenConnection() {
    if (IsConnected()) Disconnect(nullptr);
    state_.connectionState = fileStateConnecting;
    switch (state_.serverType) {
        case fileServerFTP:
            return OpenFtpConnection();
        case fileServerHTTP:
            return OpenHttpConnection();
        default:
            return FinishConnection();
    }
}

HRESULT CFileTransfer::OpenFtpConnection() {
    // A login failure's detail that nobody took (an SFTP call made directly) must
    // not be read as this connect's.
    for (const int stale : {fileErrorAuthenticationFailed, fileErrorInvalidAuthenticationType})
        TakeLastErrorDetail(MakeErrorCode(stale));
    const DWORD flags = FtpConnectFlags(state_);
    {
        EngineText store(state_.certificateStore);
        EngineText name(state_.certificateName);
        TlsFreeCredentials(&state_.tlsCredentials);
        TlsCreateCredentials(static_cast<uint32_t>(state_.secureProtocol), store.c_str(),
                             name.c_str(), &state_.tlsCredentials);
    }
    EngineText server(state_.serverName);
    EngineText user(state_.userName);
    SecretBytes password;
    state_.password.ToUtf8(&password);
    if (state_.proxyType == fileProxyNone) {
        bool passwordIsPassphrase = false;
        if (!PrepareLoginKeys(password, &passwordIsPassphrase)) return FinishConnection();
        // A passphrase opens the key and never goes to the server.
        if (passwordIsPassphrase) password.Wipe();
        EngineText knownHosts(state_.knownHostsFile);
        FtpSetHostKeyPolicy(state_.hostKeyPolicy, knownHosts.c_str());
        state_.clientHandle =
            FtpConnect(server.c_str(), state_.serverPort, user.c_str(), password.c_str(),
                       state_.timeout, flags | CallerSetupFlags(state_), state_.tlsCredentials);
        FtpSetLoginKeys({});  // an FTP connect leaves them unused
        CopyHostKeyStatus();
    } else {
        EngineText proxyServer(state_.proxyServer);
        EngineText proxyUser(state_.proxyUser);
        EngineText proxyPassword(state_.proxyPassword.view());
        const std::string target = ProxiedServerName(server.c_str(), state_.serverPort, flags);
        state_.clientHandle = FtpProxyConnect(
            state_.proxyType, proxyServer.c_str(), state_.proxyPort, proxyUser.c_str(),
            proxyPassword.c_str(), target.c_str(), state_.timeout, flags, state_.tlsCredentials);
    }
    if (!IsConnected()) return FinishConnection();

    const FtpClient client = state_.clientHandle;
    state_.connectionState = fileStateLogin;
    FtpSetPriority(client, state_.priority);
    FtpSetActivePorts(client, state_.activePort[0], state_.activePort[1]);
    if (state_.featuresSet) FtpSetFeatures(client, static_cast<DWORD>(state_.features));
    FtpSetListingFacts(client, state_.useMlsd);
    // A layout chosen before the connect holds for its listings (and keeps MLSD off).
    if (state_.directoryFormat != fileDirectoryAutoDetect) {
        FtpErrorGuard keepError;
        FtpSetDirectoryFormat(client, state_.directoryFormat);
    }
    FtpRegisterNotify(client, state_.notifyWindow, kNotifyMessage, kFtpEventMask);

    if (state_.proxyType != fileProxyNone) {
        // The caller of an unknown proxy logs in itself with Command.
        if (state_.proxyType == fileProxyOther) return FinishConnection();
        state_.lastResultCode = -1;
        EngineText account(state_.account);
        if (FtpLogin(client, user.c_str(), password.c_str(), account.c_str()) < 0) {
            FtpErrorGuard keepError;
            state_.lastResultCode = FtpGetResultCode(client);
            char reply[kReplyTextSize];
            FtpGetResultString(client, reply, sizeof reply);
            FtpDisconnect(client);
            state_.clientHandle = kNoClientHandle;
            state_.connectionState = fileStateUnused;
            return FinishConnection();
        }
    }

    state_.connectionState = fileStateIdle;
    char directory[kDirectoryTextSize] = {};
    if (FtpGetCurrentDirectory(client, directory, sizeof directory) >= 0) {
        state_.serverDirectory = Utf8ToUtf16(directory);
    } else {
        // Reported, but the connection stays open.
        ReportError(0, true, false);
    }
    put_FileType(state_.fileType);
    put_Passive(state_.passive ? VARIANT_TRUE : VARIANT_FALSE);
    return FinishConnection();
}

HRESULT CFileTransfer::FinishConnection() {
    if (!IsConnected()) {
        state_.connectionState = fileStateUnused;
        return ReportError(0, true, false);
    }
    state_.connectionState = fileStateIdle;
    CopySecurityInfo();
    return S_OK;
}

void CFileTransfer::CopySecurityInfo() {
    SecurityInfo info{};
    info.size = TLS_SECURITY_INFO_SIZE;
    ControlSecurityInfo& target = state_.securityInfo;
    target = ControlSecurityInfo{};
    target.size = TLS_SECURITY_INFO_SIZE;
    const bool found =
        state_.serverType == fileServerFTP
            ? FtpGetSecurityInfo(state_.clientHandle, &info)
            : HttpGetSecurityInfo(static_cast<HttpClient>(state_.clientHandle), &info);
    if (!found) return;
    target.protocol = info.protocol;
    target.cipher = info.cipher;
    target.cipherStrength = info.cipherStrength;
    target.hash = info.hash;
    target.hashStrength = info.hashStrength;
    target.keyExchange = info.keyExchange;
    target.certificateStatus = info.certificateStatus;
    target.certificateIssued = info.validFrom;
    target.certificateExpires = info.validUntil;
    target.issuer = info.issuer;
    target.subject = info.subject;
    target.fingerprint = info.extra;
    FtpShellInfo shell{};
    if (state_.serverType == fileServerFTP && FtpGetShellInfo(state_.clientHandle, &shell)) {
        target.serverVersion = shell.serverVersion;
        target.algorithms = shell.algorithms;
        target.fingerprintSha256 = shell.fingerprintSha256;
    }
}

// ---- Disconnect, Reset, Cancel --------------------------------------------------

void CFileTransfer::CloseConnection() {
    if (state_.serverType == fileServerFTP) {
        FtpDisconnect(state_.clientHandle);
    } else {
        HttpDisconnect(static_cast<HttpClient>(state_.clientHandle));
    }
}

HRESULT CFileTransfer::Disconnect(VARIANT* error) {
    SetErrorResult(error, 0);
    if (!IsConnected()) return S_OK;
    CloseConnection();
    state_.clientHandle = kNoClientHandle;
    state_.connectionState = fileStateUnused;
    state_.featuresSet = FALSE;
    return S_OK;
}

HRESULT CFileTransfer::Reset() {
    if (IsConnected()) CloseConnection();
    StopTracing();
    put_Transcript(VARIANT_FALSE);
    TlsFreeCredentials(&state_.tlsCredentials);
    ControlState fresh;
    fresh.library = std::move(state_.library);
    fresh.enabled = state_.enabled;
    fresh.enginesInitialized = state_.enginesInitialized;
    fresh.lastResultCode = state_.lastResultCode;
    fresh.errorSource = std::move(state_.errorSource);
    fresh.notifyWindow = state_.notifyWindow;
    state_ = std::move(fresh);
    return S_OK;
}

HRESULT CFileTransfer::Cancel(VARIANT* error) {
    SetErrorResult(error, 0);
    if (state_.connectionState == fileStateConnecting || state_.connectionState == fileStateLogin) {
        if (NetIsBlocking()) NetCancelBlockingCall();
        Fire_OnCancel();
        state_.connectionState = fileStateUnused;
        return S_OK;
    }
    if (!IsConnected()) return S_OK;
    const int cancelled = state_.serverType == fileServerFTP
                              ? FtpCancel(state_.clientHandle)
                              : HttpCancel(static_cast<HttpClient>(state_.clientHandle));
    if (cancelled == 0) return S_OK;
    SetErrorResult(error, ErrorNumber(EngineLastError()));
    return ReportError(0, state_.throwError, true);
}
