// libFuzzer target for SFTP replies as the reader takes them apart: a NAME
// reply's count of names, each with its long name and attributes (extended
// pairs included), and the STATUS and ATTRS replies.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "ssh/sftp_wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SftpReader reader(std::span<const std::uint8_t>(data, size));
    std::uint8_t type = 0;
    std::uint32_t id = 0;
    if (!reader.Byte(type) || !reader.Uint32(id)) return 0;
    if (type == SSH_FXP_NAME) {
        std::uint32_t count = 0;
        if (!reader.Uint32(count)) return 0;
        for (std::uint32_t i = 0; i < count && reader.ok(); ++i) {
            std::string_view name, longName;
            SftpAttributes attributes;
            if (!reader.String(name) || !reader.String(longName) || !reader.Attributes(attributes))
                break;
            if (name.size() > size || longName.size() > size) __builtin_trap();
        }
    } else if (type == SSH_FXP_STATUS) {
        std::uint32_t code = 0;
        std::string_view message, language;
        reader.Uint32(code) && reader.String(message) && reader.String(language);
    } else {
        SftpAttributes attributes;
        reader.Attributes(attributes);
    }
    if (reader.remaining() > size) __builtin_trap();
    return 0;
}
