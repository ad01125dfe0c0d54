#include "platform/messages.h"

#include <strings.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/lasterror.h"
#include "platform/system.h"

namespace {

constexpr DWORD ERROR_INVALID_INDEX = 1413;

struct ThreadQueue;

// Where the answer to a message sent across threads goes.
struct Reply {
    std::weak_ptr<ThreadQueue> sender;
    bool done = false;  // guarded by the sender's queue mutex
    LRESULT result = 0;
};

struct SentMessage {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::shared_ptr<Reply> reply;
};

struct ThreadQueue {
    DWORD threadId = 0;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<MSG> posted;
    std::deque<SentMessage> sent;
    bool quitPending = false;
    int quitCode = 0;
    bool alive = true;
    ULONGLONG arrivals = 0;  // counts every change a waiter may care about
    int wakeFd = -1;
    bool wakeSignaled = false;

    bool HasWork() const { return !posted.empty() || !sent.empty() || quitPending; }

    // Keeps the wake descriptor readable exactly while there is something to take.
    void SyncWakeLocked() {
        bool want = HasWork();
        if (want == wakeSignaled || wakeFd < 0) return;
        eventfd_t value = 1;
        if (want) {
            eventfd_write(wakeFd, value);
        } else {
            eventfd_read(wakeFd, &value);
        }
        wakeSignaled = want;
    }

    // Something arrived: wake waiters inside and outside (poll on wakeFd).
    void NotifyLocked() {
        ++arrivals;
        SyncWakeLocked();
        changed.notify_all();
    }
};

struct Window {
    DWORD ownerThread = 0;
    std::weak_ptr<ThreadQueue> owner;
    WNDPROC procedure = nullptr;
    LONG_PTR userData = 0;
    LONG_PTR id = 0;
    LONG_PTR instance = 0;
    std::vector<unsigned char> extra;
    bool destroying = false;
};

struct WindowClass {
    WNDCLASSA info;
    std::string name;
    ATOM atom;
};

// Process-wide tables. Lock order: a queue's mutex may be held while taking
// this one, never the other way round.
struct Registry {
    std::mutex mutex;
    std::unordered_map<DWORD, std::weak_ptr<ThreadQueue>> threads;
    std::unordered_map<HWND, Window> windows;
    std::vector<WindowClass> classes;
    UINT_PTR nextWindow = 0;
    ATOM nextAtom = 0xC000;
};

Registry& Tables() {
    static Registry* registry = new Registry();  // outlives every thread's queue
    return *registry;
}

HWND const kDesktop = reinterpret_cast<HWND>(static_cast<UINT_PTR>(0x10010));
HWND const kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));

void ShutdownQueue(const std::shared_ptr<ThreadQueue>& queue);

struct QueueHolder {
    std::shared_ptr<ThreadQueue> queue;
    ~QueueHolder() {
        if (queue) ShutdownQueue(queue);
    }
};
thread_local QueueHolder t_queue;

ThreadQueue& CurrentQueue() {
    if (!t_queue.queue) {
        auto queue = std::make_shared<ThreadQueue>();
        queue->threadId = GetCurrentThreadId();
        queue->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        Registry& tables = Tables();
        std::lock_guard lock(tables.mutex);
        tables.threads[queue->threadId] = queue;
        t_queue.queue = std::move(queue);
    }
    return *t_queue.queue;
}

std::shared_ptr<ThreadQueue> CurrentQueuePtr() {
    CurrentQueue();
    return t_queue.queue;
}

void CompleteReply(const std::shared_ptr<Reply>& reply, LRESULT result) {
    if (!reply) return;
    auto sender = reply->sender.lock();
    if (!sender) return;
    std::lock_guard lock(sender->mutex);
    reply->done = true;
    reply->result = result;
    ++sender->arrivals;
    sender->changed.notify_all();
}

void ShutdownQueue(const std::shared_ptr<ThreadQueue>& queue) {
    Registry& tables = Tables();
    {
        std::lock_guard lock(tables.mutex);
        tables.threads.erase(queue->threadId);
        std::erase_if(tables.windows, [&](const auto& entry) {
            return entry.second.ownerThread == queue->threadId;
        });
    }
    std::deque<SentMessage> pending;
    {
        std::lock_guard lock(queue->mutex);
        queue->alive = false;
        pending.swap(queue->sent);
        queue->posted.clear();
        if (queue->wakeFd >= 0) close(queue->wakeFd);
        queue->wakeFd = -1;
    }
    for (SentMessage& m : pending)
        CompleteReply(m.reply, 0);
}

