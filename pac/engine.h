// One run of a script in the calling process: a fresh script heap bounded in
// memory, the helper functions, the script, then FindProxyForURL(url, host).
// Nothing here bounds the time; pac.cpp runs this in a child process for that.
#pragma once

#include <cstddef>
#include <string_view>

#include "pac/pac.h"

namespace pac {

// The most a script's heap may hold, and the longest answer taken.
constexpr std::size_t kScriptMemoryLimit = 32u << 20;
constexpr std::size_t kAnswerLimit = 64u << 10;

Evaluation RunScript(std::string_view script, std::string_view url, std::string_view host,
                     std::size_t memoryLimit = kScriptMemoryLimit);

}  // namespace pac
