// libFuzzer target for URLs from users and servers: the HTTP and FTP URL
// parsers, composing a parsed record back, and redirect locations resolved
// against a request URL (the first line of the input is the request URL).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ftp/ftpurl.h"
#include "http/reference.h"
#include "http/url.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string url = text.substr(0, text.find('\0'));
    char composed[4096];
    HttpUrlRecord* http = nullptr;
    if (HttpParseUrl(url.c_str(), &http)) {
        HttpComposeUrl(http, composed, sizeof composed);
        HttpFreeUrl(http);
    }
    FtpUrlRecord* ftp = nullptr;
    if (FtpParseUrl(url.c_str(), &ftp)) {
        FtpComposeUrl(ftp, composed, sizeof composed);
        FtpFreeUrl(ftp);
    }
    const std::size_t newline = text.find('\n');
    if (newline != std::string::npos) {
        const std::string target = http::RedirectTarget(std::string_view(text).substr(0, newline),
                                                        std::string_view(text).substr(newline + 1));
        if (target.size() > 2 * text.size() + 16) __builtin_trap();
    }
    return 0;
}
