// The keep-alive thread and the sessions that take part in it. The scheme that
// keeps the thread and the owner threads apart is described in keepalive.h.
#include "ftp/keepalive.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "ftp/engine.h"
#include "ftp/protocol_ops.h"
#include "net/socket_wait.h"
#include "platform/system.h"
#include "resources/errors.h"

namespace ftp {
namespace {

constexpr char kNoop[] = "NOOP\r\n";
constexpr int kNoopLength = sizeof kNoop - 1;
constexpr int kAnswerPiece = 256;
// The answer is consumed, not parsed; a server that keeps talking is cut off here.
constexpr std::size_t kMaxAnswerBytes = 16384;
// Waits are cut into slices this long (ms), so that a stop is seen soon.
constexpr DWORD kWaitSlice = 100;

struct Service {
    std::mutex mutex;
    std::condition_variable wake;
    std::thread worker;
    bool running = false;
    int count = 0;
    std::atomic<bool> stopping{false};
    std::atomic<int> answered{0};

    std::atomic<DWORD> passInterval{KeepAliveTimings{}.passInterval};
    std::atomic<DWORD> idleTime{KeepAliveTimings{}.idleTime};
    std::atomic<DWORD> firstAnswerWait{KeepAliveTimings{}.firstAnswerWait};
    std::atomic<DWORD> moreAnswerWait{KeepAliveTimings{}.moreAnswerWait};

