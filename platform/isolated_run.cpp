#include "platform/isolated_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>

#include "platform/system.h"

namespace platform {
namespace {

// The child's output goes as an 8-byte little-endian length and the bytes, so
// the parent knows it arrived whole whatever became of the child afterwards.
constexpr std::size_t kLengthBytes = 8;

std::uint64_t LengthOf(const std::string& received) {
    std::uint64_t size = 0;
    for (std::size_t i = 0; i < kLengthBytes; ++i)
        size |= static_cast<std::uint64_t>(static_cast<unsigned char>(received[i])) << (8 * i);
    return size;
}

// True once the length and all the bytes it announces have come.
bool Complete(const std::string& received) {
    return received.size() >= kLengthBytes && received.size() - kLengthBytes >= LengthOf(received);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

[[noreturn]] void RunChild(int fd, const std::function<std::string()>& work) {
    std::string output;
    try {
        output = work();
    } catch (...) {
        _exit(2);
    }
    char length[kLengthBytes];
    std::uint64_t size = output.size();
    for (std::size_t i = 0; i < kLengthBytes; ++i)
        length[i] = static_cast<char>((size >> (8 * i)) & 0xFF);
    bool sent = WriteAll(fd, length, kLengthBytes) && WriteAll(fd, output.data(), output.size());
    _exit(sent ? 0 : 3);
}

// Reads the child's pipe until the whole output came or the pipe closes, the
// deadline passes or more than `limit` bytes came. (The output is taken as soon
// as it is whole: a child forked by another thread at the same moment may hold
// the pipe open a while longer.)
IsolatedStatus Collect(int fd, ULONGLONG deadline, std::size_t limit,
                       const ReadableWait& waitReadable, std::string* received) {
    char block[16384];
    for (;;) {
        ULONGLONG now = GetTickCount64();
        if (now >= deadline) return IsolatedStatus::TimedOut;
        int ready =
            waitReadable(fd, static_cast<int>(std::min<ULONGLONG>(deadline - now, INT_MAX)));
        if (ready < 0) return IsolatedStatus::Stopped;
        if (ready == 0) continue;
        ssize_t count = read(fd, block, sizeof block);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (count <= 0) return IsolatedStatus::Finished;  // closed: the child has ended
        received->append(block, static_cast<std::size_t>(count));
        if (received->size() > limit) return IsolatedStatus::TooMuchOutput;
        if (Complete(*received)) return IsolatedStatus::Finished;
    }
}

// Waits for the child's end (killing it first when asked); the signal that
// ended it, or 0.
int Reap(pid_t child, bool kill) {
    if (kill) ::kill(child, SIGKILL);
    int status = 0;
    pid_t done;
    do {
        done = waitpid(child, &status, 0);
    } while (done < 0 && errno == EINTR);
    return done == child && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

}  // namespace

IsolatedResult RunIsolated(const std::function<std::string()>& work, int timeoutMs,
                           std::size_t maxOutput, const ReadableWait& waitReadable) {
    IsolatedResult result;
    ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::max(timeoutMs, 1));
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) return result;
    pid_t child = fork();
    if (child < 0) {
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        return result;
    }
    if (child == 0) {
        close(pipeEnds[0]);
        RunChild(pipeEnds[1], work);
    }
    close(pipeEnds[1]);
    std::string received;
    IsolatedStatus status =
        Collect(pipeEnds[0], deadline, maxOutput + kLengthBytes, waitReadable, &received);
    close(pipeEnds[0]);
    result.signal = Reap(child, status != IsolatedStatus::Finished);
    result.status = status;
    if (status != IsolatedStatus::Finished) return result;

    if (!Complete(received) || received.size() - kLengthBytes != LengthOf(received)) {
        result.status = IsolatedStatus::Stopped;
        return result;
    }
    result.output = received.substr(kLengthBytes);
    return result;
}

}  // namespace platform
