#include "ssh/forwarding.h"

#include <algorithm>
#include <array>

#include "crypto/byte_order.h"
#include "crypto/des.h"
#include "crypto/poly1305.h"
#include "crypto/random.h"
#include "net/socket_errors.h"
#include "net/trace.h"
#include "platform/automation.h"
#include "ssh/transport.h"

namespace {

constexpr std::size_t kRelayChunk = 32768;
constexpr std::size_t kX11CookieLength = 16;  // either protocol's fake data
constexpr std::string_view kX11Mit = "MIT-MAGIC-COOKIE-1";
constexpr std::string_view kX11Xdm = "XDM-AUTHORIZATION-1";
// How far an XDM-AUTHORIZATION-1 client's clock may be from ours.
constexpr std::int64_t kXdmSkewSeconds = 20 * 60;
// Set-ups remembered against replay; past this many the oldest are forgotten.
constexpr std::size_t kXdmSeenLimit = 4096;

std::size_t Padded(std::size_t length) {
    return (length + 3) & ~std::size_t{3};
}

std::uint16_t Card16(std::span<const std::uint8_t> bytes, std::size_t at, bool bigEndian) {
    return bigEndian ? static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1])
                     : static_cast<std::uint16_t>(bytes[at + 1] << 8 | bytes[at]);
}

void PutCard16(std::uint8_t* at, std::uint16_t value, bool bigEndian) {
    at[bigEndian ? 0 : 1] = static_cast<std::uint8_t>(value >> 8);
    at[bigEndian ? 1 : 0] = static_cast<std::uint8_t>(value);
}

bool SameText(std::span<const std::uint8_t> bytes, std::string_view text) {
    return std::ranges::equal(bytes, text, [](std::uint8_t a, char b) {
        return a == static_cast<std::uint8_t>(b);
    });
}

std::int64_t UnixNow() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    LONGLONG seconds = 0;
    SystemTimeToUnixTime(&now, &seconds);
    return seconds;
}

bool WouldBlock() {
    return NetGetLastError() == net::WSAEWOULDBLOCK;
}

void MakeNonBlocking(SOCKET s) {
    unsigned long nonBlocking = 1;
    NetIoctl(s, FIONBIO, &nonBlocking);
}

// "a.b.c.d:port" or "[v6]:port" to its host and port.
void SplitPeer(SOCKET s, std::string* host, std::uint32_t* port) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    char text[80];
    std::uint32_t size = sizeof text;
    *host = "127.0.0.1";
    *port = 0;
    if (NetGetPeerName(s, reinterpret_cast<sockaddr*>(&storage), &length) != 0 ||
        NetAddressToString(reinterpret_cast<sockaddr*>(&storage), length, text, &size) != 0)
        return;
    const std::string_view all(text);
    const std::size_t colon = all.rfind(':');
    if (colon == std::string_view::npos) return;
    std::string_view name = all.substr(0, colon);
    if (name.size() >= 2 && name.front() == '[') name = name.substr(1, name.size() - 2);
    *host = std::string(name);
    *port = static_cast<std::uint32_t>(std::stoul(std::string(all.substr(colon + 1))));
}

}  // namespace

bool ParseSshX11Setup(std::span<const std::uint8_t> bytes, SshX11Setup* setup) {
    if (bytes.size() < 12 || (bytes[0] != 'B' && bytes[0] != 'l')) return false;
    const bool bigEndian = bytes[0] == 'B';
    setup->nameOffset = 12;
    setup->nameLength = Card16(bytes, 6, bigEndian);
    setup->dataOffset = 12 + Padded(setup->nameLength);
    setup->dataLength = Card16(bytes, 8, bigEndian);
    setup->length = setup->dataOffset + Padded(setup->dataLength);
    return bytes.size() >= setup->length;
}

SshForwarder::SshForwarder(const SshConfig& config, SshConnectionLayer& layer)
    : config_(config), layer_(layer) {
    netStarted_ = NetStartup(nullptr) == 0;
    if (config_.forwardX11) {
        fakeCookie_.resize(kX11CookieLength);
        RandomBytes(fakeCookie_);
        // XDM: the identifier, then the DES key; the key's first byte is never used.
        if (config_.x11FakeProtocol == SshX11Protocol::XdmAuthorization) fakeCookie_[8] = 0;
        static const char kHex[] = "0123456789abcdef";
        for (std::uint8_t byte : fakeCookie_) {
            fakeHex_ += kHex[byte >> 4];
            fakeHex_ += kHex[byte & 15];
        }
    }
}

