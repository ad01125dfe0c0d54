// Listings over a session: opening LIST, NLST or MLSD on the data connection,
// the entry cursor, closing, and the listing as one text.
#include <algorithm>
#include <array>
#include <string_view>

#include "ftp/command_channel.h"
#include "ftp/data_connection.h"
#include "ftp/directory.h"
#include "ftp/directory_listing.h"
#include "ftp/engine.h"
#include "ftp/fileops_internal.h"
#include "ftp/ftp_ops.h"
#include "ftp/transfer.h"
#include "resources/errors.h"

using namespace ftp;

namespace {

constexpr std::size_t kFileListPiece = 8192;
constexpr int kMinFileListSize = 2;
constexpr std::array<std::string_view, 4> kTypeLetters{"", "A", "E", "I"};

int FailFlag(int error) {
    Fail(error);
    return 0;
}

bool IsTextSession(const FtpSession& session) {
    return session.fileType == FTP_FILE_TYPE_ASCII;
}

// Listings travel as text; the session's own type is restored when the listing ends.
int SelectTextType(FtpSession& session) {
    if (IsTextSession(session)) return 0;
    Exchange reply = RunCommand(session, "TYPE", "A");
    if (reply.code == 200) return 0;
    if (reply.code == 0 && !reply.ok()) return -1;
    return Fail(fileErrorInvalidServerResponse);
}

void RestoreType(FtpSession& session) {
    if (IsTextSession(session)) return;
    std::size_t type = static_cast<std::size_t>(session.fileType);
    if (type >= kTypeLetters.size() || kTypeLetters[type].empty()) return;
    FtpErrorGuard keepError;
    RunCommand(session, "TYPE", kTypeLetters[type]);
}

// Behind a proxy that logs in by itself the engine asks what the login skipped.
void QueryWhatProxyLoginSkipped(FtpSession& session) {
    if (session.proxyType != kProxyOther) return;
    FtpErrorGuard keepError;
    const bool wasInternal = session.HasOption(FTP_OPTION_INTERNAL);
    session.options |= FTP_OPTION_INTERNAL;
    if (session.systemType == kSystemNotAsked) QuerySystemType(session);
    if (session.currentDirectory.empty()) RefreshCurrentDirectory(session);
    if (!wasInternal) session.options &= ~static_cast<std::uint32_t>(FTP_OPTION_INTERNAL);
}

// The server agreed, but the data connection could not be used.
int FailAcceptedListing(FtpSession& session) {
    {
        FtpErrorGuard keepError;
        CloseDataConnection(session);
        Resync(session);
        RestoreType(session);
    }
    SetStatus(session, EngineStatus::Idle);
    return -1;
}

int FailRefusedListing(FtpSession& session, const Exchange& reply) {
    {
        FtpErrorGuard keepError;
        CloseDataConnection(session);
        RestoreType(session);
    }
    // A positive reply that opens no data transfer is a failure as well.
    if (reply.ok()) return Fail(fileErrorConnectionOpen);
    return -1;
}

int OpenListing(const SessionRef& ref, std::string_view command, std::string_view path,
                bool facts = false) {
    return ref->ops->openListing(ref, command, path, facts);
}

// Opens the data connection and sends the listing command. 0 with the reply,
// or -1 when the data connection could not be opened.
int SendListingCommand(FtpSession& session, std::string_view command, std::string_view path,
                       Exchange& reply) {
    if (OpenDataConnection(session, kDirectionReceive, 0) != 0) {
        RestoreType(session);
        return -1;
    }
    reply = RunCommand(session, command, path);
    return 0;
}

// MLSD refused as not implemented (500 to 504) although FEAT offered MLST: the
// session forgets MLST, as it forgets every command refused so, and a layout
// of MLSD with it (that layout needs MLST), so later listings go to LIST.
bool ForgetsFacts(FtpSession& session, const Exchange& reply) {
    if (!LearnFeature(session, reply, kFeatureMlst)) return false;
    if (session.directoryFormat == FTP_DIRECTORY_MLSD) {
        session.directoryFormat = FTP_DIRECTORY_AUTO;
        session.directoryFormatChosen = false;
    }
    return true;
}

}  // namespace

int ftp::ftpops::OpenListing(const SessionRef& ref, std::string_view command, std::string_view path,
                             bool facts) {
    FtpSession& session = *ref;
    if (session.dataSocket.valid()) return Fail(fileErrorConnectionOpen);
    if (session.ioInProgress) return Fail(fileErrorOperationInProgress);
    QueryWhatProxyLoginSkipped(session);
    if (SelectTextType(session) != 0) return -1;
    Exchange reply;
    if (SendListingCommand(session, command, path, reply) != 0) return -1;
    if (facts && ForgetsFacts(session, reply)) {
        // This listing goes to LIST at once, over a data connection of its own.
        {
            FtpErrorGuard keepError;
            CloseDataConnection(session);
        }
        FtpSetLastError(0);
        facts = false;
        if (SendListingCommand(session, "LIST", path, reply) != 0) return -1;
    }
    if (!reply.ok() || (reply.code != 125 && reply.code != 150)) {
        return FailRefusedListing(session, reply);
    }
    if (!session.passive && AcceptDataConnection(session) != 0) return FailAcceptedListing(session);
    if (session.dataChannelSecure && StartDataTls(session) != 0) {
        return FailAcceptedListing(session);
    }
    DirectoryListing& listing = ListingOf(ref);
    listing.Restart(session);
    listing.facts = facts;
    session.listingOpen = true;
    SetStatus(session, EngineStatus::Listing);
    return reply.code;
}

