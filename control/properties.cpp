// Property reads and writes that keep plain settings. The URL property is in
// url_property.cpp, the error properties in report_error.cpp.
//
// While a connection is open several properties are refreshed from, or
// pushed into, the engine session of ServerType.
#include <algorithm>
#include <cstdio>
#include <new>

#include "control/FileTransfer.h"
#include "control/protocol_version.h"
#include "ftp/ftp.h"
#include "http/http.h"
#include "net/transcript.h"
#include "platform/text.h"
#include "resources/version.h"

namespace {

VARIANT_BOOL ToVariantBool(BOOL value) {
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}
BOOL FromVariantBool(VARIANT_BOOL value) {
    return value != VARIANT_FALSE ? TRUE : FALSE;
}

// Assigns a COM text to a kept setting (a plain or a secret text).
template <class Text>
HRESULT StoreText(Text& target, BSTR value) {
    try {
        target.assign(BstrView(value));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

std::u16string_view TextView(const std::u16string& text) {
    return text;
}
std::u16string_view TextView(const SecretText& text) {
    return text.view();
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

// ---- Settings kept as they are written ----------------------------------------
// The FT_KEPT rows of resources/members.inc are read and written here; the
// FT_KEPT_GET rows only read here, their writes follow.

#define FT_READ_KEPT_Text(Name, field)                  \
    HRESULT CFileTransfer::get_##Name(BSTR* value) {    \
        return ReadText(TextView(state_.field), value); \
    }
#define FT_READ_KEPT_Long(Name, field)               \
    HRESULT CFileTransfer::get_##Name(LONG* value) { \
        return ReadValue(state_.field, value);       \
    }
#define FT_READ_KEPT_Int64(Name, field)                  \
    HRESULT CFileTransfer::get_##Name(LONGLONG* value) { \
        return ReadValue(state_.field, value);           \
    }
#define FT_READ_KEPT_Bool(Name, field)                        \
    HRESULT CFileTransfer::get_##Name(VARIANT_BOOL* value) {  \
        return ReadValue(ToVariantBool(state_.field), value); \
    }
#define FT_WRITE_KEPT_Text(Name, field)             \
    HRESULT CFileTransfer::put_##Name(BSTR value) { \
        return StoreText(state_.field, value);      \
    }
#define FT_WRITE_KEPT_Long(Name, field)             \
    HRESULT CFileTransfer::put_##Name(LONG value) { \
        state_.field = value;                       \
        return S_OK;                                \
    }
#define FT_WRITE_KEPT_Bool(Name, field)                     \
    HRESULT CFileTransfer::put_##Name(VARIANT_BOOL value) { \
        state_.field = FromVariantBool(value);              \
        return S_OK;                                        \
    }
#define FT_PROPERTY(Name, dispid, Value, Access, help)
#define FT_KEPT(Name, dispid, Value, field, help) \
    FT_READ_KEPT_##Value(Name, field) FT_WRITE_KEPT_##Value(Name, field)
#define FT_KEPT_GET(Name, dispid, Value, Access, field, help) FT_READ_KEPT_##Value(Name, field)
#define FT_METHOD(Name, dispid, List, help)
#define FT_PLAIN_METHOD(Name, dispid, List, help)
#include "resources/members.inc"
#undef FT_PROPERTY
#undef FT_KEPT
#undef FT_KEPT_GET
#undef FT_METHOD
#undef FT_PLAIN_METHOD
#undef FT_READ_KEPT_Text
#undef FT_READ_KEPT_Int64
#undef FT_READ_KEPT_Long
#undef FT_READ_KEPT_Bool
#undef FT_WRITE_KEPT_Text
#undef FT_WRITE_KEPT_Long
#undef FT_WRITE_KEPT_Bool

// Enabled (the stock property) and ThrowError are readable at design time too.
#define FT_FLAG_ALWAYS_READABLE(Name, field)                 \
    HRESULT CFileTransfer::get_##Name(VARIANT_BOOL* value) { \
        if (!value) return E_POINTER;                        \
        *value = ToVariantBool(state_.field);                \
        return S_OK;                                         \
    }                                                        \
    HRESULT CFileTransfer::put_##Name(VARIANT_BOOL value) {  \
        state_.field = FromVariantBool(value);               \
        return S_OK;                                         \
    }
FT_FLAG_ALWAYS_READABLE(ThrowError, throwError)
#undef FT_FLAG_ALWAYS_READABLE

HRESULT CFileTransfer::get_Enabled(VARIANT_BOOL* value) {
    if (!value) return E_POINTER;
    *value = ToVariantBool(state_.enabled);
    return S_OK;
}

// The stock property: the container may refuse the edit (S_FALSE, nothing
// changes); the change itself reaches the property sinks after the write.
HRESULT CFileTransfer::put_Enabled(VARIANT_BOOL value) {
    if (!RequestEdit(kDispidEnabled)) return S_FALSE;
    state_.enabled = FromVariantBool(value);
    return S_OK;
}

