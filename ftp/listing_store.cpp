#include "ftp/listing_store.h"

#include <cstring>
#include <string_view>

namespace ftp {
namespace {

std::string_view TextOf(const char* buffer, std::size_t size) {
    return {buffer, strnlen(buffer, size - 1)};
}

template <std::size_t Size>
void CopyText(char (&buffer)[Size], std::string_view text) {
    const std::size_t length = text.size() < Size ? text.size() : Size - 1;
    if (length != 0) std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

}  // namespace

void ListingStore::Add(const FtpDirectoryEntry& record) {
    Stored stored;
    stored.name = texts_.Add(TextOf(record.name, sizeof record.name));
    // Owners and groups mostly repeat from one line to the next: the text is kept once.
    const std::string_view owner = TextOf(record.owner, sizeof record.owner);
    const std::string_view group = TextOf(record.group, sizeof record.group);
    const Stored* previous = records_.empty() ? nullptr : &records_.back();
    stored.owner =
        previous && texts_.View(previous->owner) == owner ? previous->owner : texts_.Add(owner);
    stored.group =
        previous && texts_.View(previous->group) == group ? previous->group : texts_.Add(group);
    stored.size = record.size;
    stored.linkCount = record.linkCount;
    stored.version = record.version;
    stored.permissions = record.permissions;
    stored.directory = record.directory;
    stored.date = record.date;
    records_.push_back(stored);
}

FtpDirectoryEntry ListingStore::Record(std::size_t index) const {
    const Stored& stored = records_[index];
    FtpDirectoryEntry record{};
    CopyText(record.name, texts_.View(stored.name));
    CopyText(record.owner, texts_.View(stored.owner));
    CopyText(record.group, texts_.View(stored.group));
    record.directory = stored.directory;
    record.size = stored.size;
    record.linkCount = stored.linkCount;
    record.version = stored.version;
    record.permissions = stored.permissions;
    record.date = stored.date;
    return record;
}

void ListingStore::Clear() {
    std::deque<Stored>().swap(records_);
    texts_.Clear();
}

}  // namespace ftp