// ----- window look-up ------------------------------------------------------

struct WindowTarget {
    WNDPROC procedure = nullptr;
    DWORD ownerThread = 0;
    std::shared_ptr<ThreadQueue> owner;
};

bool FindWindowTarget(HWND hwnd, WindowTarget* target) {
    Registry& tables = Tables();
    std::lock_guard lock(tables.mutex);
    auto it = tables.windows.find(hwnd);
    if (it == tables.windows.end()) return false;
    target->procedure = it->second.procedure;
    target->ownerThread = it->second.ownerThread;
    target->owner = it->second.owner.lock();
    return target->owner != nullptr;
}

bool WindowExists(HWND hwnd) {
    Registry& tables = Tables();
    std::lock_guard lock(tables.mutex);
    return tables.windows.count(hwnd) != 0;
}

template <class T>
T FailWith(DWORD error, T value) {
    SetLastError(error);
    return value;
}

// Calls a window's current procedure on this thread; 0 for a window gone.
LRESULT CallProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowTarget target;
    if (!FindWindowTarget(hwnd, &target) || !target.procedure) return 0;
    return target.procedure(hwnd, message, wParam, lParam);
}

// Serves the messages other threads sent to this thread's windows.
void ServeSentMessages(ThreadQueue& queue) {
    for (;;) {
        SentMessage item;
        {
            std::lock_guard lock(queue.mutex);
            if (queue.sent.empty()) return;
            item = std::move(queue.sent.front());
            queue.sent.pop_front();
            queue.SyncWakeLocked();
        }
        CompleteReply(item.reply, CallProcedure(item.hwnd, item.message, item.wParam, item.lParam));
    }
}

// Waits for the reply to a cross-thread send while serving messages sent to
// this thread. False on time-out.
bool AwaitReply(ThreadQueue& self, const std::shared_ptr<Reply>& reply, UINT timeoutMs) {
    using Clock = std::chrono::steady_clock;
    bool bounded = timeoutMs != INFINITE;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lock(self.mutex);
    while (!reply->done) {
        if (!self.sent.empty()) {
            lock.unlock();
            ServeSentMessages(self);
            lock.lock();
            continue;
        }
        auto ready = [&] { return reply->done || !self.sent.empty(); };
        if (!bounded) {
            self.changed.wait(lock, ready);
        } else if (!self.changed.wait_until(lock, deadline, ready)) {
            return false;
        }
    }
    return true;
}

bool SendAcrossThreads(const WindowTarget& target, HWND hwnd, UINT message, WPARAM wParam,
                       LPARAM lParam, UINT timeoutMs, LRESULT* result) {
    auto self = CurrentQueuePtr();
    auto reply = std::make_shared<Reply>();
    reply->sender = self;
    {
        std::lock_guard lock(target.owner->mutex);
        if (!target.owner->alive) return FailWith(ERROR_INVALID_WINDOW_HANDLE, false);
        target.owner->sent.push_back(SentMessage{hwnd, message, wParam, lParam, reply});
        target.owner->NotifyLocked();
    }
    if (!AwaitReply(*self, reply, timeoutMs)) return FailWith(ERROR_TIMEOUT, false);
    *result = reply->result;
    return true;
}

bool Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT timeoutMs, LRESULT* result) {
    WindowTarget target;
    if (!FindWindowTarget(hwnd, &target)) return FailWith(ERROR_INVALID_WINDOW_HANDLE, false);
    if (target.ownerThread == GetCurrentThreadId()) {
        *result = target.procedure ? target.procedure(hwnd, message, wParam, lParam) : 0;
        return true;
    }
    return SendAcrossThreads(target, hwnd, message, wParam, lParam, timeoutMs, result);
}

BOOL PostTo(ThreadQueue& queue, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard lock(queue.mutex);
    if (!queue.alive) return FailWith(ERROR_INVALID_THREAD_ID, FALSE);
    queue.posted.push_back(MSG{hwnd, message, wParam, lParam, GetTickCount(), POINT{0, 0}});
    queue.NotifyLocked();
    return TRUE;
}

