// HTTP dates ("Last-Modified" and the like) into calendar times.
#pragma once

#include <stdint.h>

#include "platform/api.h"
#ifdef __cplusplus
#include "platform/automation.h"
#endif

FT_EXTERN_C_BEGIN

// Reads a date in any of the usual layouts (RFC 1123, RFC 850, asctime, with
// or without a numeric zone). *time is the moment in seconds since 1970 UTC:
// with localFlag the parts are UTC moved by the zone the text names (so the
// local calendar shows the moment in local time), else the parts are read as
// local calendar time and stay as written. *zone gets the local zone's bias
// in seconds west of UTC. 1, or 0 for an empty or unreadable text.
FT_API int HttpParseDate(const char* text, BOOL localFlag, int64_t* time, long* zone);
// The local calendar parts of a time value (milliseconds 0). 1, or 0.
FT_API int HttpTimeToSystemTime(int64_t time, SYSTEMTIME* systemTime);

FT_EXTERN_C_END
