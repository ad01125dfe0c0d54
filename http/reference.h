// URI references resolved against a base URI (RFC 3986 section 5): the target
// of a redirect's Location. Pure string functions, no sockets.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace http {

// The five components of a URI reference (RFC 3986 appendix B); absent
// components are nullopt, the path is always there (possibly empty).
struct UriComponents {
    std::optional<std::string_view> scheme;
    std::optional<std::string_view> authority;
    std::string_view path;
    std::optional<std::string_view> query;
    std::optional<std::string_view> fragment;
};
UriComponents SplitUriReference(std::string_view text);

// RFC 3986 section 5.2.4.
std::string RemoveDotSegments(std::string_view path);

// The target URI of the reference against an absolute base (section 5.2.2,
// strict parser), recomposed by section 5.3.
std::string ResolveReference(std::string_view base, std::string_view reference);

// A redirect's target: the resolved Location, which takes the request's
// fragment when it has none of its own (RFC 9110 section 10.2.2).
std::string RedirectTarget(std::string_view requestUrl, std::string_view location);

}  // namespace http
