// The SSH-2 connection layer: the channel table, the one session channel that
// carries SFTP (open, env requests, the command with its fallback, data under flow
// control both ways, requests, end-of-file and close), the forwarded channels
// (direct-tcpip we open; forwarded-tcpip, agent and X11 channels the server opens
// when an owner takes them) with their throttles, the forwarding global requests,
// and the refusal of channels and requests nobody takes. The sockets behind the
// forwarded channels are the owner's (SshForwarder); this layer only speaks the
// protocol.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "crypto/bignum.h"
#include "crypto/sshbuf.h"
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
    kSshOpenConnectFailed = 2,
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
// A forwarded channel's window and packet size, and its throttle: more than this
// many bytes waiting for its local socket stop the window top-ups, more than this
// many waiting for the server's window stop reads from the local socket.
constexpr std::uint32_t kSshForwardWindow = 256 * 1024;
constexpr std::uint32_t kSshForwardMaxPacket = 32768;
constexpr std::size_t kSshForwardThrottle = 32768;

enum class SshChannelType {
    Session,
    DirectTcpip,     // a connection we forward to host:port at the server's side
    ForwardedTcpip,  // a connection to a port the server listens on for us
    Agent,           // the server's side asks our ssh-agent
    X11,             // a client at the server's side asks our X display
};

enum class SshChannelState {
    Opening,             // CHANNEL_OPEN sent
    RequestingPrimary,   // the command (subsystem) requested
    RequestingFallback,  // the primary refused, the fallback requested
    Refused,             // open, primary and fallback refused: never ready
    Running,             // ready to send
    Closed,              // both closes exchanged (a session channel is freed)
};

// One channel's record.
struct SshChannel {
    SshChannelType type = SshChannelType::Session;
    std::uint32_t localId = 0;
    std::uint32_t remoteId = 0;
    std::uint32_t localWindow = kSshLocalWindow;  // bytes the server may still send
    std::uint32_t remoteWindow = 0;               // bytes we may still send
    std::uint32_t remoteMaxPacket = 0;
    std::uint32_t windowSize = kSshLocalWindow;  // what the local window is topped up to
    SecureByteQueue outgoing;                    // data waiting for window
    SecureByteQueue incoming;  // a forwarded channel's data waiting for its socket
    bool eofWanted = false, eofSent = false, closeSent = false;
    bool eofReceived = false, closeReceived = false;
    // More than kSshForwardThrottle bytes wait in incoming: no window top-ups.
    bool throttled = false;
    SshChannelState state = SshChannelState::Opening;
    std::string refusal;  // the server's text when it refused to open the channel
    std::uint32_t refusalReason = 0;
};

// Who owns the forwarded channels: takes (or not) the channels the server opens
// and hears the replies to the forwarding requests.
class SshChannelOwner {
  public:
    virtual ~SshChannelOwner() = default;
    // A channel the server opens, with the fields after its window and packet
    // size. true takes it as localId (confirmed at once); false refuses it with
    // the type's text, or as a failed connect with *whyNot when that is set.
    virtual bool TakeServerChannel(SshChannelType type, std::uint32_t localId, SshReader& fields,
                                   std::string* whyNot) = 0;
    // The reply to one of our global requests (they come in the order sent): the
    // fields after the type byte.
    virtual void OnGlobalReply(bool success, std::span<const std::uint8_t> fields) = 0;
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
    void SetOwner(SshChannelOwner* owner) { owner_ = owner; }
    // The X11 request sent on the session channel before its command, when set:
    // the protocol name, the fake cookie as hex and the screen number.
    void SetX11Request(std::string protocol, std::string cookieHex, std::uint32_t screen) {
        x11Protocol_ = std::move(protocol);
        x11Cookie_ = std::move(cookieHex);
        x11Screen_ = screen;
    }

    // ---- Forwarded channels, by local number ----
    // Opens a direct-tcpip channel to host:port; the originator is reported as
    // given. Returns the local number (state Opening until the server answers).
    std::uint32_t OpenDirectTcpip(std::string_view host, std::uint32_t port,
                                  std::string_view originHost, std::uint32_t originPort);
    // Sends "tcpip-forward" (or "cancel-tcpip-forward") with a wanted reply.
    void RequestForwarding(bool cancel, std::string_view address, std::uint32_t port);
    SshChannel* channel(std::uint32_t id);
    // Queues data for the server; false after end-of-file or close.
    bool SendOn(std::uint32_t id, std::span<const std::uint8_t> data);
    void SendEofOn(std::uint32_t id);
    void CloseChannel(std::uint32_t id);
    // count bytes of the channel's incoming queue went to its socket.
    void Consume(std::uint32_t id, std::size_t count);
    // The owner is done with a forwarded channel (closed or refused): the record goes.
    void Release(std::uint32_t id);
    // Whether the channel's local socket may be read: running and not throttled
    // by its outgoing queue.
    bool TakesLocalData(std::uint32_t id) const;
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
    std::uint32_t NewChannel(SshChannelType type);
    bool Queue(SshChannel& channel, std::span<const std::uint8_t> data);
    void EndOf(SshChannel& channel);
    void CloseOf(SshChannel& channel);
    void OnOpenFailure(SshChannel& channel, std::span<const std::uint8_t> payload);
    void SendSessionRequests(SshChannel& channel);
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
    void TopUpWindow(SshChannel& channel);
    void ChannelGone();
    void ProtocolError(std::string text);
    void Malformed();

    const SshConfig& config_;
    SshLink& link_;
    std::map<std::uint32_t, SshChannel> channels_;  // by local number
    SshChannel* session_ = nullptr;
    SshChannelOwner* owner_ = nullptr;
    std::string x11Protocol_, x11Cookie_;
    std::uint32_t x11Screen_ = 0;
    SecureByteQueue incoming_;
    std::uint32_t window_ = kSshLocalWindow;
    std::uint32_t maxPacket_ = kSshLocalMaxPacket;
    SshExit exit_;
    std::string requestedCommand_;
};
