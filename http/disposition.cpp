#include "http/disposition.h"
#include "platform/text.h"

#include <algorithm>
#include <vector>

#include "http/wire.h"

namespace http {
namespace {

constexpr std::size_t kMaxName = 255;

struct Parameter {
    std::string name;
    std::string value;
};

std::string_view SkipWhite(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    return text;
}

// The parameters after the disposition type, in order. Malformed ones end the list.
std::vector<Parameter> Parameters(std::string_view text) {
    std::vector<Parameter> parameters;
    std::size_t semicolon = text.find(';');
    while (semicolon != std::string_view::npos) {
        text = SkipWhite(text.substr(semicolon + 1));
        const std::size_t equals = text.find('=');
        if (equals == std::string_view::npos) break;
        std::string_view name = text.substr(0, equals);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
            name.remove_suffix(1);
        text = SkipWhite(text.substr(equals + 1));
        std::string value;
        if (text.starts_with('"')) {
            std::size_t i = 1;
            for (; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < text.size()) ++i;
                value.push_back(text[i]);
            }
            text.remove_prefix(std::min(i + 1, text.size()));
        } else {
            const std::size_t end = std::min(text.find(';'), text.size());
            value.assign(text.substr(0, end));
            while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
                value.pop_back();
            text.remove_prefix(end);
        }
        std::string lower(name);
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
        parameters.push_back({std::move(lower), std::move(value)});
        semicolon = text.find(';');
    }
    return parameters;
}

// RFC 8187 ext-value: charset'language'percent-encoded bytes.
std::optional<std::string> ExtendedValue(std::string_view value) {
    const std::size_t first = value.find('\'');
    const std::size_t second =
        first == std::string_view::npos ? first : value.find('\'', first + 1);
    if (second == std::string_view::npos) return std::nullopt;
    const std::string_view charset = value.substr(0, first);
    const bool latin1 = EqualsIgnoringCase(charset, "ISO-8859-1");
    if (!latin1 && !EqualsIgnoringCase(charset, "UTF-8")) return std::nullopt;
    std::string out;
    for (std::size_t i = second + 1; i < value.size(); ++i) {
        unsigned char byte = static_cast<unsigned char>(value[i]);
        if (byte == '%') {
            if (i + 2 >= value.size()) return std::nullopt;
            const int high = HexDigitValue(value[i + 1]);
            const int low = HexDigitValue(value[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            byte = static_cast<unsigned char>(high * 16 + low);
            i += 2;
        }
        if (latin1 && byte >= 0x80) {
            out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        } else {
            out.push_back(static_cast<char>(byte));
        }
    }
    return out;
}

std::optional<std::string> Sanitised(std::string_view name) {
    const std::size_t separator = name.find_last_of("/\\");
    if (separator != std::string_view::npos) name.remove_prefix(separator + 1);
    std::string out;
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) continue;
        out.push_back(c);
    }
    // A leading dot would hide the file (or name "." and ".."): dots go.
    out.erase(0, out.find_first_not_of('.'));
    if (out.size() > kMaxName) {
        // Cut at a character boundary: continuation bytes and their lead go.
        out.resize(kMaxName);
        while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80)
            out.pop_back();
        if (!out.empty() && (static_cast<unsigned char>(out.back()) & 0x80) != 0) out.pop_back();
    }
    if (out.empty()) return std::nullopt;
    return out;
}

}  // namespace

std::optional<std::string> DispositionFileName(std::string_view value) {
    std::optional<std::string> plain;
    std::optional<std::string> extended;
    for (const Parameter& parameter : Parameters(value)) {
        if (parameter.name == "filename*" && !extended) extended = ExtendedValue(parameter.value);
        if (parameter.name == "filename" && !plain) plain = parameter.value;
    }
    if (extended) {
        if (auto name = Sanitised(*extended)) return name;
    }
    return plain ? Sanitised(*plain) : std::nullopt;
}

}  // namespace http
