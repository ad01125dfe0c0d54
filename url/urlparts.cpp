#include "url/urlparts.h"
#include "platform/text.h"

#include <charconv>

#include "platform/text_cursor.h"
#include "url/ipv6literal.h"

namespace urlparts {

namespace {

constexpr int kHighestPort = 65535;

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A port text must be all digits; only 1 to 65535 replaces the default (an
// empty text, as in "host:", keeps it too).
bool ApplyPortText(std::string_view text, UrlPieces* pieces) {
    long value = 0;
    for (char c : text) {
        if (!IsDigit(c)) return false;
        if (value <= kHighestPort) value = value * 10 + (c - '0');
    }
    if (value >= 1 && value <= kHighestPort) pieces->port = static_cast<int>(value);
    return true;
}

void SplitUserInfo(std::string_view userInfo, UrlPieces* pieces) {
    TextCursor in(userInfo);
    pieces->user = in.TakeUntilAny(":");
    if (in.SkipPrefix(":")) pieces->password = in.TakeRest();
}

bool SplitAuthority(std::string_view authority, UrlPieces* pieces) {
    // The last "@" ends the user information: user names that are mail
    // addresses and passwords with an "@" are common and rarely escaped.
    std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        SplitUserInfo(authority.substr(0, at), pieces);
        authority.remove_prefix(at + 1);
    }
    TextCursor in(authority);
    if (in.SkipPrefix("[")) {
        // Only an IPv6 address may stand in brackets, so that a composed URL
        // reads back the same.
        pieces->host = in.TakeUntilAny("]");
        if (!in.SkipPrefix("]") || !IsIpv6Literal(pieces->host)) return false;
    } else {
        pieces->host = in.TakeUntilAny(":");
    }
    if (in.AtEnd()) return true;
    if (!in.SkipPrefix(":")) return false;  // text after "]" that is no port
    return ApplyPortText(in.TakeRest(), pieces);
}

void TakePath(TextCursor& in, UrlPieces* pieces) {
    if (!in.AtEnd()) pieces->path = in.TakeRest();
}

// Moves end back over the last segment and the separator before it.
std::size_t DropLastSegment(std::span<char> text, std::size_t end) {
    while (end > 0 && !IsSeparator(text[end - 1]))
        --end;
    if (end > 0) --end;
    return end;
}

}  // namespace

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

const UrlScheme* FindSchemeByName(std::span<const UrlScheme> table, std::string_view name) {
    for (const UrlScheme& scheme : table) {
        if (EqualsIgnoreCase(scheme.name, name)) return &scheme;
    }
    return nullptr;
}

const UrlScheme* FindSchemeByNumber(std::span<const UrlScheme> table, int number) {
    for (const UrlScheme& scheme : table) {
        if (scheme.number == number) return &scheme;
    }
    return nullptr;
}

bool SplitUrl(std::string_view text, std::span<const UrlScheme> schemes, UrlPieces* pieces) {
    *pieces = UrlPieces();
    TextCursor in(text);
    in.SkipBlanks();
    if (in.AtEnd() || schemes.empty()) return false;

    if (in.Rest().find(':') == std::string_view::npos) {
        pieces->scheme = &schemes.front();
        pieces->port = pieces->scheme->defaultPort;
        // Read like an authority too, so that "user@host/path" splits and the
        // composed form of what parses reads back the same.
        if (!SplitAuthority(in.TakeUntilAny("/"), pieces)) return false;
        TakePath(in, pieces);
        return true;
    }
    std::string_view name = in.TakeUntilAny(":");
    in.SkipPrefix(":");
    if (!in.SkipPrefix("//")) return false;
    pieces->scheme = FindSchemeByName(schemes, name);
    if (pieces->scheme == nullptr) return false;
    pieces->port = pieces->scheme->defaultPort;
    if (!SplitAuthority(in.TakeUntilAny("/"), pieces)) return false;
    TakePath(in, pieces);
    return true;
}

std::size_t RemoveDotSegments(std::span<char> path, DotRule rule) {
    // A path that starts with a separator keeps that one when dot segments
    // remove everything before a later separator of the other kind.
    const char root = !path.empty() && IsSeparator(path[0]) ? path[0] : '\0';
    std::size_t written = 0;
    std::size_t dots = 0;
    bool onlyDots = true;  // the current segment so far
    for (char c : path) {
        if (IsSeparator(c)) {
            if (onlyDots || rule == DotRule::TrailingDots) {
                for (std::size_t i = 0; i < dots; ++i)
                    written = DropLastSegment(path, written);
            }
            dots = 0;
            onlyDots = true;
            if (written == 0 && root != '\0') c = root;
        } else if (c == '.') {
            ++dots;
        } else {
            onlyDots = false;
            if (rule == DotRule::TrailingDots) dots = 0;
        }
        path[written++] = c;
    }
    return written;
}

char* RemoveDotSegmentsInText(char* path, DotRule rule) {
    if (path == nullptr) return nullptr;
    std::size_t length = RemoveDotSegments(std::span<char>(path, std::strlen(path)), rule);
    path[length] = '\0';
    return path;
}

std::string NormalizedCopy(std::string_view path) {
    std::string copy(path);
    copy.resize(RemoveDotSegments(copy));
    return copy;
}

std::string NormalizedRootedPath(std::string_view path, DotRule rule) {
    std::string rooted;
    if (!path.starts_with('/')) rooted += '/';
    rooted += path;
    rooted.resize(RemoveDotSegments(rooted, rule));
    return rooted;
}

void AppendUserInfo(std::string& url, std::string_view user, std::string_view password) {
    if (user.empty()) return;
    url += user;
    if (!password.empty()) {
        url += ':';
        url += password;
    }
    url += '@';
}

void AppendHost(std::string& url, std::string_view host) {
    if (IsIpv6Literal(host)) {
        url += '[';
        url += host;
        url += ']';
    } else {
        url += host;
    }
}

void AppendPort(std::string& url, int port, int defaultPort) {
    if (port == 0 || port == defaultPort) return;
    char digits[16];
    std::to_chars_result written = std::to_chars(digits, digits + sizeof digits, port);
    url += ':';
    url.append(digits, written.ptr);
}

int CopyOut(std::string_view url, char* buffer, int bufferSize) {
    if (buffer == nullptr || bufferSize <= 0) return 0;
    if (url.size() >= static_cast<std::size_t>(bufferSize)) return 0;
    std::memcpy(buffer, url.data(), url.size());
    buffer[url.size()] = '\0';
    return static_cast<int>(url.size());
}

std::string PercentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
            HexDigitValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace urlparts
