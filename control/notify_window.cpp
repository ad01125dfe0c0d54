#include "control/notify_window.h"

#include <mutex>

#include "control/FileTransfer.h"

namespace {

constexpr const char* kWindowClass = "TollaneFileTransferNotify";

CFileTransfer* ControlOf(HWND window) {
    return reinterpret_cast<CFileTransfer*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

LRESULT NotifyProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return TRUE;
    }
    if (message == kNotifyMessage) {
        if (CFileTransfer* control = ControlOf(window)) {
            control->HandleNotification(wParam, lParam);
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterNotifyClass() {
    static std::once_flag once;
    static bool registered = false;
    std::call_once(once, [] {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &NotifyProcedure;
        windowClass.lpszClassName = kWindowClass;
        registered = RegisterClassA(&windowClass) != 0;
    });
    return registered;
}

}  // namespace

HWND CreateNotifyWindow(CFileTransfer& control) {
    if (!RegisterNotifyClass()) return nullptr;
    return CreateWindowExA(0, kWindowClass, "", WS_CHILD, 0, 0, 0, 0, GetDesktopWindow(), nullptr,
                           nullptr, &control);
}

void DestroyNotifyWindow(HWND window) {
    if (!window || !IsWindow(window)) return;
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
}
