// What several commands do with remote and local files through the control:
// method arguments, modification times both ways, a remote folder's entries
// and remote folders made along a path (mkdir -p, mirror, get/put -R).
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/session.h"
#include "platform/automation.h"

// Method arguments in written order, cleared when they go.
class Arguments {
  public:
    explicit Arguments(std::size_t count);
    ~Arguments();
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;

    Arguments& Text(std::size_t i, std::string_view text);
    Arguments& Long(std::size_t i, LONG value);
    Arguments& Bool(std::size_t i, bool value);
    // An output the control writes to: a reference to a variant of ours.
    Arguments& Output(std::size_t i, VARIANT* target);
    std::span<VARIANT> span() { return values_; }

  private:
    std::vector<VARIANT> values_;
};

// One ReadDirectory64 answer: name, size, date, owner, group, attributes and
// the folder flag, cleared when it goes.
struct DirectoryRow {
    enum Field { kName, kSize, kDate, kOwner, kGroup, kAttributes, kFolder, kFields };
    VARIANT values[kFields];
    DirectoryRow();
    ~DirectoryRow();
    DirectoryRow(const DirectoryRow&) = delete;
    DirectoryRow& operator=(const DirectoryRow&) = delete;
    bool folder() const;
};
// Reads the open listing's next entry into row: the call's result.
HRESULT ReadDirectoryRow(Session& session, DirectoryRow& row);

std::string TextOf(const VARIANT& value);
// Sizes come from the control's 64-bit members (VT_I8).
std::int64_t SizeOf(const VARIANT& value);

// Whether the control's Localize is set: its dates are then local time.
bool LocalizeIsSet(Session& session);

// A date text of the control ("YYYY-MM-DD HH:MM:SS", or the date alone at
// midnight) as seconds since the epoch, read as UTC or as local time.
std::optional<std::time_t> TimeOfDateText(std::string_view text, bool local);
// The other way round: "YYYY-MM-DD HH:MM:SS".
std::string DateTextOf(std::time_t time, bool local);

// The remote file's modification time (GetFileTime): S_OK, S_FALSE when the
// server tells none (no date, or one before 1970), or the failure.
HRESULT ReadRemoteTime(Session& session, const std::string& path, std::time_t* time);
// Sets it (SetFileTime: MFMT or MDTM with a time on FTP, SETSTAT on SFTP).
HRESULT WriteRemoteTime(Session& session, const std::string& path, std::time_t time);
// Whether a failure only says that the server or protocol cannot do it.
bool IsUnsupported(HRESULT hr);

// A local file's modification time in whole seconds; nullopt when it has none.
std::optional<std::time_t> LocalFileTime(const std::string& path);
bool SetLocalFileTime(const std::string& path, std::time_t time);

// One entry of a remote folder's listing.
struct RemoteEntry {
    std::string name;
    std::int64_t size = 0;
    std::string date;  // the control's text, "" when the server gave none
    bool folder = false;
    bool link = false;
};

// The entries of a remote folder (OpenDirectory, ReadDirectory64), without
// names that could leave it ("", ".", "..", names with '/'). An empty listing
// of a folder that cannot be entered is its failure (vsftpd lists a missing
// folder as an empty one).
HRESULT ListRemoteFolder(Session& session, const std::string& path,
                         std::vector<RemoteEntry>* entries);

// Creates every missing folder along the path (relative to the login folder,
// or absolute), as mkdir -p does; a folder that exists already is no failure.
HRESULT MakeRemoteFolders(Session& session, const std::string& path);
// Whether the remote folder exists: it can be entered (and is left again for
// the login folder).
bool RemoteFolderExists(Session& session, const std::string& path);

// A path below a remote folder ("" is the login folder itself).
std::string JoinRemote(const std::string& folder, const std::string& name);
