// NetAsyncSelect: the thread's registry of sockets whose readiness is posted to
// a window. The approximation: readiness is only noticed while the registering
// thread pumps (inside NetSelect's pumping wait or NetPumpAsyncEvents), not at
// any moment as with a kernel notification; each event is posted once and
// waits to be re-armed by the matching call (recv for FD_READ and FD_OOB,
// accept for FD_ACCEPT, a send that would block for FD_WRITE); FD_CONNECT and
// FD_CLOSE come once.
#include "net/async.h"
#include "net/async_repost.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>

#include "net/binding.h"
#include "net/callhook.h"
#include "net/socket_errors.h"
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
};

thread_local std::vector<Registration> t_registry;

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

Registration* Find(SOCKET s) {
    auto it = std::find_if(t_registry.begin(), t_registry.end(),
                           [s](const Registration& r) { return r.socket == s; });
    return it == t_registry.end() ? nullptr : &*it;
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

void RearmAsyncEvents(SOCKET s, long events) {
    if (t_registry.empty()) return;
    if (Registration* r = Find(s)) r->armed |= events & r->events;
}

void NoteAsyncConnect(SOCKET s) {
    if (t_registry.empty()) return;
    if (Registration* r = Find(s); r != nullptr && r->phase == Phase::idle) {
        r->phase = Phase::connecting;
    }
}

void NoteAsyncListen(SOCKET s) {
    if (t_registry.empty()) return;
    if (Registration* r = Find(s)) {
        r->listening = true;
        r->phase = Phase::connected;
    }
}

void ForgetAsyncSocket(SOCKET s) {
    std::erase_if(t_registry, [s](const Registration& r) { return r.socket == s; });
}

}  // namespace net

using namespace net;

int NetAsyncSelect(SOCKET s, struct HWND__* window, unsigned int message, long events) {
    if (!IsLoaded()) return Fail(WSANOTINITIALISED, -1);
    int type = 0;
    if (!SocketOption(s, SOL_SOCKET, SO_TYPE, &type)) {
        return Reported(SocketCall::asyncSelect, FailFromErrno(-1), s, window, message, events);
    }
    ForgetAsyncSocket(s);
    if (events == 0) return Reported(SocketCall::asyncSelect, 0, s, window, message, events);
    if (!IsWindow(window)) {
        return Reported(SocketCall::asyncSelect, Fail(WSAEINVAL, -1), s, window, message, events);
    }
    unsigned long nonBlocking = 1;
    if (NetIoctl(s, FIONBIO, &nonBlocking) != 0) return -1;
    int listening = 0;
    SocketOption(s, SOL_SOCKET, SO_ACCEPTCONN, &listening);
    long wanted = events & (FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE);
    Phase phase = listening ? Phase::connected : PhaseOf(s);
    t_registry.push_back(Registration{s, phase, window, message, wanted, wanted, listening != 0});
    return Reported(SocketCall::asyncSelect, 0, s, window, message, events);
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
