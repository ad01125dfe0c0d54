// A message-only window whose procedure is a lambda, and a millisecond clock,
// for the tests of code that pumps the thread's messages while it waits.
#pragma once

#include <chrono>
#include <functional>
#include <utility>

#include "platform/messages.h"

namespace testsupport {

// Hands every message from WM_USER up to `handler`; the rest go to the default
// procedure.
class TestWindow {
  public:
    using Handler = std::function<LRESULT(UINT message, WPARAM wParam, LPARAM lParam)>;
    explicit TestWindow(Handler handler = nullptr) : handler_(std::move(handler)) {
        window_ = CreateMessageWindow(&TestWindow::Procedure, this);
    }
    ~TestWindow() {
        if (window_ != nullptr) DestroyWindow(window_);
    }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND hwnd() const { return window_; }
    void SetHandler(Handler handler) { handler_ = std::move(handler); }

  private:
    static LRESULT Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self != nullptr && self->handler_ && message >= WM_USER)
            return self->handler_(message, wParam, lParam);
        return DefWindowProcA(window, message, wParam, lParam);
    }
    Handler handler_;
    HWND window_ = nullptr;
};

// Milliseconds since an arbitrary start.
inline long long NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace testsupport
