// The HTTP engine's side of the control's methods: see http_methods.h.
#include "control/http_methods.h"

#include <algorithm>
#include <array>

#include "control/engine_text.h"
#include "http/disposition.h"
#include "http/http.h"
#include "http/reference.h"
#include "http/transfers.h"
#include "platform/file.h"
#include "platform/last_error_guard.h"
#include "platform/text.h"
#include "platform/wipe.h"
#include "resources/errors.h"
#include "url/urlparts.h"

namespace {

// The Location text the control reads, terminator included.
constexpr int kLocationSize = 512;
constexpr std::u16string_view kDefaultFieldName = u"File1";

// The answers the engine hands to the caller when it does not follow them
// itself; they carry the redirect's own body.
constexpr int kRedirectStatuses[] = {301, 302, 303, 307, 308};

HttpClient ClientOf(LONGLONG client) {
    return static_cast<HttpClient>(client);
}

int Failed(int number) {
    HttpSetLastError(MakeErrorCode(number));
    return -1;
}

bool IsRedirectStatus(int status) {
    return std::find(std::begin(kRedirectStatuses), std::end(kRedirectStatuses), status) !=
           std::end(kRedirectStatuses);
}

// HEAD-based calls answer with the status; the control only needs success.
int StatusResult(int status) {
    return status < 0 ? -1 : 0;
}

}  // namespace

int HttpDownloadFile(LONGLONG client, std::u16string_view local, std::u16string_view remote,
                     uint64_t restartOffset) {
    if (local.empty()) return Failed(fileErrorFileNotCreated);
    const EngineText localName(local);
    const EngineText remoteName(remote);
    // A resume continues the local file at its end at the latest; beyond it
    // the engine would leave a hole of zeros.
    if (restartOffset != 0) {
        const std::int64_t size = platform::FileSizeOf(localName.c_str());
        if (size < 0) return Failed(fileErrorFileNotFound);
        if (restartOffset > static_cast<uint64_t>(size)) return Failed(fileErrorRestartBeyondEnd);
    }
    if (HttpGetFile(ClientOf(client), localName.c_str(), remoteName.c_str(), restartOffset) < 0) {
        return -1;
    }
    if (IsRedirectStatus(HttpGetResultCode(ClientOf(client)))) {
        return Failed(fileErrorResourceRedirected);
    }
    return 0;
}

int HttpUploadFile(LONGLONG client, std::u16string_view local, std::u16string_view remote) {
    const EngineText localName(local);
    const EngineText remoteName(remote);
    return HttpPutFile(ClientOf(client), localName.c_str(), remoteName.c_str());
}

int HttpDownloadData(LONGLONG client, std::u16string_view remote, HGLOBAL* block, DWORD* length) {
    const EngineText remoteName(remote);
    *length = 0;  // asks the engine for a block of its own
    return HttpGetData(ClientOf(client), remoteName.c_str(), block, length, 0);
}

int HttpUploadData(LONGLONG client, std::u16string_view remote, const BYTE* data, DWORD length) {
    const EngineText remoteName(remote);
    return HttpPutData(ClientOf(client), remoteName.c_str(), data, length);
}

int HttpPostForm(LONGLONG client, std::u16string_view local, std::u16string_view remote,
                 std::u16string_view fieldName, DWORD options) {
    const EngineText localName(local);
    const EngineText remoteName(remote);
    const EngineText field(fieldName.empty() ? kDefaultFieldName : fieldName);
    return HttpPostFile(ClientOf(client), localName.c_str(), remoteName.c_str(), field.c_str(),
                        options);
}

int HttpRemoteFileSize(LONGLONG client, std::u16string_view remote, DWORD* size) {
    const EngineText remoteName(remote);
    return StatusResult(HttpGetFileSize(ClientOf(client), remoteName.c_str(), size));
}

int HttpRemoteFileSize64(LONGLONG client, std::u16string_view remote, uint64_t* size) {
    const EngineText remoteName(remote);
    return StatusResult(HttpGetFileSize64(ClientOf(client), remoteName.c_str(), size));
}

int HttpRemoteFileTime(LONGLONG client, std::u16string_view remote, SYSTEMTIME* time,
                       BOOL localTime) {
    const EngineText remoteName(remote);
    return StatusResult(HttpGetFileTime(ClientOf(client), remoteName.c_str(), time, localTime));
}

int HttpCompareFile(LONGLONG client, std::u16string_view local, std::u16string_view remote,
                    DWORD options) {
    const EngineText localName(local);
    const EngineText remoteName(remote);
    return HttpVerifyFile(ClientOf(client), localName.c_str(), remoteName.c_str(), options);
}

std::string RedirectAddress(std::string_view location, const ControlState& state,
                            std::string_view request) {
    std::string base = state.secure ? "https://" : "http://";
    // The credentials go with the base, so only a location on the same
    // server (a reference without a host of its own) takes them on.
    if (!state.userName.empty() && !state.password.view().empty()) {
        base += Utf16ToUtf8(state.userName) + ":" + Utf16ToUtf8(state.password.view()) + "@";
    }
    base += Utf16ToUtf8(state.serverName);
    if (state.serverPort > 0) base += ":" + std::to_string(state.serverPort);
    if (request.empty() || request.front() != '/') base += '/';
    base += request;
    std::string target = http::ResolveReference(base, location);
    WipeString(base);
    // A fragment is never sent; the control's Resource has none.
    target.resize(std::min(target.size(), target.find('#')));
    return target;
}

std::string ResponseFileName(LONGLONG client) {
    LastErrorGuard<&HttpGetLastError, &HttpSetLastError> keepError;
    std::string value;
    int length = 0;
    if (HttpGetResponseHeader(ClientOf(client), "Content-Disposition", nullptr, &length) == 1 &&
        length > 0) {
        value.resize(static_cast<std::size_t>(length) + 1);  // and the terminator
        length = static_cast<int>(value.size());
        if (HttpGetResponseHeader(ClientOf(client), "Content-Disposition", value.data(), &length) !=
            1) {
            length = 0;
        }
        value.resize(static_cast<std::size_t>(std::max(length, 0)));
    }
    return http::DispositionFileName(value).value_or("");
}

std::optional<std::string> RedirectLocation(LONGLONG client) {
    std::array<char, kLocationSize> text{};
    int length = kLocationSize;
    if (HttpGetResponseHeader(ClientOf(client), "Location", text.data(), &length) != 1) {
        return std::nullopt;
    }
    return std::string(text.data(), static_cast<std::size_t>(std::max(length, 0)));
}
