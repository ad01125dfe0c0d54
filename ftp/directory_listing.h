// What a session keeps of its current listing: the entries parsed so far (held
// compactly, ftp/listing_store.h), the cursor over them, the line being
// assembled from the data connection and the parser's state. One per session,
// made on first use and dropped with it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "ftp/listing_parser.h"
#include "ftp/listing_store.h"
#include "ftp/session.h"

namespace ftp {

struct DirectoryListing {
    ListingStore entries;
    // The next entry FtpGetNextEntry hands out; entries.size() when it has to
    // read more lines first.
    std::size_t cursor = 0;
    // The line read so far (at most kListingLineMax bytes).
    std::string line;
    // The rest of a line longer than the line buffer is dropped.
    bool droppingLongLine = false;
    ListingParserState parser;
    // MLSD: every line is facts, whatever the session's directory format.
    bool facts = false;

    // Forgets the previous listing's entries and lines.
    void Restart(const FtpSession& session);
};

// The listing record of a session (created when the session has none yet).
DirectoryListing& ListingOf(const SessionRef& session);

enum class LineOutcome { EntryAdded, NoEntry, Failed };

// Reads one listing line from the data connection and parses it. NoEntry: the
// line gave no entry (or is not complete yet); Failed: the error is set
// (fileErrorEndOfDirectory at the end of the data).
LineOutcome ReadListingLine(FtpSession& session, DirectoryListing& listing);
// Parses one complete line (without its line end) into the listing.
LineOutcome AddListingLine(FtpSession& session, DirectoryListing& listing, std::string_view line);

}  // namespace ftp
