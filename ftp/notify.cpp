#include "ftp/notify.h"

#include <algorithm>
#include <vector>

#include "ftp/data_connection.h"
#include "ftp/engine.h"
#include "ftp/protocol_ops.h"
#include "net/async_repost.h"
#include "platform/system.h"
#include "platform/window_subclass.h"
#include "resources/errors.h"

namespace ftp {
namespace {

constexpr UINT kFirstUserMessage = WM_USER;
constexpr long kAsyncEventMask = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;

LRESULT SubclassProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

WindowSubclasses& Subclasses() {
    static WindowSubclasses subclasses(&SubclassProcedure);
    return subclasses;
}

int AddSubclass(FtpSession& session, HWND window) {
    if (!IsWindow(window)) return Fail(fileErrorInvalidParameter);
    if (GetWindowThreadProcessId(window, nullptr) != session.ownerThread) {
        return Fail(fileErrorNotHandleOwner);
    }
    if (session.asyncWindow == window) return 0;
    if (session.asyncWindow) ReleaseSubclass(session);
    if (!Subclasses().Add(window)) return Fail(fileErrorInvalidParameter);
    session.asyncWindow = window;
    return 0;
}

SessionRef SessionOfSocket(SOCKET s) {
    Engine& engine = GetEngine();
    CriticalSectionGuard guard(*engine.lock.get());
    for (const auto& session : engine.table.Records()) {
        if (session->controlSocket.get() == s || session->dataSocket.get() == s) return session;
    }
    return nullptr;
}

template <typename Step>
void KeepingLastError(Step step) {
    FtpErrorGuard keepError;
    step();
}

void HandleSocketEvent(FtpSession& session, SOCKET s, LPARAM lParam) {
    auto event = static_cast<DWORD>(lParam & 0xFFFF);
    int error = static_cast<int>((static_cast<DWORD>(lParam) >> 16) & 0xFFFF);
    if (error > 10000) FtpSetLastError(static_cast<DWORD>(error));
    if (session.notificationsSuspended) {
        session.pendingAsyncEvents |= event;
        return;
    }
    bool onData = s == session.dataSocket.get();
    switch (event) {
        case FD_READ:
            if (!onData) break;
            if (error == 0) KeepingLastError([&] { FillDataBuffer(session); });
            RaiseEvent(session, FTP_EVENT_READ, error);
            break;
        case FD_WRITE:
            if (!onData) break;
            if (error == 0) KeepingLastError([&] { FlushDataBuffer(session, false); });
            RaiseEvent(session, FTP_EVENT_WRITE, error);
            break;
        case FD_CONNECT:
            if (s == session.controlSocket.get()) {
                if (error == 0) {
                    MarkGreeted(session);
                    SetStatus(session, EngineStatus::Idle);
                }
                RaiseEvent(session, FTP_EVENT_CONNECT, error);
            } else {
                RaiseEvent(session, FTP_EVENT_OPENDATA, error);
            }
            break;
        case FD_CLOSE:
            if (onData) RaiseEvent(session, FTP_EVENT_CLOSEDATA, error);
            break;
        default:
            break;
    }
}

void ReleaseSubclassesOfWindow(HWND window) {
    std::vector<SessionRef> sessions;
    {
        Engine& engine = GetEngine();
        CriticalSectionGuard guard(*engine.lock.get());
        sessions = engine.table.Records();
    }
    DWORD self = GetCurrentThreadId();
    for (const auto& session : sessions) {
        if (session->ownerThread == self && session->asyncWindow == window) {
            ReleaseSubclass(*session);
        }
    }
}

LRESULT SubclassProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const WNDPROC previous = Subclasses().Previous(window);
    if (!previous) return 0;
    if (message >= kFirstUserMessage) {
        auto s = static_cast<SOCKET>(wParam);
        SessionRef session = SessionOfSocket(s);
        if (session && message == session->asyncMessage) HandleSocketEvent(*session, s, lParam);
    } else if (message == WM_NCDESTROY) {
        ReleaseSubclassesOfWindow(window);
    }
    return CallWindowProcA(previous, window, message, wParam, lParam);
}

}  // namespace