namespace {

// Reads lines until one more entry is in the list. An open listing without a
// data connection fails with the given error.
bool HasWildcard(std::string_view path) {
    return path.find_first_of("*?") != std::string_view::npos;
}

// MLSD when the caller chose it as the layout, or asked for facts and the
// server offered MLST without a layout chosen. MLSD takes a directory only
// (RFC 3659), so a mask goes to LIST.
bool ListsByFacts(const FtpSession& session, std::string_view path) {
    if (!session.ops->commandChannel) return false;
    if (session.directoryFormat == FTP_DIRECTORY_MLSD) return true;
    return session.preferFacts && !session.directoryFormatChosen &&
           (session.features & kFeatureMlst) != 0 && !HasWildcard(path);
}

int ReadUntilNewEntry(FtpSession& session, DirectoryListing& listing, int noDataError) {
    while (true) {
        if (!session.dataSocket.valid() && session.ops->commandChannel)
            return FailFlag(noDataError);
        LineOutcome outcome = ReadListingLine(session, listing);
        if (outcome == LineOutcome::EntryAdded) return 1;
        if (outcome == LineOutcome::Failed) return 0;
    }
}

int NextEntry(FtpSession& session, DirectoryListing& listing, FtpDirectoryEntry* entry) {
    if (!entry) return FailFlag(fileErrorInvalidBuffer);
    if (listing.cursor >= listing.entries.size()) {
        listing.cursor = listing.entries.size();
        if (!ReadUntilNewEntry(session, listing, fileErrorEndOfDirectory)) return 0;
    }
    *entry = listing.entries.Record(listing.cursor);
    ++listing.cursor;
    return 1;
}

// Copies one piece of listing text, its LF line ends made CR LF, into what is
// left of the output; what does not fit is dropped.
void AppendListingText(std::string_view piece, char* buffer, std::size_t capacity,
                       std::size_t& length) {
    for (char c : piece) {
        if (c == '\n' && length < capacity) buffer[length++] = '\r';
        if (length < capacity) buffer[length++] = c;
    }
}

int ReadFileList(FtpSession& session, char* buffer, std::size_t capacity) {
    std::array<char, kFileListPiece> piece{};
    std::size_t length = 0;
    while (true) {
        const int got = ReadData(session, piece.data(), static_cast<int>(piece.size()));
        if (got < 0) {
            AbandonTransfer(session);
            return -1;
        }
        if (got == 0) break;
        AppendListingText({piece.data(), static_cast<std::size_t>(got)}, buffer, capacity, length);
    }
    buffer[length] = '\0';
    if (EndTransfer(session) < 0) return -1;
    return static_cast<int>(length);
}

}  // namespace

int ftp::ftpops::CloseListing(const SessionRef& session) {
    if (!session->dataSocket.valid()) return 0;
    if (!session->listingOpen) return Fail(fileErrorDirectoryEmpty);
    ListingOf(session).line.clear();
    return ftp::EndTransfer(*session);
}

int ftp::ftpops::FileList(const SessionRef& session, const char* path, bool nameOnly, char* buffer,
                          int size) {
    if (FtpOpenFileList(session->handle, path, nameOnly) < 0) return -1;
    const int length = ReadFileList(*session, buffer, static_cast<std::size_t>(size) - 1);
    if (length < 0) buffer[0] = '\0';
    return length;
}

extern "C" {

int FtpOpenDirectory(FtpClient client, const char* path) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    if (session->dataSocket.valid()) return Fail(fileErrorConnectionOpen);
    session->nameOnlyListing = false;
    const std::string_view argument = path ? path : "";
    const bool facts = ListsByFacts(*session, argument);
    return OpenListing(session, facts ? "MLSD" : "LIST", argument, facts);
}

int FtpSetListingFacts(FtpClient client, BOOL enable) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    const bool previous = session->preferFacts;
    session->preferFacts = enable != FALSE;
    return previous ? 1 : 0;
}

int FtpListingHasFacts(FtpClient client) {
    SessionRef session = LookupSession(client);
    if (!session) return 0;
    return ListingOf(session).facts ? 1 : 0;
}

int FtpOpenFileList(FtpClient client, const char* path, BOOL nameOnly) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    if (session->dataSocket.valid()) return Fail(fileErrorConnectionOpen);
    session->nameOnlyListing = nameOnly != FALSE;
    return OpenListing(session, nameOnly ? "NLST" : "LIST", path ? path : "");
}

int FtpGetFirstEntry(FtpClient client, FtpDirectoryEntry* entry) {
    SessionRef session = LookupSession(client);
    if (!session) return 0;
    DirectoryListing& listing = ListingOf(session);
    if (listing.entries.empty() && !ReadUntilNewEntry(*session, listing, fileErrorDirectoryEmpty)) {
        // Nothing at all, rather than nothing more.
        if (LastErrorNumber() == fileErrorEndOfDirectory) Fail(fileErrorDirectoryEmpty);
        return 0;
    }
    listing.cursor = 0;
    return NextEntry(*session, listing, entry);
}

int FtpGetNextEntry(FtpClient client, FtpDirectoryEntry* entry) {
    SessionRef session = LookupSession(client);
    if (!session) return 0;
    return NextEntry(*session, ListingOf(session), entry);
}

int FtpCloseDirectory(FtpClient client) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    return session->ops->closeListing(session);
}

int FtpGetFileList(FtpClient client, const char* path, BOOL nameOnly, char* buffer, int size) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    if (!buffer) return Fail(fileErrorInvalidParameter);
    if (size < kMinFileListSize) return Fail(fileErrorBufferTooSmall);
    buffer[0] = '\0';
    return session->ops->fileList(session, path, nameOnly != FALSE, buffer, size);
}

}  // extern "C"
