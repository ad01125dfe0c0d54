// The wildcard rules for local file names of FtpPutMultipleFiles, as the
// system's own file search reads a mask: "*" matches any run of characters,
// "?" exactly one, everything else itself without regard to ASCII case, and
// the whole name must match. A mask ending in ".*" also matches names without
// a dot, so "*.*" matches every name.
#pragma once

#include <string_view>

namespace ftp {

bool MatchesLocalMask(std::string_view mask, std::string_view name);

}  // namespace ftp
