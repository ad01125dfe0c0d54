// Proxies from the environment, by curl's rules: which variable names the
// proxy of a URL's scheme, whether no_proxy exempts its host, and the parts of
// a proxy URL. The command line uses it; the control's system proxy settings
// (proxy type 3) can share it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace proxyenv {

// The raw values of the variables ("" when unset or empty).
struct ProxyEnvironment {
    std::string http;     // http_proxy (lowercase only: HTTP_PROXY can be set by a CGI request)
    std::string https;    // https_proxy, else HTTPS_PROXY
    std::string all;      // all_proxy, else ALL_PROXY
    std::string noProxy;  // no_proxy, else NO_PROXY
};

ProxyEnvironment ReadProxyEnvironment();

// The proxy URL the environment gives a scheme ("http" or "https"; every other
// scheme gets none): its own variable, else all_proxy; "" when there is none
// or no_proxy exempts host.
std::string EnvironmentProxyFor(const ProxyEnvironment& environment, std::string_view scheme,
                                std::string_view host);

// Whether a no_proxy list exempts host: "*" exempts every host; otherwise the
// list is split at commas and blanks, and an entry exempts the host of that
// name and every name under it ("example.test" and ".example.test" both match
// "example.test" and "a.example.test", not "badexample.test"). Addresses
// match exactly (IPv6 with or without brackets). Case does not matter.
bool NoProxyExempts(std::string_view list, std::string_view host);

struct ProxyUrl {
    std::string host;  // without brackets
    int port = 1080;   // curl's default when the URL has none
    std::string user;  // percent-decoded
    std::string password;
    bool hasLogin = false;
};

// "[http://][USER[:PASSWORD]@]HOST[:PORT][/]"; nullopt for another scheme, an
// empty host, a bad port or anything after the slash.
std::optional<ProxyUrl> ParseProxyUrl(std::string_view url);

}  // namespace proxyenv
