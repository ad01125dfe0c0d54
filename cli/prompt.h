// Asking the user for a secret (a key's passphrase, a login password): only when
// standard input is a terminal, read from /dev/tty with echo off, the terminal
// restored on every way out, Ctrl-C included.
#pragma once

#include <string_view>

#include "platform/secret_string.h"

// Whether a prompt may be shown: standard input is a terminal.
bool CanPrompt();
// Shows the prompt on the terminal and reads one line into *secret without echo.
// false when there is no terminal, on end of input, or when Ctrl-C interrupted
// (which is then passed on to the SIGINT handler that was in place).
bool PromptSecret(std::string_view prompt, SecretBytes* secret);
