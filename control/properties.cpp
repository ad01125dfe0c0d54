// Property reads and writes that keep plain settings. The URL property is in
// url_property.cpp, the error properties in report_error.cpp.
//
// While an FTP connection is open several properties are refreshed from, or
// pushed into, the engine session. HTTP connections do not exist yet, so the
// HTTP engine's side of those properties arrives with them.
#include <algorithm>
#include <cstdio>
#include <new>

#include "control/FileTransfer.h"
#include "control/protocol_version.h"
#include "ftp/ftp.h"
#include "http/http.h"
#include "platform/text.h"
#include "resources/version.h"

namespace {

VARIANT_BOOL ToVariantBool(BOOL value) {
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}
BOOL FromVariantBool(VARIANT_BOOL value) {
    return value != VARIANT_FALSE ? TRUE : FALSE;
}

HRESULT StoreText(std::u16string& target, BSTR value) {
    try {
        target.assign(BstrView(value));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT StoreSecret(SecretText& target, BSTR value) {
    try {
        target.assign(BstrView(value));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

bool IsValidIndex(LONG index) {
    return index == 0 || index == 1;
}

// Ports that identify the engine while the server type is still undefined.
struct PortServerType {
    LONG port;
    LONG serverType;
};
constexpr PortServerType kWellKnownPorts[] = {
    {filePortFTP, fileServerFTP},
    {filePortFTPS, fileServerFTP},
    {filePortHTTP, fileServerHTTP},
    {filePortHTTPS, fileServerHTTP},
};

// Proxy types each engine accepts.
constexpr LONG kFtpProxyTypes[] = {fileProxyNone, fileProxyFtpUser, fileProxyLogin,
                                   fileProxyOpen, fileProxySite,    fileProxyOther};
constexpr LONG kHttpProxyTypes[] = {fileProxyNone, fileProxyCern, fileProxyTunnel,
                                    fileProxyWindows};

bool ProxyTypeAllowed(LONG serverType, LONG proxyType) {
    auto contains = [proxyType](const auto& allowed) {
        return std::find(std::begin(allowed), std::end(allowed), proxyType) != std::end(allowed);
    };
    switch (serverType) {
        case fileServerFTP:
            return contains(kFtpProxyTypes);
        case fileServerHTTP:
            return contains(kHttpProxyTypes);
        default:
            return true;
    }
}

constexpr LONG kHighestDirectoryFormat = fileDirectoryNetWare;
constexpr LONG kServerTypes[] = {fileServerUndefined, fileServerFTP, fileServerHTTP};

// The text of an automation date converted from a SYSTEMTIME, "" if it has none.
std::u16string DateText(const SYSTEMTIME& time) {
    VARIANT date;
    VariantInit(&date);
    if (!SystemTimeToVariantTime(&time, &date.date)) return {};
    date.vt = VT_DATE;
    VARIANT text;
    VariantInit(&text);
    std::u16string result;
    if (SUCCEEDED(VariantChangeType(&text, &date, 0, VT_BSTR))) result = BstrView(text.bstrVal);
    VariantClear(&text);
    return result;
}

std::u16string ConnectionText(const char* text) {
    return text ? Utf8ToUtf16(text) : std::u16string();
}

constexpr int kDirectoryTextSize = 512;
constexpr int kSystemTextSize = 128;
constexpr int kReplyTextSize = 2048;
constexpr int kHostNameSize = 128;
constexpr int kAddressTextSize = 64;

// The text of an address in network order ("" for an unknown family).
std::u16string AddressText(const NetAddress& address) {
    char text[kAddressTextSize] = {};
    const int family = address.family == NET_FAMILY_IPV6 ? AF_INET6 : AF_INET;
    if (!NetInetNtop(family, address.address, text, sizeof text)) return {};
    return Utf8ToUtf16(text);
}

}  // namespace

// ---- Stock property ---------------------------------------------------------

HRESULT CFileTransfer::get_Enabled(VARIANT_BOOL* value) {
    if (!value) return E_POINTER;
    *value = ToVariantBool(state_.enabled);
    return S_OK;
}

HRESULT CFileTransfer::put_Enabled(VARIANT_BOOL value) {
    state_.enabled = FromVariantBool(value);
    return S_OK;
}

// ---- Texts kept as they are -------------------------------------------------

HRESULT CFileTransfer::get_Account(BSTR* value) {
    return ReadText(state_.account, value);
}
HRESULT CFileTransfer::put_Account(BSTR value) {
    return StoreText(state_.account, value);
}
HRESULT CFileTransfer::get_CertificateName(BSTR* value) {
    return ReadText(state_.certificateName, value);
}
HRESULT CFileTransfer::put_CertificateName(BSTR value) {
    return StoreText(state_.certificateName, value);
}
HRESULT CFileTransfer::get_CertificateStore(BSTR* value) {
    return ReadText(state_.certificateStore, value);
}
HRESULT CFileTransfer::put_CertificateStore(BSTR value) {
    return StoreText(state_.certificateStore, value);
}
HRESULT CFileTransfer::get_Password(BSTR* value) {
    return ReadText(state_.password.view(), value);
}
HRESULT CFileTransfer::put_Password(BSTR value) {
    return StoreSecret(state_.password, value);
}
HRESULT CFileTransfer::get_PrivateKey(BSTR* value) {
    return ReadText(state_.privateKey.view(), value);
}
HRESULT CFileTransfer::put_PrivateKey(BSTR value) {
    return StoreSecret(state_.privateKey, value);
}
HRESULT CFileTransfer::get_ProxyPassword(BSTR* value) {
    return ReadText(state_.proxyPassword.view(), value);
}
HRESULT CFileTransfer::put_ProxyPassword(BSTR value) {
    return StoreSecret(state_.proxyPassword, value);
}
HRESULT CFileTransfer::get_ProxyServer(BSTR* value) {
    return ReadText(state_.proxyServer, value);
}
HRESULT CFileTransfer::put_ProxyServer(BSTR value) {
    return StoreText(state_.proxyServer, value);
}
HRESULT CFileTransfer::get_ProxyUser(BSTR* value) {
    return ReadText(state_.proxyUser, value);
}
HRESULT CFileTransfer::put_ProxyUser(BSTR value) {
    return StoreText(state_.proxyUser, value);
}
HRESULT CFileTransfer::get_Resource(BSTR* value) {
    return ReadText(state_.resource, value);
}
HRESULT CFileTransfer::put_Resource(BSTR value) {
    return StoreText(state_.resource, value);
}
HRESULT CFileTransfer::get_ServerName(BSTR* value) {
    return ReadText(state_.serverName, value);
}
HRESULT CFileTransfer::put_ServerName(BSTR value) {
    return StoreText(state_.serverName, value);
}
HRESULT CFileTransfer::get_UserName(BSTR* value) {
    return ReadText(state_.userName, value);
}
HRESULT CFileTransfer::put_UserName(BSTR value) {
    return StoreText(state_.userName, value);
}

HRESULT CFileTransfer::get_Library(BSTR* value) {
    return ReadText(state_.library, value);
}
HRESULT CFileTransfer::put_Library(BSTR) {
    return CTL_E_SETNOTSUPPORTED;
}

HRESULT CFileTransfer::get_ServerDirectory(BSTR* value) {
    if (HRESULT hr = CheckReadable(value); FAILED(hr)) return hr;
    if (IsFtpConnected()) {
        char directory[kDirectoryTextSize] = {};
        if (FtpGetCurrentDirectory(state_.clientHandle, directory, sizeof directory) < 0) {
            // Reported as a method reports its failure.
            const HRESULT hr = ReportError(0, state_.throwError, true);
            if (FAILED(hr)) return hr;
        } else {
            state_.serverDirectory = Utf8ToUtf16(directory);
        }
    }
    return ReadText(state_.serverDirectory, value);
}
HRESULT CFileTransfer::put_ServerDirectory(BSTR value) {
    if (HRESULT hr = StoreText(state_.serverDirectory, value); FAILED(hr)) return hr;
    if (IsFtpConnected() &&
        FtpChangeDirectory(state_.clientHandle, Utf8FromBstr(value).c_str()) < 0) {
        return ReportEngineFailure();
    }
    return S_OK;
}

// ---- Flags and numbers kept as they are -------------------------------------

HRESULT CFileTransfer::get_AppendFile(VARIANT_BOOL* value) {
    return ReadValue(ToVariantBool(state_.appendFile), value);
}
HRESULT CFileTransfer::put_AppendFile(VARIANT_BOOL value) {
    state_.appendFile = FromVariantBool(value);
    return S_OK;
}
HRESULT CFileTransfer::get_KeepAlive(VARIANT_BOOL* value) {
    return ReadValue(ToVariantBool(state_.keepAlive), value);
}
HRESULT CFileTransfer::put_KeepAlive(VARIANT_BOOL value) {
    state_.keepAlive = FromVariantBool(value);
    return S_OK;
}
HRESULT CFileTransfer::get_Localize(VARIANT_BOOL* value) {
    return ReadValue(ToVariantBool(state_.localize), value);
}
HRESULT CFileTransfer::put_Localize(VARIANT_BOOL value) {
    state_.localize = FromVariantBool(value);
    return S_OK;
}
HRESULT CFileTransfer::get_Compression(VARIANT_BOOL* value) {
    return ReadValue(ToVariantBool(state_.compression), value);
}
HRESULT CFileTransfer::put_Compression(VARIANT_BOOL value) {
    // Connected to an HTTP server: the session's compression is switched too
    // (arrives with the HTTP session).
    state_.compression = FromVariantBool(value);
    return S_OK;
}

// ThrowError is readable even at design time.
HRESULT CFileTransfer::get_ThrowError(VARIANT_BOOL* value) {
    if (!value) return E_POINTER;
    *value = ToVariantBool(state_.throwError);
    return S_OK;
}
HRESULT CFileTransfer::put_ThrowError(VARIANT_BOOL value) {
    state_.throwError = FromVariantBool(value);
    return S_OK;
}

HRESULT CFileTransfer::get_Timeout(LONG* value) {
    return ReadValue(state_.timeout, value);
}
HRESULT CFileTransfer::put_Timeout(LONG value) {
    state_.timeout = value;
    return S_OK;
}
HRESULT CFileTransfer::get_ProxyPort(LONG* value) {
    return ReadValue(state_.proxyPort, value);
}
HRESULT CFileTransfer::put_ProxyPort(LONG value) {
    state_.proxyPort = value;
    return S_OK;
}

// ---- Tracing ------------------------------------------------------------------
// The trace facility (NetTraceOn/NetTraceOff) is not there yet: the values are
// only stored, and Trace reads as written.

HRESULT CFileTransfer::get_Trace(VARIANT_BOOL* value) {
    return ReadValue(ToVariantBool(state_.trace), value);
}
HRESULT CFileTransfer::put_Trace(VARIANT_BOOL value) {
    state_.trace = FromVariantBool(value);
    return S_OK;
}
HRESULT CFileTransfer::get_TraceFile(BSTR* value) {
    return ReadText(state_.traceFile, value);
}
HRESULT CFileTransfer::put_TraceFile(BSTR value) {
    return StoreText(state_.traceFile, value);
}
HRESULT CFileTransfer::get_TraceFlags(LONG* value) {
    return ReadValue(state_.traceFlags, value);
}
HRESULT CFileTransfer::put_TraceFlags(LONG value) {
    state_.traceFlags = value;
    return S_OK;
}

// ---- Session settings ---------------------------------------------------------

HRESULT CFileTransfer::get_ActivePort(LONG index, LONG* value) {
    if (HRESULT hr = CheckReadable(value); FAILED(hr)) return hr;
    if (HRESULT hr = RefreshActivePorts(); FAILED(hr)) return hr;
    if (!IsValidIndex(index)) return CTL_E_INVALIDPROPERTYARRAYINDEX;
    *value = state_.activePort[index];
    return S_OK;
}

HRESULT CFileTransfer::put_ActivePort(LONG index, LONG value) {
    if (HRESULT hr = RefreshActivePorts(); FAILED(hr)) return hr;
    if (!IsValidIndex(index)) return CTL_E_INVALIDPROPERTYARRAYINDEX;
    state_.activePort[index] = value;
    if (IsFtpConnected() &&
        FtpSetActivePorts(state_.clientHandle, state_.activePort[0], state_.activePort[1]) < 0) {
        return ReportEngineFailure();
    }
    return S_OK;
}

HRESULT CFileTransfer::RefreshActivePorts() {
    if (!IsFtpConnected()) return S_OK;
    int low = 0, high = 0;
    if (FtpGetActivePorts(state_.clientHandle, &low, &high) < 0) return ReportEngineFailure();
    state_.activePort[0] = low;
    state_.activePort[1] = high;
    return S_OK;
}

HRESULT CFileTransfer::get_ChannelMode(LONG index, LONG* value) {
    if (HRESULT hr = CheckReadable(value); FAILED(hr)) return hr;
    if (!IsValidIndex(index)) return CTL_E_INVALIDPROPERTYARRAYINDEX;
    // Without an FTP session every channel reads as clear.
    LONG mode = ftpChannelClear;
    if (IsFtpConnected()) {
        mode = FtpGetChannelMode(state_.clientHandle, index);
        if (mode < 0) return ReportEngineFailure();
    }
    *value = mode;
    return S_OK;
}

HRESULT CFileTransfer::put_ChannelMode(LONG index, LONG value) {
    if (!IsValidIndex(index)) return CTL_E_INVALIDPROPERTYARRAYINDEX;
    // Only an open FTP session has channel modes; without one the value is not kept.
    if (IsFtpConnected() && FtpSetChannelMode(state_.clientHandle, index, value) < 0) {
        return ReportEngineFailure();
    }
    return S_OK;
}

HRESULT CFileTransfer::get_DirectoryFormat(LONG* value) {
    if (IsFtpConnected()) {
        const int format = FtpGetDirectoryFormat(state_.clientHandle);
        if (format >= 0) state_.directoryFormat = format;
    }
    return ReadValue(state_.directoryFormat, value);
}

HRESULT CFileTransfer::put_DirectoryFormat(LONG value) {
    if (value < fileDirectoryAutoDetect || value > kHighestDirectoryFormat) {
        return CTL_E_INVALIDPROPERTYVALUE;
    }
    state_.directoryFormat = value;
    if (IsFtpConnected() && FtpSetDirectoryFormat(state_.clientHandle, value) < 0) {
        return ReportEngineFailure();
    }
    return S_OK;
}

HRESULT CFileTransfer::get_Features(LONG* value) {
    if (HRESULT hr = CheckReadable(value); FAILED(hr)) return hr;
    if (IsFtpConnected()) {
        const DWORD features = FtpGetFeatures(state_.clientHandle);
        if (features == 0 && FtpGetLastError() != 0) return ReportEngineFailure();
        state_.features = static_cast<LONG>(features);
    }
    *value = state_.features;
    return S_OK;
}

HRESULT CFileTransfer::put_Features(LONG value) {
    state_.featuresSet = TRUE;
    if (!IsFtpConnected()) {
        state_.features = value;
        return S_OK;
    }
    // The previous mask is the result, so only the last error tells a failure.
    FtpSetLastError(0);
    const DWORD previous = FtpSetFeatures(state_.clientHandle, static_cast<DWORD>(value));
    if (previous == 0 && FtpGetLastError() != 0) return ReportEngineFailure();
    state_.features = static_cast<LONG>(FtpGetFeatures(state_.clientHandle));
    return S_OK;
}

HRESULT CFileTransfer::get_FileType(LONG* value) {
    return ReadValue(state_.fileType, value);
}
HRESULT CFileTransfer::put_FileType(LONG value) {
    state_.fileType = value;
    if (IsFtpConnected() && FtpSetFileType(state_.clientHandle, value) < 0) {
        return ReportEngineFailure();
    }
    return S_OK;
}

HRESULT CFileTransfer::get_Passive(VARIANT_BOOL* value) {
    return ReadValue(ToVariantBool(state_.passive), value);
}
HRESULT CFileTransfer::put_Passive(VARIANT_BOOL value) {
    state_.passive = FromVariantBool(value);
    if (IsFtpConnected() && FtpSetPassiveMode(state_.clientHandle, state_.passive) < 0) {
        return ReportEngineFailure();
    }
    return S_OK;
}

HRESULT CFileTransfer::get_Priority(LONG* value) {
    if (IsFtpConnected()) {
        const int priority = FtpGetPriority(state_.clientHandle);
        if (priority >= 0) state_.priority = priority;
    }
    return ReadValue(state_.priority, value);
}

HRESULT CFileTransfer::put_Priority(LONG value) {
    if (value < filePriorityLowest || value > filePriorityHighest) value = filePriorityNormal;
    // The session must accept it before it is stored.
    if (IsFtpConnected() && FtpSetPriority(state_.clientHandle, value) < 0) {
        return ReportEngineFailure();
    }
    state_.priority = value;
    return S_OK;
}

HRESULT CFileTransfer::get_ProtocolVersion(BSTR* value) {
    return ReadText(Utf8ToUtf16(FormatProtocolVersion(state_.protocolVersion)), value);
}

HRESULT CFileTransfer::put_ProtocolVersion(BSTR value) {
    state_.protocolVersion = ParseProtocolVersion(Utf8FromBstr(value));
    return S_OK;
}

HRESULT CFileTransfer::get_ProxyType(LONG* value) {
    return ReadValue(state_.proxyType, value);
}

HRESULT CFileTransfer::put_ProxyType(LONG value) {
    if (IsConnected() && value != state_.proxyType) {
        return ReportError(MakeErrorCode(fileErrorAlreadyConnected), true, false);
    }
    if (!ProxyTypeAllowed(state_.serverType, value)) return CTL_E_INVALIDPROPERTYVALUE;
    state_.proxyType = value;
    return S_OK;
}

HRESULT CFileTransfer::get_Options(LONG* value) {
    return ReadValue(state_.options, value);
}

HRESULT CFileTransfer::put_Options(LONG value) {
    if (value & (fileOptionSecureExplicit | fileOptionSecureShell))
        value |= fileOptionSecureImplicit;
    state_.options = value;
    // Options can switch security on, never off.
    if (value & fileOptionSecureImplicit) state_.secure = TRUE;
    return S_OK;
}

HRESULT CFileTransfer::get_Secure(VARIANT_BOOL* value) {
    return ReadValue(ToVariantBool(state_.secure), value);
}

HRESULT CFileTransfer::put_Secure(VARIANT_BOOL value) {
    const BOOL secure = FromVariantBool(value);
    if (secure && state_.secureProtocol == fileProtocolNone) {
        state_.secureProtocol = fileProtocolDefault;
    }
    state_.secure = secure;
    return S_OK;
}

HRESULT CFileTransfer::get_SecureProtocol(LONG* value) {
    LONG protocol = fileProtocolNone;
    if (IsConnected()) {
        protocol = static_cast<LONG>(state_.securityInfo.protocol);
    } else if (state_.secure) {
        protocol = state_.secureProtocol;
    }
    return ReadValue(protocol, value);
}

HRESULT CFileTransfer::put_SecureProtocol(LONG value) {
    if (IsConnected()) return ReportError(MakeErrorCode(fileErrorAlreadyConnected), true, false);
    state_.secureProtocol = value;
    state_.secure = value != fileProtocolNone ? TRUE : FALSE;
    return S_OK;
}

HRESULT CFileTransfer::get_ServerPort(LONG* value) {
    return ReadValue(state_.serverPort, value);
}

HRESULT CFileTransfer::put_ServerPort(LONG value) {
    if (state_.serverType == fileServerUndefined) {
        for (const PortServerType& known : kWellKnownPorts) {
            if (known.port == value) state_.serverType = known.serverType;
        }
    }
    state_.serverPort = value;
    return S_OK;
}

HRESULT CFileTransfer::get_ServerType(LONG* value) {
    return ReadValue(state_.serverType, value);
}

HRESULT CFileTransfer::put_ServerType(LONG value) {
    if (std::find(std::begin(kServerTypes), std::end(kServerTypes), value) ==
        std::end(kServerTypes)) {
        return CTL_E_INVALIDPROPERTYVALUE;
    }
    if (IsConnected() && value != state_.serverType) {
        return ReportError(MakeErrorCode(fileErrorAlreadyConnected), true, false);
    }
    state_.serverType = value;
    return S_OK;
}

// ---- Read-only views of the connection ----------------------------------------
// Without a connection these read as empty or 0. The security record is filled
// by each successful connect; the session's own figures come from the engine.

HRESULT CFileTransfer::get_CertificateExpires(BSTR* value) {
    return ReadText(IsConnected() ? DateText(state_.securityInfo.certificateExpires) : u"", value);
}
HRESULT CFileTransfer::get_CertificateIssued(BSTR* value) {
    return ReadText(IsConnected() ? DateText(state_.securityInfo.certificateIssued) : u"", value);
}
HRESULT CFileTransfer::get_CertificateIssuer(BSTR* value) {
    return ReadText(IsConnected() ? ConnectionText(state_.securityInfo.issuer) : u"", value);
}
HRESULT CFileTransfer::get_CertificateSubject(BSTR* value) {
    return ReadText(IsConnected() ? ConnectionText(state_.securityInfo.subject) : u"", value);
}
HRESULT CFileTransfer::get_Fingerprint(BSTR* value) {
    return ReadText(IsConnected() ? ConnectionText(state_.securityInfo.fingerprint) : u"", value);
}

namespace {
LONG SecurityField(bool connected, DWORD field) {
    return connected ? static_cast<LONG>(field) : 0;
}
}  // namespace

HRESULT CFileTransfer::get_CertificateStatus(LONG* value) {
    return ReadValue(SecurityField(IsConnected(), state_.securityInfo.certificateStatus), value);
}
HRESULT CFileTransfer::get_CipherStrength(LONG* value) {
    return ReadValue(SecurityField(IsConnected(), state_.securityInfo.cipherStrength), value);
}
HRESULT CFileTransfer::get_HashStrength(LONG* value) {
    return ReadValue(SecurityField(IsConnected(), state_.securityInfo.hashStrength), value);
}
HRESULT CFileTransfer::get_SecureCipher(LONG* value) {
    return ReadValue(SecurityField(IsConnected(), state_.securityInfo.cipher), value);
}
HRESULT CFileTransfer::get_SecureHash(LONG* value) {
    return ReadValue(SecurityField(IsConnected(), state_.securityInfo.hash), value);
}
HRESULT CFileTransfer::get_SecureKeyExchange(LONG* value) {
    return ReadValue(SecurityField(IsConnected(), state_.securityInfo.keyExchange), value);
}

HRESULT CFileTransfer::get_ResultCode(LONG* value) {
    if (HRESULT hr = CheckReadable(value); FAILED(hr)) return hr;
    *value = IsFtpConnected() ? FtpGetResultCode(state_.clientHandle) : state_.lastResultCode;
    return S_OK;
}
HRESULT CFileTransfer::get_ResultString(BSTR* value) {
    if (HRESULT hr = CheckReadable(value); FAILED(hr)) return hr;
    char text[kReplyTextSize] = {};
    if (IsFtpConnected() && FtpGetResultString(state_.clientHandle, text, sizeof text) < 0) {
        return ReportEngineFailure();
    }
    return ReadText(Utf8ToUtf16(text), value);
}
HRESULT CFileTransfer::get_System(BSTR* value) {
    if (HRESULT hr = CheckReadable(value); FAILED(hr)) return hr;
    char text[kSystemTextSize] = {};
    if (IsFtpConnected() && FtpGetSystemName(state_.clientHandle, text) < 0) {
        return ReportEngineFailure();
    }
    return ReadText(Utf8ToUtf16(text), value);
}

// Bytes copied and seconds spent by the session's current or last transfer.
HRESULT CFileTransfer::ReadTransferStatus(LONG* bytes, LONG* seconds) {
    if (!IsFtpConnected()) return S_OK;
    FtpTransferStatus status{};
    if (FtpGetTransferStatus(state_.clientHandle, &status) < 0) return S_OK;
    if (bytes) *bytes = static_cast<LONG>(status.bytesCopied);
    if (seconds) *seconds = static_cast<LONG>(status.elapsedSeconds);
    return S_OK;
}
HRESULT CFileTransfer::get_TransferBytes(LONG* value) {
    LONG bytes = 0;
    ReadTransferStatus(&bytes, nullptr);
    return ReadValue(bytes, value);
}
HRESULT CFileTransfer::get_TransferTime(LONG* value) {
    LONG seconds = 0;
    ReadTransferStatus(nullptr, &seconds);
    return ReadValue(seconds, value);
}

// ---- Engine-backed reads --------------------------------------------------------
// These start the engines first when needed.

HRESULT CFileTransfer::get_LocalAddress(BSTR* value) {
    if (HRESULT hr = CheckReadable(value); FAILED(hr)) return hr;
    *value = nullptr;
    StartEnginesIfNeeded();
    const int family = (state_.options & fileOptionIpv6Only) ? NET_FAMILY_IPV6 : 0;
    NetAddress address{};
    const bool ftp = state_.serverType == fileServerFTP;
    const int found =
        ftp ? FtpGetLocalAddress(state_.clientHandle, family, &address)
            : HttpGetLocalAddress(static_cast<HttpClient>(state_.clientHandle), family, &address);
    if (found < 0) return ReportError(ftp ? FtpGetLastError() : HttpGetLastError(), true, false);
    return ReadText(AddressText(address), value);
}

HRESULT CFileTransfer::get_LocalName(BSTR* value) {
    if (HRESULT hr = CheckReadable(value); FAILED(hr)) return hr;
    *value = nullptr;
    StartEnginesIfNeeded();
    char name[kHostNameSize] = {};
    if (NetGetHostName(name, sizeof name) != 0) {
        const int error = NetGetLastError();
        return ReportError(MakeErrorCode(error != 0 ? error : fileErrorUnknownLocalhost), true,
                           false);
    }
    return ReadText(Utf8ToUtf16(name), value);
}

// ---- Version ------------------------------------------------------------------------

HRESULT CFileTransfer::get_Version(BSTR* value) {
    if (HRESULT hr = CheckReadable(value); FAILED(hr)) return hr;
    if (state_.versionText.empty()) {
        char text[32];
        std::snprintf(text, sizeof text, "%hu.%hu.%hu.%hu", kFileVersion.major, kFileVersion.minor,
                      kFileVersion.build, kFileVersion.revision);
        state_.versionText = Utf8ToUtf16(text);
    }
    return ReadText(state_.versionText, value);
}
