#include "platform/window_subclass.h"

#include <algorithm>

WindowSubclasses::Entry* WindowSubclasses::Find(HWND window) const {
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [window](const Entry& entry) { return entry.window == window; });
    return it == entries_.end() ? nullptr : const_cast<Entry*>(&*it);
}

bool WindowSubclasses::Add(HWND window) {
    if (!IsWindow(window)) return false;
    std::lock_guard<std::mutex> guard(lock_);
    if (Entry* existing = Find(window)) {
        ++existing->users;
        return true;
    }
    auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
    entries_.push_back({window, previous, 1});
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure_));
    return true;
}

void WindowSubclasses::Release(HWND window) {
    std::lock_guard<std::mutex> guard(lock_);
    Entry* entry = Find(window);
    if (!entry || --entry->users > 0) return;
    if (IsWindow(window)) {
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(entry->previous));
    }
    entries_.erase(entries_.begin() + (entry - entries_.data()));
}

WNDPROC WindowSubclasses::Previous(HWND window) const {
    std::lock_guard<std::mutex> guard(lock_);
    const Entry* entry = Find(window);
    return entry ? entry->previous : nullptr;
}

void WindowSubclasses::RestoreAll() {
    std::lock_guard<std::mutex> guard(lock_);
    for (const Entry& entry : entries_) {
        if (IsWindow(entry.window)) {
            SetWindowLongPtrA(entry.window, GWLP_WNDPROC,
                              reinterpret_cast<LONG_PTR>(entry.previous));
        }
    }
    entries_.clear();
    entries_.shrink_to_fit();
}

std::size_t WindowSubclasses::size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return entries_.size();
}
