// Content types by file extension: the system's mapping first (the user's
// ~/.mime.types, then /etc/mime.types, the files that stand for a registry of
// file extensions here), then the built-in table.
#include "http/content_type.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "http/client.h"
#include "platform/system.h"
#include "resources/errors.h"

namespace http {
namespace {

constexpr std::size_t kMaxExtension = 30;
constexpr std::size_t kMaxType = 255;
// A mapping file is read up to this size; longer lines are skipped.
constexpr std::size_t kMaxMappingFile = 4 * 1024 * 1024;
constexpr std::size_t kMaxMappingLine = 4096;
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

using TypeMap = std::unordered_map<std::string, std::string>;

// Adds the "type extension..." lines of one file ('#' starts a comment); an
// extension already known keeps its earlier type.
void ReadMappingFile(const std::string& path, TypeMap& types) {
    std::ifstream file(path, std::ios::binary);
    std::string line;
    std::size_t read = 0;
    while (file && read < kMaxMappingFile && std::getline(file, line)) {
        read += line.size() + 1;
        if (line.size() > kMaxMappingLine) continue;
        line = line.substr(0, line.find('#'));
        std::vector<std::string> words;
        std::size_t at = 0;
        while ((at = line.find_first_not_of(" \t\r", at)) != std::string::npos) {
            const std::size_t end = std::min(line.find_first_of(" \t\r", at), line.size());
            words.push_back(line.substr(at, end - at));
            at = end;
        }
        if (words.size() < 2 || words[0].size() > kMaxType ||
            words[0].find('/') == std::string::npos)
            continue;
        for (std::size_t i = 1; i < words.size(); ++i) {
            std::string& extension = words[i];
            if (extension.size() > kMaxExtension) continue;
            std::transform(extension.begin(), extension.end(), extension.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            types.emplace(extension, words[0]);
        }
    }
}

struct SystemTypes {
    std::mutex lock;
    std::vector<std::string> files;  // empty: the user's and the system's
    std::shared_ptr<const TypeMap> types;
};

SystemTypes& TheSystemTypes() {
    static SystemTypes state;
    return state;
}

// Read once, on first use.
std::shared_ptr<const TypeMap> LoadedSystemTypes() {
    SystemTypes& state = TheSystemTypes();
    std::lock_guard guard(state.lock);
    if (!state.types) {
        std::vector<std::string> files = state.files;
        if (files.empty()) {
            const std::string home = EnvironmentValue("HOME");
            if (!home.empty()) files.push_back(home + "/.mime.types");
            files.push_back("/etc/mime.types");
        }
        auto types = std::make_shared<TypeMap>();
        for (const std::string& file : files)
            ReadMappingFile(file, *types);
        state.types = std::move(types);
    }
    return state.types;
}

}  // namespace

void SetContentTypeFiles(std::vector<std::string> files) {
    SystemTypes& state = TheSystemTypes();
    std::lock_guard guard(state.lock);
    state.files = std::move(files);
    state.types.reset();
}

std::string ContentTypeOf(std::string_view name) {
    const std::string extension = ExtensionOf(name);
    if (extension.empty()) return std::string(kFallbackType);
    const std::shared_ptr<const TypeMap> system = LoadedSystemTypes();
    if (const auto found = system->find(extension); found != system->end()) return found->second;
    for (const ContentTypeRow& row : kContentTypes) {
        if (std::find(row.extensions.begin(), row.extensions.end(), extension) !=
            row.extensions.end()) {
            return std::string(row.type);
        }
    }
    return std::string(kFallbackType);
}

}  // namespace http

extern "C" int HttpGetContentType(const char* fileName, char* output, int outputSize) {
    if (!fileName || fileName[0] == '\0' || !output || outputSize < 1) {
        return http::Fail(fileErrorInvalidParameter);
    }
    const std::string type = http::ContentTypeOf(fileName);
    const std::size_t length = std::min(type.size(), static_cast<std::size_t>(outputSize - 1));
    std::memcpy(output, type.data(), length);
    output[length] = '\0';
    return static_cast<int>(length);
}
