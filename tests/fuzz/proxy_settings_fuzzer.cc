// libFuzzer target for the text rules of the system's proxy settings: the
// settings file's lines, ProxyServer and ProxyOverride lists, the names that
// automatic detection tries from a resolv.conf, and the answer of an
// automatic configuration script (which comes from the network). The first
// byte chooses the target port; the text is split at its first NUL into a
// host and the rest.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "http/proxy_config.h"

namespace {

// A filled record names a host that fits with its terminator and a real port.
void CheckRecord(int result, const HttpProxyLookup& record, int targetPort) {
    if (result == 0) return;
    const std::size_t length = strnlen(record.host, sizeof record.host);
    const int kind = targetPort == 443 ? HTTP_PROXY_TUNNEL : HTTP_PROXY_CERN;
    if (result != 1 || length == 0 || length == sizeof record.host || record.port < 1 ||
        record.port > 65535 || record.kind != kind) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int targetPort = (data[0] & 1) ? 443 : 80;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t split = text.find('\0');
    const std::string_view host = split == std::string_view::npos ? text : text.substr(0, split);
    const std::string_view rest = split == std::string_view::npos ? text : text.substr(split + 1);

    const http::InternetSettings settings = http::InternetSettings::Parse(rest);
    unsigned long number = 0;
    settings.Number("ProxyEnable", number);
    HttpProxyLookup record{};
    if (const std::string* servers = settings.Find("ProxyServer")) {
        CheckRecord(http::ChooseProxyServer(*servers, targetPort, record), record, targetPort);
    }
    CheckRecord(http::ChooseProxyServer(rest, targetPort, record), record, targetPort);
    http::BypassMatches(host, rest, {"LOCALHOST", "127.0.0.1"});
    for (const std::string& url : http::WpadCandidates(rest)) {
        if (!url.starts_with("http://wpad.") || !url.ends_with("/wpad.dat")) __builtin_trap();
    }
    CheckRecord(http::ParseAutoConfigAnswer(rest, targetPort, record), record, targetPort);
    return 0;
}
