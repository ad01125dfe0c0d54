// libFuzzer target for the HTTP response head reader, the body framing rules
// (Transfer-Encoding and Content-Length lists), chunk-size lines and Location
// resolution (built and run by scripts/fuzz.sh).
//
// The input is fed byte by byte to a head reader (the first byte picks whether
// interim answers are skipped and the trailer mode), which must keep its reason
// and header lines within their bounds; the headers it finds go through the
// framing rules, every line through the chunk-size parser, and each Location
// through the resolver.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "http/http.h"
#include "http/reference.h"
#include "http/wire.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool trailerOnly = (data[0] & 1) != 0;
    http::ResponseHeadReader reader(trailerOnly);
    std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    for (char c : bytes) {
        if (reader.Feed(c) != http::ResponseHeadReader::Step::NeedMore) break;
    }
    if (reader.reason().size() >= HTTP_MAX_REASON) __builtin_trap();
    if (reader.headers().size() > http::ResponseHeadReader::kMaxLines) __builtin_trap();
    std::vector<std::string_view> codings;
    std::vector<std::string_view> lengths;
    for (const auto& [name, value] : reader.headers()) {
        if (EqualsIgnoringCase(name, "Transfer-Encoding")) codings.push_back(value);
        if (EqualsIgnoringCase(name, "Content-Length")) lengths.push_back(value);
        if (EqualsIgnoringCase(name, "Location")) {
            const std::string target = http::RedirectTarget("http://127.0.0.1/b/c/d;p?q#f", value);
            // A resolved path keeps no dot segments.
            const std::string_view path = http::SplitUriReference(target).path;
            if (path.find("/../") != std::string_view::npos || path.ends_with("/.."))
                __builtin_trap();
        }
        (void)http::ParseChunkSize(value);
    }
    const http::BodyFraming framing = http::ParseBodyFraming(codings, lengths);
    if (framing.invalid && framing.length) __builtin_trap();
    if (framing.chunked && framing.length) __builtin_trap();
    return 0;
}
