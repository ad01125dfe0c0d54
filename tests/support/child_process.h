// Runs a program as a child process: its standard input fed from a text, its
// standard output and error captured, its end awaited up to a deadline (then it
// is killed), and its peak resident memory read from the kernel. Or starts one
// in the background (a server, an agent) that is stopped when its object goes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "support/test_files.h"

extern char** environ;

struct ChildRun {
    int exitCode =
        -1;  // the exit status, 128 + the signal for a killed child, -1 when it did not start
    std::string out;
    std::string err;
    long peakKiB = 0;
    bool timedOut = false;
};

// Reaps the child by the deadline, killing it when the deadline passes; its wait
// status in *status and its resource use in *usage (when given). False when it
// had to be killed.
inline bool ReapChild(pid_t pid, std::chrono::steady_clock::time_point deadline, int* status,
                      rusage* usage = nullptr) {
    rusage ignored{};
    if (!usage) usage = &ignored;
    while (::wait4(pid, status, WNOHANG, usage) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::wait4(pid, status, 0, usage);
            return false;
        }
        ::usleep(10000);
    }
    return true;
}

// onStart, when given, learns the child's pid as soon as it runs (to signal it).
inline ChildRun RunChild(std::vector<std::string> args, const std::string& input = "",
                         const std::function<void(pid_t)>& onStart = {},
                         std::chrono::seconds deadline = std::chrono::seconds(120)) {
    ChildRun run;
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv = ArgvOf(args);
    pid_t pid = -1;
    const bool started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (!started) {
        ::close(in[1]);
        ::close(out[0]);
        ::close(err[0]);
        return run;
    }
    if (onStart) onStart(pid);
    // Feed the input and drain both outputs together, so no pipe fills up.
    std::size_t fed = 0;
    int feeding = in[1];
    if (input.empty()) {
        ::close(feeding);
        feeding = -1;
    }
    int reading[2] = {out[0], err[0]};
    std::string* sinks[2] = {&run.out, &run.err};
    const auto end = std::chrono::steady_clock::now() + deadline;
    while ((reading[0] >= 0 || reading[1] >= 0) && std::chrono::steady_clock::now() < end) {
        pollfd fds[3] = {{reading[0], POLLIN, 0}, {reading[1], POLLIN, 0}, {feeding, POLLOUT, 0}};
        if (::poll(fds, 3, 100) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (reading[i] < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[65536];
            const ssize_t got = ::read(reading[i], buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            } else {
                ::close(reading[i]);
                reading[i] = -1;
            }
        }
        if (feeding >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t put = ::write(feeding, input.data() + fed, input.size() - fed);
            if (put > 0) fed += static_cast<std::size_t>(put);
            if (put <= 0 || fed == input.size()) {
                ::close(feeding);
                feeding = -1;
            }
        }
    }
    for (int fd : {reading[0], reading[1], feeding})
        if (fd >= 0) ::close(fd);
    int status = 0;
    rusage usage{};
    run.timedOut = !ReapChild(pid, end, &status, &usage);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.peakKiB = usage.ru_maxrss;
    return run;
}

// A program running in the background: standard input and output from the
// descriptors given (/dev/null for -1, or the log file for an output of -1),
// standard error into the log file when one is named. Stopped (its whole
// session when it has one of its own) by SIGTERM, then SIGKILL after five
// seconds.
class BackgroundProcess {
  public:
    BackgroundProcess(std::vector<std::string> args, int in = -1, int out = -1,
                      const std::string& log = "", bool ownSession = false)
        : ownSession_(ownSession) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (in >= 0) {
            posix_spawn_file_actions_adddup2(&actions, in, 0);
        } else {
            posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        }
        if (out >= 0) {
            posix_spawn_file_actions_adddup2(&actions, out, 1);
        } else {
            posix_spawn_file_actions_addopen(&actions, 1, log.empty() ? "/dev/null" : log.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0600);
        }
        if (!log.empty())
            posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT, 0600);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        if (ownSession) posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
        std::vector<char*> argv = ArgvOf(args);
        if (posix_spawnp(&pid_, argv[0], &actions, &attributes, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~BackgroundProcess() {
        if (pid_ <= 0) return;
        ::kill(ownSession_ ? -pid_ : pid_, SIGTERM);
        if (!Exited(std::chrono::seconds(5))) {
            ::kill(ownSession_ ? -pid_ : pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    bool running() const { return pid_ > 0; }
    // Whether it ends within the time (then it is reaped and no longer running).
    bool Exited(std::chrono::milliseconds within) {
        const auto end = std::chrono::steady_clock::now() + within;
        while (pid_ > 0) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
            if (pid_ <= 0 || std::chrono::steady_clock::now() >= end) break;
            ::usleep(10000);
        }
        return pid_ <= 0;
    }

  private:
    pid_t pid_ = -1;
    bool ownSession_;
};
