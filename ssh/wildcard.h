// Wildcard matching for version patterns and file masks: "*" matches any run of
// characters, "?" one character, "[a-z]" one character of a set of characters and
// ranges ("[^...]" negates it), and a backslash makes the next character literal.
// The whole text must match; case matters.
#pragma once

#include <string_view>

bool SshWildcardMatch(std::string_view pattern, std::string_view text);

// The patterns of OpenSSH's host lists (known_hosts): "*" and "?" only, any case;
// every other character, brackets included, stands for itself.
bool SshHostPatternMatch(std::string_view pattern, std::string_view text);
