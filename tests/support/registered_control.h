// The control registered for this test program's child processes, as a user
// registers it before running scripts: a private registry folder in
// XDG_DATA_HOME (inherited by every program the tests start) and the built
// library registered there by the command line once.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/cli_run.h"
#include "support/test_files.h"

inline void RegisterControlForChildren() {
    static const bool registered = [] {
        static ScratchFolder registry{"registry"};
        setenv("XDG_DATA_HOME", registry.path().c_str(), 1);
        const RunResult run = RunCli({"register", "--user"});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return run.exitCode == 0;
    }();
    ASSERT_TRUE(registered);
}
