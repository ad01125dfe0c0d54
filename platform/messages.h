// Per-thread message queues and windows. A window belongs to the thread that
// created it; its procedure runs on that thread only. Posted messages wait in
// the owner's queue; a message sent from another thread is handed to the owner
// and the sender blocks until the owner has processed it (while it waits, it
// still serves messages sent to its own windows).
#pragma once

#include "platform/wintypes.h"

struct HWND__;
using HWND = HWND__*;
using HMENU = void*;

using WNDPROC = LRESULT (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

struct POINT {
    LONG x;
    LONG y;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
using LPMSG = MSG*;

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_NCCREATE = 0x0081;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;
constexpr UINT PM_NOYIELD = 0x0002;

constexpr int GWLP_WNDPROC = -4;
constexpr int GWLP_HINSTANCE = -6;
constexpr int GWLP_ID = -12;
constexpr int GWLP_USERDATA = -21;

constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_POPUP = 0x80000000;

// Parent for windows that only receive messages.
inline HWND const HWND_MESSAGE = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-3));

struct WNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;  // bytes readable with Get/SetWindowLongPtr at offsets >= 0
    HINSTANCE hInstance;
    HANDLE hIcon;
    HANDLE hCursor;
    HANDLE hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
};

struct CREATESTRUCTA {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
};

// Classes are process-wide and named case-insensitively.
ATOM RegisterClassA(const WNDCLASSA* windowClass);
BOOL UnregisterClassA(LPCSTR className, HINSTANCE instance);

// Sends WM_NCCREATE and WM_CREATE (lParam = CREATESTRUCTA*); creation fails
// when WM_NCCREATE answers 0 or WM_CREATE answers -1. Position, size, styles
// and the parent are kept but have no effect.
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
// A message-only window with its own procedure and GWLP_USERDATA preset. No
// creation messages are sent, so the procedure need not answer them.
HWND CreateMessageWindow(WNDPROC procedure, void* userData);
// Owner thread only: sends WM_DESTROY and WM_NCDESTROY, then the handle is
// invalid and messages still queued for it are dropped.
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
// The owner thread's id (0 for an invalid window); processId may be null.
DWORD GetWindowThreadProcessId(HWND window, DWORD* processId);
HWND GetDesktopWindow();

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
constexpr UINT SMTO_NORMAL = 0x0000;
constexpr UINT SMTO_BLOCK = 0x0001;
// As SendMessageA with a limit in milliseconds; 0 on time-out (ERROR_TIMEOUT)
// or invalid window.
LRESULT SendMessageTimeoutA(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
                            UINT timeoutMs, DWORD_PTR* result);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Queues a message without a window to a thread that has a message queue
// (a thread gets one when it first uses any of these functions).
BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
// WM_QUIT is delivered after the posted messages already queued.
void PostQuitMessage(int exitCode);

// window: null = any window of this thread and thread messages; (HWND)-1 =
// thread messages only; otherwise that window's. A filter range of 0..0 takes
// every message; WM_QUIT is returned whatever the filters say. Messages sent
// from other threads are processed first.
BOOL PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
// Waits for a message; returns 0 for WM_QUIT, -1 for an invalid window filter.
BOOL GetMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax);
BOOL TranslateMessage(const MSG* msg);  // nothing to translate here
LRESULT DispatchMessageA(const MSG* msg);

LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrA(HWND window, int index);
LRESULT CallWindowProcA(WNDPROC previous, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// WM_CLOSE destroys the window, WM_NCCREATE answers TRUE; everything else 0.
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Readable (an eventfd) while the calling thread's queue holds posted or sent
// messages or a quit request, so a poll() over sockets can wake for messages.
// The descriptor belongs to the thread's queue: do not read or close it.
int GetThreadMessageWaitFd();

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD INFINITE = 0xFFFFFFFFu;
// Waits until the calling thread has a message (posted, sent from another
// thread, or quit) or the time runs out: WAIT_OBJECT_0 or WAIT_TIMEOUT. The
// caller then pumps with PeekMessageA, which also serves sent messages.
DWORD WaitForThreadMessage(DWORD timeoutMs);

// The unsuffixed names, as the Windows headers map them.
inline LRESULT SendMessage(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return SendMessageA(w, m, wp, lp);
}
inline BOOL PostMessage(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return PostMessageA(w, m, wp, lp);
}
inline BOOL PostThreadMessage(DWORD t, UINT m, WPARAM wp, LPARAM lp) {
    return PostThreadMessageA(t, m, wp, lp);
}
inline BOOL PeekMessage(MSG* msg, HWND w, UINT lo, UINT hi, UINT flags) {
    return PeekMessageA(msg, w, lo, hi, flags);
}
inline BOOL GetMessage(MSG* msg, HWND w, UINT lo, UINT hi) {
    return GetMessageA(msg, w, lo, hi);
}
inline LRESULT DispatchMessage(const MSG* msg) {
    return DispatchMessageA(msg);
}
inline LONG_PTR SetWindowLongPtr(HWND w, int i, LONG_PTR v) {
    return SetWindowLongPtrA(w, i, v);
}
inline LONG_PTR GetWindowLongPtr(HWND w, int i) {
    return GetWindowLongPtrA(w, i);
}
inline LRESULT CallWindowProc(WNDPROC p, HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return CallWindowProcA(p, w, m, wp, lp);
}
inline LRESULT DefWindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return DefWindowProcA(w, m, wp, lp);
}