SshForwarder::~SshForwarder() {
    for (const Listener& listener : listeners_)
        NetCloseSocket(listener.socket);
    for (const Relay& relay : relays_)
        NetCloseSocket(relay.socket);
    WipeString(fakeHex_);
    if (netStarted_) NetCleanup();
}

int SshForwarder::Listen(const SshLocalForward& forward, std::uint16_t* port) {
    NetAddress address{};
    if (NetParseAddress(forward.bindAddress.c_str(), 0, &address) < 0) return NetGetLastError();
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (NetMakeSockAddr(&address, forward.bindPort, &storage, &length) == 0)
        return NetGetLastError();
    const SOCKET s = NetSocket(address.family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return NetGetLastError();
    int reuse = 1;
    NetSetSockOpt(s, SOL_SOCKET, SO_REUSEADDR, &reuse);
    socklen_t boundLength = sizeof storage;
    if (NetBind(s, reinterpret_cast<sockaddr*>(&storage), length) != 0 || NetListen(s) != 0 ||
        NetGetSockName(s, reinterpret_cast<sockaddr*>(&storage), &boundLength) != 0) {
        const int error = NetGetLastError();
        NetCloseSocket(s);
        return error;
    }
    MakeNonBlocking(s);
    const std::uint16_t bound = NetNtohs(storage.ss_family == AF_INET6
                                             ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                                             : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    listeners_.push_back({s, bound, forward});
    *port = bound;
    NetTraceMessage(NET_TRACE_INFO, "SSH forwarding %s:%u to %s:%u", forward.bindAddress.c_str(),
                    unsigned{bound}, forward.targetHost.c_str(), unsigned{forward.targetPort});
    return 0;
}

bool SshForwarder::StopListening(std::uint16_t port) {
    const auto found = std::find_if(listeners_.begin(), listeners_.end(),
                                    [&](const Listener& l) { return l.port == port; });
    if (found == listeners_.end()) return false;
    NetCloseSocket(found->socket);
    listeners_.erase(found);
    return true;
}

std::uint64_t SshForwarder::RequestRemote(const SshRemoteForward& forward) {
    const std::uint64_t ticket = nextTicket_++;
    pending_.push_back({ticket, false, forward});
    answers_[ticket] = {};
    layer_.RequestForwarding(false, forward.bindAddress, forward.bindPort);
    return ticket;
}

std::uint64_t SshForwarder::CancelRemote(const std::string& address, std::uint16_t port) {
    const std::uint64_t ticket = nextTicket_++;
    SshRemoteForward forward;
    forward.bindAddress = address;
    forward.bindPort = port;
    pending_.push_back({ticket, true, forward});
    answers_[ticket] = {};
    layer_.RequestForwarding(true, address, port);
    return ticket;
}

SshForwarder::Answer SshForwarder::answer(std::uint64_t ticket) const {
    const auto found = answers_.find(ticket);
    return found == answers_.end() ? Answer{} : found->second;
}

void SshForwarder::OnGlobalReply(bool success, std::span<const std::uint8_t> fields) {
    if (pending_.empty()) return;  // a reply to nothing we asked: ignored
    Pending request = std::move(pending_.front());
    pending_.pop_front();
    Answer& answer = answers_[request.ticket];
    answer.done = true;
    answer.success = success;
    answer.port = request.forward.bindPort;
    if (!success) return;
    if (request.cancel) {
        std::erase_if(remotes_, [&](const SshRemoteForward& r) {
            return r.bindPort == request.forward.bindPort &&
                   r.bindAddress == request.forward.bindAddress;
        });
        return;
    }
    // Port 0 asks the server to choose; the reply carries its choice.
    SshReader reader(fields);
    std::uint32_t allocated = 0;
    if (request.forward.bindPort == 0) {
        if (!reader.ReadUint32(&allocated) || allocated == 0 || allocated > 65535) {
            answer.success = false;
            return;
        }
        answer.port = request.forward.bindPort = static_cast<std::uint16_t>(allocated);
    }
    remotes_.push_back(request.forward);
}

SOCKET SshForwarder::ConnectTarget(const std::string& host, std::uint16_t port) {
    const int seconds =
        config_.timeoutSeconds > 0 ? config_.timeoutSeconds : kSshDefaultTimeoutSeconds;
    NetAddress address{};
    if (NetResolveHost(host.c_str(), 0, &address) < 0) return INVALID_SOCKET;
    return NetConnectAddress(&address, port, seconds);
}

bool SshForwarder::TakeServerChannel(SshChannelType type, std::uint32_t localId, SshReader& fields,
                                     std::string* whyNot) {
    const int seconds =
        config_.timeoutSeconds > 0 ? config_.timeoutSeconds : kSshDefaultTimeoutSeconds;
    SOCKET s = INVALID_SOCKET;
    std::string target, originAddress;
    std::uint32_t originPort = 0;
    switch (type) {
        case SshChannelType::ForwardedTcpip: {
            std::string_view address;
            std::uint32_t port = 0;
            if (!fields.ReadString(&address) || !fields.ReadUint32(&port)) return false;
            // The address as we asked for it; a server that reports another one
            // for the same port is still ours.
            const SshRemoteForward* match = nullptr;
            for (const SshRemoteForward& remote : remotes_) {
                if (remote.bindPort != port) continue;
                if (!match || remote.bindAddress == address) match = &remote;
            }
            if (!match) return false;
            target = match->targetHost + ":" + std::to_string(match->targetPort);
            s = ConnectTarget(match->targetHost, match->targetPort);
            break;
        }
        case SshChannelType::Agent:
            if (!config_.forwardAgent || config_.agentSocket.empty()) return false;
            target = config_.agentSocket;
            s = NetConnectLocal(config_.agentSocket.c_str(), seconds);
            break;
        case SshChannelType::X11: {
            if (!config_.forwardX11 || config_.x11Socket.empty()) return false;
            // The client's address and port (older servers leave them out).
            std::string_view address;
            if (!fields.ReadString(&address) || !fields.ReadUint32(&originPort)) originPort = 0;
            originAddress = address;
            target = config_.x11Socket;
            s = NetConnectLocal(config_.x11Socket.c_str(), seconds);
            break;
        }
        default:
            return false;
    }
    if (s == INVALID_SOCKET) {
        *whyNot =
            "Connect to " + target + " failed (error " + std::to_string(NetGetLastError()) + ")";
        return false;
    }
    MakeNonBlocking(s);
    Relay relay{localId, s};
    relay.x11Pending = type == SshChannelType::X11;
    relay.originAddress = std::move(originAddress);
    relay.originPort = originPort;
    relays_.push_back(relay);
    return true;
}

void SshForwarder::AddWaits(std::vector<NetWaitEntry>* entries) const {
    for (const Listener& listener : listeners_)
        entries->push_back({listener.socket, kNetReadable, 0});
    for (const Relay& relay : relays_) {
        const SshChannel* channel = layer_.channel(relay.channel);
        if (!channel || relay.broken) continue;
        unsigned want = 0;
        if (!relay.localEof && layer_.TakesLocalData(relay.channel)) want |= kNetReadable;
        if (!channel->incoming.empty() && !relay.x11Pending) want |= kNetWritable;
        if (want) entries->push_back({relay.socket, want, 0});
    }
}

unsigned SshForwarder::ReadyOf(std::span<const NetWaitEntry> entries, SOCKET s) {
    for (const NetWaitEntry& entry : entries)
        if (entry.socket == s) return entry.ready;
    return 0;
}

void SshForwarder::Service(std::span<const NetWaitEntry> entries) {
    std::erase_if(abandoned_, [&](std::uint32_t id) {
        const SshChannel* channel = layer_.channel(id);
        if (!channel) return true;
        if (channel->state != SshChannelState::Closed && channel->state != SshChannelState::Refused)
            return false;
        layer_.Release(id);
        return true;
    });
    for (Listener& listener : listeners_)
        if (ReadyOf(entries, listener.socket) & kNetReadable) Accept(listener);
    for (std::size_t i = 0; i < relays_.size();) {
        if (ServiceRelay(relays_[i], ReadyOf(entries, relays_[i].socket)))
            ++i;
        else
            relays_.erase(relays_.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void SshForwarder::Accept(Listener& listener) {
    const SOCKET s = NetAccept(listener.socket, nullptr, nullptr);
    if (s == INVALID_SOCKET) return;  // gone again before we took it
    MakeNonBlocking(s);
    std::string originHost;
    std::uint32_t originPort = 0;
    SplitPeer(s, &originHost, &originPort);
    const std::uint32_t id = layer_.OpenDirectTcpip(
        listener.forward.targetHost, listener.forward.targetPort, originHost, originPort);
    relays_.emplace_back(id, s);
}

bool SshForwarder::ServiceRelay(Relay& relay, unsigned ready) {
    SshChannel* channel = layer_.channel(relay.channel);
    if (!channel || channel->state == SshChannelState::Refused) {
        if (channel) {
            NetTraceMessage(NET_TRACE_INFO, "SSH forwarded channel refused: %s",
                            channel->refusal.c_str());
            layer_.Release(relay.channel);
        }
        NetCloseSocket(relay.socket);
        return false;
    }
    if (channel->state == SshChannelState::Opening) return true;
    if (relay.x11Pending && !relay.broken && !CheckX11(relay, *channel)) return true;

    // Towards the local side: what the server sent, then its end.
    while (!relay.broken && !channel->incoming.empty()) {
        const auto front = channel->incoming.Front();
        const int asked = static_cast<int>(std::min(front.size(), std::size_t{65536}));
        const int sent = NetSend(relay.socket, front.data(), asked, 0);
        if (sent <= 0) {
            if (sent < 0 && !WouldBlock()) relay.broken = true;
            break;
        }
        layer_.Consume(relay.channel, static_cast<std::size_t>(sent));
        if (sent < asked) break;
    }
    if (!relay.broken && channel->eofReceived && channel->incoming.empty() && !relay.shutdownSent) {
        NetShutdown(relay.socket, 1);
        relay.shutdownSent = true;
    }

    // Towards the server: what the local side sent, within the throttle.
    if ((ready & kNetReadable) && !relay.broken && !relay.localEof &&
        layer_.TakesLocalData(relay.channel)) {
        std::array<std::uint8_t, kRelayChunk> buffer;
        const int got = NetRecv(relay.socket, buffer.data(), static_cast<int>(buffer.size()), 0);
        if (got > 0) {
            layer_.SendOn(relay.channel, std::span(buffer.data(), static_cast<std::size_t>(got)));
        } else if (got == 0) {
            relay.localEof = true;
            layer_.SendEofOn(relay.channel);
        } else if (!WouldBlock()) {
            relay.broken = true;
        }
        SecureWipe(buffer.data(), buffer.size());
    }

    // Both ends passed on (or the local socket failed): the channel closes.
    const bool done = relay.localEof && relay.shutdownSent && channel->outgoing.empty();
    if ((done || relay.broken) && !channel->closeSent) layer_.CloseChannel(relay.channel);
    if (channel->state == SshChannelState::Closed && (channel->incoming.empty() || relay.broken)) {
        layer_.Release(relay.channel);
        NetCloseSocket(relay.socket);
        return false;
    }
    return true;
}

// The X11 client's set-up must carry the fake cookie; it goes on with the real
// one. false while the set-up is still incomplete.
bool SshForwarder::CheckX11(Relay& relay, SshChannel& channel) {
    const auto bytes = channel.incoming.Front();
    SshX11Setup setup;
    if (!ParseSshX11Setup(bytes, &setup)) {
        // A set-up that cannot be one, or that will never fit the window.
        if ((bytes.size() >= 1 && bytes[0] != 'B' && bytes[0] != 'l') || bytes.size() > 64 * 1024 ||
            channel.eofReceived || channel.state == SshChannelState::Closed) {
            relay.broken = true;
            relay.x11Pending = false;
            layer_.CloseChannel(relay.channel);
        }
        return false;
    }
    const auto name = bytes.subspan(setup.nameOffset, setup.nameLength);
    const auto data = bytes.subspan(setup.dataOffset, setup.dataLength);
    relay.x11Pending = false;
    if (!FakeDataMatches(name, data, relay)) {
        NetTraceMessage(NET_TRACE_INFO, "SSH X11 connection with wrong authorisation refused");
        relay.broken = true;
        layer_.CloseChannel(relay.channel);
        return false;
    }
    const bool bigEndian = bytes[0] == 'B';
    // The display's own cookie, or no authorisation at all when there is none.
    const auto real = config_.x11Cookie.bytes();
    const std::string_view realName = real.empty() ? std::string_view() : kX11Mit;
    SecureBytes rewritten(12 + Padded(realName.size()) + Padded(real.size()), 0);
    std::copy_n(bytes.begin(), 6, rewritten.begin());
    PutCard16(rewritten.data() + 6, static_cast<std::uint16_t>(realName.size()), bigEndian);
    PutCard16(rewritten.data() + 8, static_cast<std::uint16_t>(real.size()), bigEndian);
    std::ranges::copy(realName, rewritten.begin() + 12);
    std::ranges::copy(
        real, rewritten.begin() + 12 + static_cast<std::ptrdiff_t>(Padded(realName.size())));
    // A fresh local socket takes these few bytes at once.
    const int sent = NetSend(relay.socket, rewritten.data(), static_cast<int>(rewritten.size()), 0);
    layer_.Consume(relay.channel, setup.length);
    if (sent != static_cast<int>(rewritten.size())) {
        relay.broken = true;
        layer_.CloseChannel(relay.channel);
        return false;
    }
    return true;
}

std::string_view SshForwarder::x11FakeProtocolName() const {
    return config_.x11FakeProtocol == SshX11Protocol::XdmAuthorization ? kX11Xdm : kX11Mit;
}

bool SshForwarder::FakeDataMatches(std::span<const std::uint8_t> name,
                                   std::span<const std::uint8_t> data, const Relay& relay) {
    if (!SameText(name, x11FakeProtocolName())) return false;
    if (config_.x11FakeProtocol == SshX11Protocol::XdmAuthorization) return XdmMatches(data, relay);
    return data.size() == fakeCookie_.size() &&
           ConstantTimeEqual(data.data(), fakeCookie_.data(), data.size());
}

// XDM-AUTHORIZATION-1: 24 bytes, DES-CBC with a zero IV under the key in the fake
// data's second half, of its first half, the client's IPv4 address and port (as the
// server reported them in the channel open), the client's clock in seconds and six
// zero bytes. The clock must be within the skew and each set-up counts once.
bool SshForwarder::XdmMatches(std::span<const std::uint8_t> data, const Relay& relay) {
    std::uint8_t address[4];
    if (data.size() != 24 ||
        NetInetPton(NET_FAMILY_IPV4, relay.originAddress.c_str(), address) != 1)
        return false;
    // The key's 56 bits are bytes 9..15, seven to each DES key byte above its
    // (ignored) parity bit.
    std::uint64_t bits = 0;
    for (int i = 9; i < 16; ++i)
        bits = bits << 8 | fakeCookie_[static_cast<std::size_t>(i)];
    std::uint8_t keyBytes[8];
    for (int i = 0; i < 8; ++i)
        keyBytes[i] = static_cast<std::uint8_t>(((bits >> (49 - 7 * i)) & 0x7f) << 1);
    DesKey key;
    DesSetKey(key, keyBytes);
    std::array<std::uint8_t, 24> plain;
    std::ranges::copy(data, plain.begin());
    std::uint8_t iv[8] = {};
    DesCbcDecrypt(key, iv, plain.data(), plain.size());
    SecureWipe(&key, sizeof key);
    SecureWipe(keyBytes, sizeof keyBytes);
    SecureWipe(&bits, sizeof bits);
    bool matches = ConstantTimeEqual(plain.data(), fakeCookie_.data(), 8);
    matches &= std::equal(address, address + 4, plain.data() + 8);
    matches &= LoadBe16(plain.data() + 12) == relay.originPort;
    matches &= std::all_of(plain.begin() + 18, plain.end(), [](std::uint8_t b) { return b == 0; });
    XdmSeen seen{LoadBe32(plain.data() + 14), {}};
    std::copy_n(plain.begin() + 8, seen.client.size(), seen.client.begin());
    SecureWipe(plain.data(), plain.size());
    const std::int64_t now = UnixNow();
    matches &= seen.time >= now - kXdmSkewSeconds && seen.time <= now + kXdmSkewSeconds;
    std::erase_if(xdmSeen_,
                  [&](const XdmSeen& old) { return old.time < now - kXdmSkewSeconds; });
    for (const XdmSeen& old : xdmSeen_)
        if (old.client == seen.client) matches = false;
    if (matches) {
        if (xdmSeen_.size() >= kXdmSeenLimit) xdmSeen_.erase(xdmSeen_.begin());
        xdmSeen_.push_back(seen);
    }
    return matches;
}
