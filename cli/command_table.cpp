#include "cli/command_table.h"

#include <charconv>

#include "cli/session.h"
#include "platform/text.h"
#include "url/proxy_env.h"

namespace {

constexpr OptionSpec kConnectionOptions[] = {
    {"--quiet", "-q", false},
    {"--insecure", "-k", false},
    {"--implicit", "", false},
    {"--known-hosts", "", true},
    {"--identity", "-i", true},
    {"--no-mlsd", "", false},
    {"--compressed-ssh", "", false},
    {"--user", "-u", true},
    {"--netrc", "-n", false},
    {"--netrc-file", "", true},
    // The bounds of decoded HTTP bodies (MaxDecodedSize, MaxDecodedRatio).
    {"--max-decoded-size", "", true},
    {"--max-decoded-ratio", "", true},
    {"--verbose", "-v", false},
    // The HTTP proxy instead of the environment's ("" for none), and hosts without one.
    {"--proxy", "", true},
    {"--noproxy", "", true},
};

// The decoding limits (MaxDecodedSize, MaxDecodedRatio) take plain decimal
// numbers, --proxy an http:// proxy URL.
void CheckOptionValues(const ParsedCommand& command) {
    if (auto size = command.Value("--max-decoded-size");
        size && !DecimalOption(*size, kMaxDecodedSize)) {
        throw UsageError{"--max-decoded-size takes a byte count from 0 to 9223372036854775807"};
    }
    if (auto ratio = command.Value("--max-decoded-ratio");
        ratio && !DecimalOption(*ratio, kMaxDecodedRatio)) {
        throw UsageError{"--max-decoded-ratio takes a number from 0 to 2147483647"};
    }
    // The URL is not repeated: it may hold the proxy's password.
    if (auto proxy = command.Value("--proxy");
        proxy && !proxy->empty() && !proxyenv::ParseProxyUrl(*proxy)) {
        throw UsageError{"--proxy takes http://[USER[:PASSWORD]@]HOST[:PORT]"};
    }
}

// The URL of a command that connects is the argument its usage calls URL (or
// URL-DIR). Without a scheme it is guessed as curl does for a host named
// "ftp.*"; any other is a usage error (the URL is not repeated: it may hold a
// password).
void GuessUrlScheme(const CommandSpec& definition, ParsedCommand& parsed) {
    const std::optional<std::size_t> index = UrlArgumentIndex(definition, parsed);
    if (!index) return;
    std::string& url = parsed.arguments[*index];
    if (url.find("://") != std::string::npos) return;
    if (url.size() <= 4 || !StartsWithIgnoringCase(url, "ftp.")) {
        throw UsageError{
            "the URL has no scheme: write ftp://, ftps://, sftp://, http:// or "
            "https:// before the host"};
    }
    url.insert(0, "ftp://");
}

}  // namespace

std::optional<std::size_t> UrlArgumentIndex(const CommandSpec& definition,
                                            const ParsedCommand& parsed) {
    std::size_t index = 0;
    std::string_view usage = definition.usage;
    while (!usage.empty() && !usage.starts_with("URL")) {
        const std::size_t blank = usage.find(' ');
        usage = blank == std::string_view::npos ? std::string_view{} : usage.substr(blank + 1);
        ++index;
    }
    if (usage.empty()) return std::nullopt;
    if (!definition.swapOption.empty() && parsed.Has(definition.swapOption) && index < 2) {
        index = 1 - index;
    }
    if (index >= parsed.arguments.size()) return std::nullopt;
    return index;
}

namespace {

std::vector<const CommandSpec*>& Registry() {
    static std::vector<const CommandSpec*> commands;
    return commands;
}

const OptionSpec* FindOption(std::span<const OptionSpec> options, std::string_view word) {
    for (const OptionSpec& option : options) {
        if (word == option.name || (!option.alias.empty() && word == option.alias)) return &option;
    }
    return nullptr;
}

const OptionSpec* FindOptionOf(const CommandSpec& definition, std::string_view word) {
    if (const OptionSpec* option = FindOption(definition.options, word)) return option;
    return definition.connects ? FindOption(kConnectionOptions, word) : nullptr;
}

void CheckArgumentCount(const CommandSpec& definition, std::size_t count) {
    const auto given = static_cast<int>(count);
    const bool tooFew = given < definition.minArguments;
    const bool tooMany = definition.maxArguments != kAnyCount && given > definition.maxArguments;
    if (tooFew || tooMany) {
        throw UsageError{std::string(definition.name) + " takes " + std::string(definition.usage)};
    }
}

}  // namespace