void SuspendAsyncEvents(FtpSession& session) {
    session.notificationsSuspended = true;
}

void ResumeAsyncEvents(FtpSession& session) {
    session.notificationsSuspended = false;
    if (!session.asyncWindow || !session.dataSocket.valid() || session.insideNotification) return;
    DWORD pending = session.pendingAsyncEvents;
    session.pendingAsyncEvents = 0;
    NetRepostAsyncEvents(session.asyncWindow, session.asyncMessage, session.dataSocket.get(),
                         pending);
}

LRESULT RaiseEvent(FtpSession& session, DWORD event, int error) {
    if (session.notificationsSuspended || (session.eventMask & event) == 0) return 0;
    SuspendAsyncEvents(session);
    session.insideNotification = true;
    if (error != 0) FtpSetLastError(static_cast<DWORD>(error));
    LRESULT answer = 0;
    if (session.notifyWindow) {
        auto lParam = static_cast<LPARAM>((static_cast<DWORD>(error & 0xFFFF) << 16) | event);
        answer = SendMessageA(session.notifyWindow, session.notifyMessage,
                              static_cast<WPARAM>(session.handle), lParam);
    }
    session.insideNotification = false;
    ResumeAsyncEvents(session);
    return answer;
}

int SetAsyncEvents(FtpSession& session, HWND window) {
    if (!session.ops->commandChannel) return Fail(fileErrorOperationNotSupported);
    if (!session.dataSocket.valid()) return Fail(fileErrorConnectionClosed);
    if (session.insideNotification) return Fail(fileErrorOperationInProgress);
    SOCKET data = session.dataSocket.get();
    if (!window) {
        ReleaseSubclass(session);
        NetAsyncSelect(data, nullptr, 0, 0);
        unsigned long blocking = 0;
        NetIoctl(data, FIONBIO, &blocking);
        return 0;
    }
    if (AddSubclass(session, window) != 0) return -1;
    session.asyncMessage = FTP_ASYNC_MESSAGE;
    if (NetAsyncSelect(data, window, FTP_ASYNC_MESSAGE, kAsyncEventMask) != 0) {
        return Fail(NetGetLastError());
    }
    return 0;
}

void ReleaseSubclass(FtpSession& session) {
    HWND window = session.asyncWindow;
    if (!window) return;
    session.asyncWindow = nullptr;
    session.asyncMessage = 0;
    Subclasses().Release(window);
}

void RestoreAllSubclasses() {
    Subclasses().RestoreAll();
}

std::size_t SubclassCount() {
    return Subclasses().size();
}

}  // namespace ftp

using namespace ftp;

extern "C" {

int FtpRegisterNotify(FtpClient client, HWND window, UINT message, DWORD eventMask) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    if (!window) {
        if (session->asyncWindow && session->dataSocket.valid()) SetAsyncEvents(*session, nullptr);
        session->notifyWindow = nullptr;
        session->notifyMessage = 0;
        session->eventMask = 0;
        return 0;
    }
    if (!IsWindow(window) || message < kFirstUserMessage) return Fail(fileErrorInvalidParameter);
    constexpr DWORD kSocketEvents = FTP_EVENT_CONNECT | FTP_EVENT_DISCONNECT | FTP_EVENT_OPENDATA |
                                    FTP_EVENT_CLOSEDATA | FTP_EVENT_READ | FTP_EVENT_WRITE;
    if (session->dataSocket.valid() && !session->asyncWindow && (eventMask & kSocketEvents)) {
        if (SetAsyncEvents(*session, window) != 0) return -1;
    }
    session->notifyWindow = window;
    session->notifyMessage = message;
    session->eventMask = eventMask;
    return 0;
}

LRESULT FtpRaiseEvent(FtpClient client, DWORD event, DWORD error) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    // A full error code and a bare error number give the same event word.
    int number = static_cast<int>(error & 0xFFFF);
    return RaiseEvent(*session, event, number);
}

}  // extern "C"
