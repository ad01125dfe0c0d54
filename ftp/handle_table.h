// The table of sessions behind the client handles. A handle is the table's
// base plus the session's slot; a new session takes the first empty slot and
// the table grows by 256 slots when none is empty. Not locked: the engine holds
// its library lock around every use.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "ftp/session.h"

namespace ftp {

class HandleTable {
  public:
    static constexpr std::size_t kGrowth = 256;

    explicit HandleTable(FtpClient base) : base_(base) {}

    FtpClient base() const { return base_; }
    std::size_t capacity() const { return slots_.size(); }
    std::size_t count() const;

    // Places the session in the first empty slot and gives it its handle and
    // index. False when memory runs out.
    bool Add(const SessionRef& session);
    // The session of a handle, or null for a handle outside the table or an
    // empty slot.
    SessionRef Find(FtpClient handle) const;
    // Empties the session's slot; true when it was there.
    bool Remove(const FtpSession& session);
    // Every session still in the table, in slot order.
    std::vector<SessionRef> Sessions() const;
    // Empties the table and gives back its memory.
    void Clear();

  private:
    FtpClient base_;
    std::vector<SessionRef> slots_;
};

}  // namespace ftp
