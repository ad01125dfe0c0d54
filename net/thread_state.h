// The calling thread's flags word (NET_FLAG_*) and whether the process has a
// slot for it yet (from the first start-up on; it is never freed).
#pragma once

namespace net {

bool ThreadSlotExists();
void CreateThreadSlot();
unsigned& ThreadFlags();

}  // namespace net
