// Settings of the loopback test servers (scripts/servers.sh): taken from the
// environment first, then from the env file that `servers.sh start` writes.
#pragma once

#include <string>

// The value of an FT_TEST_* setting, or "" when it is not set.
std::string Setting(const std::string& name);

// True under CI (CI=true), where a test that needs the servers must fail
// instead of skipping when they are missing.
bool InCi();
