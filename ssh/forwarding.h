// The sockets behind the forwarded channels: local listeners whose connections
// become direct-tcpip channels, the remote forwards the server listens on for us
// (their forwarded-tcpip channels connect to the local target), and the agent and
// X11 channels the server opens (relayed to the agent's socket and the display's).
// It relays both ways between each socket and its channel within the channel
// throttles, and is driven by the session's pump: AddWaits before one wait over
// the connection and these sockets, Service after it. Nothing here blocks but the
// connect to a local target, which is bounded by the connection's time-out.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "net/net.h"
#include "net/socket_wait.h"
#include "platform/secret_string.h"
#include "ssh/channel.h"
#include "ssh/config.h"

// A local listener: each connection to bindAddress:bindPort is forwarded to
// targetHost:targetPort as the server's side resolves it.
struct SshLocalForward {
    std::string bindAddress = "127.0.0.1";  // "0.0.0.0" or "::" only when asked for
    std::uint16_t bindPort = 0;             // 0: the system chooses
    std::string targetHost;
    std::uint16_t targetPort = 0;
};

// A port the server listens on for us: each connection to it is relayed to
// targetHost:targetPort from here.
struct SshRemoteForward {
    std::string bindAddress = "127.0.0.1";  // at the server
    std::uint16_t bindPort = 0;             // 0: the server chooses
    std::string targetHost = "127.0.0.1";
    std::uint16_t targetPort = 0;
};

// The X11 connection set-up as a client sends it (byte order, versions, the
// authorisation protocol name and data): how many bytes it takes (0 while more
// are needed), and the name and data when complete.
struct SshX11Setup {
    std::size_t length = 0;
    std::size_t nameOffset = 0, nameLength = 0;
    std::size_t dataOffset = 0, dataLength = 0;
};
bool ParseSshX11Setup(std::span<const std::uint8_t> bytes, SshX11Setup* setup);

class SshForwarder final : public SshChannelOwner {
  public:
    SshForwarder(const SshConfig& config, SshConnectionLayer& layer);
    ~SshForwarder() override;
    SshForwarder(const SshForwarder&) = delete;
    SshForwarder& operator=(const SshForwarder&) = delete;

    // Listens for a local forward: 0 with the bound port in *port, or the socket
    // error number (10039 for a bind address that is not numeric, 10048 in use).
    int Listen(const SshLocalForward& forward, std::uint16_t* port);
    // Stops the listener on that port (connections already forwarded go on).
    bool StopListening(std::uint16_t port);

    // Sends "tcpip-forward" (or the cancel) and returns the request's ticket;
    // answered(ticket) once the reply is in.
    std::uint64_t RequestRemote(const SshRemoteForward& forward);
    std::uint64_t CancelRemote(const std::string& address, std::uint16_t port);
    struct Answer {
        bool done = false;
        bool success = false;
        std::uint16_t port = 0;  // the port the server listens on
    };
    Answer answer(std::uint64_t ticket) const;
    // The authorisation the x11-req hands the server's X clients: the protocol's
    // name and the fake data in hex.
    std::string_view x11FakeProtocolName() const;
    const std::string& x11FakeCookieHex() const { return fakeHex_; }

    // A channel of the caller's (a direct stream) given up before the server's
    // close came: released once it does (or once the server refused it).
    void Abandon(std::uint32_t channel) { abandoned_.push_back(channel); }

    // Adds a wait entry for every socket with something to wait for.
    void AddWaits(std::vector<NetWaitEntry>* entries) const;
    // Accepts, relays and closes after a wait (ready bits from entries; a socket
    // not among them counts as not ready).
    void Service(std::span<const NetWaitEntry> entries);

    std::size_t relayCount() const { return relays_.size(); }
    // Listeners or relays to service.
    bool active() const { return !listeners_.empty() || !relays_.empty() || !abandoned_.empty(); }
    std::size_t remoteForwardCount() const { return remotes_.size(); }

    // SshChannelOwner
    bool TakeServerChannel(SshChannelType type, std::uint32_t localId, SshReader& fields,
                           std::string* whyNot) override;
    void OnGlobalReply(bool success, std::span<const std::uint8_t> fields) override;

  private:
    struct Listener {
        SOCKET socket;
        std::uint16_t port;
        SshLocalForward forward;
    };
    struct Relay {
        Relay(std::uint32_t id, SOCKET local) : channel(id), socket(local) {}
        std::uint32_t channel;
        SOCKET socket;
        bool localEof = false;      // the local side sent its end
        bool shutdownSent = false;  // the server's end passed on to the local side
        bool broken = false;        // the local socket failed
        bool x11Pending = false;    // the X11 set-up is not checked yet
        std::string originAddress;  // of an X11 channel, as the server saw the client
        std::uint32_t originPort = 0;
    };
    struct Pending {
        std::uint64_t ticket;
        bool cancel;
        SshRemoteForward forward;
    };

    static unsigned ReadyOf(std::span<const NetWaitEntry> entries, SOCKET s);
    void Accept(Listener& listener);
    // false when the relay is finished and its socket closed.
    bool ServiceRelay(Relay& relay, unsigned ready);
    bool CheckX11(Relay& relay, SshChannel& channel);
    bool FakeDataMatches(std::span<const std::uint8_t> name, std::span<const std::uint8_t> data,
                         const Relay& relay);
    bool XdmMatches(std::span<const std::uint8_t> data, const Relay& relay);
    SOCKET ConnectTarget(const std::string& host, std::uint16_t port);

    const SshConfig& config_;
    SshConnectionLayer& layer_;
    std::vector<Listener> listeners_;
    std::vector<Relay> relays_;
    std::vector<SshRemoteForward> remotes_;  // granted by the server (bindPort as allocated)
    std::vector<std::uint32_t> abandoned_;
    std::deque<Pending> pending_;
    std::map<std::uint64_t, Answer> answers_;
    std::uint64_t nextTicket_ = 1;
    SecureBytes fakeCookie_;
    std::string fakeHex_;
    // XDM-AUTHORIZATION-1 set-ups already taken within the clock skew allowed
    // (each is good for one connection): the client's address, port and clock.
    struct XdmSeen {
        std::int64_t time;
        std::array<std::uint8_t, 10> client;
    };
    std::vector<XdmSeen> xdmSeen_;
    bool netStarted_ = false;
};
