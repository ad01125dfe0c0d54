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

}  // namespace

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

std::string FormatProgress(uint64_t copied, uint64_t total, long percent, double seconds,
                           bool finished) {
    // An unknown size (0), or one the copy has passed, shows no total or percent.
    const bool sized = total > 0 && copied <= total;
    std::string line = FormatBytes(copied) + "  ";
    if (sized)
        line = FormatBytes(copied) + " / " + FormatBytes(total) + "  " + std::to_string(percent) +
               "%  ";
    // The final line's mean rate is exact whatever the time; a running one
    // needs some time first.
    const bool rated = finished ? seconds > 0 : seconds >= kMinimumSeconds;
    const double rate = rated ? static_cast<double>(copied) / seconds : 0;
    line += rated ? FormatBytes(static_cast<uint64_t>(rate)) + "/s  " : "-- /s  ";
    if (finished || (sized && copied >= total && rated))
        return line + FormatDuration(seconds) + " total";
    if (!sized) return line.substr(0, line.size() - 2);
    if (!rated || rate <= 0) return line + "-- left";
    return line + FormatDuration(static_cast<double>(total - copied) / rate) + " left";
}

bool IsTerminalStream(const std::ostream& stream) {
    if (&stream == &std::cerr) return isatty(STDERR_FILENO) == 1;
    if (&stream == &std::cout) return isatty(STDOUT_FILENO) == 1;
    return false;
}

ProgressLine::ProgressLine(std::ostream& out, Clock clock)
    : out_(out),
      clock_(clock ? std::move(clock) : Clock(&std::chrono::steady_clock::now)),
      start_(clock_()) {}

void ProgressLine::Update(uint64_t fileSize, uint64_t bytesCopied, long percent) {
    size_ = fileSize;
    copied_ = bytesCopied;
    percent_ = percent;
    const auto now = clock_();
    const bool first = !updated_;
    updated_ = true;
    if (!first && now - lastDraw_ < kRedrawInterval) return;
    lastDraw_ = now;
    const std::chrono::duration<double> elapsed = now - start_;
    Draw(FormatProgress(copied_, size_, percent_, elapsed.count()));
}

void ProgressLine::Draw(const std::string& line) {
    // Blanks wipe what a longer previous line left behind.
    const std::size_t padding = lastWidth_ > line.size() ? lastWidth_ - line.size() : 0;
    out_ << '\r' << line << std::string(padding, ' ') << std::flush;
    lastWidth_ = line.size();
    drawn_ = true;
}

void ProgressLine::Clear() {
    if (!drawn_) return;
    out_ << '\r' << std::string(lastWidth_, ' ') << '\r' << std::flush;
    lastWidth_ = 0;
    drawn_ = false;
}

void ProgressLine::Finish(bool finished) {
    if (!updated_) return;
    const std::chrono::duration<double> elapsed = clock_() - start_;
    Draw(FormatProgress(copied_, size_, percent_, elapsed.count(), finished));
    out_ << '\n' << std::flush;
    lastWidth_ = 0;
    drawn_ = false;
    updated_ = false;
}
