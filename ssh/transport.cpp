#include "ssh/transport.h"

#include <algorithm>
#include <climits>
#include <iterator>

#include "crypto/random.h"
#include "net/socket_wait.h"
#include "net/state_trace.h"
#include "platform/lasterror.h"
#include "platform/system.h"
#include "platform/wipe.h"
#include "resources/errors.h"
#include "ssh/messages.h"

namespace {

// Large reads keep the system calls few when data streams in.
constexpr std::size_t kReadChunk = 256 * 1024;
constexpr std::uint64_t kDefaultRekeyLimit = std::uint64_t{1} << 30;
constexpr int kWouldBlock = 10035;
constexpr int kAlreadyWaiting = 10036;
constexpr std::size_t kCompactThreshold = 64 * 1024;

const char* RejectionText(SshPacketDecoder::Rejection why) {
    switch (why) {
        case SshPacketDecoder::Rejection::Length:
            return "Incoming packet length out of range";
        case SshPacketDecoder::Rejection::Padding:
            return "Incoming packet padding length out of range";
        case SshPacketDecoder::Rejection::BlockMultiple:
            return "Incoming packet length not a multiple of the cipher block";
        case SshPacketDecoder::Rejection::Mac:
            return "Incorrect MAC received on packet";
        case SshPacketDecoder::Rejection::Compression:
            return "Incoming packet's compressed data is corrupt or too large";
        case SshPacketDecoder::Rejection::None:
            break;
    }
    return "Incoming packet rejected";
}

}  // namespace

int SshConnection::Start(const SshConfig& config, std::unique_ptr<SshConnection>* out) {
    // Keys made from clock noise alone would be guessable: no connection then.
    if (!RandomReady()) {
        SetLastErrorDetail(MakeErrorCode(fileErrorSecurityNotInitialized),
                           "The system's random source is not available");
        return fileErrorSecurityNotInitialized;
    }
    if (int error = NetStartup(nullptr); error != 0) return error;
    NetAddress address{};
    const int timeout =
        config.timeoutSeconds > 0 ? config.timeoutSeconds : kSshDefaultTimeoutSeconds;
    SOCKET socket = INVALID_SOCKET;
    if (NetResolveHost(config.host.c_str(), 0, &address) >= 0)
        socket = NetConnectAddress(&address, config.port == 0 ? 22 : config.port, timeout);
    if (socket == INVALID_SOCKET) {
        const int error = NetGetLastError();
        NetCleanup();
        return error != 0 ? error : fileErrorNotConnected;
    }
    if (config.tcpKeepAlive) {
        const int on = 1;
        NetSetSockOpt(socket, SOL_SOCKET, SO_KEEPALIVE, &on);
    }
    *out = std::make_unique<SshConnection>(config, socket);
    NetCleanup();  // the connection holds its own start-up reference
    return 0;
}

SshConnection::SshConnection(const SshConfig& config, SOCKET socket)
    : config_(config), socket_(socket), kex_(config_, *this) {
    // The transport has no use for the login secrets; the session keeps its own.
    config_.password.Wipe();
    config_.identities.clear();
    netStarted_ = NetStartup(nullptr) == 0;
    unsigned long nonBlocking = 1;
    NetIoctl(socket_, FIONBIO, &nonBlocking);
    rekeyLimit_ = ParseSshDataLimit(config_.rekeyDataLimit).value_or(kDefaultRekeyLimit);
}

SshConnection::~SshConnection() {
    // Releasing a connection leaves the thread's last error alone.
    if (socket_ != INVALID_SOCKET) NetCloseSocket(socket_);
    if (netStarted_) NetCleanup();
}

void SshConnection::SetPhase(SshPhase phase) {
    static constexpr const char* kNames[] = {"Version", "KeyExchange", "Transport", "Closed"};
    static_assert(std::size(kNames) == static_cast<std::size_t>(SshPhase::Closed) + 1);
    net::ChangeState(phase_, phase, "SSH transport", kNames);
}

