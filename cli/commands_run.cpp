// run SCRIPT.js [ARGUMENT]...: runs a script in the script host (script/),
// which creates its own controls; see docs/scripting.md.
#include "cli/command_line.h"
#include "cli/command_table.h"
#include "cli/session.h"
#include "script/host.h"

namespace {

int RunScript(Session& session, const ParsedCommand& command) {
    const std::vector<std::string> arguments(command.arguments.begin() + 1,
                                             command.arguments.end());
    return RunScriptFile(command.arguments[0], arguments, session.out(), session.err());
}

const CommandSpec kRunCommands[] = {
    {.name = "run",
     .usage = "SCRIPT.js [ARGUMENT]...",
     .minArguments = 1,
     .maxArguments = kAnyCount,
     .run = RunScript,
     // The script's own arguments (/name:value, -x) are passed as written.
     .verbatimAfter = 1},
};

const CommandRegistration kRegistration(kRunCommands);

}  // namespace
