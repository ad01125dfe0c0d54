// Events of a client: the callback table and the event message sent to the
// registered window.
#include <bit>

#include "http/client.h"
#include "resources/errors.h"

namespace http {
namespace {

constexpr UINT kFirstUserMessage = WM_USER;

// The callback entry of an event: the index of its lowest set bit.
int CallbackIndex(DWORD event) {
    return event == 0 ? -1 : std::countr_zero(event);
}

}  // namespace

void RaiseEvent(HttpClientRecord& client, DWORD event, int error) {
    if (client.suppression > 0 || client.released || (client.eventMask & event) == 0) return;
    EventSuppression suppressed(client);
    client.raisingEvent = true;
    if (error != 0) HttpSetLastError(static_cast<DWORD>(error));
    const int index = CallbackIndex(event);
    if (index >= 0 && index < HTTP_EVENT_COUNT) {
        const EventCallback callback = client.callbacks[static_cast<std::size_t>(index)];
        if (callback.proc) {
            callback.proc(client.handle, event, static_cast<DWORD>(error), callback.userValue);
        }
    }
    if (client.eventWindow) {
        const auto lParam = static_cast<LPARAM>((static_cast<DWORD>(error & 0xFFFF) << 16) | event);
        SendMessageA(client.eventWindow, client.eventMessage, static_cast<WPARAM>(client.handle),
                     lParam);
    }
    client.raisingEvent = false;
}

}  // namespace http

using namespace http;

extern "C" {

int HttpRegisterNotify(HttpClient handle, HWND window, UINT message, DWORD eventMask) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    if (!window) {
        LeaveAsyncMode(*client);
        client->eventWindow = nullptr;
        client->eventMessage = 0;
        client->eventMask = 0;
        client->callbacks = {};
        return 0;
    }
    if (!IsWindow(window) || message < kFirstUserMessage) return Fail(fileErrorInvalidParameter);
    client->eventWindow = window;
    client->eventMessage = message;
    client->eventMask = eventMask;
    if ((eventMask & kSocketLevelEvents) && !client->asyncWindow) {
        return EnterAsyncMode(*client, window);
    }
    return 0;
}

int HttpSetEventCallback(HttpClient handle, DWORD event, HttpEventProc callback, void* userValue) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    const int index = CallbackIndex(event);
    if (index < 0 || index >= HTTP_EVENT_COUNT || std::has_single_bit(event) == false) {
        return Fail(fileErrorInvalidParameter);
    }
    client->callbacks[static_cast<std::size_t>(index)] = {callback, userValue};
    if (callback) client->eventMask |= event;
    return 0;
}

int HttpRaiseEvent(HttpClient handle, DWORD event, DWORD error) {
    ClientRef client = LookupClient(handle);
    if (!client) return -1;
    RaiseEvent(*client, event, static_cast<int>(error & 0xFFFF));
    return 0;
}

}  // extern "C"
