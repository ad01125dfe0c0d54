// libFuzzer target for URLs from users and servers: the HTTP and FTP URL
// parsers, composing a parsed record back, and redirect locations resolved
// against a request URL (the first line of the input is the request URL).
//
// What must hold beyond the sanitizers' checks: normalising a path never
// lengthens it; a composed URL fits a buffer of exactly its size and not one
// byte less, and reads back to the same URL; records made of arbitrary texts (the
// input cut at its NULs) compose within their buffers.
#include <strings.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/ftpurl.h"
#include "http/reference.h"
#include "http/url.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

// A NUL-terminated copy in a heap block of exactly its size.
std::unique_ptr<char[]> Exact(std::string_view text) {
    std::unique_ptr<char[]> copy(new char[text.size() + 1]);
    if (!text.empty()) std::memcpy(copy.get(), text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

// The composed text ("" when composing fails), checked against exact buffers.
template <class Record>
std::string Compose(int (*compose)(const Record*, char*, int), const Record& record) {
    char large[4096];
    const int length = compose(&record, large, sizeof large);
    if (length <= 0) return "";
    Check(std::strlen(large) == static_cast<std::size_t>(length));
    std::unique_ptr<char[]> exact(new char[length + 1]);
    Check(compose(&record, exact.get(), length + 1) == length);
    Check(std::memcmp(exact.get(), large, static_cast<std::size_t>(length) + 1) == 0);
    Check(compose(&record, exact.get(), length) == 0);
    return std::string(large, static_cast<std::size_t>(length));
}

// Parses and composes; the composition must parse again. An HTTP URL then
// composes to the same text; an FTP URL names the same target (its type is not
// written, an anonymous login is left out, and runs of "/" in its directory
// carry no meaning).
template <class Record>
Record* ParseAndCompose(const char* text, int (*parse)(const char*, Record**),
                        int (*compose)(const Record*, char*, int), std::string* composed) {
    Record* record = nullptr;
    if (!parse(text, &record)) {
        Check(record == nullptr);
        return nullptr;
    }
    *composed = Compose(compose, *record);
    return record;
}

std::string Text(const char* text) {
    return text ? text : "(null)";
}

std::string Segments(std::string_view directory) {
    std::string segments;
    for (char c : directory) {
        if (c == '/' && (segments.empty() || segments.back() == '/')) continue;
        segments += c;
    }
    if (!segments.empty() && segments.back() == '/') segments.pop_back();
    return segments;
}

void HttpRoundTrip(const char* text) {
    std::string composed;
    HttpUrlRecord* record = ParseAndCompose(text, HttpParseUrl, HttpComposeUrl, &composed);
    HttpFreeUrl(record);
    if (composed.empty()) return;
    HttpUrlRecord* again = nullptr;
    Check(HttpParseUrl(composed.c_str(), &again) == 1);
    Check(Compose(HttpComposeUrl, *again) == composed);
    HttpFreeUrl(again);
}

void FtpRoundTrip(const char* text) {
    std::string composed;
    FtpUrlRecord* first = ParseAndCompose(text, FtpParseUrl, FtpComposeUrl, &composed);
    if (first) Check(first->directory != nullptr);
    if (composed.empty()) return FtpFreeUrl(first);
    FtpUrlRecord* again = nullptr;
    Check(FtpParseUrl(composed.c_str(), &again) == 1);
    const bool anonymous = first->user == nullptr || strcasecmp(first->user, "anonymous") == 0;
    Check(again->scheme == first->scheme && again->port == first->port);
    Check(again->transferType == FTP_URL_TYPE_IMAGE);
    Check(Text(again->host) == Text(first->host));
    Check(Segments(again->directory) == Segments(first->directory));
    Check(Text(again->fileName) == Text(first->fileName));
    Check(Text(again->user) == (anonymous ? "(null)" : Text(first->user)));
    Check(Text(again->password) == (anonymous ? "(null)" : Text(first->password)));
    FtpFreeUrl(again);
    FtpFreeUrl(first);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string url = text.substr(0, text.find('\0'));
    auto input = Exact(url);
    HttpIsUrl(input.get());
    for (char* (*normalize)(char*) : {HttpNormalizePath, NormalizeUrlPath}) {
        auto path = Exact(url);
        Check(std::strlen(normalize(path.get())) <= url.size());
    }
    HttpRoundTrip(input.get());
    FtpRoundTrip(input.get());

    // Records of arbitrary fields: the texts between the NULs after the URL.
    if (url.size() < text.size() && size >= 2) {
        std::vector<std::unique_ptr<char[]>> fields;
        std::string_view rest = std::string_view(text).substr(url.size() + 1);
        for (int i = 0; i < 5; ++i) {
            const std::size_t end = rest.find('\0');
            fields.push_back(Exact(rest.substr(0, end)));
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        }
        const int scheme = data[0] % 5;
        const int ports[] = {0, 21, 80, 443, 990, -7, 70000, 1 << 20};
        const int port = ports[data[1] % 8];
        const bool noPath = (data[1] & 0x80) != 0;
        const HttpUrlRecord http{scheme,          port,
                                 fields[0].get(), noPath ? nullptr : fields[1].get(),
                                 fields[2].get(), fields[3].get(),
                                 fields[4].get()};
        Compose(HttpComposeUrl, http);
        const FtpUrlRecord ftp{scheme,
                               port,
                               FTP_URL_TYPE_IMAGE,
                               fields[0].get(),
                               noPath ? nullptr : fields[1].get(),
                               fields[2].get(),
                               fields[3].get(),
                               fields[4].get()};
        Compose(FtpComposeUrl, ftp);
    }

    const std::size_t newline = text.find('\n');
    if (newline != std::string::npos) {
        const std::string target = http::RedirectTarget(std::string_view(text).substr(0, newline),
                                                        std::string_view(text).substr(newline + 1));
        if (target.size() > 2 * text.size() + 16) __builtin_trap();
    }
    return 0;
}