// ---- Waiting and reading --------------------------------------------------------------

int SshConnection::TimeoutMilliseconds() const {
    const int seconds =
        config_.timeoutSeconds > 0 ? config_.timeoutSeconds : kSshDefaultTimeoutSeconds;
    return std::min(seconds, INT_MAX / 1000) * 1000;
}

int SshConnection::NetworkWait() {
    return WaitMilliseconds(TimeoutMilliseconds());
}

int SshConnection::WaitMilliseconds(int milliseconds) {
    return WaitWith(milliseconds, {});
}

int SshConnection::WaitWith(int milliseconds, std::span<NetWaitEntry> others) {
    if (closed()) return -1;
    if (const int toPing = MillisecondsToPing(); toPing >= 0)
        milliseconds = std::min(milliseconds, toPing);
    // The plain wait (every SFTP round) makes no list.
    NetWaitEntry own{socket_, kNetReadable | (queuedBytes() > 0 ? kNetWritable : 0u), 0};
    std::vector<NetWaitEntry> list;
    std::span<NetWaitEntry> entries(&own, 1);
    if (!others.empty()) {
        list.reserve(others.size() + 1);
        list.push_back(own);
        list.insert(list.end(), others.begin(), others.end());
        entries = list;
    }
    const int error = NetWaitAny(entries, {NetDeadline::In(std::max(milliseconds, 0))});
    const unsigned ready = error == 0 ? entries[0].ready : 0u;
    for (std::size_t i = 0; i < others.size(); ++i)
        others[i].ready = error == 0 ? entries[i + 1].ready : 0u;
    if (error != 0 && error != fileErrorOperationTimeout) {
        // A cancelled wait (or one nested in another) fails the round but leaves
        // the connection as it is; anything else is a broken socket.
        if (error == fileErrorOperationCanceled || error == kAlreadyWaiting) {
            SetLastError(MakeErrorCode(error));
            return -1;
        }
        Close(error, "Network wait failed");
        return -1;
    }
    CheckRekeyDue();
    CheckPingDue();
    if (error != 0) return closed() ? -1 : 0;

    const std::uint32_t noise[2] = {static_cast<std::uint32_t>(GetTickCount()), ready};
    RandomAddNoise(std::span(reinterpret_cast<const std::uint8_t*>(noise), sizeof noise));
    if (ready & kNetWritable) Flush();
    if (!closed() && (ready & kNetReadable)) ReadSocket();
    return closed() ? -1 : 1;
}

bool SshConnection::ReadSocket() {
    readBuffer_.resize(kReadChunk);
    std::uint8_t* buffer = readBuffer_.data();
    const int received = NetRecv(socket_, buffer, static_cast<int>(kReadChunk), 0);
    if (received > 0) {
        bytesReceived_ += static_cast<std::uint64_t>(received);
        // What arrives is ciphertext (or the public key exchange): the decoders
        // wipe their own plaintext, this buffer needs no wiping.
        ConsumeBytes(std::span(buffer, static_cast<std::size_t>(received)));
        return !closed();
    }
    if (received == 0) {
        const bool truncated =
            packetsFlow() && (protocol_ == 1 ? ssh1Decoder_.midPacket() : decoder_.midPacket());
        Close(fileErrorRemoteShutdown, truncated ? "Server closed the connection in a packet"
                                                 : "Server closed the connection");
        return false;
    }
    const int error = NetGetLastError();
    if (error == kWouldBlock) return true;
    Close(error, "Network read failed");
    return false;
}

