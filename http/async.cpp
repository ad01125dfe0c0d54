// The asynchronous socket mode: a client whose notification window asks for
// socket-level events has its socket's readiness posted to that window by the
// socket layer (message HTTP_ASYNC_MESSAGE). The window is subclassed, and each
// notification becomes the client's event: connect completion finishes the
// connect (event 1), read readiness reads a pending response and raises 4,
// write readiness 8, the server's close 2. Notifications that arrive while the
// client's events are suppressed, or while one is being handled, are held and
// posted again afterwards.
#include "http/client.h"
#include "net/async_repost.h"
#include "platform/system.h"
#include "platform/window_subclass.h"
#include "resources/errors.h"

namespace http {
namespace {

constexpr long kSocketEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;

LRESULT SubclassProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

WindowSubclasses& Subclasses() {
    static WindowSubclasses subclasses(&SubclassProcedure);
    return subclasses;
}

void HandleSocketEvent(const ClientRef& client, LPARAM lParam) {
    const auto event = static_cast<DWORD>(lParam & 0xFFFF);
    const int error = static_cast<int>((static_cast<DWORD>(lParam) >> 16) & 0xFFFF);
    if (client->suppression > 0 || client->handlingSocketEvent || client->blockingCall) {
        client->heldSocketEvents |= event;
        return;
    }
    client->handlingSocketEvent = true;
    switch (event) {
        case FD_CONNECT:
            FinishAsyncConnect(client, error);
            break;
        case FD_READ: {
            // A response read here raises its own events (64, or an error).
            const bool failed =
                error == 0 && client->responsePending() && ReadResponse(client) != 0;
            if (!failed && !client->closed && !client->released) {
                RaiseEvent(*client, HTTP_EVENT_READ, error);
            }
            break;
        }
        case FD_WRITE:
            RaiseEvent(*client, HTTP_EVENT_WRITE, error);
            break;
        case FD_CLOSE:
            RaiseEvent(*client, HTTP_EVENT_DISCONNECT, error);
            break;
        default:
            break;
    }
    client->handlingSocketEvent = false;
    ReleaseHeldSocketEvents(*client);
}

ClientRef ClientOfSocket(SOCKET s) {
    for (const ClientRef& client : AllClients()) {
        if (client && client->socket == s) return client;
    }
    return nullptr;
}

// A window that goes lets go of every client of this thread attached to it.
void DetachWindow(HWND window) {
    const DWORD self = GetCurrentThreadId();
    for (const ClientRef& client : AllClients()) {
        if (client && client->ownerThread == self && client->asyncWindow == window) {
            LeaveAsyncMode(*client);
        }
    }
}

LRESULT SubclassProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const WNDPROC previous = Subclasses().Previous(window);
    if (!previous) return 0;
    if (message == HTTP_ASYNC_MESSAGE) {
        ClientRef client = ClientOfSocket(static_cast<SOCKET>(wParam));
        if (client && client->asyncWindow == window &&
            client->ownerThread == GetCurrentThreadId()) {
            HandleSocketEvent(client, lParam);
            return 0;
        }
    } else if (message == WM_NCDESTROY) {
        DetachWindow(window);
    }
    return CallWindowProcA(previous, window, message, wParam, lParam);
}

}  // namespace

int EnterAsyncMode(HttpClientRecord& client, HWND window) {
    if (client.asyncWindow == window) return 0;
    if (GetWindowThreadProcessId(window, nullptr) != client.ownerThread) {
        return Fail(fileErrorNotHandleOwner);
    }
    LeaveAsyncMode(client);
    if (!Subclasses().Add(window)) return Fail(fileErrorInvalidParameter);
    client.asyncWindow = window;
    return WatchSocket(client);
}

int WatchSocket(HttpClientRecord& client) {
    if (!client.asyncWindow || client.socket == INVALID_SOCKET) return 0;
    const long events = client.connectPending ? kSocketEvents : kSocketEvents & ~FD_CONNECT;
    if (NetAsyncSelect(client.socket, client.asyncWindow, HTTP_ASYNC_MESSAGE, events) != 0) {
        return Fail(NetGetLastError());
    }
    return 0;
}

void LeaveAsyncMode(HttpClientRecord& client) {
    HWND window = client.asyncWindow;
    if (!window) return;
    client.asyncWindow = nullptr;
    client.heldSocketEvents = 0;
    if (client.socket != INVALID_SOCKET) {
        HttpErrorGuard keepError;
        NetAsyncSelect(client.socket, nullptr, 0, 0);
    }
    Subclasses().Release(window);
}

void ReleaseHeldSocketEvents(HttpClientRecord& client) {
    if (!client.asyncWindow || client.socket == INVALID_SOCKET || client.released ||
        client.handlingSocketEvent || client.suppression > 0) {
        return;
    }
    const DWORD held = client.heldSocketEvents;
    client.heldSocketEvents = 0;
    NetRepostAsyncEvents(client.asyncWindow, HTTP_ASYNC_MESSAGE, client.socket, held);
}

void RestoreAsyncWindows() {
    Subclasses().RestoreAll();
}

}  // namespace http
