// One SSH session as the SFTP client uses it: connect (transport, authentication,
// session channel with its command) from an SshConfig, wait until the command runs,
// send channel data, read what arrives, end-of-file and close; and, for callers of
// the engine's own API, port, agent and X11 forwarding beside the session channel
// (docs/ssh-forwarding.md). Every wait is bounded by the configured time-out.
// Failures are error numbers with a text.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "ssh/channel.h"
#include "ssh/config.h"
#include "ssh/data_channel.h"
#include "ssh/forwarding.h"
#include "ssh/known_hosts.h"
#include "ssh/link.h"
#include "ssh/ssh1_session.h"
#include "ssh/transport.h"
#include "ssh/userauth.h"

class SshSession final : private SshLink {
  public:
    // Starts the connection and waits until the command runs. 0 with the session
    // in *out, or the error number (network errors of the start, 12226 or 12230
    // for a refused login, 10060 when the time-out passes, the connection's own
    // error when it closes).
    static int Connect(const SshConfig& config, std::unique_ptr<SshSession>* out);

    // Over a connection already started (tests use scripted servers so).
    SshSession(const SshConfig& config, std::unique_ptr<SshConnection> connection);
    ~SshSession() override;
    SshSession(const SshSession&) = delete;
    SshSession& operator=(const SshSession&) = delete;

    // Pumps until the command runs (the ready-to-send flag). 0 or the error number.
    int WaitUntilReady();
    // Queues the data on the channel; what the server's window does not take yet
    // goes out during later waits. false when not ready or after end-of-file.
    bool Send(std::span<const std::uint8_t> data);
    // Pumps until every queued byte has gone out to the connection. false on error.
    bool WaitUntilSent();
    // Waits until data is there and copies up to out.size() bytes: the count, 0 at
    // the end of the data, -1 on error or time-out (see error()).
    long Read(std::span<std::uint8_t> out);
    // Reads exactly out.size() bytes; false at the end of the data or on error.
    bool ReadExactly(std::span<std::uint8_t> out);
    std::size_t buffered() const { return channel_ ? channel_->buffered() : 0; }
    // End-of-file on the channel, remembered until the command runs.
    void SendEof();
    // End-of-file and close, then waits (bounded) until the server has closed too.
    void Close();

    // ---- Forwarding (SSH-2 only; 12201 over SSH-1, 10057 before the login, 10014
    // for a forward without a target host or port) ----
    // One round: waits up to `milliseconds` on the connection and every forwarded
    // socket and services what is ready (the relays run only in rounds like this
    // one, or while another call of this session waits). 0, or the error number
    // once the connection has closed.
    int Pump(int milliseconds);
    // A local listener whose connections are forwarded (see SshLocalForward for
    // the defaults): 0 with the bound port in *port, or the socket error number.
    int ForwardLocal(const SshLocalForward& forward, std::uint16_t* port);
    bool StopForwardLocal(std::uint16_t port);
    // Asks the server to listen ("tcpip-forward") and waits for its answer: 0
    // with the port it listens on, 10013 when it refuses.
    int ForwardRemote(const SshRemoteForward& forward, std::uint16_t* port);
    int CancelForwardRemote(const std::string& bindAddress, std::uint16_t port);
    // A direct-tcpip channel to host:port used as a byte stream by the caller:
    // 0 with its number in *id once the server has opened it, 10013 when the
    // server prohibits it, 10061 when it could not connect (the server's text in
    // errorText()).
    int OpenDirect(const std::string& host, std::uint16_t port, std::uint32_t* id,
                   const std::string& originHost = "127.0.0.1", std::uint16_t originPort = 0);
    // Queues data on the stream; false once it is closed or after its end-of-file.
    bool SendDirect(std::uint32_t id, std::span<const std::uint8_t> data);
    void SendEofDirect(std::uint32_t id);
    // Waits for data as Read does: the count, 0 at the stream's end, -1 on error.
    long ReadDirect(std::uint32_t id, std::span<std::uint8_t> out);
    // Closes the stream and waits (bounded) for the server's close.
    void CloseDirect(std::uint32_t id);
    const SshForwarder* forwarder() const { return forwarder_.get(); }
    SshConnectionLayer* layer() { return layer_.get(); }

    bool ready() const { return channel_ && channel_->ready(); }
    bool closed() const { return connection_->closed(); }
    const SshExit& exit() const;
    // The last failure: its error number (0 none) and text.
    int error() const { return error_; }
    const std::string& errorText() const { return errorText_; }
    SshConnection& connection() { return *connection_; }
    const SshConnection& connection() const { return *connection_; }
    // The channel layer (SSH-2) or the SSH-1 session, once started.
    const SshDataChannel* channel() const { return channel_; }
    const SshUserAuth* userAuth() const { return auth_.get(); }
    // The host-key check of this connection (NotChecked under the Off policy).
    const SshHostKeyVerdict& hostKey() const { return hostKey_; }

  private:
    // SshLink
    bool Send(SshPacket packet) override;
    bool SendTogether(std::vector<SshPacket> packets) override;
    void Fail(int error, std::uint32_t reason, std::string_view description) override;
    void EndLocally(std::string message) override;
    std::size_t OutgoingBlockSize() const override;
    std::uint32_t Workarounds() const override;
    std::span<const std::uint8_t> SessionId() const override;
    const std::vector<std::string>& ServerSignatureAlgorithms() const override;

    // The keys publickey offers: the agent's, then the configured ones not
    // already among them.
    std::vector<std::shared_ptr<SshSigner>> LoginKeys() const;
    // The password and keys are wiped once the login has ended either way.
    void ForgetLoginSecrets();

    std::uint64_t Deadline() const;
    bool StartProtocol();
    bool CheckHostKey();
    bool PumpUntil(std::uint64_t deadline);
    // One wait over the connection and the forwarded sockets, then the packets
    // that came (*handled when there were any) and the relays. false when the
    // connection closed or failed.
    bool PumpRound(int milliseconds, bool* handled = nullptr);
    int RequireForwarding();
    int WaitForAnswer(std::uint64_t ticket);
    void Dispatch(std::span<const std::uint8_t> payload);
    int SetError(int error, std::string text = {});
    int ConnectionError();

    SshConfig config_;
    std::unique_ptr<SshConnection> connection_;
    std::unique_ptr<SshUserAuth> auth_;
    std::unique_ptr<SshConnectionLayer> layer_;
    std::unique_ptr<SshForwarder> forwarder_;
    std::unique_ptr<Ssh1Session> ssh1_;
    SshDataChannel* channel_ = nullptr;
    int error_ = 0;
    std::string errorText_;
    SshHostKeyVerdict hostKey_;
};
