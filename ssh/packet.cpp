#include "ssh/packet.h"

#include <algorithm>

#include "crypto/byte_order.h"
#include "crypto/random.h"

SshPacket::SshPacket(std::uint8_t type) : type_(type) {
    const std::uint8_t header[kHeaderLength] = {};
    writer_.PutBytes(header);
    writer_.PutByte(type);
}

SshPacket& SshPacket::PutByte(std::uint8_t value) {
    writer_.PutByte(value);
    return *this;
}
SshPacket& SshPacket::PutBool(bool value) {
    writer_.PutBool(value);
    return *this;
}
SshPacket& SshPacket::PutUint32(std::uint32_t value) {
    writer_.PutUint32(value);
    return *this;
}
SshPacket& SshPacket::PutString(std::string_view text) {
    writer_.PutString(text);
    return *this;
}
SshPacket& SshPacket::PutString(std::span<const std::uint8_t> bytes) {
    writer_.PutString(bytes);
    return *this;
}
SshPacket& SshPacket::PutMpint(const BigNum& value) {
    writer_.PutMpint(value);
    return *this;
}
SshPacket& SshPacket::Reserve(std::size_t fieldBytes) {
    // Padding is at most 255 bytes, a MAC at most 64.
    writer_.Reserve(writer_.size() + fieldBytes + 255 + 64);
    return *this;
}
SshPacket& SshPacket::PutBytes(std::span<const std::uint8_t> bytes) {
    writer_.PutBytes(bytes);
    return *this;
}

std::span<const std::uint8_t> SshPacket::payload() const {
    return writer_.data().subspan(kHeaderLength);
}

// ---- Direction keys -----------------------------------------------------------------

SshDirectionKeys::SshDirectionKeys(const CipherDescriptor* cipher,
                                   std::span<const std::uint8_t> key,
                                   std::span<const std::uint8_t> iv, const MacDescriptor* mac,
                                   std::span<const std::uint8_t> macKey, bool encryptThenMac)
    : cipher_(cipher), mac_(mac) {
    if (cipher_) {
        cipherContext_ = cipher_->createContext();
        cipher_->setKey(cipherContext_, key.data());
        cipher_->setIv(cipherContext_, iv.data());
    }
    if (mac_) {
        macContext_ = mac_->createContext();
        mac_->setKey(macContext_, macKey.data());
    }
    if (cipher_ || mac_)
        mode_ = encryptThenMac ? SshPacketMode::EncryptThenMac : SshPacketMode::MacThenEncrypt;
}

SshDirectionKeys::SshDirectionKeys(const AeadDescriptor* aead, std::span<const std::uint8_t> key,
                                   std::span<const std::uint8_t> iv)
    : mode_(SshPacketMode::Aead), aead_(aead) {
    aeadContext_ = aead_->createContext();
    aead_->setKey(aeadContext_, key.data(), iv.data());
}

SshDirectionKeys::~SshDirectionKeys() {
    if (cipherContext_) cipher_->freeContext(cipherContext_);
    if (aeadContext_) aead_->freeContext(aeadContext_);
    if (macContext_) mac_->freeContext(macContext_);
}

std::size_t SshDirectionKeys::blockSize() const {
    const std::size_t block = aead_ ? aead_->blockSize : cipher_ ? cipher_->blockSize : 0;
    return std::max<std::size_t>(block, 8);
}

std::size_t SshDirectionKeys::macLength() const {
    return aead_ ? aead_->tagLength : mac_ ? mac_->tagLength : 0;
}

void SshDirectionKeys::Encrypt(std::uint8_t* data, std::size_t length) {
    if (cipher_) cipher_->encrypt(cipherContext_, data, length);
}

void SshDirectionKeys::Decrypt(std::uint8_t* data, std::size_t length) {
    if (cipher_) cipher_->decrypt(cipherContext_, data, length);
}

void SshDirectionKeys::Sign(std::uint32_t sequence, std::uint8_t* packet, std::size_t length) {
    if (mac_) mac_->generate(macContext_, sequence, packet, length);
}

bool SshDirectionKeys::Verify(std::uint32_t sequence, const std::uint8_t* packet,
                              std::size_t length) {
    return mac_ == nullptr || mac_->verify(macContext_, sequence, packet, length);
}

