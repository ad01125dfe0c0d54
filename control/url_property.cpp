// The URL property: parsing a URL into the other properties and composing one
// from them. The rules are described in docs/url-property.md.
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "control/FileTransfer.h"
#include "control/url_scheme.h"
#include "ftp/ftpurl.h"
#include "http/url.h"
#include "platform/text.h"
#include "platform/wipe.h"

namespace {

constexpr std::string_view kAnonymousUser = "anonymous";
constexpr std::string_view kAnonymousPassword = "user@";
constexpr int kComposeReserve = 128;

struct FtpUrlDeleter {
    void operator()(FtpUrlRecord* record) const { FtpFreeUrl(record); }
};
struct HttpUrlDeleter {
    void operator()(HttpUrlRecord* record) const { HttpFreeUrl(record); }
};
using FtpUrlPtr = std::unique_ptr<FtpUrlRecord, FtpUrlDeleter>;
using HttpUrlPtr = std::unique_ptr<HttpUrlRecord, HttpUrlDeleter>;

// A BSTR made from 8-bit text for one put call.
class TempBstr {
  public:
    explicit TempBstr(std::string_view text) : bstr_(BstrFromUtf8(text)) {}
    ~TempBstr() { SysFreeString(bstr_); }
    TempBstr(const TempBstr&) = delete;
    TempBstr& operator=(const TempBstr&) = delete;
    BSTR get() const { return bstr_; }
    bool ok() const { return bstr_ != nullptr; }

  private:
    BSTR bstr_;
};

// Writes a text through a property's put method.
template <class Control>
HRESULT PutText(Control& control, HRESULT (Control::*put)(BSTR), std::string_view text) {
    TempBstr value(text);
    if (!value.ok()) return E_OUTOFMEMORY;
    return (control.*put)(value.get());
}

std::string FtpResource(const FtpUrlRecord& record) {
    if (record.directory && record.fileName) {
        return std::string(record.directory) + "/" + record.fileName;
    }
    if (record.directory) return record.directory;
    if (record.fileName) return record.fileName;
    return {};
}

// The ftp options and security a URL scheme selects.
void ApplyFtpScheme(int scheme, int port, LONG& options, BOOL& secure) {
    switch (scheme) {
        case FTP_SCHEME_FTPS:
            secure = TRUE;
            options |= fileOptionSecureImplicit;
            if (port != filePortFTPS && port != filePortSSH) options |= fileOptionSecureExplicit;
            break;
        case FTP_SCHEME_SFTP:
            secure = TRUE;
            options &= ~fileOptionSecureExplicit;
            options |= fileOptionSecureShell | fileOptionSecureImplicit;
            break;
        default:
            options &= ~(fileOptionSecureImplicit | fileOptionSecureExplicit);
            secure = FALSE;
            break;
    }
}

int FtpSchemeFor(BOOL secure, LONG options) {
    if (!secure) return FTP_SCHEME_FTP;
    return (options & fileOptionSecureShell) ? FTP_SCHEME_SFTP : FTP_SCHEME_FTPS;
}

char* TextOrNull(std::string& text) {
    return text.empty() ? nullptr : text.data();
}

}  // namespace

HRESULT CFileTransfer::put_URL(BSTR value) {
    std::string text;
    try {
        text = Utf8FromBstr(value);
    } catch (const std::bad_alloc&) {
        return CTL_E_OUTOFMEMORY;
    }
    if (!text.empty() && text.front() == '/') return put_Resource(value);
    const LONG serverType = DetectUrlScheme(text);
    if (serverType == fileServerUndefined) return CTL_E_INVALIDPROPERTYVALUE;
    // The open connection belongs to the engine of the old type: it is closed
    // before the type changes, else it would stay open and later calls would
    // hand its handle to the other engine.
    if (IsConnected() && serverType != state_.serverType) Disconnect(nullptr);
    state_.serverType = serverType;
    const HRESULT hr = serverType == fileServerHTTP ? WriteHttpUrl(text) : WriteFtpUrl(text);
    WipeString(text);
    return hr;
}

