// The byte stream the session command runs over, as the session sees it: the
// SSH-2 session channel or the SSH-1 interactive session.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// The end of the session command: exit status or signal.
struct SshExit {
    std::optional<std::uint32_t> status;
    std::string signal;    // "ABRT", "SEGV", "TERM", or another name as sent
    int signalNumber = 0;  // 6, 11, 15 for the recognised names, else 0
};

class SshDataChannel {
  public:
    virtual ~SshDataChannel() = default;
    // One packet of the service layer; false for a message that is not the
    // channel's (the caller then treats it as unexpected).
    virtual bool Handle(std::span<const std::uint8_t> payload) = 0;
    // The command runs: data may be sent (the ready-to-send flag).
    virtual bool ready() const = 0;
    // False when no command can run any more (refused, closed).
    virtual bool failed() const = 0;
    // Queues data and sends what flow control allows; false after end-of-file or close.
    virtual bool Send(std::span<const std::uint8_t> data) = 0;
    // End-of-file now, or remembered until the command runs and the data is out.
    virtual void SendEof() = 0;
    virtual void Close() = 0;
    // Takes up to out.size() received bytes; returns how many.
    virtual std::size_t Read(std::span<std::uint8_t> out) = 0;
    virtual std::size_t buffered() const = 0;
    // Bytes queued that flow control has not let out yet.
    virtual std::size_t pendingOutgoing() const = 0;
    // The server sent end-of-file or closed.
    virtual bool endOfData() const = 0;
    virtual const SshExit& exit() const = 0;
};
