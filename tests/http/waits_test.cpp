// Waits and handles: a cancel ends a wait from another thread or from a window
// handler inside it, handles belong to their thread, and connects with bad
// arguments say why. (A stalled body's time-out is download_test.cpp's.)
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "tests/http/http_test_support.h"

namespace {

using namespace httptest;
using Clock = std::chrono::steady_clock;

using HttpWaitTest = HttpTest;

// A response header, then nothing of the announced body.
PeerScript StallInBody(int ms) {
    PeerScript script;
    script.Expect("GET ").Send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n").Stall(ms).Close();
    return script;
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST_F(HttpWaitTest, ACancelFromAnotherThreadEndsTheWait) {
    EventWindow events;
    PeerClient client(StallInBody(4000), {.options = HTTP_OPTION_FREETHREAD, .timeout = 10});
    ASSERT_EQ(HttpRegisterNotify(client, events.handle(), kEventMessage, kCallEvents), 0);
    EXPECT_EQ(HttpSendRequest(client, "GET", "/"), 200);
    std::thread canceller([handle = HttpClient(client)] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        HttpCancel(handle);
    });
    char buffer[16];
    const auto start = Clock::now();
    EXPECT_TRUE(FailsWith(fileErrorOperationCanceled, HttpRecv(client, buffer, sizeof buffer)));
    canceller.join();
    EXPECT_LT(SecondsSince(start), 2.5);
    EXPECT_EQ(EventWindow::Of(HTTP_EVENT_CANCEL),
              std::vector<DWORD>{EventWindow::Word(fileErrorOperationCanceled, HTTP_EVENT_CANCEL)});
}

// A message handler that runs inside the wait cancels it at once.
TEST_F(HttpWaitTest, ACancelFromAHandlerInsideTheWaitEndsItAtOnce) {
    static HttpClient target = INVALID_HTTP_CLIENT;
    constexpr UINT kCancelMessage = WM_USER + 7;
    HWND window = CreateMessageWindow(
        [](HWND w, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
            if (message == kCancelMessage) return HttpCancel(target);
            return DefWindowProcA(w, message, wParam, lParam);
        },
        nullptr);
    ScriptedPeer peer(StallInBody(4000));
    target = ConnectTo(peer, {.timeout = 10});
    ASSERT_NE(target, INVALID_HTTP_CLIENT);
    EXPECT_EQ(HttpSendRequest(target, "GET", "/"), 200);
    std::thread poster([window] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        PostMessageA(window, kCancelMessage, 0, 0);
    });
    char buffer[16];
    const auto start = Clock::now();
    EXPECT_TRUE(FailsWith(fileErrorOperationCanceled, HttpRecv(target, buffer, sizeof buffer)));
    poster.join();
    EXPECT_LT(SecondsSince(start), 1.5);
    // Without a blocking call there is nothing to cancel for the thread.
    EXPECT_TRUE(FailsWith(fileErrorOperationNotBlocking, HttpCancel(INVALID_HTTP_CLIENT)));
    HttpDisconnect(target);
    DestroyWindow(window);
}

TEST_F(HttpWaitTest, HandlesBelongToTheirThreadUnlessFreeThreaded) {
    PeerScript script;
    script.ReadToEnd();
    ScriptedPeer peer(std::vector<PeerScript>{script, script});
    HttpClient owned = ConnectTo(peer);
    HttpClient shared = ConnectTo(peer, {.options = HTTP_OPTION_FREETHREAD});
    ASSERT_NE(owned, INVALID_HTTP_CLIENT);
    ASSERT_NE(shared, INVALID_HTTP_CLIENT);
    EXPECT_NE(owned, shared);
    std::atomic<int> ownedResult{0}, ownedError{0}, sharedResult{0}, cancelResult{-1};
    std::atomic<int> statusResult{-1}, statusError{0};
    std::thread other([&] {
        ownedResult = HttpGetPriority(owned);
        ownedError = static_cast<int>(HttpGetLastError() & 0xFFFF);
        HttpTransferStatus status{};
        statusResult = HttpGetTransferStatus(owned, &status);
        statusError = static_cast<int>(HttpGetLastError() & 0xFFFF);
        sharedResult = HttpSetPriority(shared, HTTP_PRIORITY_HIGH);
        cancelResult = HttpCancel(owned);  // allowed from any thread
    });
    other.join();
    EXPECT_EQ(ownedResult, -1);
    EXPECT_EQ(ownedError, fileErrorNotHandleOwner);
    EXPECT_EQ(statusResult, 0);
    EXPECT_EQ(statusError, fileErrorNotHandleOwner);
    EXPECT_EQ(sharedResult, HTTP_PRIORITY_NORMAL);
    EXPECT_EQ(HttpGetPriority(shared), HTTP_PRIORITY_HIGH);
    EXPECT_EQ(cancelResult, 0);
    EXPECT_TRUE(FailsWith(fileErrorInvalidParameter, HttpSetPriority(shared, 5)));
    EXPECT_TRUE(FailsWith(fileErrorInvalidHandle, HttpGetPriority(12345)));
    // HTTP handles have a range of their own, apart from FTP's (from 4096).
    EXPECT_GE(owned, 0x40000000u);
    EXPECT_LT(owned, 0x40000000u + 256u + 256u);
    // A freed slot is the next one taken.
    HttpDisconnect(owned);
    EXPECT_TRUE(FailsWith(fileErrorInvalidHandle, HttpGetPriority(owned)));
    ScriptedPeer again(script);
    EXPECT_EQ(ConnectTo(again), owned);
    HttpDisconnect(owned);
    HttpDisconnect(shared);
}

