// The size of a remote file by SIZE.
#pragma once

#include <cstdint>
#include <string_view>

#include "ftp/session.h"

namespace ftp {

// The reply code with the size set, or -1 with the error set (the size is 0).
int QueryRemoteFileSize(FtpSession& session, std::string_view name, std::uint64_t& size);

// Parses the number of a SIZE reply text: after its first ';', or the whole
// text; leading blanks allowed, nothing but digits after them. False when
// there is no such number or it does not fit in 64 bits.
bool ParseSizeReply(std::string_view text, std::uint64_t& size);

// The size in the text of a reply that opens a download, as most servers
// write it: "Opening BINARY mode data connection for f (1234 bytes)." False
// when the text has no such size.
bool ParseOpeningReplySize(std::string_view text, std::uint64_t& size);

}  // namespace ftp