bool MatchesFilter(const MSG& m, HWND window, UINT filterMin, UINT filterMax) {
    if (window == kThreadMessagesOnly && m.hwnd != nullptr) return false;
    if (window && window != kThreadMessagesOnly && m.hwnd != window) return false;
    if (filterMin == 0 && filterMax == 0) return true;
    return m.message >= filterMin && m.message <= filterMax;
}

// Takes (or looks at) the first posted message that passes the filters; then
// the quit request. Messages for windows destroyed meanwhile are dropped.
bool TakeMessage(ThreadQueue& queue, MSG* msg, HWND window, UINT filterMin, UINT filterMax,
                 bool remove) {
    std::lock_guard lock(queue.mutex);
    for (auto it = queue.posted.begin(); it != queue.posted.end();) {
        if (it->hwnd && !WindowExists(it->hwnd)) {
            it = queue.posted.erase(it);
            continue;
        }
        if (MatchesFilter(*it, window, filterMin, filterMax)) {
            *msg = *it;
            if (remove) queue.posted.erase(it);
            queue.SyncWakeLocked();
            return true;
        }
        ++it;
    }
    queue.SyncWakeLocked();
    if (!queue.quitPending) return false;
    *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0, GetTickCount(), {0, 0}};
    if (remove) queue.quitPending = false;
    queue.SyncWakeLocked();
    return true;
}

const WindowClass* FindClassLocked(Registry& tables, LPCSTR name) {
    if (!name) return nullptr;
    for (const WindowClass& c : tables.classes)
        if (strcasecmp(c.name.c_str(), name) == 0) return &c;
    return nullptr;
}

HWND RegisterWindow(WNDPROC procedure, int extraBytes, LONG_PTR userData, LONG_PTR instance) {
    auto queue = CurrentQueuePtr();
    Registry& tables = Tables();
    std::lock_guard lock(tables.mutex);
    auto hwnd = reinterpret_cast<HWND>(0x20000 + 0x10 * ++tables.nextWindow);
    Window& w = tables.windows[hwnd];
    w.ownerThread = queue->threadId;
    w.owner = queue;
    w.procedure = procedure;
    w.userData = userData;
    w.instance = instance;
    w.extra.assign(static_cast<size_t>(std::max(extraBytes, 0)), 0);
    return hwnd;
}

void UnregisterWindow(HWND hwnd) {
    Registry& tables = Tables();
    std::lock_guard lock(tables.mutex);
    tables.windows.erase(hwnd);
}

LONG_PTR* WindowField(Window& w, int index) {
    switch (index) {
        case GWLP_USERDATA:
            return &w.userData;
        case GWLP_ID:
            return &w.id;
        case GWLP_HINSTANCE:
            return &w.instance;
        default:
            return nullptr;
    }
}

}  // namespace

// ----- classes and windows ----------------------------------------------------

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
    if (!windowClass || !windowClass->lpszClassName || !windowClass->lpfnWndProc)
        return FailWith(ERROR_INVALID_PARAMETER, ATOM{0});
    Registry& tables = Tables();
    std::lock_guard lock(tables.mutex);
    if (FindClassLocked(tables, windowClass->lpszClassName))
        return FailWith(ERROR_CLASS_ALREADY_EXISTS, ATOM{0});
    WindowClass record{*windowClass, windowClass->lpszClassName, tables.nextAtom++};
    tables.classes.push_back(record);
    return record.atom;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE) {
    Registry& tables = Tables();
    std::lock_guard lock(tables.mutex);
    const WindowClass* found = FindClassLocked(tables, className);
    if (!found) return FailWith(ERROR_CANNOT_FIND_WND_CLASS, FALSE);
    tables.classes.erase(tables.classes.begin() + (found - tables.classes.data()));
    return TRUE;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
    WNDCLASSA info{};
    {
        Registry& tables = Tables();
        std::lock_guard lock(tables.mutex);
        const WindowClass* found = FindClassLocked(tables, className);
        if (!found) return FailWith(ERROR_CANNOT_FIND_WND_CLASS, HWND{nullptr});
        info = found->info;
    }
    HWND hwnd =
        RegisterWindow(info.lpfnWndProc, info.cbWndExtra, 0, reinterpret_cast<LONG_PTR>(instance));
    CREATESTRUCTA create{
        param,      instance,  menu,   parent, height, width, y, x, static_cast<LONG>(style),
        windowName, className, exStyle};
    auto createParam = reinterpret_cast<LPARAM>(&create);
    if (!SendMessageA(hwnd, WM_NCCREATE, 0, createParam)) {
        SendMessageA(hwnd, WM_NCDESTROY, 0, 0);
        UnregisterWindow(hwnd);
        return nullptr;
    }
    if (SendMessageA(hwnd, WM_CREATE, 0, createParam) == -1) {
        DestroyWindow(hwnd);
        return nullptr;
    }
    return hwnd;
}

