// libFuzzer target for the passive replies' addresses: PASV and EPSV texts as
// a server may send them, and the PORT/EPRT arguments written back.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ftp/data_address.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ftp::PassiveReply reply;
    if (ftp::ParsePasvReply(text, reply) == 0 && (reply.port < 0 || reply.port > 65535))
        __builtin_trap();
    ftp::PassiveReply extended;
    if (ftp::ParseEpsvReply(text, extended) == 0 && (extended.port < 0 || extended.port > 65535))
        __builtin_trap();
    return 0;
}
