// get and put: one file between the local disk and the server.
#include <algorithm>
#include <charconv>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "cli/command_line.h"
#include "cli/command_table.h"
#include "cli/interrupt.h"
#include "cli/progress_line.h"
#include "cli/progress_sink.h"
#include "cli/session.h"
#include "platform/text.h"
#include "resources/typeinfo.h"

namespace {

constexpr OptionSpec kTransferOptions[] = {
    {"--append", "", false},  {"--restart", "", true}, {"--active", "", false},
    {"--passive", "", false}, {"--type", "", true},
};

struct TypeName {
    std::string_view name;
    LONG fileType;
};

constexpr TypeName kTypeNames[] = {
    {"ascii", fileTypeASCII},
    {"binary", fileTypeImage},
    {"auto", fileTypeAuto},
};

std::optional<LONG> FileTypeOf(std::string_view name) {
    for (const TypeName& entry : kTypeNames) {
        if (entry.name == name) return entry.fileType;
    }
    return std::nullopt;
}

// Restart offsets travel as 64-bit numbers (GetFile64, PutFile64).
std::optional<LONGLONG> RestartOffsetOf(std::string_view text) {
    LONGLONG value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
    return value;
}

bool IsWebUrl(const std::string& text) {
    const auto startsWith = [&text](std::string_view scheme) {
        if (text.size() < scheme.size()) return false;
        for (std::size_t i = 0; i < scheme.size(); ++i) {
            const char c = text[i];
            if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != scheme[i]) {
                return false;
            }
        }
        return true;
    };
    return startsWith("http://") || startsWith("https://");
}

void ValidateTransfer(const ParsedCommand& command) {
    if (auto type = command.Value("--type"); type && !FileTypeOf(*type)) {
        throw UsageError{"--type takes ascii, binary or auto"};
    }
    if (auto offset = command.Value("--restart"); offset && !RestartOffsetOf(*offset)) {
        throw UsageError{"--restart takes a byte offset from 0 to 9223372036854775807"};
    }
    if (command.Has("--active") && command.Has("--passive")) {
        throw UsageError{"--active and --passive exclude each other"};
    }
    // An HTTP server cannot append, and a download would rewrite the local
    // file from its start: refused before anything is opened.
    if (command.Has("--append") &&
        std::any_of(command.arguments.begin(), command.arguments.end(), IsWebUrl)) {
        throw UsageError{"--append is not available for http:// and https:// URLs"};
    }
}

