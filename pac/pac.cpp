#include "pac/pac.h"

#include <string>

#include "net/net.h"
#include "net/socket_errors.h"
#include "net/socket_wait.h"
#include "pac/engine.h"
#include "platform/isolated_run.h"

namespace pac {
namespace {

constexpr int kDefaultTimeoutMs = 5000;

// The child's evaluation travels as one letter for the outcome and the text.
constexpr char kOutcomeLetters[] = {'A', 'S', 'T', 'M', 'U'};
static_assert(sizeof kOutcomeLetters == static_cast<std::size_t>(Outcome::Unavailable) + 1);

std::string Encode(const Evaluation& evaluation) {
    auto index = static_cast<std::size_t>(evaluation.outcome);
    std::string bytes(1, kOutcomeLetters[index]);
    bytes += evaluation.outcome == Outcome::Answer ? evaluation.answer : evaluation.detail;
    return bytes;
}

Evaluation Decode(const std::string& bytes) {
    Evaluation evaluation;
    evaluation.outcome = Outcome::ScriptError;
    evaluation.detail = "the script engine gave no result";
    for (std::size_t i = 0; !bytes.empty() && i < sizeof kOutcomeLetters; ++i) {
        if (bytes[0] != kOutcomeLetters[i]) continue;
        evaluation.outcome = static_cast<Outcome>(i);
        evaluation.detail.clear();
        (evaluation.outcome == Outcome::Answer ? evaluation.answer : evaluation.detail) =
            bytes.substr(1);
    }
    return evaluation;
}

Evaluation Failed(Outcome outcome, std::string detail) {
    Evaluation evaluation;
    evaluation.outcome = outcome;
    evaluation.detail = std::move(detail);
    return evaluation;
}

// The socket runtime stays started around the run, so the child's lookups find
// it loaded.
struct NetRuntime {
    bool started = NetStartup(nullptr) == 0;
    ~NetRuntime() {
        if (started) NetCleanup();
    }
};

}  // namespace

Evaluation FindProxyForUrl(std::string_view script, std::string_view url, std::string_view host,
                           int timeoutMs) {
    if (timeoutMs <= 0) timeoutMs = kDefaultTimeoutMs;
    NetRuntime runtime;
    auto work = [&] { return Encode(RunScript(script, url, host)); };
    auto waitReadable = [](int fd, int ms) {
        NetWaitRules rules(NetDeadline::In(static_cast<std::uint64_t>(ms)));
        rules.descriptors = true;
        NetWaitEntry pipe{fd, kNetReadable, 0};
        const int error = NetWaitAny(std::span(&pipe, 1), rules);
        return error == 0 ? 1 : error == net::WSAETIMEDOUT ? 0 : -1;
    };
    platform::IsolatedResult run =
        platform::RunIsolated(work, timeoutMs, kAnswerLimit + 1024, waitReadable);
    switch (run.status) {
        case platform::IsolatedStatus::Finished:
            return Decode(run.output);
        case platform::IsolatedStatus::TimedOut:
            return Failed(Outcome::TimedOut,
                          "the script ran past " + std::to_string(timeoutMs) + " ms");
        case platform::IsolatedStatus::TooMuchOutput:
            return Failed(Outcome::ScriptError, "the answer is too long");
        case platform::IsolatedStatus::Stopped:
            return Failed(Outcome::ScriptError,
                          "the script engine stopped (signal " + std::to_string(run.signal) + ")");
        case platform::IsolatedStatus::Unavailable:
            break;
    }
    return Failed(Outcome::Unavailable, "no process could be started for the script");
}

}  // namespace pac
