// libFuzzer target for the registry files' reader: any text is either refused
// with a line and a reason, or read into a tree that writes out as a file the
// reader takes again and writes out the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::size_t keys = 0;
    std::string fault, written;
    if (!platform::CheckRegistryText(text, &keys, &fault, &written)) {
        if (fault.empty()) __builtin_trap();
        return 0;
    }
    std::string again;
    if (!platform::CheckRegistryText(written, &keys, &fault, &again) || again != written)
        __builtin_trap();
    return 0;
}