HRESULT CFileTransfer::put_UseMlsd(VARIANT_BOOL value) {
    state_.useMlsd = FromVariantBool(value);
    if (IsFtpConnected()) FtpSetListingFacts(state_.clientHandle, state_.useMlsd);
    return S_OK;
}

namespace {

void ForwardTranscript(void* user, int kind, const char* text, size_t length) {
    static_cast<CFileTransfer*>(user)->Fire_OnTranscript(
        kind, Utf8ToUtf16(std::string_view(text, length)));
}

}  // namespace

// The transcript belongs to a thread: the control that turned it on last gets
// it, and only that control turns it off again.
HRESULT CFileTransfer::put_Transcript(VARIANT_BOOL value) {
    state_.transcript = FromVariantBool(value);
    if (state_.transcript) {
        NetSetTranscript(ForwardTranscript, this);
    } else if (NetTranscriptUser() == this) {
        NetSetTranscript(nullptr, nullptr);
    }
    return S_OK;
}

HRESULT CFileTransfer::put_Compression(VARIANT_BOOL value) {
    state_.compression = FromVariantBool(value);
    if (IsHttpConnected()) {
        HttpEnableCompression(static_cast<HttpClient>(state_.clientHandle), state_.compression);
    }
    return S_OK;
}

// Limits of decoded HTTP bodies (transfer-methods.md); a negative value is no limit
// but a mistake.
HRESULT CFileTransfer::get_MaxDecodedSize(LONGLONG* value) {
    return ReadValue(state_.maxDecodedSize, value);
}

HRESULT CFileTransfer::put_MaxDecodedSize(LONGLONG value) {
    if (value < 0) return CTL_E_INVALIDPROPERTYVALUE;
    state_.maxDecodedSize = value;
    if (IsHttpConnected()) PushDecodeLimits();
    return S_OK;
}

HRESULT CFileTransfer::put_MaxDecodedRatio(LONG value) {
    if (value < 0) return CTL_E_INVALIDPROPERTYVALUE;
    state_.maxDecodedRatio = value;
    if (IsHttpConnected()) PushDecodeLimits();
    return S_OK;
}

void CFileTransfer::PushDecodeLimits() {
    HttpSetDecodeLimits(static_cast<HttpClient>(state_.clientHandle),
                        static_cast<uint64_t>(state_.maxDecodedSize),
                        static_cast<uint32_t>(state_.maxDecodedRatio));
}

// ---- Tracing (tracing.md) ------------------------------------------------------
// While the engines run, Trace says whether tracing runs; before, it is the wish.

