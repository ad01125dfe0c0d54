#include "ssh/channel.h"

#include <algorithm>
#include <cstdio>

#include "crypto/sshbuf.h"
#include "net/state_trace.h"
#include "resources/errors.h"
#include "ssh/messages.h"

namespace {

constexpr std::size_t kCompactThreshold = 64 * 1024;

// What a server-opened channel is refused with, by type; anything else is an
// unknown type.
// an owner that does not take it is refused with the type's text.
struct OpenRefusal {
    std::string_view type;
    SshChannelType channelType;
    std::uint32_t reason;
    std::string_view text;
};
constexpr OpenRefusal kOpenRefusals[] = {
    {"x11", SshChannelType::X11, kSshOpenAdministrativelyProhibited,
     "X11 forwarding is not enabled"},
    {"forwarded-tcpip", SshChannelType::ForwardedTcpip, kSshOpenAdministrativelyProhibited,
     "Remote port is not recognised"},
    {"auth-agent@openssh.com", SshChannelType::Agent, kSshOpenAdministrativelyProhibited,
     "Agent forwarding is not enabled"},
};
constexpr OpenRefusal kUnknownTypeRefusal = {
    "", SshChannelType::Session, kSshOpenUnknownChannelType, "Unsupported channel type requested"};

struct SignalName {
    std::string_view name;
    int number;
};
constexpr SignalName kSignals[] = {{"ABRT", 6}, {"SEGV", 11}, {"TERM", 15}};

// The text of the protocol error for a message naming a channel we do not have.
const char* InvalidChannelFormat(std::uint8_t type) {
    switch (type) {
        case kSshMsgChannelRequest:
            return "Received channel request for invalid channel %u";
        case kSshMsgChannelData:
        case kSshMsgChannelExtendedData:
            return "Received data for invalid channel %u";
        case kSshMsgChannelWindowAdjust:
            return "Received window adjust for invalid channel %u";
        case kSshMsgChannelEof:
            return "Received end-of-file for invalid channel %u";
        case kSshMsgChannelClose:
            return "Received close for invalid channel %u";
        default:
            return "Received channel message for invalid channel %u";
    }
}

// A forwarded channel the server refused to open (a refused session channel is
// open, only its commands were refused).
bool NeverOpened(const SshChannel& channel) {
    return channel.type != SshChannelType::Session && channel.state == SshChannelState::Refused;
}

}  // namespace

SshConnectionLayer::SshConnectionLayer(const SshConfig& config, SshLink& link)
    : config_(config), link_(link) {}

void SshConnectionLayer::SetState(SshChannel& channel, SshChannelState state) {
    static const char* const kNames[] = {"Opening", "RequestingPrimary", "RequestingFallback",
                                         "Refused", "Running",           "Closed"};
    static_assert(std::size(kNames) == static_cast<std::size_t>(SshChannelState::Closed) + 1);
    net::ChangeState(channel.state, state, "SSH channel", kNames);
}

std::uint32_t SshConnectionLayer::NewChannel(SshChannelType type) {
    std::uint32_t id = kSshFirstLocalChannel;
    while (channels_.count(id))
        ++id;
    SshChannel& channel = channels_[id];
    channel.localId = id;
    channel.type = type;
    return id;
}

void SshConnectionLayer::OpenSession() {
    const std::uint32_t id = NewChannel(SshChannelType::Session);
    SshChannel& channel = channels_[id];
    session_ = &channel;
    channel.localWindow = window_;
    channel.windowSize = window_;
    link_.Send(std::move(SshPacket(kSshMsgChannelOpen)
                             .PutString("session")
                             .PutUint32(id)
                             .PutUint32(window_)
                             .PutUint32(maxPacket_)));
    SetState(channel, SshChannelState::Opening);
}

