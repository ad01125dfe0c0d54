// Proxy auto-configuration scripts: runs a script's FindProxyForURL(url, host)
// with the standard helper functions, bounded in time and memory, and gives
// its answer text ("PROXY host:port; DIRECT" and the like).
#pragma once

#include <string>
#include <string_view>

namespace pac {

enum class Outcome {
    Answer,         // the function returned a string: `answer` holds it
    ScriptError,    // the script does not compile, throws, lacks the function or returns no string
    TimedOut,       // it ran past its time
    TooMuchMemory,  // it asked for more memory than a script may have
    Unavailable,    // scripts cannot be run here
};

struct Evaluation {
    Outcome outcome = Outcome::Unavailable;
    std::string answer;  // the function's result when outcome is Answer
    std::string detail;  // what went wrong otherwise, for the trace
};

// Evaluates script and calls FindProxyForURL(url, host); timeoutMs bounds the
// whole run (compiling the script and its name lookups included; 0 or less
// means 5000). The script runs in a child process with at most 32 MiB for its
// heap (docs/pac.md).
Evaluation FindProxyForUrl(std::string_view script, std::string_view url, std::string_view host,
                           int timeoutMs);

}  // namespace pac
