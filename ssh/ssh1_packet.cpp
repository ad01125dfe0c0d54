#include "ssh/ssh1_packet.h"

#include <algorithm>
#include <cstring>

#include "crypto/byte_order.h"
#include "crypto/crc32.h"
#include "crypto/random.h"

namespace {

constexpr std::size_t kBlock = 8;

// Bytes after the length field: padding, type, data and CRC, in whole blocks.
std::size_t PaddedLength(std::uint32_t length) {
    return (std::size_t{length} + kBlock) & ~(kBlock - 1);
}

}  // namespace

Ssh1CipherState::Ssh1CipherState(const CipherDescriptor& cipher, std::span<const std::uint8_t> key)
    : cipher_(cipher), context_(cipher.createContext()) {
    const std::uint8_t iv[kBlock] = {};
    cipher_.setKey(context_, key.data());
    cipher_.setIv(context_, iv);
}

Ssh1CipherState::~Ssh1CipherState() {
    cipher_.freeContext(context_);
}

void Ssh1CipherState::Encrypt(std::uint8_t* data, std::size_t length) {
    cipher_.encrypt(context_, data, length);
}

void Ssh1CipherState::Decrypt(std::uint8_t* data, std::size_t length) {
    cipher_.decrypt(context_, data, length);
}

SecureBytes Ssh1PacketEncoder::Encode(std::span<const std::uint8_t> payload) {
    const std::uint32_t length = static_cast<std::uint32_t>(payload.size() + 4);
    const std::size_t padded = PaddedLength(length);
    const std::size_t padding = padded - length;
    SecureBytes packet(4 + padded);
    StoreBe32(packet.data(), length);
    std::uint8_t* body = packet.data() + 4;
    RandomBytes(std::span(body, padding));
    std::copy(payload.begin(), payload.end(), body + padding);
    StoreBe32(body + padded - 4, Crc32Raw(0, body, padded - 4));
    if (cipher_) cipher_->Encrypt(body, padded);
    return packet;
}

void Ssh1PacketDecoder::SetCipher(std::unique_ptr<Ssh1CipherState> cipher) {
    cipher_ = std::move(cipher);
    haveLastBlock_ = false;
}

Ssh1PacketDecoder::Status Ssh1PacketDecoder::Feed(std::span<const std::uint8_t> input,
                                                  std::size_t* consumed) {
    *consumed = 0;
    if (state_ == State::Complete) {
        buffer_.clear();
        payload_ = {};
        state_ = State::Length;
        wanted_ = 4;
    }
    while (*consumed < input.size()) {
        const std::size_t take = std::min(wanted_ - buffer_.size(), input.size() - *consumed);
        buffer_.insert(buffer_.end(), input.begin() + static_cast<std::ptrdiff_t>(*consumed),
                       input.begin() + static_cast<std::ptrdiff_t>(*consumed + take));
        *consumed += take;
        if (buffer_.size() < wanted_) break;
        if (state_ == State::Body) return Finish();
        length_ = LoadBe32(buffer_.data());
        if (length_ < 5 || length_ > kSsh1MaxPacketLength) return Reject(Rejection::Length);
        wanted_ = 4 + PaddedLength(length_);
        state_ = State::Body;
    }
    return Status::NeedMore;
}

Ssh1PacketDecoder::Status Ssh1PacketDecoder::Finish() {
    std::uint8_t* body = buffer_.data() + 4;
    const std::size_t padded = PaddedLength(length_);
    if (cipher_) {
        if (detector_.IsAttack(body, padded, haveLastBlock_ ? lastBlock_ : nullptr))
            return Reject(Rejection::Attack);
        std::memcpy(lastBlock_, body + padded - kBlock, kBlock);
        haveLastBlock_ = true;
        cipher_->Decrypt(body, padded);
    }
    if (Crc32Raw(0, body, padded - 4) != LoadBe32(body + padded - 4)) return Reject(Rejection::Crc);
    const std::size_t padding = padded - length_;
    payload_ = std::span<const std::uint8_t>(body + padding, length_ - 4);
    state_ = State::Complete;
    return Status::Packet;
}

Ssh1PacketDecoder::Status Ssh1PacketDecoder::Reject(Rejection why) {
    rejection_ = why;
    buffer_.clear();
    state_ = State::Length;
    wanted_ = 4;
    return Status::Rejected;
}
