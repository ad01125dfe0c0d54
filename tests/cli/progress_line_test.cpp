// The progress line's format (get and put against the servers are
// tests/integration/cli_ftp_test.cpp's).
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>

#include "cli/progress_line.h"

namespace {

// Counts beyond 4 GiB stay whole (no wrap at 2^32, no clamp).
TEST(ProgressLineFormat, ShowsBytesPercentRateAndTimeLeft) {
    EXPECT_EQ(FormatBytes(512), "512 B");
    EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
    EXPECT_EQ(FormatBytes(uint64_t{3} << 30), "3.0 GiB");
    constexpr uint64_t kGiB = uint64_t{1} << 30;
    struct Case {
        uint64_t copied;
        uint64_t total;
        long percent;
        double seconds;
        const char* line;
    };
    const Case cases[] = {
        {1 << 20, 4 << 20, 25, 2.0, "1.0 MiB / 4.0 MiB  25%  512.0 KiB/s  0:06 left"},
        {4 << 20, 4 << 20, 100, 4.0, "4.0 MiB / 4.0 MiB  100%  1.0 MiB/s  0:04 total"},
        {10, 100, 10, 0.01, "10 B / 100 B  10%  -- /s  -- left"},  // too early for a rate
        {1, 7200, 0, 1.0, "1 B / 7.0 KiB  0%  1 B/s  1:59:59 left"},
        {5 * kGiB, 8 * kGiB, 62, 2.0, "5.0 GiB / 8.0 GiB  62%  2.5 GiB/s  0:01 left"},
        {(uint64_t{1} << 32) + 1, 12 * kGiB, 33, 4.0,
         "4.0 GiB / 12.0 GiB  33%  1.0 GiB/s  0:08 left"},
        {6 * kGiB, 6 * kGiB, 100, 3.0, "6.0 GiB / 6.0 GiB  100%  2.0 GiB/s  0:03 total"},
        {1024 * kGiB, 2048 * kGiB, 50, 1024.0,
         "1024.0 GiB / 2048.0 GiB  50%  1.0 GiB/s  17:04 left"},
        {kGiB / 2, 5 * kGiB, 10, 0.1, "512.0 MiB / 5.0 GiB  10%  -- /s  -- left"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatProgress(c.copied, c.total, c.percent, c.seconds), c.line) << c.line;
    // The line itself takes the 64-bit counts the control's members give.
    std::ostringstream stream;
    EXPECT_FALSE(IsTerminalStream(stream));
    ProgressLine line(stream);
    line.Update(9 * kGiB, 5 * kGiB, 55);
    line.Finish();
    EXPECT_EQ(stream.str().rfind("\r5.0 GiB / 9.0 GiB  55%  ", 0), 0u) << stream.str();
}

}  // namespace
