// Host-window notifications: command events reaching a window procedure, the
// event word, and the shared subclass of the window that receives data-socket
// events.
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
#include "tests/ftp/ftp_test_support.h"

namespace {

using namespace ftptest;

constexpr UINT kNotifyMessage = FTP_NOTIFY_MESSAGE;

struct Notification {
    WPARAM client;
    LPARAM word;
};

std::vector<Notification> notifications;

LRESULT HostProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kNotifyMessage) {
        notifications.push_back({wParam, lParam});
        return 77;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT OtherProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

LPARAM Word(int error, int event) {
    return static_cast<LPARAM>((error << 16) | event);
}

class FtpNotifyTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        notifications.clear();
        window_ = CreateMessageWindow(&HostProcedure, nullptr);
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        DestroyWindow(window_);
        EngineTest::TearDown();
    }

    // A session that is logged in without commands and has learnt nothing yet.
    static SessionSetup Setup(int timeout = 5) {
        return {.options = FTP_OPTION_NOAUTH, .timeout = timeout};
    }

    HWND window_ = nullptr;
};

TEST_F(FtpNotifyTest, EveryReplySendsTheCommandEvent) {
    PeerScript script;
    script.Reply("NOOP", "200 ok\r\n")
        .Reply("DELE x", "550 denied\r\n")
        .Reply("NOOP", "200 ok\r\n");
    PeerSession client(script, Setup());
    ASSERT_EQ(FtpRegisterNotify(client, window_, kNotifyMessage, 0x3C0), 0);

    EXPECT_EQ(FtpCommand(client, "NOOP", nullptr), 200);
    EXPECT_EQ(FtpCommand(client, "DELE", "x"), -1);
    // A line break in a command or an argument sends nothing.
    EXPECT_EQ(FtpCommand(client, "RETR", "a\r\nDELE b"), -1);
    EXPECT_EQ(FtpGetLastError() & 0xFFFF, static_cast<DWORD>(fileErrorInvalidParameter));
    EXPECT_EQ(FtpCommand(client, "NOOP\nDELE b", nullptr), -1);
    ASSERT_EQ(notifications.size(), 2u);
    EXPECT_EQ(notifications[0].client, static_cast<WPARAM>(client));
    EXPECT_EQ(notifications[0].word, Word(0, FTP_EVENT_COMMAND));
    EXPECT_EQ(notifications[1].word, Word(fileErrorAccessDenied, FTP_EVENT_COMMAND));

    // Without the command bit the reply record still changes, silently.
    ASSERT_EQ(FtpRegisterNotify(client, window_, kNotifyMessage, FTP_EVENT_TIMEOUT), 0);
    EXPECT_EQ(FtpCommand(client, "NOOP", nullptr), 200);
    EXPECT_EQ(notifications.size(), 2u);
    EXPECT_EQ(FtpGetResultCode(client), 200);
    EXPECT_EQ(client.Finish(), "NOOP|DELE x|NOOP");
}

TEST_F(FtpNotifyTest, RegistrationRulesAndRaisedEventWords) {
    PeerSession client(PeerScript{}, Setup());
    EXPECT_EQ(FtpRaiseEvent(client, FTP_EVENT_COMMAND, 0), 0);  // nothing registered
    EXPECT_TRUE(
        FailsWith(fileErrorInvalidParameter,
                  FtpRegisterNotify(client, window_, 100, FTP_EVENT_ALL)));  // not a user message
    HWND gone = CreateMessageWindow(&OtherProcedure, nullptr);
    DestroyWindow(gone);
    EXPECT_TRUE(FailsWith(fileErrorInvalidParameter,
                          FtpRegisterNotify(client, gone, kNotifyMessage, FTP_EVENT_ALL)));

    // The error number rides in the high word.
    ASSERT_EQ(FtpRegisterNotify(client, window_, kNotifyMessage, FTP_EVENT_ALL), 0);
    EXPECT_EQ(FtpRaiseEvent(client, FTP_EVENT_COMMAND, MakeErrorCode(12259)), 77);
    ASSERT_EQ(notifications.size(), 1u);
    EXPECT_EQ(notifications[0].word, static_cast<LPARAM>((0x2FE3 << 16) | 256));
    EXPECT_EQ(FtpGetLastError(), MakeErrorCode(12259));

    ASSERT_EQ(FtpRegisterNotify(client, nullptr, 0, 0), 0);
    EXPECT_EQ(FtpRaiseEvent(client, FTP_EVENT_COMMAND, 0), 0);
    EXPECT_EQ(notifications.size(), 1u);
    EXPECT_EQ(FtpRaiseEvent(INVALID_CLIENT, FTP_EVENT_COMMAND, 0), -1);
    // Cancel outside a wait has nothing to end. (Cancel inside one, and the
    // time-out, reach the control's events: tests/control/session_events_test.cpp.)
    EXPECT_TRUE(FailsWith(fileErrorOperationNotBlocking, FtpCancel(INVALID_CLIENT)));
    EXPECT_EQ(client.Finish(), "");
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
    // The sessions end without QUIT: their data sockets are still open.
    const PeerScript script = LoginScript(Setup());
    ScriptedPeer firstPeer(script);
    ScriptedPeer secondPeer(script);
    auto connect = [](const ScriptedPeer& peer) {
        return FtpConnect("127.0.0.1", peer.port(), nullptr, nullptr, 5, FTP_OPTION_NOAUTH,
                          nullptr);
    };
    const FtpClient first = connect(firstPeer);
    const FtpClient second = connect(secondPeer);
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
