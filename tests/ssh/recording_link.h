// An SshLink that records what authentication and the channels send, for tests
// that feed them hand-made server messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "crypto/sshbuf.h"
#include "ssh/link.h"

namespace testssh {

class RecordingLink : public SshLink {
  public:
    struct Sent {
        SecureBytes payload;
        bool together = false;  // part of one SendTogether call
    };

    bool Send(SshPacket packet) override {
        Record(packet, false);
        return !failed;
    }
    bool SendTogether(std::vector<SshPacket> packets) override {
        ++togetherCalls;
        for (const SshPacket& packet : packets)
            Record(packet, true);
        return !failed;
    }
    void Fail(int error, std::uint32_t reason, std::string_view description) override {
        failed = true;
        failError = error;
        failReason = reason;
        failText = std::string(description);
    }
    void EndLocally(std::string message) override { endedLocally = std::move(message); }
    std::size_t OutgoingBlockSize() const override { return blockSize; }
    std::uint32_t Workarounds() const override { return workarounds; }

    // The sent packets' types.
    std::vector<int> Types() const {
        std::vector<int> types;
        for (const Sent& s : sent)
            types.push_back(s.payload.empty() ? -1 : s.payload[0]);
        return types;
    }
    // A reader past the type byte of sent packet i.
    SshReader Reader(std::size_t i) const {
        return SshReader(std::span<const std::uint8_t>(sent.at(i).payload).subspan(1));
    }
    void Clear() { sent.clear(); }

    std::vector<Sent> sent;
    int togetherCalls = 0;
    bool failed = false;
    int failError = 0;
    std::uint32_t failReason = 0;
    std::string failText;
    std::string endedLocally;
    std::size_t blockSize = 16;
    std::uint32_t workarounds = 0;

  private:
    void Record(const SshPacket& packet, bool together) {
        sent.push_back({SecureBytes(packet.payload().begin(), packet.payload().end()), together});
    }
};

// Builds a server message: type byte, then fields.
class Message {
  public:
    explicit Message(std::uint8_t type) { writer_.PutByte(type); }
    Message& U32(std::uint32_t value) {
        writer_.PutUint32(value);
        return *this;
    }
    Message& Bool(bool value) {
        writer_.PutBool(value);
        return *this;
    }
    Message& Str(std::string_view text) {
        writer_.PutString(text);
        return *this;
    }
    Message& Blob(std::span<const std::uint8_t> bytes) {
        writer_.PutString(bytes);
        return *this;
    }
    std::span<const std::uint8_t> bytes() const { return writer_.data(); }
    operator std::span<const std::uint8_t>() const { return bytes(); }

  private:
    SshWriter writer_;
};

inline std::string ReadText(SshReader& reader) {
    std::string_view text;
    return reader.ReadString(&text) ? std::string(text) : std::string("<missing>");
}

}  // namespace testssh
