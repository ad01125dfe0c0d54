// Listings and file management on one URL: ls, stat, size, mtime, touch,
// chmod, rm, mkdir, rmdir, mv and verify.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "cli/command_table.h"
#include "cli/remote_files.h"
#include "cli/session.h"
#include "control/FileTransfer.h"
#include "platform/text.h"
#include "resources/errors.h"
#include "resources/typeinfo.h"

namespace {

constexpr OptionSpec kListOptions[] = {
    {"--json", "", false},
    {"--raw", "", false},
    {"--names", "", false},
};

// mkdir -p: every missing folder along the path, none an error when it exists.
constexpr OptionSpec kMakeDirectoryOptions[] = {
    {"--parents", "-p", false},
};

constexpr OptionSpec kVerifyOptions[] = {
    {"--size", "", false},
    {"--crc32", "", false},
    {"--md5", "", false},
};

struct VerifyMethod {
    std::string_view option;
    LONG bit;
};

constexpr VerifyMethod kVerifyMethods[] = {
    {"--size", fileVerifySize},
    {"--crc32", fileVerifyCRC32},
    {"--md5", fileVerifyMD5},
};

// The names of a name list come back as one text; this is the most it takes.
constexpr LONG kNameListCapacity = 16 * 1024 * 1024;
constexpr LONG kSymbolicLinkBit = 0x1000;
constexpr int kModeBits = 9;

const HRESULT kEndOfDirectory = kAutomationErrorBase + fileErrorEndOfDirectory;
const HRESULT kDirectoryEmpty = kAutomationErrorBase + fileErrorDirectoryEmpty;

LONG LongOf(const VARIANT& value) {
    return value.vt == VT_I4 ? value.lVal : 0;
}

// ---- Formatting ------------------------------------------------------------------

// "drwxr-xr-x": d, l or - and the nine mode bits.
std::string ModeText(LONG permissions, bool directory) {
    std::string text(1, (permissions & kSymbolicLinkBit) ? 'l' : directory ? 'd' : '-');
    static constexpr char kLetters[] = "rwx";
    for (int bit = kModeBits - 1; bit >= 0; --bit)
        text += (permissions >> bit) & 1 ? kLetters[(kModeBits - 1 - bit) % 3] : '-';
    return text;
}

// The control's date text ("YYYY-MM-DD HH:MM:SS", or "YYYY-MM-DD" at midnight)
// with seconds; empty stays empty.
std::string FullDate(const std::string& date) {
    if (date.empty()) return date;
    return date.size() == 10 ? date + " 00:00:00" : date;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            static constexpr char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 0xF];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// The local time of a "YYYY-MM-DD HH:MM:SS" UTC text in the same form; the
// text as it is when it is no such time.
std::string LocalFromUtcText(const std::string& text) {
    const std::optional<std::time_t> time = TimeOfDateText(text, false);
    const std::string local = time ? DateTextOf(*time, true) : std::string();
    return local.empty() ? text : local;
}

struct Entry {
    std::string name, date, owner, group;
    std::int64_t size = 0;
    LONG permissions = 0;
    bool directory = false;

    bool IsLink() const { return (permissions & kSymbolicLinkBit) != 0; }
    std::string Mode() const { return ModeText(permissions, directory); }
    std::string ShortDate() const { return date.empty() ? "-" : FullDate(date).substr(0, 16); }
};

std::string ListLine(const Entry& entry) {
    return entry.Mode() + " " + std::to_string(entry.size) + " " + entry.ShortDate() + " " +
           entry.name;
}

std::string JsonObject(const Entry& entry) {
    const bool link = entry.IsLink();
    return "{\"name\":" + JsonString(entry.name) + ",\"size\":" + std::to_string(entry.size) +
           ",\"is_dir\":" + (entry.directory && !link ? "true" : "false") +
           ",\"is_link\":" + (link ? "true" : "false") +
           ",\"permissions\":" + JsonString(entry.Mode()) + ",\"date\":" +
           (entry.date.empty() ? std::string("null") : JsonString(FullDate(entry.date))) +
           ",\"owner\":" + JsonString(entry.owner) + ",\"group\":" + JsonString(entry.group) + "}";
}

// ---- Running against one URL --------------------------------------------------------

// Connects to the URL, runs the work with the URL's path and disconnects.
template <class Work>
int OnUrl(Session& session, const ParsedCommand& command, const std::string& url, Work work) {
    if (!ConnectFor(session, url, command)) return kExitFailure;
    const bool done = work(UrlPath(url));
    if (!done) {
        session.TryCall("Disconnect", {});
        return kExitFailure;
    }
    return DisconnectFrom(session) ? kExitSuccess : kExitFailure;
}

// The text ls prints, made entry by entry while the listing is read, so that
// a long listing is held once, as the text it prints, in pieces that are
// filled one after the other and never copied as they grow.
class ListingText {
  public:
    explicit ListingText(const ParsedCommand& command)
        : raw_(command.Has("--raw")), json_(command.Has("--json")) {}

