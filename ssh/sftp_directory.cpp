// Reading directories into the session: masks, sorting, listing lines in the
// numeric layout the FTP listing parser reads, and name lists.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/messages.h"
#include "platform/system.h"
#include "resources/errors.h"
#include "ssh/sftp_session.h"
#include "ssh/wildcard.h"

namespace {

constexpr std::uint32_t kMaxNamesPerReply = 44739243;
constexpr std::size_t kSmallestNameEntry = 12;
constexpr std::size_t kListingLineRoom = 1024;

bool HasWildcard(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
        } else if (std::strchr("*?[]", text[i])) {
            return true;
        }
    }
    return false;
}

struct DirectoryTarget {
    std::string directory;  // empty: the current directory
    std::string mask;       // empty: every entry
};

// Splits the argument into directory and mask; false when the directory part
// holds a wildcard itself.
bool SplitArgument(std::string_view argument, DirectoryTarget& target) {
    if (argument.empty()) argument = ".";
    if (!HasWildcard(argument)) {
        target.directory = std::string(argument);
        return true;
    }
    const std::size_t slash = argument.rfind('/');
    target.mask =
        std::string(slash == std::string_view::npos ? argument : argument.substr(slash + 1));
    std::string_view directory =
        slash == std::string_view::npos ? std::string_view() : argument.substr(0, slash);
    if (slash == 0) directory = "/";
    if (HasWildcard(directory)) return false;
    target.directory = std::string(directory);
    return true;
}

// Leaves no window message waiting while the directory is read. Thread messages
// are posted back once the queue is drained, so they are neither lost nor seen twice.
void DrainMessages() {
    std::vector<MSG> threadMessages;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (message.hwnd) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        } else {
            threadMessages.push_back(message);
        }
    }
    for (const MSG& kept : threadMessages) {
        PostThreadMessageA(GetCurrentThreadId(), kept.message, kept.wParam, kept.lParam);
    }
}

enum class PageResult { More, End, Failed };

PageResult ReadPage(SftpSession& session, const std::string& handle, const std::string& mask,
                    SftpDirectoryList& kept) {
    const std::uint32_t id = session.NewRequestId();
    SftpWriter request(SSH_FXP_READDIR);
    request.Uint32(id).String(handle);
    SftpReply reply;
    if (!session.Exchange(request, id, reply)) return PageResult::Failed;
    if (reply.type == SSH_FXP_STATUS) {
        return session.CheckStatus(reply) || session.lastStatus == 1 ? PageResult::End
                                                                     : PageResult::Failed;
    }
    if (!session.Expect(reply, SSH_FXP_NAME)) return PageResult::Failed;
    std::uint32_t count = 0;
    if (!reply.fields.ReadUint32(&count) || count > reply.fields.Remaining() / kSmallestNameEntry ||
        count >= kMaxNamesPerReply) {
        session.Fail(fileErrorInvalidServerResponse);
        return PageResult::Failed;
    }
    if (count == 0) return PageResult::End;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string_view name;
        std::string_view longName;
        SftpAttributes attributes;
        if (!reply.fields.ReadString(&name) || !reply.fields.ReadString(&longName) ||
            !ReadSftpAttributes(reply.fields, attributes)) {
            session.Fail(fileErrorInvalidServerResponse);
            return PageResult::Failed;
        }
        if (mask.empty() || SshWildcardMatch(mask, name)) {
            kept.Add(name, longName, attributes);
        }
    }
    if (!reply.fields.Finish()) {
        session.Fail(fileErrorInvalidServerResponse);
        return PageResult::Failed;
    }
    session.SetStatus(0);
    return PageResult::More;
}

}  // namespace

void SftpDirectoryList::Add(std::string_view name, std::string_view longName,
                            const SftpAttributes& attributes) {
    entries_.push_back({texts_.Add(name), texts_.Add(longName), attributes});
}

void SftpDirectoryList::SortByName() {
    std::sort(entries_.begin(), entries_.end(), [this](const Entry& a, const Entry& b) {
        return texts_.View(a.name) < texts_.View(b.name);
    });
}

void SftpDirectoryList::Clear() {
    std::deque<Entry>().swap(entries_);
    texts_.Clear();
}

