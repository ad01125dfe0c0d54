// The file name of a Content-Disposition value (RFC 6266, with the RFC 8187
// "filename*" form), made safe to use as a local file name.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace http {

// "filename*" (UTF-8 or ISO-8859-1, percent-encoded) wins over "filename"
// (token or quoted string). The name keeps only what follows its last "/" or
// "\", loses control characters and leading dots, and is at most 255 bytes;
// nullopt when nothing usable is left ("", ".", "..", "...").
std::optional<std::string> DispositionFileName(std::string_view value);

}  // namespace http
