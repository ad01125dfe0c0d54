// Forwarding through a real OpenSSH sshd: local forwarding (a listener of ours
// and a stream of the caller's), remote forwarding with a port the server chooses
// and its cancel, agent forwarding proven by `ssh-add -l` run at the server, and
// X11 forwarding proven by `xdpyinfo` run at the server against our own Xvfb.
// The shared test instance refuses forwarding, so each test runs a private sshd in
// inetd mode (-i) over one loopback connection, with the shared configuration and
// forwarding allowed in front of it (sshd keeps a keyword's first value). Bytes go
// both ways through many windows and past the channel throttles, checked whole.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "crypto/random.h"
#include "resources/errors.h"
#include "ssh/session.h"
#include "support/child_process.h"
#include "support/loopback_socket.h"
#include "support/server_settings.h"
#include "support/test_files.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kBound = std::chrono::seconds(20);

// A private sshd serving one connection; the session of the test user over it.
class PrivateSshd {
  public:
    // extra: settings ahead of all others (sshd keeps a keyword's first value).
    explicit PrivateSshd(const std::string& config, const std::string& extra = "")
        : folder_("ssh-forwarding") {
        std::ifstream shared(config);
        std::stringstream text;
        text << extra << "AllowTcpForwarding yes\nAllowAgentForwarding yes\nX11Forwarding no\n"
             << shared.rdbuf();
        WriteFile((folder_ / "sshd.conf").string(), text.str());
        int port = 0;
        const int listener = testsupport::ListenOnLoopback(&port);
        if (listener < 0) return;
        client_ = testsupport::ConnectToLoopback(port);
        const int served = ::accept(listener, nullptr, nullptr);
        ::close(listener);
        if (client_ < 0 || served < 0) return;
        sshd_.emplace(std::vector<std::string>{"/usr/sbin/sshd", "-i", "-e", "-f",
                                               (folder_ / "sshd.conf").string()},
                      served, served, log());
        ::close(served);
    }
    ~PrivateSshd() {
        if (client_ >= 0) ::close(client_);
    }
    // Logs the test user in over the private server, running the command.
    std::unique_ptr<SshSession> Login(SshConfig config) {
        if (!sshd_ || !sshd_->running()) return nullptr;
        auto connection = std::make_unique<SshConnection>(config, client_);
        client_ = -1;  // the connection owns it now
        auto session = std::make_unique<SshSession>(config, std::move(connection));
        const int error = session->WaitUntilReady();
        EXPECT_EQ(error, 0) << session->errorText() << "\n" << ReadFile(log());
        return error == 0 ? std::move(session) : nullptr;
    }
    std::string log() const { return (folder_ / "sshd.log").string(); }
    const ScratchFolder& folder() const { return folder_; }

  private:
    ScratchFolder folder_;
    int client_ = -1;
    std::optional<BackgroundProcess> sshd_;
};

SshConfig UserConfig(const std::string& command) {
    SshConfig config;
    config.host = Setting("FT_TEST_HOST");
    config.userName = Setting("FT_TEST_USER");
    config.password = Setting("FT_TEST_PASSWORD");
    config.timeoutSeconds = 10;
    config.remoteCommand = command;
    return config;
}

#define REQUIRE_SSHD()                                                            \
    REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_USER", "FT_TEST_PASSWORD",   \
                            "FT_TEST_SSHD_CONFIG");                               \
    if (::geteuid() != 0 && !InCi()) GTEST_SKIP() << "a private sshd needs root"; \
    RandomStart();                                                                \
    PrivateSshd sshd(Setting("FT_TEST_SSHD_CONFIG"))

// A loopback echo server for one connection: everything read is written back,
// and the end of the input ends the output.
class EchoServer {
  public:
    EchoServer() {
        listener_ = testsupport::ListenOnLoopback(&port_);
        thread_ = std::thread([this] { Run(); });
    }
    ~EchoServer() {
        stop_ = true;
        thread_.join();
        if (listener_ >= 0) ::close(listener_);
    }
    int port() const { return port_; }
    std::size_t echoed() const { return echoed_; }

