// How the command line describes a failed property call.
#pragma once

#include <string>

#include "platform/wintypes.h"

// "error N: TEXT" for the automation HRESULT of an error number (0x800A0000|N),
// else "error 0xXXXXXXXX: MEANING".
std::string DescribeFailure(HRESULT hr);