bool SshConnectionLayer::Handle(std::span<const std::uint8_t> payload) {
    if (payload.empty()) return false;
    const std::uint8_t type = payload[0];
    if (type == kSshMsgGlobalRequest) {
        OnGlobalRequest(payload);
        return true;
    }
    if (type == kSshMsgChannelOpen) {
        OnServerOpen(payload);
        return true;
    }
    if (type == kSshMsgRequestSuccess || type == kSshMsgRequestFailure) {
        if (owner_) owner_->OnGlobalReply(type == kSshMsgRequestSuccess, payload.subspan(1));
        return true;
    }
    if (type < kSshMsgChannelOpenConfirmation || type > kSshMsgChannelFailure) return false;
    std::uint32_t id = 0;
    SshChannel* channel = Find(payload, &id);
    if (!channel) return true;
    switch (type) {
        case kSshMsgChannelOpenConfirmation:
            OnOpenConfirmation(*channel, payload);
            break;
        case kSshMsgChannelOpenFailure:
            OnOpenFailure(*channel, payload);
            break;
        case kSshMsgChannelWindowAdjust:
            OnWindowAdjust(*channel, payload);
            break;
        case kSshMsgChannelData:
        case kSshMsgChannelExtendedData:
            OnData(*channel, payload, type == kSshMsgChannelExtendedData);
            break;
        case kSshMsgChannelEof:
            channel->eofReceived = true;
            break;
        case kSshMsgChannelClose:
            OnClose(*channel);
            break;
        case kSshMsgChannelRequest:
            OnRequest(*channel, payload);
            break;
        case kSshMsgChannelSuccess:
        case kSshMsgChannelFailure:
            OnReply(*channel, type == kSshMsgChannelSuccess);
            break;
        default:
            break;
    }
    return true;
}

SshChannel* SshConnectionLayer::Find(std::span<const std::uint8_t> payload, std::uint32_t* id) {
    SshReader reader(payload.subspan(1));
    if (!reader.ReadUint32(id)) {
        Malformed();
        return nullptr;
    }
    const auto found = channels_.find(*id);
    if (found != channels_.end()) return &found->second;
    char text[96];
    std::snprintf(text, sizeof text, InvalidChannelFormat(payload[0]), *id);
    ProtocolError(text);
    return nullptr;
}

void SshConnectionLayer::OnOpenConfirmation(SshChannel& channel,
                                            std::span<const std::uint8_t> payload) {
    SshReader reader(payload.subspan(5));
    if (channel.state != SshChannelState::Opening || !reader.ReadUint32(&channel.remoteId) ||
        !reader.ReadUint32(&channel.remoteWindow) || !reader.ReadUint32(&channel.remoteMaxPacket)) {
        Malformed();
        return;
    }
    if (channel.type != SshChannelType::Session) {
        SetState(channel, SshChannelState::Running);
        // Closed by its owner while the server was still answering.
        if (channel.closeSent)
            link_.Send(std::move(SshPacket(kSshMsgChannelClose).PutUint32(channel.remoteId)));
        else
            Flush(channel);
        return;
    }
    SendSessionRequests(channel);
    for (const auto& [name, value] : config_.environment)
        link_.Send(std::move(SshPacket(kSshMsgChannelRequest)
                                 .PutUint32(channel.remoteId)
                                 .PutString("env")
                                 .PutBool(false)
                                 .PutString(name)
                                 .PutString(value)));
    SetState(channel, SshChannelState::RequestingPrimary);
    RequestCommand(channel, config_.remoteCommand, config_.remoteCommandIsSubsystem);
}

void SshConnectionLayer::OnOpenFailure(SshChannel& channel, std::span<const std::uint8_t> payload) {
    if (&channel == session_) {
        // The server would not open the session: nothing can run.
        session_ = nullptr;
        channels_.erase(channel.localId);
        ChannelGone();
        return;
    }
    SshReader reader(payload.subspan(5));
    std::uint32_t reason = 0;
    std::string_view text;
    if (channel.state != SshChannelState::Opening || !reader.ReadUint32(&reason) ||
        !reader.ReadString(&text)) {
        Malformed();
        return;
    }
    channel.refusal = text.empty() ? "Channel open refused" : std::string(text);
    channel.refusalReason = reason;
    SetState(channel, SshChannelState::Refused);
}

// Agent and X11 forwarding are asked for on the session channel, before its
// command; a refusal only means no such channels will come.
void SshConnectionLayer::SendSessionRequests(SshChannel& channel) {
    if (config_.forwardAgent)
        link_.Send(std::move(SshPacket(kSshMsgChannelRequest)
                                 .PutUint32(channel.remoteId)
                                 .PutString("auth-agent-req@openssh.com")
                                 .PutBool(false)));
    if (!x11Protocol_.empty())
        link_.Send(std::move(SshPacket(kSshMsgChannelRequest)
                                 .PutUint32(channel.remoteId)
                                 .PutString("x11-req")
                                 .PutBool(false)
                                 .PutBool(false)
                                 .PutString(x11Protocol_)
                                 .PutString(x11Cookie_)
                                 .PutUint32(x11Screen_)));
}