  private:
    void Run() {
        const auto end = Clock::now() + kBound;
        const int s =
            testsupport::AcceptOne(listener_, [&] { return !stop_ && Clock::now() < end; });
        if (s < 0) return;
        char buffer[65536];
        pollfd waiting{s, POLLIN, 0};
        while (!stop_ && Clock::now() < end) {
            if (::poll(&waiting, 1, 50) <= 0) continue;
            const ssize_t got = ::read(s, buffer, sizeof buffer);
            if (got <= 0) break;
            for (ssize_t put = 0; put < got;) {
                const ssize_t n = ::write(s, buffer + put, static_cast<std::size_t>(got - put));
                if (n <= 0) break;
                put += n;
            }
            echoed_ += static_cast<std::size_t>(got);
        }
        ::shutdown(s, SHUT_WR);
        ::close(s);
    }

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<std::size_t> echoed_{0};
    std::thread thread_;
};

// A client on its own thread: connects to the port, sends the bytes, ends its
// output and collects what comes back until the end.
class EchoClient {
  public:
    EchoClient(int port, std::string bytes) : bytes_(std::move(bytes)) {
        thread_ = std::thread([this, port] { Run(port); });
    }
    ~EchoClient() { thread_.join(); }
    bool done() const { return done_; }
    const std::string& received() const { return received_; }

  private:
    void Run(int port) {
        const int s = testsupport::ConnectToLoopback(port);
        const auto end = Clock::now() + kBound;
        std::size_t sent = 0;
        bool ended = false;
        while (s >= 0 && Clock::now() < end) {
            pollfd fds{s, static_cast<short>(POLLIN | (ended ? 0 : POLLOUT)), 0};
            if (::poll(&fds, 1, 50) <= 0) continue;
            if (fds.revents & POLLIN) {
                char buffer[65536];
                const ssize_t got = ::read(s, buffer, sizeof buffer);
                if (got <= 0) break;
                received_.append(buffer, static_cast<std::size_t>(got));
            }
            if (!ended && (fds.revents & POLLOUT)) {
                const ssize_t n = ::send(s, bytes_.data() + sent,
                                         std::min<std::size_t>(bytes_.size() - sent, 16384),
                                         MSG_DONTWAIT | MSG_NOSIGNAL);
                if (n > 0) sent += static_cast<std::size_t>(n);
                if (sent == bytes_.size()) {
                    ::shutdown(s, SHUT_WR);
                    ended = true;
                }
            }
        }
        if (s >= 0) ::close(s);
        done_ = true;
    }

    std::string bytes_;
    std::string received_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// Pumps the session until the client is done (bounded).
void PumpUntilDone(SshSession& session, const EchoClient& client) {
    const auto end = Clock::now() + kBound;
    while (!client.done() && Clock::now() < end)
        ASSERT_EQ(session.Pump(50), 0) << session.errorText();
}

std::span<const std::uint8_t> Bytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(SshForwardingTest, LocalListenerRelaysBothWaysAndCloses) {
    REQUIRE_SSHD();
    auto session = sshd.Login(UserConfig("cat"));
    ASSERT_TRUE(session);
    EchoServer echo;
    SshLocalForward forward;
    forward.targetHost = "127.0.0.1";
    forward.targetPort = static_cast<std::uint16_t>(echo.port());
    std::uint16_t port = 0;
    ASSERT_EQ(session->ForwardLocal(forward, &port), 0) << session->errorText();
    ASSERT_NE(port, 0);

    // 1 MiB: many of our 256 KiB windows and far past the 32 KiB throttles.
    const std::string bytes = NoiseBytes(1 << 20, 1);
    {
        EchoClient client(port, bytes);
        PumpUntilDone(*session, client);
        ASSERT_TRUE(client.done());
        EXPECT_EQ(client.received().size(), bytes.size());
        EXPECT_TRUE(client.received() == bytes);
    }
    // Both ends closed: the channel goes, the session stays.
    const auto end = Clock::now() + kBound;
    while (session->forwarder()->relayCount() > 0 && Clock::now() < end)
        ASSERT_EQ(session->Pump(50), 0);
    EXPECT_EQ(session->forwarder()->relayCount(), 0u);
    EXPECT_TRUE(session->ready());
}

TEST(SshForwardingTest, DirectStreamAndRefusedTarget) {
    REQUIRE_SSHD();
    auto session = sshd.Login(UserConfig("cat"));
    ASSERT_TRUE(session);
    EchoServer echo;
    std::uint32_t id = 0;
    ASSERT_EQ(session->OpenDirect("127.0.0.1", static_cast<std::uint16_t>(echo.port()), &id), 0)
        << session->errorText();
    const std::string bytes = NoiseBytes(300 * 1024, 2);
    ASSERT_TRUE(session->SendDirect(id, Bytes(bytes)));
    session->SendEofDirect(id);
    std::string back;
    std::vector<std::uint8_t> buffer(40000);
    for (long n; (n = session->ReadDirect(id, buffer)) > 0;)
        back.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(n));
    EXPECT_EQ(back.size(), bytes.size());
    EXPECT_TRUE(back == bytes);
    session->CloseDirect(id);

