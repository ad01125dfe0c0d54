#include "ssh/session.h"

#include <algorithm>

#include "net/trace.h"
#include "platform/lasterror.h"
#include "platform/system.h"
#include "resources/errors.h"
#include "ssh/agent.h"
#include "ssh/messages.h"

namespace {

const SshExit kNoExit;

std::string TableText(int error) {
    const ErrorInfo* info = FindErrorByNumber(error);
    return info ? info->text : "";
}

}  // namespace

int SshSession::Connect(const SshConfig& config, std::unique_ptr<SshSession>* out) {
    std::unique_ptr<SshConnection> connection;
    if (const int error = SshConnection::Start(config, &connection); error != 0) {
        SetLastError(MakeErrorCode(error));
        return error;
    }
    auto session = std::make_unique<SshSession>(config, std::move(connection));
    if (const int error = session->WaitUntilReady(); error != 0) return error;
    *out = std::move(session);
    return 0;
}

SshSession::SshSession(const SshConfig& config, std::unique_ptr<SshConnection> connection)
    : config_(config), connection_(std::move(connection)) {}

SshSession::~SshSession() = default;

std::uint64_t SshSession::Deadline() const {
    const int seconds =
        config_.timeoutSeconds > 0 ? config_.timeoutSeconds : kSshDefaultTimeoutSeconds;
    return GetTickCount64() + std::uint64_t(seconds) * 1000;
}

int SshSession::WaitUntilReady() {
    const std::uint64_t deadline = Deadline();
    if (!channel_ && !StartProtocol()) return error_;
    while (!channel_->ready()) {
        if (connection_->closed()) return ConnectionError();
        if (!PumpUntil(deadline)) return error_;
    }
    return 0;
}

// After the first keys: authentication and the channel layer (SSH-2), or the
// user name (SSH-1).
bool SshSession::StartProtocol() {
    if (!connection_->WaitForKeys()) {
        if (connection_->closed())
            ConnectionError();
        else
            SetError(ErrorNumber(GetLastError()));  // time-out or cancel
        return false;
    }
    if (!CheckHostKey()) return false;
    SshLink& link = *this;
    if (connection_->protocol() == 1) {
        const std::uint32_t mask =
            connection_->ssh1Session() ? connection_->ssh1Session()->supportedAuthentications : 0;
        config_.identities.clear();  // SSH-1 logs in with the password only
        ssh1_ = std::make_unique<Ssh1Session>(config_, link, mask);
        channel_ = ssh1_.get();
        ssh1_->Start();
        return true;
    }
    auth_ = std::make_unique<SshUserAuth>(config_, link, LoginKeys());
    layer_ = std::make_unique<SshConnectionLayer>(config_, link);
    if (!connection_->workarounds().smallSftpWindow)
        layer_->SetWindow(kSshLargeWindow, kSshLargeMaxPacket);
    channel_ = layer_.get();
    forwarder_ = std::make_unique<SshForwarder>(config_, *layer_);
    layer_->SetOwner(forwarder_.get());
    if (config_.forwardX11)
        layer_->SetX11Request(std::string(forwarder_->x11FakeProtocolName()), forwarder_->x11FakeCookieHex(),
                              config_.x11Screen);
    auth_->Start();
    return true;
}

// The configured host-key policy, after the key exchange has verified the server's
// signature and before any authentication packet leaves. A refusal disconnects.
bool SshSession::CheckHostKey() {
    if (config_.hostKeyPolicy == SshHostKeyPolicy::Off) return true;
    if (connection_->protocol() == 1) {
        hostKey_ = {SshHostKeyStatus::NotVerifiable, false,
                    "Host key verification failed for " +
                        KnownHostName(config_.host, config_.port) +
                        ": SSH-1 host keys cannot be checked"};
    } else {
        hostKey_ = VerifyHostKey(config_, connection_->hostKeyBlob());
    }
    if (hostKey_.accepted) return true;
    connection_->DisconnectWithError(fileErrorSecurityHostKey, kSshDisconnectHostKeyNotVerifiable,
                                     "Host key verification failed");
    // The server hears the short text; the user learns which key and which entry.
    SetLastErrorDetail(MakeErrorCode(fileErrorSecurityHostKey), hostKey_.text);
    SetError(fileErrorSecurityHostKey, hostKey_.text);
    return false;
}

