// HTTP dates ("Last-Modified" and the like) into calendar times.
#pragma once

#include <stdint.h>

#include "platform/automation.h"

extern "C" {

// Reads a date in any of the usual layouts (RFC 1123, RFC 850, asctime, with
// or without a numeric zone). *time is a time value of the local calendar
// (seconds, as mktime gives them); with localFlag the moment is converted to
// local time, else the parts stay as written. *zone gets the local zone's
// bias in seconds west of UTC. 1, or 0 for an empty or unreadable text.
int HttpParseDate(const char* text, BOOL localFlag, int64_t* time, long* zone);
// The calendar parts of a time value (milliseconds 0). 1, or 0.
int HttpTimeToSystemTime(int64_t time, SYSTEMTIME* systemTime);

}  // extern "C"
