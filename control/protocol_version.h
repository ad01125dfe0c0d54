// The text form of ProtocolVersion: "major.minor", stored as major in the high
// 16 bits and minor in the low 16 bits.
#pragma once

#include <string>
#include <string_view>

#include "platform/wintypes.h"

LONG ParseProtocolVersion(std::string_view text);
std::string FormatProtocolVersion(LONG version);
