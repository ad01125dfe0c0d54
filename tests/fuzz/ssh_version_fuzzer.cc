// libFuzzer target for the SSH version exchange: banner lines, then the
// "SSH-" line, fed byte by byte; the kept line and its parts stay bounded.
#include <cstddef>
#include <cstdint>

#include "ssh/version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SshVersionReader reader;
    for (std::size_t i = 0; i < size; ++i) {
        const SshVersionReader::Result result = reader.Feed(data[i]);
        if (result == SshVersionReader::Result::NeedMore) continue;
        if (result == SshVersionReader::Result::Complete) {
            if (reader.line().size() > SshVersionReader::kMaxLineLength ||
                reader.protocolVersion().size() > SshVersionReader::kMaxProtocolLength)
                __builtin_trap();
            (void)reader.softwareVersion();
            (void)CompareSshVersions(reader.protocolVersion(), "2.0");
        }
        break;
    }
    return 0;
}
