// What the file operations share: feature learning, argument checks and the
// single-file status query.
#pragma once

#include <cstdint>
#include <string_view>

#include "ftp/command_channel.h"
#include "ftp/listing_parser.h"
#include "ftp/session.h"

namespace ftp {

// 500 to 504: the server does not implement the command (or this use of it).
inline bool IsNotImplementedReply(int code) {
    return code >= 500 && code <= 504;
}

inline bool HasFeature(const FtpSession& session, std::uint32_t bit) {
    return (session.features & bit) != 0;
}

// Clears the bit when the reply says the command is not implemented; true
// when it did.
bool LearnFeature(FtpSession& session, const Exchange& reply, std::uint32_t bit);

// The system type for parsing: 0 while SYST has not been asked.
int KnownSystemType(const FtpSession& session);

// The session's status of one file, from MLST or STAT. The entry carries what
// the server listed (the caller puts in the name asked for).
struct FileInfo {
    ListingEntry entry;
    // MLST facts (and facts in a STAT reply) date the file in UTC; listing
    // lines in the server's local time.
    bool dateIsUtc = false;
};

// The reply code of the status command, or -1 with the error set.
int QueryFileInfo(FtpSession& session, std::string_view name, FileInfo& info);

}  // namespace ftp
