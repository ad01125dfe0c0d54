// The progress line of get, put and mirror: bytes, percent, rate and time
// left, redrawn in place on a terminal at most four times a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

// "12.5 MiB / 100.0 MiB  12%  4.2 MiB/s  0:21 left". Rates and times need at
// least some elapsed time; before that they show as "--". A total of 0 is an
// unknown size (a chunked HTTP body): the line shows the bytes and the rate
// alone. The rate is the mean since the start. With finished the line ends in
// the time the transfer took ("0:03 total") instead of the time left.
std::string FormatProgress(uint64_t copied, uint64_t total, long percent, double seconds,
                           bool finished = false);

// 512 B, 1.5 KiB, 12.0 MiB, 1.0 GiB.
std::string FormatBytes(uint64_t bytes);

// 0:07, 12:34, 1:02:03.
std::string FormatDuration(double seconds);

// Whether the stream is the process's standard output or error on a terminal.
bool IsTerminalStream(const std::ostream& stream);

class ProgressLine {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // The shortest time between two redraws.
    static constexpr std::chrono::milliseconds kRedrawInterval{250};

    // clock is the time source (steady_clock::now when empty).
    explicit ProgressLine(std::ostream& out, Clock clock = {});
    // Takes the whole 64-bit counts; redraws when the last redraw is at least
    // kRedrawInterval ago (the first one at once), else keeps them for later.
    void Update(uint64_t fileSize, uint64_t bytesCopied, long percent);
    // Wipes the line so that other output can be written; a later Update
    // draws it again.
    void Clear();
    // Draws the last counts once more, as the final line with the total time
    // when finished, and ends the line; nothing when no Update came.
    void Finish(bool finished = true);

  private:
    void Draw(const std::string& line);

    std::ostream& out_;
    Clock clock_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
    uint64_t size_ = 0, copied_ = 0;
    long percent_ = 0;
    std::size_t lastWidth_ = 0;
    bool updated_ = false;  // counts have come since the line began
    bool drawn_ = false;    // a drawn line stands on the terminal
};
