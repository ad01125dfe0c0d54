#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/lasterror.h"
#include "platform/messages.h"
#include "platform/system.h"

namespace {

using namespace std::chrono_literals;

constexpr UINT WM_TEST = WM_USER + 1;
constexpr UINT WM_OTHER = WM_USER + 2;

// What a window procedure saw; reached through GWLP_USERDATA.
struct Log {
    std::vector<std::string> calls;
    std::vector<UINT> messages;
    DWORD thread = 0;
};

Log* LogOf(HWND hwnd) {
    return reinterpret_cast<Log*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

LRESULT BaseProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    if (Log* log = LogOf(hwnd)) {
        log->calls.push_back("base");
        log->messages.push_back(message);
        log->thread = GetCurrentThreadId();
    }
    return static_cast<LRESULT>(wParam) * 2;
}

// Pumps the calling thread until WM_QUIT; returns the quit code.
int Pump() {
    MSG msg;
    BOOL got;
    while ((got = GetMessageA(&msg, nullptr, 0, 0)) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return got == 0 ? static_cast<int>(msg.wParam) : -1;
}

// A thread with one window that pumps until told to quit.
class WindowThread {
  public:
    explicit WindowThread(WNDPROC procedure = BaseProc) {
        std::promise<void> ready;
        auto started = ready.get_future();
        thread_ = std::thread([this, procedure, &ready] {
            threadId_ = GetCurrentThreadId();
            hwnd_ = CreateMessageWindow(procedure, &log_);
            ready.set_value();
            Pump();
        });
        EXPECT_EQ(started.wait_for(5s), std::future_status::ready);
    }
    ~WindowThread() {
        PostThreadMessageA(threadId_, WM_QUIT, 0, 0);  // ends GetMessage like PostQuitMessage
        thread_.join();
    }
    HWND hwnd() const { return hwnd_; }
    DWORD id() const { return threadId_; }
    Log& log() { return log_; }

  private:
    Log log_;
    HWND hwnd_ = nullptr;
    std::atomic<DWORD> threadId_{0};
    std::thread thread_;
};

// Drains the calling thread's queue.
void DrainQueue() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

TEST(SendAndPost, PostWaitsForTheRetrievalAndFiltersSelect) {
    Log log;
    HWND hwnd = CreateMessageWindow(BaseProc, &log);
    ASSERT_TRUE(PostMessageA(hwnd, WM_TEST, 1, 0));
    ASSERT_TRUE(PostMessageA(hwnd, WM_OTHER, 2, 0));
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_TEST, 3, 0));
    EXPECT_TRUE(log.messages.empty());

    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.wParam, 1u);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_OTHER, WM_OTHER, PM_REMOVE));  // skips the first
    EXPECT_EQ(msg.wParam, 2u);
    ASSERT_TRUE(PeekMessageA(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE));  // thread only
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(msg.wParam, 3u);
    ASSERT_TRUE(PeekMessageA(&msg, hwnd, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 1u);
    EXPECT_EQ(DispatchMessageA(&msg), 2);
    EXPECT_EQ(log.messages, std::vector<UINT>{WM_TEST});
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    DestroyWindow(hwnd);
}

TEST(SendAndPost, SendFromAnotherThreadRunsOnTheOwnerAndWaits) {
    WindowThread owner;
    DWORD_PTR result = 0;
    ASSERT_TRUE(SendMessageTimeoutA(owner.hwnd(), WM_TEST, 50, 0, SMTO_NORMAL, 5000, &result));
    EXPECT_EQ(result, 100u);
    // The call has completed, so the owner's record is final.
    EXPECT_EQ(owner.log().thread, owner.id());
    EXPECT_NE(owner.log().thread, GetCurrentThreadId());
    EXPECT_EQ(SendMessageA(owner.hwnd(), WM_TEST, 4, 0), 8);
}

// The other thread's procedure sends back to the main thread's window while
// the main thread is blocked in its own send: that must not deadlock.
HWND g_mainWindow = nullptr;
LRESULT SendsBackProc(HWND, UINT message, WPARAM wParam, LPARAM) {
    if (message != WM_TEST) return 0;
    return SendMessageA(g_mainWindow, WM_OTHER, wParam + 1, 0) + 1;
}