std::uint32_t SshDirectionKeys::PacketLength(std::uint32_t sequence, const std::uint8_t* first4) {
    return aead_->packetLength(aeadContext_, sequence, first4);
}

void SshDirectionKeys::Seal(std::uint32_t sequence, std::uint8_t* packet, std::size_t length) {
    aead_->seal(aeadContext_, sequence, packet, length);
}

bool SshDirectionKeys::Open(std::uint32_t sequence, std::uint8_t* packet, std::size_t length) {
    return aead_->open(aeadContext_, sequence, packet, length);
}

// ---- Encoder ------------------------------------------------------------------------

SshPacketEncoder::SshPacketEncoder() : keys_(std::make_unique<SshDirectionKeys>()) {}
SshPacketEncoder::~SshPacketEncoder() = default;

namespace {

// The compression stream a direction needs under its keys: started afresh at
// each key change, the delayed kind only once the login was accepted.
template <typename Stream>
bool StartCompression(Stream& stream, const SshDirectionKeys& keys, bool authenticated) {
    const SshCompression kind = keys.compression();
    if (kind == SshCompression::Zlib || (kind == SshCompression::Delayed && authenticated))
        return stream.Start();
    stream.Stop();
    return true;
}

}  // namespace

void SshPacketEncoder::SetKeys(std::unique_ptr<SshDirectionKeys> keys) {
    keys_ = std::move(keys);
    StartCompression(deflater_, *keys_, authenticated_);
}

void SshPacketEncoder::EnableDelayedCompression() {
    authenticated_ = true;
    if (!deflater_.active()) StartCompression(deflater_, *keys_, authenticated_);
}

SecureBytes SshPacketEncoder::Encode(SshPacket packet) {
    SecureBytes buffer = packet.TakeBuffer();
    if (keys_->compression() != SshCompression::None && !deflater_.active() &&
        (keys_->compression() == SshCompression::Zlib || authenticated_)) {
        return {};  // the stream could not start
    }
    if (deflater_.active()) {
        SecureBytes compressed;
        const auto payload =
            std::span<const std::uint8_t>(buffer).subspan(SshPacket::kHeaderLength);
        if (!deflater_.Compress(payload, compressed, SshPacket::kHeaderLength)) return {};
        buffer = std::move(compressed);
    }
    const std::size_t block = keys_->blockSize();
    // Where the length field stands apart, it is not part of the block multiple.
    const std::size_t apart = keys_->lengthApart() ? 4 : 0;
    std::size_t padding = kSshMinPadding;
    padding += (block - (buffer.size() - apart + padding) % block) % block;

    const std::size_t packetLength = buffer.size() + padding;
    buffer.resize(packetLength + keys_->macLength());
    RandomBytes(std::span(buffer).subspan(packetLength - padding, padding));
    StoreBe32(buffer.data(), static_cast<std::uint32_t>(packetLength - 4));
    buffer[4] = static_cast<std::uint8_t>(padding);

    switch (keys_->mode()) {
        case SshPacketMode::Plain:
        case SshPacketMode::MacThenEncrypt:
            keys_->Sign(sequence_, buffer.data(), packetLength);
            keys_->Encrypt(buffer.data(), packetLength);
            break;
        case SshPacketMode::EncryptThenMac:
            keys_->Encrypt(buffer.data() + 4, packetLength - 4);
            keys_->Sign(sequence_, buffer.data(), packetLength);
            break;
        case SshPacketMode::Aead:
            keys_->Seal(sequence_, buffer.data(), packetLength);
            break;
    }
    ++sequence_;
    return buffer;
}

// ---- Decoder ------------------------------------------------------------------------

SshPacketDecoder::SshPacketDecoder() : keys_(std::make_unique<SshDirectionKeys>()) {}
SshPacketDecoder::~SshPacketDecoder() = default;

void SshPacketDecoder::SetKeys(std::unique_ptr<SshDirectionKeys> keys) {
    keys_ = std::move(keys);
    StartCompression(inflater_, *keys_, authenticated_);
}

