// The progress line's format (get and put against the servers are
// tests/integration/cli_ftp_test.cpp's).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
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
        // An unknown size (chunked) shows bytes and rate, never "0 B / 0 B 100%".
        {3 << 20, 0, 100, 2.0, "3.0 MiB  1.5 MiB/s"},
        {0, 0, 100, 0.0, "0 B  -- /s"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatProgress(c.copied, c.total, c.percent, c.seconds), c.line) << c.line;
    // The final line: the total, the mean rate and the time taken.
    EXPECT_EQ(FormatProgress(3 << 20, 0, 100, 2.0, true), "3.0 MiB  1.5 MiB/s  0:02 total");
    EXPECT_EQ(FormatProgress(2048, 2048, 100, 0.1, true),
              "2.0 KiB / 2.0 KiB  100%  20.0 KiB/s  0:00 total");
}

// At most four redraws a second, whatever the events; the final line always.
TEST(ProgressLineFormat, RedrawsAtMostFourTimesASecond) {
    using namespace std::chrono_literals;
    std::chrono::steady_clock::time_point now{};
    std::ostringstream stream;
    EXPECT_FALSE(IsTerminalStream(stream));
    ProgressLine line(stream, [&now] { return now; });
    constexpr uint64_t kGiB = uint64_t{1} << 30;
    // One event every 10 ms for two seconds: the first draws, then one in 250 ms.
    for (int i = 0; i <= 200; ++i) {
        line.Update(9 * kGiB, (5 * kGiB) / 200 * static_cast<uint64_t>(i), 55);
        now += 10ms;
    }
    const std::string drawn = stream.str();
    EXPECT_EQ(std::count(drawn.begin(), drawn.end(), '\r'), 9) << drawn;
    line.Finish();
    // The 64-bit counts stay whole.
    EXPECT_NE(stream.str().find("\r5.0 GiB / 9.0 GiB  55%  2.5 GiB/s  0:02 total"),
              std::string::npos)
        << stream.str();
    EXPECT_EQ(stream.str().back(), '\n');
}

}  // namespace
