// Host-window notifications: command, time-out and cancel events reaching a
// window procedure, the event word, cancellation from inside a wait, and the
// shared subclass of the window that receives data-socket events.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "ftp/engine.h"
#include "ftp/ftp.h"
#include "ftp/notify.h"
#include "platform/messages.h"
#include "resources/errors.h"
#include "support/scripted_peer.h"

namespace {

using testsupport::PeerScript;
using testsupport::ScriptedPeer;

constexpr UINT kNotifyMessage = FTP_NOTIFY_MESSAGE;
constexpr UINT kCancelRequest = WM_USER + 7;

struct Notification {
    WPARAM client;
    LPARAM word;
};

std::vector<Notification> notifications;
FtpClient clientToCancel = INVALID_CLIENT;

LRESULT HostProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kNotifyMessage) {
        notifications.push_back({wParam, lParam});
        return 77;
    }
    if (message == kCancelRequest) {
        FtpCancel(clientToCancel);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT OtherProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

LPARAM Word(int error, int event) {
    return static_cast<LPARAM>((error << 16) | event);
}

class FtpNotifyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(FtpInitialize(nullptr), 1);
        notifications.clear();
        window_ = CreateMessageWindow(&HostProcedure, nullptr);
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        DestroyWindow(window_);
        FtpUninitialize();
    }

    // A session that is logged in without commands and has learnt nothing yet.
    static PeerScript ConnectedScript() {
        PeerScript script;
        script.Send("220 ready\r\n")
            .Reply("PWD", "257 \"/\"\r\n")
            .Reply("SYST", "215 UNIX\r\n")
            .Reply("FEAT", "211 no features\r\n")
            .Reply("TYPE I", "200 ok\r\n");
        return script;
    }
    static PeerScript& Quit(PeerScript& script) { return script.Reply("QUIT", "221 bye\r\n"); }
    static FtpClient Connect(const ScriptedPeer& peer, int timeout = 5) {
        return FtpConnect("127.0.0.1", peer.port(), nullptr, nullptr, timeout, FTP_OPTION_NOAUTH,
                          nullptr);
    }

    HWND window_ = nullptr;
};

TEST_F(FtpNotifyTest, EveryReplySendsTheCommandEvent) {
    PeerScript script = ConnectedScript();
    script.Reply("NOOP", "200 ok\r\n")
        .Reply("DELE x", "550 denied\r\n")
        .Reply("NOOP", "200 ok\r\n");
    ScriptedPeer peer(Quit(script));
    FtpClient client = Connect(peer);
    ASSERT_NE(client, INVALID_CLIENT);
    ASSERT_EQ(FtpRegisterNotify(client, window_, kNotifyMessage, 0x3C0), 0);

    EXPECT_EQ(FtpCommand(client, "NOOP", nullptr), 200);
    EXPECT_EQ(FtpCommand(client, "DELE", "x"), -1);
    ASSERT_EQ(notifications.size(), 2u);
    EXPECT_EQ(notifications[0].client, static_cast<WPARAM>(client));
    EXPECT_EQ(notifications[0].word, Word(0, FTP_EVENT_COMMAND));
    EXPECT_EQ(notifications[1].word, Word(fileErrorAccessDenied, FTP_EVENT_COMMAND));

    // Without the command bit the reply record still changes, silently.
    ASSERT_EQ(FtpRegisterNotify(client, window_, kNotifyMessage, FTP_EVENT_TIMEOUT), 0);
    EXPECT_EQ(FtpCommand(client, "NOOP", nullptr), 200);
    EXPECT_EQ(notifications.size(), 2u);
    EXPECT_EQ(FtpGetResultCode(client), 200);
    FtpDisconnect(client);
}

TEST_F(FtpNotifyTest, RaiseEventCarriesTheErrorNumberInTheHighWord) {
    PeerScript script = ConnectedScript();
    ScriptedPeer peer(Quit(script));
    FtpClient client = Connect(peer);
    ASSERT_NE(client, INVALID_CLIENT);
    EXPECT_EQ(FtpRaiseEvent(client, FTP_EVENT_COMMAND, 0), 0);  // nothing registered
    ASSERT_EQ(FtpRegisterNotify(client, window_, kNotifyMessage, FTP_EVENT_ALL), 0);
    EXPECT_EQ(FtpRaiseEvent(client, FTP_EVENT_COMMAND, MakeErrorCode(12259)), 77);
    ASSERT_EQ(notifications.size(), 1u);
    EXPECT_EQ(notifications[0].word, static_cast<LPARAM>((0x2FE3 << 16) | 256));
    EXPECT_EQ(FtpGetLastError(), MakeErrorCode(12259));

    ASSERT_EQ(FtpRegisterNotify(client, nullptr, 0, 0), 0);
    EXPECT_EQ(FtpRaiseEvent(client, FTP_EVENT_COMMAND, 0), 0);
    EXPECT_EQ(notifications.size(), 1u);
    EXPECT_EQ(FtpRaiseEvent(INVALID_CLIENT, FTP_EVENT_COMMAND, 0), -1);
    FtpDisconnect(client);
}

