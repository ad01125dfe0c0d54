// An in-memory SFTP peer for the client's tests: every packet the client sends is
// parsed and handed to the test's handler, whose replies are queued for the
// client to read. Reads never block: when the queue runs dry the read fails as a
// time-out would, so a missing reply ends the test at once.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "resources/errors.h"
#include "ssh/sftp.h"
#include "ssh/sftp_link.h"
#include "ssh/sftp_wire.h"

struct FakeRequest {
    std::uint8_t type = 0;
    std::uint32_t id = 0;
    std::vector<std::uint8_t> payload;  // the fields after the id
    SshReader Fields() const { return SshReader(payload); }
    std::string FirstString() const {
        SshReader reader(payload);
        std::string_view text;
        EXPECT_TRUE(reader.ReadString(&text));
        return std::string(text);
    }
};

class FakeSftpPeer {
  public:
    using Handler = std::function<void(const FakeRequest&, FakeSftpPeer&)>;

    // REALPATH is answered with the path itself ("." with the home directory)
    // unless the handler resolves paths on its own.
    std::string home = "/home/u";
    bool handlerResolves = false;
    std::uint32_t version = 3;
    std::vector<std::pair<std::string, std::string>> versionExtensions;  // name, data
    Handler onExtended;  // SSH_FXP_EXTENDED before a handler is set
    Handler handler;
    // Called when the client waits for more than is queued (a server that answers
    // late); may queue more.
    std::function<void(FakeSftpPeer&)> onStarve;
    std::vector<FakeRequest> seen;
    std::vector<std::uint8_t> incoming;  // what the client will read

    void Raw(std::vector<std::uint8_t> bytes) {
        incoming.insert(incoming.end(), bytes.begin(), bytes.end());
    }
    void Packet(SftpWriter& writer) {
        auto bytes = writer.Finish();
        incoming.insert(incoming.end(), bytes.begin(), bytes.end());
    }
    void Status(std::uint32_t id, std::uint32_t code) {
        SftpWriter w(SSH_FXP_STATUS);
        w.Uint32(id).Uint32(code).String("").String("");
        Packet(w);
    }
    void Handle(std::uint32_t id, std::string_view handle) {
        SftpWriter w(SSH_FXP_HANDLE);
        w.Uint32(id).String(handle);
        Packet(w);
    }
    void Name(std::uint32_t id, std::string_view name, const SftpAttributes& attributes = {}) {
        SftpWriter w(SSH_FXP_NAME);
        w.Uint32(id).Uint32(1).String(name).String(name).Attributes(attributes);
        Packet(w);
    }
    void Attrs(std::uint32_t id, const SftpAttributes& attributes) {
        SftpWriter w(SSH_FXP_ATTRS);
        w.Uint32(id).Attributes(attributes);
        Packet(w);
    }
    void Data(std::uint32_t id, std::span<const std::uint8_t> data) {
        SftpWriter w(SSH_FXP_DATA);
        w.Uint32(id).Bytes(data);
        Packet(w);
    }

    void Receive(std::span<const std::uint8_t> data) {
        outgoing_.insert(outgoing_.end(), data.begin(), data.end());
        while (outgoing_.size() >= 4) {
            const std::uint32_t length = std::uint32_t(outgoing_[0]) << 24 |
                                         std::uint32_t(outgoing_[1]) << 16 |
                                         std::uint32_t(outgoing_[2]) << 8 | outgoing_[3];
            if (outgoing_.size() < 4 + length) return;
            std::vector<std::uint8_t> packet(outgoing_.begin() + 4, outgoing_.begin() + 4 + length);
            outgoing_.erase(outgoing_.begin(), outgoing_.begin() + 4 + length);
            Dispatch(packet);
        }
    }

  private:
    void Dispatch(const std::vector<std::uint8_t>& packet) {
        FakeRequest request;
        request.type = packet[0];
        if (request.type == SSH_FXP_INIT) {
            SftpWriter w(SSH_FXP_VERSION);
            w.Uint32(version);
            for (const auto& [name, data] : versionExtensions)
                w.String(name).String(data);
            Packet(w);
            return;
        }
        SshReader reader(packet);
        std::uint8_t type = 0;
        EXPECT_TRUE(reader.ReadByte(&type));
        EXPECT_TRUE(reader.ReadUint32(&request.id));
        request.payload.assign(packet.begin() + 5, packet.end());
        seen.push_back(request);
        if (!handler && onExtended && request.type == SSH_FXP_EXTENDED) {
            onExtended(request, *this);
            return;
        }
        if ((!handler || !handlerResolves) && request.type == SSH_FXP_REALPATH) {
            const std::string path = request.FirstString();
            Name(request.id, path == "." ? home : path);
            return;
        }
        if (handler) handler(request, *this);
    }

    std::vector<std::uint8_t> outgoing_;
};

class FakeSftpLink final : public SftpChannelLink {
  public:
    explicit FakeSftpLink(std::shared_ptr<FakeSftpPeer> peer) : peer_(std::move(peer)) {}
    bool Send(std::span<const std::uint8_t> data) override {
        peer_->Receive(data);
        return true;
    }
    bool ReadExactly(std::span<std::uint8_t> out) override {
        auto& in = peer_->incoming;
        if (in.size() < out.size() && peer_->onStarve) peer_->onStarve(*peer_);
        if (in.size() < out.size()) {
            error_ = fileErrorOperationTimeout;
            return false;
        }
        std::copy(in.begin(), in.begin() + static_cast<long>(out.size()), out.begin());
        in.erase(in.begin(), in.begin() + static_cast<long>(out.size()));
        return true;
    }
    int error() const override { return error_; }
    void Close() override {}

  private:
    std::shared_ptr<FakeSftpPeer> peer_;
    int error_ = 0;
};

// A session over a fresh peer; the handler is installed after the start.
struct FakeSession {
    std::shared_ptr<FakeSftpPeer> peer = std::make_shared<FakeSftpPeer>();
    SftpSession* session = nullptr;
    DWORD error = 0;

    FakeSession() { session = SftpConnectOver(std::make_unique<FakeSftpLink>(peer), &error); }
    ~FakeSession() {
        if (session) SftpDisconnect(session);
    }
    FakeSftpPeer& operator*() { return *peer; }
    FakeSftpPeer* operator->() { return peer.get(); }
};

inline int LastErrorNumber(SftpSession* session) {
    return static_cast<int>(SftpGetLastError(session) & 0xFFFF);
}
