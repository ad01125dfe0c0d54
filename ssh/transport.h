// One SSH connection: the socket, the version exchange, the key exchange and the
// binary packet protocol in both directions, re-keying, and closing. Everything
// runs on the calling thread; progress is made inside NetworkWait rounds.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/bignum.h"
#include "net/net.h"
#include "net/socket_wait.h"
#include "platform/byte_queue.h"
#include "ssh/config.h"
#include "ssh/kex.h"
#include "ssh/packet.h"
#include "ssh/ssh1_kex.h"
#include "ssh/ssh1_packet.h"
#include "ssh/version.h"

// The time-out used when the configuration says 0: waits must still end.
constexpr int kSshDefaultTimeoutSeconds = 60;

// The phase of the connection; changed only through SetPhase, which traces it.
enum class SshPhase {
    Version,      // waiting for the server's version line
    KeyExchange,  // keys are being agreed: only the exchange's own packets go out
    Transport,    // packets flow under the agreed keys
    Closed,
};

class SshConnection final : private SshKexHost {
  public:
    // Resolves the host and connects. 0 with the connection in *out, or the
    // socket error number (11001 host not found, 10061 refused, 10060 timed out).
    static int Start(const SshConfig& config, std::unique_ptr<SshConnection>* out);
    // Also used by tests with a socket connected elsewhere; takes ownership.
    SshConnection(const SshConfig& config, SOCKET socket);
    ~SshConnection() override;
    SshConnection(const SshConnection&) = delete;
    SshConnection& operator=(const SshConnection&) = delete;

    // One network-wait round: waits for the socket (pumping the thread's
    // messages) until something happens or the time-out passes, and processes
    // what arrived. 1 after progress, 0 when the time ran out, -1 when the
    // connection is (or became) closed.
    int NetworkWait();

    // Sends a packet, or holds it while a key exchange runs. false when closed.
    bool SendPacket(SshPacket packet);
    // Sends the packets in one write (a password and the ignore message that hides
    // its length, for example), or holds them all during a key exchange.
    bool SendPacketsTogether(std::vector<SshPacket> packets);
    // The next packet for the service layer (type byte and fields), pumping
    // rounds as needed. false when closed or when nothing came within the
    // time-out (error 10060, the connection stays open).
    bool ReceivePacket(SecureBytes* payload);
    // The same with a wait of its own (milliseconds, 0 = only what is already
    // here); on a time-out the error is 10060 and the connection stays open.
    bool ReceivePacketWithin(SecureBytes* payload, int milliseconds);
    // The next packet already received, without waiting; false when there is none.
    bool TakePacket(SecureBytes* payload);
    // One round over the connection's socket and the caller's (the forwarded
    // connections): processes what the connection's socket is ready for and sets
    // each of others' ready bits. 1, 0 or -1 as NetworkWait.
    int WaitWith(int milliseconds, std::span<NetWaitEntry> others);
    // Hands a received payload's buffer back (wiped here) for the next packet.
    void Recycle(SecureBytes&& payload);
    // Pumps until the first key exchange is complete. false when the connection
    // closed or the time-out passed first.
    bool WaitForKeys();

    // Sends SSH_MSG_DISCONNECT and closes; the local message becomes
    // "Disconnected: <description>". Error 0: the close is orderly.
    void Disconnect(std::uint32_t reason, std::string_view description);
    // Closes without sending anything ("Disconnected").
    void CloseQuietly();
    // Sends SSH_MSG_DISCONNECT and closes with an error number (authentication
    // refused, protocol errors of the service layer).
    void DisconnectWithError(int error, std::uint32_t reason, std::string_view description);
    // Closes without sending anything, with the given local text and error 0
    // ("All channels closed").
    void CloseLocally(std::string message) { Close(0, std::move(message)); }
    // An ignore message with an empty string.
    bool Ping();
    // Starts a key exchange of our own unless one is running (or the re-key
    // workaround forbids it after the first).
    void Rekey(const char* why);

    // Called once when the connection closes (event 2 of the SFTP client). The
    // handler must not destroy the connection: it runs inside its methods.
    void SetClosedHandler(std::function<void()> handler) { closedHandler_ = std::move(handler); }