std::string_view BaseName(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool PutBool(Session& session, std::string_view name, bool on) {
    ScopedVariant value;
    value.get()->vt = VT_BOOL;
    value.get()->boolVal = on ? VARIANT_TRUE : VARIANT_FALSE;
    return session.Put(name, value.get());
}

bool PutLong(Session& session, std::string_view name, LONG number) {
    ScopedVariant value;
    value.get()->vt = VT_I4;
    value.get()->lVal = number;
    return session.Put(name, value.get());
}

std::optional<std::string> ReadText(Session& session, std::string_view name) {
    ScopedVariant value;
    if (!session.Get(name, value.get()) || (*value).vt != VT_BSTR) return std::nullopt;
    return Utf8FromBstr((*value).bstrVal);
}

// The transfer settings that must follow the URL's own (its ;type=).
bool ApplyTransferOptions(Session& session, const ParsedCommand& command) {
    bool ok = true;
    if (command.Has("--active")) ok = ok && PutBool(session, "Passive", false);
    if (command.Has("--passive")) ok = ok && PutBool(session, "Passive", true);
    if (auto type = command.Value("--type"))
        ok = ok && PutLong(session, "FileType", *FileTypeOf(*type));
    if (command.Has("--append")) ok = ok && PutBool(session, "AppendFile", true);
    return ok;
}

enum class Direction { Get, Put };

// GetFile/PutFile's arguments: LocalFile, then RemoteFile missing (the URL's
// path, Resource, is the remote name) and RestartOffset when one is given.
class TransferArguments {
  public:
    TransferArguments(const std::string& localFile, std::optional<LONGLONG> restartOffset) {
        for (VARIANT& value : values_)
            VariantInit(&value);
        SetTextVariant(&values_[0], localFile);
        if (!restartOffset) return;
        values_[1].vt = VT_ERROR;
        values_[1].scode = DISP_E_PARAMNOTFOUND;
        values_[2].vt = VT_I8;
        values_[2].llVal = *restartOffset;
        count_ = 3;
    }
    ~TransferArguments() {
        for (VARIANT& value : values_)
            VariantClear(&value);
    }
    TransferArguments(const TransferArguments&) = delete;
    TransferArguments& operator=(const TransferArguments&) = delete;

    std::span<VARIANT> span() { return std::span<VARIANT>(values_, count_); }

  private:
    VARIANT values_[3];
    std::size_t count_ = 1;
};

// Runs GetFile or PutFile on the open connection with the progress line on
// a terminal and Ctrl-C cancelling, then disconnects.
int Transfer(Session& session, const ParsedCommand& command, Direction direction,
             const std::string& localFile) {
    InterruptCancel interrupt(session);
    const bool showProgress = !command.Has("--quiet") && IsTerminalStream(session.err());
    ProgressLine line(session.err());
    const ProgressAdvise advise(session.control(), [&](long size, long copied, long percent) {
        if (showProgress) line.Update(size, copied, percent);
        interrupt.CancelIfRequested();
    });
    std::optional<LONGLONG> restart;
    if (auto offset = command.Value("--restart")) restart = RestartOffsetOf(*offset);
    TransferArguments arguments(localFile, restart);
    const HRESULT hr =
        session.TryCall(direction == Direction::Get ? "GetFile64" : "PutFile64", arguments.span());
    line.Finish();
    if (FAILED(hr)) {
        session.Fail(hr);
        session.TryCall("Disconnect", {});
        return kExitFailure;
    }
    return DisconnectFrom(session) ? kExitSuccess : kExitFailure;
}

// get URL [LOCAL]: LOCAL defaults to the remote file name; an existing
// directory receives the file under that name.
int RunGet(Session& session, const ParsedCommand& command) {
    const std::string& url = command.arguments[0];
    if (!ConnectFor(session, url, command)) return kExitFailure;
    const std::optional<std::string> resource = ReadText(session, "Resource");
    if (!resource) {
        session.TryCall("Disconnect", {});
        return kExitFailure;
    }
    const std::string remoteName(BaseName(*resource));
    std::string local = command.arguments.size() > 1 ? command.arguments[1] : remoteName;
    std::error_code ignored;
    if (command.arguments.size() > 1 && std::filesystem::is_directory(local, ignored)) {
        local = (std::filesystem::path(local) / remoteName).string();
    }
    if (local.empty()) {
        session.TryCall("Disconnect", {});
        session.err() << "filetransfer: " << url << " names no file\n";
        return kExitFailure;
    }
    if (!ApplyTransferOptions(session, command)) return kExitFailure;
    return Transfer(session, command, Direction::Get, local);
}

// put LOCAL URL: a URL ending in '/' takes the local file's name.
int RunPut(Session& session, const ParsedCommand& command) {
    const std::string& local = command.arguments[0];
    std::string url = command.arguments[1];
    if (!url.empty() && url.back() == '/') {
        // Resource is not percent-decoded, so the name goes in as it is.
        url += std::filesystem::path(local).filename().string();
    }
    if (!ConnectFor(session, url, command)) return kExitFailure;
    if (!ApplyTransferOptions(session, command)) return kExitFailure;
    return Transfer(session, command, Direction::Put, local);
}

const CommandSpec kTransferCommands[] = {
    {.name = "get",
     .usage = "URL [LOCAL]",
     .minArguments = 1,
     .maxArguments = 2,
     .options = kTransferOptions,
     .run = RunGet,
     .connects = true,
     .validate = ValidateTransfer},
    {.name = "put",
     .usage = "LOCAL URL",
     .minArguments = 2,
     .maxArguments = 2,
     .options = kTransferOptions,
     .run = RunPut,
     .connects = true,
     .validate = ValidateTransfer},
};

const CommandRegistration kRegistration(kTransferCommands);

}  // namespace
