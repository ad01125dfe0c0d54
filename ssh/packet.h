// The SSH-2 binary packet protocol: a packet builder that frames in place, the
// keys of one direction, and the encoder and decoder that apply them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "crypto/aead.h"
#include "crypto/bignum.h"
#include "crypto/cipher.h"
#include "crypto/mac.h"
#include "crypto/sshbuf.h"
#include "ssh/compression.h"

// Largest packet length field accepted from the server.
constexpr std::uint32_t kSshMaxPacketLength = 35000;
constexpr std::size_t kSshMinPadding = 4;

// A message being built: the five header bytes (length, padding length) are
// reserved in front of the payload so that framing, MAC and encryption work on
// the one buffer.
class SshPacket {
  public:
    static constexpr std::size_t kHeaderLength = 5;

    explicit SshPacket(std::uint8_t type);
    SshPacket(SshPacket&&) = default;
    SshPacket& operator=(SshPacket&&) = default;

    SshPacket& PutByte(std::uint8_t value);
    SshPacket& PutBool(bool value);
    SshPacket& PutUint32(std::uint32_t value);
    SshPacket& PutString(std::string_view text);
    SshPacket& PutString(std::span<const std::uint8_t> bytes);
    SshPacket& PutMpint(const BigNum& value);
    SshPacket& PutBytes(std::span<const std::uint8_t> bytes);
    // Makes room for this many bytes of fields and the encoder's padding and MAC,
    // so that a bulk packet is built and sealed in one buffer without moves.
    SshPacket& Reserve(std::size_t fieldBytes);

    std::uint8_t type() const { return type_; }
    // Type byte and fields.
    std::span<const std::uint8_t> payload() const;

    // Hands the buffer (header room and payload) to the encoder.
    SecureBytes TakeBuffer() { return writer_.Take(); }

  private:
    SshWriter writer_;
    std::uint8_t type_;
};

// How a direction protects its packets.
enum class SshPacketMode {
    Plain,           // before the first keys
    MacThenEncrypt,  // the MAC covers the plain packet; the length is encrypted
    EncryptThenMac,  // "-etm@openssh.com": the length stays plain, the MAC covers the ciphertext
    Aead,            // an authenticated cipher (ChaCha20-Poly1305, AES-GCM)
};

// The cipher and MAC (or the authenticated cipher) of one direction with their
// keyed contexts. Released contexts are wiped by their descriptors.
class SshDirectionKeys {
  public:
    SshDirectionKeys() = default;
    // Key, IV and MAC key are taken from the starts of the given spans, which
    // must hold at least the descriptors' lengths.
    SshDirectionKeys(const CipherDescriptor* cipher, std::span<const std::uint8_t> key,
                     std::span<const std::uint8_t> iv, const MacDescriptor* mac,
                     std::span<const std::uint8_t> macKey, bool encryptThenMac = false);
    SshDirectionKeys(const AeadDescriptor* aead, std::span<const std::uint8_t> key,
                     std::span<const std::uint8_t> iv);
    ~SshDirectionKeys();
    SshDirectionKeys(const SshDirectionKeys&) = delete;
    SshDirectionKeys& operator=(const SshDirectionKeys&) = delete;

    SshPacketMode mode() const { return mode_; }
    // The payload compression negotiated with these keys.
    SshCompression compression() const { return compression_; }
    void SetCompression(SshCompression compression) { compression_ = compression; }
    const CipherDescriptor* cipher() const { return cipher_; }
    const AeadDescriptor* aead() const { return aead_; }
    const MacDescriptor* mac() const { return mac_; }
    bool encrypting() const { return mode_ != SshPacketMode::Plain; }
    // The length field is outside the block multiple (and readable before the rest).
    bool lengthApart() const {
        return mode_ == SshPacketMode::EncryptThenMac || mode_ == SshPacketMode::Aead;
    }
    // What the packet (length field included unless lengthApart) is a multiple of: at least 8.
    std::size_t blockSize() const;
    // The MAC or the authentication tag after each packet.
    std::size_t macLength() const;

