// Runs whole command lines in-process and captures what they print.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "support/test_files.h"

struct RunResult {
    int exitCode;
    std::string out;
    std::string err;
};

// Runs `filetransfer ARGS...`.
inline RunResult RunCli(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), "filetransfer");
    std::vector<char*> argv = ArgvOf(args);
    std::ostringstream out, err;
    std::istringstream in(input);
    const int code = RunCommandLine(static_cast<int>(args.size()), argv.data(), out, err, in);
    return {code, out.str(), err.str()};
}
