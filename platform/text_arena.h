// Many small texts in one block: the names of a listing and the like. A text is
// appended once and named afterwards by a handle of eight bytes (its offset and
// length), so a record that keeps texts holds a handle per text instead of a
// buffer of its own, and a listing costs about the bytes of its texts.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class TextArena {
  public:
    // Where one text lies in the block.
    struct Ref {
        std::uint64_t offset : 40 = 0;
        std::uint64_t length : 24 = 0;
    };
    // Longer texts are cut; a block never grows past kMaxBytes (a text that
    // would pass it is kept empty).
    static constexpr std::size_t kMaxText = (std::size_t{1} << 24) - 1;
    static constexpr std::uint64_t kMaxBytes = std::uint64_t{1} << 40;

    Ref Add(std::string_view text) {
        text = text.substr(0, std::min(text.size(), kMaxText));
        Ref ref;
        if (bytes_.size() + text.size() > kMaxBytes) return ref;
        ref.offset = bytes_.size();
        ref.length = text.size();
        bytes_.append(text);
        return ref;
    }
    std::string_view View(Ref ref) const {
        return std::string_view(bytes_).substr(ref.offset, ref.length);
    }
    std::size_t size() const { return bytes_.size(); }
    // Forgets every text and gives the block back.
    void Clear() { std::string().swap(bytes_); }

  private:
    std::string bytes_;
};

static_assert(sizeof(TextArena::Ref) == 8);