HWND CreateMessageWindow(WNDPROC procedure, void* userData) {
    if (!procedure) return FailWith(ERROR_INVALID_PARAMETER, HWND{nullptr});
    return RegisterWindow(procedure, 0, reinterpret_cast<LONG_PTR>(userData), 0);
}

BOOL DestroyWindow(HWND hwnd) {
    {
        Registry& tables = Tables();
        std::lock_guard lock(tables.mutex);
        auto it = tables.windows.find(hwnd);
        if (it == tables.windows.end() || it->second.destroying)
            return FailWith(ERROR_INVALID_WINDOW_HANDLE, FALSE);
        if (it->second.ownerThread != GetCurrentThreadId())
            return FailWith(ERROR_ACCESS_DENIED, FALSE);
        it->second.destroying = true;
    }
    CallProcedure(hwnd, WM_DESTROY, 0, 0);
    CallProcedure(hwnd, WM_NCDESTROY, 0, 0);
    UnregisterWindow(hwnd);
    ThreadQueue& queue = CurrentQueue();
    std::lock_guard lock(queue.mutex);
    std::erase_if(queue.posted, [hwnd](const MSG& m) { return m.hwnd == hwnd; });
    queue.SyncWakeLocked();
    return TRUE;
}

BOOL IsWindow(HWND hwnd) {
    if (hwnd == kDesktop) return TRUE;
    return hwnd && WindowExists(hwnd) ? TRUE : FALSE;
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId) {
    Registry& tables = Tables();
    std::lock_guard lock(tables.mutex);
    auto it = tables.windows.find(hwnd);
    if (it == tables.windows.end()) return FailWith(ERROR_INVALID_WINDOW_HANDLE, DWORD{0});
    if (processId) *processId = GetCurrentProcessId();
    return it->second.ownerThread;
}

HWND GetDesktopWindow() {
    return kDesktop;
}

// ----- sending and posting ----------------------------------------------------

LRESULT SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    return Send(hwnd, message, wParam, lParam, INFINITE, &result) ? result : 0;
}

LRESULT SendMessageTimeoutA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT,
                            UINT timeoutMs, DWORD_PTR* result) {
    LRESULT answer = 0;
    if (!Send(hwnd, message, wParam, lParam, timeoutMs, &answer)) return 0;
    if (result) *result = static_cast<DWORD_PTR>(answer);
    return 1;
}

BOOL PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!hwnd) return PostTo(CurrentQueue(), nullptr, message, wParam, lParam);
    WindowTarget target;
    if (!FindWindowTarget(hwnd, &target)) return FailWith(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    return PostTo(*target.owner, hwnd, message, wParam, lParam);
}

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<ThreadQueue> queue;
    {
        Registry& tables = Tables();
        std::lock_guard lock(tables.mutex);
        auto it = tables.threads.find(threadId);
        if (it != tables.threads.end()) queue = it->second.lock();
    }
    if (!queue) return FailWith(ERROR_INVALID_THREAD_ID, FALSE);
    return PostTo(*queue, nullptr, message, wParam, lParam);
}

void PostQuitMessage(int exitCode) {
    ThreadQueue& queue = CurrentQueue();
    std::lock_guard lock(queue.mutex);
    queue.quitPending = true;
    queue.quitCode = exitCode;
    queue.NotifyLocked();
}

// ----- retrieving -------------------------------------------------------------

BOOL PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
    if (!msg) return FailWith(ERROR_INVALID_PARAMETER, FALSE);
    ThreadQueue& queue = CurrentQueue();
    ServeSentMessages(queue);
    return TakeMessage(queue, msg, window, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0)
               ? TRUE
               : FALSE;
}

