// The script host: runs a JavaScript file with the objects Windows Script
// Host gives its scripts (WScript, ActiveXObject, VBArray), in the calling
// thread, in the embedded JavaScript engine. See docs/scripting.md.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// Exit statuses of a run besides the script's own WScript.Quit(code): 0 when
// the script ends, 1 for a script error (syntax or an uncaught exception), 2
// when the script file cannot be read.
constexpr int kScriptSucceeded = 0;
constexpr int kScriptFailed = 1;
constexpr int kScriptUnreadable = 2;

// Runs the script at path with its arguments (WScript.Arguments). What the
// script writes goes to out (WScript.Echo, WScript.StdOut) and err
// (WScript.StdErr); a script error is written to err as
// "FILE:LINE: NAME: MESSAGE".
int RunScriptFile(const std::string& path, const std::vector<std::string>& arguments,
                  std::ostream& out, std::ostream& err);