    SshPhase phase() const { return phase_; }
    bool closed() const { return phase_ == SshPhase::Closed; }
    // The connection's socket, for its addresses; INVALID_SOCKET once closed.
    SOCKET socket() const { return socket_; }
    // Packets (not the version line) are read and written.
    bool packetsFlow() const {
        return phase_ == SshPhase::KeyExchange || phase_ == SshPhase::Transport;
    }
    int protocol() const { return protocol_; }
    // The error number of the close (0 orderly), and the local close text.
    int error() const { return error_; }
    const std::string& closeMessage() const { return closeMessage_; }
    const std::string& clientVersion() const { return clientVersion_; }
    const std::string& serverVersion() const { return serverVersion_; }
    const SshWorkarounds& workarounds() const { return workarounds_; }
    std::span<const std::uint8_t> sessionId() const {
        return protocol_ == 1 ? std::span<const std::uint8_t>(ssh1SessionId_) : kex_.sessionId();
    }
    const std::string& fingerprint() const {
        return protocol_ == 1 && ssh1Setup_ ? ssh1Setup_->fingerprint : kex_.fingerprint();
    }
    std::span<const std::uint8_t> hostKeyBlob() const { return kex_.hostKeyBlob(); }
    const std::optional<SshNegotiated>& negotiated() const { return kex_.negotiated(); }
    const SshKeyExchange& keyExchange() const { return kex_; }
    int completedKeyExchanges() const {
        return protocol_ == 1 ? ssh1KeyExchanges_ : kex_.completed();
    }
    // SSH-1: the chosen cipher and the server's masks, once the session key is sent.
    const std::optional<Ssh1SessionSetup>& ssh1Session() const { return ssh1Setup_; }
    std::uint32_t outgoingSequence() const { return encoder_.sequence(); }
    // The outgoing cipher's block size (at least 8), or 0 while no cipher is on.
    std::size_t outgoingBlockSize() const {
        return encoder_.keys().encrypting() ? encoder_.keys().blockSize() : 0;
    }
    std::uint32_t incomingSequence() const { return decoder_.sequence(); }
    std::uint64_t rekeyDataLimit() const { return rekeyLimit_; }
    // Bytes waiting to go out at the socket (for throttling the channels).
    std::size_t queuedBytes() const { return outgoing_.size(); }
    std::string lastRekeyReason() const { return lastRekeyReason_; }
    // The signature algorithms the server accepts for public keys ("server-sig-algs"
    // of its extension message), empty when it sent none.
    const std::vector<std::string>& serverSignatureAlgorithms() const { return serverSigAlgs_; }

  private:
    // SshKexHost
    void SendKexPacket(SshPacket packet) override;
    void SwitchOutgoingKeys(std::unique_ptr<SshDirectionKeys> keys, bool resetSequence) override;
    void SwitchIncomingKeys(std::unique_ptr<SshDirectionKeys> keys, bool resetSequence) override;
    void OnKexMessage(std::span<const std::uint8_t> payload);
    void OnExtInfo(std::span<const std::uint8_t> payload);

    int WaitMilliseconds(int milliseconds);
    // Runs network rounds until done() holds: false when the connection closed
    // or the time ran out first (the last error says which).
    bool PumpUntil(const std::function<bool()>& done, int milliseconds);
    int TimeoutMilliseconds() const;
    void Transmit(SshPacket packet, bool flush = true);
    bool Flush();
    bool ReadSocket();
    void ConsumeBytes(std::span<const std::uint8_t> bytes);
    std::size_t FeedVersion(std::span<const std::uint8_t> bytes);
    void OnVersionLine();
    void OnPacket(std::span<const std::uint8_t> payload);
    void Enqueue(std::span<const std::uint8_t> payload);
    void OnDisconnectMessage(std::span<const std::uint8_t> payload);
    void OnUnimplemented(std::span<const std::uint8_t> payload);
    void OnSsh1Packet(std::span<const std::uint8_t> payload);
    void OnSsh1PublicKey(std::span<const std::uint8_t> payload);
    void ReleaseHeldPackets();
    bool PassesWhileHeld(std::uint8_t type) const;
    // Outgoing packets wait until the keys are agreed (before and during an exchange).
    bool holding() const { return phase_ == SshPhase::Version || phase_ == SshPhase::KeyExchange; }
    void CheckRekeyDue();
    // The ping timer: milliseconds until it is due (-1 without one), and the ping.
    int MillisecondsToPing() const;
    void CheckPingDue();
    void ArmRekeyTimer();
    void SetPhase(SshPhase phase);
    void SendDisconnect(std::uint32_t reason, std::string_view description);
    void Fail(int error, std::uint32_t reason, std::string description);
    void Close(int error, std::string message);

    SshConfig config_;
    SOCKET socket_;
    SshPhase phase_ = SshPhase::Version;
    int protocol_ = 0;
    int error_ = 0;
    std::string closeMessage_;
    SshVersionReader versionReader_;
    std::string clientVersion_, serverVersion_;
    SshWorkarounds workarounds_;
    SshPacketEncoder encoder_;
    SshPacketDecoder decoder_;
    SshKeyExchange kex_;
    std::uint32_t kexFirstSequence_ = 0;  // our first packet of the running exchange
    std::vector<SshPacket> held_;
    std::deque<SecureBytes> received_;
    static constexpr std::size_t kSpareBuffers = 4;
    std::vector<SecureBytes> spare_;  // wiped, empty buffers of earlier payloads
    SecureByteQueue outgoing_;
    std::vector<std::uint8_t> readBuffer_;
    std::uint64_t bytesSent_ = 0, bytesReceived_ = 0;
    std::uint64_t rekeyLimit_ = 0;
    std::uint64_t rekeyDueTick_ = 0;
    std::uint64_t lastTransmitTick_ = 0;
    std::string lastRekeyReason_;
    std::vector<std::string> serverSigAlgs_;
    Ssh1PacketEncoder ssh1Encoder_;
    Ssh1PacketDecoder ssh1Decoder_;
    std::optional<Ssh1SessionSetup> ssh1Setup_;
    SecureBytes ssh1SessionId_;
    int ssh1KeyExchanges_ = 0;  // 1 once the server accepted the session key
    std::function<void()> closedHandler_;
    bool netStarted_ = false;
};
