#include "http/headers.h"

#include <algorithm>

#include "http/wire.h"
#include "platform/wipe.h"
#include "url/urlparts.h"

namespace http {

std::size_t HeaderList::IndexOf(std::string_view name) const {
    auto it = std::find_if(entries_.begin(), entries_.end(), [name](const Entry& e) {
        return !e.name.empty() && EqualsIgnoringCase(e.name, name);
    });
    return static_cast<std::size_t>(it - entries_.begin());
}

HeaderList::Entry* HeaderList::FindEntry(std::string_view name) {
    const std::size_t index = IndexOf(name);
    return index < entries_.size() ? &entries_[index] : nullptr;
}

void HeaderList::Add(std::string_view name, std::string_view value) {
    auto unused = std::find_if(entries_.begin(), entries_.end(),
                               [](const Entry& e) { return e.name.empty(); });
    if (unused != entries_.end()) {
        unused->name.assign(name);
        unused->value.assign(value);
        return;
    }
    entries_.push_back({std::string(name), std::string(value)});
}

void HeaderList::Set(std::string_view name, std::string_view value) {
    if (Entry* entry = FindEntry(name)) {
        WipeString(entry->value);
        entry->value.assign(value);
        return;
    }
    Add(name, value);
}

void HeaderList::Append(std::string_view name, std::string_view value) {
    Add(name, value);
}

void HeaderList::Remove(std::string_view name) {
    while (Entry* entry = FindEntry(name)) {
        entry->name.clear();
        WipeString(entry->value);
        entry->value.clear();
    }
}

const std::string* HeaderList::Find(std::string_view name) const {
    const std::size_t index = IndexOf(name);
    return index < entries_.size() ? &entries_[index].value : nullptr;
}

void HeaderList::Clear() {
    for (Entry& entry : entries_)
        WipeString(entry.value);
    entries_.clear();
}

void HeaderList::ForEach(
    const std::function<void(const std::string&, const std::string&)>& visit) const {
    for (const Entry& entry : entries_) {
        if (!entry.name.empty()) visit(entry.name, entry.value);
    }
}

std::size_t HeaderList::count() const {
    return static_cast<std::size_t>(std::count_if(entries_.begin(), entries_.end(),
                                                  [](const Entry& e) { return !e.name.empty(); }));
}

}  // namespace http
