// The filetransfer command line: filetransfer [--set NAME=VALUE]... COMMAND ...
// The commands are in cli/commands_*.cpp (see cli/command_line.cpp).
#pragma once

#include <iostream>
#include <ostream>

// Exit codes: 0 success, 1 a call failed, 2 usage error. A command that
// fails exits with the status of its failure's class (ExitStatusOf), 1 when
// the failure has no class of its own.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int RunCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err,
                   std::istream& in = std::cin);
