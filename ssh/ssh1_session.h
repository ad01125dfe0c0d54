// SSH-1 after the session key: the user name, the password with its camouflage,
// the command (no terminal), and the interactive session's data both ways.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "crypto/bignum.h"
#include "platform/byte_queue.h"
#include "ssh/config.h"
#include "ssh/data_channel.h"
#include "ssh/link.h"

enum Ssh1SessionMessage : std::uint8_t {
    kSsh1CmsgUser = 4,
    kSsh1CmsgAuthPassword = 9,
    kSsh1CmsgExecShell = 12,
    kSsh1CmsgExecCmd = 13,
    kSsh1CmsgStdinData = 16,
    kSsh1SmsgStdoutData = 17,
    kSsh1SmsgStderrData = 18,
    kSsh1CmsgEof = 19,
    kSsh1SmsgExitStatus = 20,
    kSsh1CmsgExitConfirmation = 33,
};

// Authentication methods in the server's mask (bit numbers).
constexpr std::uint32_t kSsh1AuthPasswordBit = 1u << 3;
// Stdin data goes out in pieces of at most this much.
constexpr std::size_t kSsh1DataPiece = 16384;
// With the ignore workaround, shorter passwords are sent padded to this length.
constexpr std::size_t kSsh1PaddedPasswordLength = 64;

enum class Ssh1SessionState {
    AwaitUserReply,
    AwaitPasswordReply,
    Running,
    Exited,  // exit status received and confirmed
    Failed,
};

// The packets that carry the password, by the workaround mask: (none) the real
// packet among ignore messages of every neighbouring length; (ignore workaround)
// the password padded to 64 bytes with a zero byte and random bytes; (plain
// password workaround) the password alone.
std::vector<SshPacket> Ssh1PasswordPackets(std::string_view password, std::uint32_t workarounds);

class Ssh1Session final : public SshDataChannel {
  public:
    Ssh1Session(const SshConfig& config, SshLink& link, std::uint32_t serverAuthMask);

    // Sends the user name.
    void Start();
    bool Handle(std::span<const std::uint8_t> payload) override;

    bool ready() const override { return state_ == Ssh1SessionState::Running; }
    bool failed() const override { return state_ == Ssh1SessionState::Failed; }
    bool Send(std::span<const std::uint8_t> data) override;
    void SendEof() override;
    void Close() override;
    std::size_t Read(std::span<std::uint8_t> out) override;
    std::size_t buffered() const override { return incoming_.size(); }
    std::size_t pendingOutgoing() const override { return 0; }
    bool endOfData() const override { return state_ == Ssh1SessionState::Exited; }
    const SshExit& exit() const override { return exit_; }

    Ssh1SessionState state() const { return state_; }

  private:
    void SetState(Ssh1SessionState state);
    void OnAuthReply(bool success);
    void StartCommand();
    void Fail(int error, std::string_view text);

    const SshConfig& config_;
    SshLink& link_;
    std::uint32_t serverAuthMask_;
    Ssh1SessionState state_ = Ssh1SessionState::AwaitUserReply;
    SecureByteQueue incoming_;
    bool eofWanted_ = false, eofSent_ = false;
    SshExit exit_;
};
