#include "ftp/handle_table.h"

#include <algorithm>
#include <new>

namespace ftp {

std::size_t HandleTable::count() const {
    return static_cast<std::size_t>(std::count_if(
        slots_.begin(), slots_.end(), [](const SessionRef& s) { return s != nullptr; }));
}

bool HandleTable::Add(const SessionRef& session) {
    auto empty = std::find(slots_.begin(), slots_.end(), nullptr);
    std::size_t index = static_cast<std::size_t>(empty - slots_.begin());
    if (empty == slots_.end()) {
        try {
            slots_.resize(slots_.size() + kGrowth);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    slots_[index] = session;
    session->index = index;
    session->handle = base_ + static_cast<FtpClient>(index);
    return true;
}

SessionRef HandleTable::Find(FtpClient handle) const {
    if (handle < base_) return nullptr;
    auto index = static_cast<std::size_t>(handle - base_);
    if (index >= slots_.size()) return nullptr;
    return slots_[index];
}

bool HandleTable::Remove(const FtpSession& session) {
    if (session.index >= slots_.size() || slots_[session.index].get() != &session) return false;
    slots_[session.index].reset();
    return true;
}

std::vector<SessionRef> HandleTable::Sessions() const {
    std::vector<SessionRef> result;
    for (const auto& slot : slots_) {
        if (slot) result.push_back(slot);
    }
    return result;
}

void HandleTable::Clear() {
    slots_.clear();
    slots_.shrink_to_fit();
}

}  // namespace ftp
