// The texts of the trace file: socket calls, time stamps and hexadecimal dumps.
#pragma once

#include <cstdint>
#include <string>

#include "net/callhook.h"

namespace net {

// "send(5, 0x7ffc..., 8192, 0) = 8192", with " [10035 text]" after a failure.
std::string FormatSocketCall(SocketCall call, std::intptr_t result, int argumentCount,
                             const std::intptr_t* arguments, int lastError);

// "00000010  41 42 ...  |AB..|" lines, 16 bytes each, every line ending in '\n'.
std::string FormatDump(const unsigned char* data, std::size_t length);

// "HH:MM:SS.mmm [thread] " for a line written now.
std::string LinePrefix();

}  // namespace net
