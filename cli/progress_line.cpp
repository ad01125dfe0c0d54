#include "cli/progress_line.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace {

// Below this the rate is too noisy to show.
constexpr double kMinimumSeconds = 0.2;

struct Unit {
    const char* name;
    uint64_t size;
};

constexpr Unit kUnits[] = {
    {"GiB", uint64_t{1} << 30},
    {"MiB", uint64_t{1} << 20},
    {"KiB", uint64_t{1} << 10},
};

std::string FormatDuration(double seconds) {
    const auto whole = static_cast<uint64_t>(seconds + 0.5);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu",
                      static_cast<unsigned long long>(whole / 3600),
                      static_cast<unsigned long long>(whole / 60 % 60),
                      static_cast<unsigned long long>(whole % 60));
    } else {
        std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(whole / 60),
                      static_cast<unsigned long long>(whole % 60));
    }
    return text;
}

}  // namespace

std::string FormatBytes(uint64_t bytes) {
    for (const Unit& unit : kUnits) {
        if (bytes >= unit.size) {
            char text[32];
            std::snprintf(text, sizeof text, "%.1f %s",
                          static_cast<double>(bytes) / static_cast<double>(unit.size), unit.name);
            return text;
        }
    }
    return std::to_string(bytes) + " B";
}

std::string FormatProgress(uint64_t copied, uint64_t total, long percent, double seconds) {
    std::string line =
        FormatBytes(copied) + " / " + FormatBytes(total) + "  " + std::to_string(percent) + "%  ";
    if (seconds < kMinimumSeconds) return line + "-- /s  -- left";
    const double rate = static_cast<double>(copied) / seconds;
    line += FormatBytes(static_cast<uint64_t>(rate)) + "/s  ";
    if (copied >= total) return line + FormatDuration(seconds) + " total";
    if (rate <= 0) return line + "-- left";
    return line + FormatDuration(static_cast<double>(total - copied) / rate) + " left";
}

bool IsTerminalStream(const std::ostream& stream) {
    if (&stream == &std::cerr) return isatty(STDERR_FILENO) == 1;
    if (&stream == &std::cout) return isatty(STDOUT_FILENO) == 1;
    return false;
}

ProgressLine::ProgressLine(std::ostream& out)
    : out_(out), start_(std::chrono::steady_clock::now()) {}

void ProgressLine::Update(uint64_t fileSize, uint64_t bytesCopied, long percent) {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
    const std::string line = FormatProgress(bytesCopied, fileSize, percent, elapsed.count());
    // Blanks wipe what a longer previous line left behind.
    const std::size_t padding = lastWidth_ > line.size() ? lastWidth_ - line.size() : 0;
    out_ << '\r' << line << std::string(padding, ' ') << std::flush;
    lastWidth_ = line.size();
    drawn_ = true;
}

void ProgressLine::Finish() {
    if (drawn_) out_ << '\n' << std::flush;
    drawn_ = false;
}
