// The table of commands. Each cli/commands_*.cpp file defines its commands
// as a CommandSpec array and registers it with a CommandRegistration at
// namespace scope; cli/command_line.cpp finds commands by name here.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class Session;

// An option after the command name: "--name" with an optional "-x" alias.
struct OptionSpec {
    std::string_view name;
    std::string_view alias;
    bool takesValue = false;
};

// The command's words after its name, options taken apart.
struct ParsedCommand {
    std::vector<std::string> arguments;
    // Options given, by long name; the value or "" for a flag. The last one
    // given wins.
    std::map<std::string, std::string, std::less<>> options;

    bool Has(std::string_view name) const { return options.find(name) != options.end(); }
    std::optional<std::string> Value(std::string_view name) const;
};

using CommandHandler = int (*)(Session& session, const ParsedCommand& command);
// Checks the arguments before anything runs; throws UsageError.
using CommandValidator = void (*)(const ParsedCommand& command);

constexpr int kAnyCount = -1;

struct CommandSpec {
    std::string_view name;
    std::string_view usage;  // the synopsis after the name, for the usage text
    int minArguments = 0;
    int maxArguments = 0;  // kAnyCount: no limit
    std::span<const OptionSpec> options = {};
    CommandHandler run = nullptr;
    // Commands that connect also accept -q, -k, --implicit, --known-hosts, -i and
    // --no-mlsd.
    bool connects = false;
    // After this many arguments the remaining words are taken as they are,
    // also those starting with '-' (the raw command words of cmd). 0: never.
    int verbatimAfter = 0;
    CommandValidator validate = nullptr;
};

class CommandRegistration {
  public:
    explicit CommandRegistration(std::span<const CommandSpec> commands);
};

// The command named exactly name, or null.
const CommandSpec* FindCommand(std::string_view name);
// One "       filetransfer NAME USAGE" line per command, in registration order.
std::string CommandSynopses();

// Splits the words after the command name into options and arguments;
// throws UsageError for an unknown option, a missing option value or a wrong
// number of arguments, and runs the command's validator. "--" ends the options.
ParsedCommand ParseCommandWords(const CommandSpec& definition, std::span<char* const> words);
