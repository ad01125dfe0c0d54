// libFuzzer target for the HTTP date reader (Last-Modified and the like, in
// every layout servers use), and the conversion of what it reads into calendar
// parts (built and run by scripts/fuzz.sh). The first byte chooses the local
// flag.
#include <cstddef>
#include <cstdint>
#include <string>

#include "http/dates.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const BOOL local = (data[0] & 1) != 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    int64_t time = 0;
    long zone = 0;
    if (HttpParseDate(text.c_str(), local, &time, &zone) != 1) return 0;
    SYSTEMTIME parts{};
    if (HttpTimeToSystemTime(time, &parts) == 1 &&
        (parts.wMonth < 1 || parts.wMonth > 12 || parts.wDay < 1 || parts.wDay > 31)) {
        __builtin_trap();
    }
    return 0;
}