    void Encrypt(std::uint8_t* data, std::size_t length);
    void Decrypt(std::uint8_t* data, std::size_t length);
    void Sign(std::uint32_t sequence, std::uint8_t* packet, std::size_t length);
    bool Verify(std::uint32_t sequence, const std::uint8_t* packet, std::size_t length);
    // Authenticated ciphers: see AeadDescriptor.
    std::uint32_t PacketLength(std::uint32_t sequence, const std::uint8_t* first4);
    void Seal(std::uint32_t sequence, std::uint8_t* packet, std::size_t length);
    bool Open(std::uint32_t sequence, std::uint8_t* packet, std::size_t length);

  private:
    SshPacketMode mode_ = SshPacketMode::Plain;
    SshCompression compression_ = SshCompression::None;
    const CipherDescriptor* cipher_ = nullptr;
    void* cipherContext_ = nullptr;
    const AeadDescriptor* aead_ = nullptr;
    void* aeadContext_ = nullptr;
    const MacDescriptor* mac_ = nullptr;
    void* macContext_ = nullptr;
};

class SshPacketEncoder {
  public:
    SshPacketEncoder();
    ~SshPacketEncoder();

    // Compresses, frames, pads, signs and encrypts the packet; returns the bytes
    // for the wire, or nothing when compression failed.
    SecureBytes Encode(SshPacket packet);
    // Takes effect from the next packet, with a new compression stream.
    void SetKeys(std::unique_ptr<SshDirectionKeys> keys);
    // The server accepted the login: delayed compression starts with the next packet.
    void EnableDelayedCompression();
    const SshDirectionKeys& keys() const { return *keys_; }
    std::uint32_t sequence() const { return sequence_; }
    // The strict key exchange starts again at zero after each NEWKEYS.
    void ResetSequence() { sequence_ = 0; }
    bool cbcActive() const {
        return keys_->mode() == SshPacketMode::MacThenEncrypt && keys_->cipher()->cbc;
    }

  private:
    std::unique_ptr<SshDirectionKeys> keys_;
    std::uint32_t sequence_ = 0;
    SshZlibStream deflater_{SshZlibStream::Role::Deflate};
    bool authenticated_ = false;
};

class SshPacketDecoder {
  public:
    enum class Status { NeedMore, Packet, Rejected };
    enum class Rejection { None, Length, Padding, BlockMultiple, Mac, Compression };

    SshPacketDecoder();
    ~SshPacketDecoder();

    // Consumes bytes from the input until one packet is complete or rejected, or
    // the input is used up; *consumed tells how many bytes were taken.
    Status Feed(std::span<const std::uint8_t> input, std::size_t* consumed);
    // The payload (type byte and fields) of the packet that Feed just completed.
    std::span<const std::uint8_t> payload() const { return payload_; }
    Rejection rejection() const { return rejection_; }
    // Takes effect from the next packet, with a new compression stream.
    void SetKeys(std::unique_ptr<SshDirectionKeys> keys);
    // The login was accepted: delayed compression starts with the next packet.
    void EnableDelayedCompression();
    const SshDirectionKeys& keys() const { return *keys_; }
    std::uint32_t sequence() const { return sequence_; }
    void ResetSequence() { sequence_ = 0; }
    // True while part of a packet has been received.
    bool midPacket() const { return !buffer_.empty() && state_ != State::Complete; }

  private:
    enum class State { FirstBlock, Rest, Complete };
    // What must be read before the length is known: the first cipher block, or
    // just the length field where it stands apart.
    std::size_t FirstBlockLength() const { return keys_->lengthApart() ? 4 : keys_->blockSize(); }
    Status CheckHeader();
    bool PaddingFits() const;
    Status Finish();
    Status Reject(Rejection why);

    std::unique_ptr<SshDirectionKeys> keys_;
    std::uint32_t sequence_ = 0;
    State state_ = State::FirstBlock;
    SecureBytes buffer_;
    std::size_t wanted_ = 0;
    std::uint32_t packetLength_ = 0;
    std::span<const std::uint8_t> payload_;
    Rejection rejection_ = Rejection::None;
    SshZlibStream inflater_{SshZlibStream::Role::Inflate};
    SecureBytes inflated_;
    bool authenticated_ = false;
};