HRESULT CFileTransfer::put_Trace(VARIANT_BOOL value) {
    if (state_.enginesInitialized) StopTracing();
    state_.trace = FromVariantBool(value);
    if (state_.enginesInitialized && state_.trace) StartTracing();
    return S_OK;
}
HRESULT CFileTransfer::put_TraceFile(BSTR value) {
    const HRESULT hr = StoreText(state_.traceFile, value);
    RestartTracing();
    return hr;
}
HRESULT CFileTransfer::put_TraceFlags(LONG value) {
    state_.traceFlags = value;
    RestartTracing();
    return S_OK;
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

HRESULT CFileTransfer::put_FileType(LONG value) {
    state_.fileType = value;
    if (IsFtpConnected() && FtpSetFileType(state_.clientHandle, value) < 0) {
        return ReportEngineFailure();
    }
    return S_OK;
}

HRESULT CFileTransfer::put_Passive(VARIANT_BOOL value) {
    state_.passive = FromVariantBool(value);
    if (IsFtpConnected() && FtpSetPassiveMode(state_.clientHandle, state_.passive) < 0) {
        return ReportEngineFailure();
    }
    return S_OK;
}

HRESULT CFileTransfer::get_Priority(LONG* value) {
    if (IsConnected()) {
        const int priority = IsFtpConnected()
                                 ? FtpGetPriority(state_.clientHandle)
                                 : HttpGetPriority(static_cast<HttpClient>(state_.clientHandle));
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
    if (IsHttpConnected() &&
        HttpSetPriority(static_cast<HttpClient>(state_.clientHandle), value) < 0) {
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

HRESULT CFileTransfer::put_ProxyType(LONG value) {
    if (IsConnected() && value != state_.proxyType) {
        return ReportError(MakeErrorCode(fileErrorAlreadyConnected), true, false);
    }
    if (!ProxyTypeAllowed(state_.serverType, value)) return CTL_E_INVALIDPROPERTYVALUE;
    state_.proxyType = value;
    return S_OK;
}

HRESULT CFileTransfer::put_Options(LONG value) {
    if (value & (fileOptionSecureExplicit | fileOptionSecureShell))
        value |= fileOptionSecureImplicit;
    state_.options = value;
    // Options can switch security on, never off.
    if (value & fileOptionSecureImplicit) state_.secure = TRUE;
    return S_OK;
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

HRESULT CFileTransfer::put_ServerPort(LONG value) {
    if (state_.serverType == fileServerUndefined) {
        for (const PortServerType& known : kWellKnownPorts) {
            if (known.port == value) state_.serverType = known.serverType;
        }
    }
    state_.serverPort = value;
    return S_OK;
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

namespace {
LONG SecurityField(bool connected, DWORD field) {
    return connected ? static_cast<LONG>(field) : 0;
}
}  // namespace

// One row a property: its name, how the record's field becomes text, the field.
#define FT_SECURITY_TEXT(Name, toText, field)                                            \
    HRESULT CFileTransfer::get_##Name(BSTR* value) {                                     \
        return ReadText(IsConnected() ? toText(state_.securityInfo.field) : u"", value); \
    }
#define FT_SECURITY_NUMBER(Name, field)                                                   \
    HRESULT CFileTransfer::get_##Name(LONG* value) {                                      \
        return ReadValue(SecurityField(IsConnected(), state_.securityInfo.field), value); \
    }

FT_SECURITY_TEXT(CertificateExpires, DateText, certificateExpires)
FT_SECURITY_TEXT(CertificateIssued, DateText, certificateIssued)
FT_SECURITY_TEXT(CertificateIssuer, ConnectionText, issuer)
FT_SECURITY_TEXT(CertificateSubject, ConnectionText, subject)
FT_SECURITY_TEXT(Fingerprint, ConnectionText, fingerprint)
FT_SECURITY_TEXT(FingerprintSHA256, ConnectionText, fingerprintSha256)
FT_SECURITY_TEXT(SecureAlgorithms, ConnectionText, algorithms)
FT_SECURITY_TEXT(ServerVersion, ConnectionText, serverVersion)
FT_SECURITY_NUMBER(CertificateStatus, certificateStatus)
FT_SECURITY_NUMBER(CipherStrength, cipherStrength)
FT_SECURITY_NUMBER(HashStrength, hashStrength)
FT_SECURITY_NUMBER(SecureCipher, cipher)
FT_SECURITY_NUMBER(SecureHash, hash)
FT_SECURITY_NUMBER(SecureKeyExchange, keyExchange)

#undef FT_SECURITY_TEXT
#undef FT_SECURITY_NUMBER

HRESULT CFileTransfer::get_ResultCode(LONG* value) {
    if (HRESULT hr = CheckReadable(value); FAILED(hr)) return hr;
    *value = IsFtpConnected()    ? FtpGetResultCode(state_.clientHandle)
             : IsHttpConnected() ? HttpGetResultCode(static_cast<HttpClient>(state_.clientHandle))
                                 : state_.lastResultCode;
    return S_OK;
}
HRESULT CFileTransfer::get_ResultString(BSTR* value) {
    if (HRESULT hr = CheckReadable(value); FAILED(hr)) return hr;
    char text[kReplyTextSize] = {};
    if (IsFtpConnected() && FtpGetResultString(state_.clientHandle, text, sizeof text) < 0) {
        return ReportEngineFailure();
    }
    if (IsHttpConnected() &&
        HttpGetResultString(static_cast<HttpClient>(state_.clientHandle), text) < 0) {
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
    if (IsHttpConnected()) {
        HttpTransferStatus status{};
        if (!HttpGetTransferStatus(static_cast<HttpClient>(state_.clientHandle), &status)) {
            return S_OK;
        }
        if (bytes) *bytes = static_cast<LONG>(status.bytesCopied);
        if (seconds) *seconds = static_cast<LONG>(status.elapsedSeconds);
        return S_OK;
    }
    if (!IsFtpConnected()) return S_OK;
    FtpTransferStatus status{};
    if (FtpGetTransferStatus(state_.clientHandle, &status) < 0) return S_OK;
    if (bytes) *bytes = static_cast<LONG>(status.bytesCopied);
    if (seconds) *seconds = static_cast<LONG>(status.elapsedSeconds);
    return S_OK;
}
void CFileTransfer::ReadTransferTotals(uint64_t* total, uint64_t* copied) {
    *total = *copied = 0;
    if (IsHttpConnected()) {
        HttpGetTransferTotals64(static_cast<HttpClient>(state_.clientHandle), total, copied);
        return;
    }
    if (!IsFtpConnected()) return;
    FtpTransferStatus status{};
    if (FtpGetTransferStatus(state_.clientHandle, &status) < 0) return;
    *total = status.totalBytes;
    *copied = status.bytesCopied;
}

HRESULT CFileTransfer::get_TransferBytes64(LONGLONG* value) {
    uint64_t total = 0, copied = 0;
    ReadTransferTotals(&total, &copied);
    return ReadValue(static_cast<LONGLONG>(copied), value);
}

HRESULT CFileTransfer::get_TransferSize64(LONGLONG* value) {
    uint64_t total = 0, copied = 0;
    ReadTransferTotals(&total, &copied);
    return ReadValue(static_cast<LONGLONG>(total), value);
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
