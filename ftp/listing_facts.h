// What the MLSD/MLST facts parser knows beyond the entry record: a symbolic
// link's target, and the entries of a listing that stand for the listed
// directory itself or its parent.
#pragma once

#include <string_view>

#include "ftp/listing_parser.h"

namespace ftp {

// Like ParseFacts, and a "type=OS.unix=slink:target" entry also sets the link
// flag and target of the session's entry.
bool ParseFacts(std::string_view text, ListingEntry& entry);

// An MLSD line whose type is "cdir" or "pdir": the directory listed, or its
// parent, which a listing leaves out.
bool IsFactsOfListedOrParentDirectory(std::string_view line);

}  // namespace ftp
