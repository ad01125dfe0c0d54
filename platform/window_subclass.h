// The windows an engine subclasses to receive its sockets' notifications: one
// entry per window with the procedure it had before and the number of the
// engine's handles that use it. The previous procedure goes back when the last
// user leaves (or at once, for all, when the engine stops).
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "platform/messages.h"

class WindowSubclasses {
  public:
    explicit WindowSubclasses(WNDPROC procedure) : procedure_(procedure) {}

    // One more user of window: the first one subclasses it. False when the
    // window does not exist.
    bool Add(HWND window);
    // One user fewer; the last one restores the previous procedure.
    void Release(HWND window);
    // The procedure window had before; null when it is not subclassed.
    WNDPROC Previous(HWND window) const;
    // Restores every window and forgets them all.
    void RestoreAll();
    std::size_t size() const;

  private:
    struct Entry {
        HWND window;
        WNDPROC previous;
        int users;
    };
    Entry* Find(HWND window) const;  // with lock_ held

    WNDPROC procedure_;
    mutable std::mutex lock_;
    std::vector<Entry> entries_;
};
