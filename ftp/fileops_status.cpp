// The status of one file: MLST facts, else a status listing (STAT with the
// name), whose reply carries a listing line; and the operations built on it.
#include <algorithm>
#include <cctype>
#include <string>

#include "ftp/engine.h"
#include "ftp/fileops.h"
#include "ftp/fileops_internal.h"
#include "ftp/ftp_ops.h"
#include "ftp/listing_facts.h"
#include "ftp/listing_fields.h"
#include "resources/errors.h"

namespace ftp {
namespace {

// Symbolic links are followed this many times at most (a loop ends there).
constexpr int kMaxLinkDepth = 8;

int FailFlag(int error) {
    Fail(error);
    return 0;
}

bool IsValidStatusName(std::string_view name) {
    return !name.empty() && name.find_first_of("?*") == std::string_view::npos;
}

std::string Lowered(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

// The reply text one line at a time, without the line ends.
class ReplyLines {
  public:
    explicit ReplyLines(std::string_view text) : rest_(text) {}
    bool AtEnd() const { return done_; }
    bool Next(std::string_view& line) {
        if (done_) return false;
        std::size_t end = rest_.find('\n');
        if (end == std::string_view::npos) {
            line = rest_;
            done_ = true;
            return true;
        }
        line = rest_.substr(0, end);
        rest_.remove_prefix(end + 1);
        return true;
    }

  private:
    std::string_view rest_;
    bool done_ = false;
};

std::string_view WithoutLeadingBlanks(std::string_view line) {
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    return line;
}

int FactsToInfo(std::string_view text, FileInfo& info) {
    ListingEntry entry;
    if (!ParseFacts(text, entry)) return -1;
    info.entry = entry;
    info.dateIsUtc = true;
    return 0;
}

bool SaysFileIsMissing(std::string_view text) {
    std::string lower = Lowered(text);
    return lower.find("no such file") != std::string::npos ||
           lower.find("file not found") != std::string::npos;
}

enum class StatusListing { Parsed, Unreadable, Empty };

// The listing line of a status reply is its second line; UNIX servers may put
// a "total" line first. A VMS name too long for its line continues on the
// next. A reply whose only line after the first is its last one lists nothing.
StatusListing ParseStatusListing(const FtpSession& session, std::string_view text,
                                 ListingEntry& entry) {
    ReplyLines lines(text);
    std::string_view line;
    if (!lines.Next(line) || !lines.Next(line)) return StatusListing::Unreadable;
    int systemType = KnownSystemType(session);
    if (systemType == kSystemUnix && IsListingTotalLine(WithoutLeadingBlanks(line)) &&
        !lines.Next(line)) {
        return StatusListing::Empty;
    }
    ListingParserState state;
    state.systemType = systemType;
    GetLocalTime(&state.now);
    if (ParseListingLine(state, line, entry)) return StatusListing::Parsed;
    if (lines.AtEnd()) return StatusListing::Empty;
    while (state.HasPendingLine() && lines.Next(line))
        if (ParseListingLine(state, line, entry)) return StatusListing::Parsed;
    return StatusListing::Unreadable;
}

int StatusReplyToInfo(const FtpSession& session, FileInfo& info) {
    std::string_view text = session.replyText.view();
    bool looksLikeFacts =
        text.find('=') != std::string_view::npos && text.find(';') != std::string_view::npos;
    if (looksLikeFacts && FactsToInfo(text, info) == 0) return 0;
    if (text.find('\n') == std::string_view::npos) return Fail(fileErrorUnknownDirectoryFormat);
    info.dateIsUtc = false;
    switch (ParseStatusListing(session, text, info.entry)) {
        case StatusListing::Parsed:
            return 0;
        case StatusListing::Empty:
            return Fail(fileErrorFileNotFound);
        case StatusListing::Unreadable:
            break;
    }
    return Fail(SaysFileIsMissing(text) ? fileErrorFileNotFound : fileErrorUnknownDirectoryFormat);
}

// A refused status command whose text says the file is missing.
int StatusRefused(const FtpSession& session, const Exchange& reply) {
    if (reply.ok()) return Fail(fileErrorUnexpectedServerResponse);
    if (reply.code != 0 && SaysFileIsMissing(session.replyText.view()))
        return Fail(fileErrorFileNotFound);
    return -1;
}

int QueryByMlst(FtpSession& session, std::string_view name, FileInfo& info, bool& tryStatus) {
    Exchange reply = RunInternalCommand(session, "MLST", name);
    if (reply.positive()) {
        return FactsToInfo(session.replyText.view(), info) == 0
                   ? reply.code
                   : Fail(fileErrorUnexpectedServerResponse);
    }
    if (LearnFeature(session, reply, kFeatureMlst)) {
        tryStatus = true;
        return Fail(fileErrorFeatureNotSupported);
    }
    return StatusRefused(session, reply);
}

int QueryByStat(FtpSession& session, std::string_view name, FileInfo& info) {
    Exchange reply = RunInternalCommand(session, "STAT", name);
    if (reply.positive()) return StatusReplyToInfo(session, info) == 0 ? reply.code : -1;
    if (LearnFeature(session, reply, kFeatureStat)) return Fail(fileErrorFeatureNotSupported);
    return StatusRefused(session, reply);
}

// A relative link target lies in the directory of the link.
std::string TargetPath(std::string_view linkName, std::string_view target) {
    std::size_t slash = linkName.rfind('/');
    if (target.starts_with('/') || slash == std::string_view::npos) return std::string(target);
    return std::string(linkName.substr(0, slash + 1)) + std::string(target);
}

int QueryFileInfoAt(FtpSession& session, std::string_view name, FileInfo& info, int depth) {
    if (session.dataSocket.valid()) return Fail(fileErrorOperationInProgress);
    int code = -1;
    bool tryStatus = !HasFeature(session, kFeatureMlst);
    if (!tryStatus) code = QueryByMlst(session, name, info, tryStatus);
    if (tryStatus) {
        if (!HasFeature(session, kFeatureStat)) return Fail(fileErrorFeatureNotSupported);
        code = QueryByStat(session, name, info);
    }
    if (code < 0) return -1;
    const ListingEntry& entry = info.entry;
    if (entry.link && !entry.LinkTarget().empty() && depth < kMaxLinkDepth) {
        FileInfo target;
        std::string path = TargetPath(name, entry.LinkTarget());
        int targetCode = QueryFileInfoAt(session, path, target, depth + 1);
        if (targetCode < 0) return -1;
        info = target;
        return targetCode;
    }
    return code;
}

FtpDirectoryEntry RecordFor(std::string_view name, const FileInfo& info) {
    FtpDirectoryEntry record = info.entry.Record();
    CopyCapped(record.name, name);
    return record;
}

FtpFileStatus ToFileStatus(const FtpDirectoryEntry& entry) {
    FtpFileStatus status{};
    std::copy(std::begin(entry.name), std::end(entry.name), status.name);
    std::copy(std::begin(entry.owner), std::end(entry.owner), status.owner);
    std::copy(std::begin(entry.group), std::end(entry.group), status.group);
    status.directory = entry.directory;
    status.size = static_cast<uint32_t>(entry.size);
    status.linkCount = entry.linkCount;
    status.version = entry.version;
    status.permissions = entry.permissions;
    status.date = entry.date;
    return status;
}

}  // namespace

bool LearnFeature(FtpSession& session, const Exchange& reply, std::uint32_t bit) {
    if (reply.ok() || !IsNotImplementedReply(reply.code)) return false;
    session.features &= ~bit;
    return true;
}

int KnownSystemType(const FtpSession& session) {
    return session.systemType == kSystemNotAsked ? kSystemUnknown : session.systemType;
}

int QueryFileInfo(FtpSession& session, std::string_view name, FileInfo& info) {
    if (!IsValidStatusName(name)) return Fail(fileErrorInvalidFileName);
    return QueryFileInfoAt(session, name, info, 0);
}

}  // namespace ftp

using namespace ftp;

int ftp::ftpops::FileEntry(FtpSession& session, std::string_view name, FtpDirectoryEntry* entry) {
    FileInfo info;
    if (QueryFileInfo(session, name, info) < 0) return 0;
    *entry = RecordFor(name, info);
    return 1;
}

int ftp::ftpops::GetPermissions(FtpSession& session, std::string_view name, DWORD* permissions) {
    if (!HasFeature(session, kFeatureStat) && !HasFeature(session, kFeatureMlst))
        return Fail(fileErrorFeatureNotSupported);
    FileInfo info;
    if (QueryFileInfo(session, name, info) < 0) return -1;
    *permissions = info.entry.fields.permissions;
    return session.lastReplyCode;
}

extern "C" {

int FtpGetFileInfo(FtpClient client, const char* fileName, FtpDirectoryEntry* entry) {
    SessionRef session = LookupSession(client);
    if (!session) return 0;
    std::string_view name = fileName ? fileName : "";
    if (!IsValidStatusName(name)) return FailFlag(fileErrorInvalidFileName);
    if (!entry) return FailFlag(fileErrorInvalidParameter);
    return session->ops->fileInfo(*session, name, entry);
}

int FtpGetFileStatus(FtpClient client, const char* fileName, FtpFileStatus* status) {
    FtpDirectoryEntry entry{};
    if (!FtpGetFileInfo(client, fileName, status ? &entry : nullptr)) return 0;
    *status = ToFileStatus(entry);
    return 1;
}

int FtpGetFilePermissions(FtpClient client, const char* fileName, DWORD* permissions) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    if (!permissions) return Fail(fileErrorInvalidParameter);
    std::string_view name = fileName ? fileName : "";
    if (name.empty()) return Fail(fileErrorInvalidFileName);
    return session->ops->getPermissions(*session, name, permissions);
}

}  // extern "C"