    void Add(const Entry& entry) {
        if (raw_) {
            Append(entry.name + "\n");
        } else if (json_) {
            Append((count_ != 0 ? "," : "") + JsonObject(entry));
        } else {
            Append(ListLine(entry) + "\n");
        }
        ++count_;
    }
    std::size_t count() const { return count_; }
    void Print(std::ostream& out) const {
        if (json_) out << "[";
        for (const std::string& piece : pieces_)
            out << piece;
        if (json_) out << "]\n";
    }

  private:
    static constexpr std::size_t kPiece = 64 * 1024;

    void Append(const std::string& text) {
        if (pieces_.empty() || pieces_.back().size() + text.size() > kPiece) {
            pieces_.emplace_back().reserve(std::max(kPiece, text.size()));
        }
        pieces_.back() += text;
    }

    bool raw_, json_;
    std::size_t count_ = 0;
    std::deque<std::string> pieces_;
};

// ReadDirectory until the end of the listing; false after printing a failure.
// *empty tells that the listing held no entry at all.
bool ReadEntries(Session& session, ListingText& listing, bool* empty) {
    while (true) {
        DirectoryRow row;
        const HRESULT hr = ReadDirectoryRow(session, row);
        const VARIANT* values = row.values;
        const Entry entry{TextOf(values[DirectoryRow::kName]),
                          TextOf(values[DirectoryRow::kDate]),
                          TextOf(values[DirectoryRow::kOwner]),
                          TextOf(values[DirectoryRow::kGroup]),
                          SizeOf(values[DirectoryRow::kSize]),
                          LongOf(values[DirectoryRow::kAttributes]),
                          row.folder()};
        if (hr == kEndOfDirectory) return true;
        if (hr == kDirectoryEmpty && listing.count() == 0) {
            *empty = true;
            return true;
        }
        if (FAILED(hr)) return session.Fail(hr);
        listing.Add(entry);
    }
}

bool ListEntries(Session& session, const std::string& path, const ParsedCommand& command) {
    Arguments open(2);
    open.Text(0, path).Bool(1, !command.Has("--raw"));
    if (!session.Call("OpenDirectory", open.span())) return false;
    ListingText listing(command);
    bool empty = false;
    const bool read = ReadEntries(session, listing, &empty);
    session.TryCall("CloseDirectory", {});
    if (!read) return false;
    // Some servers (vsftpd) list a missing directory as an empty one: an empty
    // listing counts only when the directory can be entered.
    if (empty && !path.empty()) {
        Arguments change(1);
        change.Text(0, path);
        if (!session.Call("ChangeDirectory", change.span())) return false;
    }
    listing.Print(session.out());
    return true;
}

bool ListNames(Session& session, const std::string& path) {
    ScopedVariant text;
    SetTextVariant(text.get(), "");
    Arguments arguments(4);
    arguments.Text(0, path)
        .Output(1, text.get())
        .Long(2, kNameListCapacity)
        .Long(3, fileListNameOnly);
    if (!session.Call("GetFileList", arguments.span())) return false;
    std::string names = TextOf(*text);
    std::string line;
    for (char c : names) {
        if (c == '\r') continue;
        if (c == '\n') {
            session.out() << line << "\n";
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) session.out() << line << "\n";
    return true;
}

void ValidateList(const ParsedCommand& command) {
    const int chosen = command.Has("--json") + command.Has("--raw") + command.Has("--names");
    if (chosen > 1) throw UsageError{"ls takes one of --json, --raw and --names"};
}

int RunList(Session& session, const ParsedCommand& command) {
    return OnUrl(session, command, command.arguments[0], [&](const std::string& path) {
        return command.Has("--names") ? ListNames(session, path)
                                      : ListEntries(session, path, command);
    });
}

int RunStat(Session& session, const ParsedCommand& command) {
    return OnUrl(session, command, command.arguments[0], [&](const std::string& path) {
        VARIANT values[6];
        for (VARIANT& value : values)
            VariantInit(&value);
        Arguments arguments(7);
        arguments.Text(0, path);
        for (std::size_t i = 0; i < 6; ++i)
            arguments.Output(i + 1, &values[i]);
        const bool ok = session.Call("GetFileStatus64", arguments.span());
        Entry entry{path,
                    TextOf(values[1]),
                    TextOf(values[2]),
                    TextOf(values[3]),
                    SizeOf(values[0]),
                    LongOf(values[4]),
                    values[5].vt == VT_BOOL && values[5].boolVal != VARIANT_FALSE};
        for (VARIANT& value : values)
            VariantClear(&value);
        if (!ok) return false;
        // The status carries UTC; stat follows Localize as mtime does.
        if (!entry.date.empty() && LocalizeIsSet(session)) {
            entry.date = LocalFromUtcText(FullDate(entry.date));
        }
        char octal[8];
        std::snprintf(octal, sizeof octal, "%04o",
                      static_cast<unsigned>(entry.permissions & 07777));
        session.out() << "name: " << entry.name << "\n"
                      << "type: "
                      << (entry.IsLink()    ? "link"
                          : entry.directory ? "directory"
                                            : "file")
                      << "\n"
                      << "size: " << entry.size << "\n"
                      << "date: " << (entry.date.empty() ? "-" : FullDate(entry.date)) << "\n"
                      << "owner: " << entry.owner << "\n"
                      << "group: " << entry.group << "\n"
                      << "permissions: " << entry.Mode() << " " << octal << "\n";
        return true;
    });
}

int RunSize(Session& session, const ParsedCommand& command) {
    return OnUrl(session, command, command.arguments[0], [&](const std::string& path) {
        ScopedVariant size;
        Arguments arguments(2);
        arguments.Text(0, path).Output(1, size.get());
        if (!session.Call("GetFileSize64", arguments.span())) return false;
        session.out() << SizeOf(*size) << "\n";
        return true;
    });
}

int RunMtime(Session& session, const ParsedCommand& command) {
    return OnUrl(session, command, command.arguments[0], [&](const std::string& path) {
        ScopedVariant date;
        SetTextVariant(date.get(), "");
        Arguments arguments(2);
        arguments.Text(0, path).Output(1, date.get());
        if (!session.Call("GetFileTime", arguments.span())) return false;
        session.out() << FullDate(TextOf(*date)) << "\n";
        return true;
    });
}

int RunTouch(Session& session, const ParsedCommand& command) {
    return OnUrl(session, command, command.arguments[0], [&](const std::string& path) {
        Arguments arguments(2);
        arguments.Text(0, path).Text(1, command.arguments[1]);
        return session.Call("SetFileTime", arguments.span());
    });
}

std::optional<LONG> OctalMode(std::string_view text) {
    LONG mode = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), mode, 8);
    if (text.empty() || text.size() > 4 || error != std::errc() ||
        end != text.data() + text.size()) {
        return std::nullopt;
    }
    return mode;
}

