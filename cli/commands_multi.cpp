// mget and mput: every file of a remote folder into a local one and back,
// through GetMultipleFiles and PutMultipleFiles.
#include <string>

#include "cli/command_line.h"
#include "cli/command_table.h"
#include "cli/interrupt.h"
#include "cli/progress_sink.h"
#include "cli/session.h"

namespace {

// The URL names a folder: its closing '/' is added when missing.
std::string FolderUrl(std::string url) {
    if (url.empty() || url.back() != '/') url += '/';
    return url;
}

// Connects to the folder URL, runs the method with LocalDir, the URL's folder
// and the mask (empty: every file), and disconnects. Ctrl-C cancels.
int CopyFolder(Session& session, const ParsedCommand& command, const char* method,
               const std::string& localFolder, const std::string& url) {
    if (!ConnectFor(session, FolderUrl(url), command)) return kExitFailure;
    // Relative to the login folder ("" for the login folder itself).
    const std::string remoteFolder = UrlPath(FolderUrl(url));
    InterruptCancel interrupt(session);
    const ProgressAdvise advise(session.control(),
                                [&](uint64_t, uint64_t, long) { interrupt.CancelIfRequested(); });
    VARIANT arguments[3];
    for (VARIANT& argument : arguments)
        VariantInit(&argument);
    SetTextVariant(&arguments[0], localFolder);
    SetTextVariant(&arguments[1], remoteFolder);
    SetTextVariant(&arguments[2], command.arguments.size() > 2 ? command.arguments[2] : "");
    const HRESULT hr = session.TryCall(method, arguments);
    for (VARIANT& argument : arguments)
        VariantClear(&argument);
    if (FAILED(hr)) {
        session.Fail(hr);
        session.TryCall("Disconnect", {});
        return kExitFailure;
    }
    return DisconnectFrom(session) ? kExitSuccess : kExitFailure;
}

// mget URL-DIR LOCAL-DIR [MASK]
int RunMultipleGet(Session& session, const ParsedCommand& command) {
    return CopyFolder(session, command, "GetMultipleFiles", command.arguments[1],
                      command.arguments[0]);
}

// mput LOCAL-DIR URL-DIR [MASK]
int RunMultiplePut(Session& session, const ParsedCommand& command) {
    return CopyFolder(session, command, "PutMultipleFiles", command.arguments[0],
                      command.arguments[1]);
}

const CommandSpec kMultipleCommands[] = {
    {.name = "mget",
     .usage = "URL-DIR LOCAL-DIR [MASK]",
     .minArguments = 2,
     .maxArguments = 3,
     .run = RunMultipleGet,
     .connects = true},
    {.name = "mput",
     .usage = "LOCAL-DIR URL-DIR [MASK]",
     .minArguments = 2,
     .maxArguments = 3,
     .run = RunMultiplePut,
     .connects = true},
};

const CommandRegistration kRegistration(kMultipleCommands);

}  // namespace
