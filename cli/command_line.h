// The filetransfer command line: filetransfer [--set NAME=VALUE]... COMMAND.
#pragma once

#include <ostream>

// Exit codes: 0 success, 1 a property call failed, 2 usage error.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int RunCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err);
