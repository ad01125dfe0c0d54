// NetAsyncSelect and NetEventSelect: sockets whose readiness is posted to a
// window (a registry per thread) or recorded for the one process-wide network
// event (a registry for the process). The approximation: readiness is only
// noticed while someone looks (a pumping wait of the registering thread or
// NetPumpAsyncEvents for windows; NetEnumNetworkEvents or NetWaitNetworkEvent
// for the event), not at any moment as with a kernel notification; each event
// is delivered once and waits to be re-armed by the matching call (recv for
// FD_READ and FD_OOB, accept for FD_ACCEPT, a send that would block for
// FD_WRITE); FD_CONNECT and FD_CLOSE come once.
#include "net/async.h"
#include "net/async_repost.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "net/binding.h"
#include "net/callhook.h"
#include "net/socket_errors.h"
#include "net/socket_wait.h"
#include "platform/messages.h"

namespace net {
namespace {

// Where a stream socket is, as far as its notifications go: an idle socket
// (not yet connecting) is not polled, since poll calls it hung up.
enum class Phase { idle, connecting, connected };

struct Registration {
    SOCKET socket;
    Phase phase;
    HWND window;
    UINT message;
    long events;  // what was asked for
    long armed;   // what may still be posted
    bool listening;
    // For the process-wide event: what was recorded and not yet enumerated.
    long recorded = 0;
    int errors[NET_MAX_EVENTS] = {};
};

thread_local std::vector<Registration> t_registry;

// The event selections of the whole process, guarded by g_eventMutex;
// g_eventCount lets the socket calls skip the lock when there are none.
std::mutex g_eventMutex;
std::vector<Registration> g_eventRegistry;
std::atomic<std::size_t> g_eventCount{0};

// Poll conditions per event bit.
struct EventCondition {
    long event;
    short pollEvents;
};
constexpr EventCondition kConditions[] = {
    {FD_READ, POLLIN},   {FD_OOB, POLLPRI},     {FD_WRITE, POLLOUT},
    {FD_ACCEPT, POLLIN}, {FD_CONNECT, POLLOUT}, {FD_CLOSE, POLLRDHUP},
};

// Order in which the bits of one readiness are posted.
constexpr long kPostOrder[] = {FD_CONNECT, FD_ACCEPT, FD_READ, FD_OOB, FD_WRITE, FD_CLOSE};

Registration* Find(std::vector<Registration>& registry, SOCKET s) {
    auto it = std::find_if(registry.begin(), registry.end(),
                           [s](const Registration& r) { return r.socket == s; });
    return it == registry.end() ? nullptr : &*it;
}
Registration* Find(SOCKET s) {
    return Find(t_registry, s);
}

// Runs `change` on the socket's event selection, if it has one.
template <typename Change>
void ChangeEventSelection(SOCKET s, Change change) {
    if (g_eventCount.load(std::memory_order_relaxed) == 0) return;
    std::lock_guard lock(g_eventMutex);
    if (Registration* r = Find(g_eventRegistry, s)) change(*r);
}

short PollEventsFor(long armed) {
    short events = 0;
    for (const EventCondition& condition : kConditions) {
        if (armed & condition.event) events |= condition.pollEvents;
    }
    return events;
}

bool SocketOption(SOCKET s, int level, int option, int* value) {
    socklen_t length = sizeof *value;
    return getsockopt(s, level, option, value, &length) == 0;
}

int PendingError(SOCKET s) {
    int error = 0;
    return SocketOption(s, SOL_SOCKET, SO_ERROR, &error) ? NetErrorFromErrno(error) : 0;
}

Phase PhaseOf(SOCKET s) {
    tcp_info info{};
    socklen_t length = sizeof info;
    if (getsockopt(s, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return Phase::connected;
    if (info.tcpi_state == TCP_CLOSE) return Phase::idle;
    return info.tcpi_state == TCP_SYN_SENT ? Phase::connecting : Phase::connected;
}

// A connect that fails reports FD_CONNECT with its error and nothing else.
long ReadyWhileConnecting(Registration& r, short revents) {
    if (revents & (POLLERR | POLLHUP)) {
        long ready = r.armed & FD_CONNECT;
        r.armed = ready;
        return ready;
    }
    if ((revents & POLLOUT) == 0) return 0;
    r.phase = Phase::connected;
    return r.armed & (FD_CONNECT | FD_WRITE);
}

long ReadyEvents(Registration& r, short revents) {
    if (r.listening) return (revents & (POLLIN | POLLERR)) ? (r.armed & FD_ACCEPT) : 0;
    if (r.phase == Phase::connecting) return ReadyWhileConnecting(r, revents);
    bool failed = (revents & (POLLERR | POLLHUP)) != 0;
    long ready = 0;
    if (revents & POLLIN || failed) ready |= FD_READ;
    if (revents & POLLPRI) ready |= FD_OOB;
    if (revents & POLLOUT || failed) ready |= FD_WRITE;
    if (revents & (POLLRDHUP | POLLHUP | POLLERR)) ready |= FD_CLOSE;
    return ready & r.armed;
}

int ErrorFor(long event, SOCKET s, short revents) {
    if (event == FD_CONNECT) return PendingError(s);
    if (event == FD_CLOSE) return (revents & POLLERR) ? PendingError(s) : 0;
    return 0;
}

int BitIndex(long event) {
    int index = 0;
    while ((event >> index) > 1)
        ++index;
    return index;
}

// Records the ready events for the process-wide event.
void Record(Registration& r, long ready, short revents) {
    for (long event : kPostOrder) {
        if ((ready & event) == 0) continue;
        r.recorded |= event;
        r.errors[BitIndex(event)] = ErrorFor(event, r.socket, revents);
        r.armed &= ~event;
    }
    if (ready == 0 && (revents & (POLLERR | POLLHUP))) r.armed = 0;
}

int Post(Registration& r, long ready, short revents) {
    int posted = 0;
    for (long event : kPostOrder) {
        if ((ready & event) == 0) continue;
        auto error = static_cast<unsigned>(ErrorFor(event, r.socket, revents));
        auto lParam = static_cast<LPARAM>((error << 16) | static_cast<unsigned>(event));
        if (PostMessageA(r.window, r.message, static_cast<WPARAM>(r.socket), lParam)) ++posted;
        r.armed &= ~event;
    }
    // A connection that ended leaves nothing else to wait for until re-armed.
    if (ready == 0 && (revents & (POLLERR | POLLHUP))) r.armed = 0;
    return posted;
}

}  // namespace

std::size_t AppendAsyncPolls(std::vector<pollfd>& polls) {
    std::erase_if(t_registry, [](const Registration& r) { return !IsWindow(r.window); });
    std::size_t appended = 0;
    for (const Registration& r : t_registry) {
        if (r.phase == Phase::idle) continue;
        short events = PollEventsFor(r.armed);
        if (events == 0) continue;
        polls.push_back(pollfd{r.socket, events, 0});
        ++appended;
    }
    return appended;
}

int PostAsyncEvents(const std::vector<pollfd>& polls, std::size_t first, std::size_t count) {
    int posted = 0;
    for (std::size_t i = first; i < first + count && i < polls.size(); ++i) {
        if (polls[i].revents == 0) continue;
        Registration* r = Find(polls[i].fd);
        if (r == nullptr) continue;
        posted += Post(*r, ReadyEvents(*r, polls[i].revents), polls[i].revents);
    }
    return posted;
}

namespace {

void Rearm(Registration& r, long events) {
    r.armed |= events & r.events;
}
void NoteConnect(Registration& r) {
    if (r.phase == Phase::idle) r.phase = Phase::connecting;
}
void NoteListen(Registration& r) {
    r.listening = true;
    r.phase = Phase::connected;
}

void ForgetEventSelection(SOCKET s) {
    if (g_eventCount.load(std::memory_order_relaxed) == 0) return;
    std::lock_guard lock(g_eventMutex);
    std::erase_if(g_eventRegistry, [s](const Registration& r) { return r.socket == s; });
    g_eventCount = g_eventRegistry.size();
}

}  // namespace

void RearmAsyncEvents(SOCKET s, long events) {
    if (Registration* r = t_registry.empty() ? nullptr : Find(s)) Rearm(*r, events);
    ChangeEventSelection(s, [events](Registration& r) { Rearm(r, events); });
}

void NoteAsyncConnect(SOCKET s) {
    if (Registration* r = t_registry.empty() ? nullptr : Find(s)) NoteConnect(*r);
    ChangeEventSelection(s, NoteConnect);
}

void NoteAsyncListen(SOCKET s) {
    if (Registration* r = t_registry.empty() ? nullptr : Find(s)) NoteListen(*r);
    ChangeEventSelection(s, NoteListen);
}

void ForgetAsyncSocket(SOCKET s) {
    std::erase_if(t_registry, [s](const Registration& r) { return r.socket == s; });
    ForgetEventSelection(s);
}

}  // namespace net

using namespace net;

namespace {

// A new registration of the socket for `events`: made non-blocking, its phase
// read from the system. false with the error set when it cannot be.
bool NewRegistration(SOCKET s, long events, Registration* out) {
    unsigned long nonBlocking = 1;
    if (NetIoctl(s, FIONBIO, &nonBlocking) != 0) return false;
    int listening = 0;
    SocketOption(s, SOL_SOCKET, SO_ACCEPTCONN, &listening);
    long wanted = events & (FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE);
    Phase phase = listening ? Phase::connected : PhaseOf(s);
    *out = Registration{s, phase, nullptr, 0, wanted, wanted, listening != 0};
    return true;
}

bool IsSocket(SOCKET s) {
    int type = 0;
    return SocketOption(s, SOL_SOCKET, SO_TYPE, &type);
}

// Polls the selected sockets once (no wait) and records what is ready. Called
// with g_eventMutex held.
void RecordReadyEvents() {
    auto* poll = Bound<decltype(::poll)>(Entry::select);
    if (poll == nullptr) return;
    std::vector<pollfd> polls;
    for (const Registration& r : g_eventRegistry) {
        short events = r.phase == Phase::idle ? 0 : PollEventsFor(r.armed);
        if (events != 0) polls.push_back(pollfd{r.socket, events, 0});
    }
    if (polls.empty() || poll(polls.data(), polls.size(), 0) <= 0) return;
    for (const pollfd& entry : polls) {
        Registration* r = Find(g_eventRegistry, entry.fd);
        if (r != nullptr && entry.revents != 0)
            Record(*r, ReadyEvents(*r, entry.revents), entry.revents);
    }
}

// Adds the sockets whose armed events a select can see: reads (read, accept,
// and close while no data waits, which would look like a read), writes (write,
// connect) and exceptions (out-of-band).
void AddWaitSets(NetFdSet* reads, NetFdSet* writes, NetFdSet* exceptions) {
    for (const Registration& r : g_eventRegistry) {
        if (r.phase == Phase::idle) continue;
        int waiting = 0;
        bool closeOnly = (r.armed & (FD_READ | FD_ACCEPT)) == 0 && (r.armed & FD_CLOSE) != 0;
        if (closeOnly && ioctl(r.socket, FIONREAD, &waiting) == 0 && waiting > 0) closeOnly = false;
        if ((r.armed & (FD_READ | FD_ACCEPT)) || (closeOnly && waiting == 0)) {
            NetFdAdd(reads, r.socket);
        }
        if (r.armed & (FD_WRITE | FD_CONNECT)) NetFdAdd(writes, r.socket);
        if (r.armed & (FD_OOB | FD_CONNECT)) NetFdAdd(exceptions, r.socket);
    }
}

}  // namespace

int NetAsyncSelect(SOCKET s, struct HWND__* window, unsigned int message, long events) {
    if (!IsLoaded()) return Fail(WSANOTINITIALISED, -1);
    if (!IsSocket(s)) {
        return Reported(SocketCall::asyncSelect, FailFromErrno(-1), s, window, message, events);
    }
    ForgetAsyncSocket(s);
    if (events == 0) return Reported(SocketCall::asyncSelect, 0, s, window, message, events);
    if (!IsWindow(window)) {
        return Reported(SocketCall::asyncSelect, Fail(WSAEINVAL, -1), s, window, message, events);
    }
    Registration registration{};
    if (!NewRegistration(s, events, &registration)) return -1;
    registration.window = window;
    registration.message = message;
    t_registry.push_back(registration);
    return Reported(SocketCall::asyncSelect, 0, s, window, message, events);
}

int NetEventSelect(SOCKET s, long events) {
    if (!IsLoaded()) return Fail(WSANOTINITIALISED, -1);
    if (!IsSocket(s)) return Reported(SocketCall::eventSelect, Fail(WSAENOTSOCK, -1), s, events);
    ForgetAsyncSocket(s);
    if (events == 0) return Reported(SocketCall::eventSelect, 0, s, events);
    Registration registration{};
    if (!NewRegistration(s, events, &registration)) return -1;
    std::lock_guard lock(g_eventMutex);
    g_eventRegistry.push_back(registration);
    g_eventCount = g_eventRegistry.size();
    return Reported(SocketCall::eventSelect, 0, s, events);
}

int NetEnumNetworkEvents(SOCKET s, NetNetworkEvents* events) {
    if (!IsLoaded()) return Fail(WSANOTINITIALISED, -1);
    if (events == nullptr)
        return Reported(SocketCall::enumNetworkEvents, Fail(WSAEFAULT, -1), s, events);
    if (!IsSocket(s)) {
        return Reported(SocketCall::enumNetworkEvents, Fail(WSAENOTSOCK, -1), s, events);
    }
    *events = NetNetworkEvents{};
    std::lock_guard lock(g_eventMutex);
    RecordReadyEvents();
    if (Registration* r = Find(g_eventRegistry, s)) {
        events->networkEvents = r->recorded;
        std::copy(std::begin(r->errors), std::end(r->errors), events->errorCodes);
        r->recorded = 0;
        std::fill(std::begin(r->errors), std::end(r->errors), 0);
    }
    return Reported(SocketCall::enumNetworkEvents, 0, s, events);
}

int NetWaitNetworkEvent(int timeoutMs) {
    if (!IsLoaded()) return Fail(WSANOTINITIALISED, -1);
    NetDeadline deadline = timeoutMs < 0 ? NetDeadline::Never() : NetDeadline::In(timeoutMs);
    bool quiet = true;  // the last select found nothing ready
    for (;;) {
        NetFdSet reads, writes, exceptions;
        NetFdInit(&reads);
        NetFdInit(&writes);
        NetFdInit(&exceptions);
        {
            std::lock_guard lock(g_eventMutex);
            RecordReadyEvents();
            bool signalled = std::any_of(g_eventRegistry.begin(), g_eventRegistry.end(),
                                         [](const Registration& r) { return r.recorded != 0; });
            if (signalled) return 1;
            AddWaitSets(&reads, &writes, &exceptions);
        }
        // A slice at most, so that selections made meanwhile are seen; a short
        // one after a readiness that recorded nothing.
        std::uint64_t slice = quiet ? 1000 : 10;
        if (!deadline.never()) slice = std::min<std::uint64_t>(deadline.Left(), slice);
        NetTimeval timeout{static_cast<int32_t>(slice / 1000),
                           static_cast<int32_t>(slice % 1000 * 1000)};
        int ready = quiet ? NetSelect(&reads, &writes, &exceptions, &timeout)
                          : NetSelect(nullptr, nullptr, nullptr, &timeout);
        NetFdFree(&reads);
        NetFdFree(&writes);
        NetFdFree(&exceptions);
        if (ready < 0) return -1;
        quiet = ready == 0;
        if (!deadline.never() && deadline.Left() == 0) return 0;
    }
}

int NetPumpAsyncEvents(void) {
    auto* poll = Bound<decltype(::poll)>(Entry::select);
    if (poll == nullptr) return 0;
    std::vector<pollfd> polls;
    std::size_t count = AppendAsyncPolls(polls);
    if (count == 0) return 0;
    int ready = poll(polls.data(), polls.size(), 0);
    return ready > 0 ? PostAsyncEvents(polls, 0, count) : 0;
}

void NetRepostAsyncEvents(HWND window, UINT message, SOCKET s, DWORD held) {
    constexpr DWORD kOrder[] = {FD_ACCEPT, FD_CONNECT, FD_CLOSE, FD_READ, FD_WRITE, FD_OOB};
    for (DWORD event : kOrder) {
        if (held & event) {
            PostMessageA(window, message, static_cast<WPARAM>(s), static_cast<LPARAM>(event));
        }
    }
}