    // A port nobody listens on: the server says it could not connect.
    int closedPort = 0;
    ::close(testsupport::ListenOnLoopback(&closedPort));
    EXPECT_EQ(session->OpenDirect("127.0.0.1", static_cast<std::uint16_t>(closedPort), &id),
              fileErrorConnectionRefused);
    EXPECT_FALSE(session->errorText().empty());
    EXPECT_TRUE(session->ready());
}

TEST(SshForwardingTest, RemotePortChosenByTheServerRelaysAndCancels) {
    REQUIRE_SSHD();
    auto session = sshd.Login(UserConfig("cat"));
    ASSERT_TRUE(session);
    EchoServer echo;
    SshRemoteForward forward;
    forward.targetPort = static_cast<std::uint16_t>(echo.port());
    std::uint16_t port = 0;
    ASSERT_EQ(session->ForwardRemote(forward, &port), 0) << session->errorText();
    ASSERT_NE(port, 0);

    // The server is local: the test connects to the port it listens on.
    const std::string bytes = NoiseBytes(200 * 1024, 3);
    {
        EchoClient client(port, bytes);
        PumpUntilDone(*session, client);
        EXPECT_TRUE(client.received() == bytes) << client.received().size();
    }
    ASSERT_EQ(session->CancelForwardRemote("127.0.0.1", port), 0) << session->errorText();
    EXPECT_EQ(session->forwarder()->remoteForwardCount(), 0u);
    const int refused = testsupport::ConnectToLoopback(port);
    EXPECT_LT(refused, 0);
    if (refused >= 0) ::close(refused);
    // Cancelling again: the server no longer knows the port.
    EXPECT_EQ(session->CancelForwardRemote("127.0.0.1", port), fileErrorAccessDenied);
}

// The command's output up to its end; the session is closed after it.
std::string OutputToTheEnd(SshSession& session) {
    std::string output;
    std::vector<std::uint8_t> buffer(4096);
    long n = 0;
    while ((n = session.Read(buffer)) > 0)
        output.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(n));
    EXPECT_EQ(n, 0) << session.errorText();
    session.Close();
    return output;
}

// A display of our own: Xvfb on a display number it chooses, open only to its
// cookie (MIT-MAGIC-COOKIE-1), on its Unix socket.
class VirtualDisplay {
  public:
    explicit VirtualDisplay(const ScratchFolder& folder) {
        cookie_ = NoiseBytes(16, 7);
        std::string hex;
        for (unsigned char byte : cookie_) {
            static const char kHex[] = "0123456789abcdef";
            hex += kHex[byte >> 4];
            hex += kHex[byte & 15];
        }
        const std::string auth = (folder / "display.auth").string();
        // The cookie is written before the server reads it (once, at its start).
        if (std::system(("xauth -q -f " + auth + " add :0 . " + hex + " 2>/dev/null").c_str()) != 0)
            return;
        int numbers[2];  // inherited: Xvfb writes its display number to the pipe
        if (::pipe(numbers) != 0) return;
        xvfb_.emplace(
            std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", std::to_string(numbers[1]),
                                     "-auth", auth, "-nolisten", "tcp"},
            -1, -1, (folder / "xvfb.log").string());
        ::close(numbers[1]);
        std::string number;
        pollfd waiting{numbers[0], POLLIN, 0};
        const auto end = Clock::now() + std::chrono::seconds(10);
        while (number.find('\n') == std::string::npos && Clock::now() < end) {
            if (::poll(&waiting, 1, 100) <= 0) continue;
            char buffer[16];
            const ssize_t n = ::read(numbers[0], buffer, sizeof buffer);
            if (n <= 0) break;
            number.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(numbers[0]);
        if (number.find('\n') != std::string::npos)
            socket_ = "/tmp/.X11-unix/X" + number.substr(0, number.find('\n'));
    }
    const std::string& socket() const { return socket_; }
    const std::string& cookie() const { return cookie_; }