void SshPacketDecoder::EnableDelayedCompression() {
    authenticated_ = true;
    if (!inflater_.active()) StartCompression(inflater_, *keys_, authenticated_);
}

SshPacketDecoder::Status SshPacketDecoder::Feed(std::span<const std::uint8_t> input,
                                                std::size_t* consumed) {
    *consumed = 0;
    if (state_ == State::Complete) {
        buffer_.clear();
        payload_ = {};
        state_ = State::FirstBlock;
    }
    if (state_ == State::FirstBlock && buffer_.empty()) {
        wanted_ = FirstBlockLength();
        rejection_ = Rejection::None;
    }
    while (*consumed < input.size()) {
        const std::size_t take = std::min(wanted_ - buffer_.size(), input.size() - *consumed);
        AppendBytes(buffer_, input.subspan(*consumed, take));
        *consumed += take;
        if (buffer_.size() < wanted_) break;
        const Status status = state_ == State::FirstBlock ? CheckHeader() : Finish();
        if (status != Status::NeedMore) return status;
    }
    return Status::NeedMore;
}

SshPacketDecoder::Status SshPacketDecoder::CheckHeader() {
    const std::size_t first = FirstBlockLength();
    switch (keys_->mode()) {
        case SshPacketMode::Plain:
        case SshPacketMode::MacThenEncrypt:
            keys_->Decrypt(buffer_.data(), first);
            packetLength_ = LoadBe32(buffer_.data());
            break;
        case SshPacketMode::EncryptThenMac:
            packetLength_ = LoadBe32(buffer_.data());
            break;
        case SshPacketMode::Aead:
            packetLength_ = keys_->PacketLength(sequence_, buffer_.data());
            break;
    }
    if (packetLength_ > kSshMaxPacketLength) return Reject(Rejection::Length);
    // The padding length is readable now only where the first block was decrypted.
    if (!keys_->lengthApart() && !PaddingFits()) return Reject(Rejection::Padding);
    const std::size_t total = std::size_t{packetLength_} + 4;
    const std::size_t multiple = keys_->lengthApart() ? packetLength_ : total;
    if (packetLength_ < 8 || multiple % keys_->blockSize() != 0 || total < first)
        return Reject(Rejection::BlockMultiple);
    wanted_ = total + keys_->macLength();
    buffer_.reserve(wanted_);
    state_ = State::Rest;
    return buffer_.size() < wanted_ ? Status::NeedMore : Finish();
}

bool SshPacketDecoder::PaddingFits() const {
    const std::uint8_t padding = buffer_[4];
    return padding >= kSshMinPadding && padding < packetLength_;
}

SshPacketDecoder::Status SshPacketDecoder::Finish() {
    const std::size_t first = FirstBlockLength();
    const std::size_t total = std::size_t{packetLength_} + 4;
    switch (keys_->mode()) {
        case SshPacketMode::Plain:
        case SshPacketMode::MacThenEncrypt:
            keys_->Decrypt(buffer_.data() + first, total - first);
            if (!keys_->Verify(sequence_, buffer_.data(), total)) return Reject(Rejection::Mac);
            break;
        case SshPacketMode::EncryptThenMac:
            if (!keys_->Verify(sequence_, buffer_.data(), total)) return Reject(Rejection::Mac);
            keys_->Decrypt(buffer_.data() + 4, total - 4);
            break;
        case SshPacketMode::Aead:
            if (!keys_->Open(sequence_, buffer_.data(), total)) return Reject(Rejection::Mac);
            break;
    }
    if (keys_->lengthApart() && !PaddingFits()) return Reject(Rejection::Padding);
    const std::size_t padding = buffer_[4];
    payload_ = std::span<const std::uint8_t>(buffer_).subspan(5, packetLength_ - padding - 1);
    if (inflater_.active()) {
        if (!inflater_.Inflate(payload_, inflated_)) return Reject(Rejection::Compression);
        payload_ = inflated_;
    }
    ++sequence_;
    state_ = State::Complete;
    return Status::Packet;
}

SshPacketDecoder::Status SshPacketDecoder::Reject(Rejection why) {
    rejection_ = why;
    buffer_.clear();
    state_ = State::FirstBlock;
    wanted_ = FirstBlockLength();
    return Status::Rejected;
}
