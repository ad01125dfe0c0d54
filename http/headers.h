// A list of header lines (name and value), kept in the order they were added.
// Names compare case-insensitively. A removed entry keeps its place, empty,
// and the next addition takes it.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace http {

class HeaderList {
  public:
    // Replaces the value of the first entry with that name, else adds one.
    void Set(std::string_view name, std::string_view value);
    // Adds an entry even when the name is there already (response headers).
    void Append(std::string_view name, std::string_view value);
    void Remove(std::string_view name);
    // The first value of that name, or null.
    const std::string* Find(std::string_view name) const;
    bool Contains(std::string_view name) const { return Find(name) != nullptr; }
    void Clear();
    // Every entry that has a name, in list order.
    void ForEach(const std::function<void(const std::string&, const std::string&)>& visit) const;
    std::size_t count() const;

  private:
    struct Entry {
        std::string name;  // empty: a removed entry
        std::string value;
    };
    std::size_t IndexOf(std::string_view name) const;  // size() when absent
    Entry* FindEntry(std::string_view name);
    void Add(std::string_view name, std::string_view value);

    std::vector<Entry> entries_;
};

}  // namespace http