HRESULT CFileTransfer::WriteHttpUrl(const std::string& text) {
    HttpUrlRecord* raw = nullptr;
    if (!HttpParseUrl(text.c_str(), &raw) || !raw) return CTL_E_INVALIDPROPERTYVALUE;
    HttpUrlPtr record(raw);
    state_.secure = record->scheme == HTTP_SCHEME_HTTPS ? TRUE : FALSE;
    if (record->host) {
        if (HRESULT hr = PutText(*this, &CFileTransfer::put_ServerName, record->host); FAILED(hr)) {
            return hr;
        }
    }
    if (HRESULT hr = put_ServerPort(record->port); FAILED(hr)) return hr;
    std::string resource;
    if (record->path) {
        resource = record->path;
        if (record->query) resource.append("?").append(record->query);
    }
    state_.resource = Utf8ToUtf16(resource);
    if (record->user) state_.userName = Utf8ToUtf16(record->user);
    if (record->password) state_.password.assign(Utf8ToUtf16(record->password));
    return S_OK;
}

HRESULT CFileTransfer::WriteFtpUrl(const std::string& text) {
    FtpUrlRecord* raw = nullptr;
    if (!FtpParseUrl(text.c_str(), &raw) || !raw) return CTL_E_INVALIDPROPERTYVALUE;
    FtpUrlPtr record(raw);
    ApplyFtpScheme(record->scheme, record->port, state_.options, state_.secure);
    if (HRESULT hr = put_FileType(record->transferType); FAILED(hr)) return hr;
    if (record->host) {
        if (HRESULT hr = PutText(*this, &CFileTransfer::put_ServerName, record->host); FAILED(hr)) {
            return hr;
        }
    }
    if (HRESULT hr = put_ServerPort(record->port); FAILED(hr)) return hr;
    if (record->user) {
        state_.userName = Utf8ToUtf16(record->user);
        state_.password.assign(record->password ? Utf8ToUtf16(record->password) : u"");
    } else {
        state_.userName = Utf8ToUtf16(kAnonymousUser);
        state_.password.assign(
            Utf8ToUtf16(record->password ? record->password : kAnonymousPassword));
    }
    state_.resource = Utf8ToUtf16(FtpResource(*record));
    return S_OK;
}

HRESULT CFileTransfer::get_URL(BSTR* value) {
    if (HRESULT hr = CheckReadable(value); FAILED(hr)) return hr;
    std::string url;
    try {
        url = ComposeUrl();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    *value = BstrFromUtf8(url);
    WipeString(url);
    return *value ? S_OK : E_OUTOFMEMORY;
}

// The URL of the current settings, "" when they make none.
std::string CFileTransfer::ComposeUrl() const {
    if (state_.serverName.empty()) return {};
    std::string host = Utf16ToUtf8(state_.serverName);
    std::string resource = Utf16ToUtf8(state_.resource);
    std::string user = Utf16ToUtf8(state_.userName);
    std::string password = Utf16ToUtf8(state_.password.view());
    const std::size_t capacity =
        host.size() + resource.size() + user.size() + password.size() + kComposeReserve;
    std::vector<char> buffer(capacity + 1, '\0');
    const int bufferSize = static_cast<int>(buffer.size());
    int length = 0;

    if (state_.serverType == fileServerFTP) {
        std::string directory;
        std::string fileName = resource;
        if (std::size_t slash = resource.rfind('/'); slash != std::string::npos) {
            directory = resource.substr(0, slash);
            fileName = resource.substr(slash + 1);
        }
        FtpUrlRecord record{FtpSchemeFor(state_.secure, state_.options),
                            state_.serverPort,
                            state_.fileType,
                            TextOrNull(host),
                            TextOrNull(directory),
                            TextOrNull(fileName),
                            TextOrNull(user),
                            TextOrNull(password)};
        length = FtpComposeUrl(&record, buffer.data(), bufferSize);
    } else if (state_.serverType == fileServerHTTP) {
        HttpUrlRecord record{state_.secure ? HTTP_SCHEME_HTTPS : HTTP_SCHEME_HTTP,
                             state_.serverPort,
                             TextOrNull(host),
                             TextOrNull(resource),
                             nullptr,
                             TextOrNull(user),
                             TextOrNull(password)};
        length = HttpComposeUrl(&record, buffer.data(), bufferSize);
    }
    WipeString(password);
    std::string url =
        length > 0 ? std::string(buffer.data(), static_cast<std::size_t>(length)) : std::string();
    std::fill(buffer.begin(), buffer.end(), '\0');
    return url;
}