// A refused connection is the control's (tests/control/connect_choice_test.cpp)
// and the asynchronous mode's (tests/integration/http_server_test.cpp).
TEST_F(HttpWaitTest, ConnectsWithBadArgumentsReportTheCause) {
    EXPECT_EQ(HttpConnect(HTTP_PROXY_NONE, nullptr, 0, nullptr, nullptr, "", 80, 2, 0,
                          HTTP_VERSION_11, nullptr),
              INVALID_HTTP_CLIENT);
    EXPECT_EQ(HttpGetLastError(), MakeErrorCode(fileErrorInvalidHostName));
    EXPECT_EQ(HttpConnect(7, "p", 1, nullptr, nullptr, "h", 80, 2, 0, HTTP_VERSION_11, nullptr),
              INVALID_HTTP_CLIENT);
    EXPECT_EQ(HttpGetLastError(), MakeErrorCode(fileErrorInvalidProxyType));
    EXPECT_EQ(HttpConnect(HTTP_PROXY_TUNNEL, "127.0.0.1", 443, nullptr, nullptr, "h", 443, 2,
                          HTTP_OPTION_SECURE, HTTP_VERSION_11, nullptr),
              INVALID_HTTP_CLIENT);
    EXPECT_EQ(HttpGetLastError(), MakeErrorCode(fileErrorInvalidServicePort));
    EXPECT_EQ(HttpConnect(HTTP_PROXY_TUNNEL, "127.0.0.1", 8888, nullptr, nullptr, "h", 80, 2, 0,
                          HTTP_VERSION_09, nullptr),
              INVALID_HTTP_CLIENT);
    EXPECT_EQ(HttpGetLastError(), MakeErrorCode(fileErrorInvalidParameter));
}

TEST_F(HttpWaitTest, EventsReachCallbacksAndTheWindowOnlyForTheMask) {
    PeerScript script;
    script.ReadToEnd();
    EventWindow events;
    PeerClient client(script);
    static std::vector<DWORD> called;
    called.clear();
    auto record = [](HttpClient, DWORD event, DWORD error, void* user) {
        called.push_back((error << 16) | event | (user ? 0x8000 : 0));
    };
    int marker = 0;
    ASSERT_EQ(HttpRegisterNotify(client, events.handle(), kEventMessage, HTTP_EVENT_PROGRESS), 0);
    ASSERT_EQ(HttpSetEventCallback(client, HTTP_EVENT_TIMEOUT, record, &marker), 0);
    EXPECT_TRUE(FailsWith(fileErrorInvalidParameter,
                          HttpSetEventCallback(client, HTTP_EVENT_TIMEOUT | 1, record, nullptr)));
    EXPECT_EQ(HttpRaiseEvent(client, HTTP_EVENT_TIMEOUT, MakeErrorCode(fileErrorOperationTimeout)),
              0);
    EXPECT_EQ(HttpRaiseEvent(client, HTTP_EVENT_COMMAND, 0), 0);  // not in the mask
    EXPECT_EQ(HttpRaiseEvent(client, HTTP_EVENT_PROGRESS, 0), 0);
    EXPECT_EQ(called,
              (std::vector<DWORD>{EventWindow::Word(fileErrorOperationTimeout, HTTP_EVENT_TIMEOUT) |
                                  0x8000}));
    EXPECT_EQ(EventWindow::Words(),
              (std::vector<DWORD>{EventWindow::Word(fileErrorOperationTimeout, HTTP_EVENT_TIMEOUT),
                                  EventWindow::Word(0, HTTP_EVENT_PROGRESS)}));
    EXPECT_TRUE(FailsWith(fileErrorInvalidParameter,
                          HttpRegisterNotify(client, events.handle(), 100, HTTP_EVENT_PROGRESS)));
    EXPECT_EQ(HttpRegisterNotify(client, nullptr, 0, 0), 0);
    EXPECT_EQ(HttpRaiseEvent(client, HTTP_EVENT_TIMEOUT, 0), 0);
    EXPECT_EQ(called.size(), 1u);
}

}  // namespace
