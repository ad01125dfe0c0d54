// The progress line of get and put: bytes, percent, rate and time left,
// redrawn in place on a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

// "12.5 MiB / 100.0 MiB  12%  4.2 MiB/s  0:21 left". Rates and times need at
// least some elapsed time; before that they show as "--".
std::string FormatProgress(uint64_t copied, uint64_t total, long percent, double seconds);

// 512 B, 1.5 KiB, 12.0 MiB, 1.0 GiB.
std::string FormatBytes(uint64_t bytes);

// Whether the stream is the process's standard output or error on a terminal.
bool IsTerminalStream(const std::ostream& stream);

class ProgressLine {
  public:
    explicit ProgressLine(std::ostream& out);
    // Redraws the line with the whole 64-bit counts.
    void Update(uint64_t fileSize, uint64_t bytesCopied, long percent);
    // Ends the line when one was drawn.
    void Finish();

  private:
    std::ostream& out_;
    std::chrono::steady_clock::time_point start_;
    std::size_t lastWidth_ = 0;
    bool drawn_ = false;
};