TEST(SendAndPost, BlockedSenderServesMessagesSentToItself) {
    Log log;
    g_mainWindow = CreateMessageWindow(BaseProc, &log);
    WindowThread other(SendsBackProc);
    DWORD_PTR result = 0;
    ASSERT_TRUE(SendMessageTimeoutA(other.hwnd(), WM_TEST, 10, 0, SMTO_NORMAL, 5000, &result));
    EXPECT_EQ(result, 23u);  // (10 + 1) * 2 + 1
    ASSERT_EQ(log.messages, std::vector<UINT>{WM_OTHER});
    EXPECT_EQ(log.thread, GetCurrentThreadId());
    DestroyWindow(g_mainWindow);
}

// ----- subclassing --------------------------------------------------------------

WNDPROC g_innerPrevious = nullptr;
WNDPROC g_outerPrevious = nullptr;

LRESULT InnerSubclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    LogOf(hwnd)->calls.push_back("inner");
    return CallWindowProcA(g_innerPrevious, hwnd, message, wParam + 1, lParam);
}

LRESULT OuterSubclass(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    LogOf(hwnd)->calls.push_back("outer");
    if (message == WM_OTHER) return -5;  // handled here, not passed on
    return CallWindowProcA(g_outerPrevious, hwnd, message, wParam * 10, lParam);
}

TEST(Subclassing, ChainPassesMessagesDownAndCanBeUndone) {
    Log log;
    HWND hwnd = CreateMessageWindow(BaseProc, &log);
    g_innerPrevious = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(InnerSubclass)));
    EXPECT_EQ(g_innerPrevious, BaseProc);
    g_outerPrevious = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OuterSubclass)));
    EXPECT_EQ(g_outerPrevious, InnerSubclass);

    EXPECT_EQ(SendMessageA(hwnd, WM_TEST, 2, 0), 42);  // (2 * 10 + 1) * 2
    EXPECT_EQ(log.calls, (std::vector<std::string>{"outer", "inner", "base"}));

    // Posted messages go through the chain too.
    log.calls.clear();
    PostMessageA(hwnd, WM_OTHER, 0, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, hwnd, 0, 0, PM_REMOVE));
    EXPECT_EQ(DispatchMessageA(&msg), -5);
    EXPECT_EQ(log.calls, std::vector<std::string>{"outer"});

    // Unhooking the outer one puts the inner one back in front.
    SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_outerPrevious));
    log.calls.clear();
    EXPECT_EQ(SendMessageA(hwnd, WM_TEST, 2, 0), 6);
    EXPECT_EQ(log.calls, (std::vector<std::string>{"inner", "base"}));
    DestroyWindow(hwnd);
}