std::optional<std::int64_t> DecimalOption(std::string_view text, std::int64_t highest) {
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0 || value > highest) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> ParsedCommand::Value(std::string_view name) const {
    const auto found = options.find(name);
    if (found == options.end()) return std::nullopt;
    return found->second;
}

CommandRegistration::CommandRegistration(std::span<const CommandSpec> commands) {
    for (const CommandSpec& command : commands)
        Registry().push_back(&command);
}

const CommandSpec* FindCommand(std::string_view name) {
    for (const CommandSpec* command : Registry()) {
        if (command->name == name) return command;
    }
    return nullptr;
}

std::string CommandSynopses() {
    std::string text;
    for (const CommandSpec* command : Registry()) {
        text += "       filetransfer " + std::string(command->name);
        if (!command->usage.empty()) text += " " + std::string(command->usage);
        text += "\n";
    }
    return text;
}

std::string CommandUsage(const CommandSpec& command) {
    std::string text = "usage: filetransfer " + std::string(command.name);
    if (!command.usage.empty()) text += " " + std::string(command.usage);
    text += "\n";
    std::string options;
    const auto list = [&options](std::span<const OptionSpec> specs) {
        for (const OptionSpec& option : specs) {
            options += options.empty() ? "options: " : ", ";
            options += option.alias.empty()
                           ? std::string(option.name)
                           : std::string(option.alias) + " (" + std::string(option.name) + ")";
            if (option.takesValue) options += " VALUE";
        }
    };
    list(command.options);
    if (command.connects) list(kConnectionOptions);
    return options.empty() ? text : text + options + "\n";
}

namespace {

// The options a word stands for: itself, or each letter of a bundle of short
// options ("-qk" is -q and -k). Null entries are unknown.
std::vector<const OptionSpec*> OptionsOfWord(const CommandSpec* definition, std::string_view word) {
    const auto find = [definition](std::string_view name) -> const OptionSpec* {
        if (definition) return FindOptionOf(*definition, name);
        if (const OptionSpec* option = FindOption(kConnectionOptions, name)) return option;
        for (const CommandSpec* command : Registry()) {
            if (const OptionSpec* option = FindOption(command->options, name)) return option;
        }
        return nullptr;
    };
    if (const OptionSpec* option = find(word); option || word.starts_with("--")) return {option};
    std::vector<const OptionSpec*> letters;
    for (std::size_t i = 1; i < word.size(); ++i) {
        const char alias[] = {'-', word[i], '\0'};
        letters.push_back(find(alias));
        // Only a bundle's last letter may take a value (the next word).
        if (letters.back() && letters.back()->takesValue && i + 1 < word.size()) {
            letters.back() = nullptr;
        }
    }
    return letters;
}

}  // namespace

bool OptionTakesValue(std::string_view word) {
    const std::vector<const OptionSpec*> options = OptionsOfWord(nullptr, word);
    return !options.empty() && options.back() && options.back()->takesValue;
}

ParsedCommand ParseCommandWords(const CommandSpec& definition, std::span<char* const> words) {
    ParsedCommand parsed;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string_view word = words[i];
        const bool verbatim =
            definition.verbatimAfter > 0 &&
            parsed.arguments.size() >= static_cast<std::size_t>(definition.verbatimAfter);
        if (optionsEnded || verbatim || word.size() < 2 || word.front() != '-') {
            parsed.arguments.emplace_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        if (word == "-h" || word == "--help") {
            parsed.help = true;
            continue;
        }
        if (word == "--set") {
            if (i + 1 >= words.size()) throw UsageError{"--set needs NAME=VALUE"};
            parsed.settings.emplace_back(words[++i]);
            continue;
        }
        for (const OptionSpec* option : OptionsOfWord(&definition, word)) {
            if (!option) {
                throw UsageError{"unknown option " + std::string(word) + " for " +
                                 std::string(definition.name)};
            }
            std::string value;
            if (option->takesValue) {
                if (i + 1 >= words.size()) throw UsageError{std::string(word) + " needs a value"};
                value = words[++i];
            }
            parsed.options[std::string(option->name)] = value;
        }
    }
    if (parsed.help) return parsed;
    CheckArgumentCount(definition, parsed.arguments.size());
    if (definition.connects) {
        CheckOptionValues(parsed);
        GuessUrlScheme(definition, parsed);
    }
    if (definition.validate) definition.validate(parsed);
    return parsed;
}