int SftpReadDirectory(SftpSession* handle, const char* pathOrMask) {
    SftpSession* session = CheckSession(handle);
    if (!session) return 0;
    if (session->stream) return session->Fail(fileErrorConnectionOpen);
    DirectoryTarget target;
    if (!SplitArgument(pathOrMask ? pathOrMask : "", target)) {
        return session->Fail(fileErrorDirectoryNotFound);
    }
    std::string directory = session->current;
    if (!target.directory.empty()) {
        auto canonical = session->Canonical(target.directory.c_str());
        if (!canonical) return 0;
        directory = *canonical;
    }
    SftpTransferRecord record;
    record.kind = kSftpKindListing;
    record.currentDirectory = session->current;
    record.remotePath = directory;
    record.startTicks = GetTickCount();
    session->Raise(kSftpEventListingStart, &record);
    auto opened = session->OpenDirectory(directory);
    if (!opened) return 0;
    SftpDirectoryList kept;
    PageResult result = PageResult::More;
    bool canceled = false;
    while (result == PageResult::More) {
        DrainMessages();
        if (session->cancel) {
            session->cancel = false;
            canceled = true;
            session->Fail(fileErrorOperationCanceled);
            session->Raise(kSftpEventCanceled, &record);
            break;
        }
        result = ReadPage(*session, *opened, target.mask, kept);
    }
    const DWORD failure = session->lastError;
    const std::int32_t status = session->lastStatus;
    session->CloseHandle(*opened);
    if (canceled || result == PageResult::Failed) {
        session->lastStatus = status;
        session->Fail(ErrorNumber(failure));
        return 0;
    }
    kept.SortByName();
    session->directory = std::move(kept);
    session->cursor = -1;
    record.endTicks = GetTickCount();
    session->Raise(kSftpEventListingEnd, &record);
    session->SetStatus(0);
    return SucceedOp(*session);
}

int SftpGetDirectoryPosition(SftpSession* handle, long* count, long* next) {
    SftpSession* session = CheckSession(handle);
    if (!session) return 0;
    if (count) *count = static_cast<long>(session->directory.size());
    if (next) *next = session->cursor + 1;
    return SucceedOp(*session);
}

int SftpGetNextListingLine(SftpSession* handle, char* line) {
    SftpSession* session = CheckSession(handle);
    if (!session) return 0;
    if (!line) return session->Fail(fileErrorInvalidParameter);
    if (session->directory.empty()) return session->Fail(fileErrorEndOfDirectory);
    if (session->cursor + 1 >= static_cast<long>(session->directory.size())) {
        return session->Fail(fileErrorInvalidParameter);
    }
    const auto index = static_cast<std::size_t>(session->cursor + 1);
    const SftpAttributes& a = session->directory.Attributes(index);
    const std::string_view name = session->directory.Name(index);
    SYSTEMTIME fields{};
    if (!UnixTimeToSystemTime(static_cast<LONGLONG>(a.mtime), &fields)) {
        return session->Fail(fileErrorInvalidDateFormat);
    }
    // Sizes of 4 GiB and more are printed whole; the listing parser reads 64 bits.
    std::snprintf(line, kListingLineRoom, "%lu %d %d %d %llu %02d-%02d-%04d %02d:%02d:%02d %.*s",
                  static_cast<unsigned long>(a.permissions), 1, static_cast<int>(a.uid),
                  static_cast<int>(a.gid), static_cast<unsigned long long>(a.size), fields.wMonth,
                  fields.wDay, fields.wYear, fields.wHour, fields.wMinute, fields.wSecond,
                  static_cast<int>(name.size()), name.empty() ? "" : name.data());
    ++session->cursor;
    return SucceedOp(*session);
}

int SftpGetNameList(SftpSession* handle, const char* path, DWORD flags, char* buffer, long size) {
    SftpSession* session = CheckSession(handle);
    if (!session) return 0;
    if (!buffer) return session->Fail(fileErrorInvalidParameter);
    if (size < 2) return session->Fail(fileErrorBufferTooSmall);
    buffer[0] = '\0';
    if (!SftpReadDirectory(session, path)) return 0;
    const auto room = static_cast<std::size_t>(size - 1);
    std::size_t used = 0;
    for (std::size_t i = 0; i < session->directory.size(); ++i) {
        std::string text((flags & 1) ? session->directory.Name(i) : session->directory.LongName(i));
        text += "\r\n";
        const std::size_t count = std::min(text.size(), room - used);
        std::memcpy(buffer + used, text.data(), count);
        used += count;
        if (count < text.size()) break;
    }
    buffer[used] = '\0';
    session->directory.Clear();
    session->cursor = -1;
    return SucceedOp(*session);
}

int SftpFreeDirectory(SftpSession* handle) {
    SftpSession* session = CheckSession(handle);
    if (!session) return 0;
    session->directory.Clear();
    session->cursor = -1;
    return SucceedOp(*session);
}
