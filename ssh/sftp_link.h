// The byte stream an SFTP session speaks over: the SSH session channel in use,
// an in-memory peer in tests.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

class SshSession;

class SftpChannelLink {
  public:
    virtual ~SftpChannelLink() = default;
    // Queues the bytes for sending; false when the channel cannot take them.
    virtual bool Send(std::span<const std::uint8_t> data) = 0;
    // Fills out completely; false at the end of the data, on error or time-out.
    virtual bool ReadExactly(std::span<std::uint8_t> out) = 0;
    // The error number of the last failure (0 when the peer just ended the data).
    virtual int error() const = 0;
    // End-of-file, then waits (bounded) for the peer to close.
    virtual void Close() = 0;
    // The SSH session underneath, when there is one.
    virtual SshSession* ssh() { return nullptr; }
};

std::unique_ptr<SftpChannelLink> MakeSshChannelLink(std::unique_ptr<SshSession> session);
