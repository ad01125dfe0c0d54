// Tracing: every socket call of the process (or only of the thread that turned
// tracing on), and the engines' text lines and data dumps, written as text to a
// trace file. The writer is built in; tracing never changes what a call does or
// the thread's last error.
#pragma once

#include "platform/api.h"

#include <stdint.h>

FT_EXTERN_C_BEGIN

// Trace flags (the control's TraceFlags).
#define NET_TRACE_INFO 0x0000     // socket calls and information lines
#define NET_TRACE_ERROR 0x0001    // also error lines
#define NET_TRACE_WARNING 0x0002  // also warning lines
#define NET_TRACE_HEXDUMP 0x0004  // also dumps of the data sent and received
#define NET_TRACE_PROCESS 0x1000  // every thread, not only the one that started it

// Starts tracing into fileName (appended to; null or "" writes to standard
// error) with flags. Calls nest: every successful start needs its stop. A start
// while tracing is on switches the file and the flags. 1 when tracing, 0 when it
// cannot be (the socket runtime is not started, or the file cannot be opened).
FT_API int NetTraceOn(const char* fileName, uint32_t flags);
// 1 when a start was undone (the last one closes the file), 0 when tracing was
// not on.
FT_API int NetTraceOff(void);
// A formatted text line; flags NET_TRACE_ERROR or NET_TRACE_WARNING mark it as
// such, and it is written only when the trace flags ask for that kind. 1 when
// written, else 0.
FT_API int NetTraceMessage(uint32_t flags, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// A hexadecimal dump of data, written when the trace flags ask for dumps. 1 when
// written, else 0.
FT_API int NetTraceDump(const void* data, long length);

FT_EXTERN_C_END
