#include "control/url_scheme.h"

#include "resources/typeinfo.h"

namespace {

struct UrlSchemePrefix {
    std::string_view prefix;
    LONG serverType;
};

constexpr UrlSchemePrefix kUrlSchemes[] = {
    {"http://", fileServerHTTP}, {"https://", fileServerHTTP}, {"ftp://", fileServerFTP},
    {"ftps://", fileServerFTP},  {"sftp://", fileServerFTP},
};

}  // namespace

LONG DetectUrlScheme(std::string_view text) {
    for (const UrlSchemePrefix& scheme : kUrlSchemes) {
        if (text.size() >= scheme.prefix.size() &&
            EqualsIgnoringCase(text.substr(0, scheme.prefix.size()), scheme.prefix)) {
            return scheme.serverType;
        }
    }
    return fileServerUndefined;
}
