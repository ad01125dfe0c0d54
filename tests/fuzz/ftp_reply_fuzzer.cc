// libFuzzer target for the FTP reply reader: bytes from the command channel fed
// one at a time, reply after reply, as the socket loop does.
#include <cstddef>
#include <cstdint>

#include "ftp/reply_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ftp::ReplyReader reader;
    for (std::size_t i = 0; i < size; ++i) {
        const ftp::ReplyReader::Step step = reader.Feed(static_cast<char>(data[i]));
        if (step == ftp::ReplyReader::Step::NeedMore) continue;
        // A complete reply has three digits for a code and bounded text.
        if (step == ftp::ReplyReader::Step::Complete &&
            (reader.code() < 0 || reader.code() > 999 ||
             reader.text().size() >= ftp::kReplyTextCapacity))
            __builtin_trap();
        reader.Reset();
    }
    return 0;
}
