// A scripted SSH-2 server for tests. On its own thread, over one end of a socket
// pair, it answers the version exchange and a group-14 key exchange with an RSA host
// key (signed with libcrypto), then runs the test's script of packets under the
// negotiated keys. Every read is bounded; the client end is given to SshConnection.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "crypto/bignum.h"
#include "crypto/sshbuf.h"
#include "ssh/config.h"
#include "ssh/packet.h"

namespace testssh {

class FakeSsh2Server {
  public:
    using Script = std::function<void(FakeSsh2Server&)>;
    struct Received {
        std::uint8_t type;
        std::size_t wireLength;  // bytes on the wire, MAC included
    };

    // Starts the thread: handshake, then the script.
    explicit FakeSsh2Server(Script script);
    ~FakeSsh2Server();
    FakeSsh2Server(const FakeSsh2Server&) = delete;
    FakeSsh2Server& operator=(const FakeSsh2Server&) = delete;

    // The client's socket (owned by the caller after this call).
    int TakeClientSocket();
    // A client configuration that pins what this server speaks.
    static SshConfig ClientConfig(int timeoutSeconds = 5);

    // ---- For the script ----
    // The next packet of the client, ignore messages skipped; nullopt when nothing
    // came within the wait or the client closed.
    std::optional<SecureBytes> Receive(int waitMs = 5000);
    // The next packet of this type; packets of other types are skipped.
    std::optional<SecureBytes> ReceiveType(std::uint8_t type, int waitMs = 5000);
    void Send(std::span<const std::uint8_t> payload);
    void Send(const SshWriter& writer) { Send(writer.data()); }
    void Stall(int ms);
    // Records a problem; Finish() returns the first.
    void Fail(std::string problem);

    // ---- For the test, after the script ran ----
    // Joins the thread; "" when handshake and script ran without problems.
    std::string Finish();
    std::vector<Received> received() const;

  private:
    void Run(Script script);
    bool Handshake();
    bool ReadVersionLine(std::string* line);
    std::optional<SecureBytes> ReadPacket(int waitMs);
    void WriteRaw(std::span<const std::uint8_t> bytes);

    int fds_[2] = {-1, -1};
    bool clientTaken_ = false;
    SshPacketEncoder encoder_;
    SshPacketDecoder decoder_;
    SecureBytes pending_;
    std::size_t wireSincePacket_ = 0;
    mutable std::mutex mutex_;
    std::vector<Received> received_;
    std::string failure_;
    std::thread thread_;
};

}  // namespace testssh
