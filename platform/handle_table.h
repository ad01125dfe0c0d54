// The table of records behind an engine's integer handles (FTP sessions, HTTP
// clients). A handle is the table's base plus the record's slot; a new record
// takes the first empty slot and the table grows by 256 slots when none is
// empty. The record keeps its slot and handle in its `index` and `handle`
// fields. Not locked: the engine holds its lock around every use.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <vector>

template <typename Record, typename Handle>
class HandleTable {
  public:
    using Ref = std::shared_ptr<Record>;
    static constexpr std::size_t kGrowth = 256;

    explicit HandleTable(Handle base) : base_(base) {}

    Handle base() const { return base_; }
    std::size_t capacity() const { return slots_.size(); }
    std::size_t count() const {
        return static_cast<std::size_t>(
            std::count_if(slots_.begin(), slots_.end(), [](const Ref& r) { return r != nullptr; }));
    }

    // A new record in the first empty slot, or null when memory runs out.
    Ref Create() {
        Ref record;
        try {
            record = std::make_shared<Record>();
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        return Add(record) ? record : nullptr;
    }
    // Places the record in the first empty slot and gives it its handle and
    // index. False when memory runs out.
    bool Add(const Ref& record) {
        const auto empty = std::find(slots_.begin(), slots_.end(), nullptr);
        const auto index = static_cast<std::size_t>(empty - slots_.begin());
        if (empty == slots_.end()) {
            try {
                slots_.resize(slots_.size() + kGrowth);
            } catch (const std::bad_alloc&) {
                return false;
            }
        }
        slots_[index] = record;
        record->index = index;
        record->handle = base_ + static_cast<Handle>(index);
        return true;
    }
    // The record of a handle, or null for a handle outside the table or an
    // empty slot.
    Ref Find(Handle handle) const {
        if (handle < base_) return nullptr;
        const auto index = static_cast<std::size_t>(handle - base_);
        return index < slots_.size() ? slots_[index] : nullptr;
    }
    // Empties the record's slot; true when it was there.
    bool Remove(const Record& record) {
        if (record.index >= slots_.size() || slots_[record.index].get() != &record) return false;
        slots_[record.index].reset();
        return true;
    }
    // Every record still in the table, in slot order.
    std::vector<Ref> Records() const {
        std::vector<Ref> result;
        for (const Ref& slot : slots_) {
            if (slot) result.push_back(slot);
        }
        return result;
    }
    // Empties the table and gives back its memory.
    void Clear() {
        slots_.clear();
        slots_.shrink_to_fit();
    }

  private:
    Handle base_;
    std::vector<Ref> slots_;
};
