// The SSH-2 key exchange: negotiation, Diffie-Hellman (group exchange, group 14,
// group 1), the exchange hash, the host-key signature, key derivation and the
// switch to new keys. One object per connection, reused for every re-key.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/bignum.h"
#include "crypto/dh.h"
#include "crypto/ecc.h"
#include "crypto/hash.h"
#include "ssh/algorithms.h"
#include "ssh/config.h"
#include "ssh/packet.h"

// What the key exchange needs from its connection.
class SshKexHost {
  public:
    virtual ~SshKexHost() = default;
    // Sends at once, ahead of packets held back for the exchange.
    virtual void SendKexPacket(SshPacket packet) = 0;
    // resetSequence: the strict key exchange starts the sequence numbers again at
    // zero with every NEWKEYS.
    virtual void SwitchOutgoingKeys(std::unique_ptr<SshDirectionKeys> keys, bool resetSequence) = 0;
    virtual void SwitchIncomingKeys(std::unique_ptr<SshDirectionKeys> keys, bool resetSequence) = 0;
};

// Why an exchange failed: the error number, the disconnect reason and text.
struct SshKexFailure {
    int error;
    std::uint32_t reason;
    std::string description;
};

enum class SshKexState {
    Idle,          // no exchange running
    AwaitKexinit,  // ours sent, the server's awaited
    AwaitGroup,    // group-exchange request sent
    AwaitReply,    // e (or the ephemeral public key) sent
    AwaitNewkeys,  // our NEWKEYS sent
};

// Key material: HASH(K || H || letter || session id), extended by HASH(K || H ||
// so far) to at least two hash lengths and at least `length` bytes. `omitSecret`
// leaves K out (the key-derivation workaround).
SecureBytes DeriveSshKey(const HashDescriptor& hash, std::span<const std::uint8_t> secretMpint,
                         std::span<const std::uint8_t> exchangeHash, char letter,
                         std::span<const std::uint8_t> sessionId, std::size_t length,
                         bool omitSecret);

class SshKeyExchange {
  public:
    SshKeyExchange(const SshConfig& config, SshKexHost& host);
    ~SshKeyExchange();

    // Set once the version exchange is done.
    void SetVersions(std::string clientLine, std::string serverLine, std::uint32_t workaroundMask);

    // Sends our KEXINIT and waits for the server's.
    void Start();
    // Handles one key-exchange message (types 20 to 49, payload with type byte).
    std::optional<SshKexFailure> Handle(std::span<const std::uint8_t> message);

    SshKexState state() const { return state_; }
    bool running() const { return state_ != SshKexState::Idle; }
    // Completed exchanges.
    int completed() const { return completed_; }
    std::span<const std::uint8_t> sessionId() const { return sessionId_; }
    const std::string& fingerprint() const { return fingerprint_; }
    // The server's host key blob from the last exchange.
    std::span<const std::uint8_t> hostKeyBlob() const { return hostKeyBlob_; }
    const std::optional<SshNegotiated>& negotiated() const { return negotiated_; }
    // The modulus size asked for in the last group exchange (0 for a fixed group).
    std::uint32_t requestedGroupBits() const { return pbits_; }
    // The strict key exchange is in force (agreed in the first exchange).
    bool strict() const { return strict_; }
    // The first exchange has not completed yet.
    bool initial() const { return completed_ == 0; }

  private:
    void SetState(SshKexState state);
    std::optional<SshKexFailure> OnKexinit(std::span<const std::uint8_t> message);
    std::optional<SshKexFailure> OnGroup(std::span<const std::uint8_t> message);
    std::optional<SshKexFailure> OnReply(std::span<const std::uint8_t> message);
    std::optional<SshKexFailure> OnNewkeys();
    void SendE(std::uint8_t messageType);
    bool SendEphemeralKey();
    // The shared secret as an mpint from the server's reply value (f or Q_S);
    // nullopt when the value is unusable.
    std::optional<SecureBytes> SharedSecret(std::span<const std::uint8_t> serverValue) const;
    SecureBytes ExchangeHash(std::span<const std::uint8_t> hostKeyBlob,
                             std::span<const std::uint8_t> serverValue,
                             std::span<const std::uint8_t> secretMpint) const;
    std::unique_ptr<SshDirectionKeys> MakeKeys(bool clientToServer,
                                               std::span<const std::uint8_t> secretMpint,
                                               std::span<const std::uint8_t> exchangeHash) const;

    const SshConfig& config_;
    SshKexHost& host_;
    std::string clientLine_, serverLine_;
    std::uint32_t workarounds_ = 0;
    SshKexState state_ = SshKexState::Idle;
    int completed_ = 0;
    SecureBytes clientKexinit_, serverKexinit_;
    SshKexinit offer_;
    std::optional<SshNegotiated> negotiated_;
    bool ignoreNext_ = false;
    std::uint32_t pbits_ = 0;
    std::unique_ptr<DhContext> dh_;
    BigNum e_;
    // Elliptic-curve exchanges: our secret (Curve25519) or key (NIST), and Q_C.
    SecureBytes curveSecret_;
    std::unique_ptr<EcdhPrivateKey> ecdh_;
    std::vector<std::uint8_t> clientPublic_;
    bool strict_ = false;
    SecureBytes sessionId_;
    std::string fingerprint_;
    std::vector<std::uint8_t> hostKeyBlob_;
    std::unique_ptr<SshDirectionKeys> pendingIncoming_;
};