void SshConnectionLayer::RequestCommand(SshChannel& channel, const std::string& command,
                                        bool subsystem) {
    requestedCommand_ = command;
    SshPacket request(kSshMsgChannelRequest);
    request.PutUint32(channel.remoteId);
    if (subsystem)
        request.PutString("subsystem").PutBool(true).PutString(command);
    else if (!command.empty())
        request.PutString("exec").PutBool(true).PutString(command);
    else
        request.PutString("shell").PutBool(true);
    link_.Send(std::move(request));
}

void SshConnectionLayer::OnReply(SshChannel& channel, bool success) {
    const bool fallbackLeft = !config_.fallbackCommand.empty();
    switch (channel.state) {
        case SshChannelState::RequestingPrimary:
            if (!success && fallbackLeft) {
                SetState(channel, SshChannelState::RequestingFallback);
                RequestCommand(channel, config_.fallbackCommand,
                               config_.fallbackCommandIsSubsystem);
                return;
            }
            break;
        case SshChannelState::RequestingFallback:
            break;
        default:
            return;  // replies to nothing we are waiting for
    }
    if (!success) {
        SetState(channel, SshChannelState::Refused);
        return;
    }
    SetState(channel, SshChannelState::Running);
    Flush(channel);
}

void SshConnectionLayer::OnWindowAdjust(SshChannel& channel,
                                        std::span<const std::uint8_t> payload) {
    SshReader reader(payload.subspan(5));
    std::uint32_t add = 0;
    if (!reader.ReadUint32(&add) || !reader.Finish()) {
        Malformed();
        return;
    }
    channel.remoteWindow = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{channel.remoteWindow} + add, UINT32_MAX));
    Flush(channel);
}

void SshConnectionLayer::OnData(SshChannel& channel, std::span<const std::uint8_t> payload,
                                bool extended) {
    SshReader reader(payload.subspan(5));
    std::uint32_t dataType = 0;
    std::span<const std::uint8_t> data;
    if ((extended && !reader.ReadUint32(&dataType)) || !reader.ReadString(&data) ||
        !reader.Finish()) {
        Malformed();
        return;
    }
    // A server that overruns the window is tolerated; the window just stays shut.
    channel.localWindow -=
        std::min<std::uint32_t>(channel.localWindow, static_cast<std::uint32_t>(data.size()));
    if (!extended && &channel == session_) incoming_.Append(data);
    // Extended data (stderr) only exists on session channels.
    if (!extended && channel.type != SshChannelType::Session && !channel.closeSent)
        channel.incoming.Append(data);
    TopUpWindow(channel);
}

void SshConnectionLayer::OnRequest(SshChannel& channel, std::span<const std::uint8_t> payload) {
    SshReader reader(payload.subspan(5));
    std::string_view type;
    bool wantReply = false;
    if (!reader.ReadString(&type) || !reader.ReadBool(&wantReply)) {
        Malformed();
        return;
    }
    bool known = false;
    if (&channel != session_) {
        // Forwarded channels take no requests.
    } else if (type == "exit-status") {
        std::uint32_t status = 0;
        known = reader.ReadUint32(&status) && reader.Finish();
        if (known) exit_.status = status;
    } else if (type == "exit-signal") {
        std::string_view name;
        known = reader.ReadString(&name);
        if (known) {
            exit_.signal = std::string(name);
            for (const SignalName& row : kSignals)
                if (row.name == name) exit_.signalNumber = row.number;
        }
    }
    if (wantReply)
        link_.Send(std::move(SshPacket(known ? kSshMsgChannelSuccess : kSshMsgChannelFailure)
                                 .PutUint32(channel.remoteId)));
}

void SshConnectionLayer::OnClose(SshChannel& channel) {
    channel.closeReceived = true;
    if (!channel.closeSent) {
        channel.closeSent = true;
        link_.Send(std::move(SshPacket(kSshMsgChannelClose).PutUint32(channel.remoteId)));
    }
    SetState(channel, SshChannelState::Closed);
    // A forwarded channel's record stays until its owner has written out what
    // came before the close.
    if (channel.type != SshChannelType::Session) return;
    if (&channel == session_) session_ = nullptr;
    const std::uint32_t id = channel.localId;
    channels_.erase(id);
    ChannelGone();
}

void SshConnectionLayer::ChannelGone() {
    if (channels_.empty()) link_.EndLocally("All channels closed");
}