void SshConnection::ConsumeBytes(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty() && !closed()) {
        if (phase_ == SshPhase::Version) {
            bytes = bytes.subspan(FeedVersion(bytes));
            continue;
        }
        std::size_t used = 0;
        if (protocol_ == 1) {
            const Ssh1PacketDecoder::Status status = ssh1Decoder_.Feed(bytes, &used);
            bytes = bytes.subspan(used);
            if (status == Ssh1PacketDecoder::Status::Packet)
                OnSsh1Packet(ssh1Decoder_.payload());
            else if (status == Ssh1PacketDecoder::Status::Rejected)
                Close(fileErrorSecurityDecryption, "Incoming SSH-1 packet rejected");
            continue;
        }
        const SshPacketDecoder::Status status = decoder_.Feed(bytes, &used);
        bytes = bytes.subspan(used);
        if (status == SshPacketDecoder::Status::Packet) {
            OnPacket(decoder_.payload());
        } else if (status == SshPacketDecoder::Status::Rejected) {
            const auto why = decoder_.rejection();
            Fail(fileErrorSecurityDecryption,
                 why == SshPacketDecoder::Rejection::Mac           ? kSshDisconnectMacError
                 : why == SshPacketDecoder::Rejection::Compression ? kSshDisconnectCompressionError
                                                                   : kSshDisconnectProtocolError,
                 RejectionText(why));
        }
    }
}

// ---- Version exchange ---------------------------------------------------------------

std::size_t SshConnection::FeedVersion(std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        switch (versionReader_.Feed(bytes[i])) {
            case SshVersionReader::Result::NeedMore:
                break;
            case SshVersionReader::Result::Complete:
                OnVersionLine();
                return i + 1;
            case SshVersionReader::Result::TooLong:
                Close(fileErrorInvalidServerResponse, "Server's version line is too long");
                return bytes.size();
            case SshVersionReader::Result::PreambleTooLong:
                Close(fileErrorInvalidServerResponse,
                      "Server sent more than 64 KiB before its version line");
                return bytes.size();
        }
    }
    return bytes.size();
}

void SshConnection::OnVersionLine() {
    serverVersion_ = versionReader_.line();
    workarounds_ = ComputeSshWorkarounds(config_, versionReader_.softwareVersion());
    const std::string& serverProtocol = versionReader_.protocolVersion();
    const std::optional<int> protocol = ChooseSshProtocol(config_.protocolChoice, serverProtocol);
    if (!protocol) {
        Close(fileErrorInvalidProtocolVersion, "Server's SSH protocol version is not accepted");
        return;
    }
    protocol_ = *protocol;
    const std::string line = SshClientVersionLine(protocol_, serverProtocol);
    outgoing_.Append({reinterpret_cast<const std::uint8_t*>(line.data()), line.size()});
    clientVersion_ = line.substr(0, line.find_first_of("\r\n"));
    if (!Flush()) return;
    // Nothing but the key exchange goes out before the first keys.
    SetPhase(SshPhase::KeyExchange);
    if (protocol_ == 1) return;  // the server speaks first: its public keys
    kex_.SetVersions(clientVersion_, serverVersion_, workarounds_.mask);
    kex_.Start();
}

// ---- Incoming packets ---------------------------------------------------------------

void SshConnection::OnPacket(std::span<const std::uint8_t> payload) {
    if (payload.empty()) {
        Fail(fileErrorInvalidServerResponse, kSshDisconnectProtocolError, "Empty packet received");
        return;
    }
    const std::uint8_t type = payload[0];
    if (type == kSshMsgDisconnect) {
        OnDisconnectMessage(payload);
        return;
    }
    if (type == kSshMsgUnimplemented) {
        OnUnimplemented(payload);
        return;
    }
    const bool kexMessage = type >= kSshMsgKexinit && type <= 49;
    // Under the strict key exchange nothing but its own messages may arrive before
    // the first NEWKEYS: an injected packet would shift the sequence numbers.
    if (kex_.strict() && kex_.initial() && !kexMessage) {
        Fail(fileErrorInvalidServerResponse, kSshDisconnectProtocolError,
             "Unexpected message " + std::to_string(type) + " during the strict key exchange");
        return;
    }
    if (type == kSshMsgIgnore || type == kSshMsgDebug) return;
    if (kexMessage) {
        OnKexMessage(payload);
        return;
    }
    if (kex_.completed() == 0) {
        Fail(fileErrorInvalidServerResponse, kSshDisconnectProtocolError,
             "Service message before the first key exchange");
        return;
    }
    if (type == kSshMsgExtInfo) {
        OnExtInfo(payload);
        return;
    }
    // Delayed compression starts in both directions right after the server's
    // acceptance of the login (the next packet either way is compressed).
    if (type == kSshMsgUserauthSuccess) {
        encoder_.EnableDelayedCompression();
        decoder_.EnableDelayedCompression();
    }
    Enqueue(payload);
    CheckRekeyDue();
}