// Waits for one packet until the deadline and handles it; forwarded sockets are
// serviced meanwhile.
bool SshSession::PumpUntil(std::uint64_t deadline) {
    const std::uint64_t now = GetTickCount64();
    const int wait =
        deadline > now ? static_cast<int>(std::min<std::uint64_t>(deadline - now, INT32_MAX)) : 0;
    if (forwarder_ && forwarder_->active()) {
        for (;;) {
            SecureBytes payload;
            if (connection_->TakePacket(&payload)) {
                Dispatch(payload);
                if (connection_) connection_->Recycle(std::move(payload));
                forwarder_->Service({});
                return true;
            }
            const std::uint64_t at = GetTickCount64();
            if (at >= deadline) {
                SetError(fileErrorOperationTimeout);
                return false;
            }
            bool handled = false;
            const bool ok = PumpRound(
                static_cast<int>(std::min<std::uint64_t>(deadline - at, INT32_MAX)), &handled);
            // Packets handled in a round that then closed still count.
            if (handled) return true;
            if (!ok) return false;
        }
    }
    SecureBytes payload;
    if (!connection_->ReceivePacketWithin(&payload, wait)) {
        if (connection_->closed())
            ConnectionError();
        else
            SetError(ErrorNumber(GetLastError()));
        return false;
    }
    Dispatch(payload);
    if (connection_) connection_->Recycle(std::move(payload));
    return true;
}

std::vector<std::shared_ptr<SshSigner>> SshSession::LoginKeys() const {
    std::vector<std::shared_ptr<SshSigner>> keys;
    if (config_.useAgent && !config_.agentSocket.empty()) {
        std::string why;
        const int seconds =
            config_.timeoutSeconds > 0 ? config_.timeoutSeconds : kSshDefaultTimeoutSeconds;
        if (auto agent = SshAgent::Connect(config_.agentSocket, seconds, &why))
            keys = SshAgent::Keys(agent);
        else
            NetTraceMessage(NET_TRACE_INFO, "ssh-agent skipped: %s", why.c_str());
    }
    const std::size_t fromAgent = keys.size();
    for (const std::shared_ptr<SshSigner>& key : config_.identities) {
        const auto blob = key->publicKeyBlob();
        const bool known = std::any_of(keys.begin(), keys.begin() + fromAgent, [&](const auto& k) {
            return std::ranges::equal(k->publicKeyBlob(), blob);
        });
        if (!known) keys.push_back(key);
    }
    return keys;
}

void SshSession::ForgetLoginSecrets() {
    config_.password.Wipe();
    config_.identities.clear();
    if (auth_) auth_->ForgetKeys();
}

void SshSession::Dispatch(std::span<const std::uint8_t> payload) {
    if (ssh1_) {
        ssh1_->Handle(payload);
        if (ssh1_->ready() || connection_->closed()) config_.password.Wipe();
        return;
    }
    if (!auth_->succeeded()) {
        const bool handled = auth_->Handle(payload);
        if (auth_->succeeded() || auth_->state() == SshAuthState::Failed || connection_->closed())
            ForgetLoginSecrets();
        if (!handled) {
            // Global requests may come at any time; anything else before the
            // login is not the channel layer's.
            if (!payload.empty() && payload[0] == kSshMsgGlobalRequest) layer_->Handle(payload);
            return;
        }
        if (auth_->succeeded()) layer_->OpenSession();
        return;
    }
    // Late authentication messages (a banner) and unknown ones are dropped.
    layer_->Handle(payload);
}

bool SshSession::Send(std::span<const std::uint8_t> data) {
    if (!ready() || connection_->closed()) return false;
    return channel_->Send(data);
}

bool SshSession::WaitUntilSent() {
    const std::uint64_t deadline = Deadline();
    while (channel_ && channel_->pendingOutgoing() > 0) {
        if (connection_->closed()) {
            ConnectionError();
            return false;
        }
        if (!PumpUntil(deadline)) return false;
    }
    return true;
}

long SshSession::Read(std::span<std::uint8_t> out) {
    if (!channel_) {
        SetError(fileErrorNotConnected);
        return -1;
    }
    const std::uint64_t deadline = Deadline();
    while (channel_->buffered() == 0) {
        if (channel_->endOfData()) return 0;
        if (connection_->closed()) {
            ConnectionError();
            return -1;
        }
        if (!PumpUntil(deadline)) return -1;
    }
    return static_cast<long>(channel_->Read(out));
}