void SshConnectionLayer::OnServerOpen(std::span<const std::uint8_t> payload) {
    SshReader reader(payload.subspan(1));
    std::string_view type;
    std::uint32_t sender = 0, window = 0, maxPacket = 0;
    if (!reader.ReadString(&type) || !reader.ReadUint32(&sender) || !reader.ReadUint32(&window) ||
        !reader.ReadUint32(&maxPacket)) {
        Malformed();
        return;
    }
    const OpenRefusal* refusal = &kUnknownTypeRefusal;
    for (const OpenRefusal& row : kOpenRefusals)
        if (row.type == type) refusal = &row;
    std::string whyNot;
    if (owner_ && refusal != &kUnknownTypeRefusal) {
        const std::uint32_t id = NewChannel(refusal->channelType);
        if (owner_->TakeServerChannel(refusal->channelType, id, reader, &whyNot)) {
            SshChannel& channel = channels_[id];
            channel.remoteId = sender;
            channel.remoteWindow = window;
            channel.remoteMaxPacket = maxPacket;
            channel.localWindow = channel.windowSize = kSshForwardWindow;
            link_.Send(std::move(SshPacket(kSshMsgChannelOpenConfirmation)
                                     .PutUint32(sender)
                                     .PutUint32(id)
                                     .PutUint32(kSshForwardWindow)
                                     .PutUint32(kSshForwardMaxPacket)));
            SetState(channel, SshChannelState::Running);
            return;
        }
        channels_.erase(id);
    }
    const bool connectFailed = !whyNot.empty();
    link_.Send(std::move(SshPacket(kSshMsgChannelOpenFailure)
                             .PutUint32(sender)
                             .PutUint32(connectFailed ? kSshOpenConnectFailed : refusal->reason)
                             .PutString(connectFailed ? std::string_view(whyNot) : refusal->text)
                             .PutString("en")));
}

std::uint32_t SshConnectionLayer::OpenDirectTcpip(std::string_view host, std::uint32_t port,
                                                  std::string_view originHost,
                                                  std::uint32_t originPort) {
    const std::uint32_t id = NewChannel(SshChannelType::DirectTcpip);
    SshChannel& channel = channels_[id];
    channel.localWindow = channel.windowSize = kSshForwardWindow;
    link_.Send(std::move(SshPacket(kSshMsgChannelOpen)
                             .PutString("direct-tcpip")
                             .PutUint32(id)
                             .PutUint32(kSshForwardWindow)
                             .PutUint32(kSshForwardMaxPacket)
                             .PutString(host)
                             .PutUint32(port)
                             .PutString(originHost)
                             .PutUint32(originPort)));
    return id;
}

void SshConnectionLayer::RequestForwarding(bool cancel, std::string_view address,
                                           std::uint32_t port) {
    link_.Send(std::move(SshPacket(kSshMsgGlobalRequest)
                             .PutString(cancel ? "cancel-tcpip-forward" : "tcpip-forward")
                             .PutBool(true)
                             .PutString(address)
                             .PutUint32(port)));
}

SshChannel* SshConnectionLayer::channel(std::uint32_t id) {
    const auto found = channels_.find(id);
    return found == channels_.end() ? nullptr : &found->second;
}

bool SshConnectionLayer::SendOn(std::uint32_t id, std::span<const std::uint8_t> data) {
    SshChannel* found = channel(id);
    return found && Queue(*found, data);
}

void SshConnectionLayer::SendEofOn(std::uint32_t id) {
    if (SshChannel* found = channel(id)) EndOf(*found);
}

void SshConnectionLayer::CloseChannel(std::uint32_t id) {
    if (SshChannel* found = channel(id)) CloseOf(*found);
}

void SshConnectionLayer::Consume(std::uint32_t id, std::size_t count) {
    SshChannel* found = channel(id);
    if (!found) return;
    found->incoming.Consume(std::min(count, found->incoming.size()));
    found->incoming.Compact(kCompactThreshold);
    TopUpWindow(*found);
}

void SshConnectionLayer::Release(std::uint32_t id) {
    SshChannel* found = channel(id);
    if (!found || found == session_) return;
    channels_.erase(id);
    ChannelGone();
}

bool SshConnectionLayer::TakesLocalData(std::uint32_t id) const {
    const auto found = channels_.find(id);
    if (found == channels_.end()) return false;
    const SshChannel& c = found->second;
    return c.state == SshChannelState::Running && !c.eofWanted && !c.closeSent &&
           c.outgoing.size() <= kSshForwardThrottle;
}

