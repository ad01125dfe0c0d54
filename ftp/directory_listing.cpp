#include "ftp/directory_listing.h"

#include <array>
#include <memory>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "ftp/engine.h"
#include "ftp/fileops_internal.h"
#include "ftp/ftp_ops.h"
#include "ftp/listing_facts.h"
#include "ftp/transfer.h"
#include "resources/errors.h"

namespace ftp {
namespace {

// The session record has no room for a listing, so listings live beside the
// sessions, each tied to its session by a weak reference: the listing of a
// session that is gone is dropped at the next look-up.
struct ListingSlot {
    std::weak_ptr<FtpSession> session;
    std::unique_ptr<DirectoryListing> listing;
};

std::mutex& SlotsLock() {
    static std::mutex lock;
    return lock;
}

std::vector<ListingSlot>& Slots() {
    static std::vector<ListingSlot> slots;
    return slots;
}

std::string_view WithoutLineEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

// UNIX servers (and servers that did not say) put "total N" before the entries.
bool IsLeadingTotalLine(const FtpSession& session, const DirectoryListing& listing,
                        std::string_view line) {
    const int systemType = KnownSystemType(session);
    return listing.entries.empty() && (systemType == kSystemUnknown || systemType == kSystemUnix) &&
           IsListingTotalLine(line);
}

LineOutcome ParseLine(FtpSession& session, DirectoryListing& listing, std::string_view line) {
    if (IsLeadingTotalLine(session, listing, line)) return LineOutcome::NoEntry;
    listing.parser.format = listing.facts ? FTP_DIRECTORY_MLSD : session.directoryFormat;
    if (listing.parser.format == FTP_DIRECTORY_MLSD && IsFactsOfListedOrParentDirectory(line)) {
        return LineOutcome::NoEntry;
    }
    ListingEntry entry;
    const bool parsed = ParseListingLine(listing.parser, line, entry);
    if (!listing.facts && session.directoryFormat == FTP_DIRECTORY_AUTO) {
        session.directoryFormat = listing.parser.format;
    }
    // A line that does not parse is dropped; the listing goes on.
    if (!parsed) return LineOutcome::NoEntry;
    listing.entries.Add(entry.Record());
    return LineOutcome::EntryAdded;
}

LineOutcome Failed(int error) {
    Fail(error);
    return LineOutcome::Failed;
}

}  // namespace

void DirectoryListing::Restart(const FtpSession& session) {
    entries.Clear();
    cursor = 0;
    line.clear();
    droppingLongLine = false;
    facts = false;
    parser = ListingParserState{};
    parser.format = session.directoryFormat;
    parser.systemType = KnownSystemType(session);
    parser.nameOnly = session.nameOnlyListing;
    parser.secureShell = session.ops->sftpListings;
    GetLocalTime(&parser.now);
}

DirectoryListing& ListingOf(const SessionRef& session) {
    std::lock_guard<std::mutex> guard(SlotsLock());
    std::vector<ListingSlot>& slots = Slots();
    std::erase_if(slots, [](const ListingSlot& slot) { return slot.session.expired(); });
    for (ListingSlot& slot : slots)
        if (slot.session.lock() == session) return *slot.listing;
    slots.push_back({session, std::make_unique<DirectoryListing>()});
    return *slots.back().listing;
}

LineOutcome ReadListingLine(FtpSession& session, DirectoryListing& listing) {
    if (session.cancelRequested) {
        AbandonTransfer(session);  // ends with fileErrorOperationCanceled
        return LineOutcome::Failed;
    }
    return session.ops->readListingLine(session, listing);
}

LineOutcome AddListingLine(FtpSession& session, DirectoryListing& listing, std::string_view line) {
    return ParseLine(session, listing, line);
}

LineOutcome ftpops::ReadListingLine(FtpSession& session, DirectoryListing& listing) {
    std::array<char, kListingLineMax> buffer{};
    const std::size_t room = kListingLineMax - listing.line.size();
    const int got = ReadData(session, buffer.data(), static_cast<int>(room));
    if (got < 0) return LineOutcome::Failed;
    if (got == 0) {
        // The end of the data; a last line may lack its line end.
        std::string last = std::exchange(listing.line, {});
        const bool dropping = std::exchange(listing.droppingLongLine, false);
        if (last.empty() || dropping) return Failed(fileErrorEndOfDirectory);
        return ParseLine(session, listing, WithoutLineEnd(last));
    }
    const std::string_view piece(buffer.data(), static_cast<std::size_t>(got));
    if (listing.droppingLongLine) {
        if (piece.back() == '\n') listing.droppingLongLine = false;
        return LineOutcome::NoEntry;
    }
    listing.line.append(piece);
    const bool ended = listing.line.back() == '\n';
    if (!ended && listing.line.size() < kListingLineMax) return LineOutcome::NoEntry;
    // A line that fills the buffer is parsed as far as it goes; its rest is dropped.
    if (!ended) listing.droppingLongLine = true;
    const std::string line = std::exchange(listing.line, {});
    return ParseLine(session, listing, WithoutLineEnd(line));
}

}  // namespace ftp
