// The listing parser over a session: its directory format, system type and
// listing mode decide how a line is read.
#include "ftp/engine.h"
#include "ftp/fileops.h"
#include "ftp/fileops_internal.h"
#include "ftp/protocol_ops.h"
#include "resources/errors.h"

using namespace ftp;

namespace {

int FailFlag(int error) {
    Fail(error);
    return 0;
}

}  // namespace

extern "C" {

int FtpParseListingLine(FtpClient client, const char* line, FtpDirectoryEntry* entry) {
    SessionRef session = LookupSession(client);
    if (!session) return 0;
    if (!line || !entry) return FailFlag(fileErrorInvalidParameter);
    ListingParserState state;
    state.format = session->directoryFormat;
    state.systemType = KnownSystemType(*session);
    state.nameOnly = session->nameOnlyListing;
    state.secureShell = session->ops->sftpListings;
    GetLocalTime(&state.now);
    ListingEntry parsed;
    if (!ParseListingLine(state, line, parsed)) return FailFlag(fileErrorUnknownDirectoryFormat);
    if (session->directoryFormat == FTP_DIRECTORY_AUTO && !state.secureShell)
        session->directoryFormat = state.format;
    *entry = parsed.Record();
    return 1;
}

int FtpParseFacts(FtpClient client, const char* text, FtpDirectoryEntry* entry) {
    SessionRef session = LookupSession(client);
    if (!session) return 0;
    if (!text || !entry) return FailFlag(fileErrorInvalidParameter);
    FtpDirectoryEntry parsed{};
    if (!ParseFacts(text, parsed)) return FailFlag(fileErrorUnexpectedServerResponse);
    *entry = parsed;
    return 1;
}

}  // extern "C"
