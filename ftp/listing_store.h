// The entries of one listing as a session keeps them until the next listing:
// one small fixed record per entry, its texts in one arena. A listing of
// 100,000 lines so costs a few megabytes instead of a whole FtpDirectoryEntry
// (688 bytes, most of them empty name room) per entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "ftp/listing.h"
#include "platform/text_arena.h"

namespace ftp {

class ListingStore {
  public:
    // Keeps the record as it is handed out (see ListingEntry::Record).
    void Add(const FtpDirectoryEntry& record);
    // The record of entry index (< size()), exactly as it was added.
    FtpDirectoryEntry Record(std::size_t index) const;

    std::size_t size() const { return records_.size(); }
    bool empty() const { return records_.empty(); }
    // Forgets every entry and gives the memory back.
    void Clear();

  private:
    struct Stored {
        TextArena::Ref name, owner, group;
        std::uint64_t size = 0;
        std::uint32_t linkCount = 0;
        std::uint32_t version = 0;
        std::uint32_t permissions = 0;
        std::int32_t directory = 0;
        SYSTEMTIME date{};
    };
    // A deque grows without moving what it holds, so a long listing never
    // needs its old and new storage at once.
    std::deque<Stored> records_;
    TextArena texts_;
};

}  // namespace ftp
