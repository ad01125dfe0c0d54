#include "ftp/ftpurl.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/wipe.h"
#include "url/urlparts.h"

using urlparts::PresentIfNotEmpty;
using urlparts::TextOrEmpty;

namespace {

constexpr urlparts::UrlScheme kFtpSchemes[] = {
    {"ftp", FTP_SCHEME_FTP, 21},
    {"ftps", FTP_SCHEME_FTPS, 21},
    {"sftp", FTP_SCHEME_SFTP, 22},
};

struct TypeCode {
    char letter;  // lower case
    int transferType;
};

constexpr TypeCode kTypeCodes[] = {
    {'a', FTP_URL_TYPE_ASCII},
    {'i', FTP_URL_TYPE_IMAGE},
};

constexpr std::string_view kTypeMarker = ";type=";

std::size_t FindIgnoreCase(std::string_view text, std::string_view what) {
    for (std::size_t at = 0; at + what.size() <= text.size(); ++at) {
        if (urlparts::EqualsIgnoreCase(text.substr(at, what.size()), what)) return at;
    }
    return std::string_view::npos;
}

// Cuts a ";type=X" suffix off the path and sets the transfer type from its one
// letter; false for an unknown letter or anything after it.
bool CutTransferType(std::string& path, int* transferType) {
    *transferType = FTP_URL_TYPE_IMAGE;
    std::size_t marker = FindIgnoreCase(path, kTypeMarker);
    if (marker == std::string::npos) return true;
    std::string_view code = std::string_view(path).substr(marker + kTypeMarker.size());
    if (code.size() != 1) return false;
    for (const TypeCode& type : kTypeCodes) {
        if (urlparts::LowerAscii(code.front()) == type.letter) {
            *transferType = type.transferType;
            path.resize(marker);
            return true;
        }
    }
    return false;
}

struct DirectoryAndFile {
    std::string_view directory;  // present, possibly empty
    std::optional<std::string_view> fileName;
};

// A file name is the text after the last "/" when there is any; one leading
// "/" is taken off the directory.
DirectoryAndFile SplitDirectoryAndFile(std::string_view path) {
    DirectoryAndFile parts{path, std::nullopt};
    std::size_t slash = path.rfind('/');
    if (slash != std::string_view::npos && slash + 1 < path.size()) {
        parts.fileName = path.substr(slash + 1);
        parts.directory = path.substr(0, slash);
    }
    if (parts.directory.starts_with('/')) parts.directory.remove_prefix(1);
    return parts;
}

bool IsAnonymous(std::string_view user) {
    return urlparts::EqualsIgnoreCase(user, "anonymous");
}

}  // namespace

int FtpParseUrl(const char* text, FtpUrlRecord** record) {
    if (record == nullptr) return 0;
    *record = nullptr;
    urlparts::UrlPieces pieces;
    if (text == nullptr || !urlparts::SplitUrl(text, kFtpSchemes, &pieces)) return 0;

    std::string path(pieces.path.value_or("/"));
    int transferType = FTP_URL_TYPE_IMAGE;
    if (!CutTransferType(path, &transferType)) return 0;
    path.resize(urlparts::RemoveDotSegments(path, urlparts::DotRule::TrailingDots));
    DirectoryAndFile parts = SplitDirectoryAndFile(path);

    FtpUrlRecord head{pieces.scheme->number,
                      pieces.port,
                      transferType,
                      nullptr,
                      nullptr,
                      nullptr,
                      nullptr,
                      nullptr};
    *record = urlparts::NewRecordBlock<FtpUrlRecord>(
        head, {
                  {&FtpUrlRecord::host, PresentIfNotEmpty(pieces.host)},
                  {&FtpUrlRecord::directory, parts.directory},
                  {&FtpUrlRecord::fileName, parts.fileName},
                  {&FtpUrlRecord::user, PresentIfNotEmpty(pieces.user)},
                  {&FtpUrlRecord::password, PresentIfNotEmpty(pieces.password)},
              });
    return *record != nullptr ? 1 : 0;
}

void FtpFreeUrl(FtpUrlRecord* record) {
    if (record == nullptr) return;
    if (record->password != nullptr) {
        SecureWipe(record->password, std::strlen(record->password));
    }
    std::free(record);
}

int FtpComposeUrl(const FtpUrlRecord* record, char* buffer, int bufferSize) {
    if (record == nullptr) return 0;
    const urlparts::UrlScheme* scheme = urlparts::FindSchemeByNumber(kFtpSchemes, record->scheme);
    std::string_view host = TextOrEmpty(record->host);
    if (scheme == nullptr || host.empty()) return 0;
    std::string_view user = TextOrEmpty(record->user);
    std::string_view password = TextOrEmpty(record->password);
    if (IsAnonymous(user)) user = password = {};

    std::string url(scheme->name);
    url += "://";
    urlparts::AppendUserInfo(url, user, password);
    urlparts::AppendHost(url, host);
    urlparts::AppendPort(url, record->port, scheme->defaultPort);
    url += urlparts::NormalizedRootedPath(TextOrEmpty(record->directory),
                                         urlparts::DotRule::TrailingDots);
    if (std::string_view fileName = TextOrEmpty(record->fileName); !fileName.empty()) {
        if (!url.ends_with('/')) url += '/';
        url += fileName;
    }
    int length = urlparts::CopyOut(url, buffer, bufferSize);
    WipeString(url);
    return length;
}

char* NormalizeUrlPath(char* path) {
    return urlparts::RemoveDotSegmentsInText(path, urlparts::DotRule::TrailingDots);
}