void SshConnection::OnKexMessage(std::span<const std::uint8_t> payload) {
    const int before = kex_.completed();
    const bool firstKexinit = payload[0] == kSshMsgKexinit && kex_.initial();
    if (std::optional<SshKexFailure> failure = kex_.Handle(payload)) {
        Fail(failure->error, failure->reason, std::move(failure->description));
        return;
    }
    // The strict exchange also requires the server's KEXINIT to be its first packet.
    if (firstKexinit && kex_.strict() && decoder_.sequence() != 1) {
        Fail(fileErrorInvalidServerResponse, kSshDisconnectProtocolError,
             "Key-exchange init was not the server's first packet");
        return;
    }
    if (kex_.completed() != before) {
        bytesSent_ = bytesReceived_ = 0;
        ArmRekeyTimer();
    }
}

// RFC 8308: a count of name-value pairs; only "server-sig-algs" matters here.
void SshConnection::OnExtInfo(std::span<const std::uint8_t> payload) {
    constexpr std::uint32_t kMaxExtensions = 64;
    SshReader reader(payload.subspan(1));
    std::uint32_t count = 0;
    bool ok = reader.ReadUint32(&count) && count <= kMaxExtensions;
    for (std::uint32_t i = 0; ok && i < count; ++i) {
        std::string_view name, value;
        ok = reader.ReadString(&name) && reader.ReadString(&value);
        if (!ok || name != "server-sig-algs") continue;
        serverSigAlgs_.clear();
        while (!value.empty() && serverSigAlgs_.size() < kMaxExtensions) {
            const std::size_t comma = value.find(',');
            if (comma != 0) serverSigAlgs_.emplace_back(value.substr(0, comma));
            if (comma == std::string_view::npos) break;
            value.remove_prefix(comma + 1);
        }
    }
    if (!ok || !reader.Finish())
        Fail(fileErrorInvalidServerResponse, kSshDisconnectProtocolError,
             "Malformed extension message");
}

// ---- SSH-1 ---------------------------------------------------------------------------

void SshConnection::OnSsh1Packet(std::span<const std::uint8_t> payload) {
    if (payload.empty()) {
        Close(fileErrorInvalidServerResponse, "Empty packet received");
        return;
    }
    SshReader reader(payload.subspan(1));
    std::string_view text;
    switch (payload[0]) {
        case kSsh1MsgDisconnect:
            if (!reader.ReadString(&text)) text = {};
            Close(fileErrorRemoteShutdown, "Disconnected: " + std::string(text));
            return;
        case kSsh1MsgIgnore:
        case kSsh1MsgDebug:
            return;
        case kSsh1SmsgPublicKey:
            if (!ssh1Setup_) {
                OnSsh1PublicKey(payload);
                return;
            }
            break;
        case kSsh1SmsgSuccess:
            if (ssh1Setup_ && phase_ == SshPhase::KeyExchange) {
                ssh1KeyExchanges_ = 1;
                SetPhase(SshPhase::Transport);
                ReleaseHeldPackets();
                return;
            }
            break;
        case kSsh1SmsgFailure:
            if (ssh1Setup_ && phase_ == SshPhase::KeyExchange) {
                Close(fileErrorSecurityContext, "Server refused the session key");
                return;
            }
            break;
        default:
            break;
    }
    if (phase_ == SshPhase::KeyExchange) {
        Close(fileErrorInvalidServerResponse, "Unexpected packet before the session key");
        return;
    }
    Enqueue(payload);
}