bool SshSession::ReadExactly(std::span<std::uint8_t> out) {
    while (!out.empty()) {
        const long count = Read(out);
        if (count <= 0) return false;
        out = out.subspan(static_cast<std::size_t>(count));
    }
    return true;
}

void SshSession::SendEof() {
    if (channel_ && !connection_->closed()) channel_->SendEof();
}

void SshSession::Close() {
    if (!channel_ || connection_->closed()) return;
    channel_->SendEof();
    channel_->Close();
    const std::uint64_t deadline = Deadline();
    while (!connection_->closed() && PumpUntil(deadline)) {
    }
}

// ---- Forwarding --------------------------------------------------------------------

bool SshSession::PumpRound(int milliseconds, bool* handled) {
    std::vector<NetWaitEntry> entries;
    forwarder_->AddWaits(&entries);
    const int round = connection_->WaitWith(milliseconds, entries);
    SecureBytes payload;
    while (connection_->TakePacket(&payload)) {
        if (handled) *handled = true;
        Dispatch(payload);
        connection_->Recycle(std::move(payload));
    }
    forwarder_->Service(entries);
    if (round < 0) {
        if (connection_->closed())
            ConnectionError();
        else
            SetError(ErrorNumber(GetLastError()));
        return false;
    }
    return true;
}

int SshSession::RequireForwarding() {
    if (ssh1_) return SetError(fileErrorOperationNotSupported);
    if (!forwarder_ || !auth_ || !auth_->succeeded()) return SetError(fileErrorNotConnected);
    if (connection_->closed()) return ConnectionError();
    return 0;
}

int SshSession::Pump(int milliseconds) {
    if (const int error = RequireForwarding()) return error;
    forwarder_->Service({});
    if (!PumpRound(std::max(milliseconds, 0))) return error_;
    return 0;
}

int SshSession::ForwardLocal(const SshLocalForward& forward, std::uint16_t* port) {
    if (forward.targetHost.empty() || forward.targetPort == 0)
        return SetError(fileErrorInvalidParameter, "A forward needs a target host and port");
    if (const int error = RequireForwarding()) return error;
    if (const int error = forwarder_->Listen(forward, port)) return SetError(error);
    return 0;
}

bool SshSession::StopForwardLocal(std::uint16_t port) {
    return forwarder_ && forwarder_->StopListening(port);
}

int SshSession::WaitForAnswer(std::uint64_t ticket) {
    const std::uint64_t deadline = Deadline();
    while (!forwarder_->answer(ticket).done) {
        if (connection_->closed()) return ConnectionError();
        if (!PumpUntil(deadline)) return error_;
    }
    return 0;
}

int SshSession::ForwardRemote(const SshRemoteForward& forward, std::uint16_t* port) {
    if (forward.targetHost.empty() || forward.targetPort == 0)
        return SetError(fileErrorInvalidParameter, "A forward needs a target host and port");
    if (const int error = RequireForwarding()) return error;
    const std::uint64_t ticket = forwarder_->RequestRemote(forward);
    if (const int error = WaitForAnswer(ticket)) return error;
    const SshForwarder::Answer answer = forwarder_->answer(ticket);
    if (!answer.success)
        return SetError(fileErrorAccessDenied, "The server refused to listen on " +
                                                   forward.bindAddress + ":" +
                                                   std::to_string(forward.bindPort));
    *port = answer.port;
    return 0;
}

int SshSession::CancelForwardRemote(const std::string& bindAddress, std::uint16_t port) {
    if (const int error = RequireForwarding()) return error;
    const std::uint64_t ticket = forwarder_->CancelRemote(bindAddress, port);
    if (const int error = WaitForAnswer(ticket)) return error;
    if (!forwarder_->answer(ticket).success)
        return SetError(fileErrorAccessDenied, "The server refused to stop listening on " +
                                                   bindAddress + ":" + std::to_string(port));
    return 0;
}

