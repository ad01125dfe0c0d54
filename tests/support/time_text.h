// A time as text, for comparing a whole date in one assertion.
#pragma once

#include <cstdio>
#include <string>

#include "platform/api.h"

namespace testsupport {

// "YYYY-MM-DD HH:MM:SS".
inline std::string TimeText(const SYSTEMTIME& t) {
    char text[48];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond);
    return text;
}

}  // namespace testsupport
