// Recognition of the URL schemes the control accepts wherever a remote name or
// a server name may be given as a URL.
#pragma once

#include <string_view>

#include "platform/wintypes.h"

// The server type a URL's scheme selects: 2 for "http://" and "https://", 1 for
// "ftp://", "ftps://" and "sftp://" (compared ignoring case at the very start),
// 0 when the text is no URL.
LONG DetectUrlScheme(std::string_view text);
