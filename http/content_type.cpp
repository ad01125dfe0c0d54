// Content types by file extension. This platform has no registry of file
// extensions, so the built-in table is the only source.
#include "http/content_type.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

#include "http/client.h"
#include "resources/errors.h"

namespace http {
namespace {

constexpr std::size_t kMaxExtension = 30;
constexpr std::string_view kFallbackType = "application/octet-stream";

struct ContentTypeRow {
    std::string_view type;
    std::array<std::string_view, 3> extensions;
};

constexpr ContentTypeRow kContentTypes[] = {
    {"application/msword", {"doc"}},
    {"application/octet-stream", {"bin", "com", "exe"}},
    {"application/pdf", {"pdf"}},
    {"application/postscript", {"ps", "eps", "ai"}},
    {"application/x-gzip", {"gz", "gzip"}},
    {"application/x-tar", {"tar"}},
    {"application/x-zip-compressed", {"zip"}},
    {"audio/basic", {"au", "snd"}},
    {"audio/midi", {"mid", "midi"}},
    {"audio/x-aiff", {"aif", "aiff", "aifc"}},
    {"audio/x-rmid", {"rmi", "rmid"}},
    {"audio/x-voc", {"voc"}},
    {"audio/x-wav", {"wav"}},
    {"image/gif", {"gif"}},
    {"image/jpeg", {"jpg", "jpe", "jpeg"}},
    {"image/tiff", {"tif", "tiff"}},
    {"image/x-bitmap", {"xbm"}},
    {"image/x-bmp", {"bmp"}},
    {"image/x-dib", {"dib"}},
    {"image/x-pcx", {"pcx"}},
    {"text/html", {"htm", "html"}},
    {"text/plain", {"bat", "cmd"}},
    {"text/plain", {"txt", "text"}},
    {"text/richtext", {"rtf", "rtx"}},
    {"video/mpeg", {"mpe", "mpg", "mpeg"}},
    {"video/quicktime", {"qt", "mov"}},
    {"video/x-msvideo", {"avi"}},
};

// The lower-cased extension after the last "." of the last name (after the
// last "\" or "/"), without its dot; empty when there is none.
std::string ExtensionOf(std::string_view name) {
    const std::size_t separator = name.find_last_of("\\/");
    const std::string_view last =
        separator == std::string_view::npos ? name : name.substr(separator + 1);
    const std::size_t dot = last.rfind('.');
    if (dot == std::string_view::npos) return {};
    std::string extension(last.substr(dot + 1, kMaxExtension));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

}  // namespace

std::string_view ContentTypeOf(std::string_view name) {
    const std::string extension = ExtensionOf(name);
    if (extension.empty()) return kFallbackType;
    for (const ContentTypeRow& row : kContentTypes) {
        if (std::find(row.extensions.begin(), row.extensions.end(), extension) !=
            row.extensions.end()) {
            return row.type;
        }
    }
    return kFallbackType;
}

}  // namespace http

extern "C" int HttpGetContentType(const char* fileName, char* output, int outputSize) {
    if (!fileName || fileName[0] == '\0' || !output || outputSize < 1) {
        return http::Fail(fileErrorInvalidParameter);
    }
    const std::string_view type = http::ContentTypeOf(fileName);
    const std::size_t length = std::min(type.size(), static_cast<std::size_t>(outputSize - 1));
    std::memcpy(output, type.data(), length);
    output[length] = '\0';
    return static_cast<int>(length);
}