void SshConnectionLayer::OnGlobalRequest(std::span<const std::uint8_t> payload) {
    SshReader reader(payload.subspan(1));
    std::string_view name;
    bool wantReply = false;
    if (!reader.ReadString(&name) || !reader.ReadBool(&wantReply)) {
        Malformed();
        return;
    }
    if (wantReply) link_.Send(SshPacket(kSshMsgRequestFailure));
}

bool SshConnectionLayer::Send(std::span<const std::uint8_t> data) {
    return session_ && Queue(*session_, data);
}

bool SshConnectionLayer::Queue(SshChannel& channel, std::span<const std::uint8_t> data) {
    if (channel.closeSent || channel.eofWanted) return false;
    channel.outgoing.Append(data);
    Flush(channel);
    return true;
}

void SshConnectionLayer::Flush(SshChannel& channel) {
    if (channel.state != SshChannelState::Running || channel.closeSent) return;
    std::size_t sent = 0;
    while (sent < channel.outgoing.size() && channel.remoteWindow > 0 &&
           channel.remoteMaxPacket > 0) {
        const std::size_t piece = std::min<std::size_t>(
            {channel.outgoing.size() - sent, channel.remoteWindow, channel.remoteMaxPacket});
        if (!link_.Send(std::move(SshPacket(kSshMsgChannelData)
                                      .Reserve(8 + piece)
                                      .PutUint32(channel.remoteId)
                                      .PutString(channel.outgoing.Front().subspan(sent, piece)))))
            return;
        sent += piece;
        channel.remoteWindow -= static_cast<std::uint32_t>(piece);
    }
    channel.outgoing.Consume(sent);
    // Moving the rest down only once the taken bytes outnumber it keeps a long
    // queue from being moved for every packet sent.
    channel.outgoing.Compact(channel.outgoing.size());
    if (channel.outgoing.empty() && channel.eofWanted && !channel.eofSent) SendEofNow(channel);
}

void SshConnectionLayer::SendEof() {
    if (session_) EndOf(*session_);
}

void SshConnectionLayer::EndOf(SshChannel& channel) {
    if (channel.eofSent || channel.closeSent) return;
    channel.eofWanted = true;
    Flush(channel);
}

void SshConnectionLayer::SendEofNow(SshChannel& channel) {
    channel.eofSent = true;
    link_.Send(std::move(SshPacket(kSshMsgChannelEof).PutUint32(channel.remoteId)));
}

void SshConnectionLayer::Close() {
    if (session_) CloseOf(*session_);
}

void SshConnectionLayer::CloseOf(SshChannel& channel) {
    if (channel.closeSent) return;
    channel.closeSent = true;
    // A channel the server has not confirmed yet has no number to close.
    if (channel.state == SshChannelState::Opening || NeverOpened(channel)) return;
    link_.Send(std::move(SshPacket(kSshMsgChannelClose).PutUint32(channel.remoteId)));
}

std::size_t SshConnectionLayer::Read(std::span<std::uint8_t> out) {
    const std::size_t count = incoming_.Take(out);
    incoming_.Compact(kCompactThreshold);
    if (count > 0) TopUpWindow();
    return count;
}

// The window is raised back to what the buffer has room for once that is more
// than twice what is left, so adjusts go out in large steps. A forwarded channel
// whose socket lags behind gets no top-ups until it has caught up.
void SshConnectionLayer::TopUpWindow() {
    if (session_) TopUpWindow(*session_);
}

void SshConnectionLayer::TopUpWindow(SshChannel& channel) {
    const bool session = &channel == session_;
    const std::size_t queued = session ? buffered() : channel.incoming.size();
    if (!session) channel.throttled = queued > kSshForwardThrottle;
    if (channel.closeSent || channel.throttled || channel.state == SshChannelState::Opening ||
        NeverOpened(channel) || channel.state == SshChannelState::Closed)
        return;
    const std::size_t held = std::min<std::size_t>(queued, channel.windowSize);
    const std::uint32_t target = channel.windowSize - static_cast<std::uint32_t>(held);
    if (target <= 2 * std::uint64_t{channel.localWindow}) return;
    link_.Send(std::move(SshPacket(kSshMsgChannelWindowAdjust)
                             .PutUint32(channel.remoteId)
                             .PutUint32(target - channel.localWindow)));
    channel.localWindow = target;
}

void SshConnectionLayer::ProtocolError(std::string text) {
    link_.Fail(fileErrorInvalidServerResponse, kSshDisconnectProtocolError, text);
}

void SshConnectionLayer::Malformed() {
    ProtocolError("Malformed connection-layer message");
}
