// get and put: one file between the local disk and the server.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "cli/command_table.h"
#include "cli/hresult_text.h"
#include "cli/interrupt.h"
#include "cli/progress_line.h"
#include "cli/progress_sink.h"
#include "cli/remote_files.h"
#include "cli/session.h"
#include "control/FileTransfer.h"
#include "platform/file.h"
#include "platform/system.h"
#include "platform/text.h"
#include "resources/errors.h"
#include "resources/typeinfo.h"

namespace {

// -R keeps the modification time: the remote one for get, the local one for put.
constexpr OptionSpec kPutOptions[] = {
    {"--append", "", false},     {"--restart", "", true},  {"--continue-at", "-C", true},
    {"--active", "", false},     {"--passive", "", false}, {"--type", "", true},
    {"--preserve", "-R", false},
};

// get names its local file also as curl does: -o FILE, -O, --create-dirs.
constexpr OptionSpec kGetOptions[] = {
    {"--append", "", false},      {"--restart", "", true},        {"--continue-at", "-C", true},
    {"--active", "", false},      {"--passive", "", false},       {"--type", "", true},
    {"--output", "-o", true},     {"--remote-name", "-O", false}, {"--preserve", "-R", false},
    {"--create-dirs", "", false},
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

// -C N is --restart N; -C - takes the offset from the sizes of the two files.
bool ContinuesFromSizes(const ParsedCommand& command) {
    return command.Value("--continue-at") == "-";
}

std::optional<LONGLONG> GivenRestart(const ParsedCommand& command) {
    if (auto offset = command.Value("--restart")) return RestartOffsetOf(*offset);
    if (auto offset = command.Value("--continue-at"); offset && *offset != "-")
        return RestartOffsetOf(*offset);
    return std::nullopt;
}

bool Resumes(const ParsedCommand& command) {
    return command.Has("--restart") || command.Has("--continue-at");
}

// LOCAL of get: its argument or -o's value.
std::optional<std::string> LocalOfGet(const ParsedCommand& command) {
    if (command.arguments.size() > 1) return command.arguments[1];
    return command.Value("--output");
}

bool IsWebUrl(const std::string& text) {
    return StartsWithIgnoringCase(text, "http://") || StartsWithIgnoringCase(text, "https://");
}

void ValidateTransfer(const ParsedCommand& command) {
    if (auto type = command.Value("--type"); type && !FileTypeOf(*type)) {
        throw UsageError{"--type takes ascii, binary or auto"};
    }
    if (auto offset = command.Value("--restart"); offset && !RestartOffsetOf(*offset)) {
        throw UsageError{"--restart takes a byte offset from 0 to 9223372036854775807"};
    }
    if (auto offset = command.Value("--continue-at");
        offset && *offset != "-" && !RestartOffsetOf(*offset)) {
        throw UsageError{"--continue-at takes - or a byte offset from 0 to 9223372036854775807"};
    }
    if (command.Has("--continue-at") && command.Has("--restart")) {
        throw UsageError{"--continue-at and --restart exclude each other"};
    }
    if (ContinuesFromSizes(command) && command.Has("--append")) {
        throw UsageError{"--continue-at - and --append exclude each other"};
    }
    if (command.Has("--output") && command.arguments.size() > 1) {
        throw UsageError{"--output and LOCAL exclude each other"};
    }
    if (command.Has("--remote-name") && (command.Has("--output") || command.arguments.size() > 1)) {
        throw UsageError{"--remote-name and a local name exclude each other"};
    }
    // "-" is standard output or input: nothing there to continue or append to.
    const bool standardStream = std::find(command.arguments.begin(), command.arguments.end(),
                                          "-") != command.arguments.end() ||
                                command.Value("--output") == "-";
    if (standardStream && (Resumes(command) || command.Has("--append") ||
                           command.Has("--preserve") || command.Has("--create-dirs"))) {
        throw UsageError{
            "--restart, --continue-at, --append, --preserve and --create-dirs need a local "
            "file, not -"};
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

// GetFile/PutFile's arguments: LocalFile, then RemoteFile, and RestartOffset
// when one is given. Over HTTP RemoteFile is left out, so the URL's path and
// query (Resource) name the resource; over FTP and SFTP it is the URL's path
// relative to the login folder, since Resource keeps the root's slash of a
// file at the top ("ftp://h/a.txt" gives "/a.txt").
class TransferArguments {
  public:
    TransferArguments(const std::string& localFile, const std::string& url,
                      std::optional<LONGLONG> restartOffset) {
        for (VARIANT& value : values_)
            VariantInit(&value);
        SetTextVariant(&values_[0], localFile);
        if (IsWebUrl(url)) {
            values_[1].vt = VT_ERROR;
            values_[1].scode = DISP_E_PARAMNOTFOUND;
        } else {
            SetTextVariant(&values_[1], UrlPath(url));
        }
        count_ = 2;
        if (!restartOffset) return;
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
// a terminal and Ctrl-C cancelling; the connection stays open.
HRESULT RunTransfer(Session& session, const ParsedCommand& command, Direction direction,
                    const std::string& localFile, const std::string& url,
                    std::optional<LONGLONG> restart) {
    InterruptCancel interrupt(session);
    const bool showProgress = !command.Has("--quiet") && IsTerminalStream(session.err());
    ProgressLine line(session.err());
    const ProgressAdvise advise(session.control(),
                                [&](uint64_t size, uint64_t copied, long percent) {
                                    if (showProgress) line.Update(size, copied, percent);
                                    interrupt.CancelIfRequested();
                                });
    TransferArguments arguments(localFile, url, restart);
    const HRESULT hr =
        session.TryCall(direction == Direction::Get ? "GetFile64" : "PutFile64", arguments.span());
    line.Finish(SUCCEEDED(hr));
    return hr;
}

// A certificate refused after a redirect is reported as the first
// connection's would be; any other failure by its error.
int FailTransfer(Session& session, HRESULT hr) {
    if (hr != kAutomationErrorBase + fileErrorSecurityCertificate ||
        !RefuseInvalidCertificate(session)) {
        session.Fail(hr);
    }
    session.TryCall("Disconnect", {});
    return kExitFailure;
}

// -R after a transfer: get gives the local file the remote file's time, put
// the remote file the local one's where the protocol can set it (SFTP, an FTP
// server that takes MFMT or MDTM with a time); where it cannot, or the server
// tells no time, the file keeps its own and nothing is said. False after
// printing any other failure.
bool PreserveTime(Session& session, Direction direction, const std::string& localFile,
                  const std::string& url) {
    const std::string remote = UrlPath(url);
    HRESULT hr = S_OK;
    if (direction == Direction::Get) {
        std::time_t time = 0;
        hr = ReadRemoteTime(session, remote, &time);
        if (hr == S_OK && !SetLocalFileTime(localFile, time)) {
            hr = kAutomationErrorBase + fileErrorAccessDenied;
        }
    } else if (const std::optional<std::time_t> time = LocalFileTime(localFile)) {
        hr = WriteRemoteTime(session, remote, *time);
    }
    return SUCCEEDED(hr) || IsUnsupported(hr) || session.Fail(hr);
}

// After the transfer, -R; then the connection ends.
int Finish(Session& session, const ParsedCommand& command, Direction direction,
           const std::string& localFile, const std::string& url) {
    if (command.Has("--preserve") && !PreserveTime(session, direction, localFile, url)) {
        session.TryCall("Disconnect", {});
        return kExitFailure;
    }
    return DisconnectFrom(session) ? kExitSuccess : kExitFailure;
}

int Transfer(Session& session, const ParsedCommand& command, Direction direction,
             const std::string& localFile, const std::string& url,
             std::optional<LONGLONG> restart = std::nullopt) {
    const HRESULT hr = RunTransfer(session, command, direction, localFile, url, restart);
    if (FAILED(hr)) return FailTransfer(session, hr);
    return Finish(session, command, direction, localFile, url);
}

// The remote file's size (GetFileSize64 on the name GetFile and PutFile get),
// or the failure.
HRESULT RemoteSize(Session& session, const std::string& url, LONGLONG* size) {
    VARIANT arguments[2];
    ScopedVariant result;
    VariantInit(&arguments[0]);
    SetTextVariant(&arguments[0], UrlPath(url));
    arguments[1].vt = VT_BYREF | VT_VARIANT;
    arguments[1].pvarVal = result.get();
    const HRESULT hr = session.TryCall("GetFileSize64", arguments);
    VariantClear(&arguments[0]);
    if (FAILED(hr)) return hr;
    if ((*result).vt == VT_I8) {
        *size = (*result).llVal;
    } else if ((*result).vt == VT_I4) {
        *size = static_cast<std::uint32_t>((*result).lVal);
    } else {
        return E_UNEXPECTED;
    }
    return S_OK;
}

// -C -: get continues the local file from its end, put the remote one from
// its end. Ends the command (its status) when the target is complete already,
// or larger than its source (never cut back); else sets the offset, none for
// a target that is missing or empty. A remote size that cannot be read lets a
// get continue from the local end all the same (the server has the last word);
// a put sends the whole file only when the remote one does not exist.
std::optional<int> ContinueFromSizes(Session& session, Direction direction,
                                     const std::string& localFile, const std::string& url,
                                     std::optional<LONGLONG>* restart) {
    const LONGLONG localSize = platform::FileSizeOf(localFile);
    if (direction == Direction::Get && localSize <= 0) return std::nullopt;
    LONGLONG remoteSize = 0;
    const HRESULT hr = RemoteSize(session, url, &remoteSize);
    const bool missing = hr == kAutomationErrorBase + fileErrorFileNotFound ||
                         hr == kAutomationErrorBase + fileErrorResourceNotFound;
    if (FAILED(hr)) {
        if (direction == Direction::Get) {
            *restart = localSize;
            return std::nullopt;
        }
        if (missing || localSize < 0) return std::nullopt;
        return FailTransfer(session, hr);
    }
    const LONGLONG have = direction == Direction::Get ? localSize : remoteSize;
    const LONGLONG want = direction == Direction::Get ? remoteSize : localSize;
    if (localSize < 0 || have == 0) return std::nullopt;
    const std::string target = direction == Direction::Get ? localFile : UrlPath(url);
    if (have == want) {
        session.err() << "filetransfer: already complete: " << target << "\n";
        return DisconnectFrom(session) ? kExitSuccess : kExitFailure;
    }
    if (have > want) {
        session.TryCall("Disconnect", {});
        session.err() << "filetransfer: cannot continue " << target << ": "
                      << (direction == Direction::Get ? "the local file" : "the remote file")
                      << " (" << have << " bytes) is larger than "
                      << (direction == Direction::Get ? "the remote one" : "the local one") << " ("
                      << want << " bytes)\n";
        return kExitFailure;
    }
    *restart = have;
    return std::nullopt;
}

// get and put to or from a named local file, with the restart --restart, -C N
// or -C - asks for.
int TransferFile(Session& session, const ParsedCommand& command, Direction direction,
                 const std::string& localFile, const std::string& url) {
    if (!ApplyTransferOptions(session, command)) return kExitFailure;
    // A source that cannot be read, or a target that cannot be created, is the
    // local side's failure: its message names the local file.
    if (direction == Direction::Put && platform::FileSizeOf(localFile) < 0)
        session.SetSubject("local file " + localFile);
    if (direction == Direction::Get) session.SetLocalTarget(localFile);
    std::optional<LONGLONG> restart = GivenRestart(command);
    if (ContinuesFromSizes(command)) {
        if (auto status = ContinueFromSizes(session, direction, localFile, url, &restart))
            return *status;
    }
    return Transfer(session, command, direction, localFile, url, restart);
}

// A download the server may name goes into a new file of its own in the
// target folder first, so that no other file is touched before the name is
// known. The path, or nullopt when none could be created.
std::optional<std::string> CreatePartFile(const std::filesystem::path& folder) {
    constexpr int kAttempts = 100;
    const std::string stem = ".filetransfer-" + std::to_string(GetCurrentProcessId()) + "-";
    for (int i = 0; i < kAttempts; ++i) {
        const std::string path = (folder / (stem + std::to_string(i) + ".part")).string();
        const int error = platform::CreateNewFile(path);
        if (error == 0) return path;
        if (error != platform::kFileErrorExists) break;
    }
    return std::nullopt;
}

struct ChosenName {
    std::string name;
    bool fromServer = false;
};

// The response's Content-Disposition file name (made safe by the control),
// else the URL's last segment.
ChosenName ChooseName(Session& session, const std::string& remoteName) {
    const std::optional<std::string> offered = ReadText(session, "ResponseFileName");
    if (offered && !offered->empty()) return {*offered, true};
    return {remoteName, false};
}

// Gives the part file its name. A name the server chose never replaces an
// existing file; the URL's name does, as a LOCAL the user names would.
// 0 or the error number.
int PlacePartFile(const std::string& part, const std::filesystem::path& folder,
                  const ChosenName& chosen) {
    if (chosen.name.empty()) return fileErrorInvalidFileName;
    const int error =
        platform::RenameLocalFile(part, (folder / chosen.name).string(), !chosen.fromServer);
    if (error == 0) return 0;
    return error == platform::kFileErrorExists ? fileErrorFileExists : fileErrorFileNotCreated;
}

// get over HTTP without a file name of the user's: the response names it.
int GetNamedByServer(Session& session, const ParsedCommand& command, const std::string& url,
                     const std::filesystem::path& folder, const std::string& remoteName) {
    if (!ApplyTransferOptions(session, command)) return kExitFailure;
    const std::optional<std::string> part = CreatePartFile(folder);
    if (!part) {
        session.Fail(kAutomationErrorBase + fileErrorFileNotCreated);
        session.TryCall("Disconnect", {});
        return kExitFailure;
    }
    const HRESULT hr = RunTransfer(session, command, Direction::Get, *part, url, std::nullopt);
    const ChosenName chosen = ChooseName(session, remoteName);
    if (FAILED(hr)) {
        // What is left is a beginning that --restart can continue (the
        // download removed anything else): it gets its name too.
        if (platform::FileSizeOf(*part) <= 0 || PlacePartFile(*part, folder, chosen) != 0) {
            platform::RemoveLocalFile(*part);
        }
        return FailTransfer(session, hr);
    }
    if (const int error = PlacePartFile(*part, folder, chosen); error != 0) {
        platform::RemoveLocalFile(*part);
        session.TryCall("Disconnect", {});
        if (error == fileErrorInvalidFileName) {
            session.err() << "filetransfer: " << command.arguments[0] << " names no file\n";
        } else {
            session.err() << "filetransfer: " << DescribeFailure(kAutomationErrorBase + error)
                          << ": " << (folder / chosen.name).string() << "\n";
        }
        return kExitFailure;
    }
    return Finish(session, command, Direction::Get, (folder / chosen.name).string(), url);
}

// A transfer through standard output or input goes by a file of its own in
// the temporary folder, removed afterwards: the engines read and write files.
class StagingFile {
  public:
    StagingFile() {
        std::error_code ignored;
        if (auto made = CreatePartFile(std::filesystem::temp_directory_path(ignored)))
            path_ = *made;
    }
    ~StagingFile() {
        if (!path_.empty()) platform::RemoveLocalFile(path_);
    }
    StagingFile(const StagingFile&) = delete;
    StagingFile& operator=(const StagingFile&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

bool CopyStream(std::istream& from, std::ostream& to) {
    std::vector<char> block(256 * 1024);
    while (from) {
        from.read(block.data(), static_cast<std::streamsize>(block.size()));
        to.write(block.data(), from.gcount());
    }
    return from.eof() && to.flush().good();
}

// get URL -: the file goes to standard output once it is complete.
int GetToOutput(Session& session, const ParsedCommand& command, const std::string& url) {
    StagingFile staging;
    if (staging.path().empty()) {
        session.Fail(kAutomationErrorBase + fileErrorFileNotCreated);
        session.TryCall("Disconnect", {});
        return kExitFailure;
    }
    if (!ApplyTransferOptions(session, command)) return kExitFailure;
    const int status = Transfer(session, command, Direction::Get, staging.path(), url);
    if (status != kExitSuccess) return status;
    std::ifstream file(staging.path(), std::ios::binary);
    if (!CopyStream(file, session.out())) {
        session.err() << "filetransfer: cannot write to standard output\n";
        return kExitFailure;
    }
    return kExitSuccess;
}

// --create-dirs: the missing folders of the local file's path, as curl makes
// them; false after printing why they could not be made.
bool CreateLocalFolders(Session& session, const std::string& local) {
    const std::filesystem::path folder = std::filesystem::path(local).parent_path();
    std::error_code error;
    if (folder.empty() || std::filesystem::is_directory(folder, error)) return true;
    std::filesystem::create_directories(folder, error);
    if (!error) return true;
    session.err() << "filetransfer: "
                  << DescribeFailure(kAutomationErrorBase + fileErrorFileNotCreated) << ": "
                  << folder.string() << " (" << error.message() << ")\n";
    return false;
}

// get URL [LOCAL]: LOCAL defaults to the remote file name; an existing
// directory receives the file under that name. Over HTTP, without LOCAL or
// into a directory, the response's Content-Disposition name comes first
// (not for --restart or -C, which continue a file of a known name). -o FILE
// is LOCAL; -O is what happens without LOCAL.
int RunGet(Session& session, const ParsedCommand& command) {
    const std::string& url = command.arguments[0];
    if (!ConnectFor(session, url, command)) return kExitFailure;
    const std::optional<std::string> resource = ReadText(session, "Resource");
    if (!resource) {
        session.TryCall("Disconnect", {});
        return kExitFailure;
    }
    const std::string remoteName(BaseName(*resource));
    const std::optional<std::string> given = LocalOfGet(command);
    if (given == "-") return GetToOutput(session, command, url);
    std::error_code ignored;
    const bool intoFolder = given && std::filesystem::is_directory(*given, ignored);
    if (IsWebUrl(url) && (!given || intoFolder) && !Resumes(command)) {
        const std::filesystem::path folder = intoFolder ? *given : "";
        return GetNamedByServer(session, command, url, folder, remoteName);
    }
    std::string local = given.value_or(remoteName);
    if (intoFolder) local = (std::filesystem::path(local) / remoteName).string();
    if (local.empty()) {
        session.TryCall("Disconnect", {});
        session.err() << "filetransfer: " << url << " names no file\n";
        return kExitFailure;
    }
    if (command.Has("--create-dirs") && !CreateLocalFolders(session, local)) {
        session.TryCall("Disconnect", {});
        return kExitFailure;
    }
    return TransferFile(session, command, Direction::Get, local, url);
}

// put - URL: standard input is read to its end, then sent.
int PutFromInput(Session& session, const ParsedCommand& command, const std::string& url) {
    if (!url.empty() && url.back() == '/') {
        session.err() << "filetransfer: put - needs a URL that names the remote file\n";
        return kExitUsage;
    }
    StagingFile staging;
    std::ofstream file(staging.path(), std::ios::binary | std::ios::trunc);
    if (staging.path().empty() || !CopyStream(session.in(), file)) {
        session.err() << "filetransfer: cannot keep standard input in the temporary folder\n";
        return kExitFailure;
    }
    file.close();
    if (!ConnectFor(session, url, command)) return kExitFailure;
    if (!ApplyTransferOptions(session, command)) return kExitFailure;
    return Transfer(session, command, Direction::Put, staging.path(), url);
}

// put LOCAL URL: a URL ending in '/' takes the local file's name.
int RunPut(Session& session, const ParsedCommand& command) {
    const std::string& local = command.arguments[0];
    std::string url = command.arguments[1];
    if (!url.empty() && url.back() == '/') {
        // HTTP's Resource is not percent-decoded, so the name goes in as it
        // is; an FTP or SFTP URL's path is, so a '%' or ';' of the name is escaped.
        for (const char c : std::filesystem::path(local).filename().string()) {
            if (!IsWebUrl(url) && (c == '%' || c == ';')) {
                url += c == '%' ? "%25" : "%3B";
            } else {
                url += c;
            }
        }
    }
    if (local == "-") return PutFromInput(session, command, url);
    if (!ConnectFor(session, url, command)) return kExitFailure;
    return TransferFile(session, command, Direction::Put, local, url);
}

const CommandSpec kTransferCommands[] = {
    {.name = "get",
     .usage = "URL [LOCAL]",
     .minArguments = 1,
     .maxArguments = 2,
     .options = kGetOptions,
     .run = RunGet,
     .connects = true,
     .validate = ValidateTransfer},
    {.name = "put",
     .usage = "LOCAL URL",
     .minArguments = 2,
     .maxArguments = 2,
     .options = kPutOptions,
     .run = RunPut,
     .connects = true,
     .validate = ValidateTransfer},
};

const CommandRegistration kRegistration(kTransferCommands);

}  // namespace
