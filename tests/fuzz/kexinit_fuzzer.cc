// libFuzzer target for the server's KEXINIT message (type byte included): the
// name lists are bounded and parsing never reads past the message.
#include <cstddef>
#include <cstdint>
#include <span>

#include "ssh/algorithms.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parsed = ParseSshKexinit(std::span<const std::uint8_t>(data, size));
    if (parsed) {
        // What was parsed can be written again as a message.
        const SecureBytes message = BuildSshKexinit(*parsed);
        if (message.empty()) __builtin_trap();
    }
    return 0;
}
