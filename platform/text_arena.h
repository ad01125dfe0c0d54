// Many small texts in blocks of their own: the names of a listing and the like.
// A text is appended once and named afterwards by a handle of eight bytes
// (block, offset and length), so a record that keeps texts holds a handle per
// text instead of a buffer of its own. The blocks are filled one after the
// other and never moved, so a long list costs about the bytes of its texts,
// without the copy of everything that a growing contiguous buffer makes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

class TextArena {
  public:
    struct Ref {
        std::uint64_t block : 24 = 0;
        std::uint64_t offset : 16 = 0;
        std::uint64_t length : 24 = 0;
    };
    static constexpr std::size_t kBlockSize = 64 * 1024;
    // Longer texts are cut (a text longer than a block gets a block of its own);
    // past kMaxBlocks blocks a text is kept empty.
    static constexpr std::size_t kMaxText = (std::size_t{1} << 24) - 1;
    static constexpr std::size_t kMaxBlocks = std::size_t{1} << 24;

    Ref Add(std::string_view text) {
        text = text.substr(0, std::min(text.size(), kMaxText));
        Ref ref;
        if (text.empty()) return ref;
        if (blocks_.empty() || text.size() > room_) {
            if (blocks_.size() >= kMaxBlocks) return ref;
            const std::size_t size = std::max(kBlockSize, text.size());
            blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
            room_ = size;
            used_ = 0;
        }
        ref.block = blocks_.size() - 1;
        ref.offset = used_;
        ref.length = text.size();
        std::memcpy(blocks_.back().get() + used_, text.data(), text.size());
        used_ += text.size();
        room_ -= text.size();
        return ref;
    }
    std::string_view View(Ref ref) const {
        if (ref.length == 0) return {};
        return {blocks_[ref.block].get() + ref.offset, static_cast<std::size_t>(ref.length)};
    }
    // Forgets every text and gives the blocks back.
    void Clear() {
        std::vector<std::unique_ptr<char[]>>().swap(blocks_);
        room_ = 0;
        used_ = 0;
    }

  private:
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t used_ = 0;  // of the last block
    std::size_t room_ = 0;  // left in the last block
};

static_assert(sizeof(TextArena::Ref) == 8);