BOOL GetMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax) {
    if (!msg) return FailWith(ERROR_INVALID_PARAMETER, -1);
    if (window && window != kThreadMessagesOnly && !WindowExists(window))
        return FailWith(ERROR_INVALID_WINDOW_HANDLE, -1);
    ThreadQueue& queue = CurrentQueue();
    for (;;) {
        ULONGLONG seen;
        {
            std::lock_guard lock(queue.mutex);
            seen = queue.arrivals;
        }
        if (PeekMessageA(msg, window, filterMin, filterMax, PM_REMOVE))
            return msg->message == WM_QUIT ? FALSE : TRUE;
        std::unique_lock lock(queue.mutex);
        queue.changed.wait(lock, [&] { return queue.arrivals != seen; });
    }
}

BOOL TranslateMessage(const MSG*) {
    return FALSE;
}

LRESULT DispatchMessageA(const MSG* msg) {
    if (!msg || !msg->hwnd) return 0;
    WindowTarget target;
    if (!FindWindowTarget(msg->hwnd, &target) || target.ownerThread != GetCurrentThreadId() ||
        !target.procedure)
        return 0;
    return target.procedure(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

// ----- window data and procedures ------------------------------------------------

LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
    Registry& tables = Tables();
    std::lock_guard lock(tables.mutex);
    auto it = tables.windows.find(hwnd);
    if (it == tables.windows.end()) return FailWith(ERROR_INVALID_WINDOW_HANDLE, LONG_PTR{0});
    Window& w = it->second;
    SetLastError(ERROR_SUCCESS);
    if (index == GWLP_WNDPROC) {
        if (!value) return FailWith(ERROR_INVALID_PARAMETER, LONG_PTR{0});
        auto previous = reinterpret_cast<LONG_PTR>(w.procedure);
        w.procedure = reinterpret_cast<WNDPROC>(value);
        return previous;
    }
    if (LONG_PTR* field = WindowField(w, index)) return std::exchange(*field, value);
    if (index < 0 || static_cast<size_t>(index) + sizeof(LONG_PTR) > w.extra.size())
        return FailWith(ERROR_INVALID_INDEX, LONG_PTR{0});
    LONG_PTR previous;
    std::memcpy(&previous, w.extra.data() + index, sizeof previous);
    std::memcpy(w.extra.data() + index, &value, sizeof value);
    return previous;
}

LONG_PTR GetWindowLongPtrA(HWND hwnd, int index) {
    Registry& tables = Tables();
    std::lock_guard lock(tables.mutex);
    auto it = tables.windows.find(hwnd);
    if (it == tables.windows.end()) return FailWith(ERROR_INVALID_WINDOW_HANDLE, LONG_PTR{0});
    Window& w = it->second;
    if (index == GWLP_WNDPROC) return reinterpret_cast<LONG_PTR>(w.procedure);
    if (LONG_PTR* field = WindowField(w, index)) return *field;
    if (index < 0 || static_cast<size_t>(index) + sizeof(LONG_PTR) > w.extra.size())
        return FailWith(ERROR_INVALID_INDEX, LONG_PTR{0});
    LONG_PTR value;
    std::memcpy(&value, w.extra.data() + index, sizeof value);
    return value;
}

LRESULT CallWindowProcA(WNDPROC previous, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return previous ? previous(hwnd, message, wParam, lParam) : 0;
}

LRESULT DefWindowProcA(HWND hwnd, UINT message, WPARAM, LPARAM) {
    switch (message) {
        case WM_NCCREATE:
            return TRUE;
        case WM_CLOSE:
            DestroyWindow(hwnd);
            return 0;
        default:
            return 0;
    }
}

// ----- waiting ------------------------------------------------------------------

int GetThreadMessageWaitFd() {
    return CurrentQueue().wakeFd;
}

DWORD WaitForThreadMessage(DWORD timeoutMs) {
    ThreadQueue& queue = CurrentQueue();
    std::unique_lock lock(queue.mutex);
    auto ready = [&] { return queue.HasWork(); };
    if (timeoutMs == INFINITE) {
        queue.changed.wait(lock, ready);
        return WAIT_OBJECT_0;
    }
    return queue.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready) ? WAIT_OBJECT_0
                                                                                     : WAIT_TIMEOUT;
}
