// Runs whole command lines through the built `filetransfer` program, as a user
// does, and captures what they print.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/child_process.h"

struct RunResult {
    int exitCode;
    std::string out;
    std::string err;
};

// Runs `filetransfer ARGS...` with input on its standard input; onStart learns
// the program's pid once it runs.
inline RunResult RunCli(std::vector<std::string> args, const std::string& input = "",
                        const std::function<void(pid_t)>& onStart = {}) {
    args.insert(args.begin(), FT_CLI_PROGRAM);
    ChildRun run = RunChild(std::move(args), input, onStart);
    return {run.exitCode, std::move(run.out), std::move(run.err)};
}

// The run of a command that must succeed; a failure shows what it printed on stderr.
inline RunResult ExpectOk(RunResult run) {
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return run;
}
