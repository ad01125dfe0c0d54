// The rules of the system's proxy settings that read text: the settings
// file's lines, ProxyServer lists, bypass lists, the names detection tries and
// a script's answer. Pure functions, so the tests and the fuzzer give them text.
#include <algorithm>
#include <charconv>

#include "http/proxy_config.h"
#include "platform/text.h"
#include "url/urlparts.h"

namespace http {
namespace {

constexpr int kPlainPort = 80;
constexpr int kSecurePort = 443;
constexpr std::size_t kMaxProxyHost = HTTP_MAX_HOSTNAME - 1;

// Blanks around names, values and list entries (a CR of a CR LF line too).
std::string_view Trimmed(std::string_view text) {
    return TrimmedOf(text, " \t\r");
}

std::string Lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), urlparts::LowerAscii);
    return out;
}

// A decimal port from 1 to 65535, or 0.
int PortNumber(std::string_view text) {
    int port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return 0;
    return port >= 1 && port <= 65535 ? port : 0;
}

}  // namespace

std::string UpperAsciiCopy(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
    return out;
}

bool FillProxyLookup(HttpProxyLookup& record, int targetPort, std::string_view host, int port) {
    if (host.empty() || host.size() > kMaxProxyHost || port == 0) return false;
    // A host name has no blanks or control characters (a NUL would cut it short).
    if (std::any_of(host.begin(), host.end(),
                    [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F; })) {
        return false;
    }
    record = HttpProxyLookup{};
    record.kind = targetPort == kSecurePort ? HTTP_PROXY_TUNNEL : HTTP_PROXY_CERN;
    record.port = port;
    std::copy(host.begin(), host.end(), record.host);
    return true;
}

namespace {

// "?" one character, "*" any run (also none), anything else itself.
bool PatternMatches(std::string_view pattern, std::string_view text) {
    std::size_t p = 0, t = 0;
    std::size_t star = std::string_view::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}
}  // namespace

InternetSettings InternetSettings::Parse(std::string_view text) {
    InternetSettings settings;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = Trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view name = Trimmed(line.substr(0, equals));
        if (name.empty()) continue;
        settings.values_[Lowered(name)] = std::string(Trimmed(line.substr(equals + 1)));
    }
    return settings;
}

const std::string* InternetSettings::Find(std::string_view name) const {
    const auto found = values_.find(Lowered(name));
    return found == values_.end() ? nullptr : &found->second;
}

bool InternetSettings::Number(std::string_view name, unsigned long& value) const {
    const std::string* text = Find(name);
    if (!text || text->empty()) return false;
    std::string_view digits(*text);
    int base = 10;
    if (StartsWithIgnoringCase(digits, "0x")) {
        digits.remove_prefix(2);
        base = 16;
    }
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    return !digits.empty() && error == std::errc() && end == digits.data() + digits.size();
}

int ChooseProxyServer(std::string_view list, int targetPort, HttpProxyLookup& record) {
    record = HttpProxyLookup{};
    const std::string_view wanted = targetPort == kSecurePort  ? "https"
                                    : targetPort == kPlainPort ? "http"
                                                               : "";
    while (!list.empty()) {
        const std::size_t end = list.find(';');
        std::string_view entry = Trimmed(list.substr(0, end));
        list.remove_prefix(end == std::string_view::npos ? list.size() : end + 1);
        std::string_view scheme;
        if (const std::size_t equals = entry.find('='); equals != std::string_view::npos) {
            scheme = Trimmed(entry.substr(0, equals));
            entry = Trimmed(entry.substr(equals + 1));
            if (wanted.empty() || !EqualsIgnoringCase(scheme, wanted)) continue;
        }
        const std::size_t colon = entry.find(':');
        if (colon == std::string_view::npos) continue;
        if (FillProxyLookup(record, targetPort, entry.substr(0, colon),
                            PortNumber(entry.substr(colon + 1)))) {
            return 1;
        }
    }
    return 0;
}

bool BypassMatches(std::string_view host, std::string_view list,
                   const std::vector<std::string>& localNames) {
    if (host.empty() || list.empty()) return false;
    const std::string name = UpperAsciiCopy(host);
    std::vector<std::string> entries;
    while (!list.empty()) {
        const std::size_t end = list.find(';');
        const std::string_view entry = Trimmed(list.substr(0, end));
        list.remove_prefix(end == std::string_view::npos ? list.size() : end + 1);
        if (!entry.empty()) entries.push_back(UpperAsciiCopy(entry));
    }
    if (!entries.empty() && entries.back() == "<LOCAL>") {
        entries.back() = "LOCALHOST";
        entries.push_back("127.0.0.1");
        entries.insert(entries.end(), localNames.begin(), localNames.end());
    }
    return std::any_of(entries.begin(), entries.end(),
                       [&name](const std::string& entry) { return PatternMatches(entry, name); });
}

std::vector<std::string> WpadCandidates(std::string_view resolvConf) {
    std::string domain;
    while (!resolvConf.empty()) {
        const std::size_t end = resolvConf.find('\n');
        std::string_view line = Trimmed(resolvConf.substr(0, end));
        resolvConf.remove_prefix(end == std::string_view::npos ? resolvConf.size() : end + 1);
        const std::size_t blank = line.find_first_of(" \t");
        if (blank == std::string_view::npos) continue;
        const std::string_view keyword = line.substr(0, blank);
        if (keyword != "search" && keyword != "domain") continue;
        // The last search or domain line counts; its first name is the domain.
        line = Trimmed(line.substr(blank));
        domain = Lowered(line.substr(0, line.find_first_of(" \t")));
    }
    while (domain.ends_with('.'))
        domain.pop_back();
    const bool valid =
        !domain.empty() && domain.size() <= kMaxProxyHost - 5 &&
        domain.find("..") == std::string::npos && domain.front() != '.' &&
        std::all_of(domain.begin(), domain.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
        });
    std::vector<std::string> urls;
    if (!valid) return urls;
    std::string_view rest(domain);
    // Stops at two labels: "wpad.com" would hand the choice of proxy to strangers.
    while (std::count(rest.begin(), rest.end(), '.') >= 1) {
        urls.push_back("http://wpad." + std::string(rest) + "/wpad.dat");
        rest.remove_prefix(rest.find('.') + 1);
    }
    return urls;
}

int ParseAutoConfigAnswer(std::string_view answer, int targetPort, HttpProxyLookup& record) {
    record = HttpProxyLookup{};
    std::string_view directive = Trimmed(answer.substr(0, answer.find(';')));
    if (directive.size() < 6 || !StartsWithIgnoringCase(directive, "PROXY") ||
        (directive[5] != ' ' && directive[5] != '\t')) {
        return 0;
    }
    directive = Trimmed(directive.substr(6));
    std::string_view host = directive;
    std::string_view port;
    if (directive.starts_with('[')) {
        const std::size_t close = directive.find(']');
        if (close == std::string_view::npos) return 0;
        host = directive.substr(1, close - 1);
        const std::string_view after = directive.substr(close + 1);
        if (!after.empty() && !after.starts_with(':')) return 0;
        if (!after.empty()) port = after.substr(1);
    } else if (const std::size_t colon = directive.find(':'); colon != std::string_view::npos) {
        host = directive.substr(0, colon);
        port = directive.substr(colon + 1);
    }
    const int number =
        port.empty() ? (targetPort == kSecurePort ? kSecurePort : kPlainPort) : PortNumber(port);
    if (host.find_first_of(" \t") != std::string_view::npos) return 0;
    return FillProxyLookup(record, targetPort, host, number) ? 1 : 0;
}

}  // namespace http