  private:
    std::optional<BackgroundProcess> xvfb_;
    std::string socket_;
    std::string cookie_;
};

// xdpyinfo run at the server draws on our Xvfb through the forwarded display, with
// either fake protocol: sshd hands the fake data to the server's xauth, the X
// library sends it (XDM-AUTHORIZATION-1 wrapped with its address, port and clock),
// and we check it and pass the display's own cookie on in its place.
TEST(SshForwardingTest, X11ClientsAtTheServerReachTheLocalDisplay) {
    for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/xdpyinfo", "/usr/bin/xauth"})
        if (!std::filesystem::exists(tool)) {
            if (InCi()) FAIL() << tool << " missing; run scripts/deps.sh";
            GTEST_SKIP() << tool << " is not installed";
        }
    REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_USER", "FT_TEST_PASSWORD",
                            "FT_TEST_SSHD_CONFIG");
    if (::geteuid() != 0 && !InCi()) GTEST_SKIP() << "a private sshd needs root";
    RandomStart();
    ScratchFolder folder("x11");
    VirtualDisplay display(folder);
    ASSERT_FALSE(display.socket().empty()) << ReadFile((folder / "xvfb.log").string());
    // The server's xauth writes the fake data into a file of this test's, which
    // the test user (the server's side of the session) must be able to write.
    const std::string authority = (folder / "Xauthority").string();
    const std::string xauth = (folder / "xauth").string();
    WriteFile(xauth, "#!/bin/sh\nexec /usr/bin/xauth -f " + authority + " \"$@\"\n", 0755);
    std::filesystem::permissions(folder.path(), std::filesystem::perms::all);
    // An IPv4 display address, which XDM-AUTHORIZATION-1 needs.
    const std::string command = "xauth -f " + authority + " list | cut -d' ' -f3; XAUTHORITY=" +
                                authority +
                                " DISPLAY=127.0.0.1:${DISPLAY#*:} xdpyinfo 2>&1 | grep vendor";

    for (SshX11Protocol protocol :
         {SshX11Protocol::MitMagicCookie, SshX11Protocol::XdmAuthorization}) {
        const bool xdm = protocol == SshX11Protocol::XdmAuthorization;
        SCOPED_TRACE(xdm ? "XDM-AUTHORIZATION-1" : "MIT-MAGIC-COOKIE-1");
        PrivateSshd sshd(Setting("FT_TEST_SSHD_CONFIG"),
                         "X11Forwarding yes\nXAuthLocation " + xauth + "\n");
        SshConfig config = UserConfig(command);
        config.forwardX11 = true;
        config.x11FakeProtocol = protocol;
        config.x11Socket = display.socket();
        config.x11Cookie = display.cookie();
        auto session = sshd.Login(config);
        ASSERT_TRUE(session);
        const std::string output = OutputToTheEnd(*session);
        EXPECT_EQ(output.substr(0, output.find('\n')),
                  xdm ? "XDM-AUTHORIZATION-1" : "MIT-MAGIC-COOKIE-1");
        EXPECT_NE(output.find("vendor string:"), std::string::npos)
            << ReadFile(sshd.log());
    }
}

// The server's `ssh-add -l` reaches our agent (an empty one answers that it has
// no identities; without forwarding it could not connect at all).
TEST(SshForwardingTest, AgentChannelsReachTheLocalAgent) {
    REQUIRE_SSHD();
    const std::string socket = (sshd.folder() / "agent.sock").string();
    BackgroundProcess agent({"ssh-agent", "-D", "-a", socket});
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (!std::filesystem::exists(socket) && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    auto run = [&](PrivateSshd& server, bool forwarding) {
        SCOPED_TRACE(forwarding ? "forwarded" : "not forwarded");
        SshConfig config = UserConfig("ssh-add -l 2>&1");
        config.forwardAgent = forwarding;
        config.agentSocket = socket;
        auto session = server.Login(config);
        ASSERT_TRUE(session);
        const std::string output = OutputToTheEnd(*session);
        if (forwarding) {
            EXPECT_EQ(output, "The agent has no identities.\n");
            EXPECT_EQ(session->exit().status, 1u);
        } else {
            EXPECT_NE(output.find("Could not open a connection"), std::string::npos) << output;
            EXPECT_EQ(session->exit().status, 2u);
        }
    };
    run(sshd, true);
    PrivateSshd other(Setting("FT_TEST_SSHD_CONFIG"));
    run(other, false);
}

}  // namespace