void SshConnection::OnSsh1PublicKey(std::span<const std::uint8_t> payload) {
    Ssh1SessionSetup setup;
    if (std::optional<SshKexFailure> failure = SetUpSsh1Session(config_, payload, &setup)) {
        Fail(failure->error, failure->reason, std::move(failure->description));
        return;
    }
    const SecureBytes wire = ssh1Encoder_.Encode(setup.sessionKeyMessage);
    outgoing_.Append(wire);
    ssh1Encoder_.SetCipher(std::make_unique<Ssh1CipherState>(*setup.cipher, setup.sessionKey));
    ssh1Decoder_.SetCipher(std::make_unique<Ssh1CipherState>(*setup.cipher, setup.sessionKey));
    ssh1SessionId_.assign(setup.sessionId.begin(), setup.sessionId.end());
    setup.sessionKey.clear();
    ssh1Setup_ = std::move(setup);
    Flush();
}

// A server that does not know one of our key-exchange messages ends the exchange;
// a complaint about an older packet is left to the service layer's time-outs.
void SshConnection::OnUnimplemented(std::span<const std::uint8_t> payload) {
    SshReader reader(payload.subspan(1));
    std::uint32_t sequence = 0;
    if (!reader.ReadUint32(&sequence) || !reader.Finish() || !kex_.running()) return;
    if (sequence - kexFirstSequence_ < encoder_.sequence() - kexFirstSequence_)
        Fail(fileErrorSecurityContext, kSshDisconnectKeyExchangeFailed,
             "Server refused a key-exchange message");
}

void SshConnection::OnDisconnectMessage(std::span<const std::uint8_t> payload) {
    SshReader reader(payload.subspan(1));
    std::uint32_t reason = 0;
    std::string_view description;
    if (!reader.ReadUint32(&reason) || !reader.ReadString(&description)) description = {};
    Close(fileErrorRemoteShutdown, "Disconnected: " + std::string(description));
}

// ---- Sending ------------------------------------------------------------------------

bool SshConnection::SendPacket(SshPacket packet) {
    if (closed()) return false;
    if (holding() && !PassesWhileHeld(packet.type())) {
        held_.push_back(std::move(packet));
        return true;
    }
    Transmit(std::move(packet));
    if (!kex_.running()) CheckRekeyDue();
    return !closed();
}

bool SshConnection::SendPacketsTogether(std::vector<SshPacket> packets) {
    if (closed()) return false;
    const bool hold = std::any_of(packets.begin(), packets.end(), [this](const SshPacket& p) {
        return holding() && !PassesWhileHeld(p.type());
    });
    for (SshPacket& packet : packets) {
        if (hold)
            held_.push_back(std::move(packet));
        else
            Transmit(std::move(packet), false);
    }
    if (!hold) Flush();
    if (!kex_.running()) CheckRekeyDue();
    return !closed();
}

bool SshConnection::PassesWhileHeld(std::uint8_t type) const {
    if (protocol_ == 1) return type == kSsh1MsgDisconnect || type == kSsh1MsgIgnore;
    return SshPassesDuringKex(type);
}

bool SshConnection::Ping() {
    if (protocol_ == 1) {
        if (workarounds_.mask & kBugSsh1Ignore) return !closed();
        return SendPacket(std::move(SshPacket(kSsh1MsgIgnore).PutString("")));
    }
    return SendPacket(std::move(SshPacket(kSshMsgIgnore).PutString("")));
}

int SshConnection::MillisecondsToPing() const {
    if (config_.pingIntervalSeconds <= 0 || phase_ != SshPhase::Transport) return -1;
    const std::uint64_t due =
        lastTransmitTick_ + static_cast<std::uint64_t>(config_.pingIntervalSeconds) * 1000;
    const std::uint64_t now = GetTickCount64();
    return due <= now ? 0 : static_cast<int>(std::min<std::uint64_t>(due - now, INT_MAX));
}

