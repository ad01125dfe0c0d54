// The trace state: the open trace file, its flags, the thread that started it
// and the count of starts not yet stopped.
#include "net/trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "net/callhook.h"
#include "net/net.h"
#include "net/trace_format.h"
#include "platform/last_error_guard.h"

namespace net {
namespace {

constexpr std::size_t kMessageCapacity = 1024;

struct TraceState {
    std::mutex lock;
    int fd = -1;
    uint32_t flags = 0;
    std::thread::id owner;
    int starts = 0;
    std::atomic<bool> on{false};  // read without the lock on every traced call
};

TraceState& State() {
    static TraceState state;
    return state;
}

int ReadErrno() {
    return errno;
}
void WriteErrno(int error) {
    errno = error;
}
// Keeps errno as the traced code left it.
using ErrnoGuard = LastErrorGuard<&ReadErrno, &WriteErrno>;

bool ThreadIsTraced(const TraceState& state) {
    return (state.flags & NET_TRACE_PROCESS) || state.owner == std::this_thread::get_id();
}

void WriteAll(int fd, const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

bool Accepts(const TraceState& state, uint32_t wanted) {
    return state.fd >= 0 && ThreadIsTraced(state) && (state.flags & wanted) == wanted;
}

// True when tracing is on for this thread and `wanted` flags (if any) are among
// the trace flags: the caller may then build its text.
bool Wants(uint32_t wanted) {
    TraceState& state = State();
    if (!state.on.load(std::memory_order_relaxed)) return false;
    std::lock_guard guard(state.lock);
    return Accepts(state, wanted);
}

// Writes one entry under the same condition. True when written.
bool WriteEntry(uint32_t wanted, const std::string& text) {
    ErrnoGuard keepErrno;
    TraceState& state = State();
    std::lock_guard guard(state.lock);
    if (!Accepts(state, wanted)) return false;
    WriteAll(state.fd, text);
    return true;
}

void ObserveSocketCall(SocketCall call, std::intptr_t result, int argumentCount,
                       const std::intptr_t* arguments) {
    int error = NetGetLastError();
    WriteEntry(
        0, LinePrefix() + FormatSocketCall(call, result, argumentCount, arguments, error) + "\n");
}

int OpenTraceFile(const char* fileName) {
    if (fileName == nullptr || fileName[0] == '\0') return fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    return ::open(fileName, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

const char* KindOf(uint32_t flags) {
    if (flags & NET_TRACE_ERROR) return "error: ";
    if (flags & NET_TRACE_WARNING) return "warning: ";
    return "";
}

}  // namespace
}  // namespace net

using net::State;

extern "C" {

int NetTraceOn(const char* fileName, uint32_t flags) {
    net::ErrnoGuard keepErrno;
    if (NetGetLibrary() == nullptr) return 0;
    int fd = net::OpenTraceFile(fileName);
    if (fd < 0) return 0;
    net::TraceState& state = State();
    {
        std::lock_guard guard(state.lock);
        if (state.fd >= 0) ::close(state.fd);
        state.fd = fd;
        state.flags = flags;
        state.owner = std::this_thread::get_id();
        ++state.starts;
        state.on = true;
    }
    net::SetSocketCallObserver(net::ObserveSocketCall);
    char line[64];
    std::snprintf(line, sizeof line, "trace on, flags 0x%x\n", flags);
    net::WriteEntry(0, net::LinePrefix() + line);
    return 1;
}

int NetTraceOff(void) {
    net::ErrnoGuard keepErrno;
    net::TraceState& state = State();
    std::lock_guard guard(state.lock);
    if (state.starts < 1) return 0;
    if (--state.starts > 0) return 1;
    net::SetSocketCallObserver(nullptr);
    state.on = false;
    net::WriteAll(state.fd, net::LinePrefix() + "trace off\n");
    ::close(state.fd);
    state.fd = -1;
    return 1;
}

int NetTraceMessage(uint32_t flags, const char* format, ...) {
    if (format == nullptr || format[0] == '\0') return 0;
    flags &= NET_TRACE_ERROR | NET_TRACE_WARNING;
    if (!net::Wants(flags)) return 0;
    char text[net::kMessageCapacity];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return net::WriteEntry(flags, net::LinePrefix() + net::KindOf(flags) + text + "\n") ? 1 : 0;
}

int NetTraceDump(const void* data, long length) {
    if (data == nullptr || length <= 0 || !net::Wants(NET_TRACE_HEXDUMP)) return 0;
    const auto* bytes = static_cast<const unsigned char*>(data);
    return net::WriteEntry(NET_TRACE_HEXDUMP,
                           net::FormatDump(bytes, static_cast<std::size_t>(length)))
               ? 1
               : 0;
}

}  // extern "C"
