// How the command line describes a failed property call.
#pragma once

#include <string>
#include <string_view>

#include "platform/wintypes.h"

// "error N: TEXT" for the automation HRESULT of an error number (0x800A0000|N),
// else "error 0xXXXXXXXX: MEANING". `reported` is the control's text of its last
// error: when it begins with TEXT and says more, it is shown instead.
std::string DescribeFailure(HRESULT hr, std::string_view reported = {});