TEST_F(FtpNotifyTest, RegistrationNeedsAWindowAndAUserMessage) {
    PeerScript script = ConnectedScript();
    ScriptedPeer peer(Quit(script));
    FtpClient client = Connect(peer);
    ASSERT_NE(client, INVALID_CLIENT);
    EXPECT_EQ(FtpRegisterNotify(client, window_, 100, FTP_EVENT_ALL), -1);
    EXPECT_EQ(FtpGetLastError(), MakeErrorCode(fileErrorInvalidParameter));
    HWND gone = CreateMessageWindow(&OtherProcedure, nullptr);
    DestroyWindow(gone);
    EXPECT_EQ(FtpRegisterNotify(client, gone, kNotifyMessage, FTP_EVENT_ALL), -1);
    EXPECT_EQ(FtpGetLastError(), MakeErrorCode(fileErrorInvalidParameter));
    FtpDisconnect(client);
}

TEST_F(FtpNotifyTest, CancelFromAHandlerEndsTheWait) {
    PeerScript script = ConnectedScript();
    // The peer never answers NOOP; the QUIT after the cancel gets the reply.
    script.Expect("NOOP");
    ScriptedPeer peer(Quit(script));
    FtpClient client = Connect(peer, 10);
    ASSERT_NE(client, INVALID_CLIENT);
    ASSERT_EQ(FtpRegisterNotify(client, window_, kNotifyMessage, 0x3C0), 0);
    clientToCancel = client;
    std::thread poster([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        PostMessageA(window_, kCancelRequest, 0, 0);
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FtpCommand(client, "NOOP", nullptr), -1);
    auto elapsed = std::chrono::steady_clock::now() - start;
    poster.join();
    EXPECT_EQ(FtpGetLastError(), MakeErrorCode(fileErrorOperationCanceled));
    EXPECT_LT(elapsed, std::chrono::milliseconds(2500));
    ASSERT_EQ(notifications.size(), 1u);
    EXPECT_EQ(notifications[0].word, Word(fileErrorOperationCanceled, FTP_EVENT_CANCEL));
    EXPECT_EQ(FtpCancel(INVALID_CLIENT), -1);  // not inside a wait now
    EXPECT_EQ(FtpGetLastError(), MakeErrorCode(fileErrorOperationNotBlocking));
    FtpDisconnect(client);
}

TEST_F(FtpNotifyTest, TimeOutSendsTheTimeoutEvent) {
    PeerScript script = ConnectedScript();
    script.Expect("NOOP");
    ScriptedPeer peer(Quit(script));
    FtpClient client = Connect(peer, 1);
    ASSERT_NE(client, INVALID_CLIENT);
    ASSERT_EQ(FtpRegisterNotify(client, window_, kNotifyMessage, 0x3C0), 0);
    EXPECT_EQ(FtpCommand(client, "NOOP", nullptr), -1);
    EXPECT_EQ(FtpGetLastError(), MakeErrorCode(fileErrorOperationTimeout));
    ASSERT_EQ(notifications.size(), 1u);
    EXPECT_EQ(notifications[0].word, Word(fileErrorOperationTimeout, FTP_EVENT_TIMEOUT));
    FtpDisconnect(client);
}

// Gives the session a data socket so that its socket events can be switched on.
int AttachDataSocket(FtpClient client) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return -1;
    ftp::SessionRef session = ftp::LookupSession(client);
    session->dataSocket.Reset(pair[0]);
    return pair[1];
}

TEST_F(FtpNotifyTest, SessionsShareOneSubclassOfTheirWindow) {
    PeerScript script = ConnectedScript();
    ScriptedPeer firstPeer(Quit(script));
    ScriptedPeer secondPeer(script);
    FtpClient first = Connect(firstPeer);
    FtpClient second = Connect(secondPeer);
    ASSERT_NE(first, INVALID_CLIENT);
    ASSERT_NE(second, INVALID_CLIENT);
    int firstPeerEnd = AttachDataSocket(first);
    int secondPeerEnd = AttachDataSocket(second);
    LONG_PTR original = GetWindowLongPtrA(window_, GWLP_WNDPROC);

    ASSERT_EQ(FtpRegisterNotify(first, window_, kNotifyMessage, FTP_EVENT_ALL), 0);
    ASSERT_EQ(FtpRegisterNotify(second, window_, kNotifyMessage, FTP_EVENT_ALL), 0);
    EXPECT_EQ(ftp::SubclassCount(), 1u);
    EXPECT_NE(GetWindowLongPtrA(window_, GWLP_WNDPROC), original);

    // Data arriving on the data socket becomes a read event for the host.
    ASSERT_EQ(::write(firstPeerEnd, "x", 1), 1);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (notifications.empty() && std::chrono::steady_clock::now() < until) {
        NetPumpAsyncEvents();
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(notifications.empty());
    EXPECT_EQ(notifications[0].client, static_cast<WPARAM>(first));
    EXPECT_EQ(notifications[0].word, Word(0, FTP_EVENT_READ));

    // The window gets its procedure back only when the last user lets go.
    FtpDisconnect(first);
    EXPECT_NE(GetWindowLongPtrA(window_, GWLP_WNDPROC), original);
    ASSERT_EQ(FtpRegisterNotify(second, nullptr, 0, 0), 0);
    EXPECT_EQ(GetWindowLongPtrA(window_, GWLP_WNDPROC), original);
    EXPECT_EQ(ftp::SubclassCount(), 0u);
    FtpDisconnect(second);
    ::close(firstPeerEnd);
    ::close(secondPeerEnd);
}

}  // namespace