int SshSession::OpenDirect(const std::string& host, std::uint16_t port, std::uint32_t* id,
                           const std::string& originHost, std::uint16_t originPort) {
    if (host.empty() || port == 0)
        return SetError(fileErrorInvalidParameter, "A forward needs a target host and port");
    if (const int error = RequireForwarding()) return error;
    const std::uint32_t opened = layer_->OpenDirectTcpip(host, port, originHost, originPort);
    const std::uint64_t deadline = Deadline();
    for (;;) {
        const SshChannel* channel = layer_->channel(opened);
        if (channel && channel->state == SshChannelState::Refused) {
            const std::string text = channel->refusal;
            const bool prohibited = channel->refusalReason == kSshOpenAdministrativelyProhibited;
            layer_->Release(opened);
            return SetError(prohibited ? fileErrorAccessDenied : fileErrorConnectionRefused, text);
        }
        if (channel && channel->state != SshChannelState::Opening) break;
        if (connection_->closed()) return ConnectionError();
        if (!PumpUntil(deadline)) {
            layer_->CloseChannel(opened);
            forwarder_->Abandon(opened);
            return error_;
        }
    }
    *id = opened;
    return 0;
}

bool SshSession::SendDirect(std::uint32_t id, std::span<const std::uint8_t> data) {
    return layer_ && !connection_->closed() && layer_->SendOn(id, data);
}

void SshSession::SendEofDirect(std::uint32_t id) {
    if (layer_ && !connection_->closed()) layer_->SendEofOn(id);
}

long SshSession::ReadDirect(std::uint32_t id, std::span<std::uint8_t> out) {
    if (!layer_) {
        SetError(fileErrorNotConnected);
        return -1;
    }
    const std::uint64_t deadline = Deadline();
    for (;;) {
        SshChannel* channel = layer_->channel(id);
        if (!channel) {
            SetError(fileErrorNotConnected);
            return -1;
        }
        if (!channel->incoming.empty()) {
            const std::size_t count = std::min(out.size(), channel->incoming.size());
            std::copy_n(channel->incoming.Front().begin(), count, out.begin());
            layer_->Consume(id, count);
            return static_cast<long>(count);
        }
        if (channel->eofReceived || channel->state == SshChannelState::Closed) return 0;
        if (connection_->closed()) {
            ConnectionError();
            return -1;
        }
        if (!PumpUntil(deadline)) return -1;
    }
}

void SshSession::CloseDirect(std::uint32_t id) {
    if (!layer_ || !layer_->channel(id)) return;
    layer_->SendEofOn(id);
    layer_->CloseChannel(id);
    const std::uint64_t deadline = Deadline();
    while (!connection_->closed()) {
        const SshChannel* channel = layer_->channel(id);
        if (!channel || channel->state == SshChannelState::Closed ||
            channel->state == SshChannelState::Refused)
            break;
        if (!PumpUntil(deadline)) {
            // The server's close may still come: the record waits for it.
            forwarder_->Abandon(id);
            return;
        }
    }
    layer_->Release(id);
}

const SshExit& SshSession::exit() const {
    return channel_ ? channel_->exit() : kNoExit;
}

int SshSession::SetError(int error, std::string text) {
    error_ = error;
    errorText_ = text.empty() ? TableText(error) : std::move(text);
    SetLastError(error != 0 ? MakeErrorCode(error) : 0);
    return error;
}

// A closed connection's error; an orderly close before the end counts as closed.
int SshSession::ConnectionError() {
    const int error = connection_->error();
    return SetError(error != 0 ? error : fileErrorConnectionClosed, connection_->closeMessage());
}

// ---- SshLink ----------------------------------------------------------------------

bool SshSession::Send(SshPacket packet) {
    return connection_->SendPacket(std::move(packet));
}

bool SshSession::SendTogether(std::vector<SshPacket> packets) {
    return connection_->SendPacketsTogether(std::move(packets));
}

void SshSession::Fail(int error, std::uint32_t reason, std::string_view description) {
    connection_->DisconnectWithError(error, reason, description);
}

void SshSession::EndLocally(std::string message) {
    connection_->CloseLocally(std::move(message));
}

std::size_t SshSession::OutgoingBlockSize() const {
    return connection_->outgoingBlockSize();
}

std::uint32_t SshSession::Workarounds() const {
    return connection_->workarounds().mask;
}

std::span<const std::uint8_t> SshSession::SessionId() const {
    return connection_->sessionId();
}

const std::vector<std::string>& SshSession::ServerSignatureAlgorithms() const {
    return connection_->serverSignatureAlgorithms();
}
