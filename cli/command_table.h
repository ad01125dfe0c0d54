// The table of commands. Each cli/commands_*.cpp file defines its commands
// as a CommandSpec array and registers it with a CommandRegistration at
// namespace scope; cli/command_line.cpp finds commands by name here.
#pragma once

#include <cstdint>
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

    // The NAME=VALUE texts of --set options among the words, in order.
    std::vector<std::string> settings;
    // -h or --help was among the words: the command's usage is wanted.
    bool help = false;

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
    // Commands that connect also accept -q, -k, --implicit, --known-hosts, -i,
    // --no-mlsd, --max-decoded-size and --max-decoded-ratio.
    bool connects = false;
    // After this many arguments the remaining words are taken as they are,
    // also those starting with '-' (the raw command words of cmd). 0: never.
    int verbatimAfter = 0;
    CommandValidator validate = nullptr;
    // An option that swaps the first two arguments (mirror -R LOCAL-DIR
    // URL-DIR): the URL is then the other one.
    std::string_view swapOption = {};
};

class CommandRegistration {
  public:
    explicit CommandRegistration(std::span<const CommandSpec> commands);
};

// A plain decimal number from 0 to highest, or nullopt.
std::optional<std::int64_t> DecimalOption(std::string_view text, std::int64_t highest);
inline constexpr std::int64_t kMaxDecodedSize = 0x7FFFFFFFFFFFFFFF;
inline constexpr std::int64_t kMaxDecodedRatio = 0x7FFFFFFF;

// Where the command's URL stands among its arguments (after a swap option),
// or nullopt when it has none.
std::optional<std::size_t> UrlArgumentIndex(const CommandSpec& definition,
                                            const ParsedCommand& parsed);

// The command named exactly name, or null.
const CommandSpec* FindCommand(std::string_view name);
// One "       filetransfer NAME USAGE" line per command, in registration order.
std::string CommandSynopses();

// The usage line of one command ("usage: filetransfer NAME USAGE").
std::string CommandUsage(const CommandSpec& command);

// Splits the words of a command (its options may also come before its name)
// into options and arguments; throws UsageError for an unknown option, a
// missing option value or a wrong number of arguments, and runs the command's
// validator. Short options may be bundled ("-qk", "-qi KEY"); "--set
// NAME=VALUE" may stand anywhere; "--" ends the options. With -h or --help
// nothing else is checked.
ParsedCommand ParseCommandWords(const CommandSpec& definition, std::span<char* const> words);
// Whether an option word takes a value, for options met before the command
// name: the word is looked up among every command's options. Unknown words
// and bundles take none, except a bundle whose last letter does.
bool OptionTakesValue(std::string_view word);
