// The percentage OnProgress reports.
#pragma once

#include <cstdint>

#include "platform/wintypes.h"

// copied * 100 / total truncated and capped at 100; an empty file is 100%
// done while nothing was copied, 0% after.
inline LONG ProgressPercent(uint64_t total, uint64_t copied) {
    if (total == 0) return copied == 0 ? 100 : 0;
    const double percent = static_cast<double>(copied) * 100.0 / static_cast<double>(total);
    return percent >= 100.0 ? 100 : static_cast<LONG>(percent);
}
