// Settings of the loopback test servers (scripts/servers.sh): taken from the
// environment first, then from the env file that `servers.sh start` writes.
#pragma once

#include <initializer_list>
#include <string>

// The value of an FT_TEST_* setting, or "" when it is not set.
std::string Setting(const std::string& name);

// True under CI (CI=true), where a test that needs the servers must fail
// instead of skipping when they are missing.
bool InCi();

// What a shell command prints on its standard output ("" when it cannot run);
// the command bounds its own time (timeout N ...).
std::string CommandOutput(const std::string& command);

// The first of the names without a value, or "" when all are set.
std::string MissingSetting(std::initializer_list<std::string> names);

// Ends a SetUp or test whose server settings are missing: a failure under CI,
// a skip elsewhere.
#define REQUIRE_SERVER_SETTINGS(...)                                                 \
    do {                                                                             \
        const std::string missing_ = MissingSetting({__VA_ARGS__});                  \
        if (missing_.empty()) break;                                                 \
        if (InCi()) FAIL() << missing_ << " missing; run scripts/servers.sh start";  \
        GTEST_SKIP() << "no test servers configured: " << missing_ << " is not set"; \
    } while (0)

// Skips (outside CI) when the server refused the connection: it is not running.
// Under CI the caller's own assertion reports the failure.
#define SKIP_IF_NOT_RUNNING(refused, server) \
    if ((refused) && !InCi()) GTEST_SKIP() << (server) << " is not running"
