#include "cli/prompt.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/wipe.h"

namespace {

constexpr std::size_t kMaxSecretLength = 1024;

// The terminal state to put back, reachable from the signal handler.
int terminal = -1;
termios saved{};
volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) {
    // tcsetattr is async-signal-safe: echo comes back even if nothing else runs.
    if (terminal >= 0) tcsetattr(terminal, TCSAFLUSH, &saved);
    interrupted = 1;
}

// Echo off for its lifetime, with a SIGINT handler that restores it; the old
// handler and the echo come back in the destructor.
class EchoOff {
  public:
    explicit EchoOff(int fd) {
        if (tcgetattr(fd, &saved) != 0) return;
        terminal = fd;
        interrupted = 0;
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // no restart: the read ends with EINTR
        sigaction(SIGINT, &action, &previous_);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ICANON;
        tcsetattr(fd, TCSAFLUSH, &quiet);
        active_ = true;
    }
    ~EchoOff() {
        if (!active_) return;
        tcsetattr(terminal, TCSAFLUSH, &saved);
        sigaction(SIGINT, &previous_, nullptr);
        terminal = -1;
        // Ctrl-C still means what it meant before the prompt.
        if (interrupted) raise(SIGINT);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;
    bool active() const { return active_; }

  private:
    struct sigaction previous_ {};
    bool active_ = false;
};

}  // namespace

bool CanPrompt() {
    return isatty(STDIN_FILENO) == 1;
}

bool PromptSecret(std::string_view prompt, SecretBytes* secret) {
    secret->Wipe();
    if (!CanPrompt()) return false;
    const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    char line[kMaxSecretLength];
    std::size_t length = 0;
    bool complete = false;
    {
        EchoOff echoOff(fd);
        if (echoOff.active() && write(fd, prompt.data(), prompt.size()) >= 0) {
            while (length < sizeof line) {
                char c = 0;
                const ssize_t count = read(fd, &c, 1);
                if (count < 0 && errno == EINTR && !interrupted) continue;
                if (count <= 0) break;
                if (c == '\n' || c == '\r') {
                    complete = true;
                    break;
                }
                line[length++] = c;
            }
            [[maybe_unused]] const ssize_t ignored = write(fd, "\n", 1);
        }
        complete = complete && !interrupted;
    }
    close(fd);
    if (complete) secret->assign(std::string_view(line, length));
    SecureWipe(line, sizeof line);
    return complete;
}