TEST(Subclassing, WindowDataSlots) {
    WNDCLASSA cls{};
    cls.lpfnWndProc = DefWindowProcA;
    cls.cbWndExtra = 2 * sizeof(LONG_PTR);
    cls.lpszClassName = "TestExtraClass";
    ASSERT_NE(RegisterClassA(&cls), 0);
    EXPECT_EQ(RegisterClassA(&cls), 0);
    EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
    HWND hwnd = CreateWindowExA(0, "testextraCLASS", "", WS_CHILD, 0, 0, 0, 0, GetDesktopWindow(),
                                nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(SetWindowLongPtrA(hwnd, sizeof(LONG_PTR), 77), 0);
    EXPECT_EQ(GetWindowLongPtrA(hwnd, sizeof(LONG_PTR)), 77);
    EXPECT_EQ(GetWindowLongPtrA(hwnd, 2 * sizeof(LONG_PTR)), 0);  // past the extra bytes
    EXPECT_NE(GetLastError(), ERROR_SUCCESS);
    SendMessageA(hwnd, WM_CLOSE, 0, 0);  // the default procedure destroys it
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_TRUE(UnregisterClassA("TestExtraClass", nullptr));
}

// ----- creation ----------------------------------------------------------------------

LRESULT CreationProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    if (message == WM_CREATE) {
        auto* refuse = reinterpret_cast<bool*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        return *refuse ? -1 : 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

TEST(Creation, CreateMessagesCarryTheParameterAndMayRefuse) {
    WNDCLASSA cls{};
    cls.lpfnWndProc = CreationProc;
    cls.lpszClassName = "TestCreationClass";
    ASSERT_NE(RegisterClassA(&cls), 0);
    bool refuse = false;
    HWND hwnd = CreateWindowExA(0, "TestCreationClass", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                nullptr, &refuse);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(GetWindowLongPtrA(hwnd, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&refuse));
    DestroyWindow(hwnd);
    refuse = true;
    EXPECT_EQ(CreateWindowExA(0, "TestCreationClass", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              nullptr, &refuse),
              nullptr);
    EXPECT_EQ(
        CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr),
        nullptr);
    UnregisterClassA("TestCreationClass", nullptr);
}

// ----- quit -----------------------------------------------------------------------------

// WM_QUIT comes after every posted message, once; a peek that does not remove
// it leaves it whatever the filter.
TEST(Quit, DeliveredAfterThePostedMessagesAndOnlyOnce) {
    Log log;
    HWND hwnd = CreateMessageWindow(BaseProc, &log);
    PostMessageA(hwnd, WM_TEST, 1, 0);
    PostQuitMessage(3);
    PostMessageA(hwnd, WM_OTHER, 2, 0);  // posted after the quit, still retrieved before it
    EXPECT_EQ(Pump(), 3);
    EXPECT_EQ(log.messages, (std::vector<UINT>{WM_TEST, WM_OTHER}));
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));  // retrieved once
    DestroyWindow(hwnd);

    PostQuitMessage(1);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE));  // filters ignored
    EXPECT_EQ(msg.message, WM_QUIT);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

// ----- destruction -------------------------------------------------------------------

TEST(Destruction, MessagesToADestroyedWindowAreDropped) {
    Log log;
    HWND hwnd = CreateMessageWindow(BaseProc, &log);
    PostMessageA(hwnd, WM_TEST, 0, 0);
    ASSERT_TRUE(DestroyWindow(hwnd));
    EXPECT_EQ(log.messages, (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
    EXPECT_FALSE(IsWindow(hwnd));
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(PostMessageA(hwnd, WM_TEST, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(SendMessageA(hwnd, WM_TEST, 5, 0), 0);
    EXPECT_EQ(log.messages.size(), 2u);
    EXPECT_FALSE(DestroyWindow(hwnd));
    EXPECT_EQ(GetWindowThreadProcessId(hwnd, nullptr), 0u);
}

// A thread's windows go with it; only the owner thread may destroy one.
TEST(Destruction, WindowsBelongToTheirThread) {
    HWND gone = nullptr;
    std::thread([&] { gone = CreateMessageWindow(BaseProc, nullptr); }).join();
    ASSERT_NE(gone, nullptr);
    EXPECT_FALSE(IsWindow(gone));
    WindowThread owner;
    EXPECT_FALSE(DestroyWindow(owner.hwnd()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(IsWindow(owner.hwnd()));
}

// ----- waiting ----------------------------------------------------------------------

bool Readable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN);
}

TEST(Waiting, WakeDescriptorFollowsTheQueue) {
    DrainQueue();
    int fd = GetThreadMessageWaitFd();
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(Readable(fd, 0));
    DWORD me = GetCurrentThreadId();
    std::thread poster([me] {
        Sleep(20);
        PostThreadMessageA(me, WM_TEST, 0, 0);
    });
    EXPECT_TRUE(Readable(fd, 5000));  // woken by another thread's post
    poster.join();
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_TRUE(Readable(fd, 0));  // still there
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(Readable(fd, 0));
    PostQuitMessage(0);
    EXPECT_TRUE(Readable(fd, 0));
    DrainQueue();
    EXPECT_FALSE(Readable(fd, 0));
    EXPECT_FALSE(PostThreadMessageA(0x7FFFFFF0, WM_TEST, 0, 0));  // an unknown thread
    EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
}

}  // namespace
