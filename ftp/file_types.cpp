#include "ftp/file_types.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <vector>

#include "ftp/engine.h"
#include "platform/file.h"
#include "resources/errors.h"
#include "platform/text.h"

namespace ftp {
namespace {

constexpr std::array<std::string_view, 78> kTextExtensions{
    "ASC",   "ASCII", "ASP",      "ASPX",   "AWK",   "ASM", "B64",  "BAS",  "BAT", "C",
    "CFM",   "CGI",   "CLS",      "CMD",    "CONF",  "CPP", "CS",   "CSS",  "CSV", "DEF",
    "DHTML", "DIZ",   "DTD",      "EL",     "EML",   "F",   "F77",  "FAQ",  "H",   "HPP",
    "HTA",   "HTM",   "HTML",     "IDL",    "INC",   "INF", "INI",  "JAVA", "JS",  "JSP",
    "LOG",   "M3U",   "MANIFEST", "MAK",    "MSG",   "NFO", "ODL",  "PAS",  "PHP", "PHP3",
    "PHP4",  "PHP5",  "PHTML",    "PL",     "PM",    "POD", "PS1",  "RC",   "REG", "RGS",
    "RSS",   "SFV",   "SH",       "SHT",    "SHTML", "TCL", "TEXT", "TXT",  "UU",  "UUE",
    "VB",    "VBS",   "XQ",       "XQUERY", "XML",   "XSD", "XSL",  "XSLT",
};

struct FileTypeRule {
    std::string extension;
    int type;
};

// Guarded by the engine's library lock.
std::vector<FileTypeRule>& Rules() {
    static std::vector<FileTypeRule> rules;
    return rules;
}

int RuleType(std::string_view extension) {
    Engine& engine = GetEngine();
    CriticalSectionGuard guard(*engine.lock.get());
    for (const FileTypeRule& rule : Rules()) {
        if (EqualsIgnoringCase(rule.extension, extension)) return rule.type;
    }
    return 0;
}

bool EngineInitialized() {
    Engine& engine = GetEngine();
    CriticalSectionGuard guard(*engine.lock.get());
    return engine.initCount > 0;
}

bool IsTextByte(unsigned char c) {
    constexpr unsigned char kEscape = 27;
    if (c > 126) return false;
    return c >= 32 || (c >= 7 && c <= 13) || c == kEscape;
}

int SniffLocalFile(std::string_view name) {
    platform::LocalFile file;
    if (file.Open(std::string(name), platform::FileAccess::Read,
                  platform::FileDisposition::OpenExisting) != 0) {
        return 0;
    }
    std::array<unsigned char, kSniffLength> head{};
    std::size_t filled = 0;
    while (filled < head.size()) {
        std::int64_t got = file.Read(head.data() + filled, head.size() - filled);
        if (got <= 0) break;
        filled += static_cast<std::size_t>(got);
    }
    return SniffFileType(std::span<const unsigned char>(head.data(), filled));
}

}  // namespace

std::string_view ExtensionOf(std::string_view path) {
    std::size_t separator = path.find_last_of('\\');
    if (separator == std::string_view::npos) separator = path.find_last_of('/');
    std::string_view element = path;
    if (separator != std::string_view::npos) {
        element = path.substr(separator + 1);
    } else if (path.size() >= 3 && path[1] == ':') {
        element = path.substr(2);
    }
    std::size_t dot = element.find_last_of('.');
    if (dot == std::string_view::npos) return {};
    return element.substr(dot + 1);
}

bool IsTextExtension(std::string_view extension) {
    return std::any_of(
        kTextExtensions.begin(), kTextExtensions.end(),
        [extension](std::string_view text) { return EqualsIgnoringCase(text, extension); });
}

int FileTypeOfExtension(std::string_view extension) {
    if (extension.empty()) return 0;
    if (int type = RuleType(extension)) return type;
    return IsTextExtension(extension) ? FTP_FILE_TYPE_ASCII : 0;
}

int SniffFileType(std::span<const unsigned char> head) {
    if (head.empty()) return 0;
    return std::all_of(head.begin(), head.end(), IsTextByte) ? FTP_FILE_TYPE_ASCII
                                                             : FTP_FILE_TYPE_IMAGE;
}

int SniffLocalFileType(std::string_view name) {
    return name.empty() ? 0 : SniffLocalFile(name);
}

int GuessFileTypeOfName(std::string_view name, bool sniff, int defaultType) {
    if (name.empty()) return -1;
    if (int type = FileTypeOfExtension(ExtensionOf(name))) return type;
    if (sniff) {
        if (int type = SniffLocalFile(name)) return type;
    }
    return defaultType;
}

int AddFileTypeRule(std::string_view extension, int type) {
    if (!EngineInitialized()) return fileErrorNetworkNotInitialized;
    if (type < FTP_FILE_TYPE_ASCII || type > FTP_FILE_TYPE_IMAGE) return fileErrorInvalidFileType;
    while (!extension.empty() && std::isspace(static_cast<unsigned char>(extension.front()))) {
        extension.remove_prefix(1);
    }
    if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
    if (extension.empty() || extension.size() > kMaxExtensionLength) {
        return fileErrorInvalidParameter;
    }
    Engine& engine = GetEngine();
    CriticalSectionGuard guard(*engine.lock.get());
    auto& rules = Rules();
    auto it = std::find_if(rules.begin(), rules.end(), [extension](const FileTypeRule& rule) {
        return EqualsIgnoringCase(rule.extension, extension);
    });
    try {
        if (it != rules.end()) {
            it->type = type;
        } else {
            rules.push_back({std::string(extension), type});
        }
    } catch (const std::bad_alloc&) {
        return fileErrorOutOfMemory;
    }
    return 0;
}

void ClearFileTypeRules() {
    Engine& engine = GetEngine();
    CriticalSectionGuard guard(*engine.lock.get());
    Rules().clear();
    Rules().shrink_to_fit();
}

}  // namespace ftp

using namespace ftp;

extern "C" {

int FtpAddFileType(const char* extension, int type) {
    int error = AddFileTypeRule(extension ? extension : "", type);
    if (error != 0) {
        Fail(error);
        return 0;
    }
    return 1;
}

}  // extern "C"
