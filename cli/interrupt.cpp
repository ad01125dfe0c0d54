#include "cli/interrupt.h"

#include <chrono>

#include "cli/session.h"

namespace {

constexpr UINT kCancelMessage = WM_USER + 1;
constexpr auto kWatchInterval = std::chrono::milliseconds(100);

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) {
    interrupted = 1;
}

}  // namespace

InterruptCancel::InterruptCancel(Session& session) : session_(session) {
    interrupted = 0;
    window_ = CreateMessageWindow(&InterruptCancel::WindowProcedure, this);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previous_);
    watcher_ = std::thread(&InterruptCancel::Watch, this);
}

InterruptCancel::~InterruptCancel() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    watcher_.join();
    sigaction(SIGINT, &previous_, nullptr);
    if (window_) DestroyWindow(window_);
}

bool InterruptCancel::Requested() const {
    return interrupted != 0;
}

void InterruptCancel::CancelIfRequested() {
    if (!Requested() || cancelled_) return;
    cancelled_ = true;
    session_.TryCall("Cancel", {});
}

void InterruptCancel::Watch() {
    bool posted = false;
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!posted && interrupted != 0 && window_) {
            posted = PostMessageA(window_, kCancelMessage, 0, 0) != FALSE;
        }
        wake_.wait_for(lock, kWatchInterval, [this] { return stopping_; });
    }
}

LRESULT InterruptCancel::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kCancelMessage) return DefWindowProcA(window, message, wParam, lParam);
    auto* self = reinterpret_cast<InterruptCancel*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self) self->CancelIfRequested();
    return 0;
}