void ValidateChmod(const ParsedCommand& command) {
    if (!OctalMode(command.arguments[0])) {
        throw UsageError{"chmod takes an octal MODE such as 644"};
    }
}

int RunChmod(Session& session, const ParsedCommand& command) {
    return OnUrl(session, command, command.arguments[1], [&](const std::string& path) {
        Arguments arguments(2);
        arguments.Text(0, path).Long(1, *OctalMode(command.arguments[0]));
        return session.Call("SetFilePermissions", arguments.span());
    });
}

constexpr char kDeleteFile[] = "DeleteFile";
constexpr char kMakeDirectory[] = "MakeDirectory";
constexpr char kRemoveDirectory[] = "RemoveDirectory";

// rm, mkdir and rmdir: one method on the URL's path.
template <const char* Method>
int RunOnPath(Session& session, const ParsedCommand& command) {
    return OnUrl(session, command, command.arguments[0], [&](const std::string& path) {
        Arguments arguments(1);
        arguments.Text(0, path);
        return session.Call(Method, arguments.span());
    });
}

int RunMakeDirectory(Session& session, const ParsedCommand& command) {
    if (!command.Has("--parents")) return RunOnPath<kMakeDirectory>(session, command);
    return OnUrl(session, command, command.arguments[0], [&](const std::string& path) {
        const HRESULT hr = MakeRemoteFolders(session, path);
        return SUCCEEDED(hr) || session.Fail(hr);
    });
}