    Service() = default;
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;
    // A process that ends without FtpUninitialize still ends the thread first.
    ~Service() { StopKeepAliveThread(); }
};

Service& TheService() {
    static Service service;
    return service;
}

bool Stopping() {
    return TheService().stopping.load();
}

// Sleeps one pass interval. False when the thread is to end (a stop, or no
// session takes part any more); running is cleared in the same step, so a
// session that enables keep-alive afterwards starts a new thread.
bool AwaitNextPass() {
    Service& service = TheService();
    std::unique_lock<std::mutex> lock(service.mutex);
    auto interval = std::chrono::milliseconds(service.passInterval.load());
    service.wake.wait_for(lock, interval,
                          [&] { return service.stopping.load() || service.count <= 0; });
    if (!service.stopping.load() && service.count > 0) return true;
    service.count = 0;
    service.running = false;
    return false;
}

// True when the socket becomes readable within ms.
bool WaitReadable(SOCKET s, DWORD ms) {
    const NetWaitRules rules{NetDeadline::In(ms), kWaitSlice,
                             []() -> int { return Stopping() ? fileErrorOperationCanceled : 0; }};
    return NetWait(s, kNetReadable, rules) == 0;
}

// Sends the NOOP in one piece when the socket takes it at once.
bool SendNoop(const FtpSession& session, TlsChannel* tls) {
    const SOCKET s = session.controlSocket.get();
    if (NetWait(s, kNetWritable, {NetDeadline::In(0)}) != 0) return false;
    if (tls) return TlsEncrypt(tls, kNoop, kNoopLength) == kNoopLength;
    return NetSend(s, kNoop, kNoopLength, 0) == kNoopLength;
}

// Reads and drops the answer: the first bytes within the first wait, then
// pieces while each comes within the next wait. The bytes read.
std::size_t DrainAnswer(const FtpSession& session, TlsChannel* tls, const KeepAliveTimings& t) {
    std::array<char, kAnswerPiece> piece{};
    const SOCKET s = session.controlSocket.get();
    std::size_t total = 0;
    DWORD wait = t.firstAnswerWait;
    while (total < kMaxAnswerBytes && WaitReadable(s, wait)) {
        const int got = tls ? TlsDecrypt(tls, piece.data(), kAnswerPiece)
                            : NetRecv(s, piece.data(), kAnswerPiece, 0);
        if (got <= 0) break;
        total += static_cast<std::size_t>(got);
        wait = t.moreAnswerWait;
    }
    return total;
}

void ExchangeNoop(FtpSession& session, const KeepAliveTimings& timings) {
    TlsChannel* tls = session.commandChannelSecure ? session.commandTls.get() : nullptr;
    // A TLS wait that times out would notify the owner's window from this thread.
    const bool wasSuspended = session.notificationsSuspended;
    session.notificationsSuspended = true;
    const bool sent = SendNoop(session, tls);
    const std::size_t answered = sent ? DrainAnswer(session, tls, timings) : 0;
    session.notificationsSuspended = wasSuspended;
    if (!sent) return;  // tried again at the next pass
    session.lastCommandTick = GetTickCount();
    if (answered > 0) ++TheService().answered;
    if (answered == 0 && !Stopping()) {
        session.options &= ~static_cast<std::uint32_t>(FTP_OPTION_KEEPALIVE);
        LeaveKeepAlive(session);
    }
}

bool IsDue(const FtpSession& session, DWORD now, DWORD idleTime) {
    if (!session.keepAliveCounted || !session.HasOption(FTP_OPTION_KEEPALIVE)) return false;
    if (!session.controlSocket.valid() || session.replyPending) return false;
    if (session.dataSocket.valid() && !session.HasOption(FTP_OPTION_KEEPALIVE_DATA)) return false;
    return now - session.lastCommandTick >= idleTime;
}

// The next session of this pass that is idle and due, claimed (its exchange
// mutex locked), or null when none is left.
SessionRef ClaimNextDue(std::vector<FtpClient>& visited, DWORD idleTime) {
    Engine& engine = GetEngine();
    CriticalSectionGuard guard(*engine.lock.get());
    const DWORD now = GetTickCount();
    for (const SessionRef& session : engine.table.Records()) {
        if (std::find(visited.begin(), visited.end(), session->handle) != visited.end()) continue;
        visited.push_back(session->handle);
        // The table's reference and this copy: no operation holds the session,
        // and none can take it while the library lock is held.
        if (session.use_count() != 2) continue;
        // Pairs with the release of the last operation's reference, so that
        // what that operation wrote is seen here.
        std::atomic_thread_fence(std::memory_order_acquire);
        if (!IsDue(*session, now, idleTime)) continue;
        if (!session->keepAliveExchange.try_lock()) continue;
        return session;
    }
    return nullptr;
}

void RunPass() {
    const KeepAliveTimings timings = GetKeepAliveTimings();
    std::vector<FtpClient> visited;
    while (!Stopping()) {
        SessionRef session = ClaimNextDue(visited, timings.idleTime);
        if (!session) return;
        ExchangeNoop(*session, timings);
        session->keepAliveExchange.unlock();
    }
}

// Under the service's mutex. False when the thread could not be created.
bool StartThread(Service& service) {
    if (service.worker.joinable()) service.worker.join();  // one that has ended
    try {
        service.worker = std::thread(FtpKeepAliveThread, nullptr);
    } catch (const std::system_error&) {
        return false;
    }
    service.running = true;
    return true;
}

}  // namespace

void SetKeepAliveTimings(const KeepAliveTimings& timings) {
    Service& service = TheService();
    service.passInterval = timings.passInterval;
    service.idleTime = timings.idleTime;
    service.firstAnswerWait = timings.firstAnswerWait;
    service.moreAnswerWait = timings.moreAnswerWait;
    service.wake.notify_all();
}

KeepAliveTimings GetKeepAliveTimings() {
    const Service& service = TheService();
    return {service.passInterval.load(), service.idleTime.load(), service.firstAnswerWait.load(),
            service.moreAnswerWait.load()};
}

int KeepAliveSessionCount() {
    Service& service = TheService();
    std::lock_guard<std::mutex> lock(service.mutex);
    return service.count;
}

int KeepAliveAnsweredCount() {
    return TheService().answered.load();
}

bool KeepAliveThreadRunning() {
    Service& service = TheService();
    std::lock_guard<std::mutex> lock(service.mutex);
    return service.running;
}

int EnableKeepAlive(FtpSession& session) {
    session.options |= FTP_OPTION_KEEPALIVE;
    session.lastCommandTick = GetTickCount();
    if (!session.ops->commandChannel) return 0;
    Service& service = TheService();
    std::lock_guard<std::mutex> lock(service.mutex);
    if (session.keepAliveCounted) return 0;
    if (!service.running && !StartThread(service)) return Fail(fileErrorThreadCreationFailed);
    session.keepAliveCounted = true;
    ++service.count;
    return 0;
}

void WaitForKeepAliveExchange(FtpSession& session) {
    std::lock_guard<std::mutex> wait(session.keepAliveExchange);
}

void LeaveKeepAlive(FtpSession& session) {
    Service& service = TheService();
    std::lock_guard<std::mutex> lock(service.mutex);
    if (!session.keepAliveCounted) return;
    session.keepAliveCounted = false;
    if (service.count > 0) --service.count;
    if (service.count == 0) service.wake.notify_all();
}

void StopKeepAliveThread() {
    Service& service = TheService();
    std::thread worker;
    {
        std::lock_guard<std::mutex> lock(service.mutex);
        service.stopping = true;
        worker = std::move(service.worker);
    }
    service.wake.notify_all();
    if (worker.joinable()) worker.join();
    std::lock_guard<std::mutex> lock(service.mutex);
    service.stopping = false;
    service.running = false;
    service.count = 0;
}

}  // namespace ftp

using namespace ftp;

extern "C" {

int FtpEnableKeepAlive(FtpClient client) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    return EnableKeepAlive(*session);
}

DWORD FtpKeepAliveThread(void*) {
    // This thread has no windows: its waits need not pump messages.
    NetEnableBlockingHook(0);
    LowerCurrentThreadPriority();
    while (AwaitNextPass())
        RunPass();
    return 0;
}

}  // extern "C"
