// What authentication and the channels need from the connection under them: send
// packets (alone or several in one write), end the connection, and the facts the
// password camouflage depends on. The session adapts an SshConnection to it; tests
// record what goes through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ssh/packet.h"

class SshLink {
  public:
    virtual ~SshLink() = default;
    virtual bool Send(SshPacket packet) = 0;
    virtual bool SendTogether(std::vector<SshPacket> packets) = 0;
    // Sends a disconnect message and closes with the error number.
    virtual void Fail(int error, std::uint32_t reason, std::string_view description) = 0;
    // Closes without a message (error 0), with a local text.
    virtual void EndLocally(std::string message) = 0;
    // The outgoing cipher block size, 0 while no cipher is on.
    virtual std::size_t OutgoingBlockSize() const = 0;
    // The workaround mask of the connection (SSH-1 password variants).
    virtual std::uint32_t Workarounds() const = 0;
};
