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
#include "cli/hresult_text.h"
#include "cli/session.h"
#include "http/http.h"
#include "platform/text.h"
#include "resources/version.h"
#include "tls/tls.h"

namespace {

constexpr const char* kUsageHead =
    "usage: filetransfer [--set NAME=VALUE]... COMMAND [OPTION]... [ARGUMENT]...\n"
    "       filetransfer --set NAME=VALUE [--set NAME=VALUE]...\n"
    "       filetransfer --help | --version | help COMMAND\n"
    "commands:\n";

constexpr const char* kUsageTail =
    "options of the commands that connect: -q (--quiet), -k (--insecure), --implicit,\n"
    "  --no-mlsd, --compressed-ssh, --known-hosts FILE, -i (--identity) KEY,\n"
    "  --max-decoded-size BYTES, --max-decoded-ratio N, -u (--user) USER[:PASSWORD],\n"
    "  -n (--netrc), --netrc-file FILE\n"
    "Options may come before or after the command, short ones bundled (-qk); --set\n"
    "NAME=VALUE writes a property of the control first; -- ends the options.\n";

constexpr const char* kHint = "Try 'filetransfer --help' for more information.\n";

enum class Request { Run, Help, Version };

struct Invocation {
    Request request = Request::Run;
    std::vector<Assignment> assignments;
    const CommandSpec* command = nullptr;
    ParsedCommand parsed;
};

// Before the command's name: --set, --help, --version, and options of the
// command itself, which go to its parser with the words after the name.
Invocation ParseArguments(int argc, char** argv) {
    Invocation invocation;
    std::vector<char*> words;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--set") {
            if (i + 1 >= argc) throw UsageError{"--set needs NAME=VALUE"};
            invocation.assignments.push_back(ParseAssignment(argv[++i]));
        } else if (word == "-h" || word == "--help") {
            invocation.request = Request::Help;
            return invocation;
        } else if (word == "-V" || word == "--version") {
            invocation.request = Request::Version;
            return invocation;
        } else if (word.size() > 1 && word.front() == '-' && word != "--") {
            words.push_back(argv[i]);
            if (OptionTakesValue(word) && i + 1 < argc) words.push_back(argv[++i]);
        } else {
            break;
        }
    }
    if (i >= argc) {
        // Writes alone are allowed: they are applied and checked, nothing is printed.
        if (!words.empty()) throw UsageError{"missing command after " + std::string(words[0])};
        if (invocation.assignments.empty()) throw UsageError{"missing command"};
        return invocation;
    }
    std::string_view name = argv[i++];
    const bool help = name == "help";
    if (help) {
        invocation.request = Request::Help;
        if (i >= argc) return invocation;
        name = argv[i++];
    }
    invocation.command = FindCommand(name);
    if (!invocation.command) throw UsageError{"unknown command " + std::string(name)};
    if (help) return invocation;
    words.insert(words.end(), argv + i, argv + argc);
    invocation.parsed = ParseCommandWords(*invocation.command, words);
    for (const std::string& setting : invocation.parsed.settings) {
        invocation.assignments.push_back(ParseAssignment(setting));
    }
    if (invocation.parsed.help) invocation.request = Request::Help;
    return invocation;
}

// What --version prints: the version, the protocols, the features and the
// libraries the engines are built on.
void PrintVersion(std::ostream& out) {
    out << "filetransfer " << kFileVersion.major << '.' << kFileVersion.minor << '.'
        << kFileVersion.build << '.' << kFileVersion.revision << "\n"
        << "Protocols: ftp ftps sftp http https\n"
        << "Features: IPv6 TLS-1.2 TLS-1.3 SSH-2 gzip deflate MLSD known_hosts ssh-agent\n"
        << "Libraries: " << TlsProviderVersion() << ", zlib " << HttpZlibVersion()
        << ", SSH and its cryptography our own\n";
}

constexpr std::string_view kCommandLineHttpVersion = "1.1";

}  // namespace

int RunCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err, std::istream& in) {
    Invocation invocation;
    try {
        invocation = ParseArguments(argc, argv);
    } catch (const UsageError& usage) {
        err << "filetransfer: " << usage.message << "\n" << kHint;
        return kExitUsage;
    }
    switch (invocation.request) {
        case Request::Help:
            if (invocation.command) {
                out << CommandUsage(*invocation.command);
            } else {
                out << kUsageHead << CommandSynopses() << kUsageTail;
            }
            return kExitSuccess;
        case Request::Version:
            PrintVersion(out);
            return kExitSuccess;
        case Request::Run:
            break;
    }
    Session session(out, err, in);
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
    if (const auto index = UrlArgumentIndex(*invocation.command, invocation.parsed)) {
        const std::string& url = invocation.parsed.arguments[*index];
        session.SetSubject(UrlPath(url), !StartsWithIgnoringCase(url, "sftp:"));
    }
    const int status = invocation.command->run(session, invocation.parsed);
    return status == kExitFailure ? ExitStatusOf(session.failure()) : status;
}
