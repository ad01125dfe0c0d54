// The one change of a protocol machine's state: each machine's setter calls
// ChangeState with its enum's name table, so every change is written to the
// trace as "<machine> state Old -> New" while tracing is on.
#pragma once

#include <cstddef>

#include "net/trace.h"

namespace net {

// The name of a state from its machine's table ("?" for a value past it).
template <typename State, std::size_t N>
const char* StateName(const char* const (&names)[N], State state) {
    const auto index = static_cast<std::size_t>(state);
    return index < N ? names[index] : "?";
}

// Stores next in state; a change is traced.
template <typename State, std::size_t N>
void ChangeState(State& state, State next, const char* machine, const char* const (&names)[N]) {
    if (state == next) return;
    NetTraceMessage(NET_TRACE_INFO, "%s state %s -> %s", machine, StateName(names, state),
                    StateName(names, next));
    state = next;
}

}  // namespace net