void SshConnection::CheckPingDue() {
    if (!closed() && MillisecondsToPing() == 0) Ping();
}

void SshConnection::Transmit(SshPacket packet, bool flush) {
    if (closed()) return;
    lastTransmitTick_ = GetTickCount64();
    if (protocol_ == 1) {
        const SecureBytes wire = ssh1Encoder_.Encode(packet.payload());
        outgoing_.Append(wire);
        if (flush) Flush();
        return;
    }
    if (encoder_.cbcActive() && queuedBytes() == 0) {
        const SecureBytes ignore =
            encoder_.Encode(std::move(SshPacket(kSshMsgIgnore).PutString("")));
        outgoing_.Append(ignore);
        bytesSent_ += ignore.size();
    }
    const SecureBytes wire = encoder_.Encode(std::move(packet));
    if (wire.empty()) {
        Close(fileErrorOutOfMemory, "Compression failed");
        return;
    }
    outgoing_.Append(wire);
    bytesSent_ += wire.size();
    if (flush) Flush();
}

bool SshConnection::Flush() {
    while (!outgoing_.empty()) {
        const int length = static_cast<int>(std::min<std::size_t>(outgoing_.size(), INT_MAX));
        const int sent = NetSend(socket_, outgoing_.Front().data(), length, 0);
        if (sent > 0) {
            outgoing_.Consume(static_cast<std::size_t>(sent));
            continue;
        }
        const int error = NetGetLastError();
        if (error == kWouldBlock) break;
        Close(error, "Network write failed");
        return false;
    }
    outgoing_.Compact(kCompactThreshold);
    return true;
}

void SshConnection::SendKexPacket(SshPacket packet) {
    if (packet.type() == kSshMsgKexinit) {
        if (!closed()) SetPhase(SshPhase::KeyExchange);
        kexFirstSequence_ = encoder_.sequence();
    }
    Transmit(std::move(packet));
}

void SshConnection::SwitchOutgoingKeys(std::unique_ptr<SshDirectionKeys> keys, bool resetSequence) {
    encoder_.SetKeys(std::move(keys));
    if (resetSequence) encoder_.ResetSequence();
    if (!closed()) SetPhase(SshPhase::Transport);
    ReleaseHeldPackets();
}

void SshConnection::ReleaseHeldPackets() {
    std::vector<SshPacket> held = std::move(held_);
    held_.clear();
    for (SshPacket& packet : held)
        Transmit(std::move(packet));
}

void SshConnection::SwitchIncomingKeys(std::unique_ptr<SshDirectionKeys> keys, bool resetSequence) {
    decoder_.SetKeys(std::move(keys));
    if (resetSequence) decoder_.ResetSequence();
}

// ---- Re-keying ----------------------------------------------------------------------

void SshConnection::ArmRekeyTimer() {
    rekeyDueTick_ = config_.rekeyIntervalMinutes > 0
                        ? GetTickCount64() + std::uint64_t(config_.rekeyIntervalMinutes) * 60000
                        : 0;
}

void SshConnection::CheckRekeyDue() {
    if (!packetsFlow() || protocol_ != 2 || kex_.running() || kex_.completed() == 0) return;
    if (bytesSent_ > rekeyLimit_)
        Rekey("too much data sent");
    else if (bytesReceived_ > rekeyLimit_)
        Rekey("too much data received");
    else if (rekeyDueTick_ != 0 && GetTickCount64() >= rekeyDueTick_)
        Rekey("timeout");
}

void SshConnection::Rekey(const char* why) {
    if (!packetsFlow() || protocol_ != 2 || kex_.running()) return;
    if ((workarounds_.mask & kBugSsh2Rekey) && kex_.completed() > 0) {
        bytesSent_ = bytesReceived_ = 0;
        ArmRekeyTimer();
        return;
    }
    lastRekeyReason_ = why;
    kex_.Start();
}

