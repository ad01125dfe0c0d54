#include "url/proxy_env.h"

#include <charconv>

#include "platform/system.h"
#include "url/urlparts.h"

namespace proxyenv {
namespace {

std::string FirstSet(const char* lower, const char* upper) {
    std::string value = EnvironmentValue(lower);
    return value.empty() && upper ? EnvironmentValue(upper) : value;
}

std::string_view Unbracketed(std::string_view host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    return host;
}

bool EndsWithName(std::string_view host, std::string_view name) {
    if (name.empty() || host.size() < name.size()) return false;
    if (!urlparts::EqualsIgnoreCase(host.substr(host.size() - name.size()), name)) return false;
    return host.size() == name.size() || host[host.size() - name.size() - 1] == '.';
}

}  // namespace

ProxyEnvironment ReadProxyEnvironment() {
    return {FirstSet("http_proxy", nullptr), FirstSet("https_proxy", "HTTPS_PROXY"),
            FirstSet("all_proxy", "ALL_PROXY"), FirstSet("no_proxy", "NO_PROXY")};
}

std::string EnvironmentProxyFor(const ProxyEnvironment& environment, std::string_view scheme,
                                std::string_view host) {
    std::string proxy;
    if (urlparts::EqualsIgnoreCase(scheme, "http")) {
        proxy = environment.http;
    } else if (urlparts::EqualsIgnoreCase(scheme, "https")) {
        proxy = environment.https;
    } else {
        return {};
    }
    if (proxy.empty()) proxy = environment.all;
    if (proxy.empty() || NoProxyExempts(environment.noProxy, host)) return {};
    return proxy;
}

bool NoProxyExempts(std::string_view list, std::string_view host) {
    host = Unbracketed(host);
    if (!host.empty() && host.back() == '.') host.remove_suffix(1);
    while (!list.empty()) {
        const std::size_t end = list.find_first_of(", \t");
        std::string_view entry = list.substr(0, end);
        list.remove_prefix(end == std::string_view::npos ? list.size() : end + 1);
        if (entry == "*") return true;
        entry = Unbracketed(entry);
        if (!entry.empty() && entry.front() == '.') entry.remove_prefix(1);
        if (!entry.empty() && entry.back() == '.') entry.remove_suffix(1);
        if (EndsWithName(host, entry)) return true;
    }
    return false;
}

std::optional<ProxyUrl> ParseProxyUrl(std::string_view url) {
    if (const std::size_t mark = url.find("://"); mark != std::string_view::npos) {
        if (!urlparts::EqualsIgnoreCase(url.substr(0, mark), "http")) return std::nullopt;
        url.remove_prefix(mark + 3);
    }
    if (url.ends_with('/')) url.remove_suffix(1);
    ProxyUrl proxy;
    if (const std::size_t at = url.rfind('@'); at != std::string_view::npos) {
        const std::string_view login = url.substr(0, at);
        const std::size_t colon = login.find(':');
        proxy.user = urlparts::PercentDecoded(login.substr(0, colon));
        if (colon != std::string_view::npos)
            proxy.password = urlparts::PercentDecoded(login.substr(colon + 1));
        proxy.hasLogin = true;
        url.remove_prefix(at + 1);
    }
    std::string_view host = url;
    std::string_view port;
    if (url.starts_with('[')) {
        const std::size_t close = url.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = url.substr(1, close - 1);
        const std::string_view after = url.substr(close + 1);
        if (!after.empty() && !after.starts_with(':')) return std::nullopt;
        if (!after.empty()) port = after.substr(1);
    } else if (const std::size_t colon = url.rfind(':'); colon != std::string_view::npos) {
        host = url.substr(0, colon);
        port = url.substr(colon + 1);
    }
    if (host.empty() || host.find_first_of("/?#@ ") != std::string_view::npos) return std::nullopt;
    if (!port.empty()) {
        auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), proxy.port);
        if (error != std::errc() || end != port.data() + port.size() || proxy.port < 1 ||
            proxy.port > 65535) {
            return std::nullopt;
        }
    }
    proxy.host = host;
    return proxy;
}

}  // namespace proxyenv
