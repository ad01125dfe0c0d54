// mirror: a folder tree between the server and the local disk, either way,
// over FTP, FTPS and SFTP.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
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
#include "control/progress.h"
#include "platform/text.h"
#include "resources/errors.h"

namespace {

namespace fs = std::filesystem;

constexpr OptionSpec kMirrorOptions[] = {
    {"--reverse", "-R", false},
    {"--only-newer", "", false},
    {"--delete", "", false},
};

// Folders below the top one that a mirror goes into, at most.
constexpr int kMaxDepth = 32;

const HRESULT kAccessDenied = kAutomationErrorBase + fileErrorAccessDenied;

struct TreeEntry {
    std::string name;
    std::int64_t size = 0;
    bool folder = false;
};

// A path below the top folder of a side, '/' between the names; "" is the
// top folder itself.
std::string Join(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

// One side of a mirror: the local disk or the server. Symbolic links are left
// out of every listing: they are neither followed nor copied nor removed, so
// nothing outside the tree is reached.
class Tree {
  public:
    virtual ~Tree() = default;
    virtual HRESULT List(const std::string& folder, std::vector<TreeEntry>* entries) = 0;
    // S_FALSE when the side knows no time for it.
    virtual HRESULT Time(const std::string& path, std::time_t* time) = 0;
    virtual HRESULT SetTime(const std::string& path, std::time_t time) = 0;
    virtual HRESULT MakeFolder(const std::string& path) = 0;
    // A file, or a folder with everything in it (at most kMaxDepth deep).
    virtual HRESULT Remove(const std::string& path, bool folder, int depth) = 0;
    // The path the disk or the control takes.
    virtual std::string Path(const std::string& relative) const = 0;
};

class LocalTree final : public Tree {
  public:
    explicit LocalTree(fs::path top) : top_(std::move(top)) {}

    HRESULT List(const std::string& folder, std::vector<TreeEntry>* entries) override {
        std::error_code error;
        for (fs::directory_iterator it(Path(folder), error), end; !error && it != end;
             it.increment(error)) {
            const fs::file_status status = it->symlink_status(error);
            if (error) break;
            TreeEntry entry{it->path().filename().string(), 0, fs::is_directory(status)};
            if (!entry.folder && !fs::is_regular_file(status)) continue;
            if (!entry.folder) entry.size = static_cast<std::int64_t>(it->file_size(error));
            if (error) break;
            entries->push_back(std::move(entry));
        }
        return error ? kAccessDenied : S_OK;
    }
    HRESULT Time(const std::string& path, std::time_t* time) override {
        const std::optional<std::time_t> found = LocalFileTime(Path(path));
        if (!found) return kAutomationErrorBase + fileErrorFileNotFound;
        *time = *found;
        return S_OK;
    }
    HRESULT SetTime(const std::string& path, std::time_t time) override {
        return SetLocalFileTime(Path(path), time) ? S_OK : kAccessDenied;
    }
    // The top folder with the missing folders above it.
    HRESULT MakeFolder(const std::string& path) override {
        std::error_code error;
        if (path.empty()) {
            fs::create_directories(top_, error);
        } else {
            fs::create_directory(Path(path), error);
        }
        return error ? kAutomationErrorBase + fileErrorFileNotCreated : S_OK;
    }
    HRESULT Remove(const std::string& path, bool folder, int) override {
        std::error_code error;
        // remove_all takes links away as links, never what they point to.
        if (folder) {
            fs::remove_all(Path(path), error);
        } else {
            fs::remove(Path(path), error);
        }
        return error ? kAccessDenied : S_OK;
    }
    std::string Path(const std::string& relative) const override {
        return relative.empty() ? top_.string() : (top_ / relative).string();
    }

  private:
    fs::path top_;
};

class RemoteTree final : public Tree {
  public:
    RemoteTree(Session& session, std::string top) : session_(session), top_(std::move(top)) {}

    HRESULT List(const std::string& folder, std::vector<TreeEntry>* entries) override {
        std::vector<RemoteEntry> listed;
        const HRESULT hr = ListRemoteFolder(session_, Path(folder), &listed);
        for (RemoteEntry& entry : listed) {
            if (!entry.link) entries->push_back({std::move(entry.name), entry.size, entry.folder});
        }
        return hr;
    }
    HRESULT Time(const std::string& path, std::time_t* time) override {
        return ReadRemoteTime(session_, Path(path), time);
    }
    HRESULT SetTime(const std::string& path, std::time_t time) override {
        return WriteRemoteTime(session_, Path(path), time);
    }
    HRESULT MakeFolder(const std::string& path) override {
        Arguments arguments(1);
        arguments.Text(0, Path(path));
        return session_.TryCall("MakeDirectory", arguments.span());
    }
    HRESULT Remove(const std::string& path, bool folder, int depth) override {
        if (folder) {
            if (depth > kMaxDepth) return kAccessDenied;
            std::vector<TreeEntry> entries;
            if (const HRESULT hr = List(path, &entries); FAILED(hr)) return hr;
            for (const TreeEntry& entry : entries) {
                const HRESULT hr = Remove(Join(path, entry.name), entry.folder, depth + 1);
                if (FAILED(hr)) return hr;
            }
        }
        Arguments arguments(1);
        arguments.Text(0, Path(path));
        return session_.TryCall(folder ? "RemoveDirectory" : "DeleteFile", arguments.span());
    }
    std::string Path(const std::string& relative) const override {
        return relative.empty() ? top_ : JoinRemote(top_, relative);
    }

  private:
    Session& session_;
    std::string top_;
};

enum class Step { MakeFolder, Copy, Remove };

struct Action {
    Step step;
    std::string path;
    std::int64_t size = 0;
    bool folder = false;
};

// Walks both trees first (so that the whole size is known for the progress
// line), then copies and removes.
class Mirror {
  public:
    Mirror(Session& session, const ParsedCommand& command, Tree& source, Tree& target)
        : session_(session),
          command_(command),
          source_(source),
          target_(target),
          upload_(command.Has("--reverse")),
          quiet_(command.Has("--quiet")) {}

    // Plans the copy of one folder and those below it; false after printing
    // a failure. A target folder that does not exist is made first.
    bool Plan(const std::string& folder, bool targetExists, int depth) {
        if (depth > kMaxDepth) {
            session_.err() << "filetransfer: mirror goes no deeper than " << kMaxDepth
                           << " folders: " << source_.Path(folder) << "\n";
            return false;
        }
        std::vector<TreeEntry> from, to;
        if (HRESULT hr = source_.List(folder, &from); FAILED(hr)) return session_.Fail(hr);
        if (targetExists) {
            if (HRESULT hr = target_.List(folder, &to); FAILED(hr)) return session_.Fail(hr);
        }
        if (!targetExists && folder.empty()) actions_.push_back({Step::MakeFolder, folder});
        LeaveOutControlNames(from, source_.Path(folder));
        LeaveOutControlNames(to, target_.Path(folder));
        std::sort(from.begin(), from.end(),
                  [](const TreeEntry& a, const TreeEntry& b) { return a.name < b.name; });
        std::map<std::string, const TreeEntry*> there;
        for (const TreeEntry& entry : to)
            there[entry.name] = &entry;
        for (const TreeEntry& entry : from) {
            const std::string path = Join(folder, entry.name);
            const auto found = there.find(entry.name);
            const TreeEntry* existing = found == there.end() ? nullptr : found->second;
            if (existing) there.erase(found);
            if (existing && existing->folder != entry.folder) {
                session_.err() << "filetransfer: warning: " << target_.Path(path) << " is "
                               << (existing->folder ? "a folder" : "a file") << ": not replaced\n";
                continue;
            }
            if (entry.folder) {
                if (!existing) actions_.push_back({Step::MakeFolder, path});
                if (!Plan(path, existing != nullptr, depth + 1)) return false;
                continue;
            }
            if (existing && command_.Has("--only-newer") && existing->size == entry.size) {
                std::time_t sourceTime = 0, targetTime = 0;
                if (source_.Time(path, &sourceTime) == S_OK &&
                    target_.Time(path, &targetTime) == S_OK && targetTime >= sourceTime) {
                    ++skipped_;
                    continue;
                }
            }
            actions_.push_back({Step::Copy, path, entry.size});
            total_ += static_cast<std::uint64_t>(std::max<std::int64_t>(entry.size, 0));
        }
        if (command_.Has("--delete")) {
            for (const auto& [name, entry] : there)
                actions_.push_back({Step::Remove, Join(folder, name), 0, entry->folder});
        }
        return true;
    }

    // The actions in order, with a line for each and the progress of the whole.
    bool Run() {
        const auto start = std::chrono::steady_clock::now();
        InterruptCancel interrupt(session_);
        const bool showProgress = !quiet_ && IsTerminalStream(session_.err());
        ProgressLine line(session_.err());
        std::uint64_t done = 0;
        const ProgressAdvise advise(
            session_.control(), [&](std::uint64_t, std::uint64_t copied, long) {
                if (showProgress) {
                    line.Update(total_, done + copied, ProgressPercent(total_, done + copied));
                }
                interrupt.CancelIfRequested();
            });
        int files = 0, removed = 0;
        for (const Action& action : actions_) {
            HRESULT hr = S_OK;
            if (action.step == Step::MakeFolder) {
                hr = target_.MakeFolder(action.path);
            } else if (action.step == Step::Remove) {
                hr = target_.Remove(action.path, action.folder, 0);
                if (SUCCEEDED(hr)) ++removed;
            } else {
                hr = Copy(action.path);
            }
            if (FAILED(hr)) {
                line.Finish(false);
                return session_.Fail(hr);
            }
            if (action.step == Step::MakeFolder || quiet_) continue;
            line.Clear();
            if (action.step == Step::Copy) {
                ++files;
                done += static_cast<std::uint64_t>(std::max<std::int64_t>(action.size, 0));
                session_.out() << target_.Path(action.path) << "  " << FormatBytes(action.size)
                               << "\n";
            } else {
                session_.out() << "removed " << target_.Path(action.path) << "\n";
            }
            session_.out().flush();
        }
        if (showProgress) line.Finish(true);
        if (quiet_) return true;
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        session_.out() << files << (files == 1 ? " file, " : " files, ") << done << " bytes in "
                       << FormatDuration(took.count());
        if (took.count() > 0) {
            session_.out() << " ("
                           << FormatBytes(static_cast<std::uint64_t>(static_cast<double>(done) /
                                                                     took.count()))
                           << "/s)";
        }
        session_.out() << ", " << skipped_ << " skipped, " << removed << " removed\n";
        return true;
    }

  private:
    // Names with control characters are neither copied nor removed: on the
    // command channel a line end would end the command early, and on a
    // terminal they could pass for escape sequences.
    void LeaveOutControlNames(std::vector<TreeEntry>& entries, const std::string& folder) {
        const auto control = [](const TreeEntry& entry) {
            return std::any_of(entry.name.begin(), entry.name.end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
            });
        };
        const auto end = std::remove_if(entries.begin(), entries.end(), control);
        if (end != entries.end()) {
            session_.err() << "filetransfer: warning: " << (entries.end() - end)
                           << " name(s) with control characters in " << folder << " left out\n";
        }
        entries.erase(end, entries.end());
    }

    // One file, then its time from the source's (where the target takes one).
    HRESULT Copy(const std::string& path) {
        Arguments arguments(2);
        const Tree& local = upload_ ? source_ : target_;
        const Tree& remote = upload_ ? target_ : source_;
        arguments.Text(0, local.Path(path)).Text(1, remote.Path(path));
        const HRESULT hr = session_.TryCall(upload_ ? "PutFile64" : "GetFile64", arguments.span());
        if (FAILED(hr) || !setTimes_) return hr;
        std::time_t time = 0;
        HRESULT timed = source_.Time(path, &time);
        if (timed == S_OK) timed = target_.SetTime(path, time);
        if (IsUnsupported(timed)) {
            setTimes_ = false;  // the server keeps its own times
            return S_OK;
        }
        return timed;
    }

    Session& session_;
    const ParsedCommand& command_;
    Tree& source_;
    Tree& target_;
    bool upload_, quiet_;
    bool setTimes_ = true;
    std::vector<Action> actions_;
    std::uint64_t total_ = 0;
    int skipped_ = 0;
};

bool IsWebUrl(const std::string& text) {
    return StartsWithIgnoringCase(text, "http://") || StartsWithIgnoringCase(text, "https://");
}

// The URL's folder relative to the login folder, without a closing '/'
// ("/" stays, "" is the login folder).
std::string RemoteTop(std::string url) {
    if (url.empty() || url.back() != '/') url += '/';
    std::string path = UrlPath(url);
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// mirror URL-DIR LOCAL-DIR, mirror -R LOCAL-DIR URL-DIR
int RunMirror(Session& session, const ParsedCommand& command) {
    const bool upload = command.Has("--reverse");
    const std::string& url = command.arguments[upload ? 1 : 0];
    const fs::path localTop = command.arguments[upload ? 0 : 1];
    if (IsWebUrl(url)) {
        session.Fail(kAutomationErrorBase + fileErrorOperationNotSupported);
        return kExitFailure;
    }
    std::error_code error;
    const bool localExists = fs::is_directory(localTop, error);
    if ((upload && !localExists) || (!localExists && fs::exists(localTop, error))) {
        const HRESULT missing = kAutomationErrorBase + fileErrorDirectoryNotFound;
        session.err() << "filetransfer: " << DescribeFailure(missing) << ": " << localTop.string()
                      << "\n";
        return ExitStatusOf(missing);
    }
    if (!ConnectFor(session, url, command)) return kExitFailure;
    // Byte for byte: no line ends turned by a file name's extension.
    ScopedVariant binary;
    binary.get()->vt = VT_I4;
    binary.get()->lVal = fileTypeImage;
    if (!session.Put("FileType", binary.get())) {
        session.TryCall("Disconnect", {});
        return kExitFailure;
    }
    LocalTree local(localTop);
    const std::string remoteTop = RemoteTop(url);
    RemoteTree remote(session, remoteTop);
    // The remote top folder of an upload is made at once; the local one of a
    // download only once the remote one has been listed.
    bool ready = true;
    if (upload && !remoteTop.empty()) {
        const HRESULT hr = MakeRemoteFolders(session, remoteTop);
        ready = SUCCEEDED(hr) || session.Fail(hr);
    }
    Mirror mirror(session, command, upload ? static_cast<Tree&>(local) : remote,
                  upload ? static_cast<Tree&>(remote) : local);
    if (!ready || !mirror.Plan("", upload || localExists, 0) || !mirror.Run()) {
        session.TryCall("Disconnect", {});
        return kExitFailure;
    }
    return DisconnectFrom(session) ? kExitSuccess : kExitFailure;
}

const CommandSpec kMirrorCommands[] = {
    {.name = "mirror",
     .usage = "URL-DIR LOCAL-DIR | -R LOCAL-DIR URL-DIR",
     .minArguments = 2,
     .maxArguments = 2,
     .options = kMirrorOptions,
     .run = RunMirror,
     .connects = true,
     .swapOption = "--reverse"},
};

const CommandRegistration kRegistration(kMirrorCommands);

}  // namespace
