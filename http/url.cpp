#include "http/url.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/text_cursor.h"
#include "platform/wipe.h"
#include "url/urlparts.h"

using urlparts::PresentIfNotEmpty;
using urlparts::TextOrEmpty;

namespace {

constexpr urlparts::UrlScheme kHttpSchemes[] = {
    {"http", HTTP_SCHEME_HTTP, 80},
    {"https", HTTP_SCHEME_HTTPS, 443},
};

// The text is compared with the scheme name character by character, ignoring
// the text's case; a ":" met before the first difference makes it a URL of that
// scheme. So "http:" and "HTTPS:" are, and so is any shorter prefix of a name
// followed by a colon ("ht:" for http), as the recognition has always done.
bool StartsWithSchemeName(std::string_view text, std::string_view name) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ':') return true;
        if (i == name.size() || urlparts::LowerAscii(text[i]) != name[i]) return false;
    }
    return false;
}

struct RequestTarget {
    std::string path;
    std::optional<std::string_view> query;
};

// The path ("/" when there is none) normalised, and the query after the first "?".
RequestTarget SplitRequestTarget(std::string_view pathAndQuery) {
    TextCursor in(pathAndQuery);
    std::string_view path = in.TakeUntilAny("?");
    RequestTarget target{urlparts::NormalizedCopy(path.empty() ? "/" : path), std::nullopt};
    if (in.SkipPrefix("?")) target.query = PresentIfNotEmpty(in.TakeRest());
    return target;
}

}  // namespace

int HttpIsUrl(const char* text) {
    if (text == nullptr) return HTTP_SCHEME_NONE;
    TextCursor in(text);
    in.SkipBlanks();
    for (const urlparts::UrlScheme& scheme : kHttpSchemes) {
        if (StartsWithSchemeName(in.Rest(), scheme.name)) return scheme.number;
    }
    return HTTP_SCHEME_NONE;
}

int HttpParseUrl(const char* text, HttpUrlRecord** record) {
    if (record == nullptr) return 0;
    *record = nullptr;
    urlparts::UrlPieces pieces;
    if (text == nullptr || !urlparts::SplitUrl(text, kHttpSchemes, &pieces)) return 0;

    RequestTarget target = SplitRequestTarget(pieces.path.value_or(""));
    HttpUrlRecord head{
        pieces.scheme->number, pieces.port, nullptr, nullptr, nullptr, nullptr, nullptr};
    *record = urlparts::NewRecordBlock<HttpUrlRecord>(
        head, {
                  {&HttpUrlRecord::host, PresentIfNotEmpty(pieces.host)},
                  {&HttpUrlRecord::path, target.path},
                  {&HttpUrlRecord::query, target.query},
                  {&HttpUrlRecord::user, PresentIfNotEmpty(pieces.user)},
                  {&HttpUrlRecord::password, PresentIfNotEmpty(pieces.password)},
              });
    return *record != nullptr ? 1 : 0;
}

void HttpFreeUrl(HttpUrlRecord* record) {
    if (record == nullptr) return;
    if (record->password != nullptr) {
        SecureWipe(record->password, std::strlen(record->password));
    }
    std::free(record);
}

int HttpComposeUrl(const HttpUrlRecord* record, char* buffer, int bufferSize) {
    if (record == nullptr) return 0;
    const urlparts::UrlScheme* scheme = urlparts::FindSchemeByNumber(kHttpSchemes, record->scheme);
    std::string_view host = TextOrEmpty(record->host);
    if (scheme == nullptr || host.empty()) return 0;

    std::string url(scheme->name);
    url += "://";
    urlparts::AppendUserInfo(url, TextOrEmpty(record->user), TextOrEmpty(record->password));
    urlparts::AppendHost(url, host);
    urlparts::AppendPort(url, record->port, scheme->defaultPort);
    url += urlparts::NormalizedRootedPath(TextOrEmpty(record->path));
    if (std::string_view query = TextOrEmpty(record->query); !query.empty()) {
        url += '?';
        url += query;
    }
    int length = urlparts::CopyOut(url, buffer, bufferSize);
    WipeString(url);
    return length;
}

char* HttpNormalizePath(char* path) {
    return urlparts::RemoveDotSegmentsInText(path);
}
