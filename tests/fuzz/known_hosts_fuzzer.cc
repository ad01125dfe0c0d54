// libFuzzer target for known_hosts lines: each line parsed, and every entry's
// host field matched against a plain and a bracketed host name (wildcards,
// negation, hashed names).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ssh/known_hosts.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        KnownHostEntry entry;
        if (ParseKnownHostsLine(line, &entry) != KnownHostsLineKind::Entry) continue;
        if (entry.blob.empty() || entry.keyType.empty()) __builtin_trap();
        (void)KnownHostFieldMatches(entry.hosts, "127.0.0.1");
        (void)KnownHostFieldMatches(entry.hosts, "[127.0.0.1]:2222");
    }
    return 0;
}
