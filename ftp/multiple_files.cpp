// FtpGetMultipleFiles and FtpPutMultipleFiles: one FtpGetFile or FtpPutFile per
// file of a remote listing or of a local folder.
#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/engine.h"
#include "ftp/local_mask.h"
#include "resources/errors.h"

namespace ftp {
namespace {

constexpr std::string_view kEveryFile = "*.*";
constexpr char kLocalSeparator = '/';

std::string TextOrEmpty(const char* text) {
    return text ? std::string(text) : std::string();
}

// Changes to the remote directory for the call and back at its end, keeping
// the call's error.
class RemoteDirectoryVisit {
  public:
    explicit RemoteDirectoryVisit(FtpClient client) : client_(client) {}
    ~RemoteDirectoryVisit() {
        if (kept_.empty()) return;
        FtpErrorGuard keepError;
        FtpChangeDirectory(client_, kept_.c_str());
    }
    RemoteDirectoryVisit(const RemoteDirectoryVisit&) = delete;
    RemoteDirectoryVisit& operator=(const RemoteDirectoryVisit&) = delete;

    // No directory: stay. 0, or -1 with the error set.
    int Enter(const std::string& directory) {
        if (directory.empty()) return 0;
        char current[FTP_MAX_PATH] = {};
        if (FtpGetCurrentDirectory(client_, current, sizeof current) < 0) return -1;
        if (FtpChangeDirectory(client_, directory.c_str()) < 0) return -1;
        kept_ = current;
        return 0;
    }

  private:
    FtpClient client_;
    std::string kept_;
};

bool IsMissingLocalDirectory(const std::string& directory) {
    std::error_code error;
    return !directory.empty() && !std::filesystem::is_directory(directory, error);
}

// The directory and the name with one separator between them; without a
// directory the name alone (relative to the current directory).
std::string LocalPath(const std::string& directory, std::string_view name) {
    std::string path = directory;
    if (!path.empty() && path.back() != kLocalSeparator) path += kLocalSeparator;
    path += name;
    return path;
}

// A listed name that would reach outside the local directory is not copied.
bool IsPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find(kLocalSeparator) == std::string_view::npos;
}

// The files of a listing worth fetching: the names of its entries that are
// neither directories nor names that would leave the local directory, and how
// many entries it had at all.
struct ListedFiles {
    std::vector<std::string> names;
    std::size_t entries = 0;
};

// Reads the listing that FtpOpenDirectory opened, to its end, and closes it.
// 0, or -1 with the error set.
int ReadListing(FtpClient client, ListedFiles& files) {
    FtpDirectoryEntry entry{};
    for (int more = FtpGetFirstEntry(client, &entry); more == 1;
         more = FtpGetNextEntry(client, &entry)) {
        ++files.entries;
        if (!entry.directory && IsPlainName(entry.name)) files.names.emplace_back(entry.name);
    }
    const int error = LastErrorNumber();
    if (error == fileErrorEndOfDirectory || error == fileErrorDirectoryEmpty) {
        return FtpCloseDirectory(client) < 0 ? -1 : 0;
    }
    FtpCloseDirectory(client);
    files = {};
    return Fail(error);
}

// What both directions check before the server hears of the call. 0, or -1.
int CheckStart(const FtpSession& session, const std::string& localDirectory) {
    if (session.dataSocket.valid()) return Fail(fileErrorConnectionOpen);
    if (IsMissingLocalDirectory(localDirectory)) return Fail(fileErrorDirectoryNotFound);
    return 0;
}

int GetMultipleFiles(FtpClient client, const FtpSession& session, const std::string& localDirectory,
                     const std::string& remoteDirectory, const std::string& mask) {
    if (CheckStart(session, localDirectory) != 0) return -1;
    RemoteDirectoryVisit visit(client);
    if (visit.Enter(remoteDirectory) != 0) return -1;
    if (FtpOpenDirectory(client, mask.empty() ? nullptr : mask.c_str()) < 0) return -1;
    ListedFiles files;
    if (ReadListing(client, files) != 0) return -1;
    if (files.entries == 0) return Fail(fileErrorDirectoryEmpty);
    for (const std::string& name : files.names) {
        const std::string local = LocalPath(localDirectory, name);
        if (FtpGetFile(client, local.c_str(), name.c_str(), 0, 0) < 0) return -1;
    }
    FtpSetLastError(0);
    return 0;
}

struct LocalMatch {
    std::string name;
    bool regularFile = false;
};

// The names in the local directory (the current one when none) that match the
// mask, in name order. 0, or -1 with fileErrorDirectoryNotFound.
int FindLocalMatches(const std::string& directory, std::string_view mask,
                     std::vector<LocalMatch>& matches) {
    std::error_code error;
    std::filesystem::directory_iterator it(directory.empty() ? "." : directory, error);
    if (error) return Fail(fileErrorDirectoryNotFound);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        std::string name = it->path().filename().string();
        if (!MatchesLocalMask(mask, name)) continue;
        std::error_code typeError;
        // Links count as what they point to; devices, pipes and sockets are not files.
        matches.push_back({std::move(name), it->is_regular_file(typeError)});
    }
    std::sort(matches.begin(), matches.end(),
              [](const LocalMatch& a, const LocalMatch& b) { return a.name < b.name; });
    return 0;
}

int PutMultipleFiles(FtpClient client, const FtpSession& session, const std::string& localDirectory,
                     const std::string& remoteDirectory, const std::string& mask) {
    if (CheckStart(session, localDirectory) != 0) return -1;
    RemoteDirectoryVisit visit(client);
    if (visit.Enter(remoteDirectory) != 0) return -1;
    std::vector<LocalMatch> matches;
    if (FindLocalMatches(localDirectory, mask.empty() ? kEveryFile : mask, matches) != 0) return -1;
    if (matches.empty()) return Fail(fileErrorDirectoryEmpty);
    for (const LocalMatch& match : matches) {
        if (!match.regularFile) continue;
        const std::string local = LocalPath(localDirectory, match.name);
        if (FtpPutFile(client, local.c_str(), match.name.c_str(), 0, 0) < 0) return -1;
    }
    FtpSetLastError(0);
    return 0;
}

}  // namespace
}  // namespace ftp

using namespace ftp;

extern "C" {

// The session reference is held for the whole call, so the keep-alive thread
// sends no NOOP between two files.
int FtpGetMultipleFiles(FtpClient client, const char* localDirectory, const char* remoteDirectory,
                        const char* mask) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    return GetMultipleFiles(client, *session, TextOrEmpty(localDirectory),
                            TextOrEmpty(remoteDirectory), TextOrEmpty(mask));
}

int FtpPutMultipleFiles(FtpClient client, const char* localDirectory, const char* remoteDirectory,
                        const char* mask) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    return PutMultipleFiles(client, *session, TextOrEmpty(localDirectory),
                            TextOrEmpty(remoteDirectory), TextOrEmpty(mask));
}

}  // extern "C"