// ---- Waiting for results ------------------------------------------------------------

bool SshConnection::ReceivePacket(SecureBytes* payload) {
    return ReceivePacketWithin(payload, TimeoutMilliseconds());
}

bool SshConnection::PumpUntil(const std::function<bool()>& done, int milliseconds) {
    const std::uint64_t deadline =
        GetTickCount64() + static_cast<std::uint64_t>(std::max(milliseconds, 0));
    while (!done()) {
        if (closed()) {
            SetLastError(MakeErrorCode(error_ != 0 ? error_ : fileErrorConnectionClosed));
            return false;
        }
        const std::uint64_t now = GetTickCount64();
        if (now >= deadline) {
            SetLastError(MakeErrorCode(fileErrorOperationTimeout));
            return false;
        }
        if (WaitMilliseconds(static_cast<int>(deadline - now)) < 0 && !closed()) return false;
    }
    return true;
}

// A payload is copied into a buffer a caller handed back earlier when there is
// one: at full speed every packet would otherwise allocate, wipe and free 32 KiB.
void SshConnection::Enqueue(std::span<const std::uint8_t> payload) {
    if (spare_.empty()) {
        received_.emplace_back();
    } else {
        received_.push_back(std::move(spare_.back()));
        spare_.pop_back();
    }
    AssignBytes(received_.back(), payload);
}

bool SshConnection::ReceivePacketWithin(SecureBytes* payload, int milliseconds) {
    if (!PumpUntil([this] { return !received_.empty(); }, milliseconds)) return false;
    payload->swap(received_.front());
    received_.pop_front();
    return true;
}

bool SshConnection::TakePacket(SecureBytes* payload) {
    if (received_.empty()) return false;
    payload->swap(received_.front());
    received_.pop_front();
    return true;
}

void SshConnection::Recycle(SecureBytes&& payload) {
    if (spare_.size() >= kSpareBuffers) return;  // wiped and freed by the caller
    SecureWipe(payload.data(), payload.size());
    payload.clear();
    spare_.push_back(std::move(payload));
}

bool SshConnection::WaitForKeys() {
    return PumpUntil([this] { return completedKeyExchanges() != 0; }, TimeoutMilliseconds());
}

// ---- Closing ------------------------------------------------------------------------

void SshConnection::SendDisconnect(std::uint32_t reason, std::string_view description) {
    if (!packetsFlow()) return;
    if (protocol_ == 1) {
        Transmit(std::move(SshPacket(kSsh1MsgDisconnect).PutString(description)));
        return;
    }
    Transmit(std::move(
        SshPacket(kSshMsgDisconnect).PutUint32(reason).PutString(description).PutString("en")));
}

void SshConnection::Disconnect(std::uint32_t reason, std::string_view description) {
    if (closed()) return;
    SendDisconnect(reason, description);
    Close(0, "Disconnected: " + std::string(description));
}

void SshConnection::DisconnectWithError(int error, std::uint32_t reason,
                                        std::string_view description) {
    Fail(error, reason, std::string(description));
}

void SshConnection::CloseQuietly() {
    Close(0, "Disconnected");
}

void SshConnection::Fail(int error, std::uint32_t reason, std::string description) {
    if (closed()) return;
    SendDisconnect(reason, description);
    Close(error, std::move(description));
}

void SshConnection::Close(int error, std::string message) {
    if (closed()) return;
    SetPhase(SshPhase::Closed);
    error_ = error;
    closeMessage_ = std::move(message);
    if (socket_ != INVALID_SOCKET) NetCloseSocket(socket_);
    socket_ = INVALID_SOCKET;
    held_.clear();
    outgoing_.Clear();
    SetLastError(error != 0 ? MakeErrorCode(error) : 0);
    if (error != 0) SetLastErrorDetail(MakeErrorCode(error), closeMessage_);
    if (closedHandler_) closedHandler_();
}
