// The filetransfer command line: filetransfer [--set NAME=VALUE]... COMMAND ...
//
// Adding a command: in a cli/commands_*.cpp file (a new one per concern),
// write the handler `int Run...(Session&, const ParsedCommand&)`, list it in
// a `const CommandSpec k...Commands[]` array with its name, synopsis,
// argument counts and options (set `.connects = true` when it connects, so
// that it accepts -q, -k and --implicit and can call ConnectFor), and
// register the array at namespace scope:
//     const CommandRegistration kRegistration(k...Commands);
// Nothing here needs to change. The shared helpers are in cli/session.h;
// document the command in docs/command-line.md.
#include "cli/command_line.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_table.h"
#include "cli/session.h"

namespace {

constexpr const char* kUsageHead =
    "usage: filetransfer [--set NAME=VALUE]... COMMAND [OPTION]... [ARGUMENT]...\n"
    "       filetransfer --set NAME=VALUE [--set NAME=VALUE]...\n"
    "commands:\n";

constexpr const char* kUsageTail =
    "options of the commands that connect: -q (--quiet), -k (--insecure), --implicit,\n"
    "  --no-mlsd\n";

struct Invocation {
    std::vector<Assignment> assignments;
    const CommandSpec* command = nullptr;
    ParsedCommand parsed;
};

Invocation ParseArguments(int argc, char** argv) {
    Invocation invocation;
    int i = 1;
    for (; i < argc && std::string_view(argv[i]) == "--set"; i += 2) {
        if (i + 1 >= argc) throw UsageError{"--set needs NAME=VALUE"};
        invocation.assignments.push_back(ParseAssignment(argv[i + 1]));
    }
    if (i >= argc) {
        // Writes alone are allowed: they are applied and checked, nothing is printed.
        if (invocation.assignments.empty()) throw UsageError{"missing command"};
        return invocation;
    }
    const std::string_view name = argv[i++];
    invocation.command = FindCommand(name);
    if (!invocation.command) throw UsageError{"unknown command " + std::string(name)};
    invocation.parsed =
        ParseCommandWords(*invocation.command, std::span<char* const>(argv + i, argv + argc));
    return invocation;
}

constexpr std::string_view kCommandLineHttpVersion = "1.1";

}  // namespace

int RunCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err) {
    Invocation invocation;
    try {
        invocation = ParseArguments(argc, argv);
    } catch (const UsageError& usage) {
        err << "filetransfer: " << usage.message << "\n"
            << kUsageHead << CommandSynopses() << kUsageTail;
        return kExitUsage;
    }
    Session session(out, err);
    if (!session.Create()) return kExitFailure;
    // The command line speaks HTTP/1.1 (the control's own default is 1.0);
    // --set ProtocolVersion=... still decides.
    ScopedVariant version;
    SetTextVariant(version.get(), kCommandLineHttpVersion);
    if (!session.Put("ProtocolVersion", version.get())) return kExitFailure;
    // Listings by MLSD where the server offers MLST: exact names, sizes and UTC
    // times. --no-mlsd or --set UseMlsd=False keeps LIST.
    ScopedVariant mlsd;
    mlsd.get()->vt = VT_BOOL;
    mlsd.get()->boolVal = VARIANT_TRUE;
    if (!session.Put("UseMlsd", mlsd.get())) return kExitFailure;
    for (const Assignment& assignment : invocation.assignments) {
        if (!session.Assign(assignment)) return kExitFailure;
    }
    if (!invocation.command) return kExitSuccess;
    return invocation.command->run(session, invocation.parsed);
}
