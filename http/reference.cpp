#include "http/reference.h"

#include <algorithm>
#include <cctype>

namespace http {
namespace {

constexpr std::string_view kRoot = "/";

bool IsSchemeStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

// Drops the last segment and its "/" from the output (section 5.2.4, 2C).
void PopSegment(std::string& out) {
    const std::size_t slash = out.rfind('/');
    out.resize(slash == std::string::npos ? 0 : slash);
}

// Section 5.2.3.
std::string Merge(const UriComponents& base, std::string_view path) {
    if (base.authority && base.path.empty()) return "/" + std::string(path);
    const std::size_t slash = base.path.rfind('/');
    if (slash == std::string_view::npos) return std::string(path);
    return std::string(base.path.substr(0, slash + 1)) + std::string(path);
}

}  // namespace

UriComponents SplitUriReference(std::string_view text) {
    UriComponents parts;
    const std::size_t colon = text.find_first_of(":/?#");
    if (colon != std::string_view::npos && colon > 0 && text[colon] == ':' &&
        IsSchemeStart(text[0])) {
        parts.scheme = text.substr(0, colon);
        text.remove_prefix(colon + 1);
    }
    if (text.starts_with("//")) {
        text.remove_prefix(2);
        const std::size_t end = std::min(text.find_first_of("/?#"), text.size());
        parts.authority = text.substr(0, end);
        text.remove_prefix(end);
    }
    const std::size_t pathEnd = std::min(text.find_first_of("?#"), text.size());
    parts.path = text.substr(0, pathEnd);
    text.remove_prefix(pathEnd);
    if (text.starts_with("?")) {
        const std::size_t end = std::min(text.find('#'), text.size());
        parts.query = text.substr(1, end - 1);
        text.remove_prefix(end);
    }
    if (text.starts_with("#")) parts.fragment = text.substr(1);
    return parts;
}

std::string RemoveDotSegments(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    while (!in.empty()) {
        if (in.starts_with("../")) {
            in.remove_prefix(3);
        } else if (in.starts_with("./")) {
            in.remove_prefix(2);
        } else if (in.starts_with("/./")) {
            in.remove_prefix(2);
        } else if (in == "/.") {
            in = kRoot;
        } else if (in.starts_with("/../")) {
            in.remove_prefix(3);
            PopSegment(out);
        } else if (in == "/..") {
            in = kRoot;
            PopSegment(out);
        } else if (in == "." || in == "..") {
            in = {};
        } else {
            const std::size_t end = std::min(in.find('/', 1), in.size());
            out.append(in.substr(0, end));
            in.remove_prefix(end);
        }
    }
    return out;
}

std::string ResolveReference(std::string_view baseText, std::string_view reference) {
    const UriComponents base = SplitUriReference(baseText);
    const UriComponents ref = SplitUriReference(reference);
    std::optional<std::string_view> scheme = base.scheme;
    std::optional<std::string_view> authority;
    std::optional<std::string_view> query;
    std::string path;
    if (ref.scheme) {
        scheme = ref.scheme;
        authority = ref.authority;
        path = RemoveDotSegments(ref.path);
        query = ref.query;
    } else if (ref.authority) {
        authority = ref.authority;
        path = RemoveDotSegments(ref.path);
        query = ref.query;
    } else {
        authority = base.authority;
        if (ref.path.empty()) {
            path = base.path;
            query = ref.query ? ref.query : base.query;
        } else {
            path = RemoveDotSegments(ref.path.starts_with('/') ? std::string(ref.path)
                                                               : Merge(base, ref.path));
            query = ref.query;
        }
    }
    std::string target;
    if (scheme) target.append(*scheme).append(":");
    if (authority) target.append("//").append(*authority);
    target += path;
    if (query) target.append("?").append(*query);
    if (ref.fragment) target.append("#").append(*ref.fragment);
    return target;
}

std::string RedirectTarget(std::string_view requestUrl, std::string_view location) {
    std::string target = ResolveReference(requestUrl, location);
    const UriComponents request = SplitUriReference(requestUrl);
    if (!SplitUriReference(location).fragment && request.fragment) {
        target.append("#").append(*request.fragment);
    }
    return target;
}

}  // namespace http
