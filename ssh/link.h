// What authentication and the channels need from the connection under them: send
// packets (alone or several in one write), end the connection, and the facts the
// password camouflage depends on. The session adapts an SshConnection to it; tests
// record what goes through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
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
    // What public-key signatures cover and may use: the session identifier and the
    // server's "server-sig-algs" (empty when it sent none).
    virtual std::span<const std::uint8_t> SessionId() const { return {}; }
    virtual const std::vector<std::string>& ServerSignatureAlgorithms() const {
        static const std::vector<std::string> none;
        return none;
    }
};
