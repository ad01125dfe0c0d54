// The SSH-2 connection layer: the channel table, the one session channel that
// carries SFTP (open, env requests, the command with its fallback, data under flow
// control both ways, requests, end-of-file and close), and the refusal of channels
// and requests the server opens. Forwarding is never enabled.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "crypto/bignum.h"
#include "platform/byte_queue.h"
#include "ssh/config.h"
#include "ssh/data_channel.h"
#include "ssh/link.h"

enum SshConnectionMessage : std::uint8_t {
    kSshMsgGlobalRequest = 80,
    kSshMsgRequestSuccess = 81,
    kSshMsgRequestFailure = 82,
    kSshMsgChannelOpen = 90,
    kSshMsgChannelOpenConfirmation = 91,
    kSshMsgChannelOpenFailure = 92,
    kSshMsgChannelWindowAdjust = 93,
    kSshMsgChannelData = 94,
    kSshMsgChannelExtendedData = 95,
    kSshMsgChannelEof = 96,
    kSshMsgChannelClose = 97,
    kSshMsgChannelRequest = 98,
    kSshMsgChannelSuccess = 99,
    kSshMsgChannelFailure = 100,
};

// Channel-open failure reasons.
enum SshOpenFailure : std::uint32_t {
    kSshOpenAdministrativelyProhibited = 1,
    kSshOpenUnknownChannelType = 3,
};

// The classic window and packet size, kept for servers that cannot take more
// (the SFTP-window workaround), and the large ones that keep a fast link busy:
// the window is what may be in flight towards us before we answer.
constexpr std::uint32_t kSshLocalWindow = 16384;
constexpr std::uint32_t kSshLocalMaxPacket = 16384;
constexpr std::uint32_t kSshLargeWindow = 4 * 1024 * 1024;
constexpr std::uint32_t kSshLargeMaxPacket = 32768;
// Local channel numbers count from here, so that they never look like the small
// numbers servers hand out.
constexpr std::uint32_t kSshFirstLocalChannel = 256;

enum class SshChannelState {
    Opening,             // CHANNEL_OPEN sent
    RequestingPrimary,   // the command (subsystem) requested
    RequestingFallback,  // the primary refused, the fallback requested
    Refused,             // open, primary and fallback refused: never ready
    Running,             // ready to send
    Closed,              // both closes exchanged, channel freed
};

// The session channel's record.
struct SshChannel {
    std::uint32_t localId = 0;
    std::uint32_t remoteId = 0;
    std::uint32_t localWindow = kSshLocalWindow;  // bytes the server may still send
    std::uint32_t remoteWindow = 0;               // bytes we may still send
    std::uint32_t remoteMaxPacket = 0;
    SecureByteQueue outgoing;  // data waiting for window
    bool eofWanted = false, eofSent = false, closeSent = false;
    bool eofReceived = false, closeReceived = false;
    SshChannelState state = SshChannelState::Opening;
};

class SshConnectionLayer final : public SshDataChannel {
  public:
    SshConnectionLayer(const SshConfig& config, SshLink& link);

    // The window and maximum packet offered when the session opens (the classic
    // 16 KiB ones unless set).
    void SetWindow(std::uint32_t window, std::uint32_t maxPacket) {
        window_ = window;
        maxPacket_ = maxPacket;
    }
    // Opens the session channel (after authentication).
    void OpenSession();
    // Connection-layer packets (80 to 100).
    bool Handle(std::span<const std::uint8_t> payload) override;

    // Data waits for the remote window and maximum packet.
    bool Send(std::span<const std::uint8_t> data) override;
    void SendEof() override;
    // Sends the channel's close (the server's close frees it).
    void Close() override;
    // The local window is topped up as the buffer empties.
    std::size_t Read(std::span<std::uint8_t> out) override;

    bool ready() const override { return session_ && session_->state == SshChannelState::Running; }
    bool failed() const override {
        return !session_ || session_->state == SshChannelState::Refused;
    }
    SshChannelState sessionState() const {
        return session_ ? session_->state : SshChannelState::Closed;
    }
    const SshChannel* session() const { return session_; }
    std::size_t buffered() const override { return incoming_.size(); }
    std::size_t pendingOutgoing() const override {
        return session_ ? session_->outgoing.size() : 0;
    }
    bool endOfData() const override { return !session_ || session_->eofReceived; }
    const SshExit& exit() const override { return exit_; }
    std::size_t channelCount() const { return channels_.size(); }
    // The command text the running session was started with (primary or fallback).
    const std::string& requestedCommand() const { return requestedCommand_; }

  private:
    void SetState(SshChannel& channel, SshChannelState state);
    SshChannel* Find(std::span<const std::uint8_t> payload, std::uint32_t* id);
    void OnOpenConfirmation(SshChannel& channel, std::span<const std::uint8_t> payload);
    void OnData(SshChannel& channel, std::span<const std::uint8_t> payload, bool extended);
    void OnWindowAdjust(SshChannel& channel, std::span<const std::uint8_t> payload);
    void OnRequest(SshChannel& channel, std::span<const std::uint8_t> payload);
    void OnReply(SshChannel& channel, bool success);
    void OnClose(SshChannel& channel);
    void OnServerOpen(std::span<const std::uint8_t> payload);
    void OnGlobalRequest(std::span<const std::uint8_t> payload);
    void RequestCommand(SshChannel& channel, const std::string& command, bool subsystem);
    void Flush(SshChannel& channel);
    void SendEofNow(SshChannel& channel);
    void TopUpWindow();
    void ProtocolError(std::string text);
    void Malformed();

    const SshConfig& config_;
    SshLink& link_;
    std::map<std::uint32_t, SshChannel> channels_;  // by local number
    SshChannel* session_ = nullptr;
    SecureByteQueue incoming_;
    std::uint32_t window_ = kSshLocalWindow;
    std::uint32_t maxPacket_ = kSshLocalMaxPacket;
    SshExit exit_;
    std::string requestedCommand_;
};
