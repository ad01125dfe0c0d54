// libFuzzer target for SFTP replies as the reader takes them apart: a NAME
// reply's count of names, each with its long name and attributes (extended
// pairs included), and the STATUS and ATTRS replies.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "ssh/sftp_wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SshReader reader(std::span<const std::uint8_t>(data, size));
    std::uint8_t type = 0;
    std::uint32_t id = 0;
    if (!reader.ReadByte(&type) || !reader.ReadUint32(&id)) return 0;
    if (type == SSH_FXP_NAME) {
        std::uint32_t count = 0;
        if (!reader.ReadUint32(&count)) return 0;
        for (std::uint32_t i = 0; i < count && !reader.failed(); ++i) {
            std::string_view name, longName;
            SftpAttributes attributes;
            if (!reader.ReadString(&name) || !reader.ReadString(&longName) ||
                !ReadSftpAttributes(reader, attributes))
                break;
            if (name.size() > size || longName.size() > size) __builtin_trap();
        }
    } else if (type == SSH_FXP_STATUS) {
        std::uint32_t code = 0;
        std::string_view message, language;
        if (reader.ReadUint32(&code) && reader.ReadString(&message) && reader.ReadString(&language))
            (void)reader.Finish();
    } else {
        SftpAttributes attributes;
        if (ReadSftpAttributes(reader, attributes)) (void)reader.Finish();
    }
    if (reader.Remaining() > size) __builtin_trap();
    return 0;
}
