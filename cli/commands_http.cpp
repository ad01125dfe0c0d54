// post: a local file as a multipart form upload to an http:// or https:// URL.
#include <array>
#include <string>
#include <string_view>

#include "cli/command_line.h"
#include "cli/command_table.h"
#include "cli/session.h"
#include "platform/text.h"

namespace {

constexpr OptionSpec kPostOptions[] = {{"--field", "", true}};

constexpr std::string_view kWebSchemes[] = {"http://", "https://"};

bool IsWebUrl(std::string_view url) {
    for (std::string_view scheme : kWebSchemes) {
        if (url.size() < scheme.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < scheme.size() && same; ++i) {
            const char c = url[i];
            same = (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) == scheme[i];
        }
        if (same) return true;
    }
    return false;
}

// Only the HTTP engine posts forms; an FTP URL would connect just to be refused.
void ValidatePost(const ParsedCommand& command) {
    if (!IsWebUrl(command.arguments[1])) {
        throw UsageError{"post needs an http:// or https:// URL"};
    }
    if (auto field = command.Value("--field"); field && field->empty()) {
        throw UsageError{"--field needs a name"};
    }
}

// PostFile(LocalFile, RemoteFile missing: the URL's path, FieldName).
int RunPost(Session& session, const ParsedCommand& command) {
    if (!ConnectFor(session, command.arguments[1], command)) return kExitFailure;
    std::array<VARIANT, 3> arguments{};
    for (VARIANT& value : arguments)
        VariantInit(&value);
    SetTextVariant(&arguments[0], command.arguments[0]);
    arguments[1].vt = VT_ERROR;
    arguments[1].scode = DISP_E_PARAMNOTFOUND;
    const std::optional<std::string> field = command.Value("--field");
    if (field) SetTextVariant(&arguments[2], *field);
    const HRESULT hr = session.TryCall(
        "PostFile", std::span<VARIANT>(arguments.data(), field ? arguments.size() : 2));
    for (VARIANT& value : arguments)
        VariantClear(&value);
    if (FAILED(hr)) {
        session.Fail(hr);
        session.TryCall("Disconnect", {});
        return kExitFailure;
    }
    return DisconnectFrom(session) ? kExitSuccess : kExitFailure;
}

const CommandSpec kHttpCommands[] = {
    {.name = "post",
     .usage = "LOCAL URL [--field NAME]",
     .minArguments = 2,
     .maxArguments = 2,
     .options = kPostOptions,
     .run = RunPost,
     .connects = true,
     .validate = ValidatePost},
};

const CommandRegistration kRegistration(kHttpCommands);

}  // namespace
