// The SSH-1 binary packet format: length, 1 to 8 bytes of random padding, type,
// data and a CRC-32, with everything after the length encrypted once keys are set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "crypto/bignum.h"
#include "crypto/cipher.h"
#include "crypto/compensation_detector.h"

// SSH-1 message numbers used by the transport.
enum Ssh1Message : std::uint8_t {
    kSsh1MsgDisconnect = 1,
    kSsh1SmsgPublicKey = 2,
    kSsh1CmsgSessionKey = 3,
    kSsh1SmsgSuccess = 14,
    kSsh1SmsgFailure = 15,
    kSsh1MsgIgnore = 32,
    kSsh1MsgDebug = 36,
};

// Largest length field accepted (type, data and CRC).
constexpr std::uint32_t kSsh1MaxPacketLength = 256 * 1024 - 8;

// A cipher keyed for one direction; the IV starts at zero.
class Ssh1CipherState {
  public:
    Ssh1CipherState(const CipherDescriptor& cipher, std::span<const std::uint8_t> key);
    ~Ssh1CipherState();
    Ssh1CipherState(const Ssh1CipherState&) = delete;
    Ssh1CipherState& operator=(const Ssh1CipherState&) = delete;
    void Encrypt(std::uint8_t* data, std::size_t length);
    void Decrypt(std::uint8_t* data, std::size_t length);
    const CipherDescriptor& cipher() const { return cipher_; }

  private:
    const CipherDescriptor& cipher_;
    void* context_;
};

class Ssh1PacketEncoder {
  public:
    // payload: type byte and data.
    SecureBytes Encode(std::span<const std::uint8_t> payload);
    void SetCipher(std::unique_ptr<Ssh1CipherState> cipher) { cipher_ = std::move(cipher); }
    bool encrypting() const { return cipher_ != nullptr; }

  private:
    std::unique_ptr<Ssh1CipherState> cipher_;
};

class Ssh1PacketDecoder {
  public:
    enum class Status { NeedMore, Packet, Rejected };
    enum class Rejection { None, Length, Attack, Crc };

    Status Feed(std::span<const std::uint8_t> input, std::size_t* consumed);
    std::span<const std::uint8_t> payload() const { return payload_; }
    Rejection rejection() const { return rejection_; }
    void SetCipher(std::unique_ptr<Ssh1CipherState> cipher);
    bool midPacket() const { return !buffer_.empty() && state_ != State::Complete; }

  private:
    enum class State { Length, Body, Complete };
    Status Finish();
    Status Reject(Rejection why);

    std::unique_ptr<Ssh1CipherState> cipher_;
    CompensationAttackDetector detector_;
    // The last ciphertext block, the IV of the next packet for the attack screen.
    std::uint8_t lastBlock_[8] = {};
    bool haveLastBlock_ = false;
    State state_ = State::Length;
    SecureBytes buffer_;
    std::size_t wanted_ = 4;
    std::uint32_t length_ = 0;
    std::span<const std::uint8_t> payload_;
    Rejection rejection_ = Rejection::None;
};