// A new name without '/' stays in the folder of the old one.
std::string NewPath(const std::string& oldPath, const std::string& newName) {
    if (newName.find('/') != std::string::npos) return newName;
    const std::size_t slash = oldPath.find_last_of('/');
    return slash == std::string::npos ? newName : oldPath.substr(0, slash + 1) + newName;
}

int RunMove(Session& session, const ParsedCommand& command) {
    return OnUrl(session, command, command.arguments[0], [&](const std::string& path) {
        Arguments arguments(2);
        arguments.Text(0, path).Text(1, NewPath(path, command.arguments[1]));
        return session.Call("RenameFile", arguments.span());
    });
}

int RunVerify(Session& session, const ParsedCommand& command) {
    LONG methods = fileVerifyDefault;
    for (const VerifyMethod& method : kVerifyMethods)
        if (command.Has(method.option)) methods |= method.bit;
    return OnUrl(session, command, command.arguments[1], [&](const std::string& path) {
        Arguments arguments(3);
        arguments.Text(0, command.arguments[0]).Text(1, path).Long(2, methods);
        return session.Call("VerifyFile", arguments.span());
    });
}

const CommandSpec kFileCommands[] = {
    {.name = "ls",
     .usage = "URL [--json|--raw|--names]",
     .minArguments = 1,
     .maxArguments = 1,
     .options = kListOptions,
     .run = RunList,
     .connects = true,
     .validate = ValidateList},
    {.name = "stat",
     .usage = "URL",
     .minArguments = 1,
     .maxArguments = 1,
     .run = RunStat,
     .connects = true},
    {.name = "size",
     .usage = "URL",
     .minArguments = 1,
     .maxArguments = 1,
     .run = RunSize,
     .connects = true},
    {.name = "mtime",
     .usage = "URL",
     .minArguments = 1,
     .maxArguments = 1,
     .run = RunMtime,
     .connects = true},
    {.name = "touch",
     .usage = "URL DATE",
     .minArguments = 2,
     .maxArguments = 2,
     .run = RunTouch,
     .connects = true},
    {.name = "chmod",
     .usage = "MODE URL",
     .minArguments = 2,
     .maxArguments = 2,
     .run = RunChmod,
     .connects = true,
     .validate = ValidateChmod},
    {.name = "rm",
     .usage = "URL",
     .minArguments = 1,
     .maxArguments = 1,
     .run = RunOnPath<kDeleteFile>,
     .connects = true},
    {.name = "mkdir",
     .usage = "URL [-p]",
     .minArguments = 1,
     .maxArguments = 1,
     .options = kMakeDirectoryOptions,
     .run = RunMakeDirectory,
     .connects = true},
    {.name = "rmdir",
     .usage = "URL",
     .minArguments = 1,
     .maxArguments = 1,
     .run = RunOnPath<kRemoveDirectory>,
     .connects = true},
    {.name = "mv",
     .usage = "URL NEWNAME",
     .minArguments = 2,
     .maxArguments = 2,
     .run = RunMove,
     .connects = true},
    {.name = "verify",
     .usage = "LOCAL URL [--size|--crc32|--md5]",
     .minArguments = 2,
     .maxArguments = 2,
     .options = kVerifyOptions,
     .run = RunVerify,
     .connects = true},
};

const CommandRegistration kRegistration(kFileCommands);

}  // namespace
